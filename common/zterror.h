// The line that tells a print-server administrator why a program failed:
//   ERROR: program: what: cause
// where the cause is the system's text for the error number (strerror), for
// example "ERROR: ztrotate: cannot write the spool file: No space left on
// device". Shared helpers print nothing; they keep or return the error
// number, and the program's own code prints this line, before any fixed
// message that the failure has as well.
#pragma once

#include <cstdio>
#include <cstring>

// errnum 0 (no system error behind the failure) leaves the cause out.
inline void ZTPrintCause(const char* program, const char* what, int errnum) {
  if (errnum != 0)
    fprintf(stderr, "ERROR: %s: %s: %s\n", program, what, strerror(errnum));
  else
    fprintf(stderr, "ERROR: %s: %s\n", program, what);
}
