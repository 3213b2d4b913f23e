// Refs and paths for the File Manager's tests and those above it, and a
// child process as the unprivileged user.
#pragma once

#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <signal.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/Files.h"
#include "tests/support/TestSupport.h"

namespace tv::test {

// Runs fn in a forked child as the unprivileged user 65534 and returns what
// it returned, or "child failed" when the child could not change users or
// died. fn must only touch what that user can reach.
inline std::string AsNobody(const std::function<std::string()> &fn) {
  int fds[2];
  if (pipe(fds) != 0) return "pipe failed";
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    std::string out = "child failed";
    if (setgroups(0, nullptr) == 0 && setresgid(65534, 65534, 65534) == 0 && setresuid(65534, 65534, 65534) == 0)
      out = fn();
    ssize_t n = write(fds[1], out.data(), out.size());
    _exit(n == ssize_t(out.size()) ? 0 : 1);
  }
  close(fds[1]);
  std::string result;
  char buf[4096];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) result.append(buf, size_t(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child failed";
  return result;
}

inline FSRef RefFor(const std::string &path, OSStatus *status = nullptr, Boolean *isDir = nullptr) {
  FSRef ref{};
  OSStatus s = FSPathMakeRef(reinterpret_cast<const UInt8 *>(path.c_str()), &ref, isDir);
  if (status) *status = s;
  return ref;
}

inline std::string PathOf(const FSRef &ref, OSStatus *status = nullptr) {
  std::string buf(4096, '\0');
  OSStatus s = FSRefMakePath(&ref, reinterpret_cast<UInt8 *>(buf.data()), UInt32(buf.size()));
  if (s == errFSBadBuffer) {
    buf.assign(70000, '\0');
    s = FSRefMakePath(&ref, reinterpret_cast<UInt8 *>(buf.data()), UInt32(buf.size()));
  }
  if (status) *status = s;
  return s == noErr ? std::string(buf.c_str()) : std::string();
}
inline std::string PathOf(const FSRef *ref) { return PathOf(*ref); }

// The refs of a folder's first 16 entries, as its listing made them (they
// carry what the listing saw); none when it cannot be listed.
inline std::vector<FSRef> ListedRefs(const std::string &folder) {
  FSRef ref = RefFor(folder);
  FSIterator it = nullptr;
  std::vector<FSRef> refs(16);
  ItemCount n = 0;
  if (FSOpenIterator(&ref, kFSIterateFlat, &it) != noErr) return {};
  FSGetCatalogInfoBulk(it, 16, &n, nullptr, kFSCatInfoNone, nullptr, refs.data(), nullptr, nullptr);
  FSCloseIterator(it);
  refs.resize(n);
  return refs;
}

}  // namespace tv::test
