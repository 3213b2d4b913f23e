// Crash-safe replacement of a whole file, shared by the fork stores (sidecar
// rewrites) and the preferences: a temporary sibling, written out, given the
// old file's attributes, flushed, renamed over the file, and the folder
// flushed, so that the path holds the old or the new content at every
// instant and other hard links of the old file keep the old content.
//
// The temporary is named kTemporaryPrefix and 16 lowercase hex digits, is
// locked (an open-file-description write lock) while it lives, and is
// published for RemoveTemporariesInFlight, which a handler of a signal that
// ends the process calls. Every call goes through CallTable.h; the result is
// an errno, which the caller turns into its own kind of status.
#pragma once

#include <cstddef>
#include <fcntl.h>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace tv::sys {

// Temporaries are named this and 16 lowercase hex digits.
inline constexpr char kTemporaryPrefix[] = ".tarrovel-tmp-";
bool IsTemporaryName(std::string_view name);

// Unlinks the temporaries of the replacements in flight; async-signal-safe.
void RemoveTemporariesInFlight();

// Where a file system keeps no open-file-description locks (some network and
// FUSE file systems).
bool NoLocksHere(int err);
// Where a file system keeps no extended attributes.
bool NoAttributesHere(int err);

// Where the attribute calls reach an item: through the open file fd, else
// as the entry `path` of the open folder dirFd (a path from the working
// folder with AT_FDCWD), never following a link. On a kernel without the
// calls that take a folder, an entry of a folder is reached through
// /proc/self/fd, the same folder still.
struct XattrPlace {
  int fd = -1;
  int dirFd = AT_FDCWD;
  const char *path = nullptr;
};
ssize_t GetXattr(const XattrPlace &at, const char *name, void *value, size_t size);
ssize_t ListXattr(const XattrPlace &at, char *list, size_t size);
int SetXattr(const XattrPlace &at, const char *name, const void *value, size_t size, int flags);
int RemoveXattr(const XattrPlace &at, const char *name);

// The names of the extended attributes of the item, 0-separated; empty
// where the file system keeps none. 0 or an errno.
int ListXattrNames(const XattrPlace &at, std::vector<char> *names);
// One attribute's whole value (at most 64 KiB); *out stays empty when it is
// not there. 0 or an errno.
int ReadXattrValue(const XattrPlace &at, const char *name, std::optional<std::vector<unsigned char>> *out);
// The same for the open file fd or, with fd -1, `path`.
inline int ListXattrNames(int fd, const char *path, std::vector<char> *names) {
  return ListXattrNames(XattrPlace{fd, AT_FDCWD, path}, names);
}
inline int ReadXattrValue(int fd, const char *path, const char *name, std::optional<std::vector<unsigned char>> *out) {
  return ReadXattrValue(XattrPlace{fd, AT_FDCWD, path}, name, out);
}

// One extended attribute of a file, whole.
struct NamedValue {
  std::string name;
  std::vector<unsigned char> value;
};
// Every extended attribute the open file has. 0 or an errno.
int ReadAllXattrs(int fd, std::vector<NamedValue> *out);

// What the new file keeps of the old one beyond its bytes.
struct KeptAttributes {
  uid_t uid = 0;
  gid_t gid = 0;
  mode_t mode = 0;
  // Every extended attribute of the old file: user.* (Samba's DOSATTRIB),
  // security.* (its NTACL), and the POSIX ACLs, which the kernel hands over
  // as system.posix_acl_*. Null for a file that is new.
  const std::vector<NamedValue> *xattrs = nullptr;
};

// How a replacement ended: err 0, or the errno of the step that failed and
// the path (from dirFd) that step concerned.
struct ReplaceResult {
  int err = 0;
  std::string failedAt;
};

// Replaces the file at (dirFd, path) by one holding `content`. With `keep`,
// the new file gets that owner and group, then those attributes, then that
// ACL, then that mode; without, it is the process's, mode 0600. On failure
// the old file is untouched and the temporary is gone. The folder is
// flushed after the rename; its failure loses nothing already renamed and
// is not reported.
ReplaceResult ReplaceFile(int dirFd, const std::string &path, const void *content, size_t size,
                          const KeptAttributes *keep);

}  // namespace tv::sys
