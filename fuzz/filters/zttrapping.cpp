// The trapping filter compiled for the in-process filter harness.
#include "../fuzz_capture.h"
#define main ZTFuzzMain_zttrapping
#include "../../trapping/zttrapping.cpp"
#undef main

