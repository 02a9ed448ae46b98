// ztrotate: the 180-degree turn itself and which pages of a job are turned.
#include <gtest/gtest.h>

#include "pageutils_support.h"

namespace {

// The page turned by 180 degrees: its pixels in reverse order.
std::string Turned(const std::string& data, size_t pixel) {
  std::string out;
  out.reserve(data.size());
  for (size_t pos = data.size(); pos >= pixel; pos -= pixel) out.append(data, pos - pixel, pixel);
  return out;
}

TEST(PageutilsRotate, TurnsPixelsOfOneThreeAndFourBytes) {
  ZTRasterHeader gray = MakeHeader(3, 1, 8, ZT_CS_GRAY);
  ZTRasterHeader rgb = MakeHeader(2, 1, 24, ZT_CS_RGB);
  ZTRasterHeader cmyk = MakeHeader(2, 2, 32, ZT_CS_CMYK);
  const std::string input = StreamOf({{gray, "abc"}, {rgb, "RGBrgb"}, {cmyk, "0123456789ABCDEF"}});
  FilterResult r = RunPageUtil("ztrotate", "QKTurnPage=True", input);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, StreamOf({{gray, "cba"}, {rgb, "rgbRGB"}, {cmyk, "CDEF89AB45670123"}}));
}

TEST(PageutilsRotate, TurnsPagesLargerThanOneChunk) {
  // 3 MiB chunks: an odd-width RGB page of about 3.4 MiB and a CMYK page of
  // a little more than two chunks, both reversed across chunk boundaries.
  ZTRasterHeader rgb = MakeHeader(1001, 1200, 24, ZT_CS_RGB);
  ZTRasterHeader cmyk = MakeHeader(1003, 1600, 32, ZT_CS_CMYK);
  ZTRasterHeader gray = MakeHeader(3145729, 1, 8, ZT_CS_GRAY);
  const std::string a = PatternBytes(static_cast<size_t>(rgb.pageBytes), 11);
  const std::string b = PatternBytes(static_cast<size_t>(cmyk.pageBytes), 12);
  const std::string c = PatternBytes(static_cast<size_t>(gray.pageBytes), 13);
  FilterResult r = RunPageUtil("ztrotate", "QKTurnPage=True", StreamOf({{rgb, a}, {cmyk, b}, {gray, c}}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out == StreamOf({{rgb, Turned(a, 3)}, {cmyk, Turned(b, 4)}, {gray, Turned(c, 1)}}));
}

// Which pages of a job come out turned ('T') or unchanged ('-').
struct SideCase {
  const char* name;
  std::string options;
  int pages;
  std::string copies;
  std::string expected;
};

std::string TurnedPattern(const SideCase& c) {
  ZTRasterHeader h = MakeHeader(4, 2, 8, ZT_CS_GRAY);
  std::vector<std::pair<ZTRasterHeader, std::string>> pages;
  for (int i = 0; i < c.pages; ++i) pages.push_back({h, PatternBytes(8, 100 + i)});
  FilterResult r = RunPageUtil("ztrotate", c.options, StreamOf(pages), c.copies);
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<ParsedPage> out = ParseStream(r.out);
  if (out.size() != pages.size()) return "page count " + std::to_string(out.size());
  std::string pattern;
  for (size_t i = 0; i < out.size(); ++i) {
    EXPECT_EQ(HeaderBytes(out[i].header), HeaderBytes(pages[i].first));
    if (out[i].data == pages[i].second) pattern += '-';
    else if (out[i].data == Turned(pages[i].second, 1)) pattern += 'T';
    else pattern += '?';
  }
  return pattern;
}

void PrintTo(const SideCase& c, std::ostream* os) { *os << c.name; }

class PageutilsRotateSides : public testing::TestWithParam<SideCase> {};

TEST_P(PageutilsRotateSides, TurnsTheRightPages) { EXPECT_EQ(TurnedPattern(GetParam()), GetParam().expected); }

const std::string kReverse = "Duplex=DuplexNoTumble OutputOrder=Reverse ";
const std::string kTotal = "com.apple.print.PrintSettings.PMTotalSidesImaged..n.=";

INSTANTIATE_TEST_SUITE_P(
    Jobs, PageutilsRotateSides,
    testing::Values(
        SideCase{"Simplex", "", 3, "1", "---"},
        SideCase{"SimplexTurnPage", "QKTurnPage=True", 3, "1", "TTT"},
        SideCase{"ShortEdge", "Duplex=DuplexTumble", 3, "1", "---"},
        SideCase{"ShortEdgeTurnPage", "Duplex=DuplexTumble QKTurnPage=True", 3, "1", "TTT"},
        SideCase{"LongEdge", "Duplex=DuplexNoTumble", 5, "1", "-T-T-"},
        SideCase{"LongEdgeTurnPage", "Duplex=DuplexNoTumble QKTurnPage=True", 5, "1", "T-T-T"},
        // Client total 5, one copy: odd, the first page is a back side.
        SideCase{"ReverseTotal5", kReverse + kTotal + "5", 5, "1", "T-T-T"},
        // Ten sides over two copies are five pages per copy.
        SideCase{"ReverseTotal10TwoCopies", kReverse + kTotal + "10", 2, "2", "T-"},
        // Odd pages of 7: 4 pages, even, the first page is a front side.
        SideCase{"ReverseOddOf7", kReverse + kTotal + "7 page-set=odd", 4, "1", "-T-T"},
        SideCase{"ReverseEvenOf7", kReverse + kTotal + "7 page-set=even", 3, "1", "T-T"},
        // No client total: the stream is counted (3 pages, odd).
        SideCase{"ReverseCounted", kReverse, 3, "1", "T-T"},
        // Blank pages may have gone: the count of the stream (3) wins over
        // the client's total (4).
        SideCase{"ReverseSkipCounts", kReverse + kTotal + "4 QKSkip=True", 3, "1", "T-T"},
        // Reverse order outside long-edge duplex changes nothing.
        SideCase{"ReverseSimplexTurnPage", "OutputOrder=Reverse QKTurnPage=True " + kTotal + "5", 2, "1", "TT"}),
    [](const testing::TestParamInfo<SideCase>& info) { return std::string(info.param.name); });

TEST(PageutilsRotate, CopiesAnEmptyStreamWhenNothingIsTurned) {
  FilterResult r = RunPageUtil("ztrotate", "", "");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
}

}  // namespace
