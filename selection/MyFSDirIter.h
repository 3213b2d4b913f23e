// The directory snapshot iterator: a list of file references taken once, from
// the selection or from the flat listing of one folder, walked as often as
// wanted. Walking never reads the folder again.
#pragma once

#include "platform/Carbon.h"

#include <string>
#include <vector>

struct MyCMContextRecord;

struct MyFSDirIterRecord {
  CFMutableDataRef refBlock;  // holds the entries; owned
  FSRef *refs;                // the entries in walk order, in refBlock
  SInt32 refCount;            // entries in refs
  SInt32 refCapacity;         // entries refs has room for
  SInt32 index;               // -1 before the first entry, 2147483647 after the last
  FSRef *currentRef;          // points at the current entry in refs, or NULL
  UInt32 itemInfoFlags;
  UInt8 userAccess;
  Boolean isContainer;
  Boolean isFile;  // a regular file (or one whose kind could not be read)
  Boolean itemInfoValid;
  Boolean userAccessValid;
  FSCatalogInfoBitmap wantedInfo;  // asked for in each entry's look, beside the kind
  Boolean catalogInfoValid;
  FSCatalogInfo catalogInfo;  // what that look read, when catalogInfoValid
};
typedef MyFSDirIterRecord *MyFSDirIter;

constexpr SInt32 kMyFSDirIterEnded = 2147483647;

// Each creation stores the new iterator (the caller disposes of it) in *outIter,
// or NULL on failure.
OSStatus MyFSDirIterCreateWithContext(MyCMContextRecord *context, MyFSDirIter *outIter);
OSStatus MyFSDirIterCreate(const FSRef *folder, MyFSDirIter *outIter);
// A folder its walker has just found (MyFSDirIterIsContainer) and may read
// and search (MyFSDirIterGetUserAccessPerm): listed without a look of its
// own; the listing checks that what it opens is that folder.
OSStatus MyFSDirIterCreateEntered(const FSRef *folder, MyFSDirIter *outIter);
OSStatus MyFSDirIterDispose(MyFSDirIter iter);
// Leaves out the entries named twice and, with dropNested, those inside a
// folder that is itself an entry (a recursive walk meets them there), so
// that nothing is counted or zapped twice. Rewinds the iterator.
OSStatus MyFSDirIterDropRepeats(MyFSDirIter iter, Boolean dropNested);
void MyFSDirIterReset(MyFSDirIter iter);
// The next entry (valid until the iterator is disposed of), or NULL at the end.
const FSRef *MyFSDirIterNext(MyFSDirIter iter);
Boolean MyFSDirIterIsContainer(MyFSDirIter iter);
// More catalog information to read in the one look each file gets when the
// walk reaches it, so that a walker acting on every file needs no second
// look. Applies from the next entry on. Without it, an entry whose kind its
// listing told (a file, a link) is not looked at at all; a folder is looked
// at for its kind only.
void MyFSDirIterWantCatalogInfo(MyFSDirIter iter, FSCatalogInfoBitmap whichInfo);
// The current entry's information from that look (kind, mode and what was
// wanted), or NULL when the look could not read all of it, and for entries
// not looked at for it (folders and other items the listing told).
const FSCatalogInfo *MyFSDirIterGetCatalogInfo(MyFSDirIter iter);
// Whether the current entry is a file that has forks: false for folders and
// for symbolic links, FIFOs, sockets and devices. An entry whose kind could
// not be read counts as a file, so that zapping it reports why.
Boolean MyFSDirIterIsFile(MyFSDirIter iter);
Boolean MyFSDirIterIsVolume(MyFSDirIter iter);
UInt8 MyFSDirIterGetUserAccessPerm(MyFSDirIter iter);
OSStatus GetUserAccessPerm(const FSRef *ref, UInt8 *outAccess);

// Which of these absolute, canonical paths to keep: the first of each path
// named twice and, with dropNested, none that lies inside another one.
std::vector<bool> MySelectionKeepMask(const std::vector<std::string> &paths, bool dropNested);
