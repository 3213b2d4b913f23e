// The File Manager, Alias Manager and Launch Services subset of the platform.
//
// An FSRef names one item by identity (device and inode) plus its place in a
// process-wide table of path nodes; it stays valid for the life of the
// process. Symbolic links are never followed: a link, FIFO, socket or device is
// a plain file whose forks are empty, and is never opened. Results come back
// through the last arguments and are defined only when the call returns noErr.
#pragma once

#include "CoreFoundation.h"
#include "MacMemory.h"
#include "MacTypes.h"

struct FSRef {
  UInt8 hidden[80];
};
typedef FSRef *FSRefPtr;
typedef struct FSSpec *FSSpecPtr;  // never used: always passed as NULL

#pragma pack(push, 2)
struct UTCDateTime {
  UInt16 highSeconds;  // bits 32-47 of the seconds since 1904-01-01 UTC
  UInt32 lowSeconds;   // bits 0-31
  UInt16 fraction;     // 1/65536 s
};
#pragma pack(pop)
static_assert(sizeof(UTCDateTime) == 8, "UTCDateTime is 8 bytes");

struct HFSUniStr255 {
  UInt16 length;
  UniChar unicode[255];
};

struct Point {
  SInt16 v, h;
};
struct Rect {
  SInt16 top, left, bottom, right;
};

// FinderInfo as the catalog hands it out: fields in native byte order.
struct FileInfo {
  OSType fileType;
  OSType fileCreator;
  UInt16 finderFlags;
  Point location;
  UInt16 reservedField;
};
struct FolderInfo {
  Rect windowBounds;
  UInt16 finderFlags;
  Point location;
  UInt16 reservedField;
};
struct ExtendedFileInfo {
  SInt16 reserved1[4];
  UInt16 extendedFinderFlags;
  SInt16 reserved2;
  SInt32 putAwayFolderID;
};
struct ExtendedFolderInfo {
  Point scrollPosition;
  SInt32 reserved1;
  UInt16 extendedFinderFlags;
  SInt16 reserved2;
  SInt32 putAwayFolderID;
};

enum : UInt16 { kHasCustomIcon = 0x0400, kIsInvisible = 0x4000, kNameLocked = 0x1000 };

struct FSPermissionInfo {
  UInt32 userID;
  UInt32 groupID;
  UInt8 reserved1;
  UInt8 userAccess;  // 4 read, 2 write, 1 search, for the current user
  UInt16 mode;
  UInt32 reserved2;
};

struct FSCatalogInfo {
  UInt16 nodeFlags;
  SInt16 volume;
  UInt32 parentDirID;
  UInt32 nodeID;
  UInt8 sharingFlags;
  UInt8 userPrivileges;
  UInt8 reserved1;
  UInt8 reserved2;
  UTCDateTime createDate;
  UTCDateTime contentModDate;
  UTCDateTime attributeModDate;
  UTCDateTime accessDate;
  UTCDateTime backupDate;
  UInt32 permissions[4];  // an FSPermissionInfo
  UInt8 finderInfo[16];   // a FileInfo or FolderInfo
  UInt8 extFinderInfo[16];
  UInt64 dataLogicalSize;
  UInt64 dataPhysicalSize;
  UInt64 rsrcLogicalSize;
  UInt64 rsrcPhysicalSize;
  UInt32 valence;
  TextEncoding textEncodingHint;
};
static_assert(sizeof(FSPermissionInfo) == 16, "FSPermissionInfo is 16 bytes");

typedef UInt32 FSCatalogInfoBitmap;
enum : FSCatalogInfoBitmap {
  kFSCatInfoNone = 0,
  kFSCatInfoTextEncoding = 0x1,
  kFSCatInfoNodeFlags = 0x2,
  kFSCatInfoVolume = 0x4,
  kFSCatInfoParentDirID = 0x8,
  kFSCatInfoNodeID = 0x10,
  kFSCatInfoCreateDate = 0x20,
  kFSCatInfoContentMod = 0x40,
  kFSCatInfoAttrMod = 0x80,
  kFSCatInfoAccessDate = 0x100,
  kFSCatInfoBackupDate = 0x200,
  kFSCatInfoPermissions = 0x400,
  kFSCatInfoFinderInfo = 0x800,
  kFSCatInfoFinderXInfo = 0x1000,
  kFSCatInfoValence = 0x2000,
  kFSCatInfoDataSizes = 0x4000,
  kFSCatInfoRsrcSizes = 0x8000,
  kFSCatInfoUserAccess = 0x80000,
};
enum : UInt16 { kFSNodeLockedMask = 0x1, kFSNodeIsDirectoryMask = 0x10 };

// Reads the requested fields of ref's catalog information; outName, fsSpec
// and parentRef may be NULL (they are not supported otherwise: paramErr).
OSErr FSGetCatalogInfo(const FSRef *ref, FSCatalogInfoBitmap whichInfo, FSCatalogInfo *catalogInfo,
                       HFSUniStr255 *outName, FSSpecPtr fsSpec, FSRef *parentRef);
// Writes kFSCatInfoFinderInfo (with kFSCatInfoFinderXInfo) and the four dates.
// Linux cannot set a birth or change time: those writes are accepted, not stored.
OSErr FSSetCatalogInfo(const FSRef *ref, FSCatalogInfoBitmap whichInfo,
                       const FSCatalogInfo *catalogInfo);

// ---- Folder listing --------------------------------------------------------------
// Every entry but "." and "..", sorted by the bytes of the name; "._name"
// sidecars whose "name" exists in the same folder are metadata and left out.

typedef struct OpaqueFSIterator *FSIterator;
typedef UInt32 FSIteratorFlags;
enum : FSIteratorFlags { kFSIterateFlat = 0, kFSIterateSubtree = 1 };
OSErr FSOpenIterator(const FSRef *container, FSIteratorFlags iteratorFlags, FSIterator *iterator);
OSErr FSCloseIterator(FSIterator iterator);
// Up to maximumObjects refs; errFSNoMoreItems (with the last refs, if any) at the end.
// catalogInfo, specs and names may be NULL; containerChanged may be NULL.
OSErr FSGetCatalogInfoBulk(FSIterator iterator, ItemCount maximumObjects, ItemCount *actualObjects,
                           Boolean *containerChanged, FSCatalogInfoBitmap whichInfo,
                           FSCatalogInfo *catalogInfos, FSRef *refs, FSSpecPtr specs,
                           HFSUniStr255 *names);

// Not in Carbon: what the listing that made ref (FSGetCatalogInfoBulk) said
// the item was, known without another look at it. A walk that only tells
// files from folders and other items (a count) needs no call per entry.
// Unknown for a ref that no listing made (a path, an alias), or where the
// file system's listing does not tell kinds; and for a bad ref.
typedef UInt8 TVListedKind;
enum : TVListedKind {
  kTVListedKindUnknown = 0,
  kTVListedKindFolder = 1,
  kTVListedKindFile = 2,   // a regular file
  kTVListedKindOther = 3,  // a symbolic link, FIFO, socket or device
};
TVListedKind TVGetListedKind(const FSRef *ref);

// Not in Carbon: why the last failure of this thread's File Manager calls
// happened, as the system saw it: which store refused (the "._name" sidecar,
// an extended attribute of the file, the file itself, or the folder that
// holds it), why, and the facts a fix needs. FSOpenFork, FSSetForkSize,
// FSGetCatalogInfo and FSSetCatalogInfo forget the previous cause when they
// start. The strings are UTF-8, borrowed until the next failure or
// TVClearFailureCause on this thread; "" where a fact is unknown.
typedef UInt8 TVFailureReason;
enum : TVFailureReason {
  kTVFailureOther = 0,       // systemText and errnoName say what
  kTVFailureImmutable,       // the store carries the immutable attribute (chattr +i)
  kTVFailureAppendOnly,      // the store is append-only (chattr +a)
  kTVFailureReadOnlyVolume,  // its volume is mounted read-only at mountPoint
  kTVFailureNoAccess,        // permissions: owner, mode and the user below
  kTVFailureNoSpace,         // no space left on the device mounted at mountPoint
  kTVFailureQuota,           // the user's disk quota there is used up
  kTVFailureChanged,         // moved, replaced or deleted by someone else meanwhile
};
typedef UInt8 TVFailureStore;
enum : TVFailureStore {
  kTVFailureStoreUnknown = 0,  // the call named no entry
  kTVFailureStoreEntry,        // a file: the item itself or its sidecar
  kTVFailureStoreFolder,       // the folder that holds the entry
  kTVFailureStoreAttribute,    // an extended attribute of the entry
};
struct TVFailureCause {
  OSStatus status;  // what the failure became
  TVFailureReason reason;
  TVFailureStore store;
  const char *name;        // the entry's or folder's own name, as in its folder
  const char *path;        // its absolute path
  const char *attribute;   // kTVFailureStoreAttribute: the attribute's name
  const char *mountPoint;  // where its volume is mounted
  const char *owner;       // the owner's user name (or number)
  const char *user;        // the effective user's name (or number)
  UInt32 mode;             // the store's permission bits
  Boolean userIsOwner;
  Boolean userIsRoot;
  const char *errnoName;   // "EIO"
  const char *systemText;  // "Input/output error"
};
// True, with *outCause filled, when the last failure on this thread became
// `status` and has not been forgotten since.
Boolean TVGetFailureCause(OSStatus status, TVFailureCause *outCause);
void TVClearFailureCause(void);

// noErr when both name the same item; diffVolErr or errFSRefsDifferent otherwise.
OSErr FSCompareFSRefs(const FSRef *ref1, const FSRef *ref2);

// ---- Paths -----------------------------------------------------------------------

// The absolute POSIX path of ref, UTF-8 with a terminating 0 (errFSBadBuffer... when
// it does not fit: the result is then the status, never a cut path).
OSStatus FSRefMakePath(const FSRef *ref, UInt8 *path, UInt32 maxPathSize);
// A ref for the item at path (relative paths start at the working directory).
// Intermediate symbolic links are followed, the last component never is.
OSStatus FSPathMakeRef(const UInt8 *path, FSRef *ref, Boolean *isDirectory);
// A file URL for ref; the caller releases it. An item moved or deleted since
// the ref was made gets the last path it was known by; a ref the platform did
// not make gets none.
CFURLRef CFURLCreateFromFSRef(CFAllocatorRef alloc, const FSRef *ref);

// ---- Special folders -------------------------------------------------------------

enum : SInt16 { kUserDomain = -32763, kOnAppropriateDisk = -32767 };
constexpr OSType kCurrentUserFolderType = FOUR_CHAR_CODE("cusr");
constexpr Boolean kDontCreateFolder = 0;
// kCurrentUserFolderType in kUserDomain: $HOME when it names a folder, else the
// password database's home; fnfErr when neither does.
OSErr FSFindFolder(SInt16 vRefNum, OSType folderType, Boolean createFolder, FSRef *foundRef);

// ---- Aliases ---------------------------------------------------------------------
// An alias record is a byte string: the absolute path and the device and inode
// the item had. It resolves by path; fnfErr when nothing is there.

typedef Handle AliasHandle;
OSErr FSNewAlias(const FSRef *fromFile, const FSRef *target, AliasHandle *inAlias);
OSErr FSResolveAlias(const FSRef *fromFile, AliasHandle alias, FSRef *target, Boolean *wasChanged);
// An alias record for an absolute or relative path, without resolving it
// (the host's selection may name items that are gone); the caller disposes of it.
OSErr TVNewAliasFromPath(const char *path, AliasHandle *outAlias);

// ---- Launch Services -------------------------------------------------------------

typedef OptionBits LSRequestedInfo;
enum : LSRequestedInfo { kLSRequestBasicFlagsOnly = 0x4, kLSRequestAllFlags = 0x10 };
typedef OptionBits LSItemInfoFlags;
enum : LSItemInfoFlags {
  kLSItemInfoIsPlainFile = 0x1,
  kLSItemInfoIsPackage = 0x2,
  kLSItemInfoIsApplication = 0x4,
  kLSItemInfoIsContainer = 0x8,
  kLSItemInfoIsAliasFile = 0x10,
  kLSItemInfoIsSymlink = 0x20,
  kLSItemInfoIsInvisible = 0x40,
  kLSItemInfoIsVolume = 0x1000,
};
struct LSItemInfoRecord {
  LSItemInfoFlags flags;
  OSType filetype;
  OSType creator;
  CFStringRef extension;  // always NULL here
};
// Container for folders; volume for "/" and every mount point.
OSStatus LSCopyItemInfoForRef(const FSRef *inItemRef, LSRequestedInfo inWhichInfo,
                              LSItemInfoRecord *outItemInfo);

// ---- Forks -----------------------------------------------------------------------

typedef SInt16 FSIORefNum;
enum : SInt8 { fsCurPerm = 0, fsRdPerm = 1, fsWrPerm = 2, fsRdWrPerm = 3 };
enum : UInt16 { fsAtMark = 0, fsFromStart = 1, fsFromLEOF = 2, fsFromMark = 3 };

OSErr FSGetDataForkName(HFSUniStr255 *dataForkName);      // ""
OSErr FSGetResourceForkName(HFSUniStr255 *resourceForkName);  // "RESOURCE_FORK"
// Opens the data fork (the regular file itself) or the resource fork (wherever
// the fork stores keep it). Writing needs write access to the item itself;
// locked items give fLckdErr, read-only volumes wPrErr. A fork of a folder
// gives notAFileErr; of a link, FIFO, socket or device afpObjectTypeErr
// (they are never opened). Emptying the resource fork (FSSetForkSize to 0)
// empties it in every store that holds one; no other size can be set
// (paramErr). A sidecar or metadata attribute that does not parse gives ioErr,
// here and in FSGetCatalogInfo/FSSetCatalogInfo, and is never rewritten.
OSErr FSOpenFork(const FSRef *ref, UniCharCount forkNameLength, const UniChar *forkName,
                 SInt8 permissions, FSIORefNum *forkRefNum);
OSErr FSGetForkSize(FSIORefNum forkRefNum, SInt64 *forkSize);
OSErr FSSetForkSize(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset);
OSErr FSReadFork(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset,
                 UInt32 requestCount, void *buffer, UInt32 *actualCount);
OSErr FSCloseFork(FSIORefNum forkRefNum);

typedef SInt16 ResFileRefNum;
// Opens the resource map of ref's resource fork; -1 on failure (ResError() says why:
// eofErr for an empty fork, resFNotFound when its header or map header does not
// fit). The number is a fork number: CloseResFile and FSCloseFork both close it.
ResFileRefNum FSOpenResFile(const FSRef *ref, SInt8 permission);
void CloseResFile(ResFileRefNum refNum);
OSErr ResError();
