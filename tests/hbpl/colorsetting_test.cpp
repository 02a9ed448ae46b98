// The colour settings: table numbers from the marked code texts, the image
// adjustments of the job ticket, and the Screen2 record.
#include <gtest/gtest.h>

#include <cstdlib>

#include "hbploption.h"
#include "runfilter.h"
#include "ztcolorsetting.h"

namespace {

// The PPD and options of one job, opened as a filter opens them.
class Job {
 public:
  Job(const std::string& ppdText, const std::string& options) : ppd_(ppdText, ".ppd") {
    setenv("PPD", ppd_.path().c_str(), 1);
    EXPECT_EQ(setting_.Create(options.c_str()), 0);
  }
  ppd_file_t* ppd() const { return setting_.ppd; }
  int numOptions() const { return setting_.numOptions; }
  cups_option_t* options() const { return setting_.options; }

 private:
  TempFile ppd_;
  ZTPPDSetting setting_;
};

std::string Image(const char* key, const std::string& value) {
  return std::string("com.korva.cps.print.printsettings.ImageSettings.") + key + "=" + value;
}

std::string WithDocumentCode(const std::string& code) {
  return SamplePPDText({{"*QKDocumentType Standard/Standard: \"<</QKDLUT 1 /QKUCR 1 /QKTRC 1 /QKSCREEN 1 "
                         "/QKMONOTRC 1 /QKMONOSCREEN 1>>\"",
                         "*QKDocumentType Standard/Standard: \"" + code + "\""}});
}

TEST(HbplColorSetting, ReadsModeDefaultsTablesAndAdjustments) {
  Job job(SamplePPDText(), "QKDocumentType=Photo QKColorMode=Color " + Image("Brightness", "-100") + " " +
                               Image("Chroma", "150") + " " + Image("Contrast", "42"));
  ColorSetting c;
  ASSERT_EQ(GetColorSetting(job.ppd(), &c, job.numOptions(), job.options()), 0);
  EXPECT_EQ(c.colorMode, 22);
  EXPECT_EQ(c.brightness, -100);
  EXPECT_EQ(c.chroma, 0);  // out of range: ignored
  EXPECT_EQ(c.contrast, 42);
  EXPECT_EQ(c.redOffset | c.greenOffset | c.blueOffset, 0);
  EXPECT_EQ(c.whitePoint, 6500);
  EXPECT_EQ(c.gammaCode, 22);
  const int32_t tables[] = {c.dlutNumber, c.ucrNumber, c.trcNumber, c.screenNumber, c.monoTrcNumber, c.monoScreenNumber};
  for (int32_t n : tables) EXPECT_EQ(n, 2);

  // GetDeviceColorParam touches only the table numbers.
  ColorSetting d = c;
  d.dlutNumber = 99;
  Job standard(SamplePPDText(), "QKDocumentType=Standard");
  ASSERT_EQ(GetDeviceColorParam(standard.ppd(), &d), 0);
  EXPECT_EQ(d.dlutNumber, 1);
  EXPECT_EQ(d.monoScreenNumber, 1);
  EXPECT_EQ(d.brightness, -100);
}

TEST(HbplColorSetting, CodeTextEdgeCases) {
  ColorSetting c;
  {
    // A choice without code: numbers 0, not a failure.
    Job job(WithDocumentCode(""), "");
    EXPECT_EQ(GetColorSetting(job.ppd(), &c, job.numOptions(), job.options()), 0);
    EXPECT_EQ(c.dlutNumber, 0);
    EXPECT_EQ(c.screenNumber, 0);
    EXPECT_EQ(c.colorMode, 22);
  }
  {
    // A later item overrides an earlier one; unknown keys are ignored;
    // values keep the blanks before the next key.
    Job job(WithDocumentCode("<</QKTRC 4 /QKFOO 9 /QKTRC 6 /QKMONOSCREEN -2>>"), "");
    EXPECT_EQ(GetColorSetting(job.ppd(), &c, job.numOptions(), job.options()), 0);
    EXPECT_EQ(c.trcNumber, 6);
    EXPECT_EQ(c.monoScreenNumber, -2);
    EXPECT_EQ(c.dlutNumber, 0);
  }
  {
    // Code text the parser refuses (a value beyond its limit): -1, numbers at 0.
    Job job(WithDocumentCode("<</QKUCR 3 /QKDLUT " + std::string(100, '1') + ">>"), "");
    testing::internal::CaptureStderr();
    EXPECT_EQ(GetColorSetting(job.ppd(), &c, job.numOptions(), job.options()), -1);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(c.dlutNumber, 0);
  }
  EXPECT_EQ(GetColorSetting(nullptr, &c, 0, nullptr), -1);
}

TEST(HbplColorSetting, Screen2) {
  Screen2Setting s{};
  {
    Job job(SamplePPDText(), "QKScreen2=Gradation");
    ASSERT_EQ(GetScreen2Setting(job.ppd(), &s), 0);
    EXPECT_EQ(s.mode, 3);
    EXPECT_EQ(s.colorScreen, 3);
    EXPECT_EQ(s.monoScreen, 3);
    // GetScreen2Param leaves the mode as it was.
    Job fine(SamplePPDText(), "QKScreen2=Fineness");
    s.mode = 7;
    ASSERT_EQ(GetScreen2Param(fine.ppd(), &s), 0);
    EXPECT_EQ(s.mode, 7);
    EXPECT_EQ(s.colorScreen, 1);
  }
  {
    // No Screen2 option at all: mode 0, numbers 0.
    Job job(SamplePPDText({{"*OpenUI *QKScreen2/Screen: PickOne", "*OpenUI *QKScreenTwo/Screen: PickOne"},
                           {"*OrderDependency: 40 AnySetup *QKScreen2", "*OrderDependency: 40 AnySetup *QKScreenTwo"},
                           {"*DefaultQKScreen2: Standard", "*DefaultQKScreenTwo: Standard"},
                           {"*QKScreen2 Fineness/", "*QKScreenTwo Fineness/"},
                           {"*QKScreen2 Standard/", "*QKScreenTwo Standard/"},
                           {"*QKScreen2 Gradation/", "*QKScreenTwo Gradation/"},
                           {"*CloseUI: *QKScreen2", "*CloseUI: *QKScreenTwo"}}),
            "");
    s = {9, 9, 9};
    ASSERT_EQ(GetScreen2Setting(job.ppd(), &s), 0);
    EXPECT_EQ(s.mode, 0);
    EXPECT_EQ(s.colorScreen, 0);
    EXPECT_EQ(s.monoScreen, 0);
  }
}

}  // namespace
