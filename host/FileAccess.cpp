#include "host/FileAccess.h"

#include "platform/sys/CallTable.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace tv::host {

namespace {

std::string Errno(const std::string &path) { return path + ": " + strerror(errno); }

}  // namespace

std::string Dirname(const std::string &path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash == 0 ? 1 : slash);
}

bool ReadFile(const std::string &path, std::string *content, std::string *error) {
  int fd = tv::sys::Openat(AT_FDCWD, path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = Errno(path);
    return false;
  }
  content->clear();
  char buf[65536];
  ssize_t n;
  while ((n = tv::sys::Read(fd, buf, sizeof buf)) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = Errno(path);
      tv::sys::Close(fd);
      return false;
    }
    content->append(buf, size_t(n));
  }
  tv::sys::Close(fd);
  return true;
}

bool Exists(const std::string &path) {
  struct stat st;
  return tv::sys::Fstatat(AT_FDCWD, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

std::string Realpath(const std::string &path) {
  char *r = realpath(path.c_str(), nullptr);
  std::string out = r ? r : "";
  free(r);
  return out;
}

}  // namespace tv::host
