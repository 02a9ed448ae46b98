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

#include "chainjob.h"
#include "runfilter.h"

namespace {

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
std::string ChainPPD() { return ChainPPDText() + "*QKCheckParamCMYK: \"True\"\n"; }

bool Ran(const FilterResult& r, const std::string& program) {
  return r.err.find("DEBUG: " + program + ": sizeof(") != std::string::npos;
}

TEST(TrappingChain, ImageFiltersRunInTheModelsChainWhenTheirOptionsAreOn) {
  const unsigned width = 120, height = 40;
  const std::string raster = RgbCupsRaster({TestPage(width, height)}, width, height);
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
  EXPECT_FALSE(Ran(job("QKTrapping=True QKColorMode=Black"), "zttrapping"));
}

}  // namespace
