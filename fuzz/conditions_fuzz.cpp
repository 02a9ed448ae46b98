// Fuzz harness of the run conditions and the marked-code parser. The input
// is split at NUL bytes into a run condition, a job options string and a
// choice code. The condition is evaluated by the chain runner's evaluator
// against the sample PPD with the options marked, and compared with a plain
// reading of the condition grammar; the code goes through the marked-code
// parser, whose pairs must respect its limits (or the list be empty after a
// refusal).
#include <cups/cups.h>
#include <cups/ppd.h>

#include <cstring>
#include <string>
#include <vector>

#include "fuzz_capture.h"
#include "fuzz_support.h"
#include "ztparseppd.h"

#define main ZTFuzzMain_ztmainfilter
#include "../mainfilter/ztmainfilter.cpp"
#undef main

namespace {

// A non-empty token names the operator when it is a leading part of the name.
bool IsOperator(const std::string& token, const char* name) {
  return token[0] != '$' && token.size() <= strlen(name) && strncmp(token.c_str(), name, token.size()) == 0;
}

// The grammar read plainly: 1 run, 0 skip.
int ReferenceRun(const std::string& text, ppd_file_t* ppd) {
  std::vector<std::string> tokens, stack;
  for (size_t at = 0; at <= text.size();) {
    size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    if (end > at) tokens.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  if (tokens.empty()) return 1;
  for (const std::string& t : tokens) {
    if (t[0] == '$') {
      ppd_choice_t* choice = ppdFindMarkedChoice(ppd, t.c_str() + 1);
      if (!choice) return 1;
      stack.push_back(choice->choice);
      continue;
    }
    const bool eq = IsOperator(t, "eq"), ne = !eq && IsOperator(t, "ne"), and_ = !eq && !ne && IsOperator(t, "and"),
               or_ = !eq && !ne && !and_ && IsOperator(t, "or");
    if (!eq && !ne && !and_ && !or_) {
      stack.push_back(t);
      continue;
    }
    if (stack.size() < 2) return 1;
    const std::string b = stack.back();
    stack.pop_back();
    const std::string a = stack.back();
    const bool r = eq ? a == b : ne ? a != b : and_ ? (a == "True" && b == "True") : (a == "True" || b == "True");
    stack.back() = r ? "True" : "False";
  }
  return stack.size() == 1 && stack[0] == "True" ? 1 : (stack.size() == 1 ? 0 : 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ppd_file_t* ppd = nullptr;
  if (!ppd) {
    ZTFuzzSetUpPPD();
    ppd = ppdOpenFile(getenv("PPD"));
    if (!ppd) abort();
  }
  std::vector<std::string> parts(3);
  for (size_t i = 0, part = 0; i < size; ++i) {
    if (data[i] == 0 && part < parts.size() - 1) ++part;
    else parts[part] += static_cast<char>(data[i]);
  }

  cups_option_t* options = nullptr;
  const int numOptions = cupsParseOptions(parts[1].c_str(), 0, &options);
  ppdMarkDefaults(ppd);
  if (numOptions > 0) cupsMarkOptions(ppd, numOptions, options);
  ppd_attr_t attr{};
  attr.value = parts[0].data();
  ZTFuzzBeginMessages();
  const int run = EvalPSInvocation(&attr, ppd);
  const std::string messages = ZTFuzzEndMessages();
  if (run != ReferenceRun(parts[0], ppd)) ZTFuzzFail("the evaluator and the grammar disagree", messages);
  cupsFreeOptions(numOptions, options);

  ZTMarkedCode list;
  const int rc = ZTParseMarkedCodeString(parts[2].c_str(), &list);
  if (rc != 0 && (list.count != 0 || list.items)) ZTFuzzFail("a refused code left pairs in the list", parts[2]);
  if (rc != 0 && rc != -1) ZTFuzzFail("the parser returned neither 0 nor -1", parts[2]);
  for (int i = 0; i < list.count; ++i) {
    const ZTCodeInfo& item = list.items[i];
    if (!item.key || !item.value || strlen(item.key) > ZT_MARKED_CODE_MAX_ITEM ||
        strlen(item.value) > ZT_MARKED_CODE_MAX_ITEM || strchr(item.value, '/'))
      ZTFuzzFail("a pair breaks the limits of the marked-code parser", parts[2]);
    if (!ZTFindCodeValue(&list, item.key)) ZTFuzzFail("a parsed key cannot be found", parts[2]);
  }
  ZTFreeMarkedCode(&list);
  if (list.count != 0 || list.items) ZTFuzzFail("the freed list is not empty", parts[2]);
  return 0;
}

// Seeds: the sample model's own conditions and codes, and the grammar's
// corners (prefix operators, a short stack, tabs, long stacks).
int ZTFuzzWriteSeeds(const char* dir) {
  std::string deep;
  for (int i = 0; i < 40; ++i) deep += "True ";
  for (int i = 0; i < 39; ++i) deep += "a ";
  const std::string seeds[][3] = {
      {"$QKTrapping True eq $QKColorMode Color eq and", "QKTrapping=True", "<</CMYKLevel 3 /Gamma 2.2>>"},
      {"$QKTonerSaver True eq $QKThinInkPrint True eq $QKColorMode Color ne and or",
       "QKThinInkPrint=True QKColorMode=Black", "<<<< /A 1 /B 2"},
      {"$Duplex DuplexNoTumble eq $QKTurnPage True eq o", "Duplex=DuplexNoTumble", "no brackets /A 1"},
      {"eq True", "", "<< >>"},
      {"True\tTrue e", "QKSkip=True", "<</" + std::string(70, 'k') + " v>>"},
      {deep, "QKDigitalFilter=High", "<< /" + std::string(600, 'x') + ">>"},
      {"$Missing  False  ne", "Unknown=1", "<</A /B  2  />>"},
  };
  int n = 0;
  for (const auto& s : seeds) {
    const std::string bytes = s[0] + '\0' + s[1] + '\0' + s[2];
    const std::string path = std::string(dir) + "/seed-" + std::to_string(n++);
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return 1;
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
  }
  return 0;
}
