// The frame of the three CMYK image filters, compiled with the harness's
// message capture (it prints the filters' shared messages).
#include "../fuzz_capture.h"
#include "../../trapping/ztimagefilter.cpp"
