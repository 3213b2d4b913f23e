// Every system call of the platform (the File Manager, the fork stores,
// CoreFoundation's files, the console and the clock), reached through one
// table so that tests can make any of them fail and count how often each one
// runs.
//
// Every wrapper behaves like the call it wraps (-1 and errno on failure). A
// test arms a fault with FailCall(call, n, err): the n-th call of that kind
// from now on fails with err without reaching the kernel (every later call
// too when `persistent`). A test that needs results the kernel gives only by
// chance (a change time that did not move) puts its own function in a call's
// place with SubstituteCalls. CallCount reports how many calls of a kind ran
// (or were failed) since ResetCallCounts. The hooks are for tests only; the
// library never arms a fault or substitutes a call itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/types.h>
#include <time.h>

namespace tv::sys {

// One per row of Calls.def.
enum class Call : unsigned {
#define TV_SYSCALL(slot, ...) slot,
#include "platform/sys/Calls.def"
  count_
};
constexpr unsigned kCallCount = unsigned(Call::count_);
const char *CallName(Call call);

// ---- Wrappers ----------------------------------------------------------------

// Each as the row of Calls.def describes it.
#define TV_SYSCALL(slot, Wrapper, real, Result, failure, params, args) Result Wrapper params;
#include "platform/sys/Calls.def"
inline int Openat(int dirFd, const char *path, int flags) { return Openat(dirFd, path, flags, 0); }

// ---- Whole transfers ---------------------------------------------------------
// Each retries after EINTR and a short transfer, through the wrappers above.

// Reads `size` bytes at `offset`: the count read (fewer only at the end of
// the file) or -1 and errno.
ssize_t PreadAll(int fd, void *buf, size_t size, uint64_t offset);
// Writes all of buf (at `offset`); 0, or -1 and errno. A write that
// accepts nothing fails with EIO rather than looping.
int WriteAll(int fd, const void *buf, size_t size);
int PwriteAll(int fd, const void *buf, size_t size, uint64_t offset);

// ---- Test hooks --------------------------------------------------------------

// The functions behind the wrappers, a slot of its own type for each Call,
// filled by name.
struct CallTable {
#define TV_SYSCALL(slot, Wrapper, real, Result, failure, params, args) Result(*slot) params;
#include "platform/sys/Calls.def"
};
// The kernel's calls.
const CallTable &RealCalls();
// From now on the wrappers call these (start from a copy of RealCalls() and
// replace what the test needs); faults still come first.
void SubstituteCalls(const CallTable &calls);
void ClearSubstitutes();
// The table the wrappers call now.
const CallTable &ActiveCalls();
// Puts `fake` in the place of one call, keeping the substitutes in place.
template <class F>
void SubstituteCall(F CallTable::*call, F fake) {
  CallTable calls = ActiveCalls();
  calls.*call = fake;
  SubstituteCalls(calls);
}

// Puts the real calls back when it goes out of scope.
struct SubstituteScope {
  explicit SubstituteScope(const CallTable &calls) { SubstituteCalls(calls); }
  SubstituteScope(const SubstituteScope &) = delete;
  SubstituteScope &operator=(const SubstituteScope &) = delete;
  ~SubstituteScope() { ClearSubstitutes(); }
};

// The n-th call (n >= 1) of `call` from now fails with err; with persistent,
// that call and every later one do. Replaces an earlier fault of that call.
void FailCall(Call call, unsigned n, int err, bool persistent = false);
void ClearFaults();
uint64_t CallCount(Call call);
void ResetCallCounts();

// Clears the faults when it goes out of scope, so that a failing test
// cannot leave one armed for the next.
struct FaultScope {
  FaultScope() = default;
  FaultScope(const FaultScope &) = delete;
  FaultScope &operator=(const FaultScope &) = delete;
  ~FaultScope() { ClearFaults(); }
};

}  // namespace tv::sys
