// The shared frame of the image filters through ztt_negate, a filter made of
// nothing but a description and its page step: names in every message,
// record selection and the zeroed placeholder, the dump, the warning, and
// pages reworked, copied or refused.
#include <gtest/gtest.h>

#include "imagefilter_support.h"

namespace {

const char kProgram[] = "ztt_negate";

CmykPage Sample(uint8_t base) {
  CmykPage page(5, 3);
  for (size_t i = 0; i < page.px.size(); ++i) page.px[i] = static_cast<uint8_t>(base + 7 * i);
  return page;
}
std::string Page(const CmykPage& p) { return PageBytes(p.Header(), p.Bytes()); }
std::string Negated(const CmykPage& p) {
  CmykPage n = p;
  for (uint8_t& v : n.px) v = static_cast<uint8_t>(255 - v);
  return Page(n);
}

// An edge-enhancement record (mode word 0xE0) for the sample PPD's default
// slot 8, or only for slot 3, which no default job selects.
std::vector<DlbBlock> File(int slot) {
  EeParamSet p;
  p.edge_mode = p.bkgnd_mode = p.dot_mode = 1;
  return {{kEeFamilyId, {{EeRecordBytes(p), {slot}}}}};
}

TEST(ImageFilterFrame, ReworksCopiesAndWarnsAsDescribed) {
  const std::string two = Page(Sample(1)) + Page(Sample(90));
  const ImageFilterSetup fits(File(8), true), none(File(3), true);
  FilterResult r = fits.Run(kProgram, "QKEdgeEnhance=True", two);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, Negated(Sample(1)) + Negated(Sample(90)));
  EXPECT_NE(r.err.find("DEBUG: ztt_negate: mode word 224.\n"), std::string::npos) << r.err;

  // No record fits: the dump shows the zeroed placeholder, pages are copied.
  r = none.Run(kProgram, "QKEdgeEnhance=True", two);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, two);
  EXPECT_NE(r.err.find("DEBUG: ztt_negate: mode word 0.\nWARNING: ztt_negate: no record.\n"), std::string::npos)
      << r.err;

  r = fits.Run(kProgram, "", two);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, two);
  EXPECT_EQ(r.err.find("WARNING"), std::string::npos) << r.err;
}

class ImageFilterFrameFailure : public ::testing::TestWithParam<FilterFailureCase> {};

TEST_P(ImageFilterFrameFailure, EndsWithItsMessageAndStatus) {
  CheckFilterFailure(kProgram, ImageFilterSetup(File(8)), GetParam());
}

const std::string kGood = Page(Sample(1));

INSTANTIATE_TEST_SUITE_P(
    ImageFilterFrameFailures, ImageFilterFrameFailure,
    ::testing::Values(
        FilterFailureCase{"TooManyArguments", {"a", "b", "c"}, "", "", true, 1,
                          "ERROR: [Usage:] ztt_negate job-id user title copies options [InFile] [OutFile]\n", ""},
        FilterFailureCase{"InputFileMissing", {"/nonexistent/in"}, "", "", true, 255,
                          "DEBUG: ztt_negate: no input (7).\n", ""},
        FilterFailureCase{"InputFileMissingWithOutput", {"/nonexistent/in", "/dev/null"}, "", "", true, 255,
                          "DEBUG: ztt_negate: no input (8).\n", ""},
        FilterFailureCase{"OutputFileNotCreated", {"/dev/null", "/nonexistent/out"}, "", "", true, 255,
                          "DEBUG: ztt_negate: unable to open output file.\n", ""},
        FilterFailureCase{"NoPPD", {}, "", kGood, false, 1, "ERROR: ztt_negate: CreatePPDSetting() Error.\n", ""},
        FilterFailureCase{"RefusedPage", {}, "QKEdgeEnhance=True",
                          PageBytes(MakeHeader(5, 3, 24, ZT_CS_RGB), std::string(45, '\0')), true, 1,
                          "ERROR: ztt_negate: page 1: page is not CMYK of 4 bytes per pixel.\n", ""},
        FilterFailureCase{"PageStepFails", {}, "QKEdgeEnhance=True", kGood.substr(0, kGood.size() - 1), true, 3,
                          "ERROR: ztt_negate: page 1 ends early.\n", Negated(Sample(1)).substr(0, 56 + 2 * 20)},
        FilterFailureCase{"TruncatedCopy", {}, "", kGood + kGood.substr(0, 80), true, 255,
                          "ERROR: ztt_negate: page 2: the input ends inside the page data.\n", kGood + kGood.substr(0, 80)}),
    [](const ::testing::TestParamInfo<FilterFailureCase>& info) { return std::string(info.param.name); });

}  // namespace
