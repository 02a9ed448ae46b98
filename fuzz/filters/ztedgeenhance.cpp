// The edge enhancement filter compiled for the in-process filter harness.
#include "../fuzz_capture.h"
#define main ZTFuzzMain_ztedgeenhance
#include "../../edgeenhance/ztedgeenhance.cpp"
#undef main

