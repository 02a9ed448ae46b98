// A colour job as CUPS drives it: CUPS raster into ztmainfilter, which runs
// the intake filter, the colour conversion with the sample model's real
// device parameter file, and the printer-language filter.
#include <cups/raster.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "chainjob.h"
#include "runfilter.h"
#include "ztcolorlut.h"
#include "ztdevparam.h"
#include "ztrgboperation.h"
#include "ztstreams.h"

namespace {

// A page of smooth colour ramps, greys, white paper and black type.
std::string TestPage(unsigned width, unsigned height) {
  std::string s;
  for (unsigned y = 0; y < height; ++y)
    for (unsigned x = 0; x < width; ++x) {
      const unsigned band = y * 4 / height;
      unsigned char p[3] = {255, 255, 255};
      if (band == 0) p[0] = x * 255 / width, p[1] = 255 - p[0], p[2] = y * 255 / height;
      if (band == 1) p[0] = p[1] = p[2] = x * 255 / width;
      if (band == 3 && (x / 6) % 3 == 0) p[0] = p[1] = p[2] = 0;
      s.append(reinterpret_cast<char*>(p), 3);
    }
  return s;
}

TEST(ColourChain, CupsRasterToPrinterJobWithTheModelsTables) {
  const unsigned width = 96, height = 40;
  const std::string page = TestPage(width, height);
  TempFile ppd(ChainPPDText("cupstoztraster,ztcolorconv,ztrastertohbpl"), ".ppd");
  RunOptions opts;
  opts.ppd = ppd.path();
  const FilterResult r = RunFilter(FilterArgv("ztmainfilter", "QKDocumentType=Photo"), RgbCupsRaster({page, page}, width, height), opts);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("ERROR:"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("WARNING:"), std::string::npos) << r.err;
  ASSERT_EQ(r.out.rfind("\x1b%-12345X", 0), 0u);
  EXPECT_NE(r.out.find("@PJL ENTER LANGUAGE=HBPL"), std::string::npos);

  // The page payload is the CMYK page of the Photo table (slot 4), after the
  // tone step; white paper stays without toner.
  ASSERT_EQ(ReadDlbFile(DataPath("korva-zt.dlb").c_str()), 0);
  const icDlutPrintType* rec = dlutPrintParamTable[4];
  ASSERT_NE(rec, nullptr);
  cil_CSTParam cst;
  ASSERT_EQ(cil_Create_CST_Param_WpGm(&cst, 6500, 22), 0);
  std::string cmyk;
  for (size_t i = 0; i < page.size(); i += 3) {
    uint8_t rgb[3] = {static_cast<uint8_t>(page[i]), static_cast<uint8_t>(page[i + 1]), static_cast<uint8_t>(page[i + 2])};
    uint8_t out[4] = {0, 0, 0, 0};
    if (rgb[0] != 255 || rgb[1] != 255 || rgb[2] != 255) {
      cil_CST_Conv_sBGR_Pixel(&cst, &rgb[0], &rgb[1], &rgb[2], &rgb[0], &rgb[1], &rgb[2]);
      CMYKDlutLookup(rec, rgb[0], rgb[1], rgb[2], out);
    }
    cmyk.append(reinterpret_cast<char*>(out), 4);
  }
  ReleaseDlbInfo();
  const size_t first = r.out.find(cmyk);
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(r.out.find(cmyk, first + cmyk.size()), std::string::npos);  // both pages
  // Black type is printed with black and only a little colour under it.
  const size_t blackPixel = 4 * (static_cast<size_t>(height - 1) * width);
  EXPECT_EQ(static_cast<unsigned char>(cmyk[blackPixel + 3]), 255);
  EXPECT_LT(static_cast<unsigned char>(cmyk[blackPixel]), 128);
}

}  // namespace
