// Writes ZT raster streams of A4 600 dpi CMYK pages for the image-filter
// benchmark:
//   imagefilters_mkpage text|photo PAGES     synthetic pages on stdout
//   imagefilters_mkpage wrap WIDTH HEIGHT    raw CMYK on stdin -> one page
// "text": black type in lines on white, a coloured heading every few lines,
// a tinted box under part of the type and coloured rules (where trapping
// finds work). "photo": smooth colour gradients with grain and dark areas.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ztraster.h"

namespace {

constexpr int kWidth = 4960;
constexpr int kHeight = 7016;

ZTRasterHeader CmykHeader(int width, int height) {
  ZTRasterHeader h{};
  h.width = width;
  h.height = height;
  h.bitsPerPixel = 32;
  h.bytesPerLine = 4 * width;
  h.pageBytes = h.bytesPerLine * height;
  h.resolutionX = h.resolutionY = 600;
  h.colorSpace = ZT_CS_CMYK;
  h.copies = 1;
  h.pageWidth = 595;
  h.pageHeight = 842;
  return h;
}

uint32_t Next(uint32_t& x) {
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  return x;
}

void Put(std::vector<uint8_t>& page, int x, int y, int c, int m, int yy, int k) {
  if (x < 0 || y < 0 || x >= kWidth || y >= kHeight) return;
  uint8_t* p = &page[(static_cast<size_t>(y) * kWidth + x) * 4];
  p[0] = static_cast<uint8_t>(c);
  p[1] = static_cast<uint8_t>(m);
  p[2] = static_cast<uint8_t>(yy);
  p[3] = static_cast<uint8_t>(k);
}

void Rect(std::vector<uint8_t>& page, int x0, int y0, int x1, int y1, int c, int m, int y, int k) {
  for (int row = y0; row < y1; ++row)
    for (int x = x0; x < x1; ++x) Put(page, x, row, c, m, y, k);
}

std::vector<uint8_t> TextPage() {
  std::vector<uint8_t> page(static_cast<size_t>(kWidth) * kHeight * 4, 0);
  uint32_t seed = 12345;
  // A tinted box behind a block of type, and two coloured rules.
  Rect(page, 600, 2400, 4360, 3200, 40, 0, 0, 0);
  Rect(page, 600, 1000, 4360, 1012, 255, 160, 0, 0);
  Rect(page, 600, 5800, 4360, 5806, 0, 220, 200, 0);
  for (int line = 0, top = 700; top + 60 < kHeight - 600; ++line, top += 100) {
    const bool heading = line % 12 == 0;
    const int c = heading ? 230 : 0, m = heading ? 150 : 0, k = heading ? 0 : 255;
    for (int x = 600; x < kWidth - 600;) {
      const int word = 3 + static_cast<int>(Next(seed) % 8);
      for (int g = 0; g < word && x < kWidth - 600; ++g, x += 34) {
        // A glyph: a stem, sometimes a bar or a bowl-like second stem.
        const int tall = Next(seed) % 4 == 0 ? 56 : 40;
        const int base = top + 56;
        Rect(page, x + 4, base - tall, x + 10, base, c, m, 0, k);
        if (Next(seed) % 2) Rect(page, x + 4, base - 40, x + 26, base - 34, c, m, 0, k);
        if (Next(seed) % 2) Rect(page, x + 22, base - 40, x + 28, base, c, m, 0, k);
        if (Next(seed) % 3 == 0) Rect(page, x + 4, base - 6, x + 26, base, c, m, 0, k);
        // Anti-aliased right edge of the stem.
        for (int row = base - tall; row < base; ++row) Put(page, x + 10, row, c / 2, m / 2, 0, k / 2);
      }
      x += 30;  // word space
    }
  }
  return page;
}

std::vector<uint8_t> PhotoPage() {
  std::vector<uint8_t> page(static_cast<size_t>(kWidth) * kHeight * 4);
  uint32_t seed = 777;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const double fx = x / 4960.0, fy = y / 7016.0;
      const double shade = 0.5 + 0.5 * std::sin(fx * 9.0 + std::cos(fy * 7.0) * 2.0);
      int v[4] = {static_cast<int>(120 + 90 * std::sin(fx * 5.0 + fy * 3.0)),
                  static_cast<int>(110 + 80 * std::cos(fx * 4.0 - fy * 6.0)),
                  static_cast<int>(130 + 100 * std::sin(fy * 8.0)),
                  static_cast<int>(shade * shade * 200.0 + (fy > 0.8 ? 55.0 * (fy - 0.8) / 0.2 : 0.0))};
      uint8_t* p = &page[(static_cast<size_t>(y) * kWidth + x) * 4];
      for (int c = 0; c < 4; ++c) {
        const int grain = static_cast<int>(Next(seed) % 17) - 8;
        p[c] = static_cast<uint8_t>(std::min(255, std::max(0, v[c] + grain)));
      }
    }
  return page;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc == 4 && strcmp(argv[1], "wrap") == 0) {
    const int width = atoi(argv[2]), height = atoi(argv[3]);
    if (width <= 0 || height <= 0 || static_cast<long long>(width) * height * 4 > 0x7fffffff) {
      fputs("imagefilters_mkpage: bad page geometry\n", stderr);
      return 1;
    }
    const ZTRasterHeader h = CmykHeader(width, height);
    if (fwrite(&h, sizeof h, 1, stdout) != 1) return 1;
    std::vector<uint8_t> line(static_cast<size_t>(h.bytesPerLine));
    for (int y = 0; y < height; ++y) {
      if (fread(line.data(), 1, line.size(), stdin) != line.size()) {
        fputs("imagefilters_mkpage: the raw page is short\n", stderr);
        return 1;
      }
      if (fwrite(line.data(), 1, line.size(), stdout) != line.size()) return 1;
    }
    return fflush(stdout) == 0 ? 0 : 1;
  }
  if (argc != 3 || (strcmp(argv[1], "text") != 0 && strcmp(argv[1], "photo") != 0)) {
    fputs("usage: imagefilters_mkpage text|photo PAGES | wrap WIDTH HEIGHT\n", stderr);
    return 1;
  }
  const int pages = atoi(argv[2]);
  const std::vector<uint8_t> page = strcmp(argv[1], "text") == 0 ? TextPage() : PhotoPage();
  const ZTRasterHeader h = CmykHeader(kWidth, kHeight);
  for (int p = 0; p < pages; ++p)
    if (fwrite(&h, sizeof h, 1, stdout) != 1 || fwrite(page.data(), 1, page.size(), stdout) != page.size()) return 1;
  return fflush(stdout) == 0 ? 0 : 1;
}
