// ztedgeenhance as a program: record selection and unpacking, the dump, the
// copy path and the failure rows.
#include <gtest/gtest.h>

#include "imagefilter_support.h"

namespace {

const char kProgram[] = "ztedgeenhance";

// Each plane has 200 in columns 3..5 of a 6 x 5 page; with eeth0 600 the
// edges are columns 3 and 5 and the top and bottom rows (see the unit tests).
CmykPage StepPage() {
  CmykPage page(6, 5);
  page.SetColumns(3, 6, 200, 200, 200, 200);
  return page;
}
CmykPage StepEdges(int add) {
  CmykPage page = StepPage();
  for (unsigned y = 0; y < 5; ++y)
    for (unsigned x = 3; x < 6; ++x)
      if (x != 4 || y == 0 || y == 4)
        for (int c = 0; c < 4; ++c) page.At(x, y)[c] = static_cast<uint8_t>(200 + add * (c + 1));
  return page;
}

// Edge test on every plane; remapping adds add, 2 add, 3 add, 4 add to C, M, Y, K.
EeParamSet EdgeParams(int add) {
  EeParamSet p;
  p.edge_mode = 1;
  for (int c = 0; c < 4; ++c) {
    p.npth0[c] = 1;
    p.eeth0[c] = 600;
    for (int v = 0; v < 256; ++v) p.outTable[c][v] = static_cast<unsigned char>(v + add * (c + 1));
  }
  p.pileheight_limit = 1020;
  return p;
}

// The sample PPD's defaults (Screen2 Standard, colour) select slot 8,
// Screen2 Fineness slot 7.
std::vector<DlbBlock> EeFile() {
  return {{kEeFamilyId, {{EeRecordBytes(EdgeParams(10)), {8}}, {EeRecordBytes(EdgeParams(1)), {7}}}}};
}

std::string Page(const CmykPage& p) { return PageBytes(p.Header(), p.Bytes()); }

TEST(EdgeEnhanceFilter, EnhancesWithTheSelectedRecord) {
  const ImageFilterSetup setup(EeFile());
  FilterResult r = setup.Run(kProgram, "QKEdgeEnhance=True", Page(StepPage()) + Page(StepPage()));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, Page(StepEdges(10)) + Page(StepEdges(10)));

  r = setup.Run(kProgram, "QKEdgeEnhance=True QKScreen2=Fineness", Page(StepPage()));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, Page(StepEdges(1)));
}

TEST(EdgeEnhanceFilter, CopiesPagesWhenOff) {
  const ImageFilterSetup setup(EeFile());
  const ZTRasterHeader grey = MakeHeader(7, 3, 8, ZT_CS_GRAY);
  const std::string input = Page(StepPage()) + PageBytes(grey, PatternBytes(21, 3));
  for (const char* options : {"", "QKEdgeEnhance=False"}) {
    const FilterResult r = setup.Run(kProgram, options, input);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, input);
  }
  const FilterResult r = setup.Run(kProgram, "QKEdgeEnhance=True", "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
}

TEST(EdgeEnhanceFilter, DumpsTheSelectedRecord) {
  EeParamSet p;
  p.edge_mode = 1;
  p.dot_mode = 1;
  for (int c = 0; c < 4; ++c) {
    p.npth0[c] = 1 + c;
    p.bkth0[c] = 11 + c;
    p.loth[c] = 21 + c;
    p.eeth1[c] = 31 + c;
    p.eeth0[c] = 1001 + c;
  }
  p.pileheight_limit = -5;
  std::string record = EeRecordBytes(p);
  // Bits the fields do not use are ignored: bit 0 of the mode word, bits
  // 24-31 of the level words, bits 10-15 and 24-31 of the edge words.
  record[4] |= 0x1F;
  for (size_t word = 8; word < 40; word += 8) {
    record[word + 3] = '\xFF';
    record[word + 4 + 1] |= '\xFC';
    record[word + 4 + 3] = '\xFF';
  }
  const ImageFilterSetup setup({{kEeFamilyId, {{record, {8}}}}}, true);
  const FilterResult r = setup.Run(kProgram, "", "");
  ASSERT_EQ(r.status, 0);
  std::string expected =
      "DEBUG: ztedgeenhance: sizeof(icEeKestinType) = 1068.\n"
      "DEBUG: ztedgeenhance: edge_mode = 1.\n"
      "DEBUG: ztedgeenhance: bkgnd_mode = 0.\n"
      "DEBUG: ztedgeenhance: dot_mode = 1.\n";
  const char* order[4] = {"COLOR_ORDER_C", "COLOR_ORDER_M", "COLOR_ORDER_Y", "COLOR_ORDER_K"};
  const std::pair<const char*, int> arrays[] = {{"npth0", 1}, {"bkth0", 11}, {"loth", 21}, {"eeth1", 31}, {"eeth0", 1001}};
  for (const auto& [name, first] : arrays)
    for (int c = 0; c < 4; ++c)
      expected += std::string("DEBUG: ztedgeenhance: ") + name + "[" + order[c] + "] = " + std::to_string(first + c) + ".\n";
  expected += "DEBUG: ztedgeenhance: pileheight_limit = -5.\n";
  EXPECT_EQ(r.err, expected);
}

TEST(EdgeEnhanceFilter, WithoutARecordPagesPassUnchangedWithOneWarning) {
  const ImageFilterSetup setup({{kTrapFamilyId, {{TrapRecordBytes(TrapParamSet()), {1}}}}});
  const std::string input = Page(StepPage()) + Page(StepPage());
  const FilterResult r = setup.Run(kProgram, "QKEdgeEnhance=True", input);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, input);
  EXPECT_EQ(r.err,
            "WARNING: ztedgeenhance: no edge enhancement parameters for this job in the device parameter file; "
            "pages are copied unchanged.\n");
}

TEST(EdgeEnhanceFilter, RefusesTooFewArguments) {
  std::vector<std::string> argv = FilterArgv(kProgram);
  argv.pop_back();
  RunOptions opts;
  opts.ppd = DataPath("korva-zt.ppd");
  const FilterResult r = RunFilter(argv, "", opts);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ERROR: [Usage:] ztedgeenhance job-id user title copies options [InFile] [OutFile]\n");
}

class EdgeEnhanceFailure : public ::testing::TestWithParam<FilterFailureCase> {};

TEST_P(EdgeEnhanceFailure, EndsWithItsMessageAndStatus) {
  CheckFilterFailure(kProgram, ImageFilterSetup(EeFile()), GetParam());
}

const std::string kGood = Page(StepPage());

INSTANTIATE_TEST_SUITE_P(
    EdgeEnhanceFailures, EdgeEnhanceFailure,
    ::testing::Values(
        FilterFailureCase{"TooManyArguments", {"a", "b", "c"}, "", "", true, 1,
                          "ERROR: [Usage:] ztedgeenhance job-id user title copies options [InFile] [OutFile]\n", ""},
        FilterFailureCase{"InputFileMissing", {"/nonexistent/in"}, "", "", true, 255,
                          "DEBUG: ztedgeenhance: unable to open input file.\n", ""},
        FilterFailureCase{"InputFileMissingWithOutput", {"/nonexistent/in", "/dev/null"}, "", "", true, 255,
                          "DEBUG: ztedgeenhance: Unable to open input file\n", ""},
        FilterFailureCase{"OutputFileNotCreated", {"/dev/null", "/nonexistent/out"}, "", "", true, 255,
                          "DEBUG: ztedgeenhance: unable to open output file.\n", ""},
        FilterFailureCase{"NoPPD", {}, "", kGood, false, 1, "ERROR: ztedgeenhance: CreatePPDSetting() Error.\n", ""},
        FilterFailureCase{"GreyPageRefused", {}, "QKEdgeEnhance=True",
                          PageBytes(MakeHeader(6, 5, 24, ZT_CS_RGB), std::string(90, '\0')), true, 1,
                          "ERROR: ztedgeenhance: page 1: page is not CMYK of 4 bytes per pixel.\n", ""},
        FilterFailureCase{"TruncatedPage", {}, "QKEdgeEnhance=True", kGood.substr(0, kGood.size() - 30), true, 255,
                          "DEBUG: ztedgeenhance: EdgeEnhanceProc() is error = -1.\n",
                          Page(StepEdges(10)).substr(0, 56 + 2 * 24)},
        FilterFailureCase{"PartialHeaderEndsTheStream", {}, "QKEdgeEnhance=True", kGood.substr(0, 50), true, 0, "", ""},
        FilterFailureCase{"TruncatedCopy", {}, "", kGood.substr(0, 100), true, 255,
                          "ERROR: ztedgeenhance: page 1: the input ends inside the page data.\n", kGood.substr(0, 100)}),
    [](const ::testing::TestParamInfo<FilterFailureCase>& info) { return std::string(info.param.name); });

}  // namespace
