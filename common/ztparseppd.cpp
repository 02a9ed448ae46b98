#include "ztparseppd.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ztstring.h"

void ZTFreeMarkedCode(ZTMarkedCode* list) {
  if (!list) return;
  for (int i = 0; i < list->count; ++i) {
    free(list->items[i].key);
    free(list->items[i].value);
  }
  free(list->items);
  list->items = nullptr;
  list->count = 0;
}

// Appends one pair as fresh heap copies; the array grows by one entry.
static int ZTAddCodeInfo(ZTMarkedCode* list, const char* key, const char* value) {
  char* k = strdup(key);
  char* v = strdup(value);
  auto* items = static_cast<ZTCodeInfo*>(realloc(list->items, sizeof(ZTCodeInfo) * (list->count + 1)));
  if (!k || !v || !items) {
    free(k);
    free(v);
    if (items) list->items = items;
    return -1;
  }
  list->items = items;
  list->items[list->count].key = k;
  list->items[list->count].value = v;
  ++list->count;
  return 0;
}

int ZTParseMarkedCodeString(const char* code, ZTMarkedCode* list) {
  if (!code || !list) return -1;
  const char* open = SkipUntil(code, '<');
  if (!open) return -1;
  const char* start = open;
  while (*start == '<') ++start;
  const char* close = SkipUntil(start, '>');
  const size_t bodyLen = close ? static_cast<size_t>(close - start) : strlen(start);
  if (bodyLen > ZT_MARKED_CODE_MAX_BODY) {
    fprintf(stderr, "WARNING: Code Length (%d) exceeds limit.\n", static_cast<int>(bodyLen));
    ZTFreeMarkedCode(list);
    return -1;
  }
  const std::string body(start, bodyLen);
  const char* p = body.c_str();
  const char* end = p + body.size();
  while (p < end) {
    const char* slash = SkipUntil(p, '/');
    if (!slash) break;
    const char* keyStart = slash + 1;
    const char* keyEnd = keyStart;
    while (keyEnd < end && *keyEnd != ' ') ++keyEnd;
    const char* valueStart = keyEnd;
    while (valueStart < end && *valueStart == ' ') ++valueStart;
    const char* valueEnd = SkipUntil(valueStart, '/');
    if (!valueEnd) valueEnd = end;
    const size_t keyLen = static_cast<size_t>(keyEnd - keyStart);
    const size_t valueLen = static_cast<size_t>(valueEnd - valueStart);
    // Longer items are refused rather than cut: a cut value could silently
    // change a number.
    if (keyLen > ZT_MARKED_CODE_MAX_ITEM || valueLen > ZT_MARKED_CODE_MAX_ITEM) {
      ZTFreeMarkedCode(list);
      return -1;
    }
    char key[ZT_MARKED_CODE_MAX_ITEM + 1];
    char value[ZT_MARKED_CODE_MAX_ITEM + 1];
    memcpy(key, keyStart, keyLen);
    key[keyLen] = '\0';
    memcpy(value, valueStart, valueLen);
    value[valueLen] = '\0';
    if (ZTAddCodeInfo(list, key, value) != 0) {
      ZTFreeMarkedCode(list);
      fputs("WARNING: An error in ZTAddCodeInfo.\n", stderr);
      return -1;
    }
    p = valueEnd;
  }
  return 0;
}

int ZTParseMarkedCode(ppd_file_t* ppd, const char* option, ZTMarkedCode* list) {
  if (!ppd || !option || !list) return -1;
  ppd_choice_t* choice = ppdFindMarkedChoice(ppd, option);
  if (!choice || !choice->code) return -1;
  return ZTParseMarkedCodeString(choice->code, list);
}

const char* ZTFindCodeValue(const ZTMarkedCode* list, const char* key) {
  for (int i = 0; list && i < list->count; ++i) {
    if (strcmp(list->items[i].key, key) == 0) return list->items[i].value;
  }
  return nullptr;
}

int ZTGetPPDAttribute(const char* path, const char* keyword, char* dest, size_t size) {
  FILE* fp = path ? fopen(path, "r") : nullptr;
  if (!fp) return -1;
  char line[2048];
  const size_t kwLen = strlen(keyword);
  int result = 1;
  while (fgets(line, sizeof line, fp)) {
    if (line[0] == '\0' || strncmp(line + 1, keyword, kwLen) != 0) continue;
    const char* quote = SkipUntil(line, '"');
    if (!quote) break;  // a matching line without a value: not found
    StrCpyUntil(dest, size, quote + 1, '"');
    result = 0;
    break;
  }
  fclose(fp);
  return result;
}
