// Comparing refs, refs to and from paths, the home folder, and the Launch
// Services item flags.
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <vector>
#include <unistd.h>

#include "platform/Files.h"
#include "platform/files/Errors.h"
#include "platform/files/Listing.h"
#include "platform/files/PathNodes.h"
#include "platform/files/Refs.h"

using namespace tv::files;

OSErr FSCompareFSRefs(const FSRef *ref1, const FSRef *ref2) {
  RefFields a, b;
  OSStatus result = DecodeRef(ref1, &a);
  if (result == noErr) result = DecodeRef(ref2, &b);
  // Entries a listing could not number are told apart by their names.
  const bool unlisted = a.inode == kUnlistedInode || b.inode == kUnlistedInode;
  if (result == noErr)
    result = a.device != b.device                        ? diffVolErr
             : unlisted ? (a.node != b.node ? errFSRefsDifferent : noErr)
             : a.inode != b.inode                        ? errFSRefsDifferent
                                                         : noErr;
  return OSErr(result);
}

OSStatus FSRefMakePath(const FSRef *ref, UInt8 *path, UInt32 maxPathSize) {
  return OSStatus(MemFullOnThrow([&]() -> OSStatus {
    if (!ref || !path || maxPathSize == 0) return paramErr;
    ItemLocation where;
    OSStatus result = ResolveRef(ref, &where, nullptr);
    // Never a cut path: one that does not fit is a status.
    if (result == noErr && where.FullPath().size() + 1 > maxPathSize) result = errFSBadBuffer;
    if (result == noErr) std::memcpy(path, where.FullPath().c_str(), where.FullPath().size() + 1);
    return result;
  }));
}

static OSStatus RefForPath(std::string_view path, bool followLast, FSRef *ref, Boolean *isDirectory) {
  return MemFullOnThrow([&]() -> OSStatus {
    uint32_t node = 0;
    ItemStat st;
    OSStatus result = WalkPath(path, followLast, &node, &st);
    if (result == noErr) {
      *ref = EncodeRef(RefFields{uint64_t(st.st.st_dev), uint64_t(st.st.st_ino), node});
      if (isDirectory) *isDirectory = S_ISDIR(st.st.st_mode);
    }
    return result;
  });
}

OSStatus FSPathMakeRef(const UInt8 *path, FSRef *ref, Boolean *isDirectory) {
  if (!path || !ref) return paramErr;
  return RefForPath(reinterpret_cast<const char *>(path), false, ref, isDirectory);
}

// The home folder: $HOME when it is an absolute path naming a folder (a
// relative one is not a home), else the password database's entry for the
// effective user. The ref names the folder itself, even when $HOME is a
// symbolic link to it, so that it compares equal to the folder met in a walk.
OSErr FSFindFolder(SInt16 vRefNum, OSType folderType, Boolean createFolder, FSRef *foundRef) {
  return OSErr(MemFullOnThrow([&]() -> OSStatus {
    if (!foundRef) return paramErr;
    if ((vRefNum != kUserDomain && vRefNum != kOnAppropriateDisk) || folderType != kCurrentUserFolderType)
      return fnfErr;
    FSRef ref;
    Boolean isDir = false;
    const char *home = getenv("HOME");
    if (home && home[0] == '/' && RefForPath(home, true, &ref, &isDir) == noErr && isDir) {
      *foundRef = ref;
      return noErr;
    }
    struct passwd pw, *found = nullptr;
    std::vector<char> buf(16384);
    if (getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir &&
        found->pw_dir[0] == '/' && RefForPath(found->pw_dir, true, &ref, &isDir) == noErr && isDir) {
      *foundRef = ref;
      return noErr;
    }
    return fnfErr;
  }));
}

// Container for folders, plain file for the rest; a symbolic link is also
// a symlink, a name starting with "." is invisible, and "/" and every mount
// point are volumes. No type, creator or extension is reported.
OSStatus LSCopyItemInfoForRef(const FSRef *inItemRef, LSRequestedInfo inWhichInfo, LSItemInfoRecord *outItemInfo) {
  return OSStatus(MemFullOnThrow([&]() -> OSStatus {
    if (!inItemRef || !outItemInfo) return paramErr;
    ItemLocation where;
    ItemStat st;
    OSStatus result = ResolveRef(inItemRef, &where, &st);
    if (result == noErr) {
      LSItemInfoFlags flags = S_ISDIR(st.st.st_mode) ? kLSItemInfoIsContainer : kLSItemInfoIsPlainFile;
      if (S_ISLNK(st.st.st_mode)) flags |= kLSItemInfoIsSymlink;
      if (!where.isRoot() && !where.name.empty() && where.name[0] == '.') flags |= kLSItemInfoIsInvisible;
      if (IsVolumeRoot(where, st.st)) flags |= kLSItemInfoIsVolume;
      *outItemInfo = LSItemInfoRecord{flags, 0, 0, nullptr};
    }
    return result;
  }));
}
