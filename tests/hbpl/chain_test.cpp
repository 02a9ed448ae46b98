// The end of the chain as CUPS drives it: CUPS raster into ztmainfilter,
// which runs the intake filter and ztrastertohbpl, and a complete printer job
// out that the job reader accepts byte for byte.
#include <cups/raster.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "hbpljob.h"
#include "chainjob.h"
#include "runfilter.h"
#include "ztstreams.h"

namespace {

TEST(HbplChain, CupsRasterBecomesACompletePrinterJob) {
  const unsigned width = 120, height = 50;
  const std::vector<std::string> pages = {PatternBytes(3 * width * height, 1), PatternBytes(3 * width * height, 2)};
  // The sample model's chain, cut down to the two ends, run from the build.
  TempFile chainPPD(ChainPPDText("cupstoztraster,ztrastertohbpl"), ".ppd");

  RunOptions opts;
  opts.ppd = chainPPD.path();
  const FilterResult r = RunFilter(FilterArgv("ztmainfilter", "Collate=False", "2"), RgbCupsRaster(pages, width, height), opts);
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
