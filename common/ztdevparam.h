// Device parameter file ("ips_dlb" file): the per-model tuning values of the
// image filters. The whole file is read into one memory image; the blocks of
// four parameter families are found by their 24-character parameter IDs and
// each family's table is filled with pointers to records inside the image.
// Each filter then selects one record of its family by the job's choices and
// reads its little-endian fields in place.
//
// Container (all numbers unsigned big-endian):
//   header     0..23 not interpreted, 24..27 block count (only byte 27 used)
//   directory  at 28, one 28-byte entry per block: 24-char ID, block offset
//   block      0..23 not interpreted, 24 N, 28 N record offsets (from the
//              block start), 28+4N M, 32+4N M 16-bit slot -> record indices
//
// Every offset, count, index and record extent is checked against the image
// length and the table capacity; whatever fails is treated as an absent block
// or slot, so a damaged file can never make a reader leave the image.
#pragma once

#include <cups/ppd.h>

#include <cstddef>
#include <cstdint>

// ---- Parameter IDs ---------------------------------------------------------

constexpr int DLB_PARAM_ID_COUNT = 97;
constexpr size_t DLB_PARAM_ID_LENGTH = 24;

// One entry of the ID table: the 24 characters, a terminating zero and the
// family code (equal to the entry's position). 26 bytes.
struct DlbParamID {
  char id[DLB_PARAM_ID_LENGTH + 1];
  unsigned char code;
};
static_assert(sizeof(DlbParamID) == 26);

extern const DlbParamID DlbParamIDTable[DLB_PARAM_ID_COUNT];

// Family codes of the four loaded families, and the code of an unknown ID.
constexpr unsigned char DLB_CODE_DLUT_PRINT = 45;  // "A_DLUT_PRINT_________V01"
constexpr unsigned char DLB_CODE_DFT_KESTIN = 47;  // "A_DFT_KESTIN_PRINT___V01"
constexpr unsigned char DLB_CODE_TRP_KESTIN = 48;  // "A_TRP_KESTIN_PRINT___V01"
constexpr unsigned char DLB_CODE_EE_KESTIN = 49;   // "A_EE_KESTIN_PRINT____V01"
constexpr unsigned char DLB_CODE_UNKNOWN = 255;

// Family code of a 24-character ID (not NUL-terminated); DLB_CODE_UNKNOWN
// when it matches none of the known IDs exactly.
unsigned char FindDlbParamCode(const char* id24);

// ---- Container layout ------------------------------------------------------

constexpr size_t DLB_HEADER_SIZE = 28;
constexpr size_t DLB_DIR_ENTRY_SIZE = 28;
constexpr size_t DLB_BLOCK_HEAD_SIZE = 24;  // before N

// Largest file the loader accepts; a real one is a few hundred KiB.
constexpr uint64_t DLB_MAX_FILE_SIZE = 64ull << 20;

// ---- Records ---------------------------------------------------------------
// All records are byte arrays mirroring the file layout (alignment 1), so
// they can be read in place at any offset. Multi-byte fields are
// little-endian; read them with DlbLE16 / DlbLE32.

inline uint16_t DlbLE16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t DlbLE32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline int16_t DlbLE16Signed(const unsigned char* p) { return static_cast<int16_t>(DlbLE16(p)); }
inline int32_t DlbLE32Signed(const unsigned char* p) { return static_cast<int32_t>(DlbLE32(p)); }

// RGB -> CMYK table of the colour conversion ("A_DLUT_PRINT_________V01").
constexpr int DLUT_GRID_NODES = 17;
constexpr int DLUT_ENTRY_COUNT = DLUT_GRID_NODES * DLUT_GRID_NODES * DLUT_GRID_NODES;  // 4913
struct icDlutPrintType {
  unsigned char head[776];                    // not used by the conversion
  unsigned char entries[DLUT_ENTRY_COUNT][4];  // node 289*b + 17*g + r: C, M, Y, K
};
static_assert(sizeof(icDlutPrintType) == 20428);

// Trapping thresholds ("A_TRP_KESTIN_PRINT___V01").
struct icTrapKestinType {
  unsigned char reserved0[4];
  unsigned char flags[4];  // LE word, see TRAP_FLAG_*
  unsigned char bk_full;
  unsigned char bk_white;
  unsigned char cmy_white;
  unsigned char cmy_color;
  unsigned char ave_white;
  unsigned char reserved13[3];
  unsigned char tonerlimit[2];  // LE; low 10 bits only (TRAP_TONERLIMIT_MASK)
  unsigned char reserved18[2];
  unsigned char ib_y_white;
  unsigned char ib_m_white;
  unsigned char ib_c_white;
  unsigned char ib_k_full;
  unsigned char ib_y_const;
  unsigned char ib_m_const;
  unsigned char ib_c_const;
  unsigned char reserved27;
};
static_assert(sizeof(icTrapKestinType) == 28);
constexpr uint32_t TRAP_FLAG_PSEUD_IB = 1u << 1;
constexpr uint32_t TRAP_FLAG_MATRIXSIZE = 1u << 2;
constexpr uint16_t TRAP_TONERLIMIT_MASK = 0x3FF;

// Edge-enhancement thresholds and output table ("A_EE_KESTIN_PRINT____V01").
// Level word: bits 0-7 loth, 8-15 bkth0, 16-23 npth0. Edge word: bits 0-9
// eeth0, 16-23 eeth1. Output word v: bits 16-23 C, 8-15 M, 0-7 Y, 24-31 K.
struct icEeKestinType {
  unsigned char reserved0[4];
  unsigned char mode[4];  // LE word, see EE_MODE_*
  unsigned char levelK[4];
  unsigned char edgeK[4];
  unsigned char levelC[4];
  unsigned char edgeC[4];
  unsigned char levelM[4];
  unsigned char edgeM[4];
  unsigned char levelY[4];
  unsigned char edgeY[4];
  unsigned char outTable[256][4];
  unsigned char pileheight_limit[4];  // LE, signed
};
static_assert(sizeof(icEeKestinType) == 1068);
constexpr uint32_t EE_MODE_EDGE = 1u << 7;
constexpr uint32_t EE_MODE_BKGND = 1u << 6;
constexpr uint32_t EE_MODE_DOT = 1u << 5;

// Digital-filter coefficients ("A_DFT_KESTIN_PRINT___V01"): per plane four
// signed LE 16-bit values in units of 1/4096, stored centre, distance 1, 2, 3
// (so coef[i] of the record is the filter's array index 3 - i).
struct icCF17KestinType {
  unsigned char reserved0[4];
  unsigned char coefK[4][2];
  unsigned char coefC[4][2];
  unsigned char coefM[4][2];
  unsigned char coefY[4][2];
};
static_assert(sizeof(icCF17KestinType) == 36);

// Size of a record of family code, 0 for families that are not loaded.
size_t DlbRecordSize(unsigned char code);

// ---- Parameter tables ------------------------------------------------------

// Slots per table. The selectors use slots up to 21 (DLUT print, trapping),
// 10 (edge enhancement) and 3 (digital filter); slots a file lists beyond
// the capacity are ignored.
constexpr int DLB_TABLE_SLOTS = 32;

// Filled by ReadDlbInfo; an empty slot is null. Entries point into the image.
extern const icDlutPrintType* dlutPrintParamTable[DLB_TABLE_SLOTS];
extern const icCF17KestinType* dfParamTable[DLB_TABLE_SLOTS];
extern const icTrapKestinType* trapParamTable[DLB_TABLE_SLOTS];
extern const icEeKestinType* eeParamTable[DLB_TABLE_SLOTS];

// The record each filter reads its parameters from. A filter points its own
// at a zeroed placeholder before selecting; a selector replaces it with the
// chosen record when that slot holds one.
extern const icDlutPrintType* dlutPrintParam;
extern const icCF17KestinType* dfParamCMYK;
extern const icTrapKestinType* trapParamCMYK;
extern const icEeKestinType* eeParamCMYK;

// ---- Loading ---------------------------------------------------------------

// Outcome of the last load, for the caller's message.
enum DlbLoadStatus {
  DLB_LOADED = 0,          // file read (blocks may still have been skipped as damaged)
  DLB_NO_PPD_ENV,          // PPD unset
  DLB_PPD_OPEN_FAILED,     // PPD not openable
  DLB_NO_PATH,             // no DlutFilePath attribute
  DLB_FILE_OPEN_FAILED,    // "ERROR: Unable to open ips_dlb file %s.\n"
  DLB_NO_MEMORY,           // "ERROR: Unable to malloc dlb_data.\n"
  DLB_READ_FAILED,         // file length unknown or the file could not be read whole
  DLB_TOO_LARGE,           // larger than DLB_MAX_FILE_SIZE
  DLB_TOO_SHORT,           // no complete 28-byte header
};

// Loads the file named by the PPD attribute DlutFilePath (manufacturer
// prefix, VI_CopyAttribute) of the PPD named by $PPD. 0 after a successful
// load (also when no block was recognised), -1 on failure, which leaves all
// tables empty. Prints nothing: see DlbLoadMessage.
int ReadDlbInfo();
// Same, for a file path given directly. Any earlier image is released first.
int ReadDlbFile(const char* path);
// Same, from a copy of len bytes already in memory.
int ReadDlbData(const unsigned char* data, size_t len);

DlbLoadStatus DlbLastStatus();
// The system's error number behind a last load that could not open or read
// the file (DLB_FILE_OPEN_FAILED, DLB_READ_FAILED), else 0.
int DlbLastError();
// Number of directory tails, blocks and slots of the last load that were
// ignored as damaged (reaching outside the image, or a record index not
// below N). Slots beyond the table capacity are ignored without counting.
int DlbDamagedCount();
// The line (ending in "\n") the caller should print on stderr about the last
// load, or null when there is nothing to say: the "ERROR:" texts above, or a
// "WARNING:" when damaged parts were ignored. Valid until the next load.
const char* DlbLoadMessage();

// Frees the image and empties every table and record pointer that pointed
// into it. Harmless when called twice.
void ReleaseDlbInfo();

// Releases the image on scope exit.
struct ZTDlbImage {
  ZTDlbImage() = default;
  ZTDlbImage(const ZTDlbImage&) = delete;
  ZTDlbImage& operator=(const ZTDlbImage&) = delete;
  ~ZTDlbImage() { ReleaseDlbInfo(); }
};

// True (1) when the PPD has the attribute CheckParamCMYK (manufacturer
// prefix): the filters then dump their record's fields.
int CheckParamCMYK(ppd_file_t* ppd);

// ---- Record selection ------------------------------------------------------

// Slot for a DocumentType choice: "Normal" 1, "Photo" 4, "Presentation" 5,
// "Web" 7, "POP" 9, "Off" 21, anything else or null 1.
int DlbDocumentTypeSlot(const char* choice);
// Slot for the digital-filter strength: 1, 2, 3 as given, anything else 0.
int DlbDfSlot(int digitalFilter);
// Slot of the edge-enhancement record: Screen2 mode 1/2/3 -> 4/5/6 with
// ColorMode "Black", 7/8/9 without; other modes: 10 with "Black", else by
// document type "Photo" 2, "Presentation" 3, anything else 1.
int DlbEeSlot(int screen2Mode, const char* colorMode, const char* documentType);

// Each selector reads the job's choices, stores the record of its slot in
// its filter's record pointer and returns 0; when the slot is empty it leaves
// the pointer unchanged and returns -1.
//   SelectDlutPrintParam: marked choice of "DocumentType" (prefixed lookup).
//   SelectTrapParamCMYK:  the same.
//   SelectDfParamCMYK:    GetDigitalFilterSetting.
//   SelectEeParamCMYK:    GetScreen2ModeSetting, "ColorMode" and
//                         "DocumentType" (prefixed lookups).
int SelectDlutPrintParam(ppd_file_t* ppd);
int SelectTrapParamCMYK(ppd_file_t* ppd);
int SelectDfParamCMYK(ppd_file_t* ppd);
int SelectEeParamCMYK(ppd_file_t* ppd);
