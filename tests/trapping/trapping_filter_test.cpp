// zttrapping as a program: settings, record selection, the parameter dump,
// the copy path and every failure row.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "imagefilter_support.h"
#include "trap_pages.h"

namespace {

const char kProgram[] = "zttrapping";

// Slot 1 (DocumentType Standard) traps with the underprint off, slot 21
// (DocumentType Off) also underprints.
std::vector<DlbBlock> TrapFile() {
  TrapParamSet withUnderprint = Params();
  withUnderprint.pseud_ib = 0;
  return {{kTrapFamilyId, {{TrapRecordBytes(Params()), {1}}, {TrapRecordBytes(withUnderprint), {21}}}}};
}

std::string Stream(const std::vector<std::pair<ZTRasterHeader, std::string>>& pages) {
  std::string s;
  for (const auto& [h, d] : pages) s += PageBytes(h, d);
  return s;
}

TEST(TrappingFilter, TrapsTheColourPagesOfAColourJob) {
  const ImageFilterSetup setup(TrapFile());
  const CmykPage page = ColourEdgePage(9, M);
  const FilterResult r = setup.Run(kProgram, "QKTrapping=True", Stream({{page.Header(), page.Bytes()}}));
  ASSERT_EQ(r.status, 0) << r.err;
  CmykPage expected = page;
  for (unsigned y = 0; y < 9; ++y) expected.At(5, y)[M] = static_cast<uint8_t>(EdgeAverage(WindowRows(y, 9)));
  EXPECT_EQ(r.out, Stream({{page.Header(), expected.Bytes()}}));
}

TEST(TrappingFilter, CopiesPagesWhenTrappingIsOffOrTheJobIsMonochrome) {
  const ImageFilterSetup setup(TrapFile());
  const CmykPage page = UnderprintPage(8);
  // A page of 5 MiB (one whole chunk and a shorter one), a page with no
  // data and a grey page: the copy path takes any page as it is.
  const ZTRasterHeader big = MakeHeader(1310720, 1, 32, ZT_CS_CMYK);
  const ZTRasterHeader empty = MakeHeader(0, 0, 32, ZT_CS_CMYK);
  const ZTRasterHeader grey = MakeHeader(7, 3, 8, ZT_CS_GRAY);
  const std::string input = Stream({{page.Header(), page.Bytes()},
                                    {big, PatternBytes(static_cast<size_t>(big.pageBytes), 7)},
                                    {empty, ""},
                                    {grey, PatternBytes(21, 8)}});
  for (const char* options : {"", "QKTrapping=False QKDocumentType=Off", "QKTrapping=True QKColorMode=Black"}) {
    const FilterResult r = setup.Run(kProgram, options, input);
    EXPECT_EQ(r.status, 0) << options << "\n" << r.err;
    EXPECT_TRUE(r.out == input) << options;
  }
  const FilterResult r = setup.Run(kProgram, "QKTrapping=True", "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
}

TEST(TrappingFilter, DocumentTypeOffSelectsSlot21AndStillTraps) {
  const ImageFilterSetup setup(TrapFile());
  const CmykPage page = UnderprintPage(8);
  const std::string input = Stream({{page.Header(), page.Bytes()}});

  FilterResult r = setup.Run(kProgram, "QKTrapping=True QKDocumentType=Standard", input);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, input);

  r = setup.Run(kProgram, "QKTrapping=True QKDocumentType=Off", input);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<ParsedPage> pages = ParseStream(r.out);
  ASSERT_EQ(pages.size(), 1u);
  const uint8_t* px = reinterpret_cast<const uint8_t*>(pages[0].data.data()) + (5 * 8 + 4) * 4;  // (4, 5)
  EXPECT_EQ(px[C], 40);
  EXPECT_EQ(px[M], 30);
  EXPECT_EQ(px[Y], 20);
}

TEST(TrappingFilter, DumpsTheSelectedRecord) {
  TrapParamSet p;
  p.matrixsize = 1;
  p.pseud_ib = 1;
  p.cmy_color = 101;
  p.cmy_white = 41;
  p.bk_white = 51;
  p.bk_full = 201;
  p.ave_white = 31;
  p.tonerlimit = 0xFC00 | 300;  // only the low 10 bits count
  p.ib_k_full = 250;
  p.ib_c_white = 11;
  p.ib_m_white = 12;
  p.ib_y_white = 13;
  p.ib_c_const = 41;
  p.ib_m_const = 42;
  p.ib_y_const = 43;
  const ImageFilterSetup setup({{kTrapFamilyId, {{TrapRecordBytes(p), {1}}}}}, true);
  const FilterResult r = setup.Run(kProgram, "", "");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.err,
            "DEBUG: zttrapping: sizeof(icTrapKestinType) = 28.\n"
            "DEBUG: zttrapping: matrixsize = 1.\n"
            "DEBUG: zttrapping: pseud_ib = 1.\n"
            "DEBUG: zttrapping: cmy_color = 101.\n"
            "DEBUG: zttrapping: cmy_white = 41.\n"
            "DEBUG: zttrapping: bk_white = 51.\n"
            "DEBUG: zttrapping: bk_full = 201.\n"
            "DEBUG: zttrapping: ave_white = 31.\n"
            "DEBUG: zttrapping: tonerlimit = 300.\n"
            "DEBUG: zttrapping: ib_k_full = 250.\n"
            "DEBUG: zttrapping: ib_c_white = 11.\n"
            "DEBUG: zttrapping: ib_m_white = 12.\n"
            "DEBUG: zttrapping: ib_y_white = 13.\n"
            "DEBUG: zttrapping: ib_c_const = 41.\n"
            "DEBUG: zttrapping: ib_m_const = 42.\n"
            "DEBUG: zttrapping: ib_y_const = 43.\n");
}

TEST(TrappingFilter, WithoutARecordPagesPassUnchangedWithOneWarning) {
  TempFile missingDir;  // a file, so "<file>/x" cannot exist
  const TempFile noFile(ImageFilterPPDText(missingDir.path() + "/x.dlb", false), ".ppd");
  // The file's trapping slots end before slot 21 (DocumentType Off).
  const ImageFilterSetup noSlot({{kTrapFamilyId, {{TrapRecordBytes(Params()), {1}}}}});
  const CmykPage page = UnderprintPage(8);
  const std::string input = Stream({{page.Header(), page.Bytes()}, {page.Header(), page.Bytes()}});
  RunOptions opts;
  opts.ppd = noFile.path();
  const FilterResult results[] = {
      RunFilter(FilterArgv(kProgram, "QKTrapping=True QKDocumentType=Off"), input, opts),
      noSlot.Run(kProgram, "QKTrapping=True QKDocumentType=Off", input),
  };
  for (const FilterResult& r : results) {
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, input);
    const std::string warning = "WARNING: zttrapping: no trapping parameters";
    const size_t at = r.err.find(warning);
    ASSERT_NE(at, std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(warning, at + 1), std::string::npos);
  }
  EXPECT_NE(results[0].err.find("ERROR: Unable to open ips_dlb file"), std::string::npos);
}

TEST(TrappingFilter, ReadsAndWritesTheNamedFiles) {
  const ImageFilterSetup setup(TrapFile());
  const CmykPage page = UnderprintPage(8);
  const std::string input = Stream({{page.Header(), page.Bytes()}});
  const TempFile in(input);
  const TempFile out(std::string(3 * input.size(), 'x'));  // longer than the result
  RunOptions opts;
  opts.ppd = setup.ppd();
  std::vector<std::string> argv = FilterArgv(kProgram, "QKTrapping=True");
  argv.push_back(in.path());
  FilterResult r = RunFilter(argv, "", opts);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, input);
  argv.push_back(out.path());
  r = RunFilter(argv, "", opts);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(out.Read(), input);
}

class TrappingFailure : public ::testing::TestWithParam<FilterFailureCase> {};

TEST_P(TrappingFailure, EndsWithItsMessageAndStatus) {
  CheckFilterFailure(kProgram, ImageFilterSetup(TrapFile()), GetParam());
}

const CmykPage kEdge = UnderprintPage(10);
const std::string kGood = PageBytes(kEdge.Header(), kEdge.Bytes());
const ZTRasterHeader kGrey = MakeHeader(10, 9, 8, ZT_CS_GRAY);
ZTRasterHeader LyingHeader() {
  ZTRasterHeader h = kEdge.Header();
  h.pageBytes -= 40;
  return h;
}
ZTRasterHeader NoPixels() { return MakeHeader(0, 5, 32, ZT_CS_CMYK); }
// A line of 8 MB: the header is consistent, the page is refused unread.
ZTRasterHeader TooWide() { return MakeHeader(2000000, 0, 32, ZT_CS_CMYK); }

INSTANTIATE_TEST_SUITE_P(
    TrappingFailures, TrappingFailure,
    ::testing::Values(
        FilterFailureCase{"TooManyArguments", {"a", "b", "c"}, "", "", true, 1,
                    "ERROR: [Usage:] zttrapping job-id user title copies options [InFile] [OutFile]\n", ""},
        FilterFailureCase{"InputFileMissing", {"/nonexistent/in"}, "", "", true, 255,
                    "DEBUG: zttrapping: Unable to open input file\n", ""},
        FilterFailureCase{"OutputFileNotCreated", {"/dev/null", "/nonexistent/out"}, "", "", true, 255,
                    "DEBUG: zttrapping: unable to open output file.\n", ""},
        FilterFailureCase{"NoPPD", {}, "", kGood, false, 1, "ERROR: zttrapping: CreatePPDSetting() Error.\n", ""},
        FilterFailureCase{"GreyPageRefused", {}, "QKTrapping=True", kGood + PageBytes(kGrey, std::string(90, '\0')), true, 1,
                    "ERROR: zttrapping: page 2: page is not CMYK of 4 bytes per pixel.\n", kGood},
        FilterFailureCase{"LyingPageSize", {}, "QKTrapping=True", PageBytes(LyingHeader(), kEdge.Bytes()), true, 1,
                    "ERROR: zttrapping: page 1: page header's sizes do not match its data.\n", ""},
        FilterFailureCase{"AbsurdWidthRefused", {}, "QKTrapping=True", HeaderBytes(TooWide()), true, 1,
                    "ERROR: zttrapping: page 1: page is wider than 1048576 pixels.\n", ""},
        FilterFailureCase{"TruncatedPage", {}, "QKTrapping=True", kGood.substr(0, kGood.size() - 41), true, 255,
                    "DEBUG: zttrapping: TrappingProc() is error = -1.\n", kGood.substr(0, 56)},
        FilterFailureCase{"PageWithoutPixels", {}, "QKTrapping=True", PageBytes(NoPixels(), ""), true, 253,
                    "DEBUG: zttrapping: TrappingProc() is error = -3.\n", PageBytes(NoPixels(), "")},
        FilterFailureCase{"TruncatedCopy", {}, "", kGood.substr(0, kGood.size() - 1), true, 255,
                    "ERROR: zttrapping: page 1: the input ends inside the page data.\n", kGood.substr(0, kGood.size() - 1)}),
    [](const ::testing::TestParamInfo<FilterFailureCase>& info) { return std::string(info.param.name); });

TEST(TrappingFilter, ReportsAClosedOutput) {
  const ImageFilterSetup setup(TrapFile());
  const CmykPage page(2000, 300, 10, 20, 30, 40);
  RunOptions opts;
  opts.ppd = setup.ppd();
  opts.closeStdoutEarly = true;
  for (const char* options : {"QKTrapping=True", ""}) {
    const FilterResult r = RunFilter(FilterArgv(kProgram, options), PageBytes(page.Header(), page.Bytes()), opts);
    EXPECT_NE(r.status, 0) << options;
    EXPECT_NE(r.err.find("ERROR: zttrapping: page 1: cannot write the output: Broken pipe\n"), std::string::npos) << r.err;
  }
}

}  // namespace
