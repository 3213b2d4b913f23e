#include "tests/support/TestSupport.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

extern char **environ;

namespace tv::test {
namespace fs = std::filesystem;

static void Fail(const std::string &what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

TempTree::TempTree() {
  char tmpl[] = "/tmp/tarrovel-test-XXXXXX";
  if (!mkdtemp(tmpl)) Fail("mkdtemp");
  root_ = tmpl;
  ::chmod(root_.c_str(), 0755);
  folder("home");
  folder("home/.config");
  folder("home/.local/share");
  // The programs a test runs keep their temporaries in the tree too (one
  // killed by the test leaves them there); any user may write there, as in /tmp.
  folder("tmp");
  ::chmod(path("tmp").c_str(), 01777);
  for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "TMPDIR"}) {
    const char *v = getenv(name);
    savedEnv_[name] = v ? std::string("=") + v : std::string();
  }
  setenv("HOME", home().c_str(), 1);
  setenv("XDG_CONFIG_HOME", path("home/.config").c_str(), 1);
  setenv("XDG_DATA_HOME", path("home/.local/share").c_str(), 1);
  setenv("TMPDIR", path("tmp").c_str(), 1);
}

TempTree::~TempTree() {
  for (const auto &rel : immutable_) {
    std::string cmd = "chattr -i -a '" + path(rel) + "' 2>/dev/null";
    if (system(cmd.c_str()) != 0) {
    }
  }
  std::error_code ec;
  // Give back search and read access that a test took away, then remove.
  for (auto it = fs::recursive_directory_iterator(root_, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) ::chmod(it->path().c_str(), 0755);
  }
  std::string cmd = "chmod -R u+rwx '" + root_ + "' 2>/dev/null; rm -rf '" + root_ + "'";
  if (system(cmd.c_str()) != 0) {
  }
  for (const auto &[name, v] : savedEnv_) {
    if (v.empty()) unsetenv(name.c_str());
    else setenv(name.c_str(), v.c_str() + 1, 1);
  }
}

std::string TempTree::path(const std::string &rel) const { return rel.empty() ? root_ : root_ + "/" + rel; }

std::string TempTree::file(const std::string &rel, const std::string &content) {
  std::string p = path(rel);
  fs::create_directories(fs::path(p).parent_path());
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  if (!f) Fail("create " + p);
  f.write(content.data(), std::streamsize(content.size()));
  return p;
}

std::string TempTree::folder(const std::string &rel) {
  std::string p = path(rel);
  fs::create_directories(p);
  return p;
}

std::string TempTree::symlink(const std::string &rel, const std::string &target) {
  std::string p = path(rel);
  fs::create_directories(fs::path(p).parent_path());
  if (::symlink(target.c_str(), p.c_str()) != 0) Fail("symlink " + p);
  return p;
}

void TempTree::setXattr(const std::string &rel, const std::string &name, const std::string &value) {
  if (lsetxattr(path(rel).c_str(), name.c_str(), value.data(), value.size(), 0) != 0)
    Fail("setxattr " + name);
}

std::string TempTree::getXattr(const std::string &rel, const std::string &name, bool *exists) const {
  std::string buf(65536, '\0');
  ssize_t n = lgetxattr(path(rel).c_str(), name.c_str(), buf.data(), buf.size());
  if (exists) *exists = n >= 0;
  if (n < 0) return {};
  buf.resize(size_t(n));
  return buf;
}

std::string TempTree::read(const std::string &rel) const {
  std::ifstream f(path(rel), std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

bool TempTree::exists(const std::string &rel) const {
  struct stat st;
  return lstat(path(rel).c_str(), &st) == 0;
}

void TempTree::chmod(const std::string &rel, unsigned mode) {
  if (::chmod(path(rel).c_str(), mode) != 0) Fail("chmod");
}

void TempTree::setImmutable(const std::string &rel, bool on) {
  std::string cmd = std::string("chattr ") + (on ? "+i" : "-i") + " '" + path(rel) + "'";
  if (system(cmd.c_str()) != 0) throw std::runtime_error("chattr failed: " + cmd);
  if (on) immutable_.push_back(rel);
}

static std::string Drain(int fd) {
  std::string s;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) s.append(buf, size_t(n));
    else if (n < 0 && errno == EINTR) continue;
    else break;
  }
  return s;
}

static RunResult RunWith(const std::vector<std::string> &argv, const std::string &input,
                         const std::vector<std::string> &env) {
  RunResult r;
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) Fail("pipe");
  // A command that exits before reading all its input must not take the test
  // down with SIGPIPE; the command itself keeps the default disposition.
  signal(SIGPIPE, SIG_IGN);
  pid_t pid = fork();
  if (pid < 0) Fail("fork");
  if (pid == 0) {
    signal(SIGPIPE, SIG_DFL);
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (const auto &e : env) {
      auto eq = e.find('=');
      setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
    }
    std::vector<char *> args;
    for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  // Feed input and read both outputs without deadlocking on full pipes.
  size_t written = 0;
  bool inOpen = true;
  if (input.empty()) { close(in[1]); inOpen = false; }
  bool outOpen = true, errOpen = true;
  while (outOpen || errOpen) {
    pollfd fds[3];
    int n = 0;
    if (outOpen) fds[n++] = {out[0], POLLIN, 0};
    if (errOpen) fds[n++] = {err[0], POLLIN, 0};
    if (inOpen) fds[n++] = {in[1], POLLOUT, 0};
    if (poll(fds, nfds_t(n), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < n; i++) {
      if (!fds[i].revents) continue;
      if (fds[i].fd == in[1]) {
        ssize_t w = write(in[1], input.data() + written, input.size() - written);
        if (w > 0) written += size_t(w);
        if (w < 0 || written == input.size()) { close(in[1]); inOpen = false; }
        continue;
      }
      char buf[65536];
      ssize_t got = ::read(fds[i].fd, buf, sizeof buf);
      if (got > 0) {
        (fds[i].fd == out[0] ? r.out : r.err).append(buf, size_t(got));
      } else if (got == 0 || errno != EINTR) {
        if (fds[i].fd == out[0]) outOpen = false; else errOpen = false;
      }
    }
  }
  if (inOpen) close(in[1]);
  r.out += Drain(out[0]);
  r.err += Drain(err[0]);
  close(out[0]);
  close(err[0]);
  int st = 0;
  while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
  }
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return r;
}

RunResult Run(const std::vector<std::string> &argv, const std::string &input,
              const std::vector<std::string> &env) {
  return RunWith(argv, input, env);
}

RunResult RunUnprivileged(const std::vector<std::string> &argv, const std::string &input,
                          const std::vector<std::string> &env) {
  std::vector<std::string> full = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
  full.insert(full.end(), argv.begin(), argv.end());
  return RunWith(full, input, env);
}

std::string StatusName(int32_t status) {
  static const std::map<int32_t, const char *> names = {
      {0, "noErr"}, {-34, "dskFulErr"}, {-35, "nsvErr"}, {-36, "ioErr"}, {-37, "bdNamErr"},
      {-39, "eofErr"}, {-43, "fnfErr"}, {-44, "wPrErr"}, {-45, "fLckdErr"}, {-48, "dupFNErr"},
      {-50, "paramErr"}, {-51, "rfNumErr"}, {-54, "permErr"}, {-61, "wrPermErr"},
      {-108, "memFullErr"}, {-120, "dirNFErr"}, {-123, "diffVolErr"}, {-128, "userCanceledErr"},
      {-600, "procNotFound"}, {-1302, "notAFileErr"}, {-1417, "errFSNoMoreItems"},
      {-1420, "errFSRefsDifferent"}, {-1700, "errAECoercionFail"}, {-1701, "errAEDescNotFound"},
      {-1719, "errAEIllegalIndex"}, {-5000, "afpAccessDenied"}, {-5551, "gestaltUndefSelectorErr"},
      {0x4E696C50, "nilPointerErr"}, {0x4E426570, "noBeepErr"}, {0x544D4F56, "timeOverErr"},
      {int32_t(0x80000004u), "E_NOINTERFACE"}};
  auto it = names.find(status);
  std::string num = std::to_string(status);
  return it == names.end() ? num : std::string(it->second) + " (" + num + ")";
}

}  // namespace tv::test

#include <dlfcn.h>

namespace tv::test {
void *OpenBundleFactory(const std::string &bundleDir, const char *symbol, std::string *why) {
  std::string exe = bundleDir + "/Contents/MacOS/Tarrovel";
  void *lib = dlopen(exe.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) {
    *why = dlerror();
    return nullptr;
  }
  void *fn = dlsym(lib, symbol);
  if (fn == nullptr) *why = std::string("no symbol ") + symbol;
  return fn;
}
}  // namespace tv::test

#include <grp.h>

namespace tv::test {
int InChildAsNobody(const std::function<int()> &fn) {
  fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0) {
      _exit(254);
    }
    _exit(fn() & 0xFF);
  }
  int st = 0;
  while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}
}  // namespace tv::test

namespace tv::test {
bool IsRoot() { return geteuid() == 0; }

void SleepMs(int ms) { usleep(useconds_t(ms) * 1000); }

bool StatOf(const std::string &path, long long *mtimeSeconds, long long *size) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return false;
  if (mtimeSeconds) *mtimeSeconds = st.st_mtim.tv_sec;
  if (size) *size = st.st_size;
  return true;
}
}  // namespace tv::test
