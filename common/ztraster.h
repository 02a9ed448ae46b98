// ZT raster stream: the page header that travels between the filters of the
// chain, and the calls every filter uses to read and write headers and lines.
//
// A stream is a sequence of pages, each a fixed 56-byte header followed by
// exactly `pageBytes` data bytes. There is no stream header and no end record:
// the stream ends where no whole header can be read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

struct ZTRasterHeader {
  int32_t width;          // pixels per line
  int32_t height;         // lines in the page
  int32_t bitsPerPixel;   // 8 one component, 24 RGB, 32 CMYK
  int32_t bytesPerLine;   // (bitsPerPixel / 8) * width, lines are not padded
  int32_t pageBytes;      // data bytes after this header (coded body length for coded pages)
  uint32_t resolutionX;   // dots per inch
  uint32_t resolutionY;
  uint32_t landscape;     // 1 when width > height (unsigned compare)
  uint32_t colorOrder;    // 0 chunked, 1 banded, 2 planar
  uint32_t colorSpace;    // ZT_CS_* below
  uint32_t encoding;      // ZT_ENC_* below
  int32_t copies;         // copies requested for the page
  uint32_t pageWidth;     // media size in points
  uint32_t pageHeight;
};
static_assert(sizeof(ZTRasterHeader) == 56, "the page header is 56 bytes on the wire");

constexpr size_t ZT_HEADER_SIZE = sizeof(ZTRasterHeader);

// colorSpace values
constexpr uint32_t ZT_CS_GRAY = 0;
constexpr uint32_t ZT_CS_RGB = 1;
constexpr uint32_t ZT_CS_OTHER3 = 2;  // a further three-component form
constexpr uint32_t ZT_CS_CMYK = 3;

// encoding values
constexpr uint32_t ZT_ENC_NONE = 0;
constexpr uint32_t ZT_ENC_4 = 4;
constexpr uint32_t ZT_ENC_REVERSED3 = 5;  // three-byte pixels in reversed component order
constexpr uint32_t ZT_ENC_MIVO_COLOR = 6;
constexpr uint32_t ZT_ENC_MIVO_MONO = 7;

// Header I/O. The descriptor forms loop over short transfers; all four return
// 1 when the whole 56-byte header moved and 0 otherwise (for reads: the stream
// has ended, a partial header counts as the end). They print nothing.
int ReadZTRasterHeader(int fd, ZTRasterHeader* header);
int WriteZTRasterHeader(int fd, const ZTRasterHeader* header);
int ReadZTRasterHeader_FP(FILE* fp, ZTRasterHeader* header);
int WriteZTRasterHeader_FP(FILE* fp, const ZTRasterHeader* header);

// Bytes ReadZTRasterLine_FP writes into its destination for one line of this
// page: three-byte pixels widen to four bytes and lines are padded to a
// multiple of 8 bytes (whole pixels for three-byte forms).
size_t ZTRasterLineOutputSize(const ZTRasterHeader* header);

// Reads one line (bytesPerLine bytes) into dest in the widened/padded layout
// above, or skips it when dest is null. 0 on success, -1 on failure.
int ReadZTRasterLine_FP(FILE* fp, const ZTRasterHeader* header, unsigned char* dest);

// Copies to make: the header's copies when above 1, else the command-line
// value when above 0, else 1.
int GetNumberOfCopies(const ZTRasterHeader* header, int copies);

// True for pages coded by the compression filter (their body has its own layout).
inline bool IsZTCodedPage(const ZTRasterHeader* header) {
  return header->encoding == ZT_ENC_MIVO_COLOR || header->encoding == ZT_ENC_MIVO_MONO;
}

// Result codes of CheckZTRasterHeader.
enum ZTHeaderCheck {
  ZT_HEADER_OK = 0,             // an uncoded page whose geometry is consistent
  ZT_HEADER_CODED = 1,          // a coded page with a non-negative body length
  ZT_HEADER_BAD_SIZE = -1,      // non-positive width/height on a page with data, or negative pageBytes
  ZT_HEADER_BAD_DEPTH = -2,     // bitsPerPixel not 8, 24 or 32
  ZT_HEADER_BAD_LINE = -3,      // bytesPerLine != bitsPerPixel / 8 * width
  ZT_HEADER_BAD_PAGE_BYTES = -4,// pageBytes != bytesPerLine * height
  ZT_HEADER_OVERFLOW = -5,      // a product does not fit in 32 bits
};

// Checks the header words a pixel-handling filter relies on. Returns one of
// ZTHeaderCheck and prints nothing; ZTHeaderCheckText describes a code for the
// caller's own message.
int CheckZTRasterHeader(const ZTRasterHeader* header);
const char* ZTHeaderCheckText(int code);
