// Writes a ZT raster stream of RGB pages for the colour conversion
// benchmark: a text-like page (white paper, black type, a few coloured
// headings) or a photo-like page (smooth colour gradients with grain, so
// that almost every pixel differs from its left neighbour). A raw RGB file
// of the page size may be given instead of a pattern.
//
// Usage: colour_mkpage WIDTH HEIGHT PAGES text|photo|FILE.rgb > stream
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ztraster.h"

namespace {

uint32_t Next(uint32_t& s) {
  s ^= s << 13;
  s ^= s >> 17;
  s ^= s << 5;
  return s;
}

void TextLine(std::vector<unsigned char>& line, int width, int y, uint32_t& seed) {
  std::fill(line.begin(), line.end(), 255);
  const int row = y % 100;  // 100-line text rows: 60 lines of type, 40 of leading
  if (y < 300 || row >= 60) return;
  const bool heading = (y / 100) % 12 == 0;
  for (int x = 300; x < width - 300; ++x) {
    // Glyph-like strokes: short vertical and horizontal bars.
    const int cx = x % 40, cy = row;
    const bool stroke = cx < 5 || (cy > 25 && cy < 31 && cx < 30) || ((x / 40 + y / 100) % 7 == 0 && cx > 30);
    if (!stroke || (x / 40) % 9 == 8) continue;
    unsigned char* p = &line[3 * static_cast<size_t>(x)];
    if (heading) p[0] = 200, p[1] = 30, p[2] = 40;
    else p[0] = p[1] = p[2] = 0;
    if (cx == 0 || cx == 4) {  // anti-aliased edges
      const unsigned char g = static_cast<unsigned char>(96 + Next(seed) % 64);
      p[0] = p[1] = p[2] = g;
    }
  }
}

void PhotoLine(std::vector<unsigned char>& line, int width, int height, int y, uint32_t& seed) {
  for (int x = 0; x < width; ++x) {
    // Independent grain per channel, as sensor noise and JPEG artefacts give.
    const uint32_t n = Next(seed);
    const int r = 40 + 180 * x / width + static_cast<int>(n % 17) - 8;
    const int g = 30 + 200 * y / height + static_cast<int>((n >> 8) % 17) - 8;
    const int b = 200 - 150 * (x + y) / (width + height) + static_cast<int>((n >> 16) % 17) - 8;
    unsigned char* p = &line[3 * static_cast<size_t>(x)];
    p[0] = static_cast<unsigned char>(std::clamp(r, 0, 255));
    p[1] = static_cast<unsigned char>(std::clamp(g, 0, 255));
    p[2] = static_cast<unsigned char>(std::clamp(b, 0, 255));
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 5) {
    fputs("usage: colour_mkpage WIDTH HEIGHT PAGES text|photo|FILE.rgb\n", stderr);
    return 1;
  }
  const int width = atoi(argv[1]), height = atoi(argv[2]), pages = atoi(argv[3]);
  const std::string kind = argv[4];
  if (width <= 0 || height <= 0 || pages <= 0 || static_cast<long long>(width) * height * 3 > INT32_MAX) {
    fputs("colour_mkpage: bad size\n", stderr);
    return 1;
  }
  FILE* raw = nullptr;
  if (kind != "text" && kind != "photo" && !(raw = fopen(kind.c_str(), "rb"))) {
    fprintf(stderr, "colour_mkpage: cannot open %s\n", kind.c_str());
    return 1;
  }
  ZTRasterHeader h{};
  h.width = width;
  h.height = height;
  h.bitsPerPixel = 24;
  h.bytesPerLine = 3 * width;
  h.pageBytes = 3 * width * height;
  h.resolutionX = h.resolutionY = 600;
  h.colorSpace = ZT_CS_RGB;
  h.copies = 1;
  h.pageWidth = 595;
  h.pageHeight = 842;
  std::vector<unsigned char> line(3 * static_cast<size_t>(width));
  for (int p = 0; p < pages; ++p) {
    uint32_t seed = 2463534242u;
    if (raw) fseek(raw, 0, SEEK_SET);
    if (!WriteZTRasterHeader_FP(stdout, &h)) return 1;
    for (int y = 0; y < height; ++y) {
      if (raw) {
        if (fread(line.data(), 1, line.size(), raw) != line.size()) {
          fputs("colour_mkpage: the raw file is shorter than the page\n", stderr);
          return 1;
        }
      } else if (kind == "text") {
        TextLine(line, width, y, seed);
      } else {
        PhotoLine(line, width, height, y, seed);
      }
      if (fwrite(line.data(), 1, line.size(), stdout) != line.size()) return 1;
    }
  }
  return fflush(stdout) == 0 ? 0 : 1;
}
