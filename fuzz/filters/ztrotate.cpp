// The rotation filter compiled for the in-process filter harness; its
// process-wide state is reset before every run.
#include "../fuzz_capture.h"
#define main ZTFuzzMain_ztrotate
#include "../../pageutils/ztrotate.cpp"
#undef main
void ZTFuzzReset_ztrotate() {
  ztrasterheader = ZTRasterHeader{};
  infp = tempfp = nullptr;
  bufSize = 0;
  remainDataSize = 0;
  error = 0;
}
