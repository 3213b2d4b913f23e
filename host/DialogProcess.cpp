#include "host/DialogProcess.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tv::host {

namespace {

// The children running now, for the signal handler: a fixed table of
// lock-free slots (0 = free), since the handler may neither lock nor allocate.
constexpr int kMaxChildren = 16;
std::atomic<int> sChildren[kMaxChildren];

void Remember(int pid) {
  for (auto &slot : sChildren) {
    int none = 0;
    if (slot.compare_exchange_strong(none, pid)) return;
  }
}

void Forget(int pid) {
  for (auto &slot : sChildren) {
    int expected = pid;
    if (slot.compare_exchange_strong(expected, 0)) return;
  }
}

// argv for execv, built before fork: the child only makes async-signal-safe calls.
std::vector<char *> ArgvOf(const std::string &path, const std::vector<std::string> &args) {
  std::vector<char *> argv = {const_cast<char *>(path.c_str())};
  for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}

void CloseBoth(int fds[2]) {
  if (fds[0] >= 0) close(fds[0]);
  if (fds[1] >= 0) close(fds[1]);
}

int StatusOf(int st) { return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st); }

}  // namespace

namespace {

bool Start(const std::string &path, const std::vector<std::string> &args, int inputFd, bool captureOutput,
           bool endWithCommand, ChildProcess *out) {
  *out = ChildProcess();
  std::vector<char *> argv = ArgvOf(path, args);
  int outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1};
  if ((captureOutput && pipe2(outPipe, O_CLOEXEC) != 0) || pipe2(errPipe, O_CLOEXEC) != 0) {
    CloseBoth(outPipe);
    CloseBoth(errPipe);
    return false;
  }
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid == 0) {
    // Ended with the thread that started it, which lives as long as the
    // dialog is wanted; a parent already gone before this line is seen too.
    if (endWithCommand) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(127);
    }
    // A child forked by a thread that blocks signals would keep them blocked through exec.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    int null = open("/dev/null", O_RDWR);
    dup2(inputFd >= 0 ? inputFd : null, STDIN_FILENO);
    dup2(captureOutput ? outPipe[1] : null, STDOUT_FILENO);
    dup2(errPipe[1], STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (captureOutput) close(outPipe[1]);
  close(errPipe[1]);
  if (pid < 0) {
    if (captureOutput) close(outPipe[0]);
    close(errPipe[0]);
    return false;
  }
  if (endWithCommand) Remember(pid);
  out->pid = pid;
  out->output = captureOutput ? outPipe[0] : -1;
  out->error = errPipe[0];
  return true;
}

}  // namespace

bool StartChild(const std::string &path, const std::vector<std::string> &args, int inputFd, bool captureOutput,
                ChildProcess *out) {
  return Start(path, args, inputFd, captureOutput, true, out);
}

bool EndWithCommand(int pid, Watcher *out) {
  *out = Watcher();
  Remember(pid);
  out->watched = pid;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  // The watcher outlives the command by design: it reads until the command's
  // end (or StopWatcher) closes its input, then ends the process.
  ChildProcess watcher;
  bool started = Start("/bin/sh", {"-c", "read -r _; kill \"$1\" 2>/dev/null", "sh", std::to_string(pid)}, fds[0],
                       false, false, &watcher);
  close(fds[0]);
  if (!started) {
    close(fds[1]);
    return false;
  }
  close(watcher.error);
  out->pid = watcher.pid;
  out->input = fds[1];
  return true;
}

void StopWatcher(Watcher *watcher) {
  if (watcher->watched > 0) Forget(watcher->watched);
  if (watcher->input >= 0) close(watcher->input);
  if (watcher->pid > 0) WaitChild(watcher->pid);
  *watcher = Watcher();
}

int WaitChild(int pid) {
  int st = 0;
  while (waitpid(pid, &st, 0) < 0) {
    if (errno != EINTR) {
      Forget(pid);
      return 127;
    }
  }
  Forget(pid);
  return StatusOf(st);
}

bool ChildEnded(int pid, int *status) {
  int st = 0;
  if (waitpid(pid, &st, WNOHANG) != pid) return false;
  Forget(pid);
  *status = StatusOf(st);
  return true;
}

bool ReadAvailable(int fd, std::string *into) {
  const size_t kKeep = 4096;
  for (;;) {
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0) return true;
    char buf[512];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    into->append(buf, size_t(n));
    if (into->size() > kKeep) into->erase(0, into->size() - kKeep);
  }
}

int RunChild(const std::string &path, const std::vector<std::string> &args, std::string *output,
             std::string *error, bool *interrupted) {
  *interrupted = false;
  ChildProcess child;
  if (!StartChild(path, args, -1, true, &child)) return 127;
  std::string said, complained;
  bool outOpen = true, errOpen = true;
  while (outOpen || errOpen) {
    pollfd p[2] = {{outOpen ? child.output : -1, POLLIN, 0}, {errOpen ? child.error : -1, POLLIN, 0}};
    if (poll(p, 2, -1) < 0) {
      if (errno != EINTR) break;
      // Ctrl-C (the handler has marked the cancel keys), as on a terminal,
      // answers the dialog with its cancel button: the dialog goes.
      kill(child.pid, SIGTERM);
      *interrupted = true;
      continue;
    }
    if (outOpen && p[0].revents != 0) outOpen = ReadAvailable(child.output, &said);
    if (errOpen && p[1].revents != 0) errOpen = ReadAvailable(child.error, &complained);
  }
  close(child.output);
  close(child.error);
  if (output != nullptr) *output = said;
  if (error != nullptr) *error = complained;
  return WaitChild(child.pid);
}

void EndChildrenNow() {
  for (auto &slot : sChildren) {
    int pid = slot.load();
    if (pid > 0) kill(pid, SIGKILL);
  }
}

}  // namespace tv::host
