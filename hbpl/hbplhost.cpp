#include "hbplhost.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <climits>

namespace {

int SystemHostName(char* name, size_t size) {
  if (!name || size == 0) return -1;
  // Read into a buffer larger than any host name, so that a name that does
  // not fit is told apart from one that does.
  char full[HOST_NAME_MAX + 2] = {};
  if (gethostname(full, sizeof full - 1) != 0) return -1;
  size_t len = strnlen(full, sizeof full);
  if (len == 0 || len >= size) return -1;
  memcpy(name, full, len + 1);
  return 0;
}

int SystemHostAddress(const char* name, uint8_t address[4]) {
  if (!name || !*name) return -1;
  struct hostent* host = gethostbyname(name);
  if (!host || host->h_addrtype != AF_INET || host->h_length != 4 || !host->h_addr_list ||
      !host->h_addr_list[0])
    return -1;
  memcpy(address, host->h_addr_list[0], 4);
  return 0;
}

int SystemLocalTime(struct tm* now) {
  time_t t = time(nullptr);
  return (t != static_cast<time_t>(-1) && localtime_r(&t, now)) ? 0 : -1;
}

}  // namespace

const ZTHostHooks ZT_SYSTEM_HOST_HOOKS = {SystemHostName, SystemHostAddress, SystemLocalTime};
ZTHostHooks gZTHostHooks = ZT_SYSTEM_HOST_HOOKS;
