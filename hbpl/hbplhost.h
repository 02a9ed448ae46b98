// The facts about the machine that the job header carries: the host name,
// its IPv4 address and the local time. They sit behind one table of function
// pointers so that tests can put fixed answers in place of the system's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

struct ZTHostHooks {
  // Writes the NUL-ended host name into name; 0, or -1 when it cannot be read
  // or does not fit into size bytes.
  int (*hostName)(char* name, size_t size);
  // The first IPv4 address of host name; 0, or -1 when there is none.
  int (*hostAddress)(const char* name, uint8_t address[4]);
  // The local time now; 0, or -1.
  int (*localTime)(struct tm* now);
};

// The hooks in force; they start as the system's own.
extern ZTHostHooks gZTHostHooks;
// The system's hooks, for putting them back.
extern const ZTHostHooks ZT_SYSTEM_HOST_HOOKS;

inline int GetZTHostName(char* name, size_t size) { return gZTHostHooks.hostName(name, size); }
inline int GetZTHostAddress(const char* name, uint8_t address[4]) { return gZTHostHooks.hostAddress(name, address); }
inline int GetZTLocalTime(struct tm* now) { return gZTHostHooks.localTime(now); }
