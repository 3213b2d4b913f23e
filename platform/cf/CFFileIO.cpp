// File operations of the CoreFoundation subset, through the system-call table.
// Only generic POSIX code goes here.
#include "platform/cf/CFFileIO.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tvcf {
namespace {

int SysOpen(const char *path, int flags, unsigned mode) { return ::open(path, flags, mode_t(mode)); }
long SysRead(int fd, void *buf, unsigned long n) { return ::read(fd, buf, n); }
long SysWrite(int fd, const void *buf, unsigned long n) { return ::write(fd, buf, n); }
int SysFsync(int fd) { return ::fsync(fd); }
int SysClose(int fd) { return ::close(fd); }
int SysRename(const char *from, const char *to) { return ::rename(from, to); }
int SysMkdir(const char *path, unsigned mode) { return ::mkdir(path, mode_t(mode)); }
int SysUnlink(const char *path) { return ::unlink(path); }
int SysMkstemp(char *pathTemplate) { return ::mkostemp(pathTemplate, O_CLOEXEC); }

// Closes fd when it goes.
struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) Calls().close(fd);
  }
};

}  // namespace

FileCalls &Calls() {
  static FileCalls calls = {SysOpen, SysRead,  SysWrite,  SysFsync, SysClose,
                            SysRename, SysMkdir, SysUnlink, SysMkstemp};
  return calls;
}

std::string ErrorText(int err) { return std::strerror(err); }

ReadResult ReadWholeFile(const std::string &path, std::string *out, size_t maxBytes) {
  Fd f;
  // Non-blocking, so that a FIFO in its place cannot hang the process.
  f.fd = Calls().open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0);
  if (f.fd < 0) return errno == ENOENT || errno == ENOTDIR ? ReadResult::kMissing : ReadResult::kFailed;
  struct stat st;
  if (::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode)) return ReadResult::kFailed;
  std::string data;
  char buf[16384];
  for (;;) {
    const long n = Calls().read(f.fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ReadResult::kFailed;
    if (n == 0) break;
    if (data.size() + size_t(n) > maxBytes) return ReadResult::kFailed;
    data.append(buf, size_t(n));
  }
  *out = std::move(data);
  return ReadResult::kOK;
}

int WriteFileAtomically(const std::string &path, const std::string &content) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  // A hidden name, so that nothing mistakes a half-written file for the real one.
  std::string temp = folder + "/." + name + ".XXXXXX";
  int result = 0;
  Fd f;
  f.fd = Calls().mkstemp(temp.data());
  if (f.fd < 0) return errno;
  for (size_t done = 0; done < content.size() && result == 0;) {
    const long n = Calls().write(f.fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) result = errno;
    else if (n == 0) result = EIO;
    else done += size_t(n);
  }
  if (result == 0 && Calls().fsync(f.fd) != 0) result = errno;
  if (result == 0) {
    const int fd = f.fd;
    f.fd = -1;
    if (Calls().close(fd) != 0) result = errno;
  }
  if (result == 0 && Calls().rename(temp.c_str(), path.c_str()) != 0) result = errno;
  if (result != 0) {
    Calls().unlink(temp.c_str());
    return result;
  }
  // Make the rename itself durable; a failure here loses nothing already written.
  Fd dir;
  dir.fd = Calls().open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (dir.fd >= 0) Calls().fsync(dir.fd);
  return 0;
}

int MakeFolders(const std::string &folder) {
  if (folder.empty()) return ENOENT;
  struct stat st;
  if (::stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  const size_t slash = folder.find_last_of('/');
  if (slash != std::string::npos && slash > 0) {
    const int err = MakeFolders(folder.substr(0, slash));
    if (err != 0) return err;
  }
  if (Calls().mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return errno;
  return 0;
}

}  // namespace tvcf
