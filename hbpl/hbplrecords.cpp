#include "hbplrecords.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "ztio.h"

int gBackSideFlag = 0;
uint32_t gPageCounter = 1;

namespace {

// Bytes a size code stands for.
int SizeCodeBytes(int sizeCode) {
  if (sizeCode <= 1) return 1;
  if (sizeCode <= 3) return 2;
  return 4;
}

void WriteLittleEndian(FILE* fp, uint32_t value, int bytes) {
  unsigned char b[4];
  for (int i = 0; i < bytes; ++i) b[i] = static_cast<unsigned char>(value >> (8 * i));
  fwrite(b, 1, static_cast<size_t>(bytes), fp);
}

// Pixels for a length in points at a resolution in dots per inch.
uint32_t PointsToPixels(float points, uint32_t dpi) {
  return RoundHbplLength(static_cast<double>(points) * dpi / 72.0);
}

// The BeginJob value of the first page's encoding.
uint32_t JobEncodingCode(uint32_t encoding) {
  switch (encoding) {
    case ZT_ENC_REVERSED3: return 4;
    case ZT_ENC_MIVO_COLOR: return 6;
    case ZT_ENC_MIVO_MONO: return 7;
    default: return 1;
  }
}

// Attributes 0x9C..0xA0 and the line width of 0xA2, by encoding.
struct PageFormat {
  uint32_t payloadKind;
  uint32_t pixelFormat;
  uint32_t planes;
  uint32_t payloadVariant;
  uint32_t bitsPerPixel;
  uint32_t lineWidth;
};

PageFormat GetPageFormat(const PrintSetting* setting, const ZTRasterHeader* h) {
  const bool thirdForm = h->colorSpace == ZT_CS_OTHER3;
  const uint32_t rawPixels = thirdForm ? 22 : (setting->colorMode == ZT_COLORMODE_BLACK ? 1 : 17);
  const uint32_t rawPlanes = (h->colorOrder == 0 || h->colorOrder == 2) ? h->colorOrder : 1;
  const uint32_t rawBits = thirdForm ? 32 : 8;
  const uint32_t codedPixels = h->colorSpace == ZT_CS_GRAY ? 9 : 139;
  const uint32_t width = static_cast<uint32_t>(h->width);
  switch (h->encoding) {
    case ZT_ENC_NONE: return {0, rawPixels, rawPlanes, 1, rawBits, width};
    case ZT_ENC_4: return {6, rawPixels, rawPlanes, 1, rawBits, width};
    case ZT_ENC_REVERSED3: return {4, codedPixels, 2, 2, 8, width};
    case ZT_ENC_MIVO_COLOR:
    case ZT_ENC_MIVO_MONO:
      // The coded line always carries at least one padding pixel group.
      return {1, codedPixels, 2, 5, 8, (width & ~7u) + 8};
    default: return {1, rawPixels, rawPlanes, 1, rawBits, width};
  }
}

void WriteImageDataHead(FILE* fp, uint32_t arrayLength) {
  WriteHbplByte(fp, HBPL_IMAGE_DATA);
  WriteHbplScalar(fp, HBPL_IMAGE_ATTR_A3, 1, 0);
  WriteHbplByte(fp, HBPL_IMAGE_BYTES);
  WriteHbplByte(fp, HBPL_BYTE_ARRAY);
  WriteHbplByte(fp, HBPL_ARRAY_LENGTH);
  WriteHbplUint32(fp, arrayLength);
}

void WriteChunkHeader(FILE* fp, const ZTRasterHeader* h, uint32_t size) {
  const bool gray = h->colorSpace == ZT_CS_GRAY;
  uint32_t colourWord = size == HBPL_MIVO_CHUNK_HEADER_SIZE ? HBPL_CHUNK_MIVO_COLOR : HBPL_CHUNK3_COLOR;
  WriteHbplUint32(fp, size);
  WriteHbplUint32(fp, gray ? HBPL_CHUNK_MONO : colourWord);
  WriteHbplUint32(fp, HBPL_CHUNK_WORD3);
  WriteHbplUint32(fp, HBPL_CHUNK_WORD4);
  WriteHbplUint32(fp, HBPL_CHUNK_WORD5);
  for (uint32_t word = 5; word < size / 4; ++word) WriteHbplUint32(fp, 0);
}

// Copies n payload bytes from the spool to fp through buf.
int CopyPayload(FILE* fp, int spoolFd, uint64_t n, unsigned char* buf, size_t bufSize) {
  while (n > 0) {
    size_t chunk = static_cast<size_t>(std::min<uint64_t>(n, bufSize));
    if (ZTReadFull(spoolFd, buf, chunk) != static_cast<ssize_t>(chunk)) return DRAW_CHUNK_FAILED;
    if (fwrite(buf, 1, chunk, fp) != chunk) return DRAW_CHUNK_FAILED;
    n -= chunk;
  }
  return DRAW_CHUNK_OK;
}

}  // namespace

void WriteHbplByte(FILE* fp, uint8_t value) { fputc(value, fp); }

void WriteHbplUint32(FILE* fp, uint32_t value) { WriteLittleEndian(fp, value, 4); }

void WriteHbplScalar(FILE* fp, uint8_t id, int sizeCode, uint32_t value) {
  WriteHbplByte(fp, id);
  WriteHbplByte(fp, static_cast<uint8_t>(HBPL_SCALAR + sizeCode));
  WriteLittleEndian(fp, value, SizeCodeBytes(sizeCode));
}

void WriteHbplPair(FILE* fp, uint8_t id, int sizeCode, uint32_t first, uint32_t second) {
  WriteHbplByte(fp, id);
  WriteHbplByte(fp, static_cast<uint8_t>(HBPL_PAIR + sizeCode));
  WriteLittleEndian(fp, first, SizeCodeBytes(sizeCode));
  WriteLittleEndian(fp, second, SizeCodeBytes(sizeCode));
}

uint32_t RoundHbplLength(double v) {
  if (std::isnan(v)) return 0;
  // Held inside the 64-bit range so that the conversion is defined.
  constexpr double kLimit = 9.2e18;
  v = std::clamp(v, -kLimit, kLimit);
  int64_t whole = static_cast<int64_t>(v);
  if (v - static_cast<double>(whole) >= 0.5) ++whole;
  return static_cast<uint32_t>(static_cast<uint64_t>(whole));
}

HbplImageOffset GetHbplImageOffset(const PrintSetting* s, const ZTRasterHeader* h) {
  const uint32_t rx = h->resolutionX;
  const uint32_t ry = h->resolutionY;
  const uint32_t w = static_cast<uint32_t>(h->width);
  const uint32_t ht = static_cast<uint32_t>(h->height);
  const uint32_t paperW = PointsToPixels(s->paperWidth, rx);
  const uint32_t paperL = PointsToPixels(s->paperLength, ry);
  const uint32_t areaW = RoundHbplLength((static_cast<double>(s->imageRight) - s->imageLeft) * rx / 72.0);
  const uint32_t areaL = RoundHbplLength((static_cast<double>(s->imageTop) - s->imageBottom) * ry / 72.0);
  const auto marginL = static_cast<uint16_t>(PointsToPixels(s->imageLeft, rx));
  const auto marginT = static_cast<uint16_t>(
      RoundHbplLength((static_cast<double>(s->paperLength) - s->imageTop) * ry / 72.0));
  // An image that fits the imageable area keeps the margin; one that overruns
  // it by no more than the paper's slack keeps it too; anything else goes to
  // the paper's corner.
  auto place = [](uint32_t image, uint32_t area, uint32_t paper, uint16_t margin) -> uint16_t {
    if (area >= image) return margin;
    if (paper > image && image - area <= paper - image) return margin;
    return 0;
  };
  return {place(w, areaW, paperW, marginL), place(ht, areaL, paperL, marginT)};
}

void WriteBeginJob(FILE* fp, const ZTRasterHeader* first) {
  WriteHbplByte(fp, HBPL_BEGIN_JOB);
  WriteHbplScalar(fp, HBPL_JOB_ATTR_FIRST, 1, 0);
  WriteHbplScalar(fp, HBPL_JOB_ATTR_FIRST + 1, 2, JobEncodingCode(first->encoding));
  WriteHbplScalar(fp, HBPL_JOB_ATTR_FIRST + 2, 2, 1);
}

void WriteBeginPage(FILE* fp, const PrintSetting* s, const ZTRasterHeader* h) {
  const PageFormat format = GetPageFormat(s, h);
  const HbplImageOffset offset = GetHbplImageOffset(s, h);
  uint32_t customW = 0, customL = 0;
  if (s->pageSize == 255) {
    // Both lengths of a custom size go with the horizontal resolution.
    customW = PointsToPixels(s->paperWidth, h->resolutionX) & 0xFFFF;
    customL = PointsToPixels(s->paperLength, h->resolutionX) & 0xFFFF;
  }
  uint32_t side = 0;
  if (s->duplex != 0) {
    side = gBackSideFlag ? 2 : 1;
    gBackSideFlag = !gBackSideFlag;
  }

  WriteHbplByte(fp, HBPL_BEGIN_PAGE);
  WriteHbplScalar(fp, HBPL_PAGE_ORIENTATION, 1, s->paperLength > s->paperWidth ? 0 : 1);
  WriteHbplScalar(fp, HBPL_PAGE_INPUT_SLOT, 1, static_cast<uint32_t>(s->inputSlot));
  WriteHbplScalar(fp, HBPL_PAGE_ATTR_93, 1, 1);
  WriteHbplScalar(fp, HBPL_PAGE_SIZE, 1, static_cast<uint32_t>(s->pageSize));
  WriteHbplPair(fp, HBPL_PAGE_CUSTOM_SIZE, 2, customW, customL);
  WriteHbplScalar(fp, HBPL_PAGE_ATTR_96, 1, 3);
  WriteHbplPair(fp, HBPL_PAGE_IMAGE_OFFSET, 3, offset.x, offset.y);
  WriteHbplScalar(fp, HBPL_PAGE_DUPLEX_SIDE, 1, side);
  WriteHbplScalar(fp, HBPL_PAGE_NUMBER, 4, gPageCounter++);
  WriteHbplPair(fp, HBPL_PAGE_IMAGE_SIZE, 4, static_cast<uint32_t>(h->width), static_cast<uint32_t>(h->height));
  WriteHbplScalar(fp, HBPL_PAGE_ATTR_9B, 1, 0);
  WriteHbplScalar(fp, HBPL_PAGE_PAYLOAD_KIND, 1, format.payloadKind);
  WriteHbplScalar(fp, HBPL_PAGE_PIXEL_FORMAT, 1, format.pixelFormat);
  WriteHbplScalar(fp, HBPL_PAGE_PLANES, 1, format.planes);
  WriteHbplScalar(fp, HBPL_PAGE_PAYLOAD_VARIANT, 1, format.payloadVariant);
  WriteHbplScalar(fp, HBPL_PAGE_BITS_PER_PIXEL, 1, format.bitsPerPixel);
  WriteHbplScalar(fp, HBPL_PAGE_RESOLUTION, 1, h->resolutionX == 300 ? 3 : 0);
  WriteHbplPair(fp, HBPL_PAGE_LINE_SIZE, 4, format.lineWidth, static_cast<uint32_t>(h->height));
}

int DrawChunkImage(FILE* fp, int spoolFd, const ZTRasterHeader* h, unsigned char* buf, size_t bufSize) {
  if (h->pageBytes < 0 || !buf || bufSize == 0) return DRAW_CHUNK_FAILED;
  const uint32_t payload = static_cast<uint32_t>(h->pageBytes);
  switch (h->encoding) {
    case ZT_ENC_MIVO_COLOR:
    case ZT_ENC_MIVO_MONO: {
      // The four stream lengths come first; the streams they announce must
      // lie inside the body, or the printer would read past the page.
      if (payload < MIVO_LENGTH_WORDS_SIZE) return DRAW_CHUNK_FAILED;
      unsigned char lengths[MIVO_LENGTH_WORDS_SIZE];
      if (ZTReadFull(spoolFd, lengths, sizeof lengths) != static_cast<ssize_t>(sizeof lengths))
        return DRAW_CHUNK_FAILED;
      uint64_t announced = 0;
      for (size_t i = 0; i < 4; ++i) {
        uint32_t word;
        memcpy(&word, lengths + 4 * i, 4);
        announced += word;
      }
      if (announced > payload - MIVO_LENGTH_WORDS_SIZE) return DRAW_CHUNK_FAILED;
      WriteImageDataHead(fp, payload + HBPL_MIVO_CHUNK_HEADER_SIZE);
      WriteChunkHeader(fp, h, HBPL_MIVO_CHUNK_HEADER_SIZE);
      if (fwrite(lengths, 1, sizeof lengths, fp) != sizeof lengths) return DRAW_CHUNK_FAILED;
      return CopyPayload(fp, spoolFd, payload - MIVO_LENGTH_WORDS_SIZE, buf, bufSize);
    }
    case 3:
      WriteImageDataHead(fp, payload + HBPL_CHUNK3_HEADER_SIZE);
      WriteChunkHeader(fp, h, HBPL_CHUNK3_HEADER_SIZE);
      break;
    case ZT_ENC_REVERSED3:
      // Such a payload already holds its own image-data records.
      break;
    default:
      WriteImageDataHead(fp, payload);
      break;
  }
  return CopyPayload(fp, spoolFd, payload, buf, bufSize);
}
