#include "tests/support/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

namespace tv::test {

long StartChild(const std::function<int()> &fn) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) _exit(fn() & 0xFF);
  return pid;
}

int WaitChild(long pid) {
  int status = 0;
  while (waitpid(pid_t(pid), &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool KillChild(long pid) {
  kill(pid_t(pid), SIGKILL);
  int status = 0;
  while (waitpid(pid_t(pid), &status, 0) < 0)
    if (errno != EINTR) return false;
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

}  // namespace tv::test
