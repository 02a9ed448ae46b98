// Writes a CUPS raster stream of synthetic 8-bit RGB pages with
// libcupsimage's own writer, for the intake benchmark:
//   intake_mkraster width height pages plain|compressed
#include <cups/raster.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char* argv[]) {
  if (argc != 5) {
    fputs("usage: intake_mkraster width height pages plain|compressed\n", stderr);
    return 1;
  }
  const long width = atol(argv[1]);
  const long height = atol(argv[2]);
  const long pages = atol(argv[3]);
  const bool compressed = strcmp(argv[4], "compressed") == 0;
  if (width <= 0 || height <= 0 || pages < 0 || width > 100000 || height > 100000) {
    fputs("intake_mkraster: bad page geometry\n", stderr);
    return 1;
  }
  cups_raster_t* r = cupsRasterOpen(1, compressed ? CUPS_RASTER_WRITE_COMPRESSED : CUPS_RASTER_WRITE);
  if (!r) return 1;
  cups_page_header2_t h;
  memset(&h, 0, sizeof h);
  h.cupsWidth = static_cast<unsigned>(width);
  h.cupsHeight = static_cast<unsigned>(height);
  h.cupsColorSpace = CUPS_CSPACE_RGB;
  h.cupsColorOrder = CUPS_ORDER_CHUNKED;
  h.cupsBitsPerColor = 8;
  h.cupsBitsPerPixel = 24;
  h.cupsNumColors = 3;
  h.cupsBytesPerLine = h.cupsWidth * 3;
  h.HWResolution[0] = h.HWResolution[1] = 600;
  h.PageSize[0] = 595;
  h.PageSize[1] = 842;
  h.NumCopies = 1;
  std::vector<unsigned char> line(h.cupsBytesPerLine);
  for (long p = 0; p < pages; ++p) {
    if (!cupsRasterWriteHeader2(r, &h)) return 1;
    for (long y = 0; y < height; ++y) {
      // Text-like content: white with a band of varied pixels in each line.
      for (size_t x = 0; x < line.size(); ++x)
        line[x] = (x / 3 + static_cast<size_t>(y)) % 97 < 20 ? static_cast<unsigned char>(x * 7 + y) : 0xff;
      if (cupsRasterWritePixels(r, line.data(), h.cupsBytesPerLine) != h.cupsBytesPerLine) return 1;
    }
  }
  cupsRasterClose(r);
  return 0;
}
