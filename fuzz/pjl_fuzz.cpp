// Fuzz harness of the PJL job header: the input is split at NUL bytes into
// the job's options string (job ticket included), the title, the user name
// and a text that stands in for the code of the secure-print choices, and
// the whole header is written as ztrastertohbpl writes it. Every line it
// writes must begin with "@PJL", be at most 255 bytes with its line feed,
// hold no control character, no ESC and an even number of double quotes,
// and be valid UTF-8; the one ESC is the UEL in front of the block.
#include <cups/cups.h>
#include <cups/ppd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "hbplhost.h"
#include "hbploption.h"
#include "pjlheader.h"
#include "ztcolorsetting.h"

namespace {

int FixedHostName(char* name, size_t size) {
  if (size < 9) return -1;
  memcpy(name, "fuzzhost", 9);
  return 0;
}

int FixedHostAddress(const char*, uint8_t address[4]) {
  const uint8_t fixed[4] = {192, 168, 0, 5};
  memcpy(address, fixed, 4);
  return 0;
}

int FixedTime(struct tm* now) {
  *now = tm{};
  now->tm_year = 126;
  now->tm_mon = 2;
  now->tm_mday = 5;
  return 0;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool ValidUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t n;
    uint32_t cp;
    if (c < 0x80) { ++i; continue; }
    if (c >= 0xC2 && c <= 0xDF) { n = 1; cp = c & 0x1F; }
    else if (c >= 0xE0 && c <= 0xEF) { n = 2; cp = c & 0x0F; }
    else if (c >= 0xF0 && c <= 0xF4) { n = 3; cp = c & 0x07; }
    else return false;
    if (s.size() - i <= n) return false;
    for (size_t k = 1; k <= n; ++k) {
      const auto d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = cp << 6 | (d & 0x3F);
    }
    if ((n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += n + 1;
  }
  return true;
}

// The reason the line breaks a rule, or null.
const char* BadLine(const std::string& line) {
  if (line.compare(0, 4, "@PJL") != 0) return "a line does not begin with @PJL";
  if (line.size() + 1 > PJL_MAX_LINE) return "a line is longer than 255 bytes";
  size_t quotes = 0;
  for (char ch : line) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == 0x1B) return "a line holds ESC";
    if (c < 0x20 || c == 0x7F) return "a line holds a control character";
    quotes += c == '"';
  }
  if (quotes % 2) return "a line holds an unbalanced double quote";
  if (!ValidUtf8(line)) return "a line is not valid UTF-8";
  return nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ppd_file_t* ppd = nullptr;
  static ppd_choice_t* secureChoices[3] = {};
  if (!ppd) {
    ZTFuzzSetUpPPD();
    gZTHostHooks = ZTHostHooks{FixedHostName, FixedHostAddress, FixedTime};
    ppd = ppdOpenFile(getenv("PPD"));
    if (!ppd) abort();
    const char* const kSecure[3][2] = {
        {"QKSecurityUserID", "Owner"}, {"QKSecurityPasswd", "Pin1234"}, {"QKSecurityJobName", "Report"}};
    for (int i = 0; i < 3; ++i) secureChoices[i] = ppdFindChoice(ppdFindOption(ppd, kSecure[i][0]), kSecure[i][1]);
  }
  std::vector<std::string> parts(4);
  for (size_t i = 1, part = 0; i < size; ++i) {
    if (data[i] == 0 && part < parts.size() - 1) ++part;
    else parts[part] += static_cast<char>(data[i]);
  }
  const std::string& code = parts[3];

  cups_option_t* options = nullptr;
  const int numOptions = cupsParseOptions(parts[0].c_str(), 0, &options);
  ppdMarkDefaults(ppd);
  if (numOptions > 0) cupsMarkOptions(ppd, numOptions, options);
  char* savedCodes[3];
  for (int i = 0; i < 3; ++i) {
    savedCodes[i] = secureChoices[i] ? secureChoices[i]->code : nullptr;
    if (secureChoices[i]) secureChoices[i]->code = const_cast<char*>(code.c_str());
  }

  ColorSetting color{};
  Screen2Setting screen2{};
  GetColorSetting(ppd, &color, numOptions, options);
  GetScreen2Setting(ppd, &screen2);
  PJLJobInfo job;
  job.ppd = ppd;
  job.numOptions = numOptions;
  job.options = options;
  job.title = parts[1].c_str();
  job.user = parts[2].c_str();
  job.printerCopies = size > 0 ? data[0] * 7 : 1;
  job.colorSetting = &color;
  job.screen2Setting = &screen2;

  char* text = nullptr;
  size_t length = 0;
  FILE* out = open_memstream(&text, &length);
  if (!out) abort();
  WritePJLJobHeader(out, &job);
  fclose(out);
  const std::string block(text, length);
  free(text);
  for (int i = 0; i < 3; ++i)
    if (secureChoices[i]) secureChoices[i]->code = savedCodes[i];
  cupsFreeOptions(numOptions, options);

  const std::string uel = PJL_UEL;
  if (block.compare(0, uel.size(), uel) != 0) ZTFuzzFail("the block does not begin with the UEL", block);
  if (block.empty() || block.back() != '\n') ZTFuzzFail("the block does not end with a line feed", block);
  for (size_t at = uel.size(); at < block.size();) {
    const size_t nl = block.find('\n', at);
    const std::string line = block.substr(at, nl - at);
    if (const char* why = BadLine(line)) ZTFuzzFail(why, line);
    at = nl + 1;
  }
  const std::string last = "@PJL ENTER LANGUAGE=HBPL\n";
  if (block.size() < last.size() || block.compare(block.size() - last.size(), last.size(), last) != 0)
    ZTFuzzFail("the block does not end with ENTER LANGUAGE", block);
  return 0;
}

// Seeds: option strings with the job-ticket keys, titles and user names
// near the length limits, multi-byte and broken UTF-8.
int ZTFuzzWriteSeeds(const char* dir) {
  const std::string kTicket = "com.korva.cps.print.printsettings.";
  const std::string long200(200, 'x');
  const std::string seeds[][4] = {
      {"", "report.pdf", "alice", ""},
      {"Duplex=DuplexNoTumble QKSecurityPrint=Private QKSecurityUserID=Owner QKSecurityPasswd=Pin1234 "
       "QKSecurityJobName=Report number-up=4",
       "t\xC3\xA4st", "b\xC3\xB6" "b", "c\"o\nde"},
      {kTicket + "JBAManageTypeListTicketKey=2 " + kTicket + "JBAUserIDListCtrlTicket=2 " + kTicket +
           "JBAUserIDTextEditTicket='" + long200 + "\xE2\x82\xAC' " + kTicket + "JBAUserPasswordTextEditTicket=\"p\\\"w\"",
       std::string(236, 't'), "u", ""},
      {kTicket + "JBAManageTypeListTicketKey=1 " + kTicket + "JBAAdminUserIDListCtrlTicket=1 " + kTicket +
           "JBAAdminLoginTextEditTicket=adm\xFF\xFEin " + kTicket + "JBAAdminUserPasswordTextEditTicket=secret",
       "\xC3(" + long200, std::string(300, 'u') + "\xF0\x9F\x98\x80", "\x1B%-12345X"},
      {"QKSecurityPrint=Proof QKSecurityJobName=Report QKColorMode=Black QKTrapping=True QKEdgeEnhance=True "
       "QKDigitalFilter=High QKTonerSaver=True InputSlot=2ndTray MediaType=Thick Collate=False",
       "\xED\xA0\x80" "surrogate", "\xC0\xAF" "overlong", std::string(254, 'j') + "\xE2\x82"},
  };
  int n = 0;
  for (const auto& s : seeds) {
    std::string bytes = s[0] + '\0' + s[1] + '\0' + s[2] + '\0' + s[3];
    bytes.insert(bytes.begin(), static_cast<char>(n * 61));
    const std::string path = std::string(dir) + "/seed-" + std::to_string(n++);
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return 1;
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
  }
  return 0;
}
