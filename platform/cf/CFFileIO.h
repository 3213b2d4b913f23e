// The few file operations CoreFoundation needs (bundles, string tables,
// preferences), reached through a table of system calls so that tests can
// make any one of them fail with a chosen errno.
#pragma once

#include <string>

namespace tvcf {

// The system calls, as plain function pointers; tests swap entries and put
// the originals back (see ScopedFileCalls in the tests).
struct FileCalls {
  int (*open)(const char *path, int flags, unsigned mode);
  long (*read)(int fd, void *buf, unsigned long n);
  long (*write)(int fd, const void *buf, unsigned long n);
  int (*fsync)(int fd);
  int (*close)(int fd);
  int (*rename)(const char *from, const char *to);
  int (*mkdir)(const char *path, unsigned mode);
  int (*unlink)(const char *path);
  int (*mkstemp)(char *pathTemplate);
};
FileCalls &Calls();

enum class ReadResult { kOK, kMissing, kFailed };
// Reads the whole regular file at path into *out (at most maxBytes; a larger
// file, a folder or a FIFO fails). *out is defined only for kOK.
ReadResult ReadWholeFile(const std::string &path, std::string *out, size_t maxBytes);

// Replaces the file at path with content so that at every instant the path
// holds the old or the new content: a temporary file in the same folder,
// written and flushed to disk, then renamed over path. Leaves no temporary
// file behind. Returns 0 or the errno of the step that failed.
int WriteFileAtomically(const std::string &path, const std::string &content);

// Creates folder and any missing parents with mode 0700. 0 or an errno.
int MakeFolders(const std::string &folder);

// The errno's text, for messages.
std::string ErrorText(int err);

}  // namespace tvcf
