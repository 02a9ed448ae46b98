#include "ztdevparam.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hbploption.h"
#include "runfilter.h"

namespace {

const char kTrapId[] = "A_TRP_KESTIN_PRINT___V01";
const char kEeId[] = "A_EE_KESTIN_PRINT____V01";
const char kDfId[] = "A_DFT_KESTIN_PRINT___V01";
const char kDlutId[] = "A_DLUT_PRINT_________V01";

void PutBE32(std::string& s, size_t at, uint32_t v) {
  s[at] = static_cast<char>(v >> 24);
  s[at + 1] = static_cast<char>(v >> 16);
  s[at + 2] = static_cast<char>(v >> 8);
  s[at + 3] = static_cast<char>(v);
}
void AppendBE32(std::string& s, uint32_t v) {
  s.append(4, '\0');
  PutBE32(s, s.size() - 4, v);
}
void AppendBE16(std::string& s, uint16_t v) {
  s.push_back(static_cast<char>(v >> 8));
  s.push_back(static_cast<char>(v));
}

// One block of a device parameter file: its ID, its record pool and the
// record index of each slot.
struct Block {
  std::string id;
  std::vector<std::string> records;
  std::vector<uint16_t> slots;
};

// Where the builder put things, for tests that damage a file on purpose.
struct Layout {
  std::vector<size_t> blockAt;
  std::vector<std::vector<size_t>> recordAt;  // absolute file offsets
};

// Header, directory, then each block: 24-byte head, N, offsets, M, slots,
// records.
std::string BuildDlb(const std::vector<Block>& blocks, Layout* layout = nullptr) {
  std::string s(DLB_HEADER_SIZE, '\0');
  s.replace(0, 10, "TEST MODEL");
  PutBE32(s, 24, static_cast<uint32_t>(blocks.size()));
  size_t dir = s.size();
  s.append(DLB_DIR_ENTRY_SIZE * blocks.size(), '\0');
  Layout l;
  for (size_t b = 0; b < blocks.size(); ++b) {
    const Block& blk = blocks[b];
    const size_t at = s.size();
    s.replace(dir + DLB_DIR_ENTRY_SIZE * b, 24, blk.id.substr(0, 24));
    PutBE32(s, dir + DLB_DIR_ENTRY_SIZE * b + 24, static_cast<uint32_t>(at));
    s.append(24, 'h');
    AppendBE32(s, static_cast<uint32_t>(blk.records.size()));
    const size_t offsets = s.size();
    s.append(4 * blk.records.size(), '\0');
    AppendBE32(s, static_cast<uint32_t>(blk.slots.size()));
    for (uint16_t x : blk.slots) AppendBE16(s, x);
    std::vector<size_t> recs;
    for (size_t r = 0; r < blk.records.size(); ++r) {
      PutBE32(s, offsets + 4 * r, static_cast<uint32_t>(s.size() - at));
      recs.push_back(s.size());
      s += blk.records[r];
    }
    l.blockAt.push_back(at);
    l.recordAt.push_back(recs);
  }
  if (layout) *layout = l;
  return s;
}

// A trapping record whose bk_full and ib_c_const say which record it is.
std::string TrapRecord(unsigned char tag) {
  std::string r(sizeof(icTrapKestinType), '\0');
  r[offsetof(icTrapKestinType, bk_full)] = static_cast<char>(tag);
  r[offsetof(icTrapKestinType, ib_c_const)] = static_cast<char>(tag);
  return r;
}
std::string EeRecord(unsigned char tag) {
  std::string r(sizeof(icEeKestinType), '\0');
  r[4] = static_cast<char>(tag);
  r[sizeof(icEeKestinType) - 1] = static_cast<char>(tag);
  return r;
}
std::string DfRecord(unsigned char tag) {
  std::string r(sizeof(icCF17KestinType), '\0');
  r[4] = static_cast<char>(tag);
  r[35] = static_cast<char>(tag);
  return r;
}
std::string DlutRecord(unsigned char tag) {
  std::string r(sizeof(icDlutPrintType), '\0');
  r[776] = static_cast<char>(tag);
  r[sizeof(icDlutPrintType) - 1] = static_cast<char>(tag);
  return r;
}

int Load(const std::string& bytes) {
  return ReadDlbData(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

// Tag of the trapping record in slot j, 0 when the slot is empty. Both ends
// of the record are read, so a record reaching past the image trips ASan.
int TrapTag(int j) {
  const icTrapKestinType* r = trapParamTable[j];
  if (!r) return 0;
  EXPECT_EQ(r->bk_full, r->ib_c_const);
  return r->bk_full;
}

int FilledSlots() {
  int n = 0;
  for (int j = 0; j < DLB_TABLE_SLOTS; ++j)
    n += (dlutPrintParamTable[j] != nullptr) + (dfParamTable[j] != nullptr) + (trapParamTable[j] != nullptr) +
         (eeParamTable[j] != nullptr);
  return n;
}

class CommonDevParam : public testing::Test {
 protected:
  void SetUp() override { VENDOR_PREFIX[0] = VENDOR_PREFIX_COPY[0] = PPD_PREFIX[0] = '\0'; }
  void TearDown() override { ReleaseDlbInfo(); }
};

TEST_F(CommonDevParam, IdTableCodesAndExactMatching) {
  // Every ID is 24 characters and its code is its position.
  for (int i = 0; i < DLB_PARAM_ID_COUNT; ++i) {
    EXPECT_EQ(strlen(DlbParamIDTable[i].id), 24u) << i;
    EXPECT_EQ(FindDlbParamCode(DlbParamIDTable[i].id), i);
  }
  EXPECT_EQ(FindDlbParamCode(kDlutId), DLB_CODE_DLUT_PRINT);
  EXPECT_EQ(FindDlbParamCode(kTrapId), DLB_CODE_TRP_KESTIN);
  EXPECT_EQ(FindDlbParamCode("A_NSP_CHROMA_THROYGH_V01"), 30);
  EXPECT_EQ(FindDlbParamCode("A_PRINTER_INDEX_________"), 96);
  EXPECT_EQ(FindDlbParamCode("A_TRP_KESTIN_PRINT___V02"), DLB_CODE_UNKNOWN);
  EXPECT_EQ(FindDlbParamCode("a_TRP_KESTIN_PRINT___V01"), DLB_CODE_UNKNOWN);
  // Only 24 characters count: what follows them is not part of the ID.
  EXPECT_EQ(FindDlbParamCode("A_TRP_KESTIN_PRINT___V01XYZ"), DLB_CODE_TRP_KESTIN);
}

TEST_F(CommonDevParam, LoadsTheFourFamiliesIntoTheirSlots) {
  std::string bytes = BuildDlb({
      {kTrapId, {TrapRecord(11), TrapRecord(12), TrapRecord(13)}, {2, 0, 0, 1}},
      {"A_COL_BALNCE_PRINT___V01", {TrapRecord(99)}, {0, 0}},   // known but not loaded
      {"A_TRP_KESTIN_PRINT__V01_", {TrapRecord(98)}, {0, 0}},   // one character off
      {"A_TRP_KESTIN_PRINT___V0 ", {TrapRecord(97)}, {0, 0}},   // trailing space
      {kEeId, {EeRecord(21)}, {0, 0, 0}},
      {kDfId, {DfRecord(31), DfRecord(32)}, {1, 0}},
      {kDlutId, {DlutRecord(41)}, {0, 0}},
  });
  ASSERT_EQ(Load(bytes), 0);
  EXPECT_EQ(DlbLastStatus(), DLB_LOADED);
  EXPECT_EQ(DlbDamagedCount(), 0);
  EXPECT_EQ(DlbLoadMessage(), nullptr);
  EXPECT_EQ(TrapTag(0), 13);
  EXPECT_EQ(TrapTag(1), 11);
  EXPECT_EQ(TrapTag(2), 11);
  EXPECT_EQ(trapParamTable[1], trapParamTable[2]);  // two slots, one record
  EXPECT_EQ(TrapTag(3), 12);
  EXPECT_EQ(TrapTag(4), 0);
  ASSERT_NE(eeParamTable[2], nullptr);
  EXPECT_EQ(eeParamTable[2]->mode[0], 21);
  EXPECT_EQ(eeParamTable[2]->pileheight_limit[3], 21);
  EXPECT_EQ(eeParamTable[3], nullptr);
  ASSERT_NE(dfParamTable[0], nullptr);
  EXPECT_EQ(dfParamTable[0]->coefK[0][0], 32);
  EXPECT_EQ(dfParamTable[1]->coefK[0][0], 31);
  ASSERT_NE(dlutPrintParamTable[1], nullptr);
  EXPECT_EQ(dlutPrintParamTable[1]->entries[0][0], 41);
  EXPECT_EQ(dlutPrintParamTable[1]->entries[DLUT_ENTRY_COUNT - 1][3], 41);
  EXPECT_EQ(FilledSlots(), 4 + 3 + 2 + 2);
}

TEST_F(CommonDevParam, LaterBlocksOverwriteOnlyTheSlotsTheyList) {
  std::string bytes = BuildDlb({
      {kTrapId, {TrapRecord(1), TrapRecord(2)}, {0, 1, 0}},
      {kTrapId, {TrapRecord(7)}, {0, 0}},
      {kTrapId, {}, {}},  // N = 0 and M = 0 are accepted
      {kEeId, {EeRecord(5)}, {}},
  });
  ASSERT_EQ(Load(bytes), 0);
  EXPECT_EQ(DlbDamagedCount(), 0);
  EXPECT_EQ(TrapTag(0), 7);
  EXPECT_EQ(TrapTag(1), 7);
  EXPECT_EQ(TrapTag(2), 1);
  for (int j = 0; j < DLB_TABLE_SLOTS; ++j) EXPECT_EQ(eeParamTable[j], nullptr);
}

TEST_F(CommonDevParam, OnlyTheLowestCountByteIsRead) {
  std::string bytes = BuildDlb({{kTrapId, {TrapRecord(3)}, {0}}, {kTrapId, {TrapRecord(4)}, {0, 0}}});
  PutBE32(bytes, 24, 256);  // reads as 0 entries
  ASSERT_EQ(Load(bytes), 0);
  EXPECT_EQ(FilledSlots(), 0);
  PutBE32(bytes, 24, 257);  // reads as 1 entry
  ASSERT_EQ(Load(bytes), 0);
  EXPECT_EQ(TrapTag(0), 3);
  EXPECT_EQ(TrapTag(1), 0);
  PutBE32(bytes, 24, 0);
  ASSERT_EQ(Load(bytes), 0);
  EXPECT_EQ(FilledSlots(), 0);
}

TEST_F(CommonDevParam, EveryTruncationLoadsASubsetOfTheWholeFile) {
  std::string bytes = BuildDlb({
      {kEeId, {EeRecord(8)}, {0, 0}},
      {kTrapId, {TrapRecord(1), TrapRecord(2)}, {1, 0, 1}},
      {kDfId, {DfRecord(6)}, {0}},
  });
  for (size_t len = 0; len <= bytes.size(); ++len) {
    SCOPED_TRACE(len);
    const int rc = Load(bytes.substr(0, len));
    if (len < DLB_HEADER_SIZE) {
      EXPECT_EQ(rc, -1);
      EXPECT_EQ(DlbLastStatus(), DLB_TOO_SHORT);
      EXPECT_EQ(FilledSlots(), 0);
      continue;
    }
    ASSERT_EQ(rc, 0);
    // What is loaded is what the whole file gives; what is missing was counted.
    const int tags[] = {TrapTag(0), TrapTag(1), TrapTag(2)};
    EXPECT_TRUE(tags[0] == 0 || tags[0] == 2);
    EXPECT_TRUE(tags[1] == 0 || tags[1] == 1);
    EXPECT_TRUE(tags[2] == 0 || tags[2] == 2);
    if (eeParamTable[0]) {
      EXPECT_EQ(eeParamTable[0]->pileheight_limit[3], 8);
    }
    if (dfParamTable[0]) {
      EXPECT_EQ(dfParamTable[0]->coefY[3][1], 6);
    }
    const bool complete = FilledSlots() == 6;
    EXPECT_EQ(complete, len == bytes.size());
    EXPECT_EQ(DlbDamagedCount() > 0, !complete);
    if (!complete) {
      ASSERT_NE(DlbLoadMessage(), nullptr);
      EXPECT_EQ(strncmp(DlbLoadMessage(), "WARNING: ips_dlb file ", 22), 0);
    }
  }
}

TEST_F(CommonDevParam, OutOfRangeOffsetsCountsAndIndicesAreAbsent) {
  Layout l;
  const std::string good = BuildDlb({{kTrapId, {TrapRecord(1), TrapRecord(2)}, {0, 1}}}, &l);
  const size_t block = l.blockAt[0];
  const size_t firstOffset = block + 28, slotCount = block + 36, slots = block + 40;

  struct Case {
    const char* what;
    size_t at;
    uint32_t value;
    int tag0, tag1;  // expected slot contents
  };
  const Case cases[] = {
      {"block offset past the end", 28 + 24, 0xFFFFFFF0u, 0, 0},
      {"block offset at the last byte", 28 + 24, static_cast<uint32_t>(good.size() - 1), 0, 0},
      {"record count 2^32 - 1", block + 24, 0xFFFFFFFFu, 0, 0},
      {"slot count 2^32 - 1", slotCount, 0xFFFFFFFFu, 0, 0},
      {"first record past the end", firstOffset, 0x7FFFFFFFu, 0, 2},
      {"first record one byte short", firstOffset, static_cast<uint32_t>(good.size() - block - 27), 0, 2},
      {"slot index equal to N", slots, 0x00020001u, 0, 2},
      {"slot index 0xFFFF", slots, 0xFFFF0001u, 0, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes = good;
    PutBE32(bytes, c.at, c.value);
    ASSERT_EQ(Load(bytes), 0);
    EXPECT_EQ(TrapTag(0), c.tag0);
    EXPECT_EQ(TrapTag(1), c.tag1);
    EXPECT_GT(DlbDamagedCount(), 0);
  }
  // A record ending exactly at the end of the file is whole.
  ASSERT_EQ(Load(good), 0);
  EXPECT_EQ(TrapTag(1), 2);
  EXPECT_EQ(l.recordAt[0][1] + sizeof(icTrapKestinType), good.size());
}

TEST_F(CommonDevParam, DirectoryPastTheEndAndOverlappingBlocks) {
  // The count promises 255 entries, the file holds one.
  std::string bytes = BuildDlb({{kTrapId, {TrapRecord(4)}, {0}}});
  bytes[27] = static_cast<char>(255);
  ASSERT_EQ(Load(bytes), 0);
  EXPECT_EQ(TrapTag(0), 4);
  EXPECT_EQ(DlbDamagedCount(), 1);

  // Two directory entries naming one block, and a block whose record lies on
  // top of its own head: harmless for records read in place.
  Layout l;
  bytes = BuildDlb({{kTrapId, {TrapRecord(9)}, {0, 0}}, {kEeId, {}, {}}}, &l);
  PutBE32(bytes, 28 + 28 + 24, static_cast<uint32_t>(l.blockAt[0]));
  bytes.replace(28 + 28, 24, kTrapId);
  PutBE32(bytes, l.blockAt[0] + 28, 0);  // record offset 0: the block itself
  ASSERT_EQ(Load(bytes), 0);
  EXPECT_EQ(DlbDamagedCount(), 0);
  ASSERT_NE(trapParamTable[0], nullptr);
  EXPECT_EQ(reinterpret_cast<const unsigned char*>(trapParamTable[0])[0], 'h');
  EXPECT_EQ(trapParamTable[0], trapParamTable[1]);
}

TEST_F(CommonDevParam, SlotsBeyondTheTableAreIgnored) {
  std::vector<uint16_t> slots(DLB_TABLE_SLOTS + 10, 1);
  slots[DLB_TABLE_SLOTS - 1] = 0;
  ASSERT_EQ(Load(BuildDlb({{kTrapId, {TrapRecord(1), TrapRecord(2)}, slots}})), 0);
  EXPECT_EQ(DlbDamagedCount(), 0);
  EXPECT_EQ(TrapTag(0), 2);
  EXPECT_EQ(TrapTag(DLB_TABLE_SLOTS - 1), 1);
}

// The sample PPD with its data file path replaced (or dropped when path is empty).
std::string PPDWithDlbPath(const std::string& path) {
  std::string text = SamplePPDText();
  for (size_t pos; (pos = text.find("*QKDlutFilePath:")) != std::string::npos;)
    text.erase(pos, text.find('\n', pos) - pos + 1);
  if (!path.empty()) text += "*QKDlutFilePath: \"" + path + "\"\n";
  return text;
}

TEST_F(CommonDevParam, ReadDlbInfoFollowsThePPD) {
  TempFile dlb(BuildDlb({{kTrapId, {TrapRecord(5)}, {0, 0}}}), ".dlb");
  TempFile ppd(PPDWithDlbPath(dlb.path()), ".ppd");
  setenv("PPD", ppd.path().c_str(), 1);
  ASSERT_EQ(ReadDlbInfo(), 0);
  EXPECT_EQ(TrapTag(1), 5);

  // A failed load leaves every table empty and says why.
  TempFile missing(PPDWithDlbPath("/nonexistent/model.dlb"), ".ppd");
  setenv("PPD", missing.path().c_str(), 1);
  EXPECT_EQ(ReadDlbInfo(), -1);
  EXPECT_EQ(FilledSlots(), 0);
  EXPECT_EQ(DlbLastStatus(), DLB_FILE_OPEN_FAILED);
  ASSERT_NE(DlbLoadMessage(), nullptr);
  EXPECT_STREQ(DlbLoadMessage(), "ERROR: Unable to open ips_dlb file /nonexistent/model.dlb.\n");

  // The PPD cases reach no message.
  TempFile none(PPDWithDlbPath(""), ".ppd");
  setenv("PPD", none.path().c_str(), 1);
  EXPECT_EQ(ReadDlbInfo(), -1);
  EXPECT_EQ(DlbLastStatus(), DLB_NO_PATH);
  EXPECT_EQ(DlbLoadMessage(), nullptr);
  setenv("PPD", "/nonexistent/q.ppd", 1);
  EXPECT_EQ(ReadDlbInfo(), -1);
  EXPECT_EQ(DlbLastStatus(), DLB_PPD_OPEN_FAILED);
  unsetenv("PPD");
  EXPECT_EQ(ReadDlbInfo(), -1);
  EXPECT_EQ(DlbLastStatus(), DLB_NO_PPD_ENV);
  EXPECT_EQ(DlbLoadMessage(), nullptr);

  // A directory is not a readable file; a tiny file has no header.
  TempDir dir;
  EXPECT_EQ(ReadDlbFile(dir.path().c_str()), -1);
  EXPECT_NE(DlbLoadMessage(), nullptr);
  TempFile tiny("short", ".dlb");
  EXPECT_EQ(ReadDlbFile(tiny.path().c_str()), -1);
  EXPECT_EQ(DlbLastStatus(), DLB_TOO_SHORT);
  EXPECT_STREQ(DlbLoadMessage(), ("ERROR: ips_dlb file " + tiny.path() + " is too short.\n").c_str());
}

TEST_F(CommonDevParam, ReleaseClearsTablesAndPointersIntoTheImage) {
  ASSERT_EQ(Load(BuildDlb({{kTrapId, {TrapRecord(5)}, {0, 0}}})), 0);
  icTrapKestinType placeholder{};
  trapParamCMYK = &placeholder;
  EXPECT_EQ(SelectTrapParamCMYK(nullptr), 0);  // no PPD: slot 1
  EXPECT_EQ(trapParamCMYK, trapParamTable[1]);
  ReleaseDlbInfo();
  ReleaseDlbInfo();
  EXPECT_EQ(trapParamCMYK, nullptr);
  EXPECT_EQ(FilledSlots(), 0);
  trapParamCMYK = &placeholder;
  ReleaseDlbInfo();
  EXPECT_EQ(trapParamCMYK, &placeholder);  // not ours to clear
  trapParamCMYK = nullptr;
}

// ---- Selection through a PPD -----------------------------------------------

// Fills slots 0..DLB_TABLE_SLOTS-1 of all four families with a record whose
// tag is its slot number + 1, so a selection says which slot it took.
std::string AllSlotsFile() {
  std::vector<Block> blocks(4);
  blocks[0].id = kTrapId;
  blocks[1].id = kEeId;
  blocks[2].id = kDfId;
  blocks[3].id = kDlutId;
  for (int j = 0; j < DLB_TABLE_SLOTS; ++j) {
    const auto tag = static_cast<unsigned char>(j + 1);
    blocks[0].records.push_back(TrapRecord(tag));
    blocks[1].records.push_back(EeRecord(tag));
    blocks[2].records.push_back(DfRecord(tag));
    blocks[3].records.push_back(DlutRecord(tag));
    for (Block& b : blocks) b.slots.push_back(static_cast<uint16_t>(j));
  }
  return BuildDlb(blocks);
}

// The sample PPD with the document types, colour modes and screens the
// selectors know.
std::string SelectorPPD() {
  return SamplePPDText(
      {{"*CloseUI: *QKDocumentType",
        "*QKDocumentType Normal/Normal: \"\"\n*QKDocumentType Presentation/Presentation: \"\"\n"
        "*QKDocumentType Web/Web: \"\"\n*QKDocumentType POP/POP: \"\"\n*CloseUI: *QKDocumentType"},
       {"*CloseUI: *QKColorMode", "*QKColorMode Mono/Mono: \"\"\n*CloseUI: *QKColorMode"}});
}

struct Selected {
  int dlut, trap, ee, df;  // slot numbers, -1 when the selector failed
};

Selected SelectAll(const std::string& ppdPath, const std::string& options) {
  setenv("PPD", ppdPath.c_str(), 1);
  ZTPPDSetting s;
  EXPECT_EQ(s.Create(options.c_str()), 0);
  Selected r{};
  dlutPrintParam = nullptr;
  trapParamCMYK = nullptr;
  eeParamCMYK = nullptr;
  dfParamCMYK = nullptr;
  r.dlut = SelectDlutPrintParam(s.ppd) == 0 ? dlutPrintParam->entries[0][0] - 1 : -1;
  r.trap = SelectTrapParamCMYK(s.ppd) == 0 ? trapParamCMYK->bk_full - 1 : -1;
  r.ee = SelectEeParamCMYK(s.ppd) == 0 ? eeParamCMYK->mode[0] - 1 : -1;
  r.df = SelectDfParamCMYK(s.ppd) == 0 ? dfParamCMYK->coefK[0][0] - 1 : -1;
  return r;
}

TEST_F(CommonDevParam, SelectorsMapTheJobChoicesToSlots) {
  ASSERT_EQ(Load(AllSlotsFile()), 0);
  TempFile ppd(SelectorPPD(), ".ppd");
  struct Case {
    const char* options;
    int documentSlot, eeSlot, dfSlot;
  };
  const Case cases[] = {
      {"QKDocumentType=Normal", 1, 1, 0},
      {"QKDocumentType=Photo", 4, 2, 0},
      {"QKDocumentType=Presentation", 5, 3, 0},
      {"QKDocumentType=Web", 7, 1, 0},  // trapping slot 7, edge enhancement slot 1
      {"QKDocumentType=POP", 9, 1, 0},
      {"QKDocumentType=Off", 21, 1, 0},
      {"QKDocumentType=Standard", 1, 1, 0},
      {"QKDocumentType=Graphics QKDigitalFilter=Low", 1, 1, 1},
      {"QKDocumentType=Photo QKDigitalFilter=Middle", 4, 2, 2},
      {"QKDigitalFilter=High QKColorMode=Black", 1, 10, 3},
      {"QKDigitalFilter=Off QKColorMode=Black QKDocumentType=Photo", 4, 10, 0},
      {"QKScreen2=Fineness QKColorMode=Black", 1, 4, 0},
      {"QKScreen2=Standard QKColorMode=Black", 1, 5, 0},
      {"QKScreen2=Gradation QKColorMode=Black", 1, 6, 0},
      {"QKScreen2=Fineness QKColorMode=Color QKDocumentType=Photo", 4, 7, 0},
      {"QKScreen2=Standard QKColorMode=Mono", 1, 8, 0},
      {"QKScreen2=Gradation", 1, 9, 0},
  };
  // The sample PPD marks Screen2 "Standard" by default; the cases without a
  // Screen2 choice run on a copy without that default.
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    const bool screen = strstr(c.options, "QKScreen2") != nullptr;
    const std::string text = SelectorPPD();
    TempFile p(screen ? text : [&] {
      std::string t = text;
      t.replace(t.find("*DefaultQKScreen2: Standard"), 27, "*DefaultQKScreen2: None");
      return t;
    }(), ".ppd");
    Selected s = SelectAll(p.path(), c.options);
    EXPECT_EQ(s.dlut, c.documentSlot);
    EXPECT_EQ(s.trap, c.documentSlot);
    EXPECT_EQ(s.ee, c.eeSlot);
    EXPECT_EQ(s.df, c.dfSlot);
  }
}

TEST_F(CommonDevParam, EmptySlotLeavesThePlaceholder) {
  // Only slot 1 of each family is filled.
  ASSERT_EQ(Load(BuildDlb({{kTrapId, {TrapRecord(2)}, {0, 0}}, {kDlutId, {DlutRecord(2)}, {0, 0}}})), 0);
  TempFile ppd(SelectorPPD(), ".ppd");
  setenv("PPD", ppd.path().c_str(), 1);
  ZTPPDSetting s;
  ASSERT_EQ(s.Create("QKDocumentType=Photo"), 0);
  icTrapKestinType placeholder{};
  trapParamCMYK = &placeholder;
  EXPECT_EQ(SelectTrapParamCMYK(s.ppd), -1);
  EXPECT_EQ(trapParamCMYK, &placeholder);
  EXPECT_EQ(SelectDfParamCMYK(s.ppd), -1);
  ZTPPDSetting n;
  ASSERT_EQ(n.Create("QKDocumentType=Normal"), 0);
  EXPECT_EQ(SelectTrapParamCMYK(n.ppd), 0);
  EXPECT_EQ(trapParamCMYK, trapParamTable[1]);
  EXPECT_EQ(SelectDlutPrintParam(n.ppd), 0);
  EXPECT_EQ(dlutPrintParam, dlutPrintParamTable[1]);
  trapParamCMYK = nullptr;
}

TEST_F(CommonDevParam, CheckParamCMYKNeedsTheAttribute) {
  TempFile with(SamplePPDText({}, "*QKCheckParamCMYK: \"1\"\n"), ".ppd");
  TempFile without(SamplePPDText(), ".ppd");
  ppd_file_t* a = ppdOpenFile(with.path().c_str());
  ppd_file_t* b = ppdOpenFile(without.path().c_str());
  ASSERT_TRUE(a && b);
  EXPECT_EQ(CheckParamCMYK(a), 1);
  EXPECT_EQ(CheckParamCMYK(b), 0);
  ppdClose(a);
  ppdClose(b);
}

}  // namespace
