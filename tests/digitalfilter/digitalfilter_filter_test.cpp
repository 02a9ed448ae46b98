// ztdigitalfilter as a program: the strength selects the record, the record's
// coefficients are sign-extended, the dump, the copy path and the failures.
#include <gtest/gtest.h>

#include "imagefilter_support.h"

namespace {

const char kProgram[] = "ztdigitalfilter";

// A table that keeps every plane but K, whose centre is `centre` / 4096.
DfCoefTable KCentre(int centre) {
  DfCoefTable t;
  t.dfCoef_K[3] = centre;
  return t;
}

// Low, Middle and High select slots 1, 2 and 3.
std::vector<DlbBlock> DfFile() {
  return {{kDfFamilyId,
           {{DfRecordBytes(KCentre(2048)), {1}}, {DfRecordBytes(KCentre(1024)), {2}}, {DfRecordBytes(KCentre(8192)), {3}}}}};
}

// One line of 8 pixels, every sample 100.
CmykPage Flat() { return CmykPage(8, 1, 100, 100, 100, 100); }
// The same with K of pixels 3 and 4 replaced.
std::string FlatWithK(int k) {
  CmykPage p = Flat();
  p.At(3, 0)[3] = p.At(4, 0)[3] = static_cast<uint8_t>(k);
  return PageBytes(p.Header(), p.Bytes());
}

TEST(DigitalFilterFilter, StrengthSelectsTheRecord) {
  const ImageFilterSetup setup(DfFile());
  const std::string input = FlatWithK(100);
  const std::pair<const char*, int> cases[] = {{"Low", 50}, {"Middle", 25}, {"High", 200}};
  for (const auto& [choice, k] : cases) {
    const FilterResult r = setup.Run(kProgram, std::string("QKDigitalFilter=") + choice, input + input);
    ASSERT_EQ(r.status, 0) << choice << "\n" << r.err;
    EXPECT_EQ(r.out, FlatWithK(k) + FlatWithK(k)) << choice;
  }
}

TEST(DigitalFilterFilter, CopiesPagesWhenOff) {
  const ImageFilterSetup setup(DfFile());
  const ZTRasterHeader grey = MakeHeader(9, 2, 8, ZT_CS_GRAY);
  const std::string input = FlatWithK(7) + PageBytes(grey, PatternBytes(18, 4));
  for (const char* options : {"", "QKDigitalFilter=Off"}) {
    const FilterResult r = setup.Run(kProgram, options, input);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, input);
  }
}

TEST(DigitalFilterFilter, StoredCoefficientsAreSigned) {
  // Distance 1 stored as 0xFFFF is -1/4096: a flat 100 stays 100
  // (99.95 rounded); read as 65535 it would clip to 255.
  DfCoefTable t;
  t.dfCoef_K[2] = -1;
  const std::string record = DfRecordBytes(t);
  ASSERT_EQ(record.substr(6, 2), std::string("\xFF\xFF", 2));
  const ImageFilterSetup setup({{kDfFamilyId, {{record, {1}}}}});
  const FilterResult r = setup.Run(kProgram, "QKDigitalFilter=Low", FlatWithK(100));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, FlatWithK(100));
}

TEST(DigitalFilterFilter, LineLengthComesFromBytesPerLine) {
  const ImageFilterSetup setup(DfFile());
  CmykPage p = Flat();
  p.At(3, 0)[3] = 100;
  ZTRasterHeader h = p.Header();
  h.width = 1;  // bytesPerLine still says 8 pixels
  const FilterResult r = setup.Run(kProgram, "QKDigitalFilter=Low", PageBytes(h, p.Bytes()));
  ASSERT_EQ(r.status, 0) << r.err;
  CmykPage expected = Flat();
  expected.At(3, 0)[3] = expected.At(4, 0)[3] = 50;
  EXPECT_EQ(r.out, PageBytes(h, expected.Bytes()));
}

TEST(DigitalFilterFilter, DumpsTheKCoefficients) {
  DfCoefTable t;
  t.dfCoef_K[0] = 256;
  t.dfCoef_K[1] = -512;
  t.dfCoef_K[2] = 1024;
  t.dfCoef_K[3] = 4096;
  t.dfCoef_C[3] = 77;  // not dumped
  const ImageFilterSetup setup({{kDfFamilyId, {{DfRecordBytes(t), {0}}}}}, true);
  const FilterResult r = setup.Run(kProgram, "", "");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.err,
            "DEBUG: ztdigitalfilter: sizeof(icCF17KestinType) = 36.\n"
            "DEBUG: ztdigitalfilter: dfCoef_K[0]=  0.062500000000.\n"
            "DEBUG: ztdigitalfilter: dfCoef_K[1]= -0.125000000000.\n"
            "DEBUG: ztdigitalfilter: dfCoef_K[2]=  0.250000000000.\n"
            "DEBUG: ztdigitalfilter: dfCoef_K[3]=  1.000000000000.\n");
}

TEST(DigitalFilterFilter, WithoutARecordPagesPassUnchangedWithOneWarning) {
  // Slots 0 and 1 only: High (slot 3) finds nothing.
  const ImageFilterSetup setup({{kDfFamilyId, {{DfRecordBytes(KCentre(0)), {0, 1}}}}});
  const std::string input = FlatWithK(100) + FlatWithK(100);
  const FilterResult r = setup.Run(kProgram, "QKDigitalFilter=High", input);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, input);
  EXPECT_EQ(r.err,
            "WARNING: ztdigitalfilter: no digital filter parameters for this job in the device parameter file; "
            "pages are copied unchanged.\n");
}

class DigitalFilterFailure : public ::testing::TestWithParam<FilterFailureCase> {};

TEST_P(DigitalFilterFailure, EndsWithItsMessageAndStatus) {
  CheckFilterFailure(kProgram, ImageFilterSetup(DfFile()), GetParam());
}

ZTRasterHeader OddLine() {
  ZTRasterHeader h = MakeHeader(8, 1, 32, ZT_CS_CMYK);
  h.bytesPerLine = 30;
  h.pageBytes = 30;
  return h;
}

INSTANTIATE_TEST_SUITE_P(
    DigitalFilterFailures, DigitalFilterFailure,
    ::testing::Values(
        FilterFailureCase{"TooManyArguments", {"a", "b", "c"}, "", "", true, 1,
                          "ERROR: [Usage:] ztdigitalfilter job-id user title copies options [InFile] [OutFile]\n", ""},
        FilterFailureCase{"InputFileMissing", {"/nonexistent/in"}, "", "", true, 255,
                          "DEBUG: ztdigitalfilter: Unable to open input file\n", ""},
        FilterFailureCase{"OutputFileNotCreated", {"/dev/null", "/nonexistent/out"}, "", "", true, 255,
                          "DEBUG: ztdigitalfilter: unable to open output file.\n", ""},
        FilterFailureCase{"NoPPD", {}, "", FlatWithK(1), false, 1,
                          "ERROR: ztdigitalfilter: CreatePPDSetting() Error.\n", ""},
        FilterFailureCase{"PartialPixelsRefused", {}, "QKDigitalFilter=Low", PageBytes(OddLine(), std::string(30, 'a')),
                          true, 1, "ERROR: ztdigitalfilter: page 1: page is not CMYK of 4 bytes per pixel.\n", ""},
        FilterFailureCase{"TruncatedPage", {}, "QKDigitalFilter=Low", FlatWithK(100).substr(0, 80), true, 255,
                          "DEBUG: ztdigitalfilter: DigitalFilterProc() is error = -1.\n", FlatWithK(100).substr(0, 56)},
        FilterFailureCase{"TruncatedCopy", {}, "", FlatWithK(100).substr(0, 80), true, 255,
                          "ERROR: ztdigitalfilter: page 1: the input ends inside the page data.\n",
                          FlatWithK(100).substr(0, 80)}),
    [](const ::testing::TestParamInfo<FilterFailureCase>& info) { return std::string(info.param.name); });

}  // namespace
