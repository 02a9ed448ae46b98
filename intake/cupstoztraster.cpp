// cupstoztraster: the entry filter of the chain. Reads the CUPS raster
// stream of the job and writes the same pages as a ZT raster stream: per page
// the 56-byte ZT header translated from the CUPS page header, then the
// page's pixel bytes unchanged.
//
// Pixels are read through libcupsimage, which undoes the line compression of
// "RaS2"/PWG streams and hands uncompressed ("RaS3"/"RaSt") pixels over as
// they stand. In an uncompressed stream in this host's byte order, which
// libcupsimage reads without read-ahead, the pixels pass from the input
// descriptor straight to the output (spliced where a pipe is involved);
// otherwise pages are copied in chunks of whole lines of at most 1 MiB (one
// line when a line is longer). Pages that the later filters cannot handle
// are refused before any of their bytes are written.

#include <cups/raster.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "ztio.h"      // the descriptor copy only: this filter does not link the common library
#include "zterror.h"   // the cause line of a failure (header only)
#include "ztraster.h"  // the ZTRasterHeader record

namespace {

constexpr size_t kChunkBytes = 1048576;  // copy chunk: whole lines up to 1 MiB

// Set by the SIGTERM handler; the page loop stops before the next page.
volatile sig_atomic_t StopRequested = 0;

void CancelHandler(int) { StopRequested = 1; }

// The raster input as libcupsimage reads it: what has been delivered tells a
// clean end of the stream apart from a header that is cut short or refused.
// What was asked for and delivered also tells whether libcupsimage holds
// bytes of its own beyond what it has parsed.
struct RasterInput {
  int fd = 0;
  uint64_t delivered = 0;  // bytes handed to libcupsimage so far (or passed on past it)
  bool eof = false;        // read() returned 0
  bool lastFilled = true;  // the latest request was met in full
  char sync[4] = {};       // the stream's first four bytes
};

ssize_t ReadRasterInput(void* ctx, unsigned char* buf, size_t bytes) {
  auto* in = static_cast<RasterInput*>(ctx);
  for (;;) {
    ssize_t got = read(in->fd, buf, bytes);
    if (got < 0 && errno == EINTR) continue;
    if (got == 0) in->eof = true;
    if (got > 0) {
      for (ssize_t i = 0; i < got && in->delivered + static_cast<uint64_t>(i) < sizeof in->sync; ++i)
        in->sync[in->delivered + static_cast<uint64_t>(i)] = static_cast<char>(buf[i]);
      in->delivered += static_cast<uint64_t>(got);
    }
    in->lastFilled = got == static_cast<ssize_t>(bytes);
    return got;
  }
}

// Uncompressed version 3 CUPS raster in this host's byte order: libcupsimage reads
// its headers with requests of exactly their size and its pixels as asked,
// so after a header nothing of the page's pixels is held inside it.
bool IsPlainRaster(const RasterInput& in) {
  uint32_t sync;
  memcpy(&sync, in.sync, sizeof sync);
  return sync == CUPS_RASTER_SYNC;
}

struct RasterCloser {
  void operator()(cups_raster_t* r) const { cupsRasterClose(r); }
};

// Closes the input file (never standard input) on every path.
struct InputFile {
  int fd = 0;
  ~InputFile() {
    if (fd > 0) close(fd);
  }
};

// An enum word of the page header as the number the stream holds: the
// stream may hold any value, and reading one outside the enum's range as the
// enum type is undefined.
template <typename Enum>
uint32_t EnumWord(const Enum& field) {
  static_assert(sizeof(Enum) == sizeof(uint32_t), "header enum words are 32 bits");
  uint32_t v;
  memcpy(&v, &field, sizeof v);
  return v;
}

// The translated header, or the reason why the page cannot be passed on.
// Every field is checked so that the ZT words are exact and consistent:
// later filters handle one byte per component and rely on pageBytes alone.
const char* TranslateHeader(const cups_page_header2_t& c, ZTRasterHeader* zt) {
  if (c.cupsBitsPerColor != 8) return "only 8 bits per colour are supported";
  const uint32_t colorSpace = EnumWord(c.cupsColorSpace);
  const uint32_t colorOrder = EnumWord(c.cupsColorOrder);
  const bool rgb = colorSpace == CUPS_CSPACE_RGB;
  const int64_t bitsPerPixel = rgb ? 3 * int64_t{c.cupsBitsPerColor} : int64_t{c.cupsBitsPerColor};
  if (c.cupsWidth == 0) return "page has no width";
  if (c.cupsWidth > INT32_MAX || c.cupsHeight > INT32_MAX) return "page size does not fit 32 bits";
  const int64_t bytesPerLine = bitsPerPixel / 8 * int64_t{c.cupsWidth};
  const int64_t pageBytes = bytesPerLine * int64_t{c.cupsHeight};
  if (bytesPerLine > INT32_MAX || pageBytes > INT32_MAX) return "page size does not fit 32 bits";
  if (int64_t{c.cupsBytesPerLine} != bytesPerLine) return "line length does not match the colour space and width";
  if (rgb && colorOrder != CUPS_ORDER_CHUNKED) return "RGB pixels must be chunked";

  zt->width = static_cast<int32_t>(c.cupsWidth);
  zt->height = static_cast<int32_t>(c.cupsHeight);
  zt->bitsPerPixel = static_cast<int32_t>(bitsPerPixel);
  zt->bytesPerLine = static_cast<int32_t>(bytesPerLine);
  zt->pageBytes = static_cast<int32_t>(pageBytes);
  zt->resolutionX = c.HWResolution[0];
  zt->resolutionY = c.HWResolution[1];
  zt->landscape = c.cupsWidth > c.cupsHeight ? 1 : 0;
  zt->colorOrder = colorOrder == CUPS_ORDER_CHUNKED ? 0 : (colorOrder == CUPS_ORDER_PLANAR ? 2 : 1);
  zt->colorSpace = rgb ? ZT_CS_RGB : ZT_CS_GRAY;
  zt->encoding = ZT_ENC_NONE;
  zt->copies = static_cast<int32_t>(c.NumCopies);
  zt->pageWidth = c.PageSize[0];
  zt->pageHeight = c.PageSize[1];
  return nullptr;
}

// The copy buffer: sized for the page in hand and grown, never shrunk, when a
// later page needs more.
struct CopyBuffer {
  std::unique_ptr<unsigned char[]> data;
  size_t size = 0;

  bool Reserve(size_t bytes) {
    if (bytes <= size) return true;
    data.reset(new (std::nothrow) unsigned char[bytes]);
    size = data ? bytes : 0;
    return data != nullptr;
  }
};

enum PageResult { kPageOk = 0, kPageShortInput, kPageWriteFailed };

// Whole lines per copy chunk: as many as fit in 1 MiB, at least one, and no
// more than the page has.
size_t ChunkLines(const ZTRasterHeader& zt) {
  const size_t lineBytes = static_cast<size_t>(zt.bytesPerLine);
  const size_t height = static_cast<size_t>(zt.height);
  const size_t fit = lineBytes >= kChunkBytes ? 1 : kChunkBytes / lineBytes;
  return height == 0 ? 1 : (fit < height ? fit : height);
}

// Copies the page's lines from the raster stream to out in chunks of whole
// lines; the buffer already holds one chunk.
PageResult CopyPage(cups_raster_t* raster, const ZTRasterHeader& zt, CopyBuffer* buffer, FILE* out) {
  const size_t lineBytes = static_cast<size_t>(zt.bytesPerLine);
  const size_t chunkLines = ChunkLines(zt);
  for (size_t line = 0, height = static_cast<size_t>(zt.height); line < height;) {
    const size_t lines = height - line < chunkLines ? height - line : chunkLines;
    const size_t bytes = lines * lineBytes;  // <= max(1 MiB, one line), fits in unsigned
    if (cupsRasterReadPixels(raster, buffer->data.get(), static_cast<unsigned>(bytes)) != bytes)
      return kPageShortInput;
    if (fwrite(buffer->data.get(), 1, bytes, out) != bytes) return kPageWriteFailed;
    line += lines;
  }
  return fflush(out) == 0 ? kPageOk : kPageWriteFailed;
}

// Passes the page's pixels from the input descriptor to out without
// libcupsimage, which holds none of them (see IsPlainRaster); the buffer
// carries them where the descriptors cannot be spliced.
PageResult PassPage(RasterInput* input, const ZTRasterHeader& zt, CopyBuffer* buffer, FILE* out) {
  if (fflush(out) != 0) return kPageWriteFailed;
  const uint64_t bytes = static_cast<uint64_t>(zt.pageBytes);
  const int rc = ZTPassBytes(input->fd, fileno(out), bytes, buffer->data.get(), buffer->size);
  if (rc == ZT_COPY_WRITE_FAILED) return kPageWriteFailed;
  if (rc != ZT_COPY_OK) return kPageShortInput;
  input->delivered += bytes;
  return kPageOk;
}

int RunIntake(int argc, char* argv[]) {
  if (argc < 6 || argc > 7) {
    fputs("ERROR: cupstoztraster job-id user title copies options [file]\n", stderr);
    return 1;
  }
  InputFile file;
  if (argc == 7) {
    file.fd = open(argv[6], O_RDONLY | O_CLOEXEC);
    if (file.fd < 0) {
      fputs("ERROR: unable to open raster file.\n", stderr);
      return 1;
    }
  }

  RasterInput input;
  input.fd = file.fd;
  std::unique_ptr<cups_raster_t, RasterCloser> raster(cupsRasterOpenIO(ReadRasterInput, &input, CUPS_RASTER_READ));
  if (!raster) {
    // No byte at all is a job without pages (a rasteriser writes nothing
    // for an empty document); anything else is not raster we can read.
    if (input.delivered == 0 && input.eof) return 0;
    fputs("ERROR: cupstoztraster: input is not a CUPS raster stream.\n", stderr);
    return 1;
  }

  const bool plain = IsPlainRaster(input);
  CopyBuffer buffer;
  for (int page = 1; !StopRequested; ++page) {
    const uint64_t before = input.delivered;
    cups_page_header2_t header;
    if (!cupsRasterReadHeader2(raster.get(), &header)) {
      // A clean end delivers nothing more; a header that was cut short or
      // refused by libcupsimage leaves input behind or was read in part.
      if (StopRequested || (input.eof && input.delivered == before)) break;
      fprintf(stderr, "ERROR: cupstoztraster: page %d has a broken CUPS raster page header.\n", page);
      return 1;
    }
    if (StopRequested) break;

    ZTRasterHeader zt{};
    if (const char* why = TranslateHeader(header, &zt)) {
      fprintf(stderr, "ERROR: cupstoztraster: page %d cannot be printed: %s.\n", page, why);
      return 1;
    }
    if (!buffer.Reserve(ChunkLines(zt) * static_cast<size_t>(zt.bytesPerLine))) {
      fputs("ERROR: cupstoztraster: cannot allocate the copy buffer.\n", stderr);
      return 1;
    }
    if (fwrite(&zt, sizeof zt, 1, stdout) != 1) {
      ZTPrintCause("cupstoztraster", "cannot write the output", errno);
      return 1;
    }
    // The header's bytes, and no more, were asked for and delivered:
    // libcupsimage has read nothing of the pixels yet.
    const bool pass = plain && input.lastFilled && input.delivered - before == sizeof(cups_page_header2_t);
    switch (pass ? PassPage(&input, zt, &buffer, stdout) : CopyPage(raster.get(), zt, &buffer, stdout)) {
      case kPageOk:
        break;
      case kPageShortInput:
        fprintf(stderr, "ERROR: cupstoztraster: page %d: the raster data ends inside the page.\n", page);
        return 1;
      case kPageWriteFailed:
        ZTPrintCause("cupstoztraster", "cannot write the output", errno);
        return 1;
    }
  }
  if (fflush(stdout) != 0 || ferror(stdout)) {
    ZTPrintCause("cupstoztraster", "cannot write the output", errno);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  setbuf(stderr, nullptr);
  signal(SIGTERM, CancelHandler);
  // A closed output pipe is reported as a write error, not a silent death.
  signal(SIGPIPE, SIG_IGN);
  ZTGrowStdPipes();
  // Chunks are written straight from the copy buffer, not through a second one.
  ZTSetUnbuffered_FP(stdout);
  return RunIntake(argc, argv);
}
