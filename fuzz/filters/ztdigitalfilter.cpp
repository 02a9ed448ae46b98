// The digital filter compiled for the in-process filter harness.
#include "../fuzz_capture.h"
#define main ZTFuzzMain_ztdigitalfilter
#include "../../digitalfilter/ztdigitalfilter.cpp"
#undef main

