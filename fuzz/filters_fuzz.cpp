// Fuzz harness of the filters' page functions, in process: the first input
// byte chooses the filter, the second the job's options and copies, the
// rest is the ZT raster stream the filter reads. Each filter runs through
// its own main (compiled from its source, see filters/), with the PPD of the
// sample model. A run that ends with 0 must have written a well-formed
// result: a ZT raster stream with one page per input page (the blank-page
// filter may drop pages), or for the printer-language filter a job framed
// by its PJL block and trailer. Any other end must have said why in an
// "ERROR: " line.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "ztraster.h"

int ZTFuzzMain_ztskipblank(int, char**);
int ZTFuzzMain_ztrotate(int, char**);
void ZTFuzzReset_ztrotate();
int ZTFuzzMain_zttrc(int, char**);
int ZTFuzzMain_ztcolorconv(int, char**);
int ZTFuzzMain_zttrapping(int, char**);
int ZTFuzzMain_ztedgeenhance(int, char**);
int ZTFuzzMain_ztdigitalfilter(int, char**);
int ZTFuzzMain_ztmivo5(int, char**);
int ZTFuzzMain_ztrastertohbpl(int, char**);

namespace {

struct Filter {
  const char* name;
  int (*main)(int, char**);
  void (*reset)();
};

enum FilterIndex { SKIPBLANK, ROTATE, TRC, COLORCONV, TRAPPING, EDGEENHANCE, DIGITALFILTER, MIVO5, HBPL, FILTERS };

const Filter kFilters[FILTERS] = {
    {"ztskipblank", ZTFuzzMain_ztskipblank, nullptr},     {"ztrotate", ZTFuzzMain_ztrotate, ZTFuzzReset_ztrotate},
    {"zttrc", ZTFuzzMain_zttrc, nullptr},                 {"ztcolorconv", ZTFuzzMain_ztcolorconv, nullptr},
    {"zttrapping", ZTFuzzMain_zttrapping, nullptr},       {"ztedgeenhance", ZTFuzzMain_ztedgeenhance, nullptr},
    {"ztdigitalfilter", ZTFuzzMain_ztdigitalfilter, nullptr}, {"ztmivo5", ZTFuzzMain_ztmivo5, nullptr},
    {"ztrastertohbpl", ZTFuzzMain_ztrastertohbpl, nullptr},
};

// Job options that switch on the filters' different paths.
const char* const kOptions[] = {
    "",
    "QKSkip=True",
    "Duplex=DuplexNoTumble",
    "Duplex=DuplexNoTumble QKTurnPage=True OutputOrder=Reverse",
    "Duplex=DuplexNoTumble OutputOrder=Reverse QKSkip=True",
    "Duplex=DuplexNoTumble OutputOrder=Reverse com.apple.print.PrintSettings.PMTotalSidesImaged..n.=5 page-set=odd",
    "Duplex=DuplexTumble QKTurnPage=True",
    "QKTonerSaver=True",
    "QKThinInkPrint=True QKColorMode=Black",
    "QKColorMode=Black",
    "QKDocumentType=Off",
    "QKDocumentType=Photo QKTrapping=True QKEdgeEnhance=True QKDigitalFilter=High",
    "QKTrapping=True QKScreen2=Fineness",
    "QKEdgeEnhance=True QKScreen2=Gradation QKDocumentType=Graphics",
    "QKDigitalFilter=Low",
    "QKDigitalFilter=Middle QKColorMode=Black",
    "QKOutputMode=300x300 Collate=False OutputOrder=Reverse Duplex=DuplexNoTumble",
    "QKSecurityPrint=Private QKSecurityPasswd=Pin1234 number-up=2 PageSize=Letter",
};
constexpr size_t kOptionCount = sizeof kOptions / sizeof kOptions[0];

// Pages of a ZT raster stream, walked as the filters read it: -1 when a
// page's data is cut short or its size is negative.
int CountPages(const std::string& s) {
  int pages = 0;
  for (size_t at = 0; s.size() - at >= sizeof(ZTRasterHeader); ++pages) {
    ZTRasterHeader h;
    memcpy(&h, s.data() + at, sizeof h);
    at += sizeof h;
    if (h.pageBytes < 0 || static_cast<uint64_t>(h.pageBytes) > s.size() - at) return -1;
    at += static_cast<size_t>(h.pageBytes);
  }
  return pages;
}

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Runs one filter over the stream; its output in *out. The exit status.
int RunFilter(int filter, size_t option, int copies, const uint8_t* stream, size_t size, std::string* out,
              std::string* messages) {
  static ZTFuzzInput input;
  ZTFuzzSetUpPPD();
  input.Set(stream, size);
  std::string name = kFilters[filter].name, copiesArg = std::to_string(copies), options = kOptions[option];
  char id[] = "1", user[] = "user", title[] = "title";
  char* argv[] = {name.data(), id, user, title, copiesArg.data(), options.data(), const_cast<char*>(input.Path()),
                  nullptr};
  if (kFilters[filter].reset) kFilters[filter].reset();
  ZTFuzzBeginStdout();
  ZTFuzzBeginMessages();
  const int rc = kFilters[filter].main(7, argv);
  *out = ZTFuzzEndStdout();
  *messages = ZTFuzzEndMessages();
  return rc;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int filter = data[0] % FILTERS;
  const size_t option = data[1] % kOptionCount;
  const int copies = 1 + static_cast<int>(data[1] / kOptionCount % 3);
  std::string out, messages;
  const int rc = RunFilter(filter, option, copies, data + 2, size - 2, &out, &messages);
  if (rc != 0) {
    if (!ZTFuzzHasErrorLine(messages)) ZTFuzzFail("non-zero status without an ERROR line", messages);
    return 0;
  }
  const int pagesIn = CountPages(std::string(reinterpret_cast<const char*>(data + 2), size - 2));
  if (filter == HBPL) {
    if (out.compare(0, 31, "\x1B%-12345X@PJL JOB MODE=PRINTER\n") != 0 || !EndsWith(out, "\x1B%-12345X@PJL EOJ\n"))
      ZTFuzzFail("status 0 but the printer job is not framed by its PJL block and trailer", messages);
    return 0;
  }
  const int pagesOut = CountPages(out);
  if (pagesIn < 0 || pagesOut < 0 || (filter == SKIPBLANK ? pagesOut > pagesIn : pagesOut != pagesIn))
    ZTFuzzFail("status 0 but the output stream does not hold the input's pages", messages);
  return 0;
}

namespace {

std::string Page(int width, int height, int bytesPerPixel, uint32_t colorSpace, int pattern) {
  ZTRasterHeader h{};
  h.width = width;
  h.height = height;
  h.bitsPerPixel = 8 * bytesPerPixel;
  h.bytesPerLine = width * bytesPerPixel;
  h.pageBytes = h.bytesPerLine * height;
  h.resolutionX = h.resolutionY = 600;
  h.landscape = width > height;
  h.colorSpace = colorSpace;
  h.copies = 1;
  h.pageWidth = 595;
  h.pageHeight = 842;
  std::string page(reinterpret_cast<const char*>(&h), sizeof h);
  for (int i = 0; i < h.pageBytes; ++i)
    page += static_cast<char>(pattern < 0 ? 0xFF : (i * 37 + pattern) % 7 == 0 ? 0 : (i * 11 + pattern * 5) & 0xFF);
  return page;
}

bool WriteSeed(const char* dir, int n, int filter, size_t option, const std::string& stream) {
  std::string bytes;
  bytes += static_cast<char>(filter);
  bytes += static_cast<char>(option + (n % 2 ? kOptionCount : 0));
  bytes += stream;
  const std::string path = std::string(dir) + "/" + kFilters[filter].name + "-" + std::to_string(n);
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  fwrite(bytes.data(), 1, bytes.size(), f);
  return fclose(f) == 0;
}

}  // namespace

// Seeds: for every filter a short stream of the page forms it takes, under
// the options that switch its work on; the printer-language filter gets the
// compression filter's coded pages as well as raw ones.
int ZTFuzzWriteSeeds(const char* dir) {
  const std::string rgb = Page(7, 3, 3, ZT_CS_RGB, 1) + Page(5, 4, 3, ZT_CS_RGB, 2);
  const std::string white = Page(6, 2, 3, ZT_CS_RGB, -1);
  const std::string grey = Page(9, 2, 1, ZT_CS_GRAY, 3);
  const std::string cmyk = Page(9, 6, 4, ZT_CS_CMYK, 4) + Page(3, 2, 4, ZT_CS_CMYK, 5);
  std::string coded, messages;
  if (RunFilter(MIVO5, 0, 1, reinterpret_cast<const uint8_t*>(cmyk.data()), cmyk.size(), &coded, &messages) != 0)
    return 1;
  struct Seed {
    int filter;
    size_t option;
    std::string stream;
  };
  const Seed seeds[] = {
      {SKIPBLANK, 1, white + rgb + white}, {SKIPBLANK, 0, grey},
      {ROTATE, 2, grey + rgb + cmyk},       {ROTATE, 3, rgb},
      {ROTATE, 4, cmyk + grey},             {ROTATE, 5, grey + grey},
      {ROTATE, 6, cmyk},                    {TRC, 7, cmyk},
      {TRC, 8, grey},                       {COLORCONV, 0, rgb},
      {COLORCONV, 9, rgb},                  {COLORCONV, 10, white + rgb},
      {COLORCONV, 11, rgb},                 {TRAPPING, 12, cmyk},
      {TRAPPING, 11, cmyk},                 {EDGEENHANCE, 13, cmyk},
      {DIGITALFILTER, 14, cmyk},            {DIGITALFILTER, 15, cmyk},
      {MIVO5, 0, cmyk},                     {MIVO5, 9, cmyk},
      {HBPL, 0, coded},                     {HBPL, 16, coded + coded},
      {HBPL, 17, grey + rgb},
  };
  int n = 0;
  for (const Seed& s : seeds)
    if (!WriteSeed(dir, n++, s.filter, s.option, s.stream)) return 1;
  return 0;
}
