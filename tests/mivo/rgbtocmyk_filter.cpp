// A stand-in colour conversion for the chain tests: turns the 8-bit RGB
// pages of the intake into 32-bit CMYK pages with a plain under-colour
// removal that the tests can predict exactly:
//   c = 255 - r, m = 255 - g, y = 255 - b, k = min(c, m, y); c, m, y -= k.
// Reads its input (argv[6] or stdin) line by line and writes stdout.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "ztio.h"
#include "ztraster.h"

namespace {

int Convert(FILE* in, FILE* out) {
  ZTRasterHeader h;
  while (ReadZTRasterHeader_FP(in, &h)) {
    if (CheckZTRasterHeader(&h) != ZT_HEADER_OK || h.bitsPerPixel != 24 || h.colorSpace != ZT_CS_RGB) {
      std::fputs("ERROR: ztt_rgbtocmyk: not an uncoded 8-bit RGB page\n", stderr);
      return 1;
    }
    const size_t width = static_cast<size_t>(h.width);
    const uint64_t pageBytes = 4ull * width * static_cast<uint64_t>(h.height);
    if (pageBytes > INT32_MAX) {
      std::fputs("ERROR: ztt_rgbtocmyk: page too large\n", stderr);
      return 1;
    }
    ZTRasterHeader o = h;
    o.bitsPerPixel = 32;
    o.bytesPerLine = static_cast<int32_t>(4 * width);
    o.pageBytes = static_cast<int32_t>(pageBytes);
    o.colorSpace = ZT_CS_CMYK;
    if (!WriteZTRasterHeader_FP(out, &o)) return 1;
    std::vector<unsigned char> rgb(3 * width), cmyk(4 * width);
    for (int32_t y = 0; y < h.height; ++y) {
      if (std::fread(rgb.data(), 1, rgb.size(), in) != rgb.size()) {
        std::fputs("ERROR: ztt_rgbtocmyk: page data ends early\n", stderr);
        return 1;
      }
      for (size_t x = 0; x < width; ++x) {
        const unsigned char c = 255 - rgb[3 * x], m = 255 - rgb[3 * x + 1], ye = 255 - rgb[3 * x + 2];
        const unsigned char k = std::min(c, std::min(m, ye));
        cmyk[4 * x] = c - k;
        cmyk[4 * x + 1] = m - k;
        cmyk[4 * x + 2] = ye - k;
        cmyk[4 * x + 3] = k;
      }
      if (std::fwrite(cmyk.data(), 1, cmyk.size(), out) != cmyk.size()) return 1;
    }
  }
  return ZTFlushCheck_FP(out) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  ZTFilterArgs args;
  if (ZTParseFilterArgs(argc, argv, 6, 7, &args) != 0) {
    std::fputs("ERROR: ztt_rgbtocmyk job-id user title copies options [file]\n", stderr);
    return 1;
  }
  ZTStream in(ZTOpenInput_FP(args.inputFile));
  if (!in.get()) {
    std::fputs("ERROR: ztt_rgbtocmyk: unable to open the input\n", stderr);
    return 1;
  }
  return Convert(in.get(), stdout);
}
