// The system-call table of the small system services (clock, console, beep).
#include "platform/sys/ServiceCalls.h"

#include <cerrno>
#include <unistd.h>

namespace tvsys {
namespace {

ServiceCalls RealServiceCalls() { return ServiceCalls{::clock_gettime, ::write, ::isatty}; }

ServiceCalls sTable = RealServiceCalls();

}  // namespace

ServiceCalls &Sys() { return sTable; }

void RestoreServiceCalls() { sTable = RealServiceCalls(); }

bool WriteAll(int fd, const char *buf, size_t count) {
  while (count > 0) {
    ssize_t n = sTable.write(fd, buf, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    buf += n;
    count -= size_t(n);
  }
  return true;
}

}  // namespace tvsys
