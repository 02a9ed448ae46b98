// zttrc: the factor a job gets and what it does to the bytes.
#include <gtest/gtest.h>

#include "pageutils_support.h"

namespace {

// Bytes whose scaled values are known: 255, 100, 20, 1 and 0.
const std::string kProbe("\xFF\x64\x14\x01\x00", 5);
const std::string kScaled07("\xB2\x45\x0D\x00\x00", 5);   // 178 69 13 0 0
const std::string kScaled035("\x59\x22\x06\x00\x00", 5);  // 89 34 6 0 0

struct TrcCase {
  const char* name;
  std::string options;
  std::string expected;
};

void PrintTo(const TrcCase& c, std::ostream* os) { *os << c.name; }

class PageutilsTrcFactor : public testing::TestWithParam<TrcCase> {};

TEST_P(PageutilsTrcFactor, ScalesEveryByte) {
  ZTRasterHeader h = MakeHeader(5, 2, 8, ZT_CS_GRAY);
  FilterResult r = RunPageUtil("zttrc", GetParam().options, StreamOf({{h, kProbe + kProbe}, {h, kProbe + kProbe}}));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string page = GetParam().expected + GetParam().expected;
  EXPECT_EQ(r.out, StreamOf({{h, page}, {h, page}}));
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, PageutilsTrcFactor,
    testing::Values(TrcCase{"Neither", "", kProbe},
                    TrcCase{"TonerSaver", "QKTonerSaver=True", kScaled07},
                    TrcCase{"ThinInkInColour", "QKThinInkPrint=True", kProbe},
                    TrcCase{"ThinInkInColourWithTonerSaver", "QKThinInkPrint=True QKTonerSaver=True", kScaled07},
                    TrcCase{"ThinInkMono", "QKThinInkPrint=True QKColorMode=Black", kScaled035},
                    TrcCase{"ThinInkMonoWithTonerSaver", "QKThinInkPrint=True QKColorMode=Black QKTonerSaver=True",
                            kScaled035}),
    [](const testing::TestParamInfo<TrcCase>& info) { return std::string(info.param.name); });

TEST(PageutilsTrc, ScalesPagesLargerThanOneChunk) {
  // 4 MiB chunks: a CMYK page of a little more than two chunks.
  ZTRasterHeader h = MakeHeader(1000, 2200, 32, ZT_CS_CMYK);
  std::string data, expected;
  while (data.size() < static_cast<size_t>(h.pageBytes)) {
    data += kProbe;
    expected += kScaled07;
  }
  data.resize(static_cast<size_t>(h.pageBytes));
  expected.resize(data.size());
  FilterResult r = RunPageUtil("zttrc", "QKTonerSaver=True", PageBytes(h, data));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out == PageBytes(h, expected));
}

}  // namespace
