// Child processes for tests that must die at a moment of the test's
// choosing: started with fork, ended with SIGKILL.
#pragma once

#include <functional>

namespace tv::test {

// Runs fn in a forked child whose exit status is what fn returns (0..255).
// Returns the child's process id, or -1 when it could not be started.
long StartChild(const std::function<int()> &fn);

// Kills the child with SIGKILL (if it is still running) and reaps it.
// Returns true when the signal ended it, false when it had finished before.
bool KillChild(long pid);

// Waits for the child: its exit status, or -1 when a signal ended it.
int WaitChild(long pid);

}  // namespace tv::test
