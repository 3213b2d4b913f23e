// The Apple Event Manager subset: typed descriptors, lists, keyword records and
// Apple events. Every descriptor owns its data; AEDisposeDesc frees it and
// leaves the descriptor empty (typeNull, no data). Copies into lists and
// records are independent of the original.
#pragma once

#include "MacTypes.h"

typedef FourCharCode DescType;
typedef FourCharCode AEKeyword;
typedef FourCharCode AEEventClass;
typedef FourCharCode AEEventID;
typedef SInt16 AEReturnID;
typedef SInt32 AETransactionID;
typedef SInt32 AESendMode;
typedef SInt16 AESendPriority;

typedef struct OpaqueAEDataStorageType *AEDataStorage;
struct AEDesc {
  DescType descriptorType;
  AEDataStorage dataHandle;
};
typedef AEDesc AEDescList;
typedef AEDesc AERecord;
typedef AEDesc AEAddressDesc;
typedef AEDesc AppleEvent;

constexpr DescType typeNull = FOUR_CHAR_CODE("null");
constexpr DescType typeWildCard = FOUR_CHAR_CODE("****");
constexpr DescType typeAEList = FOUR_CHAR_CODE("list");
constexpr DescType typeAERecord = FOUR_CHAR_CODE("reco");
constexpr DescType typeAppleEvent = FOUR_CHAR_CODE("aevt");
constexpr DescType typeAlias = FOUR_CHAR_CODE("alis");
constexpr DescType typeFSRef = FOUR_CHAR_CODE("fsrf");
constexpr DescType typeUnicodeText = FOUR_CHAR_CODE("utxt");
constexpr DescType typeIntlText = FOUR_CHAR_CODE("itxt");
constexpr DescType typeChar = FOUR_CHAR_CODE("TEXT");
constexpr DescType typeUTF8Text = FOUR_CHAR_CODE("utf8");
constexpr DescType typeSInt32 = FOUR_CHAR_CODE("long");
constexpr DescType typeLongInteger = FOUR_CHAR_CODE("long");
constexpr DescType typeSInt16 = FOUR_CHAR_CODE("shor");
constexpr DescType typeType = FOUR_CHAR_CODE("type");
constexpr DescType typeProcessSerialNumber = FOUR_CHAR_CODE("psn ");

constexpr AEKeyword keyDirectObject = FOUR_CHAR_CODE("----");
constexpr AEKeyword keyAEName = FOUR_CHAR_CODE("pnam");
constexpr AEKeyword keyContextualMenuCommandID = FOUR_CHAR_CODE("cmcd");
constexpr AEKeyword keyContextualMenuAttributes = FOUR_CHAR_CODE("cmat");
constexpr AEKeyword keyContextualMenuSubmenu = FOUR_CHAR_CODE("cmsb");
constexpr AEKeyword keyEventClassAttr = FOUR_CHAR_CODE("evcl");
constexpr AEKeyword keyEventIDAttr = FOUR_CHAR_CODE("evid");
constexpr AEKeyword keyAddressAttr = FOUR_CHAR_CODE("addr");
constexpr AEKeyword keyReturnIDAttr = FOUR_CHAR_CODE("rtid");
constexpr AEKeyword keyTransactionIDAttr = FOUR_CHAR_CODE("tran");

constexpr AEEventClass kAEFinderSuite = FOUR_CHAR_CODE("fndr");
constexpr AEEventID kAESync = FOUR_CHAR_CODE("fupd");

constexpr AEReturnID kAutoGenerateReturnID = -1;
constexpr AETransactionID kAnyTransactionID = 0;
enum : AESendMode {
  kAENoReply = 0x00000001,
  kAEQueueReply = 0x00000002,
  kAEWaitReply = 0x00000003,
  kAENeverInteract = 0x00000010,
  kAECanInteract = 0x00000020,
  kAEAlwaysInteract = 0x00000030,
  kAECanSwitchLayer = 0x00000040,
  kAEDontReconnect = 0x00000080,
  kAEWantReceipt = 0x00000200,
  kAEDontRecord = 0x00001000,
  kAEDontExecute = 0x00002000,
};
constexpr AESendPriority kAENormalPriority = 0;
constexpr SInt32 kAEDefaultTimeout = -1;
constexpr UInt32 kMenuItemAttrSeparator = 64;

typedef Boolean (*AEIdleUPP)(void *event, SInt32 *sleepTime, void *mouseRgn);
typedef Boolean (*AEFilterUPP)(void *event, SInt32 returnID, SInt32 transactionID,
                               const AEAddressDesc *sender);

OSErr AECreateDesc(DescType typeCode, const void *dataPtr, Size dataSize, AEDesc *result);
OSErr AEDisposeDesc(AEDesc *theAEDesc);  // empties it; an empty one is fine
OSErr AEDuplicateDesc(const AEDesc *theAEDesc, AEDesc *result);
// Identity, typeWildCard, and any single descriptor to a one-item typeAEList.
OSErr AECoerceDesc(const AEDesc *theAEDesc, DescType toType, AEDesc *result);
Size AEGetDescDataSize(const AEDesc *theAEDesc);
OSErr AEGetDescData(const AEDesc *theAEDesc, void *dataPtr, Size maximumSize);

OSErr AECreateList(const void *factoringPtr, Size factoredSize, Boolean isRecord,
                   AEDescList *resultList);
OSErr AECountItems(const AEDescList *theAEDescList, long *theCount);
// Item index (from 1) as desiredType; *theAEKeyword gets the item's keyword
// (0 in a plain list) and may be NULL.
OSErr AEGetNthDesc(const AEDescList *theAEDescList, long index, DescType desiredType,
                   AEKeyword *theAEKeyword, AEDesc *result);
// index 0 appends; 1..count replaces.
OSErr AEPutDesc(AEDescList *theAEDescList, long index, const AEDesc *theAEDesc);
OSErr AEPutPtr(AEDescList *theAEDescList, long index, DescType typeCode, const void *dataPtr,
               Size dataSize);

// Records and Apple events: keyword parameters (replacing a keyword already there).
OSErr AEPutParamDesc(AppleEvent *theAppleEvent, AEKeyword theAEKeyword, const AEDesc *theAEDesc);
OSErr AEPutParamPtr(AppleEvent *theAppleEvent, AEKeyword theAEKeyword, DescType typeCode,
                    const void *dataPtr, Size dataSize);
OSErr AEGetParamDesc(const AppleEvent *theAppleEvent, AEKeyword theAEKeyword, DescType desiredType,
                     AEDesc *result);
OSErr AEGetParamPtr(const AppleEvent *theAppleEvent, AEKeyword theAEKeyword, DescType desiredType,
                    DescType *actualType, void *dataPtr, Size maximumSize, Size *actualSize);
#define AEPutKeyDesc AEPutParamDesc
#define AEPutKeyPtr AEPutParamPtr
#define AEGetKeyDesc AEGetParamDesc
#define AEGetKeyPtr AEGetParamPtr

OSErr AECreateAppleEvent(AEEventClass theAEEventClass, AEEventID theAEEventID,
                         const AEAddressDesc *target, AEReturnID returnID,
                         AETransactionID transactionID, AppleEvent *result);
// keyEventClassAttr, keyEventIDAttr (typeType), keyAddressAttr, keyReturnIDAttr,
// keyTransactionIDAttr.
OSErr AEGetAttributeDesc(const AppleEvent *theAppleEvent, AEKeyword theAEKeyword,
                         DescType desiredType, AEDesc *result);
OSErr AEGetAttributePtr(const AppleEvent *theAppleEvent, AEKeyword theAEKeyword,
                        DescType desiredType, DescType *typeCode, void *dataPtr, Size maximumSize,
                        Size *actualSize);
// Delivers the event to the process its typeProcessSerialNumber target names
// (Processes.h) and returns at once; with kAENoReply the reply stays empty.
// procNotFound when no such process is registered.
OSErr AESend(const AppleEvent *theAppleEvent, AppleEvent *reply, AESendMode sendMode,
             AESendPriority sendPriority, SInt32 timeOutInTicks, AEIdleUPP idleProc,
             AEFilterUPP filterProc);
