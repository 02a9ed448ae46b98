// PPD and job settings: opening the queue's PPD with the job's options marked,
// the composite print setting, the per-feature setting readers, the
// manufacturer-prefixed PPD lookups and the job-ticket option readers.
#pragma once

#include <cups/cups.h>
#include <cups/ppd.h>

#include <cstddef>

// ---- Manufacturer prefixes -------------------------------------------------

extern const char PASK_PREFIX[3];   // "PK"
extern const char KVA_PREFIX[3];    // "QK"
extern const char JOV_PREFIX[3];    // "JV"
extern const char ZT_PREFIX[3];     // "ZT"
extern const char TALMA_PREFIX[3];  // "TL"

// Process-wide prefix caches. Each lookup function resolves its prefix from
// the first PPD it sees and keeps it for the life of the process.
extern char VENDOR_PREFIX[3];       // VI_FindAttr
extern char VENDOR_PREFIX_COPY[3];  // VI_CopyAttribute
extern char PPD_PREFIX[3];          // VI_FindMarkedChoice

// The PPD keyword limit: prefix and keyword are cut at 40 characters.
constexpr size_t ZT_PPD_KEYWORD_MAX = 40;

ppd_attr_t* VI_FindAttr(ppd_file_t* ppd, const char* keyword);
ppd_choice_t* VI_FindMarkedChoice(ppd_file_t* ppd, const char* keyword);
// 0 with the value copied (cut to size - 1, always NUL-ended); 1 when no
// prefix can be found or the attribute does not exist.
int VI_CopyAttribute(ppd_file_t* ppd, const char* keyword, char* dest, size_t size);
// The prefixed keyword itself, for readers that look at the PPD's text
// rather than through CUPS; resolved and cached as VI_CopyAttribute does.
// 0 with out filled, 1 (after the message) when no prefix can be found.
int VI_PrefixedKeyword(ppd_file_t* ppd, const char* keyword, char out[ZT_PPD_KEYWORD_MAX + 1]);

// Builds prefix + keyword cut at 40 characters into out (41 bytes).
void ZTBuildPrefixedKeyword(const char* prefix, const char* keyword, char out[ZT_PPD_KEYWORD_MAX + 1]);

// ---- Opening the PPD -------------------------------------------------------

// Opens $PPD, marks defaults, resolves conflicts, parses and marks the job's
// options. 0, or 1 with "ERROR: cannot open PPD".
int CreatePPDSetting(ppd_file_t** ppd, int* numOptions, cups_option_t** options, const char* optionsString);
void ReleasePPDSetting(ppd_file_t* ppd, int numOptions, cups_option_t* options);

// Owns the three values of a PPD setting and releases them on destruction.
struct ZTPPDSetting {
  ppd_file_t* ppd = nullptr;
  int numOptions = 0;
  cups_option_t* options = nullptr;

  ZTPPDSetting() = default;
  ZTPPDSetting(const ZTPPDSetting&) = delete;
  ZTPPDSetting& operator=(const ZTPPDSetting&) = delete;
  ~ZTPPDSetting() { ReleasePPDSetting(ppd, numOptions, options); }
  // CreatePPDSetting into this holder.
  int Create(const char* optionsString) { return CreatePPDSetting(&ppd, &numOptions, &options, optionsString); }
};

// ---- Print setting ---------------------------------------------------------

struct PrintSetting {
  int pageSize;
  int inputSlot;
  int collate;
  int duplex;
  int colorMode;
  float paperWidth;
  float paperLength;
  float imageLeft;
  float imageBottom;
  float imageRight;
  float imageTop;
};

int GetPrintSetting(ppd_file_t* ppd, PrintSetting* setting);

// Colour mode codes.
constexpr int ZT_COLORMODE_COLOR = 22;
constexpr int ZT_COLORMODE_BLACK = 1;
constexpr int ZT_COLORMODE_MONO = 17;
constexpr int ZT_COLORMODE_MONO9 = 9;
inline bool IsMonochromeColorMode(int mode) { return mode == 1 || mode == 9 || mode == 17; }

// ---- Choice readers --------------------------------------------------------

// The name of the marked choice of a plain keyword, or null. Standard PPD
// keywords ("PageSize", "Duplex", "MediaType", ...) are read this way.
const char* GetMarkedChoiceName(ppd_file_t* ppd, const char* keyword);
// The same for a driver keyword, given without its manufacturer prefix
// ("OutputMode" is "QKOutputMode" in a Korva PPD).
const char* GetPrefixedMarkedChoiceName(ppd_file_t* ppd, const char* keyword);

int GetPageSizeSetting(ppd_file_t* ppd, ppd_size_t** size);
int GetInputSlotSetting(ppd_file_t* ppd);
int GetCollateSetting(ppd_file_t* ppd);
int GetDuplexSetting(ppd_file_t* ppd, int checkConflict);
int GetDuplexUnitSetting(ppd_file_t* ppd);
int GetResolution(ppd_file_t* ppd);
int GetSecurityPrint(ppd_file_t* ppd);
int GetLetterheadDuplexModeSetting(ppd_file_t* ppd);
int CheckIfDriverColorMatching(ppd_file_t* ppd);
int GetDigitalFilterSetting(ppd_file_t* ppd);
int GetEdgeEnhanceSetting(ppd_file_t* ppd);
int GetTrappingSetting(ppd_file_t* ppd);
int GetZTTurnPageSetting(ppd_file_t* ppd);
int GetSkipBlankPagesSetting(ppd_file_t* ppd);
int GetScreen2ModeSetting(ppd_file_t* ppd);
int GetThinInkPrintSetting(ppd_file_t* ppd);
int GetTonerSaveSetting(ppd_file_t* ppd);
int GetColorModeSetting(ppd_file_t* ppd);

// String readers: 0 and a new heap copy (free()) of the marked choice's code.
int GetSecurityJobName(ppd_file_t* ppd, char** value);
int GetSecurityPasswd(ppd_file_t* ppd, char** value);
int GetSecurityUserID(ppd_file_t* ppd, char** value);

// ---- Attribute readers -----------------------------------------------------

int GetFallbackThreshold(ppd_file_t* ppd);
int GetMemoryModuleSetting(ppd_file_t* ppd);
int GetDeviceCollateMemoryThreshold(ppd_file_t* ppd);
int GetMemoryModuleValueFromName(const char* name);
// 0 and a new heap copy (free()) of the first PageSize choice within 2 points.
int GetPageSizeNameFromPageSize(ppd_file_t* ppd, float width, float length, char** name);
int CheckIfDeviceCopies(ppd_file_t* ppd);

// ---- Job ticket options ----------------------------------------------------

int GetZTPrintTypeDocName(int numOptions, cups_option_t* options, const char** value);
int GetZTPrintTypePassword(int numOptions, cups_option_t* options, const char** value);
int GetZTPrintTypeUserName(int numOptions, cups_option_t* options, const char** value);
int GetZTJobUserAuthPasswd(int numOptions, cups_option_t* options, const char** value);
int GetZTJobAdminAuthPasswd(int numOptions, cups_option_t* options, const char** value);
int GetZTJobOwnerNameUserInputName(int numOptions, cups_option_t* options, const char** value);
int GetZTJobOwnerNameUserLoginName(int numOptions, cups_option_t* options, const char** value);
int GetZTJobOwnerNameAdminInputName(int numOptions, cups_option_t* options, const char** value);
int GetZTJobOwnerNameAdminLoginName(int numOptions, cups_option_t* options, const char** value);

int GetZTPrintTypeSelection(int numOptions, cups_option_t* options);
int GetZTPrintTypeDocNameType(int numOptions, cups_option_t* options);
int GetZTJobOwnerNameSetMode(int numOptions, cups_option_t* options);
int GetZTJobOwnerNameAdminMode(int numOptions, cups_option_t* options);
int GetZTJobOwnerNameUserMode(int numOptions, cups_option_t* options);
int GetTotalPhysicalPageNumber(int numOptions, cups_option_t* options);
int GetTotalLogicalPageNumber(int numOptions, cups_option_t* options);

int GetNupNumber(int numOptions, cups_option_t* options);
int CheckIfPageSizeOption(int numOptions, cups_option_t* options);
int GetPageSet(int numOptions, cups_option_t* options);
int GetOutputOrder(int numOptions, cups_option_t* options);
