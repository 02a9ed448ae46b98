// Fuzz harness of the raster intake: any bytes are handed to cupstoztraster
// as its input file, in process. A run that ends with 0 must have written a
// well-formed ZT raster stream (consistent uncoded headers, each followed by
// exactly its page bytes); any other end must have said why in an "ERROR: "
// line. Crashes, hangs and leaks show up under the sanitizers.
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "fuzz_capture.h"
#include "fuzz_support.h"

#define main ZTFuzzIntakeMain
#include "../intake/cupstoztraster.cpp"
#undef main

namespace {

// Walks the stream: headers that pass the check, then their bytes.
bool WellFormedStream(const std::string& out) {
  size_t at = 0;
  while (at < out.size()) {
    if (out.size() - at < sizeof(ZTRasterHeader)) return false;
    ZTRasterHeader h;
    memcpy(&h, out.data() + at, sizeof h);
    at += sizeof h;
    if (CheckZTRasterHeader(&h) != ZT_HEADER_OK || h.encoding != ZT_ENC_NONE) return false;
    if (h.colorSpace != ZT_CS_RGB && h.colorSpace != ZT_CS_GRAY) return false;
    if (static_cast<uint64_t>(h.pageBytes) > out.size() - at) return false;
    at += static_cast<size_t>(h.pageBytes);
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ZTFuzzInput input;
  input.Set(data, size);
  char arg0[] = "cupstoztraster", id[] = "1", user[] = "user", title[] = "title", copies[] = "1", options[] = "";
  char* argv[] = {arg0, id, user, title, copies, options, const_cast<char*>(input.Path()), nullptr};
  ZTFuzzBeginStdout();
  ZTFuzzBeginMessages();
  const int rc = ZTFuzzIntakeMain(7, argv);
  const std::string out = ZTFuzzEndStdout();
  const std::string messages = ZTFuzzEndMessages();
  if (rc == 0 && !WellFormedStream(out)) ZTFuzzFail("status 0 but the ZT raster stream is not well formed", messages);
  if (rc != 0 && !ZTFuzzHasErrorLine(messages)) ZTFuzzFail("non-zero status without an ERROR line", messages);
  return 0;
}

// Seeds: small pages of the kinds the rasterisers write, through
// libcupsimage's own writer (plain, compressed and PWG streams).
int ZTFuzzWriteSeeds(const char* dir) {
  struct Seed {
    const char* name;
    cups_mode_t mode;
    cups_cspace_t space;
    cups_order_t order;
    unsigned width, height, pages;
  };
  static const Seed kSeeds[] = {
      {"rgb-plain", CUPS_RASTER_WRITE, CUPS_CSPACE_RGB, CUPS_ORDER_CHUNKED, 7, 3, 2},
      {"rgb-compressed", CUPS_RASTER_WRITE_COMPRESSED, CUPS_CSPACE_RGB, CUPS_ORDER_CHUNKED, 9, 4, 1},
      {"rgb-pwg", CUPS_RASTER_WRITE_PWG, CUPS_CSPACE_SRGB, CUPS_ORDER_CHUNKED, 5, 2, 1},
      {"black-plain", CUPS_RASTER_WRITE, CUPS_CSPACE_K, CUPS_ORDER_CHUNKED, 12, 3, 1},
      {"white-banded", CUPS_RASTER_WRITE, CUPS_CSPACE_W, CUPS_ORDER_BANDED, 6, 5, 1},
      {"gray-empty-page", CUPS_RASTER_WRITE, CUPS_CSPACE_SW, CUPS_ORDER_CHUNKED, 4, 0, 2},
      {"wide-compressed", CUPS_RASTER_WRITE_COMPRESSED, CUPS_CSPACE_RGB, CUPS_ORDER_CHUNKED, 3, 1, 3},
  };
  for (const Seed& s : kSeeds) {
    const std::string path = std::string(dir) + "/" + s.name;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return 1;
    cups_raster_t* r = cupsRasterOpen(fd, s.mode);
    for (unsigned p = 0; r && p < s.pages; ++p) {
      cups_page_header2_t h{};
      h.cupsWidth = s.width + p;
      h.cupsHeight = s.height;
      h.cupsBitsPerColor = 8;
      const unsigned comps = s.space == CUPS_CSPACE_RGB || s.space == CUPS_CSPACE_SRGB ? 3 : 1;
      h.cupsBitsPerPixel = 8 * comps;
      h.cupsBytesPerLine = comps * h.cupsWidth;
      h.cupsColorOrder = s.order;
      h.cupsColorSpace = s.space;
      h.HWResolution[0] = h.HWResolution[1] = 600;
      h.PageSize[0] = 595;
      h.PageSize[1] = 842;
      h.NumCopies = 1 + p;
      std::string pixels(static_cast<size_t>(h.cupsBytesPerLine) * h.cupsHeight, '\0');
      for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<char>(i % 5 == 0 ? 255 : i * 37);
      if (!cupsRasterWriteHeader2(r, &h)) return 1;
      if (!pixels.empty() &&
          cupsRasterWritePixels(r, reinterpret_cast<unsigned char*>(pixels.data()),
                                static_cast<unsigned>(pixels.size())) != pixels.size())
        return 1;
    }
    if (!r) return 1;
    cupsRasterClose(r);
    close(fd);
  }
  return 0;
}
