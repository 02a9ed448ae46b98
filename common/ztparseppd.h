// Marked-code parser: the key/value pairs of the PostScript dictionary in a
// marked choice's code ("<< /Key value /Key2 value2 >>"), and a reader that
// takes an attribute value straight from a PPD file's text.
#pragma once

#include <cups/ppd.h>

#include <cstddef>

struct ZTCodeInfo {
  char* key;    // heap, owned by the list
  char* value;  // heap, owned by the list
};

struct ZTMarkedCode {
  int count = 0;
  ZTCodeInfo* items = nullptr;
};

constexpr size_t ZT_MARKED_CODE_MAX_BODY = 511;  // characters between the brackets
constexpr size_t ZT_MARKED_CODE_MAX_ITEM = 63;   // characters of a key or a value

// Appends the pairs of the marked choice of option (plain keyword) to list.
// 0 on success (also with no pairs); -1 when the option has no marked choice,
// the code holds no "<", the body or a key/value is too long, or memory runs
// out. After a failure the list is empty.
int ZTParseMarkedCode(ppd_file_t* ppd, const char* option, ZTMarkedCode* list);
// Parses a code string directly (the part of ZTParseMarkedCode after the
// choice lookup); same results.
int ZTParseMarkedCodeString(const char* code, ZTMarkedCode* list);
void ZTFreeMarkedCode(ZTMarkedCode* list);
// The value of key in list, or null.
const char* ZTFindCodeValue(const ZTMarkedCode* list, const char* key);

// Reads the value of the first "*keyword..." line of a PPD file's text into
// dest (at most size - 1 characters). 0 found, 1 no matching line (or no
// double quote on it), -1 the file cannot be opened.
int ZTGetPPDAttribute(const char* path, const char* keyword, char* dest, size_t size);
