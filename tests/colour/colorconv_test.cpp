// ztcolorconv as a program: output kinds, header rewrites, the conversion of
// each pixel against the colour library, chunking and every failure.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runfilter.h"
#include "ztcolorlut.h"
#include "ztdevparam.h"
#include "ztraster.h"
#include "ztrgboperation.h"
#include "ztstreams.h"

namespace {

const char kBrightness[] = "com.korva.cps.print.printsettings.ImageSettings.Brightness";
const char kChroma[] = "com.korva.cps.print.printsettings.ImageSettings.Chroma";
const char kContrast[] = "com.korva.cps.print.printsettings.ImageSettings.Contrast";
const char kInstalledDlb[] = "/usr/share/ztdriver/korva-zt.dlb";

// The sample PPD with its data file path pointing into the source tree.
std::string ModelPPD(std::vector<std::pair<std::string, std::string>> replace = {}, const std::string& extra = "") {
  replace.insert(replace.begin(), {kInstalledDlb, DataPath("korva-zt.dlb")});
  return SamplePPDText(replace, extra);
}
// The same without CMYK output: RGB or grey pages, with the RGB DLUT file.
std::string RgbModelPPD(std::vector<std::pair<std::string, std::string>> replace = {}) {
  replace.insert(replace.begin(), {"*QKDoRGBtoCMYK: \"True\"\n", ""});
  replace.insert(replace.begin(), {kInstalledDlb, DataPath("korva-zt-rgb.dlut")});
  return SamplePPDText(replace);
}

struct Outcome {
  FilterResult r;
  std::vector<ParsedPage> pages;
};

Outcome Convert(const std::string& ppdText, const std::string& options, const std::string& input,
                const std::string& program = "ztcolorconv") {
  TempFile ppd(ppdText, ".ppd");
  RunOptions opts;
  opts.ppd = ppd.path();
  Outcome run;
  run.r = RunFilter(FilterArgv(program, options), input, opts);
  run.pages = ParseStream(run.r.out);
  return run;
}

std::string RgbPage(int width, int height, const std::string& pixels) {
  return PageBytes(MakeHeader(width, height, 24, ZT_CS_RGB), pixels);
}
std::string Repeat(const std::string& pixel, size_t n) {
  std::string s;
  s.reserve(pixel.size() * n);
  for (size_t i = 0; i < n; ++i) s += pixel;
  return s;
}
std::string Px(int r, int g, int b) { return {static_cast<char>(r), static_cast<char>(g), static_cast<char>(b)}; }

// Pixels with runs of repeats (for the last-pixel cache), greys and white.
std::string MixedPixels(size_t count, uint32_t seed) {
  const std::string noise = PatternBytes(3 * count, seed);
  std::string s;
  for (size_t i = 0; s.size() < 3 * count; ++i) {
    const size_t k = 3 * (i % count);
    const std::string p = noise.substr(k, 3);
    switch (i % 5) {
      case 0: s += Repeat(p, i % 7 == 0 ? 9 + i % 17 : 1 + i % 4); break;  // short runs and a few long ones
      case 1: s += Px(p[0], p[0], p[0]); break;
      case 2: s += Px(255, 255, 255); break;
      default: s += p; break;
    }
  }
  s.resize(3 * count);
  return s;
}

int LineCount(const std::string& text, const std::string& prefix) {
  int n = 0;
  for (size_t pos = 0; (pos = text.find(prefix, pos)) != std::string::npos; ++pos)
    if (pos == 0 || text[pos - 1] == '\n') ++n;
  return n;
}

// What the conversion must produce, computed with the library's own
// building blocks one pixel at a time (direct lookups, no cache).
class Expected {
 public:
  enum Kind { CMYK, RGB, GREY };
  Expected(Kind kind, bool matching, int colorMode, int brightness = 0, int chroma = 0, int contrast = 0)
      : kind_(kind), matching_(matching), mode_(colorMode) {
    cil_Create_CST_Param_WpGm(&cst_, 6500, 22);
    if (brightness || chroma || contrast) {
      cil_Create_LCC_Param_sBGR(&lcc_, brightness, chroma, contrast, 0, 0, 0);
      haveLcc_ = true;
    }
  }
  void UseRecord(const icDlutPrintType* r) { record_ = r; }
  void UseTable(const RGBDlutTable* t) { table_ = t; }

  std::string Convert(const std::string& in) const {
    std::string out;
    for (size_t i = 0; i + 3 <= in.size(); i += 3) Pixel(in[i], in[i + 1], in[i + 2], &out);
    return out;
  }

 private:
  void Pixel(uint8_t r, uint8_t g, uint8_t b, std::string* out) const {
    const bool white = r == 255 && g == 255 && b == 255;
    if (matching_ && !white) {
      cil_CST_Conv_sBGR_Pixel(&cst_, &r, &g, &b, &r, &g, &b);
      if (haveLcc_) cil_LCC_Conv_sBGR_Pixel(&lcc_, &r, &g, &b, &r, &g, &b);
    }
    if (kind_ == CMYK) {
      uint8_t c[4] = {0, 0, 0, 0};
      if (white) {
      } else if (mode_ != 22) {
        c[3] = static_cast<uint8_t>(255 - ((19661 * r + 38666 * g + 7209 * b) >> 16));
      } else if (r == 255 && g == 255 && b == 255) {
      } else if (matching_ && record_) {
        CMYKDlutLookup(record_, r, g, b, c);
      } else {
        const int x = std::max({r, g, b});
        c[0] = x - r, c[1] = x - g, c[2] = x - b, c[3] = 255 - x;
      }
      out->append(reinterpret_cast<char*>(c), 4);
    } else if (kind_ == RGB) {
      uint8_t o[3] = {r, g, b};
      if (white) o[0] = o[1] = o[2] = 255;
      else if (matching_ && table_) RGBDlutLookup(table_, r, g, b, o);
      out->append(reinterpret_cast<char*>(o), 3);
    } else {
      uint8_t y = 255;
      if (!white) cil_NTSC_Conv_Pixel(&r, &g, &b, &y);
      out->push_back(static_cast<char>(mode_ == 1 ? 255 - y : y));
    }
  }

  Kind kind_;
  bool matching_;
  int mode_;
  cil_CSTParam cst_;
  cil_LCCParam lcc_;
  bool haveLcc_ = false;
  const icDlutPrintType* record_ = nullptr;
  const RGBDlutTable* table_ = nullptr;
};

// The sample model's A_DLUT_PRINT record of a slot.
const icDlutPrintType* ModelRecord(int slot) {
  if (ReadDlbFile(DataPath("korva-zt.dlb").c_str()) != 0) return nullptr;
  return dlutPrintParamTable[slot];
}

TEST(ColourConv, HeadersOfTheThreeOutputKinds) {
  const ZTRasterHeader in = MakeHeader(100, 10, 24, ZT_CS_RGB);
  ASSERT_EQ(in.bytesPerLine, 300);
  const std::string page = PageBytes(in, PatternBytes(3000, 1));

  Outcome cmyk = Convert(ModelPPD(), "", page + page);
  ASSERT_EQ(cmyk.r.status, 0) << cmyk.r.err;
  ASSERT_EQ(cmyk.pages.size(), 2u);
  ZTRasterHeader want = in;
  want.bitsPerPixel = 32;
  want.bytesPerLine = 400;
  want.pageBytes = 4000;
  want.colorSpace = ZT_CS_CMYK;
  EXPECT_EQ(HeaderBytes(cmyk.pages[1].header), HeaderBytes(want));
  EXPECT_EQ(cmyk.pages[1].data.size(), 4000u);

  Outcome grey = Convert(RgbModelPPD(), "QKColorMode=Black", page);
  ASSERT_EQ(grey.r.status, 0) << grey.r.err;
  want = in;
  want.bitsPerPixel = 8;
  want.bytesPerLine = 100;
  want.pageBytes = 1000;
  want.colorSpace = ZT_CS_GRAY;
  ASSERT_EQ(grey.pages.size(), 1u);
  EXPECT_EQ(HeaderBytes(grey.pages[0].header), HeaderBytes(want));
  EXPECT_EQ(grey.pages[0].data.size(), 1000u);

  Outcome rgb = Convert(RgbModelPPD(), "", page);
  ASSERT_EQ(rgb.r.status, 0) << rgb.r.err;
  ASSERT_EQ(rgb.pages.size(), 1u);
  EXPECT_EQ(HeaderBytes(rgb.pages[0].header), HeaderBytes(in));

  // Empty input, empty output.
  Outcome none = Convert(ModelPPD(), "", "");
  EXPECT_EQ(none.r.status, 0);
  EXPECT_EQ(none.r.out, "");
}

TEST(ColourConv, FormulaWithoutColourMatching) {
  const std::string pixels = Px(200, 100, 50) + Px(0, 0, 0) + Px(10, 20, 30) + Px(255, 255, 255) + Px(255, 0, 128);
  Outcome run = Convert(ModelPPD(), "QKDocumentType=Off", RgbPage(5, 1, pixels));
  ASSERT_EQ(run.r.status, 0) << run.r.err;
  ASSERT_EQ(run.pages.size(), 1u);
  const std::string want = std::string("\x00\x64\x96\x37", 4) + std::string("\x00\x00\x00\xFF", 4) +
                           std::string("\x14\x0A\x00\xE1", 4) + std::string(4, '\0') + std::string("\x00\xFF\x7F\x00", 4);
  EXPECT_EQ(run.pages[0].data, want);

  // RGB output with no adjustment and no matching copies the page.
  const std::string page = RgbPage(64, 4, PatternBytes(64 * 4 * 3, 5));
  Outcome rgb = Convert(RgbModelPPD(), "QKDocumentType=Off", page);
  ASSERT_EQ(rgb.r.status, 0) << rgb.r.err;
  EXPECT_EQ(rgb.r.out, page);
}

TEST(ColourConv, WhitePagesStayBlank) {
  const std::string white = RgbPage(40, 3, std::string(40 * 3 * 3, '\xFF'));
  const std::string adjust = std::string(kBrightness) + "=-100 " + kContrast + "=50 " + kChroma + "=30";
  for (const std::string& options : {std::string(""), adjust, std::string("QKDocumentType=Photo ") + adjust}) {
    Outcome run = Convert(ModelPPD(), options, white);
    ASSERT_EQ(run.r.status, 0) << run.r.err;
    EXPECT_EQ(run.pages.at(0).data, std::string(40 * 3 * 4, '\0')) << options;
  }
  Outcome grey = Convert(RgbModelPPD(), "QKColorMode=Black " + adjust, white);
  ASSERT_EQ(grey.r.status, 0) << grey.r.err;
  EXPECT_EQ(grey.pages.at(0).data, std::string(120, '\xFF'));
  Outcome black = Convert(RgbModelPPD({{"*QKMonochromeMode: \"Gray\"", "*QKMonochromeMode: \"Black\""}}), "QKColorMode=Black",
                      white);
  ASSERT_EQ(black.r.status, 0) << black.r.err;
  EXPECT_EQ(black.pages.at(0).data, std::string(120, '\0'));
}

TEST(ColourConv, EveryPixelAsTheLibraryComputesIt) {
  const std::string pixels = MixedPixels(6000, 42);
  const std::string stream = RgbPage(200, 30, pixels) + RgbPage(300, 20, pixels);
  struct Case {
    std::string options;
    int slot;
    int br, ch, ct;
  };
  const Case cases[] = {
      {"", 1, 0, 0, 0},
      {"QKDocumentType=Photo", 4, 0, 0, 0},
      {"QKDocumentType=Graphics " + std::string(kBrightness) + "=20 " + kChroma + "=-40 " + kContrast + "=70", 1, 20,
       -40, 70},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    Expected want(Expected::CMYK, true, 22, c.br, c.ch, c.ct);
    const icDlutPrintType* rec = ModelRecord(c.slot);
    ASSERT_NE(rec, nullptr);
    want.UseRecord(rec);
    Outcome run = Convert(ModelPPD(), c.options, stream);
    ASSERT_EQ(run.r.status, 0) << run.r.err;
    EXPECT_EQ(run.r.err.find("WARNING"), std::string::npos) << run.r.err;
    ASSERT_EQ(run.pages.size(), 2u);
    EXPECT_EQ(run.pages[0].data, want.Convert(pixels));
    EXPECT_EQ(run.pages[1].data, want.Convert(pixels));
  }
  ReleaseDlbInfo();

  // A monochrome job in CMYK output: black only.
  {
    Expected want(Expected::CMYK, true, 17);
    Outcome run = Convert(ModelPPD(), "QKColorMode=Black", stream);
    ASSERT_EQ(run.r.status, 0) << run.r.err;
    EXPECT_EQ(run.pages.at(0).data, want.Convert(pixels));
    for (size_t i = 0; i < run.pages[0].data.size(); i += 4)
      ASSERT_EQ(run.pages[0].data.substr(i, 3), std::string(3, '\0')) << i;
  }
  // RGB output through RGB DLUT table 2 (the Photo choice's QKDLUT).
  {
    RGBDlutTable table;
    ASSERT_EQ(LoadRGBDlutTableFile(DataPath("korva-zt-rgb.dlut").c_str(), 2, &table), 0);
    Expected want(Expected::RGB, true, 22, 0, 30, 0);
    want.UseTable(&table);
    Outcome run = Convert(RgbModelPPD(), "QKDocumentType=Photo " + std::string(kChroma) + "=30", stream);
    ASSERT_EQ(run.r.status, 0) << run.r.err;
    EXPECT_EQ(run.pages.at(1).data, want.Convert(pixels));
  }
  // Grey output, black printing (colour mode 1) inverts.
  {
    Expected want(Expected::GREY, true, 1, -10, 0, 0);
    Outcome run = Convert(RgbModelPPD({{"*QKMonochromeMode: \"Gray\"", "*QKMonochromeMode: \"Black\""}}),
                      "QKColorMode=Black " + std::string(kBrightness) + "=-10", stream);
    ASSERT_EQ(run.r.status, 0) << run.r.err;
    EXPECT_EQ(run.pages.at(0).data, want.Convert(pixels));
  }
}

// The sample model sold under another manufacturer converts as the Korva one
// does: CMYK pages through the device parameter file, RGB pages through the
// RGB tables, both chosen by the document type.
TEST(ColourConv, OtherManufacturerConvertsTheSame) {
  const std::string page = RgbPage(37, 5, MixedPixels(37 * 5, 11));
  for (const auto& [korvaPPD, bits] : {std::pair{ModelPPD(), 32}, std::pair{RgbModelPPD(), 24}}) {
    const Outcome korva = Convert(korvaPPD, "QKDocumentType=Photo", page);
    const Outcome pask = Convert(RebrandPPDText(korvaPPD, "Pask", "PK"), "PKDocumentType=Photo", page);
    ASSERT_EQ(pask.pages.size(), 1u);
    EXPECT_EQ(pask.pages[0].header.bitsPerPixel, bits);
    EXPECT_EQ(pask.r.err, korva.r.err);
    EXPECT_EQ(pask.r.out, korva.r.out);
  }
}

TEST(ColourConv, ChunksAndGrowingLines) {
  // 3000-byte lines: 349 lines per 1 MiB chunk, so 1000 lines take three
  // chunks; then lines of 1,080,000 bytes (one line per chunk, larger than
  // the first buffers), then short lines again.
  const std::string a = MixedPixels(1000 * 1000, 7);
  const std::string b = MixedPixels(360000 * 2, 8);
  const std::string c = MixedPixels(10 * 5, 9);
  const std::string stream = RgbPage(1000, 1000, a) + RgbPage(360000, 2, b) + RgbPage(10, 5, c);
  Expected want(Expected::CMYK, true, 22);
  want.UseRecord(ModelRecord(1));
  Outcome run = Convert(ModelPPD(), "", stream);
  ASSERT_EQ(run.r.status, 0) << run.r.err;
  ASSERT_EQ(run.pages.size(), 3u);
  EXPECT_EQ(run.pages[0].data == want.Convert(a), true);
  EXPECT_EQ(run.pages[1].data == want.Convert(b), true);
  EXPECT_EQ(run.pages[2].data, want.Convert(c));
  ReleaseDlbInfo();
}

TEST(ColourConv, WideAndPortablePathsAgree) {
  // Lines longer than a segment of the wide path, colours met again after
  // other colours took their memo entries, and a page too short for a group
  // of eight; ztcolorconv_generic is built without the wide path.
  const std::string a = MixedPixels(3100 * 3, 21), b = MixedPixels(9, 22);
  std::string again = a.substr(0, 3 * 3100);
  const std::string stream = RgbPage(3100, 3, a) + RgbPage(3100, 1, again) + RgbPage(3, 3, b);
  for (const char* options : {"", "QKDocumentType=Photo"}) {
    SCOPED_TRACE(options);
    Expected want(Expected::CMYK, true, 22);
    want.UseRecord(ModelRecord(options[0] ? 4 : 1));
    for (const char* program : {"ztcolorconv", "ztcolorconv_generic"}) {
      Outcome run = Convert(ModelPPD(), options, stream, program);
      ASSERT_EQ(run.r.status, 0) << program << run.r.err;
      ASSERT_EQ(run.pages.size(), 3u) << program;
      EXPECT_TRUE(run.pages[0].data == want.Convert(a)) << program;
      EXPECT_TRUE(run.pages[1].data == want.Convert(again)) << program;
      EXPECT_EQ(run.pages[2].data, want.Convert(b)) << program;
    }
  }
  ReleaseDlbInfo();
}

TEST(ColourConv, NoTableFallsBackToTheFormulaWithOneWarning) {
  const std::string pixels = MixedPixels(500, 3);
  Expected want(Expected::CMYK, true, 22);  // no record: the formula after the tone step
  const std::string page = RgbPage(50, 10, pixels);

  Outcome missing = Convert(ModelPPD({{DataPath("korva-zt.dlb"), "/nonexistent/model.dlb"}}), "", page);
  ASSERT_EQ(missing.r.status, 0) << missing.r.err;
  EXPECT_EQ(missing.pages.at(0).data, want.Convert(pixels));
  EXPECT_EQ(LineCount(missing.r.err, "WARNING: "), 1) << missing.r.err;
  EXPECT_EQ(LineCount(missing.r.err, "ERROR: "), 0) << missing.r.err;

  // A file without the slot the job needs: only slot 0 is filled.
  TempDir dir;
  const std::string desc = dir.path() + "/d.txt", dlb = dir.path() + "/d.dlb";
  {
    FILE* f = fopen(desc.c_str(), "w");
    fputs("record t dlut\n model ucr\n black_start 0.3\n ucr 0.8\n ink_limit 280\n gamma 1\n balance 1 1 1\nend\n"
          "block A_DLUT_PRINT_________V01\n slot 0 t\nend\n",
          f);
    fclose(f);
  }
  ASSERT_EQ(RunFilter({ProgramPath("ztmkdevparam"), desc, dlb}, "").status, 0);
  Outcome empty = Convert(ModelPPD({{DataPath("korva-zt.dlb"), dlb}}), "", page);
  ASSERT_EQ(empty.r.status, 0) << empty.r.err;
  EXPECT_EQ(empty.pages.at(0).data, want.Convert(pixels));
  EXPECT_EQ(LineCount(empty.r.err, "WARNING: "), 1) << empty.r.err;

  // Without colour matching the table is not needed: no warning.
  Outcome off = Convert(ModelPPD({{DataPath("korva-zt.dlb"), "/nonexistent/model.dlb"}}), "QKDocumentType=Off", page);
  ASSERT_EQ(off.r.status, 0);
  EXPECT_EQ(LineCount(off.r.err, "WARNING: "), 0) << off.r.err;
}

TEST(ColourConv, FailuresAndTheirStatuses) {
  TempFile ppd(ModelPPD(), ".ppd");
  RunOptions opts;
  opts.ppd = ppd.path();
  const std::string good = RgbPage(20, 4, PatternBytes(240, 2));

  struct Case {
    const char* what;
    std::vector<std::string> argv;
    std::string input;
    bool unsetPPD;
    int status;
    std::string message;  // a line of stderr
    size_t outBytes;      // what reaches stdout
    int lines = 1;        // "ERROR:" and "DEBUG: ztcolorconv:" lines
  };
  auto argv = [](std::vector<std::string> extra) {
    std::vector<std::string> a = FilterArgv("ztcolorconv");
    a.insert(a.end(), extra.begin(), extra.end());
    return a;
  };
  ZTRasterHeader cmyk = MakeHeader(20, 4, 32, ZT_CS_CMYK);
  ZTRasterHeader lying = MakeHeader(20, 4, 24, ZT_CS_RGB);
  lying.bytesPerLine = 61;
  ZTRasterHeader huge = MakeHeader(20000, 30000, 24, ZT_CS_RGB);  // 1.8 GB in, 2.4 GB out
  ZTRasterHeader coded = MakeHeader(20, 4, 24, ZT_CS_RGB);
  coded.encoding = ZT_ENC_REVERSED3;
  // A code text longer than the parser takes (spread over lines, as PPD
  // lines are limited to 255 characters).
  std::string longCode;
  for (int i = 0; i < 80; ++i) longCode += "/QKPAD" + std::to_string(i) + " 1\n";
  const std::string bigPPD = SamplePPDText(
      {{"*QKDocumentType Standard/Standard: \"<</QKDLUT 1", "*QKDocumentType Standard/Standard: \"<</QKDLUT 1\n" + longCode}});
  TempFile badPPD(bigPPD, ".ppd");
  // Pages of several chunks, whole and cut short, for a disk that is full.
  const std::string bigPage = RgbPage(2000, 600, std::string(2000 * 600 * 3, 'x'));
  TempFile bigIn(bigPage), bigCut(bigPage.substr(0, bigPage.size() / 3));

  const Case cases[] = {
      {"five arguments", {ProgramPath("ztcolorconv"), "1", "u", "t", "1"}, good, false, 1,
       "ERROR: [Usage:] ztcolorconv job-id user title copies options [InFile] [OutFile]\n", 0},
      {"input missing, 7 arguments", argv({"/nonexistent/in"}), "", false, 255,
       "DEBUG: ztcolorconv: unable to open input file.\n", 0},
      {"input missing, 8 arguments", argv({"/nonexistent/in", "/dev/null"}), "", false, 255,
       "DEBUG: ztcolorconv: Unable to open input file\n", 0},
      {"output missing", argv({"/dev/null", "/nonexistent/out"}), "", false, 255,
       "DEBUG: ztcolorconv: unable to open output file.\n", 0},
      // The PPD opener adds its own line.
      {"no PPD", argv({}), good, true, 1, "ERROR: ztcolorconv: CreatePPDSetting() Error.\n", 0, 2},
      {"truncated page", argv({}), good + good.substr(0, 56 + 100), false, 1, "ERROR: ztcolorconv: File read failed.\n",
       2 * (56 + 320) - 320},
      {"CMYK input page", argv({}), good + PageBytes(cmyk, std::string(320, 'a')), false, 1,
       "ERROR: ztcolorconv: Cannot convert page: not an uncoded RGB page of 24 bits per pixel.\n", 56 + 320},
      {"reversed component order", argv({}), PageBytes(coded, std::string(240, 'a')), false, 1,
       "ERROR: ztcolorconv: Cannot convert page: not an uncoded RGB page of 24 bits per pixel.\n", 0},
      {"lying line length", argv({}), PageBytes(lying, std::string(244, 'a')), false, 1, "", 0},
      {"page over 2 GiB as CMYK", argv({}), HeaderBytes(huge), false, 1,
       "ERROR: ztcolorconv: Cannot convert page: the CMYK page would exceed 2 GiB.\n", 0},
      // The failed write is told, also when the input ends after it.
      {"full disk", argv({bigIn.path(), "/dev/full"}), "", false, 1, "ERROR: ztcolorconv: File write failed.\n", 0, 2},
      {"full disk, page cut short", argv({bigCut.path(), "/dev/full"}), "", false, 1,
       "ERROR: ztcolorconv: File write failed.\n", 0, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RunOptions o = opts;
    if (c.unsetPPD) o.ppd.clear();
    FilterResult r = RunFilter(c.argv, c.input, o);
    EXPECT_EQ(r.status, c.status) << r.err;
    if (!c.message.empty()) {
      EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    EXPECT_EQ(LineCount(r.err, "ERROR: ") + LineCount(r.err, "DEBUG: ztcolorconv: "), c.lines) << r.err;
    EXPECT_EQ(r.out.size(), c.outBytes);
  }

  // Code text that cannot be read into the colour setting.
  RunOptions b = opts;
  b.ppd = badPPD.path();
  FilterResult r = RunFilter(FilterArgv("ztcolorconv", "QKDocumentType=Standard"), good, b);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("ERROR: ztcolorconv: GetColorSetting() Error.\n"), std::string::npos) << r.err;
  EXPECT_EQ(LineCount(r.err, "ERROR: "), 1) << r.err;

  // A reader that goes away.
  RunOptions closed = opts;
  closed.closeStdoutEarly = true;
  r = RunFilter(FilterArgv("ztcolorconv"), RgbPage(2000, 600, std::string(2000 * 600 * 3, 'x')), closed);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err.find("ERROR: ztcolorconv: File write failed.\n") != std::string::npos ||
              r.err.find("ERROR: ztcolorconv: Write header failed.") != std::string::npos)
      << r.err;
}

TEST(ColourConv, NamedInputAndOutputFiles) {
  const std::string page = RgbPage(16, 2, PatternBytes(96, 4));
  TempFile in(page);
  TempFile out(std::string(5000, 'z'));  // longer than the result: overwritten, not left behind
  TempFile ppd(ModelPPD(), ".ppd");
  RunOptions opts;
  opts.ppd = ppd.path();
  std::vector<std::string> argv = FilterArgv("ztcolorconv", "QKDocumentType=Off");
  argv.push_back(in.path());
  FilterResult toStdout = RunFilter(argv, "", opts);
  ASSERT_EQ(toStdout.status, 0) << toStdout.err;
  argv.push_back(out.path());
  FilterResult toFile = RunFilter(argv, "", opts);
  ASSERT_EQ(toFile.status, 0) << toFile.err;
  EXPECT_EQ(toFile.out, "");
  EXPECT_EQ(out.Read(), toStdout.out);
  EXPECT_EQ(toStdout.out.size(), 56u + 16 * 2 * 4);
}

}  // namespace
