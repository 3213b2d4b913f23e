#include "tests/support/Tarrovel.h"

#include <algorithm>
#include <regex>

namespace tv::test {

namespace {

RunResult RunTarrovel(const std::vector<std::string> &wrapper, const std::vector<std::string> &args,
                      const std::string &input, const std::vector<std::string> &env) {
  std::vector<std::string> argv = wrapper;
  argv.push_back(TV_TARROVEL_EXE);
  argv.insert(argv.end(), args.begin(), args.end());
  std::string bundleDir = TV_BUNDLE_DIR;
  std::vector<std::string> fullEnv = {"TARROVEL_PLUGIN_PATH=" + bundleDir.substr(0, bundleDir.rfind('/')),
                                      "LANGUAGE=", "LC_ALL=", "LC_MESSAGES=", "LANG=C.UTF-8"};
  fullEnv.insert(fullEnv.end(), env.begin(), env.end());
  return Run(argv, input, fullEnv);
}

}  // namespace

RunResult Tarrovel(const std::vector<std::string> &args, const std::string &input,
                   const std::vector<std::string> &env) {
  return RunTarrovel({}, args, input, env);
}

RunResult TarrovelUnder(const std::vector<std::string> &wrapper, const std::vector<std::string> &args,
                        const std::vector<std::string> &env) {
  return RunTarrovel(wrapper, args, "", env);
}

std::vector<std::string> JsonTitles(const std::string &json) {
  std::vector<std::string> titles;
  std::regex title("\"title\": \"((?:[^\"\\\\]|\\\\.)*)\"");
  for (auto it = std::sregex_iterator(json.begin(), json.end(), title); it != std::sregex_iterator(); ++it) {
    titles.push_back((*it)[1]);
  }
  return titles;
}

void WriteSettings(TempTree &tree, bool showDataFork, bool showRecursive, bool keepDate) {
  auto b = [](bool v) { return v ? "<true/>" : "<false/>"; };
  tree.file("home/.config/tarrovel/org.tarrovel.Tarrovel.plist",
            std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>") +
                "<key>ShowDataForkMenu</key>" + b(showDataFork) + "<key>ShowRsrcForkRecursiveMenu</key>" +
                b(showRecursive) + "<key>keepModificationDate</key>" + b(keepDate) + "</dict></plist>\n");
}

}  // namespace tv::test

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tv::test {

std::string StageTarrovel(TempTree &tree, std::vector<std::string> *env) {
  std::string stage = tree.folder("stage");
  std::string bin = std::string(TV_TARROVEL_EXE);
  std::string build = bin.substr(0, bin.rfind("/bin/"));
  std::string bundle = TV_BUNDLE_DIR;
  Run({"cp", bin, stage + "/tarrovel"});
  Run({"sh", "-c", "cp -P '" + build + "'/lib/tarrovel/libtarrovel-platform.so* '" + stage + "/'"});
  Run({"mkdir", "-p", stage + "/plugins"});
  Run({"cp", "-r", bundle, stage + "/plugins/"});
  Run({"chmod", "-R", "a+rX", stage});
  env->push_back("LD_LIBRARY_PATH=" + stage);
  env->push_back("TARROVEL_PLUGIN_PATH=" + stage + "/plugins");
  return stage + "/tarrovel";
}

Spawned::Spawned(const std::vector<std::string> &args, const std::vector<std::string> &env, bool holdInput) {
  int out[2], err[2], in[2] = {-1, -1};
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
  if (holdInput && pipe2(in, O_CLOEXEC) != 0) return;
  std::string bundleDir = TV_BUNDLE_DIR;
  pid_ = fork();
  if (pid_ == 0) {
    int input = holdInput ? in[0] : open("/dev/null", O_RDONLY);
    dup2(input, 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    setenv("TARROVEL_PLUGIN_PATH", bundleDir.substr(0, bundleDir.rfind('/')).c_str(), 1);
    setenv("LANG", "C.UTF-8", 1);
    unsetenv("LANGUAGE");
    unsetenv("LC_ALL");
    for (const auto &e : env) {
      auto eq = e.find('=');
      setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
    }
    std::vector<char *> argv = {const_cast<char *>(TV_TARROVEL_EXE)};
    for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  if (holdInput) {
    close(in[0]);
    inFd_ = in[1];
  }
  outFd_ = out[0];
  errFd_ = err[0];
}

Spawned::~Spawned() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    Wait();
  }
}

void Spawned::Pump(int timeoutMs) {
  pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
  if (poll(fds, 2, timeoutMs) <= 0) return;
  char buf[65536];
  for (int i = 0; i < 2; i++) {
    if (!(fds[i].revents & (POLLIN | POLLHUP))) continue;
    ssize_t n = read(fds[i].fd, buf, sizeof buf);
    if (n > 0) (i == 0 ? out : err).append(buf, size_t(n));
  }
}

bool Spawned::WaitForLines(size_t lines, int timeoutMs) {
  for (int waited = 0; waited < timeoutMs; waited += 5) {
    if (size_t(std::count(out.begin(), out.end(), '\n')) >= lines) return true;
    int st = 0;
    if (waitpid(pid_, &st, WNOHANG) == pid_) {
      exitStatus_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
      pid_ = -1;
      return false;
    }
    Pump(5);
  }
  return false;
}

bool Spawned::WaitForError(const std::string &text, int timeoutMs) {
  for (int waited = 0; waited < timeoutMs; waited += 5) {
    if (err.find(text) != std::string::npos) return true;
    int st = 0;
    if (pid_ > 0 && waitpid(pid_, &st, WNOHANG) == pid_) {
      exitStatus_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
      pid_ = -1;
      return false;
    }
    Pump(5);
  }
  return false;
}

void Spawned::Signal(int sig) {
  if (pid_ > 0) kill(pid_, sig);
}

int Spawned::Wait() {
  int status = exitStatus_;
  if (pid_ > 0) {
    for (;;) {
      Pump(10);
      int st = 0;
      pid_t r = waitpid(pid_, &st, WNOHANG);
      if (r == pid_) {
        status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        break;
      }
      if (r < 0 && errno != EINTR) break;
    }
    pid_ = -1;
  }
  for (;;) {  // whatever is left in the pipes
    char buf[65536];
    ssize_t n = outFd_ >= 0 ? read(outFd_, buf, sizeof buf) : 0;
    if (n > 0) { out.append(buf, size_t(n)); continue; }
    ssize_t m = errFd_ >= 0 ? read(errFd_, buf, sizeof buf) : 0;
    if (m > 0) { err.append(buf, size_t(m)); continue; }
    break;
  }
  if (outFd_ >= 0) close(outFd_);
  if (errFd_ >= 0) close(errFd_);
  if (inFd_ >= 0) close(inFd_);
  outFd_ = errFd_ = inFd_ = -1;
  return status;
}

}  // namespace tv::test
