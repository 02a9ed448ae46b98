// Device parameter file loader, parameter tables and record selectors.
#include "ztdevparam.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hbploption.h"

const DlbParamID DlbParamIDTable[DLB_PARAM_ID_COUNT] = {
    {"A_ENL_CONV_COPY______V01", 0},
    {"A_ENL_CONV_PSH_SCN___V01", 1},
    {"A_ENL_CONV_PLL_SCN___V01", 2},
    {"A_ENL_CONV_FAX_SND___V01", 3},
    {"A_ENL_CONV_THROUGH___V01", 4},
    {"A_RGB_FIL_COPY_______V01", 5},
    {"A_RGB_FIL_PSH_SCN____V01", 6},
    {"A_RGB_FIL_PLL_SCN____V01", 7},
    {"A_RGB_FIL_FAX_SND____V01", 8},
    {"A_RGB_FIL_THROUGH____V01", 9},
    {"A_EXPND_RDCT_COPY____V01", 10},
    {"A_EXPND_RDCT_PSH_SCN_V01", 11},
    {"A_EXPND_RDCT_PLL_SCN_V01", 12},
    {"A_EXPND_RDCT_FAX_SND_V01", 13},
    {"A_EXPND_RDCT_THROUGH_V01", 14},
    {"A_COLOR_CONV_COPY____V01", 15},
    {"A_COLOR_CONV_PSH_SCN_V01", 16},
    {"A_COLOR_CONV_PLL_SCN_V01", 17},
    {"A_COLOR_CONV_THROUGH_V01", 18},
    {"A_BK_GRD_RMV_COPY____V01", 19},
    {"A_BK_GRD_RMV_PSH_SCN_V01", 20},
    {"A_BK_GRD_RMV_FAX_SND_V01", 21},
    {"A_BK_GRD_RMV_THROUGH_V01", 22},
    {"A_NSP_EGFIL_COPY_____V01", 23},
    {"A_NSP_EGFIL_PSH_SCN__V01", 24},
    {"A_NSP_EGFIL_FAX_SND__V01", 25},
    {"A_NSP_EGFIL_FAX_CNV__V01", 26},
    {"A_NSP_EGFIL_THROUGH__V01", 27},
    {"A_NSP_CHROMA_COPY____V01", 28},
    {"A_NSP_CHROMA_PSH_SCN_V01", 29},
    {"A_NSP_CHROMA_THROYGH_V01", 30},
    {"A_LINEAR_ADJ_COPY____V01", 31},
    {"A_LINEAR_ADJ_PSH_SCN_V01", 32},
    {"A_LINEAR_ADJ_THROUGH_V01", 33},
    {"A_LINLUT_ADJ_COPY____V01", 34},
    {"A_LINLUT_ADJ_PSH_SCN_V01", 35},
    {"A_LINLUT_ADJ_FAX_SND_V01", 36},
    {"A_LINLUT_ADJ_FAX_CNV_V01", 37},
    {"A_LINLUT_ADJ_THROUGH_V01", 38},
    {"A_DLUT_4_COL_COPY____V01", 39},
    {"A_DLUT_4_COL_THROUGH_V01", 40},
    {"A_DLUT_3_COL_PSH_SCN_V01", 41},
    {"A_DLUT_3_COL_THROUGH_V01", 42},
    {"A_JPEG_COMP_PSH_SCN__V01", 43},
    {"A_JPEG_COMP_THROUGH__V01", 44},
    {"A_DLUT_PRINT_________V01", 45},
    {"A_DLUT_CIE5__________V01", 46},
    {"A_DFT_KESTIN_PRINT___V01", 47},
    {"A_TRP_KESTIN_PRINT___V01", 48},
    {"A_EE_KESTIN_PRINT____V01", 49},
    {"A_BLK_FIL_FAX_CNV____V01", 50},
    {"A_BLK_FIL_FAX_RCV____V01", 51},
    {"A_BLK_FIL_THROUGH____V01", 52},
    {"A_RES_CONV_FAX_CNV___V01", 53},
    {"A_RES_CONV_FAX_RCV___V01", 54},
    {"A_RES_CONV_THROUGH___V01", 55},
    {"A_FLM_ERASE_COPY_____V01", 56},
    {"A_FLM_ERASE_PSH_SCN__V01", 57},
    {"A_FLM_ERASE_FAX_SND__V01", 58},
    {"A_FLM_ERASE_FAX_CNV__V01", 59},
    {"A_FLM_ERASE_FAX_RCV__V01", 60},
    {"A_FLM_ERASE_THROUGH__V01", 61},
    {"A_COL_BALNCE_COPY____V01", 62},
    {"A_COL_BALNCE_PRINT___V01", 63},
    {"A_COL_CORECT_COPY____V01", 64},
    {"A_COL_CORECT_PRINT___V01", 65},
    {"A_IOT_CORECT_________V01", 66},
    {"A_TONELUT_COPY_______V01", 67},
    {"A_TONELUT_PSH_SCN____V01", 68},
    {"A_TONELUT_FAX_SND____V01", 69},
    {"A_TONELUT_FAX_CNV____V01", 70},
    {"A_TONELUT_FAX_RCV____V01", 71},
    {"A_TONELUT_DFAX_______V01", 72},
    {"A_TONELUT_THROUGH____V01", 73},
    {"A_TONELUT_HW_PRINT___V01", 74},
    {"A_TONELUT_SW_PRINT___V01", 75},
    {"A_SCANER_TRC_________V01", 76},
    {"A_SCREEN_EDF_COPY____V01", 77},
    {"A_SCREEN_EDF_PSH_SCN_V01", 78},
    {"A_SCREEN_EDF_FAX_SND_V01", 79},
    {"A_SCREEN_EDF_FAX_CNV_V01", 80},
    {"A_SCREEN_EDF_FAX_RCV_V01", 81},
    {"A_SCREEN_EDF_DFAX____V01", 82},
    {"A_SCREEN_DDS_COPY____V01", 83},
    {"A_DDS_KESTIN_PRINT___V01", 84},
    {"A_SCREEN_BIN_PRINT___V01", 85},
    {"A_PS4BIT_TAG_COPY____V01", 86},
    {"A_PS4BIT_TAG_PRINT___V01", 87},
    {"A_SET_IM_ENH_PRINT___V01", 88},
    {"A_EXT_PARAMS_COPY____V01", 89},
    {"A_EXT_PARAMS_FAX_RCV_V01", 90},
    {"A_EXT_PARAMS_PRINT___V01", 91},
    {"A_EXT_ENABLE_________V01", 92},
    {"A_PWM_KESTIN_COPY____V01", 93},
    {"A_PWM_KESTIN_FAX_RCV_V01", 94},
    {"A_PWM_KESTIN_PRINT___V01", 95},
    {"A_PRINTER_INDEX_________", 96},
};

const icDlutPrintType* dlutPrintParamTable[DLB_TABLE_SLOTS];
const icCF17KestinType* dfParamTable[DLB_TABLE_SLOTS];
const icTrapKestinType* trapParamTable[DLB_TABLE_SLOTS];
const icEeKestinType* eeParamTable[DLB_TABLE_SLOTS];

const icDlutPrintType* dlutPrintParam = nullptr;
const icCF17KestinType* dfParamCMYK = nullptr;
const icTrapKestinType* trapParamCMYK = nullptr;
const icEeKestinType* eeParamCMYK = nullptr;

namespace {

// The file image all table entries point into, and its length.
unsigned char* dlbData = nullptr;
size_t dlbLength = 0;

DlbLoadStatus lastStatus = DLB_LOADED;
int lastError = 0;  // errno behind a failed open or read of the file
int damagedCount = 0;
char loadMessage[640];

uint32_t BE32(const unsigned char* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
uint16_t BE16(const unsigned char* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

void ClearTables() {
  for (int j = 0; j < DLB_TABLE_SLOTS; ++j) {
    dlutPrintParamTable[j] = nullptr;
    dfParamTable[j] = nullptr;
    trapParamTable[j] = nullptr;
    eeParamTable[j] = nullptr;
  }
}

bool PointsIntoImage(const void* p) {
  if (!dlbData || !p) return false;
  const unsigned char* b = static_cast<const unsigned char*>(p);
  // Compare as integers: the pointers may belong to different objects.
  uintptr_t a = reinterpret_cast<uintptr_t>(b), lo = reinterpret_cast<uintptr_t>(dlbData);
  return a >= lo && a - lo < dlbLength;
}

void SetSlot(unsigned char code, int slot, const unsigned char* record) {
  switch (code) {
    case DLB_CODE_DLUT_PRINT: dlutPrintParamTable[slot] = reinterpret_cast<const icDlutPrintType*>(record); break;
    case DLB_CODE_DFT_KESTIN: dfParamTable[slot] = reinterpret_cast<const icCF17KestinType*>(record); break;
    case DLB_CODE_TRP_KESTIN: trapParamTable[slot] = reinterpret_cast<const icTrapKestinType*>(record); break;
    case DLB_CODE_EE_KESTIN: eeParamTable[slot] = reinterpret_cast<const icEeKestinType*>(record); break;
    default: break;
  }
}

// Fills the slots one block lists. A block whose head, offset list or slot
// list does not fit in the image is skipped whole; a slot whose index is out
// of range or whose record does not fit is skipped alone (it keeps what an
// earlier block of the family put there). Slots beyond the table capacity
// are never selected and are ignored.
void LoadBlock(unsigned char code, uint64_t block) {
  const uint64_t len = dlbLength;
  const uint64_t recordSize = DlbRecordSize(code);
  if (block > len || len - block < DLB_BLOCK_HEAD_SIZE + 4) {
    ++damagedCount;
    return;
  }
  const uint64_t n = BE32(dlbData + block + DLB_BLOCK_HEAD_SIZE);
  const uint64_t offsets = block + DLB_BLOCK_HEAD_SIZE + 4;  // at most 2^32 + 2^26
  const uint64_t slotCountAt = offsets + 4 * n;               // below 2^35: no overflow
  if (slotCountAt > len || len - slotCountAt < 4) {
    ++damagedCount;
    return;
  }
  const uint64_t m = BE32(dlbData + slotCountAt);
  const uint64_t slots = slotCountAt + 4;
  if (slots + 2 * m > len) {
    ++damagedCount;
    return;
  }
  const uint64_t used = m < static_cast<uint64_t>(DLB_TABLE_SLOTS) ? m : DLB_TABLE_SLOTS;
  for (uint64_t j = 0; j < used; ++j) {
    const uint64_t index = BE16(dlbData + slots + 2 * j);
    if (index >= n) {
      ++damagedCount;
      continue;
    }
    const uint64_t record = block + BE32(dlbData + offsets + 4 * index);
    if (record > len || len - record < recordSize) {
      ++damagedCount;
      continue;
    }
    SetSlot(code, static_cast<int>(j), dlbData + record);
  }
}

// Walks the directory of the image in dlbData.
void ParseImage() {
  const unsigned count = dlbData[27];  // bytes 24..26 of the count are ignored
  for (unsigned i = 0; i < count; ++i) {
    const uint64_t entry = DLB_HEADER_SIZE + static_cast<uint64_t>(DLB_DIR_ENTRY_SIZE) * i;
    if (entry + DLB_DIR_ENTRY_SIZE > dlbLength) {
      ++damagedCount;  // the directory runs past the end: the rest is absent
      break;
    }
    const unsigned char code = FindDlbParamCode(reinterpret_cast<const char*>(dlbData + entry));
    if (DlbRecordSize(code) == 0) continue;
    LoadBlock(code, BE32(dlbData + entry + DLB_PARAM_ID_LENGTH));
  }
}

int Fail(DlbLoadStatus status, const char* path) {
  const int cause = errno;
  ReleaseDlbInfo();
  lastStatus = status;
  lastError = status == DLB_FILE_OPEN_FAILED || status == DLB_READ_FAILED ? cause : 0;
  switch (status) {
    case DLB_FILE_OPEN_FAILED:
      snprintf(loadMessage, sizeof loadMessage, "ERROR: Unable to open ips_dlb file %s.\n", path);
      break;
    case DLB_NO_MEMORY:
      snprintf(loadMessage, sizeof loadMessage, "ERROR: Unable to malloc dlb_data.\n");
      break;
    case DLB_READ_FAILED:
      snprintf(loadMessage, sizeof loadMessage, "ERROR: Unable to read ips_dlb file %s.\n", path);
      break;
    case DLB_TOO_LARGE:
      snprintf(loadMessage, sizeof loadMessage, "ERROR: ips_dlb file %s is too large.\n", path);
      break;
    case DLB_TOO_SHORT:
      snprintf(loadMessage, sizeof loadMessage, "ERROR: ips_dlb file %s is too short.\n", path);
      break;
    default:
      // The PPD cases only reach the (silent) debug log.
      loadMessage[0] = '\0';
      break;
  }
  return -1;
}

int Finish(const char* path) {
  ParseImage();
  lastStatus = DLB_LOADED;
  if (damagedCount > 0)
    snprintf(loadMessage, sizeof loadMessage, "WARNING: ips_dlb file %s: %d damaged entries ignored.\n", path,
             damagedCount);
  return 0;
}

// Starts a load: forgets the previous image and its result.
void BeginLoad() {
  ReleaseDlbInfo();
  damagedCount = 0;
  loadMessage[0] = '\0';
  lastStatus = DLB_LOADED;
  lastError = 0;
}

struct FileCloser {
  FILE* fp;
  ~FileCloser() {
    if (fp) fclose(fp);
  }
};

}  // namespace

unsigned char FindDlbParamCode(const char* id24) {
  if (!id24) return DLB_CODE_UNKNOWN;
  for (const DlbParamID& e : DlbParamIDTable)
    if (memcmp(e.id, id24, DLB_PARAM_ID_LENGTH) == 0) return e.code;
  return DLB_CODE_UNKNOWN;
}

size_t DlbRecordSize(unsigned char code) {
  switch (code) {
    case DLB_CODE_DLUT_PRINT: return sizeof(icDlutPrintType);
    case DLB_CODE_DFT_KESTIN: return sizeof(icCF17KestinType);
    case DLB_CODE_TRP_KESTIN: return sizeof(icTrapKestinType);
    case DLB_CODE_EE_KESTIN: return sizeof(icEeKestinType);
    default: return 0;
  }
}

int ReadDlbInfo() {
  BeginLoad();
  const char* ppdPath = getenv("PPD");
  if (!ppdPath) return Fail(DLB_NO_PPD_ENV, nullptr);
  ppd_file_t* ppd = ppdOpenFile(ppdPath);
  if (!ppd) return Fail(DLB_PPD_OPEN_FAILED, nullptr);
  char path[512];
  const int found = VI_CopyAttribute(ppd, "DlutFilePath", path, sizeof path);
  ppdClose(ppd);
  if (found != 0) return Fail(DLB_NO_PATH, nullptr);
  return ReadDlbFile(path);
}

int ReadDlbFile(const char* path) {
  BeginLoad();
  errno = 0;  // a cause left from earlier calls is not this file's
  if (!path) return Fail(DLB_FILE_OPEN_FAILED, "(null)");
  FileCloser file{fopen(path, "rb")};
  if (!file.fp) return Fail(DLB_FILE_OPEN_FAILED, path);
  if (fseeko(file.fp, 0, SEEK_END) != 0) return Fail(DLB_READ_FAILED, path);
  const off_t end = ftello(file.fp);
  if (end < 0) return Fail(DLB_READ_FAILED, path);
  const uint64_t length = static_cast<uint64_t>(end);
  if (length > DLB_MAX_FILE_SIZE) return Fail(DLB_TOO_LARGE, path);
  if (length < DLB_HEADER_SIZE) return Fail(DLB_TOO_SHORT, path);
  if (fseeko(file.fp, 0, SEEK_SET) != 0) return Fail(DLB_READ_FAILED, path);
  unsigned char* image = static_cast<unsigned char*>(malloc(length));
  if (!image) return Fail(DLB_NO_MEMORY, path);
  if (fread(image, 1, length, file.fp) != length) {
    free(image);
    return Fail(DLB_READ_FAILED, path);
  }
  dlbData = image;
  dlbLength = length;
  return Finish(path);
}

int ReadDlbData(const unsigned char* data, size_t len) {
  BeginLoad();
  static const char kName[] = "(memory)";
  if (len > DLB_MAX_FILE_SIZE) return Fail(DLB_TOO_LARGE, kName);
  if (!data || len < DLB_HEADER_SIZE) return Fail(DLB_TOO_SHORT, kName);
  unsigned char* image = static_cast<unsigned char*>(malloc(len));
  if (!image) return Fail(DLB_NO_MEMORY, kName);
  memcpy(image, data, len);
  dlbData = image;
  dlbLength = len;
  return Finish(kName);
}

DlbLoadStatus DlbLastStatus() { return lastStatus; }
int DlbLastError() { return lastError; }
int DlbDamagedCount() { return damagedCount; }
const char* DlbLoadMessage() { return loadMessage[0] ? loadMessage : nullptr; }

void ReleaseDlbInfo() {
  if (PointsIntoImage(dlutPrintParam)) dlutPrintParam = nullptr;
  if (PointsIntoImage(dfParamCMYK)) dfParamCMYK = nullptr;
  if (PointsIntoImage(trapParamCMYK)) trapParamCMYK = nullptr;
  if (PointsIntoImage(eeParamCMYK)) eeParamCMYK = nullptr;
  ClearTables();
  free(dlbData);
  dlbData = nullptr;
  dlbLength = 0;
}

int CheckParamCMYK(ppd_file_t* ppd) {
  if (!ppd) return 0;
  char value[10];
  return VI_CopyAttribute(ppd, "CheckParamCMYK", value, sizeof value) == 0 ? 1 : 0;
}

// ---- Selection -------------------------------------------------------------

int DlbDocumentTypeSlot(const char* choice) {
  if (!choice) return 1;
  static const struct {
    const char* name;
    int slot;
  } kSlots[] = {{"Normal", 1}, {"Photo", 4}, {"Presentation", 5}, {"Web", 7}, {"POP", 9}, {"Off", 21}};
  for (const auto& s : kSlots)
    if (strcmp(choice, s.name) == 0) return s.slot;
  return 1;
}

int DlbDfSlot(int digitalFilter) { return digitalFilter >= 1 && digitalFilter <= 3 ? digitalFilter : 0; }

int DlbEeSlot(int screen2Mode, const char* colorMode, const char* documentType) {
  const bool black = colorMode && strcmp(colorMode, "Black") == 0;
  if (screen2Mode >= 1 && screen2Mode <= 3) return screen2Mode + (black ? 3 : 6);
  if (black) return 10;
  if (documentType && strcmp(documentType, "Photo") == 0) return 2;
  if (documentType && strcmp(documentType, "Presentation") == 0) return 3;
  return 1;
}

namespace {

const char* ChoiceName(const ppd_choice_t* c) { return c ? c->choice : nullptr; }

template <typename T>
int StoreSelection(T* const (&table)[DLB_TABLE_SLOTS], int slot, T*& current) {
  if (slot < 0 || slot >= DLB_TABLE_SLOTS || !table[slot]) return -1;
  current = table[slot];
  return 0;
}

}  // namespace

int SelectDlutPrintParam(ppd_file_t* ppd) {
  const ppd_choice_t* c = ppd ? VI_FindMarkedChoice(ppd, "DocumentType") : nullptr;
  return StoreSelection(dlutPrintParamTable, DlbDocumentTypeSlot(ChoiceName(c)), dlutPrintParam);
}

int SelectTrapParamCMYK(ppd_file_t* ppd) {
  const ppd_choice_t* c = ppd ? VI_FindMarkedChoice(ppd, "DocumentType") : nullptr;
  return StoreSelection(trapParamTable, DlbDocumentTypeSlot(ChoiceName(c)), trapParamCMYK);
}

int SelectDfParamCMYK(ppd_file_t* ppd) {
  const int level = ppd ? GetDigitalFilterSetting(ppd) : -1;
  return StoreSelection(dfParamTable, DlbDfSlot(level), dfParamCMYK);
}

int SelectEeParamCMYK(ppd_file_t* ppd) {
  int mode = 0;
  const ppd_choice_t* colorMode = nullptr;
  const ppd_choice_t* docType = nullptr;
  if (ppd) {
    mode = GetScreen2ModeSetting(ppd);
    colorMode = VI_FindMarkedChoice(ppd, "ColorMode");
    docType = VI_FindMarkedChoice(ppd, "DocumentType");
  }
  return StoreSelection(eeParamTable, DlbEeSlot(mode, ChoiceName(colorMode), ChoiceName(docType)), eeParamCMYK);
}
