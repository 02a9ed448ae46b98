#include "hbploption.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "runfilter.h"

namespace {

void ClearPrefixCaches() {
  VENDOR_PREFIX[0] = VENDOR_PREFIX_COPY[0] = PPD_PREFIX[0] = '\0';
}

// Opens a PPD text with job options the way every filter does.
class PPDJob {
 public:
  explicit PPDJob(const std::string& ppdText, const std::string& options = "")
      : file_(ppdText, ".ppd") {
    setenv("PPD", file_.path().c_str(), 1);
    rc_ = setting_.Create(options.c_str());
  }
  ppd_file_t* ppd() const { return setting_.ppd; }
  int n() const { return setting_.numOptions; }
  cups_option_t* opts() const { return setting_.options; }
  int rc() const { return rc_; }

 private:
  TempFile file_;
  ZTPPDSetting setting_;
  int rc_;
};

std::string Sample(const std::string& extra = "") { return SamplePPDText({}, extra); }

class CommonSettings : public testing::Test {
 protected:
  void SetUp() override { ClearPrefixCaches(); }
};

TEST_F(CommonSettings, OpeningFailsWithOneErrorLine) {
  unsetenv("PPD");
  ZTPPDSetting s;
  testing::internal::CaptureStderr();
  EXPECT_EQ(s.Create(""), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: cannot open PPD\n");
  setenv("PPD", "/nonexistent/x.ppd", 1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(s.Create("a=b"), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: cannot open PPD\n");
  EXPECT_EQ(s.ppd, nullptr);
}

TEST_F(CommonSettings, PageSizeTableAndRealDimensions) {
  struct Case {
    const char* choice;
    int code;
  } cases[] = {{"A4", 2}, {"Letter", 0}, {"FanFoldGermanLegal", 205}, {"EnvC6", 224}, {"QKEnvYou4", 226},
               {"EnvChou3", 228}, {"QKReplyPostcard", 14}};
  for (const auto& c : cases) {
    PPDJob job(Sample(), std::string("PageSize=") + c.choice);
    ppd_size_t* size = nullptr;
    EXPECT_EQ(GetPageSizeSetting(job.ppd(), &size), c.code) << c.choice;
    ASSERT_NE(size, nullptr);
    EXPECT_STREQ(size->name, c.choice);
  }
  // A size outside the table gives code 2 with its own dimensions.
  std::string extra =
      "*PageSize Tabloid/Tabloid: \"<</PageSize[792 1224]>>setpagedevice\"\n"
      "*ImageableArea Tabloid/Tabloid: \"12 12 780 1212\"\n*PaperDimension Tabloid/Tabloid: \"792 1224\"\n";
  PPDJob odd(SamplePPDText({{"*CloseUI: *PageSize", extra + "*CloseUI: *PageSize"}}), "PageSize=Tabloid");
  PrintSetting ps{};
  ASSERT_EQ(GetPrintSetting(odd.ppd(), &ps), 0);
  EXPECT_EQ(ps.pageSize, 2);
  EXPECT_FLOAT_EQ(ps.paperWidth, 792);
  EXPECT_FLOAT_EQ(ps.paperLength, 1224);
  EXPECT_FLOAT_EQ(ps.imageTop, 1212);
}

TEST_F(CommonSettings, PageSizeMissingReportsError) {
  std::string text = Sample();
  // Drop both options entirely.
  for (const char* opt : {"PageSize", "PageRegion"}) {
    size_t a = text.find(std::string("*OpenUI *") + opt);
    size_t b = text.find(std::string("*CloseUI: *") + opt);
    text.erase(a, b - a + std::strlen("*CloseUI: *") + std::strlen(opt));
  }
  PPDJob job(text);
  testing::internal::CaptureStderr();
  EXPECT_EQ(GetPageSizeSetting(job.ppd(), nullptr), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: No PageSize & PageRegion specified.\n");
  PrintSetting ps{};
  testing::internal::CaptureStderr();
  EXPECT_EQ(GetPrintSetting(job.ppd(), &ps), -1);
  testing::internal::GetCapturedStderr();
}

TEST_F(CommonSettings, PrintSettingFromSampleDefaults) {
  PPDJob job(Sample(), "Duplex=DuplexTumble InputSlot=2ndTray Collate=False");
  PrintSetting ps{};
  ASSERT_EQ(GetPrintSetting(job.ppd(), &ps), 0);
  EXPECT_EQ(ps.pageSize, 2);
  EXPECT_EQ(ps.inputSlot, 3);
  EXPECT_EQ(ps.collate, 0);
  EXPECT_EQ(ps.duplex, 2);
  EXPECT_EQ(ps.colorMode, 22);
  EXPECT_FLOAT_EQ(ps.paperWidth, 595);
  EXPECT_FLOAT_EQ(ps.imageLeft, 12);
  EXPECT_FLOAT_EQ(ps.imageRight, 583);
}

TEST_F(CommonSettings, InputSlotWithoutDefaultAndDuplexConflicts) {
  PPDJob noDefault(SamplePPDText({{"*DefaultInputSlot: AutoSelect\n", ""}}));
  // CUPS marks the first choice when the PPD has no default; remove the mark
  // path by asking for a PPD without the option instead.
  std::string text = Sample();
  size_t a = text.find("*OpenUI *InputSlot");
  size_t b = text.find("*CloseUI: *InputSlot");
  text.erase(a, b - a + std::strlen("*CloseUI: *InputSlot"));
  PPDJob noSlot(text);
  EXPECT_EQ(GetInputSlotSetting(noSlot.ppd()), 1);

  // Duplex with the unit not installed conflicts: 0 with the check, 1 without.
  PPDJob conflicting(Sample(), "Option2=False Duplex=DuplexNoTumble");
  EXPECT_EQ(GetDuplexSetting(conflicting.ppd(), 1), 0);
  EXPECT_EQ(GetDuplexSetting(conflicting.ppd(), 0), 1);
  EXPECT_EQ(GetDuplexUnitSetting(conflicting.ppd()), 0);
  PPDJob fine(Sample(), "Duplex=DuplexNoTumble");
  EXPECT_EQ(GetDuplexSetting(fine.ppd(), 1), 1);
}

TEST_F(CommonSettings, ChoiceReaders) {
  PPDJob job(Sample(),
             "QKOutputMode=300x300 QKSecurityPrint=Proof QKLetterHeadDuplexMode=DupOn QKDocumentType=Off "
             "QKDigitalFilter=Middle QKEdgeEnhance=True QKTrapping=False QKTurnPage=True QKSkip=True "
             "QKScreen2=Gradation QKThinInkPrint=True QKTonerSaver=False");
  EXPECT_EQ(GetResolution(job.ppd()), 300);
  EXPECT_EQ(GetSecurityPrint(job.ppd()), 5);
  EXPECT_EQ(GetLetterheadDuplexModeSetting(job.ppd()), 2);
  EXPECT_EQ(CheckIfDriverColorMatching(job.ppd()), 0);
  EXPECT_EQ(GetDigitalFilterSetting(job.ppd()), 2);
  EXPECT_EQ(GetEdgeEnhanceSetting(job.ppd()), 1);
  EXPECT_EQ(GetTrappingSetting(job.ppd()), 0);
  EXPECT_EQ(GetZTTurnPageSetting(job.ppd()), 1);
  EXPECT_EQ(GetSkipBlankPagesSetting(job.ppd()), 1);
  EXPECT_EQ(GetScreen2ModeSetting(job.ppd()), 3);
  EXPECT_EQ(GetThinInkPrintSetting(job.ppd()), 1);
  EXPECT_EQ(GetTonerSaveSetting(job.ppd()), 0);

  // A PPD whose manufacturer has no prefix: prefixed readers see no choice.
  ClearPrefixCaches();
  PPDJob unknown(SamplePPDText({{"*Manufacturer: \"Korva\"", "*Manufacturer: \"korva\""}}), "QKTrapping=True");
  testing::internal::CaptureStderr();
  EXPECT_EQ(GetTrappingSetting(unknown.ppd()), -1);
  EXPECT_EQ(GetZTTurnPageSetting(unknown.ppd()), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: TRC: No PPD Prefix.\nERROR: TRC: No PPD Prefix.\n");
}

TEST_F(CommonSettings, ColorModeAndMonochromeCode) {
  PPDJob black(SamplePPDText({{"*QKMonochromeMode: \"Gray\"", "*QKMonochromeMode: \"Black\""}}), "QKColorMode=Black");
  EXPECT_EQ(GetColorModeSetting(black.ppd()), 1);
  PPDJob blackColor(SamplePPDText({{"*QKMonochromeMode: \"Gray\"", "*QKMonochromeMode: \"Black\""}}));
  EXPECT_EQ(GetColorModeSetting(blackColor.ppd()), 22);
  PPDJob gray(Sample(), "QKColorMode=Black");
  EXPECT_EQ(GetColorModeSetting(gray.ppd()), 17);
}

TEST_F(CommonSettings, SecurityStringsAreHeapCopiesOfTheCode) {
  PPDJob job(SamplePPDText({{"*QKSecurityUserID Default/Default: \"\"", "*QKSecurityUserID Default/Default: \"%u7\""}}));
  char* value = nullptr;
  ASSERT_EQ(GetSecurityUserID(job.ppd(), &value), 0);
  std::unique_ptr<char, decltype(&free)> owned(value, &free);
  EXPECT_STREQ(value, "%u7");
  EXPECT_EQ(GetSecurityUserID(job.ppd(), nullptr), -1);
  EXPECT_EQ(GetSecurityJobName(nullptr, &value), -1);
}

TEST_F(CommonSettings, MegabyteValues) {
  EXPECT_EQ(GetMemoryModuleValueFromName("512Meg"), 512);
  EXPECT_EQ(GetMemoryModuleValueFromName("0Meg"), 0);
  EXPECT_EQ(GetMemoryModuleValueFromName("512 Meg"), -1);
  EXPECT_EQ(GetMemoryModuleValueFromName("512meg"), -1);
  EXPECT_EQ(GetMemoryModuleValueFromName("Meg"), -1);
  EXPECT_EQ(GetMemoryModuleValueFromName("-5Meg"), -1);
  EXPECT_EQ(GetMemoryModuleValueFromName("512MegX"), -1);
  EXPECT_EQ(GetMemoryModuleValueFromName("99999999999999999999Meg"), -1);
  EXPECT_EQ(GetMemoryModuleValueFromName(nullptr), -1);

  PPDJob job(Sample());
  EXPECT_EQ(GetMemoryModuleSetting(job.ppd()), 512);
  EXPECT_EQ(GetDeviceCollateMemoryThreshold(job.ppd()), 256);
  EXPECT_EQ(GetFallbackThreshold(job.ppd()), 80);
  PPDJob flag(SamplePPDText({{"*QKBuiltInMemory: \"512Meg\"", "*QKBuiltInMemory: \"True\""}}));
  EXPECT_EQ(GetMemoryModuleSetting(flag.ppd()), 1);
  PPDJob junk(SamplePPDText({{"*QKBuiltInMemory: \"512Meg\"", "*QKBuiltInMemory: \"lots\""}}));
  EXPECT_EQ(GetMemoryModuleSetting(junk.ppd()), 0);
  // Without the attribute the InstalledMemory choice is read.
  PPDJob installed(SamplePPDText(
      {{"*QKBuiltInMemory: \"512Meg\"\n", ""}},
      "*OpenUI *InstalledMemory/Memory: PickOne\n*DefaultInstalledMemory: 128Meg\n"
      "*InstalledMemory 128Meg/128 MB: \"\"\n*InstalledMemory 1024Meg/1 GB: \"\"\n*CloseUI: *InstalledMemory\n"),
      "InstalledMemory=1024Meg");
  EXPECT_EQ(GetMemoryModuleSetting(installed.ppd()), 1024);
  PPDJob neither(SamplePPDText({{"*QKBuiltInMemory: \"512Meg\"\n", ""}}));
  EXPECT_EQ(GetMemoryModuleSetting(neither.ppd()), -1);
}

TEST_F(CommonSettings, DeviceCopies) {
  // Collated job, collation support and enough memory: the printer copies.
  EXPECT_EQ(CheckIfDeviceCopies(PPDJob(Sample()).ppd()), 1);
  // Uncollated copies always go to the printer, support or not.
  PPDJob unsupported(SamplePPDText({{"*QKSupportDeviceCollate: \"True\"", "*QKSupportDeviceCollate: \"False\""}}),
                     "Collate=False");
  EXPECT_EQ(CheckIfDeviceCopies(unsupported.ppd()), 1);
  PPDJob unsupportedCollated(
      SamplePPDText({{"*QKSupportDeviceCollate: \"True\"", "*QKSupportDeviceCollate: \"False\""}}));
  EXPECT_EQ(CheckIfDeviceCopies(unsupportedCollated.ppd()), 0);
  // A stored job is always copied by the printer.
  PPDJob stored(SamplePPDText({{"*QKSupportDeviceCollate: \"True\"", "*QKSupportDeviceCollate: \"False\""}}),
                "QKSecurityPrint=Public");
  EXPECT_EQ(CheckIfDeviceCopies(stored.ppd()), 1);
  // Memory below the threshold, or too small.
  PPDJob small(SamplePPDText({{"*QKBuiltInMemory: \"512Meg\"", "*QKBuiltInMemory: \"128Meg\""}}));
  EXPECT_EQ(CheckIfDeviceCopies(small.ppd()), 0);
  PPDJob one(SamplePPDText({{"*QKBuiltInMemory: \"512Meg\"", "*QKBuiltInMemory: \"1Meg\""},
                            {"*QKDeviceCollateMemoryThreshold: \"256Meg\"", "*QKDeviceCollateMemoryThreshold: \"0Meg\""}}));
  EXPECT_EQ(CheckIfDeviceCopies(one.ppd()), 0);
  PPDJob badThreshold(SamplePPDText(
      {{"*QKDeviceCollateMemoryThreshold: \"256Meg\"", "*QKDeviceCollateMemoryThreshold: \"256\""}}));
  EXPECT_EQ(CheckIfDeviceCopies(badThreshold.ppd()), 0);
}

TEST_F(CommonSettings, PageSizeNameFromDimensionsWithinTwoPoints) {
  PPDJob job(Sample());
  char* name = nullptr;
  ASSERT_EQ(GetPageSizeNameFromPageSize(job.ppd(), 595.3f, 841.9f, &name), 0);
  EXPECT_STREQ(name, "A4");
  free(name);
  ASSERT_EQ(GetPageSizeNameFromPageSize(job.ppd(), 614.0f, 790.0f, &name), 0);  // 2 points off: inclusive
  EXPECT_STREQ(name, "Letter");
  free(name);
  EXPECT_EQ(GetPageSizeNameFromPageSize(job.ppd(), 614.5f, 792.0f, &name), -1);
  EXPECT_EQ(GetPageSizeNameFromPageSize(job.ppd(), 595, 842, nullptr), -1);
}

TEST_F(CommonSettings, PrefixLookupsCacheTheFirstPPDPerFunction) {
  PPDJob talma(SamplePPDText({{"*Manufacturer: \"Korva\"", "*Manufacturer: \"Talma\""}},
                             "*TLFallbackThreshold: \"12\"\n*QKOnlyKorva: \"k\"\n"));
  PPDJob korva(Sample("*QKOnlyKorva: \"k\"\n"));
  // The attribute copy resolves Talma first and keeps TL for the process.
  char value[10];
  ASSERT_EQ(VI_CopyAttribute(talma.ppd(), "FallbackThreshold", value, sizeof value), 0);
  EXPECT_STREQ(value, "12");
  EXPECT_EQ(VI_CopyAttribute(korva.ppd(), "OnlyKorva", value, sizeof value), 1);
  // The attribute lookup has its own cache, still empty: Korva fixes it.
  ASSERT_NE(VI_FindAttr(korva.ppd(), "OnlyKorva"), nullptr);
  ppd_attr_t* threshold = VI_FindAttr(talma.ppd(), "FallbackThreshold");
  ASSERT_NE(threshold, nullptr);
  EXPECT_STREQ(threshold->value, "80");  // QKFallbackThreshold, not TLFallbackThreshold
  EXPECT_STREQ(VENDOR_PREFIX, "QK");
  EXPECT_STREQ(VENDOR_PREFIX_COPY, "TL");

  // A failed search is repeated, with its message, on every call.
  ClearPrefixCaches();
  PPDJob upper(SamplePPDText({{"*Manufacturer: \"Korva\"", "*Manufacturer: \"Korva Inc\""}}));
  testing::internal::CaptureStderr();
  EXPECT_EQ(VI_CopyAttribute(upper.ppd(), "FallbackThreshold", value, sizeof value), 1);
  EXPECT_EQ(VI_CopyAttribute(upper.ppd(), "FallbackThreshold", value, sizeof value), 1);
  EXPECT_EQ(VI_FindMarkedChoice(upper.ppd(), "Trapping"), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: VI_CopyAttribute: No PPD Prefix.\nERROR: VI_CopyAttribute: No PPD Prefix.\n"
            "ERROR: TRC: No PPD Prefix.\n");
  EXPECT_EQ(VI_CopyAttribute(korva.ppd(), "FallbackThreshold", value, sizeof value), 0);

  ClearPrefixCaches();
  PPDJob none(SamplePPDText({{"*Manufacturer: \"Korva\"\n", ""}}));
  testing::internal::CaptureStderr();
  EXPECT_EQ(VI_FindAttr(none.ppd(), "FallbackThreshold"), nullptr);
  EXPECT_EQ(VI_CopyAttribute(none.ppd(), "FallbackThreshold", value, sizeof value), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: VI_FindMarkedChoice: Manufacturer description not found in the PPD.\n"
            "ERROR: VI_CopyAttribute: Manufacturer description not found in the PPD.\n");
}

TEST_F(CommonSettings, PrefixedKeywordAndCopyAreCut) {
  char out[ZT_PPD_KEYWORD_MAX + 1];
  std::string longKw(39, 'k');
  ZTBuildPrefixedKeyword("QK", longKw.c_str(), out);
  EXPECT_EQ(std::string(out), "QK" + std::string(38, 'k'));

  PPDJob job(Sample("*QKLongValue: \"123456789\"\n"));
  char value[9];
  ASSERT_EQ(VI_CopyAttribute(job.ppd(), "LongValue", value, sizeof value), 0);
  EXPECT_STREQ(value, "12345678");
}

TEST_F(CommonSettings, JobTicketReaders) {
  const std::string k = "com.korva.cps.print.printsettings.";
  PPDJob job(Sample(), k + "DocumentName=Report " + k + "PrintType=3 " + k + "JBAUserIDListCtrlTicket=' 12x' " +
                           "number-up=abc page-set=Odd OutputOrder=reverse "
                           "com.apple.print.PrintSettings.PMTotalSidesImaged..n.=7 media=A4");
  const char* v = "untouched";
  EXPECT_EQ(GetZTPrintTypeDocName(job.n(), job.opts(), &v), 0);
  EXPECT_STREQ(v, "Report");
  EXPECT_EQ(GetZTPrintTypePassword(job.n(), job.opts(), &v), -1);
  EXPECT_EQ(v, nullptr);
  EXPECT_EQ(GetZTPrintTypeSelection(job.n(), job.opts()), 3);
  EXPECT_EQ(GetZTJobOwnerNameUserMode(job.n(), job.opts()), 12);
  EXPECT_EQ(GetZTJobOwnerNameAdminMode(job.n(), job.opts()), -1);
  EXPECT_EQ(GetTotalPhysicalPageNumber(job.n(), job.opts()), 7);
  EXPECT_EQ(GetNupNumber(job.n(), job.opts()), 0);
  EXPECT_EQ(GetPageSet(job.n(), job.opts()), 0);
  EXPECT_EQ(GetOutputOrder(job.n(), job.opts()), 0);
  EXPECT_EQ(CheckIfPageSizeOption(job.n(), job.opts()), 1);

  PPDJob plain(Sample(), "page-set=even OutputOrder=Reverse");
  EXPECT_EQ(GetPageSet(plain.n(), plain.opts()), 2);
  EXPECT_EQ(GetOutputOrder(plain.n(), plain.opts()), 1);
  EXPECT_EQ(GetNupNumber(plain.n(), plain.opts()), 1);
  EXPECT_EQ(CheckIfPageSizeOption(plain.n(), plain.opts()), 0);

  // Without an option list only the output order answers 0.
  v = "kept";
  EXPECT_EQ(GetZTPrintTypeDocName(0, nullptr, &v), -1);
  EXPECT_STREQ(v, "kept");
  EXPECT_EQ(GetNupNumber(0, nullptr), -1);
  EXPECT_EQ(GetPageSet(0, nullptr), -1);
  EXPECT_EQ(CheckIfPageSizeOption(0, nullptr), -1);
  EXPECT_EQ(GetTotalLogicalPageNumber(0, nullptr), -1);
  EXPECT_EQ(GetOutputOrder(0, nullptr), 0);
}

}  // namespace
