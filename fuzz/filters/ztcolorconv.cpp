// The colour conversion filter compiled for the in-process filter harness.
#include "../fuzz_capture.h"
#define main ZTFuzzMain_ztcolorconv
#include "../../colour/ztcolorconv.cpp"
#undef main

