// The printer-language filter compiled for the in-process filter harness.
#include "../fuzz_capture.h"
#define main ZTFuzzMain_ztrastertohbpl
#include "../../hbpl/ztrastertohbpl.cpp"
#undef main

