// File operations of the CoreFoundation subset, through the system-call table.
// Only generic POSIX code goes here.
#include "platform/cf/CFFileIO.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

#include "platform/sys/CallTable.h"
#include "platform/sys/FileReplacement.h"

namespace sys = tv::sys;

namespace tv::cf {
namespace {

// Closes fd when it goes.
struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) sys::Close(fd);
  }
};

}  // namespace

std::string ErrorText(int err) { return std::strerror(err); }

ReadResult ReadWholeFile(const std::string &path, std::string *out, size_t maxBytes) {
  Fd f;
  // Non-blocking, so that a FIFO in its place cannot hang the process.
  f.fd = sys::Openat(AT_FDCWD, path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (f.fd < 0) return errno == ENOENT || errno == ENOTDIR ? ReadResult::kMissing : ReadResult::kFailed;
  struct stat st;
  if (sys::Fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode)) return ReadResult::kFailed;
  std::string data;
  char buf[16384];
  for (;;) {
    const ssize_t n = sys::PreadAll(f.fd, buf, sizeof buf, data.size());
    if (n < 0) return ReadResult::kFailed;
    if (n == 0) break;
    if (data.size() + size_t(n) > maxBytes) return ReadResult::kFailed;
    data.append(buf, size_t(n));
  }
  *out = std::move(data);
  return ReadResult::kOK;
}

int WriteFileAtomically(const std::string &path, const std::string &content) {
  return sys::ReplaceFile(AT_FDCWD, path, content.data(), content.size(), nullptr).err;
}

int RenameFile(const std::string &from, const std::string &to) {
  return sys::Renameat(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str()) == 0 ? 0 : errno;
}

int MakeFolders(const std::string &folder) {
  if (folder.empty()) return ENOENT;
  struct stat st;
  if (sys::Fstatat(AT_FDCWD, folder.c_str(), &st, 0) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  const size_t slash = folder.find_last_of('/');
  if (slash != std::string::npos && slash > 0) {
    const int err = MakeFolders(folder.substr(0, slash));
    if (err != 0) return err;
  }
  if (sys::Mkdirat(AT_FDCWD, folder.c_str(), 0700) != 0 && errno != EEXIST) return errno;
  return 0;
}

}  // namespace tv::cf
