#include "ztimagefilter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

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

int ThrowPageData(FILE* in, FILE* out, const ZTRasterHeader* header) {
  if (header->pageBytes < 0) return ZT_THROW_BAD_SIZE;
  std::unique_ptr<unsigned char, decltype(&free)> buf(
      static_cast<unsigned char*>(calloc(ZT_IMAGE_COPY_CHUNK, 1)), &free);
  if (!buf) return ZT_THROW_NO_MEMORY;
  if (WriteZTRasterHeader_FP(out, header) != 1) return ZT_THROW_WRITE_FAILED;
  switch (ZTCopyBytes_FP(in, out, static_cast<uint64_t>(header->pageBytes), buf.get(), ZT_IMAGE_COPY_CHUNK)) {
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
    fprintf(stderr, "ERROR: %s: page %d: cannot write the output.\n", program, page);
    return -1;
  }
  return 0;
}
