// The end of the chain as CUPS drives it: CUPS raster into ztmainfilter,
// which runs the intake filter and ztrastertohbpl, and a complete printer job
// out that the job reader accepts byte for byte.
#include <cups/raster.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "hbpljob.h"
#include "runfilter.h"
#include "ztstreams.h"

namespace {

// A CUPS raster stream of 8-bit RGB pages, written by libcupsimage.
std::string CupsRaster(const std::vector<std::string>& pages, unsigned width, unsigned height) {
  TempFile file;
  const int fd = open(file.path().c_str(), O_WRONLY | O_TRUNC);
  cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
  for (const std::string& pixels : pages) {
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
    cupsRasterWritePixels(raster, reinterpret_cast<unsigned char*>(const_cast<char*>(pixels.data())),
                          static_cast<unsigned>(pixels.size()));
  }
  cupsRasterClose(raster);
  close(fd);
  return file.Read();
}

TEST(HbplChain, CupsRasterBecomesACompletePrinterJob) {
  const unsigned width = 120, height = 50;
  const std::vector<std::string> pages = {PatternBytes(3 * width * height, 1), PatternBytes(3 * width * height, 2)};
  const std::string bin = ProgramPath("");
  const std::string text = ReadFileText(DataPath("korva-zt.ppd"));
  // The sample model's chain, cut down to the two ends, run from the build.
  const size_t chain = text.find("*QKFilterChain:");
  const size_t dir = text.find("*QKFilterDir:");
  ASSERT_NE(chain, std::string::npos);
  ASSERT_NE(dir, std::string::npos);
  std::string variant = text;
  variant.replace(dir, variant.find('\n', dir) - dir, "*QKFilterDir: \"" + bin.substr(0, bin.size() - 1) + "\"");
  variant.replace(chain, variant.find('\n', chain) - chain, "*QKFilterChain: \"cupstoztraster,ztrastertohbpl\"");
  TempFile chainPPD(variant, ".ppd");

  RunOptions opts;
  opts.ppd = chainPPD.path();
  const FilterResult r = RunFilter(FilterArgv("ztmainfilter", "Collate=False", "2"), CupsRaster(pages, width, height), opts);
  ASSERT_EQ(r.status, 0) << r.err;
  hbpljob::Job job;
  hbpljob::Error error;
  ASSERT_TRUE(hbpljob::ParseJob(r.out, &job, &error)) << error.message << " at " << error.offset;
  EXPECT_EQ(hbpljob::FindPJLValues(job.headerLines, "COPIES"), std::vector<std::string>{"2"});
  ASSERT_EQ(job.pages.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(job.pages[i].Get(0x9A).first, width);
    EXPECT_EQ(job.pages[i].Get(0x99).first, i + 1);
    ASSERT_EQ(job.pages[i].images.size(), 1u);
    EXPECT_TRUE(job.pages[i].images[0].bytes == pages[i]) << "page " << i + 1;
  }
  EXPECT_NE(r.err.find("PAGE: 2 2\n"), std::string::npos) << r.err;
}

}  // namespace
