// The compression filter compiled for the in-process filter harness.
#include "../fuzz_capture.h"
#define main ZTFuzzMain_ztmivo5
#include "../../mivo/ztmivo5.cpp"
#undef main

