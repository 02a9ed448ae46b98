#include "ztdebug.h"

#include <cstdarg>
#include <cstdio>

void ztdebugstr(int level, const char* format, ...) {
#ifdef ZT_DEBUG_TRACE
  // All levels are written: the level only documents how chatty a line is.
  (void)level;
  va_list args;
  va_start(args, format);
  vfprintf(stderr, format, args);
  va_end(args);
#else
  (void)level;
  (void)format;
#endif
}
