// The PJL job header: line order and contents for PPDs and options that
// switch rows on and off, host and clock facts through the host hooks, and
// values that try to break out of their lines.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "hbplbytes.h"
#include "hbplhost.h"
#include "hbpljob.h"
#include "hbploption.h"
#include "pjlheader.h"
#include "runfilter.h"
#include "ztcolorsetting.h"

namespace {

// ---- Host facts --------------------------------------------------------------

std::string gFakeName = "printhost";
bool gNameOk = true;
uint8_t gFakeAddress[4] = {192, 168, 0, 5};
bool gAddressOk = true;
bool gTimeOk = true;

int FakeHostName(char* name, size_t size) {
  if (!gNameOk || gFakeName.size() >= size) return -1;
  memcpy(name, gFakeName.c_str(), gFakeName.size() + 1);
  return 0;
}
int FakeHostAddress(const char*, uint8_t address[4]) {
  if (!gAddressOk) return -1;
  memcpy(address, gFakeAddress, 4);
  return 0;
}
int FakeLocalTime(struct tm* now) {
  if (!gTimeOk) return -1;
  *now = {};
  now->tm_year = 2026 - 1900;
  now->tm_mon = 2;
  now->tm_mday = 5;
  now->tm_hour = 9;
  now->tm_min = 4;
  now->tm_sec = 7;
  return 0;
}

// ---- PPDs --------------------------------------------------------------------

constexpr char kTicket[] = "com.korva.cps.print.printsettings.";

std::string Ticket(const std::string& key, const std::string& value) { return kTicket + key + "=" + value; }

// A PPD with nothing but one page size: every optional row is left out.
std::string MinimalPPD(const std::string& extra = "") {
  return "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n*LanguageVersion: English\n"
         "*LanguageEncoding: ISOLatin1\n*PCFileName: \"MINIMAL.PPD\"\n*Manufacturer: \"Korva\"\n"
         "*Product: \"(Korva Minimal)\"\n*ModelName: \"Korva Minimal\"\n*ShortNickName: \"Korva Minimal\"\n"
         "*NickName: \"Korva Minimal\"\n*PSVersion: \"(3010.000) 0\"\n"
         "*OpenUI *PageSize: PickOne\n*DefaultPageSize: A4\n*PageSize A4/A4: \"\"\n*CloseUI: *PageSize\n"
         "*DefaultImageableArea: A4\n*ImageableArea A4/A4: \"12 12 583 830\"\n"
         "*DefaultPaperDimension: A4\n*PaperDimension A4/A4: \"595 842\"\n" +
         extra;
}

std::string PickOne(const std::string& option, const std::vector<std::pair<std::string, std::string>>& choices) {
  std::string s = "*OpenUI *" + option + ": PickOne\n*Default" + option + ": " + choices.front().first + "\n";
  for (const auto& [name, code] : choices) s += "*" + option + " " + name + ": \"" + code + "\"\n";
  return s + "*CloseUI: *" + option + "\n";
}

struct HeaderRun {
  std::vector<std::string> lines;
  std::string raw;
  std::string err;
};

// Writes the job header as the filter does for this PPD and these options,
// and checks that it is a sound PJL block.
HeaderRun RunHeader(const std::string& ppdText, const std::string& options, const std::string& user = "alice",
                    const std::string& title = "Quarterly report", int printerCopies = 1) {
  TempFile ppdFile(ppdText, ".ppd");
  setenv("PPD", ppdFile.path().c_str(), 1);
  ZTPPDSetting setting;
  HeaderRun run;
  testing::internal::CaptureStderr();
  if (setting.Create(options.c_str()) != 0) {
    run.err = testing::internal::GetCapturedStderr();
    ADD_FAILURE() << "PPD did not open: " << run.err;
    return run;
  }
  ColorSetting color;
  Screen2Setting screen2;
  GetColorSetting(setting.ppd, &color, setting.numOptions, setting.options);
  GetScreen2Setting(setting.ppd, &screen2);
  PJLJobInfo job;
  job.ppd = setting.ppd;
  job.numOptions = setting.numOptions;
  job.options = setting.options;
  job.user = user.c_str();
  job.title = title.c_str();
  job.printerCopies = printerCopies;
  job.colorSetting = &color;
  job.screen2Setting = &screen2;
  run.raw = CaptureStream([&](FILE* fp) { WritePJLJobHeader(fp, &job); });
  run.err = testing::internal::GetCapturedStderr();
  // Close it as a job so that the whole block goes through the job reader.
  const std::string job1 = run.raw + std::string("A\x81\xA1\x00\x82\xA2\x01\x00\x83\xA2\x01\x00", 12) +
                           "B\x1B%-12345X@PJL EOJ\n";
  hbpljob::Job parsed;
  hbpljob::Error error;
  EXPECT_TRUE(hbpljob::ParseJob(job1, &parsed, &error)) << error.message << " at " << error.offset;
  run.lines = parsed.headerLines;
  return run;
}

class HbplPJLHeader : public ::testing::Test {
 protected:
  void SetUp() override {
    gZTHostHooks = {FakeHostName, FakeHostAddress, FakeLocalTime};
    gFakeName = "printhost";
    gNameOk = gAddressOk = gTimeOk = true;
    const uint8_t address[4] = {192, 168, 0, 5};
    memcpy(gFakeAddress, address, 4);
  }
  void TearDown() override { gZTHostHooks = ZT_SYSTEM_HOST_HOOKS; }
};

std::vector<std::string> JobAttrs(std::initializer_list<std::pair<const char*, const char*>> pairs) {
  std::vector<std::string> lines;
  for (const auto& [tag, value] : pairs)
    lines.push_back(std::string("@PJL SET JOBATTR=\"@") + tag + "=" + value + "\"");
  return lines;
}

std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST_F(HbplPJLHeader, EveryRowInOrder) {
  const std::string options =
      "InputSlot=2ndTray Duplex=DuplexTumble QKSubPaperSelection=Policy3 QKColorDensityCyanLow=-3 "
      "QKColorDensityBlackHigh=3 MediaType=StationaryBack QKTonerSaver=True QKTrapping=True QKEdgeEnhance=True "
      "QKDigitalFilter=High number-up=4 QKSecurityPrint=Private QKSecurityUserID=Owner QKSecurityPasswd=Pin1234 "
      "QKSecurityJobName=Report QKPreferredMediaType=CoatingPaper1 QKOutputMode=300x300 QKDocumentType=Off "
      "QKLetterHeadDuplexMode=DupOn " +
      Ticket("JBAManageTypeListTicketKey", "2") + " " + Ticket("JBAUserIDListCtrlTicket", "2") + " " +
      Ticket("JBAUserIDTextEditTicket", "carol") + " " + Ticket("JBAUserPasswordTextEditTicket", "s3cret");
  const HeaderRun run = RunHeader(SamplePPDText(), options, "alice", "Quarterly report", 5);
  const std::vector<std::string> expected = Concat({
      {"@PJL JOB MODE=PRINTER", "@PJL SET STRINGCODESET=UTF8", "@PJL COMMENT DATE=03/05/2026",
       "@PJL COMMENT TIME=09:04:07", "@PJL COMMENT DNAME=Quarterly report"},
      JobAttrs({{"LUNA", "alice"}}),
      {"@PJL SET QTY=5"},
      JobAttrs({{"TRCH", "OFF"}, {"INPT", "INTRAY2"}}),
      {"@PJL SET DUPLEX=ON", "@PJL SET BINDING=SHORTEDGE"},
      JobAttrs({{"SPSE", "NEAR2"}, {"AJCL", "0"}, {"AJCM", "3"}, {"AJCH", "3"}, {"AJML", "3"}, {"AJMM", "3"},
                {"AJMH", "3"}, {"AJYL", "3"}, {"AJYM", "3"}, {"AJYH", "3"}, {"AJKL", "3"}, {"AJKM", "3"},
                {"AJKH", "6"}, {"MSIP", "NORMAL"}}),
      {"@PJL SET MEDIAFACE=BACKFACE", "@PJL SET RENDERMODE=COLOR", "@PJL SET ECONOMODE=ON"},
      JobAttrs({{"IREC", "OFF"}, {"TRAP", "ON"}}),
      {"@PJL SET RET=ON"},
      JobAttrs({{"TDFT", "3"}, {"GDFT", "3"}, {"IDFT", "3"}, {"NLPP", "N4"}, {"HOAD", "IC0A805"}, {"JOAU", "carol"},
                {"CNAM", "printhost"}}),
      {"@PJL SET HOLD=STORE", "@PJL SET HOLDTYPE=PRIVATE", "@PJL SET USERNAME=\"owner\"", "@PJL SET HOLDKEY=\"1234\"",
       "@PJL SET JOBNAME=\"Report\"", "@PJL SET OUTBIN=FACEDOWN"},
      JobAttrs({{"PODR", "NORMAL"}}),
      {"@PJL SET SLIPSHEET=OFF", "@PJL SET PAPERDIRECTION=SEF"},
      JobAttrs({{"APSP", "COAT1"}}),
      {"@PJL SET RESOLUTION=300", "@PJL SET BITSPERPIXEL=8"},
      JobAttrs({{"DRDM", "RASTER"}, {"TCPR", "0"}, {"GCPR", "0"}, {"ICPR", "0"}, {"TUCR", "0"}, {"GUCR", "0"},
                {"IUCR", "0"}, {"TTRC", "2"}, {"GTRC", "2"}, {"ITRC", "2"}, {"TSCR", "2"}, {"GSCR", "2"},
                {"ISCR", "2"}, {"BANR", "DEVICE"}, {"FCMS", "ON"}, {"DDPM", "ON"}, {"JOEP", "s3cret"}}),
      {"@PJL ENTER LANGUAGE=HBPL"},
  });
  EXPECT_EQ(run.lines, expected);
  // The block opens with the UEL and no line feed after it.
  EXPECT_EQ(run.raw.substr(0, 31), "\x1B%-12345X@PJL JOB MODE=PRINTER\n");
}

TEST_F(HbplPJLHeader, MissingSettingsLeaveTheirLinesOut) {
  gTimeOk = false;
  gNameOk = false;
  const HeaderRun run = RunHeader(MinimalPPD(), "", "alice", "");
  const std::vector<std::string> expected = Concat({
      {"@PJL JOB MODE=PRINTER", "@PJL SET STRINGCODESET=UTF8", "@PJL COMMENT DNAME="},
      JobAttrs({{"LUNA", "alice"}, {"TRCH", "OFF"}, {"MSIP", "OFF"}}),
      {"@PJL SET RENDERMODE=GRAYSCALE", "@PJL SET ECONOMODE=OFF"},
      JobAttrs({{"IREC", "OFF"}, {"JOAU", "alice"}}),
      {"@PJL SET OUTBIN=FACEDOWN"},
      JobAttrs({{"PODR", "NORMAL"}}),
      {"@PJL SET SLIPSHEET=OFF", "@PJL SET PAPERDIRECTION=SEF"},
      JobAttrs({{"APSP", "OFF"}}),
      {"@PJL SET RESOLUTION=600", "@PJL SET BITSPERPIXEL=8"},
      JobAttrs({{"DRDM", "RASTER"}, {"TTRC", "0"}, {"GTRC", "0"}, {"ITRC", "0"}, {"TSCR", "0"}, {"GSCR", "0"},
                {"ISCR", "0"}, {"PBLK", "OFF"}, {"BANR", "DEVICE"}}),
      {"@PJL ENTER LANGUAGE=HBPL"},
  });
  EXPECT_EQ(run.lines, expected);
}

// One job setting and the values it gives to the keys it drives.
struct RowCase {
  const char* name;
  std::string ppd;
  std::string options;
  std::vector<std::pair<std::string, std::vector<std::string>>> expect;
  std::string warning = "";
  int printerCopies = 1;
};

std::vector<RowCase> RowCases() {
  const std::string sample = SamplePPDText();
  const std::string dialectA = SamplePPDText({}, "*QKExtensionHB2: True\n");
  const std::string dialectC = SamplePPDText({}, "*QKExtensionHB1: True\n");
  const std::string extraMedia = "*MediaType ThickPaper2/Thick 2: \"\"\n";
  const std::string mediaB = PickOne("MediaType", {{"Stationary", ""}, {"ThickPaper3", ""}, {"CoatingPaper4Back", ""}, {"Recycled", ""}, {"Glossy", ""}, {"Envelope", ""}, {"ThickPaper2", ""}});
  const std::string screen5 =
      SamplePPDText({{"*QKScreen2 Fineness/Fineness: \"<</QKSCREEN2 1 /QKMONOSCREEN2 1>>\"",
                      "*QKScreen2 Fineness/Fineness: \"<</QKSCREEN2 4 /QKMONOSCREEN2 5>>\""}});
  const std::string accounting = Ticket("JBAManageTypeListTicketKey", "1") + " " +
                                 Ticket("JBAAdminLoginTextEditTicket", "root-login") + " " +
                                 Ticket("JBAAdminUserIDTextEditTicket", "root-id") + " " +
                                 Ticket("JBALoginTextEditTicket", "user-login") + " " +
                                 Ticket("JBAUserIDTextEditTicket", "user-id") + " " +
                                 Ticket("JBAAdminUserPasswordTextEditTicket", "adminpw") + " " +
                                 Ticket("JBAUserPasswordTextEditTicket", "userpw");
  auto mode = [&](const char* manage, const char* adminSel, const char* userSel) {
    std::string all = accounting;
    all.replace(all.find("JBAManageTypeListTicketKey=1"), 28, std::string("JBAManageTypeListTicketKey=") + manage);
    return all + " " + Ticket("JBAAdminUserIDListCtrlTicket", adminSel) + " " +
           Ticket("JBAUserIDListCtrlTicket", userSel);
  };
  return {
      {"AutoSelectTray", sample, "InputSlot=AutoSelect", {{"TRCH", {"ON"}}, {"INPT", {}}}},
      {"BypassTray", sample, "InputSlot=BypassTray", {{"TRCH", {"OFF"}}, {"INPT", {}}}},
      {"FourthTray", sample, "InputSlot=4thTray", {{"TRCH", {"OFF"}}, {"INPT", {"INTRAY4"}}}},
      {"LongEdge", sample, "Duplex=DuplexNoTumble", {{"DUPLEX", {"ON"}}, {"BINDING", {"LONGEDGE"}}}},
      {"Simplex", sample, "Duplex=None", {{"DUPLEX", {"OFF"}}, {"BINDING", {}}}},
      {"DuplexWithoutUnit", sample, "Option2=False Duplex=DuplexNoTumble", {{"DUPLEX", {"OFF"}}, {"BINDING", {}}}},
      {"UncollatedCopies", sample, "Collate=False", {{"COPIES", {"3"}}, {"QTY", {}}}, "", 3},
      {"CopiesClamped", sample, "Collate=True", {{"QTY", {"999"}}}, "", 1500},
      {"SubPaperDefault", sample, "QKSubPaperSelection=Policy0", {{"SPSE", {"AUTO"}}}},
      {"SubPaperOff", sample, "QKSubPaperSelection=Policy2", {{"SPSE", {"OFF"}}}},
      {"SubPaperBig", sample, "QKSubPaperSelection=Policy6", {{"SPSE", {"BIG1"}}}},
      {"Monochrome", sample, "QKColorMode=Black QKTrapping=True QKDocumentType=Off",
       {{"RENDERMODE", {"GRAYSCALE"}}, {"TRAP", {"OFF"}}, {"FCMS", {}}, {"TCPR", {}}, {"PBLK", {"OFF"}}}},
      {"DigitalFilterMiddle", sample, "QKDigitalFilter=Middle", {{"TDFT", {"2"}}, {"GDFT", {"2"}}, {"IDFT", {"2"}}}},
      {"MaglevModel", SamplePPDText({}, "*QKMaglev: True\n"), "QKDigitalFilter=High QKColorMode=Black QKThinInkPrint=True",
       {{"TDFT", {"0"}}, {"PBLK", {"OFF"}}}},
      {"ThinInk", sample, "QKColorMode=Black QKThinInkPrint=True", {{"PBLK", {"ON"}}}},
      {"NumberUpOne", sample, "number-up=1", {{"NLPP", {"1"}}}},
      {"NumberUpMissing", sample, "QKOutputMode=600x600", {{"NLPP", {"1"}}, {"RESOLUTION", {"600"}}}},
      {"NumberUpNoOptions", sample, "", {{"NLPP", {}}}},
      {"NumberUpNotANumber", sample, "number-up=abc", {{"NLPP", {}}}},
      {"LandscapePaper", sample, "PageSize=QKReplyPostcard", {{"PAPERDIRECTION", {"LEF"}}}},
      {"LetterheadOff", sample, "QKLetterHeadDuplexMode=DupOff", {{"DDPM", {"OFF"}}}},
      {"LetterheadAuto", sample, "QKLetterHeadDuplexMode=DupAuto", {{"DDPM", {"AUTO"}}}},
      {"PhotoTables", sample, "QKDocumentType=Photo",
       {{"TCPR", {"2"}}, {"IUCR", {"2"}}, {"GTRC", {"2"}}, {"ISCR", {"2"}}, {"FCMS", {}}}},
      {"MonoScreen2", screen5, "QKColorMode=Black QKScreen2=Fineness",
       {{"TTRC", {"5"}}, {"GTRC", {"5"}}, {"ITRC", {"5"}}, {"TSCR", {"5"}}, {"GSCR", {"5"}}, {"ISCR", {"5"}}}},
      {"ColourScreen2", screen5, "QKScreen2=Fineness QKDocumentType=Graphics",
       {{"TCPR", {"3"}}, {"TUCR", {"3"}}, {"TTRC", {"4"}}, {"TSCR", {"4"}}}},
      {"MonoWithoutScreen2", MinimalPPD(PickOne("QKDocumentType", {{"Standard", "<</QKMONOTRC 7 /QKMONOSCREEN 8>>"}})), "",
       {{"TTRC", {"7"}}, {"TSCR", {"8"}}, {"PBLK", {"OFF"}}}},
      // Secure print.
      {"SecureOff", sample, "QKSecurityPrint=Off", {{"HOLD", {}}, {"USERNAME", {}}, {"JOBNAME", {}}}},
      {"SecurePublic", sample, "QKSecurityPrint=Public QKSecurityUserID=Owner QKSecurityPasswd=Pin1234",
       {{"HOLD", {"STORE"}}, {"HOLDTYPE", {"PUBLIC"}}, {"USERNAME", {"\"owner\""}}, {"HOLDKEY", {}}, {"JOBNAME", {"\"\""}}}},
      {"SecurePrivateEmptyKey", sample, "QKSecurityPrint=Private",
       {{"HOLDTYPE", {"PRIVATE"}}, {"HOLDKEY", {}}, {"USERNAME", {"\"\""}}}},
      {"SecureSecure", sample, "QKSecurityPrint=Security QKSecurityPasswd=Pin1234 QKSecurityJobName=Report",
       {{"HOLD", {"STORE"}}, {"HOLDTYPE", {"SECURE"}}, {"HOLDKEY", {"\"1234\""}}, {"JOBNAME", {"\"Report\""}}}},
      {"SecureProof", sample, "QKSecurityPrint=Proof QKSecurityPasswd=Pin1234",
       {{"HOLD", {"PROOF"}}, {"HOLDTYPE", {}}, {"HOLDKEY", {}}, {"USERNAME", {"\"\""}}}},
      // Accounting owner and password.
      {"OwnerAdminLogin", sample, mode("1", "1", "2"), {{"JOAU", {"root-login"}}, {"JOEP", {"adminpw"}}}},
      {"OwnerAdminInput", sample, mode("1", "2", "1"), {{"JOAU", {"root-id"}}, {"JOEP", {"adminpw"}}}},
      {"OwnerUserLogin", sample, mode("2", "2", "1"), {{"JOAU", {"user-login"}}, {"JOEP", {"userpw"}}}},
      {"OwnerUserInput", sample, mode("2", "1", "2"), {{"JOAU", {"user-id"}}, {"JOEP", {"userpw"}}}},
      {"OwnerOtherSelection", sample, mode("2", "1", "3"), {{"JOAU", {"alice"}}, {"JOEP", {"userpw"}}}},
      {"OwnerOtherMode", sample, mode("3", "1", "1"), {{"JOAU", {"alice"}}, {"JOEP", {}}}},
      {"OwnerSelectedMissing", sample, Ticket("JBAManageTypeListTicketKey", "1") + " " + Ticket("JBAAdminUserIDListCtrlTicket", "1"),
       {{"JOAU", {"alice"}}, {"JOEP", {}}}},
      // Media types: basic dialect (the sample model).
      {"BasicThick3", MinimalPPD(mediaB), "MediaType=ThickPaper3", {{"MSIP", {"THICK"}}, {"MEDIAFACE", {}}, {"APSP", {"OFF"}}}},
      {"BasicCoat4Back", MinimalPPD(mediaB), "MediaType=CoatingPaper4Back", {{"MSIP", {"COAT"}}, {"MEDIAFACE", {}}}},
      {"BasicPostcardBack", sample, "MediaType=PostcardBack", {{"MSIP", {"PCMEDIA"}}, {"MEDIAFACE", {"BACKFACE"}}}},
      {"BasicRecycled", sample, "MediaType=Recycled", {{"MSIP", {"NORMAL"}}}},
      {"NoMediaType", MinimalPPD(), "", {{"MSIP", {"OFF"}}, {"MEDIAFACE", {}}}},
      // Tray dialect: APSP by tray, MSIP on the bypass tray; then the preferred APSP.
      {"TrayEnvelopeTray2", dialectA, "MediaType=Envelope InputSlot=2ndTray", {{"APSP", {"ENVELOPE", "OFF"}}, {"MSIP", {"OFF"}}}},
      {"TrayEnvelopeBypass", dialectA, "MediaType=Envelope InputSlot=BypassTray", {{"APSP", {"OFF", "OFF"}}, {"MSIP", {"ENVELOPE"}}}},
      {"TrayUnknownMedia", MinimalPPD("*QKMediaTypeKVAGDI: True\n" + mediaB), "MediaType=Glossy",
       {{"APSP", {"OFF"}}, {"MSIP", {"OFF"}}}, "WARNING: Unknown media keyword \"Glossy\".\n"},
      {"TrayThick2", MinimalPPD("*QKExtensionHB2: True\n" + mediaB), "MediaType=ThickPaper2",
       {{"APSP", {"OFF"}}, {"MSIP", {"THICK2"}}}},
      // Extended dialect.
      {"ExtendedThick2", dialectC, "MediaType=ThickPaper2", {{"MSIP", {"SUPERTHICK"}}, {"MEDIAFACE", {}}}},
      {"ExtendedBack", dialectC, "MediaType=CoatingPaper2Back", {{"MSIP", {"COATEDPAPER2REV"}}}},
      {"ExtendedUnknown", MinimalPPD("*QKExtensionHB1: True\n" + mediaB), "MediaType=Glossy", {{"MSIP", {"OFF"}}}},
      // Preferred and tray 1 media.
      {"PreferredFine", sample, "QKPreferredMediaType=FinePaper", {{"APSP", {"FINE"}}}},
      {"PreferredDefault", sample, "QKPreferredMediaType=Default", {{"APSP", {"OFF"}}}},
      {"Tray1Media", SamplePPDText({}, PickOne("QKExtMediaTypeTray1", {{"Default", ""}, {"ThickPaper2", ""}, {"LabelPaper", ""}})),
       "QKExtMediaTypeTray1=ThickPaper2", {{"APSP", {"SUPERTHICK"}}}},
      {"Tray1Default", SamplePPDText({}, PickOne("QKExtMediaTypeTray1", {{"Default", ""}, {"LabelPaper", ""}})), "",
       {{"APSP", {"OFF"}}}},
  };
}

TEST_F(HbplPJLHeader, EachSettingDrivesItsLines) {
  for (const RowCase& c : RowCases()) {
    SCOPED_TRACE(c.name);
    const HeaderRun run = RunHeader(c.ppd, c.options, "alice", "t", c.printerCopies);
    for (const auto& [key, values] : c.expect) EXPECT_EQ(hbpljob::FindPJLValues(run.lines, key), values) << key;
    EXPECT_EQ(run.err, c.warning);
  }
}

// What every setting reader returns for one job (in call order), what they
// wrote on stderr, and the job header.
struct SettingsReadout {
  std::vector<std::string> readers;
  std::string err;
  std::vector<std::string> header;
};

SettingsReadout ReadEverySetting(const std::string& ppdText, const std::string& options) {
  VENDOR_PREFIX[0] = VENDOR_PREFIX_COPY[0] = PPD_PREFIX[0] = '\0';
  TempFile ppdFile(ppdText, ".ppd");
  setenv("PPD", ppdFile.path().c_str(), 1);
  ZTPPDSetting s;
  SettingsReadout r;
  if (s.Create(options.c_str()) != 0) return r;
  ppd_file_t* p = s.ppd;
  testing::internal::CaptureStderr();
  ColorSetting c{};
  Screen2Setting s2{};
  GetColorSetting(p, &c, s.numOptions, s.options);
  GetScreen2Setting(p, &s2);
  for (int v : {GetResolution(p), GetSecurityPrint(p), GetLetterheadDuplexModeSetting(p), CheckIfDriverColorMatching(p),
                GetDigitalFilterSetting(p), GetEdgeEnhanceSetting(p), GetTrappingSetting(p), GetZTTurnPageSetting(p),
                GetSkipBlankPagesSetting(p), GetScreen2ModeSetting(p), GetThinInkPrintSetting(p), GetTonerSaveSetting(p),
                GetColorModeSetting(p), GetFallbackThreshold(p), GetMemoryModuleSetting(p),
                GetDeviceCollateMemoryThreshold(p), CheckIfDeviceCopies(p), c.dlutNumber, c.ucrNumber, c.trcNumber,
                c.screenNumber, c.monoTrcNumber, c.monoScreenNumber, s2.colorScreen, s2.monoScreen})
    r.readers.push_back(std::to_string(v));
  for (auto reader : {GetSecurityJobName, GetSecurityPasswd, GetSecurityUserID}) {
    char* raw = nullptr;
    r.readers.push_back(reader(p, &raw) == 0 ? raw : "(none)");
    free(raw);
  }
  r.err = testing::internal::GetCapturedStderr();
  r.header = RunHeader(ppdText, options).lines;
  return r;
}

// The same jobs through the sample PPD and the sample model sold as Pask
// ("@" stands for the manufacturer's prefix).
TEST_F(HbplPJLHeader, EveryManufacturerReadsTheSameSettings) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"", "InputSlot=2ndTray Duplex=DuplexTumble @SubPaperSelection=Policy3 @ColorDensityCyanLow=-3 "
           "@ColorDensityMagentaMid=2 @ColorDensityBlackHigh=3 MediaType=StationaryBack @TonerSaver=True "
           "@Trapping=True @EdgeEnhance=True @DigitalFilter=High @SecurityPrint=Private @SecurityUserID=Owner "
           "@SecurityPasswd=Pin1234 @SecurityJobName=Report @PreferredMediaType=CoatingPaper1 @OutputMode=300x300 "
           "@DocumentType=Photo @LetterHeadDuplexMode=DupOn @Screen2=Fineness @TurnPage=True @Skip=True"},
      {"*@Maglev: True\n*@ExtensionHB2: True\n" + PickOne("@ExtMediaTypeTray1", {{"Default", ""}, {"ThickPaper2", ""}}),
       "@ColorMode=Black @ThinInkPrint=True @DigitalFilter=Low MediaType=Envelope InputSlot=BypassTray "
       "@ExtMediaTypeTray1=ThickPaper2 @DocumentType=Off @LetterHeadDuplexMode=DupOff Collate=False"},
      {"*@MediaTypeKVAGDI: True\n", "MediaType=Envelope InputSlot=3rdTray @SecurityPrint=Proof"},
      {"*@ExtensionHB1: True\n", "MediaType=ThickPaper2 @SubPaperSelection=SMH"},
  };
  auto spell = [](std::string text, const char* prefix) {
    for (size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, prefix);
    return text;
  };
  for (const auto& [extraPPD, options] : cases) {
    SCOPED_TRACE(options);
    const std::string korvaPPD = SamplePPDText({}, spell(extraPPD, "QK"));
    const SettingsReadout korva = ReadEverySetting(korvaPPD, spell(options, "QK"));
    const SettingsReadout pask = ReadEverySetting(RebrandPPDText(korvaPPD, "Pask", "PK"), spell(options, "PK"));
    ASSERT_EQ(korva.readers.size(), 28u);
    EXPECT_EQ(pask.readers, korva.readers);
    EXPECT_EQ(pask.header, korva.header);
    EXPECT_EQ(pask.err + korva.err, "");
  }
}

TEST_F(HbplPJLHeader, HostFacts) {
  gFakeAddress[0] = 10;
  gFakeAddress[1] = gFakeAddress[2] = 0;
  gFakeAddress[3] = 1;
  EXPECT_EQ(hbpljob::FindPJLValues(RunHeader(MinimalPPD(), "").lines, "HOAD"), std::vector<std::string>{"IA001"});

  // A name of 31 characters is too long for CNAM but still finds its address.
  gFakeName = std::string(31, 'h');
  HeaderRun run = RunHeader(MinimalPPD(), "");
  EXPECT_EQ(hbpljob::FindPJLValues(run.lines, "CNAM").size(), 0u);
  EXPECT_EQ(hbpljob::FindPJLValues(run.lines, "HOAD").size(), 1u);
  gFakeName = std::string(30, 'h');
  EXPECT_EQ(hbpljob::FindPJLValues(RunHeader(MinimalPPD(), "").lines, "CNAM"), std::vector<std::string>{gFakeName});

  gAddressOk = false;
  run = RunHeader(MinimalPPD(), "");
  EXPECT_EQ(hbpljob::FindPJLValues(run.lines, "HOAD").size(), 0u);
  EXPECT_EQ(hbpljob::FindPJLValues(run.lines, "CNAM").size(), 1u);
}

TEST_F(HbplPJLHeader, HostileTextStaysInsideItsLine) {
  const std::string options = "QKSecurityPrint=Private " + Ticket("JBAManageTypeListTicketKey", "2") + " " +
                              Ticket("JBAUserIDListCtrlTicket", "2") + " " +
                              Ticket("JBAUserIDTextEditTicket", "'ca\"rol\n@PJL SET HOLD=ON'") + " " +
                              Ticket("JBAUserPasswordTextEditTicket", "'pw\r\n@PJL RDYMSG DISPLAY=\"x\"'");
  const std::string calm = "QKSecurityPrint=Private " + Ticket("JBAManageTypeListTicketKey", "2") + " " +
                           Ticket("JBAUserIDListCtrlTicket", "2") + " " + Ticket("JBAUserIDTextEditTicket", "carol") +
                           " " + Ticket("JBAUserPasswordTextEditTicket", "pw");
  gFakeName = "evil\"host\x1B";
  const HeaderRun hostile =
      RunHeader(SamplePPDText(), options, "bob\"\n@PJL DEFAULT", "Q4\n@PJL SET HOLD=STORE\r\x1B%-12345X");
  const HeaderRun baseline = RunHeader(SamplePPDText(), calm, "bob", "Q4");
  // RunHeader has already checked every line; the hostile job has no extra
  // lines and every value is the sender's text with the dangerous bytes
  // replaced.
  EXPECT_EQ(hostile.lines.size(), baseline.lines.size());
  using V = std::vector<std::string>;
  EXPECT_EQ(hbpljob::FindPJLValues(hostile.lines, "LUNA"), V{"bob' @PJL DEFAULT"});
  EXPECT_EQ(hbpljob::FindPJLValues(hostile.lines, "JOAU"), V{"ca'rol @PJL SET HOLD=ON"});
  EXPECT_EQ(hbpljob::FindPJLValues(hostile.lines, "JOEP"), V{"pw  @PJL RDYMSG DISPLAY='x'"});
  EXPECT_EQ(hbpljob::FindPJLValues(hostile.lines, "CNAM"), V{"evil'host "});
  EXPECT_EQ(hbpljob::FindPJLValues(hostile.lines, "HOLD"), V{"STORE"});
  EXPECT_NE(std::find(hostile.lines.begin(), hostile.lines.end(), "@PJL COMMENT DNAME=Q4 @PJL SET HOLD=STORE  %-12345X"),
            hostile.lines.end());
  EXPECT_EQ(hostile.raw.find('\r'), std::string::npos);
  EXPECT_EQ(hostile.raw.find('\x1B', 1), std::string::npos);  // only the UEL
}

TEST_F(HbplPJLHeader, LongValuesAreCutToTheLineLimit) {
  auto dname = [](const HeaderRun& run) {
    return std::count_if(run.lines.begin(), run.lines.end(), [](const std::string& l) { return l.rfind("@PJL COMMENT DNAME=", 0) == 0; });
  };
  EXPECT_EQ(dname(RunHeader(MinimalPPD(), "", "u", std::string(235, 't'))), 1);
  EXPECT_EQ(dname(RunHeader(MinimalPPD(), "", "u", std::string(236, 't'))), 0);

  // JOBATTR: the value is cut, the quote and line feed stay (254 + LF).
  HeaderRun run = RunHeader(MinimalPPD(), "", std::string(300, 'u'));
  const std::string luna = "@PJL SET JOBATTR=\"@LUNA=" + std::string(229, 'u') + "\"";
  EXPECT_NE(std::find(run.lines.begin(), run.lines.end(), luna), run.lines.end());
  EXPECT_NE(run.raw.find(luna + "\n"), std::string::npos);
  // A cut never splits a UTF-8 character: 229 bytes of room hold 114 of them.
  std::string accents;
  for (int i = 0; i < 200; ++i) accents += "\xC3\xA9";
  run = RunHeader(MinimalPPD(), "", accents);
  EXPECT_EQ(hbpljob::FindPJLValues(run.lines, "LUNA").at(0), accents.substr(0, 228));

  // A quoted SET value keeps both quotes inside 255 bytes. (PPD lines are
  // short: the long code runs over two lines, its line break becomes a blank.)
  const std::string longUser = std::string(200, 'k') + "\n" + std::string(200, 'k');
  run = RunHeader(SamplePPDText({{"*QKSecurityUserID Owner/Job Owner: \"owner\"",
                                  "*QKSecurityUserID Owner/Job Owner: \"" + longUser + "\""}}),
                  "QKSecurityPrint=Public QKSecurityUserID=Owner");
  const std::vector<std::string> user = hbpljob::FindPJLValues(run.lines, "USERNAME");
  ASSERT_EQ(user.size(), 1u);
  EXPECT_EQ(user[0], "\"" + std::string(200, 'k') + " " + std::string(254 - 20 - 201, 'k') + "\"");
}

// Every byte outside a well-formed character becomes one '?', C1 controls a
// space; a cut keeps whole characters. Each row: input, room, expected text.
TEST(PJLSafeText, IllFormedUTF8BecomesQuestionMarks) {
  struct Row { std::string in; size_t room; std::string out; };
  const Row rows[] = {
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x96\xA8", 64, "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x96\xA8"},
      {"a\x80z", 64, "a?z"},                        // stray continuation byte
      {"a\xC3z", 64, "a?z"},                        // lead without continuation
      {"\xE2\x82z", 64, "??z"},                     // three-byte form cut short
      {"\xC0\xAF\xE0\x80\xAF", 64, "?????"},        // overlong forms
      {"\xED\xA0\x80", 64, "???"},                  // surrogate
      {"\xF4\x90\x80\x80\xF5\xFF", 64, "??????"},   // above U+10FFFF, never-valid bytes
      {"\xC2\x85x\xC2\xA0", 64, " x\xC2\xA0"},      // C1 control; NBSP stays
      {"ab\xE2\x82\xAC", 4, "ab"},                  // the euro does not fit whole
      {"ab\xE2\x82", 3, "ab?"},                     // broken bytes are cut one by one
  };
  for (const Row& row : rows) {
    char out[80];
    EXPECT_EQ(CopyPJLSafeText(out, row.in.c_str(), row.room), row.out.size()) << row.in;
    EXPECT_EQ(std::string(out), row.out) << row.in;
  }
  // In the job header: the title comment and the user's attribute.
  const HeaderRun run = RunHeader(MinimalPPD(), "", "b\xF6rje", "r\xE9sum\xE9");
  EXPECT_EQ(hbpljob::FindPJLValues(run.lines, "LUNA").at(0), "b?rje");
  EXPECT_NE(std::find(run.lines.begin(), run.lines.end(), "@PJL COMMENT DNAME=r?sum?"), run.lines.end());
}

TEST_F(HbplPJLHeader, DateAndTimeAreZeroPadded) {
  const HeaderRun run = RunHeader(MinimalPPD(), "");
  EXPECT_EQ(run.lines.at(2), "@PJL COMMENT DATE=03/05/2026");
  EXPECT_EQ(run.lines.at(3), "@PJL COMMENT TIME=09:04:07");
}

}  // namespace
