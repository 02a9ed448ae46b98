#include "pjlheader.h"


#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "hbplhost.h"
#include "hbploption.h"

const char PJL_UEL[] = "\x1B%-12345X";

namespace {

constexpr char kSetPrefix[] = "@PJL SET ";
constexpr char kJobAttrPrefix[] = "@PJL SET JOBATTR=\"@";
constexpr char kCommentPrefix[] = "@PJL COMMENT ";
// Host names: read whole, then held to the room each attribute has (the
// address look-up takes names below 255 bytes, CNAM names below 31).
constexpr size_t kHostNameRoom = 256;
constexpr size_t kHostAddressNameMax = 255;
constexpr size_t kComputerNameMax = 31;

// Room left for a value on a line that also holds `fixed` bytes.
size_t ValueRoom(size_t fixed) { return fixed < PJL_MAX_LINE ? PJL_MAX_LINE - fixed : 0; }

// Frees a heap string from the PPD string readers.
struct FreeDeleter {
  void operator()(char* p) const { free(p); }
};
using HeapString = std::unique_ptr<char, FreeDeleter>;

}  // namespace

namespace {

// Length of the well-formed UTF-8 character that starts at s (1 to 4), or 0
// when the bytes there do not form one: a stray continuation byte, a lead
// byte without all its continuation bytes, an overlong form, a surrogate or
// a code point above U+10FFFF. s is NUL-terminated; a NUL never passes as a
// continuation byte, so nothing past it is read.
size_t WellFormedUTF8Length(const unsigned char* s) {
  const unsigned c = s[0];
  if (c < 0x80) return 1;
  auto in = [](unsigned b, unsigned lo, unsigned hi) { return b >= lo && b <= hi; };
  size_t len = 0;
  unsigned lo = 0x80, hi = 0xBF;  // range of the second byte
  if (in(c, 0xC2, 0xDF)) len = 2;
  else if (c == 0xE0) len = 3, lo = 0xA0;
  else if (in(c, 0xE1, 0xEC) || in(c, 0xEE, 0xEF)) len = 3;
  else if (c == 0xED) len = 3, hi = 0x9F;
  else if (c == 0xF0) len = 4, lo = 0x90;
  else if (in(c, 0xF1, 0xF3)) len = 4;
  else if (c == 0xF4) len = 4, hi = 0x8F;
  else return 0;
  if (!in(s[1], lo, hi)) return 0;
  for (size_t i = 2; i < len; ++i)
    if (!in(s[i], 0x80, 0xBF)) return 0;
  return len;
}

}  // namespace

// Each byte that is not part of a well-formed character becomes one '?', so
// the text keeps its length in bytes (the length rules of the lines see the
// same count before and after) and a broken character never swallows the
// good bytes after it. C0 and C1 control characters and DEL become one
// space, '"' an apostrophe. A character that does not fit whole is left out
// with everything after it.
size_t CopyPJLSafeText(char* dest, const char* src, size_t maxBytes) {
  size_t out = 0;
  const auto* p = reinterpret_cast<const unsigned char*>(src ? src : "");
  while (*p != '\0') {
    const size_t n = WellFormedUTF8Length(p);
    const bool c1Control = n == 2 && p[0] == 0xC2 && p[1] < 0xA0;
    const size_t room = n <= 1 || c1Control ? 1 : n;
    if (out + room > maxBytes) break;
    if (n == 0) dest[out] = '?';
    else if (n == 1 && (p[0] < 0x20 || p[0] == 0x7F)) dest[out] = ' ';
    else if (n == 1 && p[0] == '"') dest[out] = '\'';
    else if (c1Control) dest[out] = ' ';
    else memcpy(dest + out, p, n);
    out += room;
    p += n == 0 ? 1 : n;
  }
  dest[out] = '\0';
  return out;
}

int WritePJLComment(FILE* fp, const char* text) {
  if (!text || strlen(text) > PJL_MAX_COMMENT) return -1;
  char safe[PJL_MAX_LINE + 1];
  CopyPJLSafeText(safe, text, PJL_MAX_COMMENT);
  fprintf(fp, "%s%s\n", kCommentPrefix, safe);
  return 0;
}

int WritePJLSet(FILE* fp, const char* key, const char* value) {
  if (!value) return -1;
  char safe[PJL_MAX_LINE + 1];
  CopyPJLSafeText(safe, value, ValueRoom(strlen(kSetPrefix) + strlen(key) + 2));
  fprintf(fp, "%s%s=%s\n", kSetPrefix, key, safe);
  return 0;
}

int WritePJLSetQuoted(FILE* fp, const char* key, const char* value) {
  if (!value) return -1;
  char safe[PJL_MAX_LINE + 1];
  CopyPJLSafeText(safe, value, ValueRoom(strlen(kSetPrefix) + strlen(key) + 4));
  fprintf(fp, "%s%s=\"%s\"\n", kSetPrefix, key, safe);
  return 0;
}

int WritePJLJobAttr(FILE* fp, const char* tag, const char* value) {
  if (!value) return -1;
  char safe[PJL_MAX_LINE + 1];
  CopyPJLSafeText(safe, value, ValueRoom(strlen(kJobAttrPrefix) + strlen(tag) + 3));
  fprintf(fp, "%s%s=%s\"\n", kJobAttrPrefix, tag, safe);
  return 0;
}

int WritePJLJobAttrNumber(FILE* fp, const char* tag, long value) {
  char text[24];
  snprintf(text, sizeof text, "%ld", value);
  return WritePJLJobAttr(fp, tag, text);
}

bool IsPPDAttrTrue(ppd_file_t* ppd, const char* keyword) {
  ppd_attr_t* attr = ppd ? VI_FindAttr(ppd, keyword) : nullptr;
  return attr && attr->value && strcmp(attr->value, "True") == 0;
}

namespace {

// Rows DATE and TIME: the local time at writing.
int WriteDateTime(FILE* fp) {
  struct tm now {};
  if (GetZTLocalTime(&now) != 0) return -1;
  char text[64];
  snprintf(text, sizeof text, "DATE=%02d/%02d/%04d", now.tm_mon + 1, now.tm_mday, now.tm_year + 1900);
  WritePJLComment(fp, text);
  snprintf(text, sizeof text, "TIME=%02d:%02d:%02d", now.tm_hour, now.tm_min, now.tm_sec);
  return WritePJLComment(fp, text);
}

int WriteDocumentName(FILE* fp, const char* title) {
  if (!title || strlen(title) > PJL_MAX_TITLE) return -1;
  char text[PJL_MAX_COMMENT + 1];
  snprintf(text, sizeof text, "DNAME=%s", title);
  return WritePJLComment(fp, text);
}

// QTY when the printer collates, COPIES when it does not.
int WriteCopies(FILE* fp, ppd_file_t* ppd, int printerCopies) {
  const char* collate = GetMarkedChoiceName(ppd, "Collate");
  if (!collate) return -1;
  int copies = printerCopies < 1 ? 1 : (printerCopies > 999 ? 999 : printerCopies);
  char text[8];
  snprintf(text, sizeof text, "%d", copies);
  return WritePJLSet(fp, strcmp(collate, "True") == 0 ? "QTY" : "COPIES", text);
}

int WriteInputTray(FILE* fp, ppd_file_t* ppd) {
  const int slot = GetInputSlotSetting(ppd);
  if (slot == 0) return WritePJLJobAttr(fp, "TRCH", "ON");
  WritePJLJobAttr(fp, "TRCH", "OFF");
  static const char* const kTrays[] = {"INTRAY1", "INTRAY2", "INTRAY3", "INTRAY4"};
  if (slot >= 2 && slot <= 5) return WritePJLJobAttr(fp, "INPT", kTrays[slot - 2]);
  return 0;
}

int WriteDuplex(FILE* fp, ppd_file_t* ppd) {
  if (!ppdFindOption(ppd, "Duplex")) return -1;
  const int duplex = GetDuplexSetting(ppd, 1);
  if (duplex < 0) return -1;
  if (duplex == 0) return WritePJLSet(fp, "DUPLEX", "OFF");
  WritePJLSet(fp, "DUPLEX", "ON");
  return WritePJLSet(fp, "BINDING", duplex == 1 ? "LONGEDGE" : "SHORTEDGE");
}

int WriteSubPaperSelection(FILE* fp, ppd_file_t* ppd) {
  const char* choice = GetPrefixedMarkedChoiceName(ppd, "SubPaperSelection");
  if (!choice) return -1;
  const char* value = "AUTO";
  if (strcmp(choice, "Policy2") == 0) value = "OFF";
  else if (strcmp(choice, "Policy3") == 0) value = "NEAR2";
  else if (strcmp(choice, "Policy6") == 0) value = "BIG1";
  else if (strcmp(choice, "SMH") == 0) value = "SMH";
  return WritePJLJobAttr(fp, "SPSE", value);
}

// The render mode follows the colour mode the other filters use, so that a
// job whose pages are made monochrome is never announced as colour.
int WriteRenderMode(FILE* fp, ppd_file_t* ppd) {
  return WritePJLSet(fp, "RENDERMODE", IsMonochromeColorMode(GetColorModeSetting(ppd)) ? "GRAYSCALE" : "COLOR");
}

int WriteTrapping(FILE* fp, ppd_file_t* ppd) {
  const int trapping = GetTrappingSetting(ppd);
  if (trapping < 0) return -1;
  const bool on = trapping == 1 && !IsMonochromeColorMode(GetColorModeSetting(ppd));
  return WritePJLJobAttr(fp, "TRAP", on ? "ON" : "OFF");
}

int WriteEdgeEnhance(FILE* fp, ppd_file_t* ppd) {
  const int edge = GetEdgeEnhanceSetting(ppd);
  if (edge < 0) return -1;
  return WritePJLSet(fp, "RET", edge == 1 ? "ON" : "OFF");
}

int WriteDigitalFilter(FILE* fp, ppd_file_t* ppd) {
  int level = GetDigitalFilterSetting(ppd);
  if (level < 0) return -1;
  if (level > 99) level = 99;
  if (IsPPDAttrTrue(ppd, "Maglev")) level = 0;
  WritePJLJobAttrNumber(fp, "TDFT", level);
  WritePJLJobAttrNumber(fp, "GDFT", level);
  return WritePJLJobAttrNumber(fp, "IDFT", level);
}

int WriteNumberUp(FILE* fp, int numOptions, cups_option_t* options) {
  const int nup = GetNupNumber(numOptions, options);
  if (nup < 1) return -1;
  if (nup == 1) return WritePJLJobAttr(fp, "NLPP", "1");
  char text[16];
  snprintf(text, sizeof text, "N%d", nup);
  return WritePJLJobAttr(fp, "NLPP", text);
}

// The host's first IPv4 address as I followed by each byte in hexadecimal.
int WriteHostAddress(FILE* fp) {
  char name[kHostNameRoom];
  uint8_t address[4];
  if (GetZTHostName(name, sizeof name) != 0 || strlen(name) >= kHostAddressNameMax) return -1;
  if (GetZTHostAddress(name, address) != 0) return -1;
  char text[16];
  snprintf(text, sizeof text, "I%X%X%X%X", address[0], address[1], address[2], address[3]);
  return WritePJLJobAttr(fp, "HOAD", text);
}

// The job's owner: a name from the accounting ticket when the client chose
// one, otherwise the user who submitted the job.
const char* GetJobOwner(const PJLJobInfo* job) {
  const char* value = nullptr;
  switch (GetZTJobOwnerNameSetMode(job->numOptions, job->options)) {
    case 1:
      switch (GetZTJobOwnerNameAdminMode(job->numOptions, job->options)) {
        case 1: GetZTJobOwnerNameAdminLoginName(job->numOptions, job->options, &value); break;
        case 2: GetZTJobOwnerNameAdminInputName(job->numOptions, job->options, &value); break;
      }
      break;
    case 2:
      switch (GetZTJobOwnerNameUserMode(job->numOptions, job->options)) {
        case 1: GetZTJobOwnerNameUserLoginName(job->numOptions, job->options, &value); break;
        case 2: GetZTJobOwnerNameUserInputName(job->numOptions, job->options, &value); break;
      }
      break;
  }
  return value ? value : job->user;
}

int WriteJobOwnerPassword(FILE* fp, const PJLJobInfo* job) {
  const char* value = nullptr;
  switch (GetZTJobOwnerNameSetMode(job->numOptions, job->options)) {
    case 1: GetZTJobAdminAuthPasswd(job->numOptions, job->options, &value); break;
    case 2: GetZTJobUserAuthPasswd(job->numOptions, job->options, &value); break;
    default: return -1;
  }
  return WritePJLJobAttr(fp, "JOEP", value);
}

int WriteComputerName(FILE* fp) {
  char name[kHostNameRoom];
  if (GetZTHostName(name, sizeof name) != 0 || strlen(name) >= kComputerNameMax) return -1;
  return WritePJLJobAttr(fp, "CNAM", name);
}

// A quoted SET line from one of the secure-print string readers.
void WriteSecureString(FILE* fp, const char* key, int (*reader)(ppd_file_t*, char**), ppd_file_t* ppd,
                       bool skipEmpty) {
  char* raw = nullptr;
  if (reader(ppd, &raw) != 0) return;
  HeapString value(raw);
  if (skipEmpty && value.get()[0] == '\0') return;
  WritePJLSetQuoted(fp, key, value.get());
}

int WriteSecurePrint(FILE* fp, ppd_file_t* ppd) {
  const int mode = GetSecurityPrint(ppd);
  switch (mode) {
    case 2:
      WritePJLSet(fp, "HOLD", "STORE");
      WritePJLSet(fp, "HOLDTYPE", "PUBLIC");
      break;
    case 3:
      WritePJLSet(fp, "HOLD", "STORE");
      WritePJLSet(fp, "HOLDTYPE", "PRIVATE");
      break;
    case 4:
      WritePJLSet(fp, "HOLD", "STORE");
      WritePJLSet(fp, "HOLDTYPE", "SECURE");
      break;
    case 5:
      WritePJLSet(fp, "HOLD", "PROOF");
      break;
    default:
      return -1;
  }
  WriteSecureString(fp, "USERNAME", GetSecurityUserID, ppd, false);
  if (mode == 3 || mode == 4) WriteSecureString(fp, "HOLDKEY", GetSecurityPasswd, ppd, true);
  WriteSecureString(fp, "JOBNAME", GetSecurityJobName, ppd, false);
  return 0;
}

int WritePaperDirection(FILE* fp, ppd_file_t* ppd) {
  ppd_size_t* size = nullptr;
  if (GetPageSizeSetting(ppd, &size) < 0 || !size) return -1;
  return WritePJLSet(fp, "PAPERDIRECTION", size->length > size->width ? "SEF" : "LEF");
}

int WriteResolution(FILE* fp, ppd_file_t* ppd) {
  const char* choice = GetPrefixedMarkedChoiceName(ppd, "OutputMode");
  return WritePJLSet(fp, "RESOLUTION", choice && strcmp(choice, "300x300") == 0 ? "300" : "600");
}

int WriteColorMatching(FILE* fp, ppd_file_t* ppd, const ColorSetting* color) {
  if (CheckIfDriverColorMatching(ppd) != 0 || IsMonochromeColorMode(color->colorMode)) return -1;
  return WritePJLJobAttr(fp, "FCMS", "ON");
}

int WriteLetterheadDuplexMode(FILE* fp, ppd_file_t* ppd) {
  const char* choice = GetPrefixedMarkedChoiceName(ppd, "LetterHeadDuplexMode");
  if (!choice) return -1;
  const char* value = "AUTO";
  if (strcmp(choice, "DupOff") == 0) value = "OFF";
  else if (strcmp(choice, "DupOn") == 0) value = "ON";
  return WritePJLJobAttr(fp, "DDPM", value);
}

}  // namespace

void WritePJLJobHeader(FILE* fp, const PJLJobInfo* job) {
  ppd_file_t* ppd = job->ppd;
  fputs(PJL_UEL, fp);
  fputs("@PJL JOB MODE=PRINTER\n", fp);
  fputs("@PJL SET STRINGCODESET=UTF8\n", fp);
  WriteDateTime(fp);
  WriteDocumentName(fp, job->title);
  WritePJLJobAttr(fp, "LUNA", job->user);
  WriteCopies(fp, ppd, job->printerCopies);
  WriteInputTray(fp, ppd);
  WriteDuplex(fp, ppd);
  WriteSubPaperSelection(fp, ppd);
  WriteColorDensity(fp, ppd);
  WriteMediaType(fp, ppd);
  WriteRenderMode(fp, ppd);
  WritePJLSet(fp, "ECONOMODE", GetTonerSaveSetting(ppd) == 1 ? "ON" : "OFF");
  WritePJLJobAttr(fp, "IREC", "OFF");
  WriteTrapping(fp, ppd);
  WriteEdgeEnhance(fp, ppd);
  WriteDigitalFilter(fp, ppd);
  WriteNumberUp(fp, job->numOptions, job->options);
  WriteHostAddress(fp);
  WritePJLJobAttr(fp, "JOAU", GetJobOwner(job));
  WriteComputerName(fp);
  WriteSecurePrint(fp, ppd);
  WritePJLSet(fp, "OUTBIN", "FACEDOWN");
  WritePJLJobAttr(fp, "PODR", "NORMAL");
  WritePJLSet(fp, "SLIPSHEET", "OFF");
  WritePaperDirection(fp, ppd);
  WritePreferredMediaType(fp, ppd);
  WriteTray1MediaType(fp, ppd);
  WriteResolution(fp, ppd);
  WritePJLSet(fp, "BITSPERPIXEL", "8");
  WritePJLJobAttr(fp, "DRDM", "RASTER");
  if (job->colorSetting && job->screen2Setting)
    WriteColorProcessing(fp, ppd, job->colorSetting, job->screen2Setting);
  WritePJLJobAttr(fp, "BANR", "DEVICE");
  if (job->colorSetting) WriteColorMatching(fp, ppd, job->colorSetting);
  WriteLetterheadDuplexMode(fp, ppd);
  WriteJobOwnerPassword(fp, job);
  fputs("@PJL ENTER LANGUAGE=HBPL\n", fp);
}

void WritePJLTrailer(FILE* fp) {
  fputs(PJL_UEL, fp);
  fputs("@PJL EOJ\n", fp);
}
