// The media and colour-processing attributes of the PJL job header: colour
// density adjustments, the media type in the printer's three dialects, the
// preferred and tray 1 media types, and the printer's colour-processing
// tables.
#include <cstdlib>
#include <cstring>

#include "hbploption.h"
#include "pjlheader.h"

namespace {

struct NameValue {
  const char* name;
  const char* value;
};

// Media keywords of the printers that take APSP/MSIP pairs. Names compare
// within their first 32 characters.
constexpr size_t kMediaNameField = 32;
constexpr NameValue kMediaKeywords[] = {
    {"Default", "OFF"},
    {"Stationary", "NORMAL"},
    {"StationaryBack", "NORMALREV"},
    {"FinePaper", "HIGHQUALITY"},
    {"FinePaperBack", "HIGHQUALITYREV"},
    {"Envelope", "ENVELOPE"},
    {"EnvelopeBack", "ENVELOPEREV"},
    {"Postcard", "POSTCARD"},
    {"PostcardBack", "POSTCARDREV"},
    {"ThickPaper", "THICK"},
    {"ThickPaperBack", "THICKSIDE2"},
    {"ThickPaper2", "THICK2"},
    {"ThickPaper2Back", "THICK2SIDE2"},
    {"SuperThickPaper", "SUPERTHICK"},
    {"CoatingPaper1", "COATEDPAPER"},
    {"CoatingPaper1Back", "COATEDPAPERREV"},
    {"CoatingPaper2", "COATEDPAPER2"},
    {"CoatingPaper2Back", "COATEDPAPER2REV"},
    {"CoatingPaper3", "COATEDPAPER3"},
    {"Coat2", "COAT2"},
    {"Coat3", "COAT3"},
    {"LabelPaper", "LABEL"},
    {"Recycled", "RECYCLE"},
    {"RecycledBack", "RECYCLEREV"},
    {"Letterhead", "LETTERHEAD"},
    {"LetterheadBack", "LETTERHEADREV"},
    {"Prepunched", "PREPUNCHED"},
    {"SpecialPaper", "SPECIAL"},
    {"SpecialBack", "SPECIALREV"},
    {"Transparency", "TRANSPARENCY"},
    {"LetterHead", "LETTERHEAD"},
    {"ColoredPaper", "COLOR"},
    {"ColoredBack", "COLORREV"},
    {"PrePunched", "PREPUNCHED"},
    {"PrePunchedBack", "PREPUNCHEDREV"},
    {"PrePrinted", "PREPRINTED"},
    {"PrePrintedBack", "PREPRINTEDREV"},
    {"User", "USER1"},
    {"UserBack", "USER1REV"},
};

// Media names of the printers that take the extended MSIP vocabulary.
constexpr NameValue kExtendedMedia[] = {
    {"Default", "OFF"},
    {"Stationary", "NORMAL"},
    {"StationaryBack", "NORMALREV"},
    {"FinePaper", "HIGHQUALITY"},
    {"FinePaperBack", "HIGHQUALITYREV"},
    {"Envelope", "ENVELOPE"},
    {"Postcard", "POSTCARD"},
    {"PostcardBack", "POSTCARDREV"},
    {"ThickPaper", "THICK"},
    {"ThickPaperBack", "THICKSIDE2"},
    {"ThickPaper2", "SUPERTHICK"},
    {"ThickPaper2Back", "SUPERTHICKSIDE2"},
    {"CoatingPaper1", "COATEDPAPER"},
    {"CoatingPaper1Back", "COATEDPAPERREV"},
    {"CoatingPaper2", "COATEDPAPER2"},
    {"CoatingPaper2Back", "COATEDPAPER2REV"},
    {"CoatingPaper3", "COATEDPAPER3"},
    {"LabelPaper", "LABELPAPER"},
    {"Recycled", "RECYCLE"},
    {"RecycledBack", "RECYCLEREV"},
};

constexpr NameValue kPreferredMedia[] = {
    {"Stationary", "NORMAL"},
    {"FinePaper", "FINE"},
    {"CoatingPaper1", "COAT1"},
};

constexpr NameValue kTray1Media[] = {
    {"Stationary", "NORMAL"},      {"FinePaper", "HIGHQUALITY"},     {"Envelope", "ENVELOPE"},
    {"Postcard", "POSTCARD"},      {"ThickPaper", "THICK"},          {"ThickPaper2", "SUPERTHICK"},
    {"CoatingPaper1", "COATEDPAPER"}, {"CoatingPaper2", "COATEDPAPER2"}, {"CoatingPaper3", "COATEDPAPER3"},
    {"LabelPaper", "LABELPAPER"},  {"Recycled", "RECYCLE"},
};

template <size_t N>
const char* FindValue(const char* name, const NameValue (&table)[N], const char* other) {
  for (const auto& row : table) {
    if (strcmp(name, row.name) == 0) return row.value;
  }
  return other;
}

// The media keyword of a choice; an unknown choice is reported and sent as OFF.
const char* MediaKeyword(const char* choice) {
  for (const auto& row : kMediaKeywords) {
    if (strncmp(choice, row.name, kMediaNameField) == 0) return row.value;
  }
  fprintf(stderr, "WARNING: Unknown media keyword \"%s\".\n", choice);
  return kMediaKeywords[0].value;
}

// Driver attributes are named without their manufacturer prefix.
bool HasAttr(ppd_file_t* ppd, const char* keyword) { return VI_FindAttr(ppd, keyword) != nullptr; }

// Printers that take the media type as APSP and MSIP by tray.
bool IsTrayMediaDialect(ppd_file_t* ppd) {
  return HasAttr(ppd, "ExtensionHB2") || HasAttr(ppd, "MediaTypeKVAGDI");
}

bool StartsWith(const char* s, const char* prefix) { return strncmp(s, prefix, strlen(prefix)) == 0; }

struct BasicMedia {
  const char* value;
  bool backFace;
};

// Media type of the printers with the basic MSIP vocabulary; the back side
// of a sheet is a separate MEDIAFACE line.
BasicMedia GetBasicMedia(const char* choice) {
  if (!strcmp(choice, "Default") || !strcmp(choice, "Stationary")) return {"NORMAL", false};
  if (!strcmp(choice, "StationaryBack")) return {"NORMAL", true};
  if (!strcmp(choice, "FinePaper")) return {"FINE", false};
  if (!strcmp(choice, "FinePaperBack")) return {"FINE", true};
  if (StartsWith(choice, "ThickPaper")) {
    if (!strcmp(choice, "ThickPaperBack")) return {"THICK", true};
    if (!strcmp(choice, "ThickPaper2")) return {"THICK2", false};
    if (!strcmp(choice, "ThickPaper2Back")) return {"THICK2", true};
    return {"THICK", false};
  }
  if (!strcmp(choice, "Transparency")) return {"TRANSPARENCY", false};
  if (!strcmp(choice, "LabelPaper")) return {"LABEL", false};
  if (StartsWith(choice, "CoatingPaper")) {
    static constexpr struct {
      const char* name;
      BasicMedia media;
    } kCoated[] = {
        {"CoatingPaper1", {"COAT1", false}}, {"CoatingPaper1Back", {"COAT1", true}},
        {"CoatingPaper2", {"COAT2", false}}, {"CoatingPaper2Back", {"COAT2", true}},
        {"CoatingPaper3", {"COAT3", false}}, {"CoatingPaper3Back", {"COAT3", true}},
    };
    for (const auto& row : kCoated) {
      if (!strcmp(choice, row.name)) return row.media;
    }
    return {"COAT", false};
  }
  if (StartsWith(choice, "Postcard")) return {"PCMEDIA", strcmp(choice, "PostcardBack") == 0};
  if (!strcmp(choice, "Envelope")) return {"ENVELOPE", false};
  return {"NORMAL", false};
}

void WriteTableNumber(FILE* fp, const char* const tags[3], int32_t value) {
  for (int i = 0; i < 3; ++i) WritePJLJobAttrNumber(fp, tags[i], value);
}

}  // namespace

void WriteColorDensity(FILE* fp, ppd_file_t* ppd) {
  static constexpr NameValue kDensity[] = {
      {"ColorDensityCyanLow", "AJCL"},     {"ColorDensityCyanMid", "AJCM"},
      {"ColorDensityCyanHigh", "AJCH"},    {"ColorDensityMagentaLow", "AJML"},
      {"ColorDensityMagentaMid", "AJMM"},  {"ColorDensityMagentaHigh", "AJMH"},
      {"ColorDensityYellowLow", "AJYL"},   {"ColorDensityYellowMid", "AJYM"},
      {"ColorDensityYellowHigh", "AJYH"},  {"ColorDensityBlackLow", "AJKL"},
      {"ColorDensityBlackMid", "AJKM"},    {"ColorDensityBlackHigh", "AJKH"},
  };
  for (const auto& row : kDensity) {
    const char* choice = GetPrefixedMarkedChoiceName(ppd, row.name);
    if (!choice) continue;
    // The printer counts the adjustment from 0; the choices from -3.
    long level = strtol(choice, nullptr, 10);
    if (level > 1000000 || level < -1000000) level = 0;
    WritePJLJobAttrNumber(fp, row.value, level + 3);
  }
}

void WriteMediaType(FILE* fp, ppd_file_t* ppd) {
  const char* choice = GetMarkedChoiceName(ppd, "MediaType");
  if (!choice) {
    WritePJLJobAttr(fp, "MSIP", "OFF");
    return;
  }
  if (IsTrayMediaDialect(ppd)) {
    const char* keyword = MediaKeyword(choice);
    const int slot = GetInputSlotSetting(ppd);
    if (slot == 1) {  // bypass tray
      WritePJLJobAttr(fp, "APSP", "OFF");
      WritePJLJobAttr(fp, "MSIP", keyword);
    } else if (slot == 0 || (slot >= 2 && slot <= 5)) {
      WritePJLJobAttr(fp, "APSP", keyword);
      WritePJLJobAttr(fp, "MSIP", "OFF");
    } else {
      WritePJLJobAttr(fp, "APSP", "OFF");
      WritePJLJobAttr(fp, "MSIP", "OFF");
    }
  } else if (HasAttr(ppd, "ExtensionHB1")) {
    WritePJLJobAttr(fp, "MSIP", FindValue(choice, kExtendedMedia, "OFF"));
  } else {
    const BasicMedia media = GetBasicMedia(choice);
    WritePJLJobAttr(fp, "MSIP", media.value);
    if (media.backFace) WritePJLSet(fp, "MEDIAFACE", "BACKFACE");
  }
}

void WritePreferredMediaType(FILE* fp, ppd_file_t* ppd) {
  if (GetPrefixedMarkedChoiceName(ppd, "ExtMediaTypeTray1")) return;
  const char* choice = GetPrefixedMarkedChoiceName(ppd, "PreferredMediaType");
  if (choice) {
    WritePJLJobAttr(fp, "APSP", FindValue(choice, kPreferredMedia, "OFF"));
  } else if (!IsTrayMediaDialect(ppd)) {
    WritePJLJobAttr(fp, "APSP", "OFF");
  }
}

void WriteTray1MediaType(FILE* fp, ppd_file_t* ppd) {
  const char* choice = GetPrefixedMarkedChoiceName(ppd, "ExtMediaTypeTray1");
  if (choice) WritePJLJobAttr(fp, "APSP", FindValue(choice, kTray1Media, "OFF"));
}

void WriteColorProcessing(FILE* fp, ppd_file_t* ppd, const ColorSetting* color, const Screen2Setting* screen2) {
  static const char* const kCpr[3] = {"TCPR", "GCPR", "ICPR"};
  static const char* const kUcr[3] = {"TUCR", "GUCR", "IUCR"};
  static const char* const kTrc[3] = {"TTRC", "GTRC", "ITRC"};
  static const char* const kScr[3] = {"TSCR", "GSCR", "ISCR"};
  const int mode = color->colorMode;
  if (mode == ZT_COLORMODE_BLACK || mode == ZT_COLORMODE_MONO) {
    const bool screen2On = screen2->mode != 0;
    WriteTableNumber(fp, kTrc, screen2On ? screen2->monoScreen : color->monoTrcNumber);
    WriteTableNumber(fp, kScr, screen2On ? screen2->monoScreen : color->monoScreenNumber);
    const bool pureBlack = !IsPPDAttrTrue(ppd, "Maglev") && GetThinInkPrintSetting(ppd) == 1;
    WritePJLJobAttr(fp, "PBLK", pureBlack ? "ON" : "OFF");
  } else if (mode == ZT_COLORMODE_COLOR) {
    WriteTableNumber(fp, kCpr, color->dlutNumber);
    WriteTableNumber(fp, kUcr, color->ucrNumber);
    const bool screen2On = screen2->mode != 0;
    WriteTableNumber(fp, kTrc, screen2On ? screen2->colorScreen : color->trcNumber);
    WriteTableNumber(fp, kScr, screen2On ? screen2->colorScreen : color->screenNumber);
  }
}
