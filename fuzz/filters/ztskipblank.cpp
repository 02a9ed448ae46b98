// The blank-page filter compiled for the in-process filter harness.
#include "../fuzz_capture.h"
#define main ZTFuzzMain_ztskipblank
#include "../../pageutils/ztskipblank.cpp"
#undef main

