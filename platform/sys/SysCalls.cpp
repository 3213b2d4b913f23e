// The system-call table of the small system services (clock, console, beep).
#include "platform/sys/SysCalls.h"

#include <cerrno>
#include <unistd.h>

namespace tvsys {
namespace {

SysCalls RealSysCalls() { return SysCalls{::clock_gettime, ::write, ::isatty}; }

SysCalls sTable = RealSysCalls();

}  // namespace

SysCalls &Sys() { return sTable; }

void RestoreSysCalls() { sTable = RealSysCalls(); }

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
