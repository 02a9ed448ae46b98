// Trace hook of the chain runner. Silent unless the build switches it on
// (ZT_DEBUG_TRACE); then every call writes its line to standard error.
#pragma once

// level: verbosity 1 (main events) to 3 (per-process detail); the format
// carries its own trailing newline.
void ztdebugstr(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
