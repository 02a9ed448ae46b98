// The three image filters in the sample model's chain: CUPS raster into
// ztmainfilter, which runs the intake, the colour conversion, trapping, edge
// enhancement and the digital filter when their options ask for them (the
// PPD's ExecCondition attributes), then compression and the printer
// language; with the sample model's device parameter file.
#include <cups/raster.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "runfilter.h"

namespace {

std::string CupsRaster(const std::string& rgb, unsigned width, unsigned height) {
  TempFile file;
  const int fd = open(file.path().c_str(), O_WRONLY | O_TRUNC);
  cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
  cups_page_header2_t h{};
  h.cupsWidth = width;
  h.cupsHeight = height;
  h.cupsBitsPerColor = 8;
  h.cupsBitsPerPixel = 24;
  h.cupsBytesPerLine = 3 * width;
  h.cupsColorOrder = CUPS_ORDER_CHUNKED;
  h.cupsColorSpace = CUPS_CSPACE_RGB;
  h.HWResolution[0] = h.HWResolution[1] = 600;
  h.PageSize[0] = 595;
  h.PageSize[1] = 842;
  h.NumCopies = 1;
  cupsRasterWriteHeader2(raster, &h);
  cupsRasterWritePixels(raster, reinterpret_cast<unsigned char*>(const_cast<char*>(rgb.data())),
                        static_cast<unsigned>(rgb.size()));
  cupsRasterClose(raster);
  close(fd);
  return file.Read();
}

// Black bars on a coloured ground beside white paper.
std::string TestPage(unsigned width, unsigned height) {
  std::string s;
  for (unsigned y = 0; y < height; ++y)
    for (unsigned x = 0; x < width; ++x) {
      unsigned char p[3] = {255, 255, 255};
      if (x >= width / 2) p[0] = 40, p[1] = 160, p[2] = 230;
      if ((x / 5) % 4 == 1 && y > 4 && y + 4 < height) p[0] = p[1] = p[2] = 0;
      s.append(reinterpret_cast<char*>(p), 3);
    }
  return s;
}

// The sample PPD with its chain run from the build folder, the device
// parameter file of the source tree and the parameter dump on (which shows
// which image filters ran).
std::string ChainPPD() {
  std::string text = ReadFileText(DataPath("korva-zt.ppd"));
  const std::string bin = ProgramPath("");
  auto replaceLine = [&](const std::string& key, const std::string& line) {
    const size_t at = text.find(key);
    if (at == std::string::npos) throw std::runtime_error("the sample PPD has no " + key);
    text.replace(at, text.find('\n', at) - at, line);
  };
  replaceLine("*QKFilterDir:", "*QKFilterDir: \"" + bin.substr(0, bin.size() - 1) + "\"");
  replaceLine("*QKDlutFilePath:", "*QKDlutFilePath: \"" + DataPath("korva-zt.dlb") + "\"");
  return text + "*QKCheckParamCMYK: \"True\"\n";
}

bool Ran(const FilterResult& r, const std::string& program) {
  return r.err.find("DEBUG: " + program + ": sizeof(") != std::string::npos;
}

TEST(TrappingChain, ImageFiltersRunInTheModelsChainWhenTheirOptionsAreOn) {
  const unsigned width = 120, height = 40;
  const std::string raster = CupsRaster(TestPage(width, height), width, height);
  const TempFile ppd(ChainPPD(), ".ppd");
  RunOptions opts;
  opts.ppd = ppd.path();
  auto job = [&](const std::string& options) {
    const FilterResult r = RunFilter(FilterArgv("ztmainfilter", options), raster, opts);
    EXPECT_EQ(r.status, 0) << options << "\n" << r.err;
    EXPECT_EQ(r.err.find("ERROR:"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("WARNING:"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.rfind("\x1b%-12345X", 0), 0u) << options;
    return r;
  };

  const FilterResult plain = job("");
  EXPECT_FALSE(Ran(plain, "zttrapping"));
  EXPECT_FALSE(Ran(plain, "ztedgeenhance"));
  EXPECT_FALSE(Ran(plain, "ztdigitalfilter"));

  const FilterResult all = job("QKTrapping=True QKEdgeEnhance=True QKDigitalFilter=Middle");
  EXPECT_TRUE(Ran(all, "zttrapping"));
  EXPECT_TRUE(Ran(all, "ztedgeenhance"));
  EXPECT_TRUE(Ran(all, "ztdigitalfilter"));
  EXPECT_NE(all.out.size(), 0u);
  EXPECT_NE(all.out.substr(200), plain.out.substr(200)) << "the page data should change";

  for (const char* option : {"QKTrapping=True", "QKEdgeEnhance=True", "QKDigitalFilter=High"}) {
    const FilterResult one = job(option);
    EXPECT_EQ(Ran(one, "zttrapping"), std::string(option) == "QKTrapping=True") << option;
    EXPECT_EQ(Ran(one, "ztedgeenhance"), std::string(option) == "QKEdgeEnhance=True") << option;
    EXPECT_EQ(Ran(one, "ztdigitalfilter"), std::string(option) == "QKDigitalFilter=High") << option;
  }

  // Trapping is for colour jobs only.
  EXPECT_FALSE(Ran(job("QKTrapping=True QKColorMode=Mono"), "zttrapping"));
}

}  // namespace
