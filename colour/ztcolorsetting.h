// Colour settings: the job's colour choices read from the PPD and the job
// options into two small records. The colour conversion filter uses the
// ColorSetting for its conversion; the printer-language filter forwards the
// table numbers of both records to the printer.
//
// The table numbers come from the code text of the marked choices of the
// driver options "DocumentType" and "Screen2" (manufacturer prefix in front,
// "QKDocumentType" in a Korva PPD), a dictionary such as
// "<</QKDLUT 1 /QKUCR 1 /QKTRC 2>>" read by the marked-code parser.
#pragma once

#include <cups/cups.h>
#include <cups/ppd.h>

#include <cstdint>

#include "ztparseppd.h"

struct ColorSetting {
  int32_t colorMode;         // GetColorModeSetting: 1, 17 or 22
  int32_t brightness;        // job option, -100 .. 100
  int32_t chroma;            // job option, -100 .. 100
  int32_t contrast;          // job option, -100 .. 100
  int32_t redOffset;
  int32_t greenOffset;
  int32_t blueOffset;
  int32_t whitePoint;        // 6500
  int32_t gammaCode;         // 22
  int32_t dlutNumber;        // QKDLUT
  int32_t ucrNumber;         // QKUCR
  int32_t trcNumber;         // QKTRC
  int32_t screenNumber;      // QKSCREEN
  int32_t monoTrcNumber;     // QKMONOTRC
  int32_t monoScreenNumber;  // QKMONOSCREEN
};

struct Screen2Setting {
  int32_t mode;              // GetScreen2ModeSetting: 0 none, 1 Fineness, 2 Standard, 3 Gradation
  int32_t colorScreen;       // QKSCREEN2
  int32_t monoScreen;        // QKMONOSCREEN2
};

constexpr int32_t ZT_DEFAULT_WHITE_POINT = 6500;
constexpr int32_t ZT_DEFAULT_GAMMA_CODE = 22;

// The three image adjustments of the job ticket.
extern const char ZT_BRIGHTNESS_OPTION[];  // "...ImageSettings.Brightness"
extern const char ZT_CHROMA_OPTION[];      // "...ImageSettings.Chroma"
extern const char ZT_CONTRAST_OPTION[];    // "...ImageSettings.Contrast"

// Fills the whole ColorSetting: colour mode, the defaults, the table numbers
// of the marked "DocumentType" code and, when options are given, the image
// adjustments. A choice without code text leaves the table numbers at 0.
// 0, or -1 when the PPD or the record is missing or the choice's code text
// cannot be parsed into fields (the numbers then stay at 0).
int GetColorSetting(ppd_file_t* ppd, ColorSetting* setting, int numOptions, cups_option_t* options);

// Fills the Screen2Setting from the "Screen2" mode and the marked
// "Screen2" code. Same results as GetColorSetting.
int GetScreen2Setting(ppd_file_t* ppd, Screen2Setting* setting);
// As GetScreen2Setting, but leaves the mode alone.
int GetScreen2Param(ppd_file_t* ppd, Screen2Setting* setting);
// Fills only the six table numbers of the ColorSetting.
int GetDeviceColorParam(ppd_file_t* ppd, ColorSetting* setting);

// Field fillers over a parsed key/value list: the numbers are reset to 0,
// then every known key sets its field (a later item overrides an earlier
// one). Both return 0.
int ReadDTFInfo(const ZTMarkedCode* list, ColorSetting* setting);
int ReadScreen2Info(const ZTMarkedCode* list, Screen2Setting* setting);
