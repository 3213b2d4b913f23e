// Basic Carbon-style types and status codes shared by the plug-in, the host
// and the platform library.
#pragma once

#include <cstddef>
#include <cstdint>

typedef uint8_t UInt8;
typedef int8_t SInt8;
typedef uint16_t UInt16;
typedef int16_t SInt16;
typedef uint32_t UInt32;
typedef int32_t SInt32;
typedef uint64_t UInt64;
typedef int64_t SInt64;
typedef unsigned char Boolean;
typedef int32_t OSStatus;
typedef int16_t OSErr;
typedef uint32_t FourCharCode;
typedef FourCharCode OSType;
typedef FourCharCode ResType;
typedef uint16_t UniChar;
typedef uint32_t UniCharCount;
typedef uint32_t ItemCount;
typedef uint32_t OptionBits;
typedef long Size;
typedef char *Ptr;
typedef Ptr *Handle;
typedef SInt16 ScriptCode;
typedef SInt16 LangCode;
typedef UInt32 TextEncoding;
typedef unsigned char Str255[256];
typedef unsigned char *StringPtr;
typedef SInt32 HRESULT;
typedef void *LPVOID;

// A four-character code: its bytes, from the most significant, are the characters.
constexpr FourCharCode FOUR_CHAR_CODE(const char (&s)[5]) {
  return (FourCharCode(UInt8(s[0])) << 24) | (FourCharCode(UInt8(s[1])) << 16) |
         (FourCharCode(UInt8(s[2])) << 8) | FourCharCode(UInt8(s[3]));
}

enum : OSStatus {
  noErr = 0,
  dskFulErr = -34,
  nsvErr = -35,
  ioErr = -36,
  bdNamErr = -37,
  fnOpnErr = -38,
  eofErr = -39,
  tmfoErr = -42,
  fnfErr = -43,
  wPrErr = -44,
  fLckdErr = -45,
  dupFNErr = -48,
  opWrErr = -49,
  paramErr = -50,
  rfNumErr = -51,
  permErr = -54,
  wrPermErr = -61,
  memFullErr = -108,
  nilHandleErr = -109,
  dirNFErr = -120,
  diffVolErr = -123,
  userCanceledErr = -128,
  resFNotFound = -193,
  procNotFound = -600,
  notAFileErr = -1302,
  errFSBadFSRef = -1401,
  errFSBadForkName = -1403,
  errFSBadBuffer = -1404,
  errFSBadForkRef = -1405,
  errFSBadInfoBitmap = -1406,
  errFSBadPosMode = -1408,
  errFSBadAllocFlags = -1409,
  errFSNoMoreItems = -1417,
  errFSBadItemCount = -1418,
  errFSBadIteratorFlags = -1419,
  errFSRefsDifferent = -1420,
  errFSForkExists = -1421,
  errFSBadIteratorRef = -1424,
  errAECoercionFail = -1700,
  errAEDescNotFound = -1701,
  errAECorruptData = -1702,
  errAEWrongDataType = -1703,
  errAENotAEDesc = -1704,
  errAEBadListItem = -1705,
  errAENotAppleEvent = -1707,
  errAEEventNotHandled = -1708,
  errAEIllegalIndex = -1719,
  afpAccessDenied = -5000,
  afpObjectTypeErr = -5025,
  gestaltUndefSelectorErr = -5551,
  kTextUnsupportedEncodingErr = -8738,
};

// COM-style results of QueryInterface.
constexpr HRESULT S_OK = 0;
constexpr HRESULT E_NOINTERFACE = HRESULT(0x80000004u);
