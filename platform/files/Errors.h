// The one place where errno becomes an OSStatus.
#pragma once

#include <new>

#include "platform/MacTypes.h"

namespace tv::files {

// The translation table itself. `lockedItem` tells whether the item the call
// touched (or its folder) is immutable or append-only, which turns EPERM into
// fLckdErr, the Linux form of a locked file.
OSStatus StatusFromErrno(int err, bool lockedItem = false);

// As above for a call that failed on the item at (dirFd, path) (a path
// relative to dirFd, or absolute with AT_FDCWD, or "" for the item dirFd is
// open on; the item is never followed if it is a symbolic link). For EPERM it reads the inode flags of the item and
// then of the folder holding it; every other errno needs no system call.
// Call it right after the failure: it keeps errno for the caller.
OSStatus StatusFromErrnoAt(int err, int dirFd, const char *path);

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
