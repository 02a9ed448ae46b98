#include "ztstreams.h"

#include <cstring>

ZTRasterHeader MakeHeader(int width, int height, int bitsPerPixel, uint32_t colorSpace) {
  ZTRasterHeader h{};
  h.width = width;
  h.height = height;
  h.bitsPerPixel = bitsPerPixel;
  h.bytesPerLine = bitsPerPixel / 8 * width;
  h.pageBytes = h.bytesPerLine * height;
  h.resolutionX = 600;
  h.resolutionY = 600;
  h.landscape = static_cast<uint32_t>(width) > static_cast<uint32_t>(height) ? 1 : 0;
  h.colorOrder = 0;
  h.colorSpace = colorSpace;
  h.encoding = ZT_ENC_NONE;
  h.copies = 1;
  h.pageWidth = 595;
  h.pageHeight = 842;
  return h;
}

std::string HeaderBytes(const ZTRasterHeader& h) {
  return std::string(reinterpret_cast<const char*>(&h), sizeof h);
}

std::string PageBytes(const ZTRasterHeader& h, const std::string& data) {
  return HeaderBytes(h) + data;
}

std::string PatternBytes(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  uint32_t x = seed ? seed : 0x9e3779b9u;
  for (size_t i = 0; i < n; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    s[i] = static_cast<char>(x & 0xff);
  }
  return s;
}

std::vector<ParsedPage> ParseStream(const std::string& stream) {
  std::vector<ParsedPage> pages;
  size_t pos = 0;
  while (stream.size() - pos >= sizeof(ZTRasterHeader)) {
    ParsedPage p;
    std::memcpy(&p.header, stream.data() + pos, sizeof p.header);
    pos += sizeof p.header;
    size_t n = p.header.pageBytes > 0 ? static_cast<size_t>(p.header.pageBytes) : 0;
    if (n > stream.size() - pos) n = stream.size() - pos;
    p.data = stream.substr(pos, n);
    pos += n;
    pages.push_back(std::move(p));
  }
  return pages;
}
