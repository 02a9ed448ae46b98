// The model-data builders: the sample model's committed files match their
// descriptions, the results load, and malformed descriptions are refused.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "runfilter.h"
#include "ztcolorlut.h"
#include "ztdevparam.h"

namespace {

FilterResult Build(const std::string& tool, const std::string& description, const std::string& output) {
  return RunFilter({ProgramPath(tool), description, output}, "");
}

int FilesIn(const std::string& dir) {
  int n = 0;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) ++n;
    closedir(d);
  }
  return n;
}

TEST(ColourTools, SampleFilesMatchTheirDescriptions) {
  TempDir dir;
  FilterResult r = Build("ztmkdevparam", DataPath("korva-zt-devparam.txt"), dir.path() + "/m.dlb");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFileText(dir.path() + "/m.dlb"), ReadFileText(DataPath("korva-zt.dlb")))
      << "data/korva-zt.dlb is stale: cmake --build <dir> --target colour_sample_data";
  r = Build("ztmkrgbdlut", DataPath("korva-zt-rgbdlut.txt"), dir.path() + "/m.dlut");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFileText(dir.path() + "/m.dlut"), ReadFileText(DataPath("korva-zt-rgb.dlut")));
}

TEST(ColourTools, SampleDeviceParametersFillEverySelectedSlot) {
  ASSERT_EQ(ReadDlbFile(DataPath("korva-zt.dlb").c_str()), 0);
  EXPECT_EQ(DlbDamagedCount(), 0);
  for (int slot : {1, 4, 5, 7, 9, 21}) {
    EXPECT_NE(dlutPrintParamTable[slot], nullptr) << slot;
    ASSERT_NE(trapParamTable[slot], nullptr) << slot;
    const icTrapKestinType* t = trapParamTable[slot];
    // Solid black sits above the "free of black" level; the limit leaves room.
    EXPECT_GT(t->bk_full, t->bk_white);
    EXPECT_GT(t->cmy_color, t->cmy_white);
    EXPECT_GE(DlbLE16(t->tonerlimit) & TRAP_TONERLIMIT_MASK, 600);
  }
  for (int slot = 1; slot <= 10; ++slot) {
    ASSERT_NE(eeParamTable[slot], nullptr) << slot;
    const icEeKestinType* e = eeParamTable[slot];
    EXPECT_NE(DlbLE32(e->mode) & EE_MODE_EDGE, 0u);
    // The output table never lightens a sample.
    for (int v = 0; v < 256; ++v) {
      const uint32_t w = DlbLE32(e->outTable[v]);
      for (int sh : {0, 8, 16, 24}) ASSERT_GE(static_cast<int>((w >> sh) & 0xFF), v) << slot << " " << v;
    }
  }
  for (int slot = 0; slot <= 3; ++slot) {
    ASSERT_NE(dfParamTable[slot], nullptr) << slot;
    const icCF17KestinType* d = dfParamTable[slot];
    for (const auto* coef : {d->coefC, d->coefM, d->coefY, d->coefK})
      EXPECT_EQ(DlbLE16Signed(coef[0]) + 2 * (DlbLE16Signed(coef[1]) + DlbLE16Signed(coef[2]) + DlbLE16Signed(coef[3])),
                4096);
  }

  // The tables: white node empty, black node full black, a grey ramp that
  // darkens, and no node above the ink limit.
  const icDlutPrintType* t = dlutPrintParamTable[1];
  EXPECT_EQ(DlbLE32(t->entries[DLUT_ENTRY_COUNT - 1]), 0u);
  EXPECT_EQ(t->entries[0][3], 255);
  int previous = -1;
  for (int i = 16; i >= 0; --i) {
    const unsigned char* e = t->entries[289 * i + 17 * i + i];
    const int darkness = e[0] + e[1] + e[2] + 2 * e[3];
    EXPECT_GT(darkness, previous) << i;
    previous = darkness;
  }
  for (int i = 0; i < DLUT_ENTRY_COUNT; ++i) {
    const unsigned char* e = t->entries[i];
    ASSERT_LE(e[0] + e[1] + e[2] + e[3], 280 * 255 / 100 + 2) << i;
  }
  ReleaseDlbInfo();

  // The RGB tables: table 1 is neutral, so a node comes back as itself.
  RGBDlutTable rgb;
  ASSERT_EQ(LoadRGBDlutTableFile(DataPath("korva-zt-rgb.dlut").c_str(), 1, &rgb), 0);
  uint8_t out[3];
  RGBDlutLookup(&rgb, 32, 128, 224, out);
  EXPECT_EQ(out[0], 32);
  EXPECT_EQ(out[1], 128);
  EXPECT_EQ(out[2], 224);
  for (int n = 0; n <= 3; ++n) EXPECT_EQ(LoadRGBDlutTableFile(DataPath("korva-zt-rgb.dlut").c_str(), n, &rgb), 0) << n;
}

const char kTrap[] =
    "record t trap\n pseud_ib 0\n matrixsize 1\n bk_full 230\n bk_white 40\n cmy_white 30\n cmy_color 80\n"
    " ave_white 40\n tonerlimit 700\n ib_y_white 20\n ib_m_white 20\n ib_c_white 20\n ib_k_full 250\n"
    " ib_y_const 40\n ib_m_const 40\n ib_c_const 60\nend\n";

TEST(ColourTools, DeviceParameterDescriptionsBuildTheRecords) {
  TempDir dir;
  // A grid-read table, a trapping record in slots 0..2 by default, a filter record.
  std::string grid;
  for (int i = 0; i < DLUT_ENTRY_COUNT; ++i) grid += std::to_string(i % 256) + " 1 2 3\n";
  {
    FILE* f = fopen((dir.path() + "/grid.txt").c_str(), "w");
    fputs(grid.c_str(), f);
    fclose(f);
  }
  const std::string text = std::string("header TEST\n") + kTrap +
                           "record g dlut\n grid grid.txt\nend\n"
                           "record f df\n coef C 4096 0 0 0\n coef M 4916 -410 0 0\n coef Y 4096 0 0 0\n"
                           " coef K 6554 -1024 -205 0\nend\n"
                           "block A_TRP_KESTIN_PRINT___V01\n default t\n slot 2 t\nend\n"
                           "block A_DLUT_PRINT_________V01\n slot 0 g\nend\n"
                           "block A_DFT_KESTIN_PRINT___V01\n slot 0 f\n slot 1 f\nend\n";
  const std::string desc = dir.path() + "/d.txt", out = dir.path() + "/d.dlb";
  FILE* f = fopen(desc.c_str(), "w");
  fputs(text.c_str(), f);
  fclose(f);
  FilterResult r = Build("ztmkdevparam", desc, out);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  ASSERT_EQ(ReadDlbFile(out.c_str()), 0);
  EXPECT_EQ(DlbDamagedCount(), 0);
  for (int j = 0; j < 3; ++j) {
    ASSERT_NE(trapParamTable[j], nullptr);
    EXPECT_EQ(trapParamTable[j], trapParamTable[0]);  // one record, three slots
  }
  EXPECT_EQ(trapParamTable[3], nullptr);
  const icTrapKestinType* t = trapParamTable[0];
  EXPECT_EQ(t->bk_full, 230);
  EXPECT_EQ(t->ib_c_const, 60);
  EXPECT_EQ(DlbLE16(t->tonerlimit), 700);
  EXPECT_EQ(DlbLE32(t->flags), TRAP_FLAG_MATRIXSIZE);
  ASSERT_NE(dlutPrintParamTable[0], nullptr);
  EXPECT_EQ(dlutPrintParamTable[0]->entries[300][0], 300 % 256);
  EXPECT_EQ(dlutPrintParamTable[0]->entries[300][3], 3);
  ASSERT_NE(dfParamTable[1], nullptr);
  EXPECT_EQ(DlbLE16Signed(dfParamTable[1]->coefK[1]), -1024);
  EXPECT_EQ(DlbLE16Signed(dfParamTable[1]->coefM[0]), 4916);
  ReleaseDlbInfo();
}

TEST(ColourTools, MalformedDescriptionsAreRefused) {
  struct Case {
    const char* what;
    std::string text;
    const char* says;  // part of the message
  };
  const std::string block = "block A_TRP_KESTIN_PRINT___V01\n slot 0 t\nend\n";
  std::string missingField = kTrap;
  missingField.erase(missingField.find(" ave_white 40\n"), 14);
  std::string outOfRange = kTrap;
  outOfRange.replace(outOfRange.find("bk_full 230"), 11, "bk_full 256");
  std::string twice = kTrap;
  twice.insert(twice.find("end\n"), " bk_full 1\n");
  std::string unknown = kTrap;
  unknown.insert(unknown.find("end\n"), " colour 1\n");
  std::string notNumber = kTrap;
  notNumber.replace(notNumber.find("tonerlimit 700"), 14, "tonerlimit 7x0");
  const Case cases[] = {
      {"no block", kTrap, "no block"},
      {"missing field", missingField + block, "lacks \"ave_white\""},
      {"value out of range", outOfRange + block, "outside 0 .. 255"},
      {"field twice", twice + block, "given twice"},
      {"unknown field", unknown + block, "not a field"},
      {"not a number", notNumber + block, "not an integer"},
      {"no end", std::string(kTrap).substr(0, strlen(kTrap) - 4), "no \"end\""},
      {"unknown record", std::string(kTrap) + "block A_TRP_KESTIN_PRINT___V01\n slot 0 x\nend\n", "no record \"x\""},
      {"wrong family", std::string(kTrap) + "block A_EE_KESTIN_PRINT____V01\n slot 0 t\nend\n", "needs ee"},
      {"family not loaded", std::string(kTrap) + "block A_COL_BALNCE_PRINT___V01\n slot 0 t\nend\n", "not one of"},
      {"short ID", std::string(kTrap) + "block A_TRP_KESTIN_PRINT\n slot 0 t\nend\n", "24 characters"},
      {"slot gap", std::string(kTrap) + "block A_TRP_KESTIN_PRINT___V01\n slot 3 t\nend\n", "missing"},
      {"slot beyond the table", std::string(kTrap) + "block A_TRP_KESTIN_PRINT___V01\n slot 40 t\nend\n", "outside"},
      {"filter taps", "record f df\n coef C 4096 1 0 0\n coef M 4096 0 0 0\n coef Y 4096 0 0 0\n coef K 4096 0 0 0\nend\n"
                      "block A_DFT_KESTIN_PRINT___V01\n slot 0 f\nend\n",
       "sum to 4098"},
      {"grid missing", "record g dlut\n grid nowhere.txt\nend\nblock A_DLUT_PRINT_________V01\n slot 0 g\nend\n",
       "cannot read grid"},
      {"stray word", "hello\n", "expected"},
  };
  TempDir dir;
  const std::string desc = dir.path() + "/d.txt", out = dir.path() + "/out.dlb";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FILE* f = fopen(desc.c_str(), "w");
    fputs(c.text.c_str(), f);
    fclose(f);
    FilterResult r = Build("ztmkdevparam", desc, out);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("ERROR: ztmkdevparam: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(FilesIn(dir.path()), 1);  // no output, no temporary file
  }

  const Case rgbCases[] = {
      {"unknown form", "table a sparkle\nmap 0 a\n", "a table is"},
      {"map gap", "table a identity\nmap 2 a\n", "not mapped"},
      {"unknown table", "table a identity\nmap 0 b\n", "no table \"b\""},
      {"no map", "table a identity\n", "at least one"},
      {"saturation range", "table a saturation 9\nmap 0 a\n", "outside"},
  };
  for (const Case& c : rgbCases) {
    SCOPED_TRACE(c.what);
    FILE* f = fopen(desc.c_str(), "w");
    fputs(c.text.c_str(), f);
    fclose(f);
    FilterResult r = Build("ztmkrgbdlut", desc, out);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("ERROR: ztmkrgbdlut: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(FilesIn(dir.path()), 1);
  }

  // An output folder that does not exist.
  FILE* f = fopen(desc.c_str(), "w");
  fputs("table a identity\nmap 0 a\n", f);
  fclose(f);
  FilterResult r = Build("ztmkrgbdlut", desc, dir.path() + "/no/such/out.dlut");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot create"), std::string::npos) << r.err;
}

}  // namespace
