// The one place where errno becomes an OSStatus.
#pragma once

#include <new>

#include "platform/Files.h"
#include "platform/MacTypes.h"

namespace tv::files {

// The translation table itself. `lockedItem` tells whether the item the call
// touched (or its folder) is immutable or append-only, which turns EPERM into
// fLckdErr, the Linux form of a locked file.
OSStatus StatusFromErrno(int err, bool lockedItem = false);

// As above for a call that failed on the item at (dirFd, path) (a path
// relative to dirFd, or absolute with AT_FDCWD, or "" for the item dirFd is
// open on; the item is never followed if it is a symbolic link). It looks at
// the item and the folder holding it (for EPERM their inode flags, for
// EACCES their access, for EROFS, ENOSPC and EDQUOT the volume) and records
// what it saw as this thread's failure cause (TVGetFailureCause). Call it
// right after the failure: it keeps errno for the caller.
OSStatus StatusFromErrnoAt(int err, int dirFd, const char *path);

// ---- The cause of a failure ---------------------------------------------------

// What was seen of the entry that failed and of the folder holding it.
struct FailureFacts {
  unsigned entryFlags = 0;      // FS_IMMUTABLE_FL, FS_APPEND_FL of the entry
  unsigned folderFlags = 0;     // of its folder
  bool entryUsable = true;      // the user may read and write the entry (or it is not there)
  bool folderWritable = true;   // the user may create, rename and remove entries in the folder
  bool readOnlyVolume = false;  // the volume is mounted read-only
};
struct FailureClass {
  TVFailureReason reason = kTVFailureOther;
  bool inFolder = false;  // the folder refused, not the entry
};
// Pure: why a call failed with err, given what was seen.
FailureClass ClassifyFailure(int err, const FailureFacts &facts);

// The item at (dirFd, path) was no longer the one the call was given (an
// identity check failed): records that and returns fnfErr.
OSStatus StatusOfChangedItem(int dirFd, const char *path);
// Amends the cause just recorded: the store that refused was the attribute
// `name` of the entry.
void NoteFailedAttribute(const char *name);
// Amends the cause just recorded for an entry: the user knows it as the
// entry at (dirFd, path) (a sidecar, for the temporary that replaces it).
void NoteFailedEntryAs(int dirFd, const char *path);

// True when the item at (dirFd, path) carries the immutable or append-only
// flag; false when it does not or when that cannot be read.
bool IsLockedAt(int dirFd, const char *path);

// Runs the body of a File Manager call so that a failed allocation becomes
// memFullErr: no exception ever leaves the C interface.
template <class Body>
OSStatus MemFullOnThrow(Body &&body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc &) {
    return memFullErr;
  }
}

}  // namespace tv::files
