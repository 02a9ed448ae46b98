// Writes a ZT raster stream of synthetic pages for the page-utility
// benchmark: pageutils_mkstream width height bitsPerPixel pages ink|white
// "ink" pages carry a varied pattern (never all white), "white" pages are all
// 0xFF.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ztraster.h"

int main(int argc, char* argv[]) {
  if (argc != 6) {
    fputs("usage: pageutils_mkstream width height bitsPerPixel pages ink|white\n", stderr);
    return 1;
  }
  const int width = atoi(argv[1]);
  const int height = atoi(argv[2]);
  const int bpp = atoi(argv[3]);
  const int pages = atoi(argv[4]);
  const bool white = strcmp(argv[5], "white") == 0;
  if (width <= 0 || height <= 0 || (bpp != 8 && bpp != 24 && bpp != 32) || pages < 0) {
    fputs("pageutils_mkstream: bad page geometry\n", stderr);
    return 1;
  }
  ZTRasterHeader h{};
  h.width = width;
  h.height = height;
  h.bitsPerPixel = bpp;
  h.bytesPerLine = bpp / 8 * width;
  const long long pageBytes = static_cast<long long>(h.bytesPerLine) * height;
  if (pageBytes > 0x7fffffff) {
    fputs("pageutils_mkstream: page too large\n", stderr);
    return 1;
  }
  h.pageBytes = static_cast<int32_t>(pageBytes);
  h.resolutionX = h.resolutionY = 600;
  h.colorSpace = bpp == 32 ? ZT_CS_CMYK : bpp == 24 ? ZT_CS_RGB : ZT_CS_GRAY;
  h.copies = 1;
  h.pageWidth = 595;
  h.pageHeight = 842;

  std::vector<unsigned char> line(static_cast<size_t>(h.bytesPerLine));
  for (int p = 0; p < pages; ++p) {
    if (fwrite(&h, sizeof h, 1, stdout) != 1) return 1;
    for (int y = 0; y < height; ++y) {
      for (size_t x = 0; x < line.size(); ++x)
        line[x] = white ? 0xFF : static_cast<unsigned char>((x * 7 + static_cast<size_t>(y) * 13 + p) & 0xFF);
      if (fwrite(line.data(), 1, line.size(), stdout) != line.size()) return 1;
    }
  }
  return fflush(stdout) == 0 ? 0 : 1;
}
