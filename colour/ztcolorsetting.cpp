#include "ztcolorsetting.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "hbploption.h"

const char ZT_BRIGHTNESS_OPTION[] = "com.korva.cps.print.printsettings.ImageSettings.Brightness";
const char ZT_CHROMA_OPTION[] = "com.korva.cps.print.printsettings.ImageSettings.Chroma";
const char ZT_CONTRAST_OPTION[] = "com.korva.cps.print.printsettings.ImageSettings.Contrast";

namespace {

// A value of the code text as a decimal number (leading blanks and a sign
// accepted, parsing stops at the first non-digit), held within 32 bits.
int32_t DecimalValue(const char* text) {
  long n = strtol(text, nullptr, 10);
  if (n > INT32_MAX) return INT32_MAX;
  if (n < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(n);
}

struct KeyField {
  const char* key;
  int32_t ColorSetting::*field;
};

constexpr KeyField kDeviceKeys[] = {
    {"QKDLUT", &ColorSetting::dlutNumber},       {"QKUCR", &ColorSetting::ucrNumber},
    {"QKTRC", &ColorSetting::trcNumber},         {"QKSCREEN", &ColorSetting::screenNumber},
    {"QKMONOTRC", &ColorSetting::monoTrcNumber}, {"QKMONOSCREEN", &ColorSetting::monoScreenNumber},
};

// Parses the code of the marked choice of the driver option (named without
// its manufacturer prefix) into list. 0 when there is a list to read (it may
// be empty), 1 when the option has no marked choice or the choice has no
// code text, -1 when code text is there but cannot be parsed.
int ParseChoiceCode(ppd_file_t* ppd, const char* option, ZTMarkedCode* list) {
  ppd_choice_t* choice = VI_FindMarkedChoice(ppd, option);
  if (!choice || !choice->code || !strchr(choice->code, '<')) return 1;
  return ZTParseMarkedCodeString(choice->code, list) == 0 ? 0 : -1;
}

// Reads the table numbers of option's code text with fill; the numbers stay
// as they are (callers reset them first) when there is nothing to read.
template <typename Record>
int ReadCodeInto(ppd_file_t* ppd, const char* option, Record* setting,
                 int (*fill)(const ZTMarkedCode*, Record*)) {
  ZTMarkedCode list;
  int parsed = ParseChoiceCode(ppd, option, &list);
  if (parsed != 0) return parsed < 0 ? -1 : 0;
  fill(&list, setting);
  ZTFreeMarkedCode(&list);
  return 0;
}

// An image adjustment of the job ticket: the option's value when it lies in
// -100 .. 100, else 0.
int32_t ImageAdjustment(int numOptions, cups_option_t* options, const char* key) {
  const char* value = cupsGetOption(key, numOptions, options);
  if (!value) return 0;
  errno = 0;
  long n = strtol(value, nullptr, 10);
  if (errno == ERANGE || n < -100 || n > 100) return 0;
  return static_cast<int32_t>(n);
}

void ClearDeviceNumbers(ColorSetting* setting) {
  for (const auto& row : kDeviceKeys) setting->*row.field = 0;
}

}  // namespace

int ReadDTFInfo(const ZTMarkedCode* list, ColorSetting* setting) {
  ClearDeviceNumbers(setting);
  for (int i = 0; list && i < list->count; ++i) {
    for (const auto& row : kDeviceKeys) {
      if (strcmp(list->items[i].key, row.key) == 0) setting->*row.field = DecimalValue(list->items[i].value);
    }
  }
  return 0;
}

int ReadScreen2Info(const ZTMarkedCode* list, Screen2Setting* setting) {
  setting->colorScreen = 0;
  setting->monoScreen = 0;
  for (int i = 0; list && i < list->count; ++i) {
    const ZTCodeInfo& item = list->items[i];
    if (strcmp(item.key, "QKSCREEN2") == 0) setting->colorScreen = DecimalValue(item.value);
    if (strcmp(item.key, "QKMONOSCREEN2") == 0) setting->monoScreen = DecimalValue(item.value);
  }
  return 0;
}

int GetDeviceColorParam(ppd_file_t* ppd, ColorSetting* setting) {
  if (!ppd || !setting) return -1;
  ClearDeviceNumbers(setting);
  return ReadCodeInto(ppd, "DocumentType", setting, ReadDTFInfo);
}

int GetColorSetting(ppd_file_t* ppd, ColorSetting* setting, int numOptions, cups_option_t* options) {
  if (!ppd || !setting) return -1;
  *setting = ColorSetting{};
  setting->colorMode = GetColorModeSetting(ppd);
  setting->whitePoint = ZT_DEFAULT_WHITE_POINT;
  setting->gammaCode = ZT_DEFAULT_GAMMA_CODE;
  int result = ReadCodeInto(ppd, "DocumentType", setting, ReadDTFInfo);
  if (options && numOptions > 0) {
    setting->brightness = ImageAdjustment(numOptions, options, ZT_BRIGHTNESS_OPTION);
    setting->chroma = ImageAdjustment(numOptions, options, ZT_CHROMA_OPTION);
    setting->contrast = ImageAdjustment(numOptions, options, ZT_CONTRAST_OPTION);
  }
  return result;
}

int GetScreen2Param(ppd_file_t* ppd, Screen2Setting* setting) {
  if (!ppd || !setting) return -1;
  setting->colorScreen = 0;
  setting->monoScreen = 0;
  return ReadCodeInto(ppd, "Screen2", setting, ReadScreen2Info);
}

int GetScreen2Setting(ppd_file_t* ppd, Screen2Setting* setting) {
  if (!ppd || !setting) return -1;
  setting->mode = GetScreen2ModeSetting(ppd);
  return GetScreen2Param(ppd, setting);
}
