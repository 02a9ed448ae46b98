// The tone-curve filter compiled for the in-process filter harness.
#include "../fuzz_capture.h"
#define main ZTFuzzMain_zttrc
#include "../../pageutils/trcfilter.cpp"
#undef main

