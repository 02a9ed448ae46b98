// Included by the harness units that compile a filter's own source: the
// filter's messages go to the harness's capture stream instead of the
// process's standard error, so that the harness can check them.
#pragma once

#include <cstdio>

extern FILE* zt_fuzz_stderr;
#undef stderr
#define stderr zt_fuzz_stderr
