#include "hbploption.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

const char PASK_PREFIX[3] = "PK";
const char KVA_PREFIX[3] = "QK";
const char JOV_PREFIX[3] = "JV";
const char ZT_PREFIX[3] = "ZT";
const char TALMA_PREFIX[3] = "TL";

char VENDOR_PREFIX[3] = "";
char VENDOR_PREFIX_COPY[3] = "";
char PPD_PREFIX[3] = "";

// ---- Manufacturer-prefixed lookups -----------------------------------------

namespace {

struct ManufacturerRow {
  const char* name;
  const char* prefix;
};

// Compared exactly, case included; first equal row wins.
constexpr ManufacturerRow kManufacturers[] = {
    {"Pask", PASK_PREFIX}, {"Korva", KVA_PREFIX}, {"JOV", JOV_PREFIX},
    {"ZT", ZT_PREFIX},     {"TALMA", TALMA_PREFIX}, {"Talma", TALMA_PREFIX},
};

struct PrefixMessages {
  const char* noManufacturer;
  const char* noPrefix;
};

constexpr PrefixMessages kCopyMessages = {
    "ERROR: VI_CopyAttribute: Manufacturer description not found in the PPD.\n",
    "ERROR: VI_CopyAttribute: No PPD Prefix.\n"};
// The attribute lookup and the choice lookup share their texts.
constexpr PrefixMessages kFindMessages = {
    "ERROR: VI_FindMarkedChoice: Manufacturer description not found in the PPD.\n",
    "ERROR: TRC: No PPD Prefix.\n"};

// Fills cache from the PPD's manufacturer when it is still empty. True when a
// prefix is available.
bool ResolvePrefix(ppd_file_t* ppd, char cache[3], const PrefixMessages& msg) {
  if (cache[0] != '\0') return true;
  ppd_attr_t* attr = ppd ? ppdFindAttr(ppd, "Manufacturer", nullptr) : nullptr;
  if (!attr || !attr->value) {
    fputs(msg.noManufacturer, stderr);
    return false;
  }
  for (const auto& row : kManufacturers) {
    if (strcmp(attr->value, row.name) == 0) {
      memcpy(cache, row.prefix, 3);
      return true;
    }
  }
  fputs(msg.noPrefix, stderr);
  return false;
}

}  // namespace

void ZTBuildPrefixedKeyword(const char* prefix, const char* keyword, char out[ZT_PPD_KEYWORD_MAX + 1]) {
  snprintf(out, ZT_PPD_KEYWORD_MAX + 1, "%s%s", prefix, keyword ? keyword : "");
}

ppd_attr_t* VI_FindAttr(ppd_file_t* ppd, const char* keyword) {
  if (!ResolvePrefix(ppd, VENDOR_PREFIX, kFindMessages)) return nullptr;
  char name[ZT_PPD_KEYWORD_MAX + 1];
  ZTBuildPrefixedKeyword(VENDOR_PREFIX, keyword, name);
  return ppdFindAttr(ppd, name, nullptr);
}

ppd_choice_t* VI_FindMarkedChoice(ppd_file_t* ppd, const char* keyword) {
  if (!ResolvePrefix(ppd, PPD_PREFIX, kFindMessages)) return nullptr;
  char name[ZT_PPD_KEYWORD_MAX + 1];
  ZTBuildPrefixedKeyword(PPD_PREFIX, keyword, name);
  return ppdFindMarkedChoice(ppd, name);
}

int VI_PrefixedKeyword(ppd_file_t* ppd, const char* keyword, char out[ZT_PPD_KEYWORD_MAX + 1]) {
  if (!ResolvePrefix(ppd, VENDOR_PREFIX_COPY, kCopyMessages)) return 1;
  ZTBuildPrefixedKeyword(VENDOR_PREFIX_COPY, keyword, out);
  return 0;
}

int VI_CopyAttribute(ppd_file_t* ppd, const char* keyword, char* dest, size_t size) {
  char name[ZT_PPD_KEYWORD_MAX + 1];
  if (VI_PrefixedKeyword(ppd, keyword, name) != 0) return 1;
  ppd_attr_t* attr = ppdFindAttr(ppd, name, nullptr);
  if (!attr) return 1;
  if (dest && size > 0) snprintf(dest, size, "%s", attr->value ? attr->value : "");
  return 0;
}

// ---- Opening the PPD -------------------------------------------------------

int CreatePPDSetting(ppd_file_t** ppd, int* numOptions, cups_option_t** options, const char* optionsString) {
  *ppd = nullptr;
  *numOptions = 0;
  *options = nullptr;
  const char* path = getenv("PPD");
  ppd_file_t* file = path ? ppdOpenFile(path) : nullptr;
  if (!file) {
    fputs("ERROR: cannot open PPD\n", stderr);
    return 1;
  }
  ppdMarkDefaults(file);
  ppdConflicts(file);
  cups_option_t* opts = nullptr;
  int count = cupsParseOptions(optionsString ? optionsString : "", 0, &opts);
  if (count > 0) cupsMarkOptions(file, count, opts);
  *ppd = file;
  *numOptions = count;
  *options = opts;
  return 0;
}

void ReleasePPDSetting(ppd_file_t* ppd, int numOptions, cups_option_t* options) {
  if (options && numOptions > 0) cupsFreeOptions(numOptions, options);
  if (ppd) ppdClose(ppd);
}

// ---- Choice readers --------------------------------------------------------

const char* GetMarkedChoiceName(ppd_file_t* ppd, const char* keyword) {
  ppd_choice_t* c = ppd ? ppdFindMarkedChoice(ppd, keyword) : nullptr;
  return c ? c->choice : nullptr;
}

const char* GetPrefixedMarkedChoiceName(ppd_file_t* ppd, const char* keyword) {
  ppd_choice_t* c = ppd ? VI_FindMarkedChoice(ppd, keyword) : nullptr;
  return c ? c->choice : nullptr;
}

namespace {

struct ChoiceCode {
  const char* choice;
  int code;
};

template <size_t N>
int MapChoice(const char* name, const ChoiceCode (&table)[N], int other) {
  for (const auto& row : table) {
    if (strcmp(name, row.choice) == 0) return row.code;
  }
  return other;
}

// "True" gives 1, any other marked choice 0, no marked choice `missing`.
int TrueFalse(const char* name, int missing) {
  if (!name) return missing;
  return strcmp(name, "True") == 0 ? 1 : 0;
}

constexpr ChoiceCode kPageSizes[] = {
    {"A4", 2},
    {"A5", 15},
    {"B5", 11},
    {"Letter", 0},
    {"FanFoldGermanLegal", 205},
    {"Legal", 1},
    {"Executive", 3},
    {"Env10", 6},
    {"EnvMonarch", 7},
    {"QKEnvMonarchRotated", 7},
    {"EnvC5", 8},
    {"EnvDL", 9},
    {"QKEnvDLRotated", 9},
    {"QKPostcard", 13},
    {"QKEnvYou2Rotated", 224},
    {"QKEnvYou3Rotated", 225},
    {"QKEnvYou2", 224},
    {"QKEnvYou3", 225},
    {"QKEnvYou4", 226},
    {"QKEnvYouChou3", 227},
    {"QKReplyPostcard", 14},
    {"EnvChou3", 228},
    {"Custom", 255},
    {"EnvC6", 224},
};

constexpr ChoiceCode kInputSlots[] = {
    {"AutoSelect", 0}, {"1stTray-S", 2}, {"1stTray-H", 2}, {"1stTray", 2},
    {"2ndTray-H", 3},  {"2ndTray", 3},   {"3rdTray", 4},   {"4thTray", 5},
    {"BypassTray", 1}, {"PSI", 1},
};

}  // namespace

int GetPageSizeSetting(ppd_file_t* ppd, ppd_size_t** size) {
  const char* name = GetMarkedChoiceName(ppd, "PageSize");
  if (!name) name = GetMarkedChoiceName(ppd, "PageRegion");
  if (!name) {
    fputs("ERROR: No PageSize & PageRegion specified.\n", stderr);
    return -1;
  }
  int code = MapChoice(name, kPageSizes, 2);
  ppd_size_t* record = ppdPageSize(ppd, name);
  if (size) *size = record;
  return record ? code : -1;
}

int GetInputSlotSetting(ppd_file_t* ppd) {
  const char* name = GetMarkedChoiceName(ppd, "InputSlot");
  return name ? MapChoice(name, kInputSlots, 0) : 1;
}

int GetCollateSetting(ppd_file_t* ppd) { return TrueFalse(GetMarkedChoiceName(ppd, "Collate"), 1); }

int GetDuplexSetting(ppd_file_t* ppd, int checkConflict) {
  const char* name = GetMarkedChoiceName(ppd, "Duplex");
  if (!name) return 0;
  static constexpr ChoiceCode kDuplex[] = {{"DuplexNoTumble", 1}, {"DuplexTumble", 2}};
  int value = MapChoice(name, kDuplex, 0);
  if (checkConflict) {
    ppd_option_t* option = ppdFindOption(ppd, "Duplex");
    if (!option) return -1;
    if (option->conflicted) return 0;
  }
  return value;
}

int GetDuplexUnitSetting(ppd_file_t* ppd) { return TrueFalse(GetMarkedChoiceName(ppd, "Option2"), -1); }

int GetResolution(ppd_file_t* ppd) {
  const char* name = GetPrefixedMarkedChoiceName(ppd, "OutputMode");
  if (!name) return -1;
  static constexpr ChoiceCode kRes[] = {{"600x600", 600}, {"300x300", 300}};
  return MapChoice(name, kRes, 600);
}

int GetSecurityPrint(ppd_file_t* ppd) {
  const char* name = GetPrefixedMarkedChoiceName(ppd, "SecurityPrint");
  if (!name) return -1;
  static constexpr ChoiceCode kSec[] = {
      {"Off", 1}, {"Public", 2}, {"Private", 3}, {"Security", 4}, {"Proof", 5}};
  return MapChoice(name, kSec, -1);
}

int GetLetterheadDuplexModeSetting(ppd_file_t* ppd) {
  const char* name = GetPrefixedMarkedChoiceName(ppd, "LetterHeadDuplexMode");
  if (!name) return -1;
  static constexpr ChoiceCode kModes[] = {{"DupAuto", 0}, {"DupOff", 1}, {"DupOn", 2}};
  return MapChoice(name, kModes, 0);
}

int CheckIfDriverColorMatching(ppd_file_t* ppd) {
  const char* name = GetPrefixedMarkedChoiceName(ppd, "DocumentType");
  if (!name) return -1;
  return strcmp(name, "Off") == 0 ? 0 : 1;
}

int GetDigitalFilterSetting(ppd_file_t* ppd) {
  const char* name = GetPrefixedMarkedChoiceName(ppd, "DigitalFilter");
  if (!name) return -1;
  static constexpr ChoiceCode kLevels[] = {{"Off", 0}, {"Low", 1}, {"Middle", 2}, {"High", 3}};
  return MapChoice(name, kLevels, 0);
}

int GetEdgeEnhanceSetting(ppd_file_t* ppd) { return TrueFalse(GetPrefixedMarkedChoiceName(ppd, "EdgeEnhance"), -1); }
int GetTrappingSetting(ppd_file_t* ppd) { return TrueFalse(GetPrefixedMarkedChoiceName(ppd, "Trapping"), -1); }
int GetZTTurnPageSetting(ppd_file_t* ppd) { return TrueFalse(GetPrefixedMarkedChoiceName(ppd, "TurnPage"), 0); }
int GetSkipBlankPagesSetting(ppd_file_t* ppd) { return TrueFalse(GetPrefixedMarkedChoiceName(ppd, "Skip"), 0); }
int GetThinInkPrintSetting(ppd_file_t* ppd) { return TrueFalse(GetPrefixedMarkedChoiceName(ppd, "ThinInkPrint"), -1); }
int GetTonerSaveSetting(ppd_file_t* ppd) { return TrueFalse(GetPrefixedMarkedChoiceName(ppd, "TonerSaver"), -1); }

int GetScreen2ModeSetting(ppd_file_t* ppd) {
  const char* name = GetPrefixedMarkedChoiceName(ppd, "Screen2");
  if (!name) return 0;
  static constexpr ChoiceCode kModes[] = {{"Fineness", 1}, {"Standard", 2}, {"Gradation", 3}};
  return MapChoice(name, kModes, 0);
}

int GetColorModeSetting(ppd_file_t* ppd) {
  char mono[16] = "";
  int monoCode = ZT_COLORMODE_MONO;
  if (VI_CopyAttribute(ppd, "MonochromeMode", mono, sizeof mono) == 0 && strcmp(mono, "Black") == 0)
    monoCode = ZT_COLORMODE_BLACK;
  const char* name = GetPrefixedMarkedChoiceName(ppd, "ColorMode");
  if (name && strcmp(name, "Color") == 0) return ZT_COLORMODE_COLOR;
  return monoCode;
}

static int CopyMarkedCode(ppd_file_t* ppd, const char* keyword, char** value) {
  if (!ppd || !value) return -1;
  ppd_choice_t* c = VI_FindMarkedChoice(ppd, keyword);
  if (!c || !c->code) return -1;
  char* copy = strdup(c->code);
  if (!copy) return -1;
  *value = copy;
  return 0;
}

int GetSecurityJobName(ppd_file_t* ppd, char** value) { return CopyMarkedCode(ppd, "SecurityJobName", value); }
int GetSecurityPasswd(ppd_file_t* ppd, char** value) { return CopyMarkedCode(ppd, "SecurityPasswd", value); }
int GetSecurityUserID(ppd_file_t* ppd, char** value) { return CopyMarkedCode(ppd, "SecurityUserID", value); }

// ---- Print setting ---------------------------------------------------------

int GetPrintSetting(ppd_file_t* ppd, PrintSetting* setting) {
  if (!ppd || !setting) return -1;
  ppd_size_t* size = nullptr;
  if ((setting->pageSize = GetPageSizeSetting(ppd, &size)) == -1) return -1;
  if ((setting->inputSlot = GetInputSlotSetting(ppd)) == -1) return -1;
  setting->collate = GetCollateSetting(ppd);
  if ((setting->duplex = GetDuplexSetting(ppd, 1)) == -1) return -1;
  if ((setting->colorMode = GetColorModeSetting(ppd)) == -1) return -1;
  setting->paperWidth = size->width;
  setting->paperLength = size->length;
  setting->imageLeft = size->left;
  setting->imageBottom = size->bottom;
  setting->imageRight = size->right;
  setting->imageTop = size->top;
  return 0;
}

// ---- Attribute readers -----------------------------------------------------

int GetMemoryModuleValueFromName(const char* name) {
  if (!name) return -1;
  const char* p = name;
  if (*p < '0' || *p > '9') return -1;  // no sign, at least one digit
  long long value = 0;
  while (*p >= '0' && *p <= '9') {
    value = value * 10 + (*p - '0');
    if (value > std::numeric_limits<int>::max()) return -1;
    ++p;
  }
  return strcmp(p, "Meg") == 0 ? static_cast<int>(value) : -1;
}

int GetFallbackThreshold(ppd_file_t* ppd) {
  char value[10] = "";
  if (VI_CopyAttribute(ppd, "FallbackThreshold", value, sizeof value) != 0) return 0;
  return atoi(value);
}

int GetMemoryModuleSetting(ppd_file_t* ppd) {
  if (!ppd) return -1;
  const char* value = nullptr;
  ppd_attr_t* attr = VI_FindAttr(ppd, "BuiltInMemory");
  if (attr) {
    value = attr->value ? attr->value : "";
  } else {
    value = GetMarkedChoiceName(ppd, "InstalledMemory");
    if (!value) return -1;
  }
  if (strcmp(value, "False") == 0) return 0;
  if (strcmp(value, "True") == 0) return 1;
  int meg = GetMemoryModuleValueFromName(value);
  return meg >= 0 ? meg : 0;
}

int GetDeviceCollateMemoryThreshold(ppd_file_t* ppd) {
  ppd_attr_t* attr = ppd ? VI_FindAttr(ppd, "DeviceCollateMemoryThreshold") : nullptr;
  return attr ? GetMemoryModuleValueFromName(attr->value) : -1;
}

int GetPageSizeNameFromPageSize(ppd_file_t* ppd, float width, float length, char** name) {
  if (!ppd || !name) return -1;
  ppd_option_t* option = ppdFindOption(ppd, "PageSize");
  if (!option || !option->choices) return -1;
  for (int i = 0; i < option->num_choices; ++i) {
    ppd_size_t* size = ppdPageSize(ppd, option->choices[i].choice);
    if (!size) continue;
    if (std::fabs(size->length - length) <= 2.0f && std::fabs(size->width - width) <= 2.0f) {
      char* copy = strdup(option->choices[i].choice);
      if (!copy) return -1;
      *name = copy;
      return 0;
    }
  }
  return -1;
}

int CheckIfDeviceCopies(ppd_file_t* ppd) {
  const char* collate = GetMarkedChoiceName(ppd, "Collate");
  if (collate && strcmp(collate, "True") != 0) return 1;
  if (GetSecurityPrint(ppd) >= 2) return 1;
  ppd_attr_t* support = ppd ? VI_FindAttr(ppd, "SupportDeviceCollate") : nullptr;
  if (!support || !support->value || strncmp(support->value, "True", 4) != 0) return 0;
  ppd_option_t* option = ppdFindOption(ppd, "Collate");
  if (!option || option->conflicted) return 0;
  int memory = GetMemoryModuleSetting(ppd);
  int threshold = GetDeviceCollateMemoryThreshold(ppd);
  if (memory < 0 || threshold < 0 || memory < 2 || memory < threshold) return 0;
  return 1;
}

// ---- Job ticket options ----------------------------------------------------

namespace {

constexpr const char kTicket[] = "com.korva.cps.print.printsettings.";

int TicketString(int numOptions, cups_option_t* options, const char* key, const char** value) {
  if (!options) return -1;
  const char* v = cupsGetOption(key, numOptions, options);
  if (value) *value = v;
  return v ? 0 : -1;
}

int TicketNumber(int numOptions, cups_option_t* options, const char* key) {
  if (!options) return -1;
  const char* v = cupsGetOption(key, numOptions, options);
  if (!v) return -1;
  long n = strtol(v, nullptr, 10);
  if (n > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  if (n < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
  return static_cast<int>(n);
}

}  // namespace


static std::string TicketKey(const char* suffix) { return std::string(kTicket) + suffix; }

int GetZTPrintTypeDocName(int n, cups_option_t* o, const char** v) { return TicketString(n, o, TicketKey("DocumentName").c_str(), v); }
int GetZTPrintTypePassword(int n, cups_option_t* o, const char** v) { return TicketString(n, o, TicketKey("PrintTypePassword").c_str(), v); }
int GetZTPrintTypeUserName(int n, cups_option_t* o, const char** v) { return TicketString(n, o, TicketKey("PrintTypeUserName").c_str(), v); }
int GetZTJobUserAuthPasswd(int n, cups_option_t* o, const char** v) { return TicketString(n, o, TicketKey("JBAUserPasswordTextEditTicket").c_str(), v); }
int GetZTJobAdminAuthPasswd(int n, cups_option_t* o, const char** v) { return TicketString(n, o, TicketKey("JBAAdminUserPasswordTextEditTicket").c_str(), v); }
int GetZTJobOwnerNameUserInputName(int n, cups_option_t* o, const char** v) { return TicketString(n, o, TicketKey("JBAUserIDTextEditTicket").c_str(), v); }
int GetZTJobOwnerNameUserLoginName(int n, cups_option_t* o, const char** v) { return TicketString(n, o, TicketKey("JBALoginTextEditTicket").c_str(), v); }
int GetZTJobOwnerNameAdminInputName(int n, cups_option_t* o, const char** v) { return TicketString(n, o, TicketKey("JBAAdminUserIDTextEditTicket").c_str(), v); }
int GetZTJobOwnerNameAdminLoginName(int n, cups_option_t* o, const char** v) { return TicketString(n, o, TicketKey("JBAAdminLoginTextEditTicket").c_str(), v); }

int GetZTPrintTypeSelection(int n, cups_option_t* o) { return TicketNumber(n, o, TicketKey("PrintType").c_str()); }
int GetZTPrintTypeDocNameType(int n, cups_option_t* o) { return TicketNumber(n, o, TicketKey("DocumentNameType").c_str()); }
int GetZTJobOwnerNameSetMode(int n, cups_option_t* o) { return TicketNumber(n, o, TicketKey("JBAManageTypeListTicketKey").c_str()); }
int GetZTJobOwnerNameAdminMode(int n, cups_option_t* o) { return TicketNumber(n, o, TicketKey("JBAAdminUserIDListCtrlTicket").c_str()); }
int GetZTJobOwnerNameUserMode(int n, cups_option_t* o) { return TicketNumber(n, o, TicketKey("JBAUserIDListCtrlTicket").c_str()); }
int GetTotalPhysicalPageNumber(int n, cups_option_t* o) { return TicketNumber(n, o, "com.apple.print.PrintSettings.PMTotalSidesImaged..n."); }
int GetTotalLogicalPageNumber(int n, cups_option_t* o) { return TicketNumber(n, o, "com.apple.print.PrintSettings.PMTotalBeginPages..n."); }

int GetNupNumber(int n, cups_option_t* o) {
  if (!o) return -1;
  return cupsGetOption("number-up", n, o) ? TicketNumber(n, o, "number-up") : 1;
}

int CheckIfPageSizeOption(int n, cups_option_t* o) {
  if (!o) return -1;
  return (cupsGetOption("PageSize", n, o) || cupsGetOption("media", n, o)) ? 1 : 0;
}

int GetPageSet(int n, cups_option_t* o) {
  if (!o) return -1;
  const char* v = cupsGetOption("page-set", n, o);
  if (!v) return 0;
  if (strcmp(v, "odd") == 0) return 1;
  if (strcmp(v, "even") == 0) return 2;
  return 0;
}

int GetOutputOrder(int n, cups_option_t* o) {
  const char* v = o ? cupsGetOption("OutputOrder", n, o) : nullptr;
  return v && strcmp(v, "Reverse") == 0 ? 1 : 0;
}
