// Writes a ZT raster stream of uncoded CMYK pages for the printer-language
// benchmark: hbpl_mkstream WIDTH HEIGHT PAGES > stream
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "ztio.h"
#include "ztraster.h"

int main(int argc, char* argv[]) {
  if (argc != 4) {
    fputs("usage: hbpl_mkstream WIDTH HEIGHT PAGES\n", stderr);
    return 1;
  }
  const long width = atol(argv[1]);
  const long height = atol(argv[2]);
  const long pages = atol(argv[3]);
  const long long bytes = 4LL * width * height;
  if (width <= 0 || height <= 0 || pages <= 0 || bytes > 0x7FFFFFFF) {
    fputs("hbpl_mkstream: bad page size\n", stderr);
    return 1;
  }
  ZTRasterHeader h{};
  h.width = static_cast<int32_t>(width);
  h.height = static_cast<int32_t>(height);
  h.bitsPerPixel = 32;
  h.bytesPerLine = static_cast<int32_t>(4 * width);
  h.pageBytes = static_cast<int32_t>(bytes);
  h.resolutionX = h.resolutionY = 600;
  h.colorSpace = ZT_CS_CMYK;
  h.copies = 1;
  h.pageWidth = 595;
  h.pageHeight = 842;
  std::vector<unsigned char> chunk(1 << 20);
  for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<unsigned char>(i * 2654435761u >> 24);
  for (long p = 0; p < pages; ++p) {
    if (!WriteZTRasterHeader(1, &h)) return 1;
    for (long long left = bytes; left > 0;) {
      const size_t n = left < static_cast<long long>(chunk.size()) ? static_cast<size_t>(left) : chunk.size();
      if (ZTWriteFull(1, chunk.data(), n) != 0) return 1;
      left -= static_cast<long long>(n);
    }
  }
  return 0;
}
