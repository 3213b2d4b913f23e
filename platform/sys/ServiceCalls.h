// The few system calls of the small system services, reached through a table
// so that a test can make them fail or return short. Only this folder and its
// tests use it.
#pragma once

#include <cstddef>
#include <sys/types.h>
#include <time.h>

namespace tvsys {

struct ServiceCalls {
  int (*clockGettime)(clockid_t clock, struct timespec *ts);
  ssize_t (*write)(int fd, const void *buf, size_t count);
  int (*isatty)(int fd);
};

// The table in use; tests replace entries and put the real ones back with
// RestoreServiceCalls().
ServiceCalls &Sys();
void RestoreServiceCalls();

// Writes all of buf to fd, retrying after EINTR and short writes. False when
// the descriptor refuses the rest (the caller has nowhere to report it).
bool WriteAll(int fd, const char *buf, size_t count);

}  // namespace tvsys
