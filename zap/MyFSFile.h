// Fork truncation: one file's data or resource fork set to length 0, the
// custom-icon flag cleared with the resource fork, and the file manager told.
#pragma once

#include "platform/Carbon.h"

// One file and the forks opened on it. The caller owns it; only
// MyFSFileDispose releases it (closing any fork still open).
struct MyFSFileRecord {
  FSRef *fileRef;         // the record's own copy, separately allocated
  SInt16 dataForkRefNum;  // -1 when closed
  SInt16 rsrcForkRefNum;  // -1 when closed
};
typedef MyFSFileRecord *MyFSFile;

OSStatus MyFSFileCreateWithFSRef(const FSRef *ref, MyFSFile *outFile);
OSStatus MyFSFileOpenDataFork(MyFSFile file, SInt8 permission, SInt16 *outRefNum);
OSStatus MyFSFileOpenRsrcFork(MyFSFile file, SInt8 permission, Boolean useResourceManager, SInt16 *outRefNum);
OSStatus MyFSFileCloseDataFork(MyFSFile file);
OSStatus MyFSFileDispose(MyFSFile file);

// Empties the data fork; a file whose data fork is already empty is left alone.
OSStatus ZapDataForkAtRef(const FSRef *ref);
// Empties the resource fork and clears the custom-icon flag; the file manager
// hears of it at most once.
OSStatus ZapRsrcForkAtRef(const FSRef *ref);
// The same two, given what a look at the item taken just now read (the data
// size, or the resource size and FinderInfo), so that they need no look of
// their own; NULL info: they take their own.
OSStatus ZapDataForkAtRefWithInfo(const FSRef *ref, const FSCatalogInfo *info);
OSStatus ZapRsrcForkAtRefWithInfo(const FSRef *ref, const FSCatalogInfo *info);
// What those two need in the look they are given.
constexpr FSCatalogInfoBitmap kZapDataForkInfo = kFSCatInfoDataSizes;
constexpr FSCatalogInfoBitmap kZapRsrcForkInfo = kFSCatInfoRsrcSizes | kFSCatInfoFinderInfo;
// true only when it cleared the flag.
Boolean ClearUseCustomIconBit(const FSRef *ref);
