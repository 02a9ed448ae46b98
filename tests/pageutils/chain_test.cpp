// The three page utilities as members of a chain under ztmainfilter, each
// selected by its condition in the sample PPD.
#include <gtest/gtest.h>


#include "chainjob.h"
#include "pageutils_support.h"

namespace {

// The sample PPD, conditions included, with a chain of the page utilities
// taken from the build.
std::string PageutilsChainPPD() { return ChainPPDText("ztskipblank,zttrc,ztrotate"); }

std::string Reversed(std::string s) { return std::string(s.rbegin(), s.rend()); }

const std::string kA("\xFF\x64\x14\x01\x00", 5);
const std::string kA07("\xB2\x45\x0D\x00\x00", 5);
const std::string kA035("\x59\x22\x06\x00\x00", 5);
const std::string kB = "abcde";
const std::string kB07("\x43\x44\x45\x45\x46", 5);  // 97..101 scaled by 0.7
const std::string kW(5, '\xFF');
const std::string kW07(5, '\xB2');

struct ChainCase {
  const char* name;
  std::string options;
  std::vector<std::string> pages;  // expected page data, in order
};

void PrintTo(const ChainCase& c, std::ostream* os) { *os << c.name; }

class PageutilsChain : public testing::TestWithParam<ChainCase> {};

TEST_P(PageutilsChain, RunsTheSelectedFilters) {
  const ZTRasterHeader h = MakeHeader(5, 1, 8, ZT_CS_GRAY);
  const std::string input = StreamOf({{h, kA}, {h, kW}, {h, kB}, {h, kA}});
  TempFile ppd(PageutilsChainPPD(), ".ppd");
  RunOptions opts;
  opts.ppd = ppd.path();
  FilterResult r = RunFilter(FilterArgv("ztmainfilter", GetParam().options), input, opts);
  ASSERT_EQ(r.status, 0) << r.err;
  std::string expected;
  for (const auto& p : GetParam().pages) expected += PageBytes(h, p);
  EXPECT_EQ(r.out, expected) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, PageutilsChain,
    testing::Values(
        // No condition holds: nothing runs and nothing is written.
        ChainCase{"NoneSelected", "", {}},
        ChainCase{"ThinInkInColourSelectsNothing", "QKThinInkPrint=True", {}},
        ChainCase{"Skip", "QKSkip=True", {kA, kB, kA}},
        ChainCase{"TonerSaver", "QKTonerSaver=True", {kA07, kW07, kB07, kA07}},
        ChainCase{"ThinInkMono", "QKThinInkPrint=True QKColorMode=Black",
                  {kA035, std::string(5, '\x59'), std::string("\x21\x22\x22\x22\x23", 5), kA035}},
        ChainCase{"LongEdge", "Duplex=DuplexNoTumble", {kA, kW, kB, Reversed(kA)}},
        ChainCase{"TurnPage", "QKTurnPage=True", {Reversed(kA), kW, Reversed(kB), Reversed(kA)}},
        ChainCase{"AllThree", "QKSkip=True QKTonerSaver=True Duplex=DuplexNoTumble",
                  {kA07, Reversed(kB07), kA07}}),
    [](const testing::TestParamInfo<ChainCase>& info) { return std::string(info.param.name); });

}  // namespace
