// Two small string helpers of the marked-code parser.
#pragma once

#include <cstddef>

// The first occurrence of c in s, or null when s ends first.
const char* SkipUntil(const char* s, char c);
// Copies src up to (not including) the first c or its end into dest (at most
// destSize - 1 characters, always NUL-ended when destSize > 0) and returns the
// position in src where copying stopped: at c, at the terminating NUL, or at
// the first character that did not fit.
const char* StrCpyUntil(char* dest, size_t destSize, const char* src, char c);
