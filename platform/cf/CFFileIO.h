// The few file operations CoreFoundation needs (bundles, string tables,
// preferences), through the platform's one table of system calls
// (platform/sys/CallTable.h), so that tests can make any of them fail.
#pragma once

#include <string>

namespace tv::cf {

enum class ReadResult { kOK, kMissing, kFailed };
// Reads the whole regular file at path into *out (at most maxBytes; a larger
// file, a folder or a FIFO fails). *out is defined only for kOK.
ReadResult ReadWholeFile(const std::string &path, std::string *out, size_t maxBytes);

// Replaces the file at path with content through the crash-safe replacement
// the fork stores use (platform/sys/FileReplacement.h): at every instant the
// path holds the old or the new content, and no temporary file is left
// behind. Returns 0 or the errno of the step that failed.
int WriteFileAtomically(const std::string &path, const std::string &content);

// Moves the file at `from` to `to`. 0 or an errno.
int RenameFile(const std::string &from, const std::string &to);

// Creates folder and any missing parents with mode 0700. 0 or an errno.
int MakeFolders(const std::string &folder);

// The errno's text, for messages.
std::string ErrorText(int err);

}  // namespace tv::cf
