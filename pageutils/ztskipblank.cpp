// ztskipblank: drops the pages on which nothing would be printed (every data
// byte 0xFF) when the job's "Skip" option is on; copies the stream otherwise.
// Headers are never changed.

#include <cerrno>
#include <cstdio>

#include "hbploption.h"
#include "ztblankpages.h"
#include "ztio.h"
#include "zterror.h"
#include "ztraster.h"

int main(int argc, char* argv[]) {
  ZTFilterArgs args;
  if (ZTStartFilter(argc, argv, 6, 7, "ERROR: (filtername) job-id user title copies options [file]\n", &args) != 0)
    return 1;
  // Chunks are written straight from the copy buffer, not through a second one.
  ZTSetUnbuffered_FP(stdout);
  ZTFd input(ZTOpenInput(args.inputFile));
  if (input.get() < 0) {
    fputs("ERROR: unable to open raster file.\n", stderr);
    return 1;
  }
  ZTPPDSetting setting;
  if (setting.Create(args.options) != 0) return 1;
  const bool skipping = GetSkipBlankPagesSetting(setting.ppd) == 1;

  ZTBlankPageBuffer buffer;
  ZTRasterHeader header;
  int page = 0;
  while (ReadZTRasterHeader(input.get(), &header) == 1) {
    ++page;
    const int check = CheckZTRasterHeader(&header);
    if (check != ZT_HEADER_OK && check != ZT_HEADER_CODED) {
      fprintf(stderr, "ERROR: ztskipblank page %d: %s.\n", page, ZTHeaderCheckText(check));
      return 1;
    }
    // A coded body is not pixel data: it is never taken for a blank page.
    bool dropped = false;
    const int rc = SkipBlankPage(input.get(), stdout, &header, skipping && check == ZT_HEADER_OK, &buffer, &dropped);
    if (rc == ZT_SKIP_NO_MEMORY) {
      fputs("ERROR: ztskipblank cannot allocate the copy buffer.\n", stderr);
      return 1;
    }
    if (rc == ZT_SKIP_SHORT_READ) {
      fprintf(stderr, "ERROR: ztskipblank page %d: the input ends inside the page data.\n", page);
      return 1;
    }
    if (rc == ZT_SKIP_WRITE_FAILED) {
      ZTPrintCause("ztskipblank", "cannot write the output", errno);
      return 1;
    }
    if (dropped) fprintf(stderr, "DEBUG: ztskipblank page %d is blank and was removed.\n", page);
  }
  if (ZTFlushCheck_FP(stdout) != 0) {
    ZTPrintCause("ztskipblank", "cannot write the output", errno);
    return 1;
  }
  return 0;
}
