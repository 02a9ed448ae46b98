#include "ztstring.h"

const char* SkipUntil(const char* s, char c) {
  if (!s) return nullptr;
  for (; *s; ++s) {
    if (*s == c) return s;
  }
  return nullptr;
}

const char* StrCpyUntil(char* dest, size_t destSize, const char* src, char c) {
  size_t n = 0;
  while (*src && *src != c && n + 1 < destSize) dest[n++] = *src++;
  if (destSize > 0) dest[n] = '\0';
  return src;
}
