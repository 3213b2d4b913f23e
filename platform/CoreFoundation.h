// The CoreFoundation subset of the platform: reference-counted objects shared by
// the plug-in and the host.
//
// Ownership follows the CoreFoundation naming rule: a function whose name holds
// Create or Copy returns one reference that the caller releases with CFRelease;
// a Get function returns a borrowed reference that stays valid while its owner
// lives. Constant objects (CFSTR strings, kCFBoolean values, constant UUIDs)
// are never freed; CFRetain/CFRelease on them are harmless.
#pragma once

#include "MacTypes.h"

#include <cstdarg>
#include <type_traits>

typedef const void *CFTypeRef;
typedef long CFIndex;
typedef unsigned long CFTypeID;
typedef unsigned long CFHashCode;
typedef UInt32 CFStringEncoding;
typedef UInt32 CFOptionFlags;
typedef double CFAbsoluteTime;
typedef double CFTimeInterval;

typedef const struct __CFAllocator *CFAllocatorRef;
typedef const struct __CFString *CFStringRef;
typedef struct __CFString *CFMutableStringRef;
typedef const struct __CFArray *CFArrayRef;
typedef struct __CFArray *CFMutableArrayRef;
typedef const struct __CFData *CFDataRef;
typedef struct __CFData *CFMutableDataRef;
typedef const struct __CFBoolean *CFBooleanRef;
typedef const struct __CFUUID *CFUUIDRef;
typedef struct __CFBundle *CFBundleRef;
typedef struct __CFBundle *CFPlugInRef;
typedef const struct __CFURL *CFURLRef;
typedef const struct __CFDictionary *CFDictionaryRef;
typedef const struct __CFNumber *CFNumberRef;

struct CFRange {
  CFIndex location;
  CFIndex length;
};
inline CFRange CFRangeMake(CFIndex loc, CFIndex len) { return CFRange{loc, len}; }

constexpr CFAllocatorRef kCFAllocatorDefault = nullptr;
constexpr CFIndex kCFNotFound = -1;
constexpr CFAbsoluteTime kCFAbsoluteTimeIntervalSince1904 = 3061152000.0;
constexpr CFAbsoluteTime kCFAbsoluteTimeIntervalSince1970 = 978307200.0;

// ---- Base ------------------------------------------------------------------

CFTypeRef CFRetain(CFTypeRef cf);          // cf must not be NULL
void CFRelease(CFTypeRef cf);              // cf must not be NULL
CFIndex CFGetRetainCount(CFTypeRef cf);
Boolean CFEqual(CFTypeRef a, CFTypeRef b);  // same type and same content
CFHashCode CFHash(CFTypeRef cf);
CFTypeID CFGetTypeID(CFTypeRef cf);
CFTypeID CFStringGetTypeID();
CFTypeID CFArrayGetTypeID();
CFTypeID CFDictionaryGetTypeID();
CFTypeID CFNumberGetTypeID();
CFTypeID CFDataGetTypeID();
CFTypeID CFBooleanGetTypeID();
CFTypeID CFUUIDGetTypeID();
CFTypeID CFBundleGetTypeID();
CFTypeID CFURLGetTypeID();

// ---- Strings (UTF-16 content) ------------------------------------------------

enum : CFStringEncoding {
  kCFStringEncodingMacRoman = 0,
  kCFStringEncodingISOLatin1 = 0x0201,
  kCFStringEncodingASCII = 0x0600,
  kCFStringEncodingUnicode = 0x0100,
  kCFStringEncodingUTF16 = 0x0100,
  kCFStringEncodingUTF8 = 0x08000100,
  kCFStringEncodingUTF16BE = 0x10000100,
  kCFStringEncodingUTF16LE = 0x14000100,
  kCFStringEncodingInvalidId = 0xffffffffu,
};

// A constant string for a literal; it lives as long as the process.
CFStringRef __CFStringMakeConstantString(const char *utf8);
#define CFSTR(s) __CFStringMakeConstantString("" s "")

CFStringRef CFStringCreateWithCString(CFAllocatorRef alloc, const char *cStr,
                                      CFStringEncoding encoding);
CFStringRef CFStringCreateWithCharacters(CFAllocatorRef alloc, const UniChar *chars,
                                         CFIndex numChars);
CFStringRef CFStringCreateWithBytes(CFAllocatorRef alloc, const UInt8 *bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean isExternalRepresentation);
CFStringRef CFStringCreateCopy(CFAllocatorRef alloc, CFStringRef s);
CFIndex CFStringGetLength(CFStringRef s);
UniChar CFStringGetCharacterAtIndex(CFStringRef s, CFIndex idx);
void CFStringGetCharacters(CFStringRef s, CFRange range, UniChar *buffer);
// Converts range to encoding. Characters the encoding lacks become lossByte, or
// stop the conversion when lossByte is 0. With a NULL buffer only measures.
// Returns the number of characters converted; *usedBufLen gets the byte count.
CFIndex CFStringGetBytes(CFStringRef s, CFRange range, CFStringEncoding encoding, UInt8 lossByte,
                         Boolean isExternalRepresentation, UInt8 *buffer, CFIndex maxBufLen,
                         CFIndex *usedBufLen);
Boolean CFStringGetCString(CFStringRef s, char *buffer, CFIndex bufferSize,
                           CFStringEncoding encoding);
CFStringEncoding CFStringGetSystemEncoding();
CFMutableStringRef CFStringCreateMutable(CFAllocatorRef alloc, CFIndex maxLength);
void CFStringAppend(CFMutableStringRef s, CFStringRef appended);
void CFStringAppendCString(CFMutableStringRef s, const char *cStr, CFStringEncoding encoding);

// ---- Formatting ------------------------------------------------------------
//
// CFStringCreateWithFormat takes its arguments with their types, so that a
// format string from a translation is checked against what the code passed:
// a conversion that names a missing argument or one of another kind (an %@
// given an integer, a %d given a string) makes the call return NULL instead of
// reading stray memory. Supported: %@ %d %i %u %x %X %c %s %f %g %% with
// flags, width, precision, the length modifiers h l ll z, and positional
// forms such as %1$@. Arguments a format does not use are ignored.

struct CFFormatArg {
  enum Kind : UInt8 { kSigned, kUnsigned, kDouble, kCString, kObject, kPointer } kind;
  union {
    long long i;
    unsigned long long u;
    double d;
    const char *s;
    const void *p;
  };
};

namespace tv::cf::format_detail {
template <class T> CFFormatArg MakeArg(T v) {
  CFFormatArg a{};
  using D = std::decay_t<T>;
  if constexpr (std::is_same_v<D, bool>) {
    a.kind = CFFormatArg::kSigned; a.i = v ? 1 : 0;
  } else if constexpr (std::is_integral_v<D> && std::is_signed_v<D>) {
    a.kind = CFFormatArg::kSigned; a.i = static_cast<long long>(v);
  } else if constexpr (std::is_integral_v<D> || std::is_enum_v<D>) {
    a.kind = CFFormatArg::kUnsigned; a.u = static_cast<unsigned long long>(v);
  } else if constexpr (std::is_floating_point_v<D>) {
    a.kind = CFFormatArg::kDouble; a.d = static_cast<double>(v);
  } else if constexpr (std::is_same_v<D, const char *> || std::is_same_v<D, char *>) {
    a.kind = CFFormatArg::kCString; a.s = v;
  } else if constexpr (std::is_same_v<D, std::nullptr_t>) {
    a.kind = CFFormatArg::kPointer; a.p = nullptr;
  } else if constexpr (std::is_pointer_v<D> &&
                       (std::is_class_v<std::remove_cv_t<std::remove_pointer_t<D>>> ||
                        std::is_void_v<std::remove_cv_t<std::remove_pointer_t<D>>>)) {
    // CF object references (CFStringRef, CFTypeRef, ...) are opaque struct pointers.
    a.kind = CFFormatArg::kObject; a.p = static_cast<const void *>(v);
  } else {
    static_assert(sizeof(D) == 0, "unsupported CFStringCreateWithFormat argument");
  }
  return a;
}
}  // namespace tv::cf::format_detail

// The checked formatter behind CFStringCreateWithFormat; NULL when the format
// does not fit the arguments.
CFStringRef CFStringCreateWithFormatArgs(CFAllocatorRef alloc, CFDictionaryRef formatOptions,
                                         CFStringRef format, const CFFormatArg *args,
                                         CFIndex argCount);

template <class... Args>
CFStringRef CFStringCreateWithFormat(CFAllocatorRef alloc, CFDictionaryRef formatOptions,
                                     CFStringRef format, Args... args) {
  if constexpr (sizeof...(Args) == 0) {
    return CFStringCreateWithFormatArgs(alloc, formatOptions, format, nullptr, 0);
  } else {
    const CFFormatArg list[] = {tv::cf::format_detail::MakeArg(args)...};
    return CFStringCreateWithFormatArgs(alloc, formatOptions, format, list,
                                        CFIndex(sizeof...(Args)));
  }
}

// ---- Arrays ----------------------------------------------------------------

typedef const void *(*CFArrayRetainCallBack)(CFAllocatorRef, const void *);
typedef void (*CFArrayReleaseCallBack)(CFAllocatorRef, const void *);
typedef CFStringRef (*CFArrayCopyDescriptionCallBack)(const void *);
typedef Boolean (*CFArrayEqualCallBack)(const void *, const void *);
struct CFArrayCallBacks {
  CFIndex version;
  CFArrayRetainCallBack retain;
  CFArrayReleaseCallBack release;
  CFArrayCopyDescriptionCallBack copyDescription;
  CFArrayEqualCallBack equal;
};
extern const CFArrayCallBacks kCFTypeArrayCallBacks;

CFArrayRef CFArrayCreate(CFAllocatorRef alloc, const void **values, CFIndex numValues,
                         const CFArrayCallBacks *callBacks);
CFMutableArrayRef CFArrayCreateMutable(CFAllocatorRef alloc, CFIndex capacity,
                                       const CFArrayCallBacks *callBacks);
CFIndex CFArrayGetCount(CFArrayRef a);
const void *CFArrayGetValueAtIndex(CFArrayRef a, CFIndex idx);
void CFArrayAppendValue(CFMutableArrayRef a, const void *value);
void CFArrayRemoveValueAtIndex(CFMutableArrayRef a, CFIndex idx);
void CFArrayRemoveAllValues(CFMutableArrayRef a);

// ---- Data ------------------------------------------------------------------

CFDataRef CFDataCreate(CFAllocatorRef alloc, const UInt8 *bytes, CFIndex length);
CFMutableDataRef CFDataCreateMutable(CFAllocatorRef alloc, CFIndex capacity);
CFIndex CFDataGetLength(CFDataRef d);
const UInt8 *CFDataGetBytePtr(CFDataRef d);
UInt8 *CFDataGetMutableBytePtr(CFMutableDataRef d);
void CFDataAppendBytes(CFMutableDataRef d, const UInt8 *bytes, CFIndex length);
void CFDataSetLength(CFMutableDataRef d, CFIndex length);

// ---- Booleans --------------------------------------------------------------

extern const CFBooleanRef kCFBooleanTrue;
extern const CFBooleanRef kCFBooleanFalse;
Boolean CFBooleanGetValue(CFBooleanRef b);

// ---- UUIDs -----------------------------------------------------------------

struct CFUUIDBytes {
  UInt8 byte0, byte1, byte2, byte3, byte4, byte5, byte6, byte7, byte8, byte9, byte10, byte11,
      byte12, byte13, byte14, byte15;
};
typedef CFUUIDBytes REFIID;

// Returns the one constant object for these bytes; never freed, not to be released.
CFUUIDRef CFUUIDGetConstantUUIDWithBytes(CFAllocatorRef alloc, UInt8 b0, UInt8 b1, UInt8 b2,
                                         UInt8 b3, UInt8 b4, UInt8 b5, UInt8 b6, UInt8 b7,
                                         UInt8 b8, UInt8 b9, UInt8 b10, UInt8 b11, UInt8 b12,
                                         UInt8 b13, UInt8 b14, UInt8 b15);
CFUUIDRef CFUUIDCreateFromUUIDBytes(CFAllocatorRef alloc, CFUUIDBytes bytes);
// "68753A44-4D6F-1226-9C60-0050E4C00067"; NULL when the text is not a UUID.
CFUUIDRef CFUUIDCreateFromString(CFAllocatorRef alloc, CFStringRef uuidStr);
CFStringRef CFUUIDCreateString(CFAllocatorRef alloc, CFUUIDRef uuid);
CFUUIDBytes CFUUIDGetUUIDBytes(CFUUIDRef uuid);

// ---- Dictionaries --------------------------------------------------------------
// Immutable, made by the library alone (from a bundle's Info.plist).

CFIndex CFDictionaryGetCount(CFDictionaryRef d);
// The value for key (compared with CFEqual), borrowed; NULL when there is none.
const void *CFDictionaryGetValue(CFDictionaryRef d, const void *key);

// Integers, made by the library alone (from a bundle's Info.plist).
enum CFNumberType { kCFNumberSInt32Type = 3, kCFNumberSInt64Type = 4 };
// Stores the number as theType in *valuePtr; false when it does not fit (or
// for an unknown type), *valuePtr then unchanged.
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void *valuePtr);

// ---- Bundles ---------------------------------------------------------------

// A bundle the host has opened (see HostServices.h); borrowed, or NULL.
CFBundleRef CFBundleGetBundleWithIdentifier(CFStringRef bundleID);
CFStringRef CFBundleGetIdentifier(CFBundleRef bundle);  // borrowed
// The value of key in Info.plist, borrowed for the bundle's lifetime: a
// CFString, CFBoolean, CFNumber (integers), CFData, or a CFArray or
// CFDictionary of them; NULL when the key is absent or holds something else
// (a real number, a date).
CFTypeRef CFBundleGetValueForInfoDictionaryKey(CFBundleRef bundle, CFStringRef key);
// Looks key up in Resources/<language>.lproj/<tableName or Localizable>.strings
// of the user's language (LANGUAGE, LC_ALL, LC_MESSAGES, LANG), then of en.
// Returns a new string: the translation, else value (when given), else key.
// A NULL bundle yields value, else key, else NULL.
CFStringRef CFBundleCopyLocalizedString(CFBundleRef bundle, CFStringRef key, CFStringRef value,
                                        CFStringRef tableName);

// ---- Preferences -------------------------------------------------------------
// Per user and application ID, in ${XDG_CONFIG_HOME:-$HOME/.config}/tarrovel/<ID>.plist.

// The value of key as a boolean; *keyExistsAndHasValidFormat tells whether the
// key exists and holds a boolean.
Boolean CFPreferencesGetAppBooleanValue(CFStringRef key, CFStringRef applicationID,
                                        Boolean *keyExistsAndHasValidFormat);
// A new reference to the stored value (CFBoolean, CFString or CFData), or NULL.
CFTypeRef CFPreferencesCopyAppValue(CFStringRef key, CFStringRef applicationID);
// Stores value (CFBoolean, CFString or CFData; NULL removes the key) and writes
// the file atomically at once.
void CFPreferencesSetAppValue(CFStringRef key, CFTypeRef value, CFStringRef applicationID);
Boolean CFPreferencesAppSynchronize(CFStringRef applicationID);

// ---- Plug-in instances ---------------------------------------------------------

void CFPlugInAddInstanceForFactory(CFUUIDRef factoryID);
void CFPlugInRemoveInstanceForFactory(CFUUIDRef factoryID);

// ---- URLs ------------------------------------------------------------------

enum CFURLPathStyle { kCFURLPOSIXPathStyle = 0 };
// A file URL from an absolute POSIX path (UTF-8); NULL for anything else.
CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef alloc, const UInt8 *buffer,
                                                 CFIndex bufLen, Boolean isDirectory);
CFStringRef CFURLCopyFileSystemPath(CFURLRef url, CFURLPathStyle style);
// Copies the path as UTF-8 with a terminating 0; false when it does not fit.
Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean resolveAgainstBase, UInt8 *buffer,
                                         CFIndex maxBufLen);
