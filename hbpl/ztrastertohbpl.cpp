// ztrastertohbpl: the last filter of the chain. Reads the ZT raster stream,
// spools it to count the pages, and writes the printer job: the PJL job
// header, then HBPL (BeginJob; per copy pass and page BeginPage, BeginImage,
// the page's payload in one ImageData record, EndImage, EndPage; EndJob),
// then the PJL trailer. Pixels are never looked at: raw or coded payloads
// pass through unchanged.
#include <cups/cups.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

#include "hbploption.h"
#include "hbplrecords.h"
#include "pjlheader.h"
#include "ztcolorsetting.h"
#include "zterror.h"
#include "ztio.h"
#include "ztraster.h"

namespace {

// Payload moves between input, spool file and output in pieces of this size.
constexpr size_t kChunkBytes = 0x100000;
// More copies than CUPS ever asks for by default can only come from a
// damaged stream; refusing them keeps a bad header from printing for days.
constexpr int kMaxCopies = 9999;

// SPOOL_WRITE_FAILED: the spool file itself failed, errno tells why.
enum SpoolResult { SPOOL_OK = 0, SPOOL_FAILED = -1, SPOOL_WRITE_FAILED = -2 };

// Copies the input stream into the spool file, page by page, and counts the
// pages. A page whose body is negative or ends early fails the spooling.
int StoreSpoolDataToTempFile(int in, int spool, unsigned char* buf, uint32_t* pageCount) {
  ZTRasterHeader header;
  *pageCount = 0;
  while (ReadZTRasterHeader(in, &header)) {
    if (header.pageBytes < 0) return SPOOL_FAILED;
    if (!WriteZTRasterHeader(spool, &header)) return SPOOL_WRITE_FAILED;
    switch (ZTCopyBytes(in, spool, static_cast<uint64_t>(header.pageBytes), buf, kChunkBytes)) {
      case ZT_COPY_OK: break;
      case ZT_COPY_WRITE_FAILED: return SPOOL_WRITE_FAILED;
      default: return SPOOL_FAILED;
    }
    ++*pageCount;
  }
  return lseek(spool, 0, SEEK_SET) == 0 ? SPOOL_OK : SPOOL_WRITE_FAILED;
}

// Marks the PPD page size that matches the first page when the job names none.
void MarkPageSizeFromFirstPage(ZTPPDSetting* setting, const ZTRasterHeader* first) {
  if (CheckIfPageSizeOption(setting->numOptions, setting->options) == 1) return;
  char* name = nullptr;
  if (GetPageSizeNameFromPageSize(setting->ppd, static_cast<float>(first->pageWidth),
                                  static_cast<float>(first->pageHeight), &name) != 0)
    return;
  setting->numOptions = cupsAddOption("PageSize", name, setting->numOptions, &setting->options);
  cupsMarkOptions(setting->ppd, setting->numOptions, setting->options);
  free(name);
}

struct JobPlan {
  PrintSetting print;
  int printerCopies;
  int passes;
  int startWithBack;  // first page of every pass is a back side
  uint32_t pageCount;
};

// One page: its records around the payload read from the spool.
int WritePage(FILE* out, int spool, const JobPlan& plan, const ZTRasterHeader* header, unsigned char* buf) {
  WriteBeginPage(out, &plan.print, header);
  WriteHbplByte(out, HBPL_BEGIN_IMAGE);
  if (DrawChunkImage(out, spool, header, buf, kChunkBytes) != DRAW_CHUNK_OK) return -1;
  WriteHbplByte(out, HBPL_END_IMAGE);
  WriteHbplByte(out, HBPL_END_PAGE);
  return 0;
}

enum JobResult { JOB_OK = 0, JOB_DRAW_FAILED = -1, JOB_WRITE_FAILED = -2 };

// Writes the job header before the first page, then every pass of pages,
// then the trailer.
int WriteJob(FILE* out, int spool, ZTPPDSetting* setting, const JobPlan& plan, const char* user,
             const char* title, unsigned char* buf) {
  bool jobStarted = false;
  const uint64_t totalPages = static_cast<uint64_t>(plan.pageCount) * static_cast<uint64_t>(plan.passes);
  uint64_t sent = 0;
  gPageCounter = 1;
  for (int pass = 0; pass < plan.passes; ++pass) {
    gBackSideFlag = plan.startWithBack;
    if (lseek(spool, 0, SEEK_SET) != 0) return JOB_DRAW_FAILED;
    ZTRasterHeader header;
    while (ReadZTRasterHeader(spool, &header)) {
      if (!jobStarted) {
        ColorSetting color;
        Screen2Setting screen2;
        GetColorSetting(setting->ppd, &color, setting->numOptions, setting->options);
        GetScreen2Setting(setting->ppd, &screen2);
        PJLJobInfo job;
        job.ppd = setting->ppd;
        job.numOptions = setting->numOptions;
        job.options = setting->options;
        job.user = user;
        job.title = title;
        job.printerCopies = plan.printerCopies;
        job.colorSetting = &color;
        job.screen2Setting = &screen2;
        WritePJLJobHeader(out, &job);
        WriteBeginJob(out, &header);
        jobStarted = true;
      }
      ++sent;
      fprintf(stderr, "INFO: Printing page %llu of %llu\n", static_cast<unsigned long long>(sent),
              static_cast<unsigned long long>(totalPages));
      const uint32_t pageNumber = gPageCounter;
      if (WritePage(out, spool, plan, &header, buf) != 0) return JOB_DRAW_FAILED;
      if (ZTFlushCheck_FP(out) != 0) return JOB_WRITE_FAILED;
      // CUPS counts the pages of the job from these lines.
      fprintf(stderr, "PAGE: %u %d\n", pageNumber, plan.printerCopies);
    }
  }
  if (jobStarted) {
    WriteHbplByte(out, HBPL_END_JOB);
    WritePJLTrailer(out);
  }
  return ZTFlushCheck_FP(out) == 0 ? JOB_OK : JOB_WRITE_FAILED;
}

int Fail(const char* what) {
  fprintf(stderr, "ERROR: ztrastertohbpl %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  ZTFilterArgs args;
  if (ZTStartFilter(argc, argv, 6, 7, "ERROR: ztrastertohbpl job-id user title copies options [file]\n", &args) != 0)
    return 1;
  ZTFd input(ZTOpenInput(args.inputFile));
  if (input.get() < 0) {
    fputs("ERROR: unable to open raster file.\n", stderr);
    return 1;
  }
  ZTPPDSetting setting;
  if (setting.Create(args.options) != 0) return Fail("CreatePPDSetting().");

  std::unique_ptr<unsigned char[]> buf(new (std::nothrow) unsigned char[kChunkBytes]);
  if (!buf) return Fail("cannot allocate memory.");

  fputs("INFO: Spooling the print data\n", stderr);
  ZTFd spool(ZTOpenTempFd());
  if (spool.get() < 0) {
    ZTPrintCause("ztrastertohbpl", "cannot create the spool file", errno);
    return Fail("StoreSpoolDataToTempFile().");
  }
  JobPlan plan{};
  const int spooled = StoreSpoolDataToTempFile(input.get(), spool.get(), buf.get(), &plan.pageCount);
  if (spooled == SPOOL_WRITE_FAILED) ZTPrintCause("ztrastertohbpl", "cannot write the spool file", errno);
  if (spooled != SPOOL_OK) return Fail("StoreSpoolDataToTempFile().");
  input.reset();

  ZTRasterHeader first;
  if (!ReadZTRasterHeader(spool.get(), &first) || lseek(spool.get(), 0, SEEK_SET) != 0)
    return Fail("first ReadZTRasterHeader().");
  const int copies = GetNumberOfCopies(&first, args.copies);
  if (copies > kMaxCopies) {
    fprintf(stderr, "ERROR: ztrastertohbpl %d copies exceed the limit of %d.\n", copies, kMaxCopies);
    return 1;
  }

  MarkPageSizeFromFirstPage(&setting, &first);
  if (GetPrintSetting(setting.ppd, &plan.print) != 0) return Fail("GetPrintSetting().");

  if (CheckIfDeviceCopies(setting.ppd) == 1) {
    plan.printerCopies = copies;
    plan.passes = 1;
  } else {
    plan.printerCopies = 1;
    plan.passes = copies;
  }
  plan.startWithBack = GetOutputOrder(setting.numOptions, setting.options) == 1 &&
                       GetDuplexSetting(setting.ppd, 1) > 0 && plan.pageCount % 2 == 1;

  switch (WriteJob(stdout, spool.get(), &setting, plan, args.user, args.title, buf.get())) {
    case JOB_OK: return 0;
    case JOB_DRAW_FAILED:
      // The payload could not be read from the spool file or written out.
      if (ferror(stdout)) ZTPrintCause("ztrastertohbpl", "cannot write the printer job", errno);
      return Fail("DrawChunkImage().");
    default:
      ZTPrintCause("ztrastertohbpl", "cannot write the printer job", errno);
      return 1;
  }
}
