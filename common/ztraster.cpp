#include "ztraster.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include "ztio.h"

int ReadZTRasterHeader(int fd, ZTRasterHeader* header) {
  return ZTReadFull(fd, header, sizeof *header) == static_cast<ssize_t>(sizeof *header) ? 1 : 0;
}

int WriteZTRasterHeader(int fd, const ZTRasterHeader* header) {
  return ZTWriteFull(fd, header, sizeof *header) == 0 ? 1 : 0;
}

int ReadZTRasterHeader_FP(FILE* fp, ZTRasterHeader* header) {
  return fread(header, sizeof *header, 1, fp) == 1 ? 1 : 0;
}

int WriteZTRasterHeader_FP(FILE* fp, const ZTRasterHeader* header) {
  return fwrite(header, sizeof *header, 1, fp) == 1 ? 1 : 0;
}

// Three-byte pixel forms are widened to four bytes per pixel by the line reader.
static bool IsThreeBytePixelLine(const ZTRasterHeader* header) {
  return header->colorSpace == ZT_CS_RGB || header->colorSpace == ZT_CS_OTHER3 ||
         header->encoding == ZT_ENC_REVERSED3;
}

static size_t LineLength(const ZTRasterHeader* header) {
  return header->bytesPerLine > 0 ? static_cast<size_t>(header->bytesPerLine) : 0;
}

size_t ZTRasterLineOutputSize(const ZTRasterHeader* header) {
  size_t len = LineLength(header);
  if (IsThreeBytePixelLine(header)) return (len / 3 + 7) / 8 * 8 * 4;
  return (len + 7) / 8 * 8;
}

int ReadZTRasterLine_FP(FILE* fp, const ZTRasterHeader* header, unsigned char* dest) {
  const size_t len = LineLength(header);
  std::unique_ptr<unsigned char, decltype(&free)> work(static_cast<unsigned char*>(malloc(len ? len : 1)), &free);
  if (!work) return -1;

  if (!dest) {
    if (len > static_cast<size_t>(std::numeric_limits<long>::max()) ||
        fseek(fp, static_cast<long>(len), SEEK_CUR) != 0) {
      fputs("DEBUG : ztraster: cannot skip line.\n", stderr);
      return -1;
    }
    return 0;
  }
  if (len > 0 && fread(work.get(), len, 1, fp) != 1) {
    fputs("DEBUG : ztraster: cannot read line.\n", stderr);
    return -1;
  }

  if (IsThreeBytePixelLine(header)) {
    // Only whole pixels are converted; a trailing partial pixel is dropped and
    // its room is filled like every other padding pixel.
    const size_t pixels = len / 3;
    const size_t padded = (pixels + 7) / 8 * 8;
    const bool reversed = header->encoding == ZT_ENC_REVERSED3;
    const unsigned char* s = work.get();
    unsigned char* d = dest;
    for (size_t i = 0; i < pixels; ++i, s += 3, d += 4) {
      d[0] = 0xFF;
      if (reversed) {
        d[1] = s[2];
        d[2] = s[1];
        d[3] = s[0];
      } else {
        d[1] = s[0];
        d[2] = s[1];
        d[3] = s[2];
      }
    }
    memset(d, 0xFF, (padded - pixels) * 4);
    return 0;
  }
  if (len > 0) memcpy(dest, work.get(), len);
  memset(dest + len, 0xFF, (len + 7) / 8 * 8 - len);
  return 0;
}

int GetNumberOfCopies(const ZTRasterHeader* header, int copies) {
  if (header && header->copies > 1) return header->copies;
  return copies > 0 ? copies : 1;
}

int CheckZTRasterHeader(const ZTRasterHeader* h) {
  if (h->pageBytes < 0) return ZT_HEADER_BAD_SIZE;
  if (IsZTCodedPage(h)) return ZT_HEADER_CODED;
  if (h->pageBytes > 0 && (h->width <= 0 || h->height <= 0)) return ZT_HEADER_BAD_SIZE;
  if (h->width < 0 || h->height < 0) return ZT_HEADER_BAD_SIZE;
  if (h->bitsPerPixel != 8 && h->bitsPerPixel != 24 && h->bitsPerPixel != 32) return ZT_HEADER_BAD_DEPTH;
  const int64_t line = static_cast<int64_t>(h->bitsPerPixel / 8) * h->width;
  if (line > std::numeric_limits<int32_t>::max()) return ZT_HEADER_OVERFLOW;
  if (line != h->bytesPerLine) return ZT_HEADER_BAD_LINE;
  const int64_t page = line * h->height;
  if (page > std::numeric_limits<int32_t>::max()) return ZT_HEADER_OVERFLOW;
  if (page != h->pageBytes) return ZT_HEADER_BAD_PAGE_BYTES;
  return ZT_HEADER_OK;
}

const char* ZTHeaderCheckText(int code) {
  switch (code) {
    case ZT_HEADER_OK: return "page header is consistent";
    case ZT_HEADER_CODED: return "page is coded";
    case ZT_HEADER_BAD_SIZE: return "page header has an invalid width, height or page size";
    case ZT_HEADER_BAD_DEPTH: return "page header has unsupported bits per pixel";
    case ZT_HEADER_BAD_LINE: return "page header's bytes per line do not match its width";
    case ZT_HEADER_BAD_PAGE_BYTES: return "page header's page size does not match its lines";
    case ZT_HEADER_OVERFLOW: return "page header's sizes overflow";
    default: return "page header is invalid";
  }
}
