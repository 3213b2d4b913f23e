#include "zap/MyFSFile.h"

#include "feedback/MyFinderEvents.h"

#include <cstdlib>
#include <cstring>

OSStatus MyFSFileCreateWithFSRef(const FSRef *ref, MyFSFile *outFile) {
  if (ref == nullptr || outFile == nullptr) return paramErr;
  auto *file = static_cast<MyFSFile>(calloc(1, sizeof(MyFSFileRecord)));
  if (file == nullptr) return memFullErr;
  file->dataForkRefNum = -1;
  file->rsrcForkRefNum = -1;
  file->fileRef = static_cast<FSRef *>(malloc(sizeof(FSRef)));
  if (file->fileRef == nullptr) {
    MyFSFileDispose(file);
    return memFullErr;
  }
  memcpy(file->fileRef, ref, sizeof(FSRef));
  *outFile = file;
  return noErr;
}

// Opens one plain fork by name into *refNum (-1 after a failed open).
static OSStatus OpenNamedFork(MyFSFile file, OSErr (*getName)(HFSUniStr255 *), SInt8 permission,
                              SInt16 *refNum, SInt16 *outRefNum) {
  HFSUniStr255 name;
  OSStatus err = getName(&name);
  if (err != noErr) return err;
  FSIORefNum opened = -1;
  err = FSOpenFork(file->fileRef, name.length, name.unicode, permission, &opened);
  *refNum = err == noErr ? opened : -1;
  if (outRefNum != nullptr) *outRefNum = *refNum;
  return err;
}

OSStatus MyFSFileOpenDataFork(MyFSFile file, SInt8 permission, SInt16 *outRefNum) {
  if (file == nullptr) return paramErr;
  return OpenNamedFork(file, FSGetDataForkName, permission, &file->dataForkRefNum, outRefNum);
}

OSStatus MyFSFileOpenRsrcFork(MyFSFile file, SInt8 permission, Boolean useResourceManager, SInt16 *outRefNum) {
  if (file == nullptr) return paramErr;
  if (!useResourceManager) {
    return OpenNamedFork(file, FSGetResourceForkName, permission, &file->rsrcForkRefNum, outRefNum);
  }
  file->rsrcForkRefNum = FSOpenResFile(file->fileRef, permission);
  OSStatus err = ResError();
  if (outRefNum != nullptr) *outRefNum = file->rsrcForkRefNum;
  return err;
}

OSStatus MyFSFileCloseDataFork(MyFSFile file) {
  if (file == nullptr) return paramErr;
  if (file->dataForkRefNum == -1) return noErr;
  OSStatus err = FSCloseFork(file->dataForkRefNum);
  file->dataForkRefNum = -1;
  return err;
}

OSStatus MyFSFileDispose(MyFSFile file) {
  if (file == nullptr) return paramErr;
  if (file->dataForkRefNum != -1) {
    (void)FSCloseFork(file->dataForkRefNum);
    file->dataForkRefNum = -1;
  }
  if (file->rsrcForkRefNum != -1) {
    (void)FSCloseFork(file->rsrcForkRefNum);
    file->rsrcForkRefNum = -1;
  }
  free(file->fileRef);
  free(file);
  return noErr;
}

OSStatus ZapDataForkAtRef(const FSRef *ref) { return ZapDataForkAtRefWithInfo(ref, nullptr); }

OSStatus ZapDataForkAtRefWithInfo(const FSRef *ref, const FSCatalogInfo *given) {
  if (ref == nullptr) return paramErr;
  FSCatalogInfo info;
  OSStatus err = noErr;
  if (given != nullptr)
    info = *given;
  else
    err = FSGetCatalogInfo(ref, kZapDataForkInfo, &info, nullptr, nullptr, nullptr);
  if (err != noErr) return err;
  if (info.dataLogicalSize == 0) return noErr;

  MyFSFile file = nullptr;
  SInt16 refNum = -1;
  err = MyFSFileCreateWithFSRef(ref, &file);
  if (err == noErr) err = MyFSFileOpenDataFork(file, fsRdWrPerm, &refNum);
  if (err == noErr) err = FSSetForkSize(refNum, fsFromStart, 0);
  if (err == noErr) err = MyFSFileCloseDataFork(file);
  if (err == noErr) (void)SendAESyncToFinder(ref);
  if (file != nullptr) MyFSFileDispose(file);  // closes a fork a failure left open
  return err;
}

// Clears the custom-icon flag in FinderInfo already read into info; true
// when it was set and is cleared now.
static Boolean ClearUseCustomIconBitIn(const FSRef *ref, FSCatalogInfo *info) {
  // finderFlags sits at the same place in FileInfo and FolderInfo.
  auto *finderInfo = reinterpret_cast<FileInfo *>(info->finderInfo);
  if ((finderInfo->finderFlags & kHasCustomIcon) == 0) return false;
  finderInfo->finderFlags &= UInt16(~kHasCustomIcon);
  return FSSetCatalogInfo(ref, kFSCatInfoFinderInfo, info) == noErr;
}

OSStatus ZapRsrcForkAtRef(const FSRef *ref) { return ZapRsrcForkAtRefWithInfo(ref, nullptr); }

OSStatus ZapRsrcForkAtRefWithInfo(const FSRef *ref, const FSCatalogInfo *given) {
  if (ref == nullptr) return paramErr;
  // The fork's size and the flag from one look at the item's stores, taken
  // when the zap reaches the file: a fork that is there then is zapped.
  FSCatalogInfo info;
  OSStatus err = noErr;
  if (given != nullptr)
    info = *given;
  else
    err = FSGetCatalogInfo(ref, kZapRsrcForkInfo, &info, nullptr, nullptr, nullptr);
  const bool haveFinderInfo = err == noErr;
  // FinderInfo that does not parse must not keep the fork from being zapped.
  if (!haveFinderInfo) err = FSGetCatalogInfo(ref, kFSCatInfoRsrcSizes, &info, nullptr, nullptr, nullptr);
  if (err != noErr) return err;

  MyFSFile file = nullptr;
  bool changed = false;
  if (info.rsrcLogicalSize != 0) {
    SInt16 refNum = -1;
    err = MyFSFileCreateWithFSRef(ref, &file);
    if (err == noErr) err = MyFSFileOpenRsrcFork(file, fsRdWrPerm, false, &refNum);
    if (err == noErr) err = FSSetForkSize(refNum, fsFromStart, 0);
    if (err == noErr && file->rsrcForkRefNum != -1) {
      err = FSCloseFork(file->rsrcForkRefNum);
      file->rsrcForkRefNum = -1;
    }
    changed = err == noErr;
  }
  // The flag goes with the fork, also when the fork was already empty; the
  // file manager hears of it once.
  if (err == noErr) {
    Boolean cleared = haveFinderInfo ? ClearUseCustomIconBitIn(ref, &info) : ClearUseCustomIconBit(ref);
    if (cleared || changed) (void)SendAESyncToFinder(ref);
  }
  if (file != nullptr) MyFSFileDispose(file);
  return err;
}

Boolean ClearUseCustomIconBit(const FSRef *ref) {
  FSCatalogInfo info;
  if (FSGetCatalogInfo(ref, kFSCatInfoFinderInfo, &info, nullptr, nullptr, nullptr) != noErr) return false;
  return ClearUseCustomIconBitIn(ref, &info);
}
