// ztskipblank: blank pages vanish with their headers, every other page and
// every page of a job without "Skip" passes byte for byte.
#include <gtest/gtest.h>

#include "pageutils_support.h"
#include "ztblankpages.h"

namespace {

std::string White(size_t n) { return std::string(n, '\xFF'); }

TEST(PageutilsWhiteData, AllBytesMustBeFF) {
  EXPECT_EQ(CheckIfWhiteData(nullptr, 0), 1);
  std::string s = White(1000);
  auto* p = reinterpret_cast<const unsigned char*>(s.data());
  EXPECT_EQ(CheckIfWhiteData(p, s.size()), 1);
  for (size_t pos : {size_t{0}, size_t{1}, size_t{499}, size_t{999}}) {
    std::string t = s;
    t[pos] = '\xFE';
    EXPECT_EQ(CheckIfWhiteData(reinterpret_cast<const unsigned char*>(t.data()), t.size()), 0) << pos;
  }
  std::string zeros(64, '\0');
  EXPECT_EQ(CheckIfWhiteData(reinterpret_cast<const unsigned char*>(zeros.data()), zeros.size()), 0);
}

TEST(PageutilsSkipBlank, BlankPagesDropWithTheirHeaders) {
  ZTRasterHeader gray = MakeHeader(10, 4, 8, ZT_CS_GRAY);
  ZTRasterHeader rgb = MakeHeader(7, 3, 24, ZT_CS_RGB);
  ZTRasterHeader empty = MakeHeader(10, 0, 8, ZT_CS_GRAY);
  ZTRasterHeader cmyk = MakeHeader(5, 2, 32, ZT_CS_CMYK);
  std::string ink1 = White(40);
  ink1[39] = 0;  // one dark pixel in the last byte
  const std::string ink2 = PatternBytes(63, 7);
  const std::string cmykWhite(40, '\0');  // white in CMYK, but not 0xFF
  const std::string input = StreamOf({{gray, White(40)},
                                      {gray, ink1},
                                      {rgb, White(63)},
                                      {empty, ""},
                                      {rgb, ink2},
                                      {cmyk, cmykWhite},
                                      {cmyk, White(40)}});

  FilterResult on = RunPageUtil("ztskipblank", "QKSkip=True", input);
  ASSERT_EQ(on.status, 0) << on.err;
  EXPECT_EQ(on.out, StreamOf({{gray, ink1}, {rgb, ink2}, {cmyk, cmykWhite}}));

  FilterResult off = RunPageUtil("ztskipblank", "", input);
  ASSERT_EQ(off.status, 0) << off.err;
  EXPECT_EQ(off.out, input);
}

TEST(PageutilsSkipBlank, HalfWhitePagesComeOutByteForByte) {
  // 3000 lines of 1000 bytes: three chunks of 1048 lines; the first ink sits
  // in the third chunk, so two chunks of white are held back and restored.
  ZTRasterHeader big = MakeHeader(1000, 3000, 8, ZT_CS_GRAY);
  std::string data = White(1000 * 2500) + PatternBytes(1000 * 500, 3);
  // A later page with lines longer than the first page's chunk (two lines of
  // 1.5 MiB each): the copy buffer must cover them, and the ink in the very
  // last byte follows 3 MiB of held-back white.
  ZTRasterHeader wide = MakeHeader(1572864, 2, 8, ZT_CS_GRAY);
  std::string wideData = White(2 * 1572864);
  wideData.back() = 0x20;
  ZTRasterHeader small = MakeHeader(3, 1, 8, ZT_CS_GRAY);
  const std::string input = StreamOf({{small, "abc"}, {big, data}, {wide, wideData}, {wide, White(2 * 1572864)}});

  FilterResult r = RunPageUtil("ztskipblank", "QKSkip=True", input);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out == StreamOf({{small, "abc"}, {big, data}, {wide, wideData}}));
}

}  // namespace
