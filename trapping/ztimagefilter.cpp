#include "ztimagefilter.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include "hbploption.h"
#include "ztdevparam.h"
#include "zterror.h"
#include "ztio.h"

FILE* ZTOpenImageOutput_FP(const char* path) {
  if (!path) return stdout;
  // An existing file only; truncated so that no tail of an earlier, longer
  // content survives behind the new pages.
  const int fd = open(path, O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return nullptr;
  FILE* fp = fdopen(fd, "wb");
  if (!fp) close(fd);
  return fp;
}

namespace {

// Moves n bytes from in to out. With the GNU C library the bytes the input
// stream has already read ahead go first, then the rest passes straight
// between the descriptors (spliced where one side is a pipe, else in chunks
// through buf): no second copy through the streams' buffers. Elsewhere the
// streams move them.
int CopyPageBytes(FILE* in, FILE* out, uint64_t n, unsigned char* buf, size_t bufSize) {
#if defined(__GLIBC__)
  if (fflush(out) != 0) return ZT_COPY_WRITE_FAILED;
  const int outFd = fileno(out);
  const size_t ahead = static_cast<size_t>(in->_IO_read_end - in->_IO_read_ptr);
  const size_t buffered = static_cast<size_t>(std::min<uint64_t>({n, ahead, bufSize}));
  if (buffered > 0) {
    if (fread(buf, 1, buffered, in) != buffered) return ZT_COPY_SHORT_READ;
    if (ZTWriteFull(outFd, buf, buffered) != 0) return ZT_COPY_WRITE_FAILED;
    n -= buffered;
  }
  if (n > 0 && in->_IO_read_end != in->_IO_read_ptr) return ZTCopyBytes_FP(in, out, n, buf, bufSize);
  const int rc = ZTPassBytes(fileno(in), outFd, n, buf, bufSize);
  return rc == ZT_COPY_READ_FAILED ? ZT_COPY_SHORT_READ : rc;
#else
  return ZTCopyBytes_FP(in, out, n, buf, bufSize);
#endif
}

}  // namespace

int ThrowPageData(FILE* in, FILE* out, const ZTRasterHeader* header) {
  if (header->pageBytes < 0) return ZT_THROW_BAD_SIZE;
  std::unique_ptr<unsigned char, decltype(&free)> buf(
      static_cast<unsigned char*>(calloc(ZT_IMAGE_COPY_CHUNK, 1)), &free);
  if (!buf) return ZT_THROW_NO_MEMORY;
  if (WriteZTRasterHeader_FP(out, header) != 1) return ZT_THROW_WRITE_FAILED;
  switch (CopyPageBytes(in, out, static_cast<uint64_t>(header->pageBytes), buf.get(), ZT_IMAGE_COPY_CHUNK)) {
    case ZT_COPY_OK: return ZT_THROW_OK;
    case ZT_COPY_SHORT_READ: return ZT_THROW_SHORT_READ;
    default: return ZT_THROW_WRITE_FAILED;
  }
}

int ThrowPageStatus(int result) {
  switch (result) {
    case ZT_THROW_OK: return 0;
    case ZT_THROW_NO_MEMORY:
    case ZT_THROW_BAD_SIZE: return 1;
    default: return -1;
  }
}

const char* ThrowPageFailureText(int result) {
  switch (result) {
    case ZT_THROW_SHORT_READ: return "the input ends inside the page data";
    case ZT_THROW_WRITE_FAILED: return "cannot write the output";
    case ZT_THROW_BAD_SIZE: return "page header has a negative page size";
    case ZT_THROW_NO_MEMORY: return "cannot allocate the copy buffer";
    default: return "page copied";
  }
}

int CheckCMYKPage(const ZTRasterHeader* h, ZTLineSource source) {
  if (IsZTCodedPage(h)) return ZT_CMYK_PAGE_CODED;
  if (h->bitsPerPixel != 32) return ZT_CMYK_PAGE_NOT_4_BYTES;
  int64_t line;
  if (source == ZT_LINE_FROM_WIDTH) {
    const int check = CheckZTRasterHeader(h);
    if (check == ZT_HEADER_OVERFLOW) return ZT_CMYK_PAGE_TOO_WIDE;
    if (check != ZT_HEADER_OK) return ZT_CMYK_PAGE_BAD_GEOMETRY;
    line = static_cast<int64_t>(h->width) * 4;
  } else {
    if (h->bytesPerLine < 0 || h->height < 0 || h->pageBytes < 0) return ZT_CMYK_PAGE_BAD_GEOMETRY;
    if (h->bytesPerLine % 4 != 0) return ZT_CMYK_PAGE_NOT_4_BYTES;
    line = h->bytesPerLine;
    if (line * h->height != h->pageBytes) return ZT_CMYK_PAGE_BAD_GEOMETRY;
  }
  if (static_cast<uint64_t>(line) > ZT_IMAGE_MAX_LINE_BYTES) return ZT_CMYK_PAGE_TOO_WIDE;
  return ZT_CMYK_PAGE_OK;
}

const char* CMYKPageCheckText(int code) {
  switch (code) {
    case ZT_CMYK_PAGE_OK: return "page is CMYK of 4 bytes per pixel";
    case ZT_CMYK_PAGE_CODED: return "page is compressed, not CMYK of 4 bytes per pixel";
    case ZT_CMYK_PAGE_NOT_4_BYTES: return "page is not CMYK of 4 bytes per pixel";
    case ZT_CMYK_PAGE_BAD_GEOMETRY: return "page header's sizes do not match its data";
    case ZT_CMYK_PAGE_TOO_WIDE: return "page is wider than 1048576 pixels";
    default: return "page header is invalid";
  }
}

int CopyPageUnchanged(FILE* in, FILE* out, const ZTRasterHeader* header, const char* program, int page) {
  const int rc = ThrowPageData(in, out, header);
  if (rc == ZT_THROW_NO_MEMORY) {
    fputs("ERROR: throwdata(): calloc error for imagedatabuf.\n", stderr);
  } else if (rc == ZT_THROW_WRITE_FAILED) {
    ReportPageWriteFailure(out, program, page);
  } else if (rc != ZT_THROW_OK) {
    fprintf(stderr, "ERROR: %s: page %d: %s.\n", program, page, ThrowPageFailureText(rc));
  }
  return ThrowPageStatus(rc);
}

int BeginReworkedPage(FILE* out, const ZTRasterHeader* header, ZTLineSource source, const char* program, int page) {
  const int check = CheckCMYKPage(header, source);
  if (check != ZT_CMYK_PAGE_OK) {
    fprintf(stderr, "ERROR: %s: page %d: %s.\n", program, page, CMYKPageCheckText(check));
    return 1;
  }
  if (WriteZTRasterHeader_FP(out, header) != 1) {
    ReportPageWriteFailure(out, program, page);
    return -1;
  }
  return 0;
}

void ReportPageWriteFailure(FILE* out, const char* program, int page) {
  const int cause = ferror(out) ? errno : 0;
  char what[64];
  snprintf(what, sizeof what, "page %d: cannot write the output", page);
  ZTPrintCause(program, what, cause);
}

int ZTRunImageFilter(const ZTImageFilterDesc& desc, int argc, char* argv[]) {
  const char* program = desc.program;
  char usage[128];
  snprintf(usage, sizeof usage, "ERROR: [Usage:] %s job-id user title copies options [InFile] [OutFile]\n", program);
  ZTFilterArgs args;
  if (ZTStartFilter(argc, argv, 6, 8, usage, &args) != 0) return 1;
  ZTStream input(ZTOpenInput_FP(args.inputFile));
  if (!input.get()) {
    fputs(argc == 7 ? desc.inputMessage7 : desc.inputMessage8, stderr);
    return -1;
  }
  ZTStream output(ZTOpenImageOutput_FP(args.outputFile));
  if (!output.get()) {
    fprintf(stderr, "DEBUG: %s: unable to open output file.\n", program);
    return -1;
  }
  setvbuf(input.get(), nullptr, _IOFBF, ZT_IMAGE_STREAM_BUFFER);
  setvbuf(output.get(), nullptr, _IOFBF, ZT_IMAGE_STREAM_BUFFER);

  ZTPPDSetting setting;
  if (setting.Create(args.options) != 0) {
    fprintf(stderr, "ERROR: %s: CreatePPDSetting() Error.\n", program);
    return 1;
  }
  const bool dump = CheckParamCMYK(setting.ppd) != 0;

  std::unique_ptr<void, decltype(&free)> placeholder(calloc(1, desc.recordSize), &free);
  if (!placeholder) {
    fprintf(stderr, "ERROR: %s: calloc error for %s.\n", program, desc.placeholder);
    return 1;
  }
  desc.usePlaceholder(placeholder.get());

  ZTDlbImage image;
  ReadDlbInfo();
  if (DlbLastError() != 0) ZTPrintCause(program, "cannot read the device parameter file", DlbLastError());
  if (const char* message = DlbLoadMessage()) fputs(message, stderr);
  const bool haveRecord = desc.selectRecord(setting.ppd) == 0;
  desc.unpackRecord(dump);

  bool rework = desc.enabled(setting.ppd);
  if (rework && !haveRecord) {
    fputs(desc.noRecordWarning, stderr);
    rework = false;
  }

  int status = 0;
  int page = 0;
  ZTRasterHeader header;
  while (status == 0 && ReadZTRasterHeader_FP(input.get(), &header) == 1) {
    ++page;
    if (rework) {
      status = BeginReworkedPage(output.get(), &header, desc.lineSource, program, page);
      if (status == 0) status = desc.reworkPage(input.get(), output.get(), &header, page);
    } else {
      status = CopyPageUnchanged(input.get(), output.get(), &header, program, page);
    }
  }

  if (output.close() != 0 && status == 0) {
    ZTPrintCause(program, "cannot write the output", errno);
    status = 1;
  }
  return status;
}
