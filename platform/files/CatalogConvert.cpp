#include "platform/files/CatalogConvert.h"

#include <cstring>

namespace tv::files {

UTCDateTime UTCDateFromTimespec(const struct timespec &t) {
  UTCDateTime d{0, 0, 0};
  int64_t seconds = int64_t(t.tv_sec) + kSecondsFrom1904To1970;
  if (seconds < 0) return d;
  uint64_t s = uint64_t(seconds);
  if (s > 0xFFFFFFFFFFFFull) {
    d.highSeconds = 0xFFFF;
    d.lowSeconds = 0xFFFFFFFF;
    d.fraction = 0xFFFF;
    return d;
  }
  d.highSeconds = UInt16(s >> 32);
  d.lowSeconds = UInt32(s);
  uint64_t ns = t.tv_nsec < 0 ? 0 : uint64_t(t.tv_nsec) % 1000000000u;
  d.fraction = UInt16((ns << 16) / 1000000000u);
  return d;
}

struct timespec TimespecFromUTCDate(const UTCDateTime &d) {
  int64_t seconds = int64_t((uint64_t(d.highSeconds) << 32) | d.lowSeconds);
  struct timespec t {};
  t.tv_sec = time_t(seconds - kSecondsFrom1904To1970);
  t.tv_nsec = 0;
  return t;
}

namespace {

// Widths of the fields of the four FinderInfo halves, in order. Every field
// is swapped on its own; the native structs have no padding, so the offsets
// are the same in both forms.
constexpr int kFileInfo[] = {4, 4, 2, 2, 2, 2};            // type, creator, flags, v, h, reserved
constexpr int kFolderInfo[] = {2, 2, 2, 2, 2, 2, 2, 2};    // rect, flags, v, h, reserved
constexpr int kExtFileInfo[] = {2, 2, 2, 2, 2, 2, 4};      // reserved1[4], xflags, reserved2, put-away
constexpr int kExtFolderInfo[] = {2, 2, 4, 2, 2, 4};       // scroll v, h, reserved1, xflags, reserved2, put-away
static_assert(sizeof(FileInfo) == 16 && sizeof(FolderInfo) == 16);
static_assert(sizeof(ExtendedFileInfo) == 16 && sizeof(ExtendedFolderInfo) == 16);

template <size_t N>
void SwapFields(const UInt8 *from, UInt8 *to, const int (&widths)[N], bool toNative) {
  // Most items carry no FinderInfo at all: zeroes stay zeroes either way.
  static constexpr UInt8 kZero[16] = {};
  if (std::memcmp(from, kZero, sizeof kZero) == 0) {
    std::memset(to, 0, sizeof kZero);
    return;
  }
  size_t offset = 0;
  for (int width : widths) {
    uint32_t value = 0;
    if (toNative) {
      for (int i = 0; i < width; i++) value = (value << 8) | from[offset + i];
      if (width == 4) std::memcpy(to + offset, &value, 4);
      else {
        uint16_t v16 = uint16_t(value);
        std::memcpy(to + offset, &v16, 2);
      }
    } else {
      if (width == 4) std::memcpy(&value, from + offset, 4);
      else {
        uint16_t v16;
        std::memcpy(&v16, from + offset, 2);
        value = v16;
      }
      for (int i = width - 1; i >= 0; i--) {
        to[offset + i] = UInt8(value);
        value >>= 8;
      }
    }
    offset += size_t(width);
  }
}

}  // namespace

void FinderInfoToNative(const UInt8 stored[32], bool isFolder, UInt8 finderInfo[16], UInt8 extFinderInfo[16]) {
  if (isFolder) {
    SwapFields(stored, finderInfo, kFolderInfo, true);
    SwapFields(stored + 16, extFinderInfo, kExtFolderInfo, true);
  } else {
    SwapFields(stored, finderInfo, kFileInfo, true);
    SwapFields(stored + 16, extFinderInfo, kExtFileInfo, true);
  }
}

void FinderInfoToStored(const UInt8 finderInfo[16], const UInt8 extFinderInfo[16], bool isFolder,
                        UInt8 stored[32]) {
  if (isFolder) {
    SwapFields(finderInfo, stored, kFolderInfo, false);
    SwapFields(extFinderInfo, stored + 16, kExtFolderInfo, false);
  } else {
    SwapFields(finderInfo, stored, kFileInfo, false);
    SwapFields(extFinderInfo, stored + 16, kExtFileInfo, false);
  }
}

void UniStrFromName(std::string_view name, HFSUniStr255 *out) {
  UInt16 n = 0;
  auto put = [&](uint32_t cp) {
    if (cp >= 0x10000) {
      if (n + 2 > 255) return false;
      cp -= 0x10000;
      out->unicode[n++] = UniChar(0xD800 + (cp >> 10));
      out->unicode[n++] = UniChar(0xDC00 + (cp & 0x3FF));
      return true;
    }
    if (n + 1 > 255) return false;
    out->unicode[n++] = UniChar(cp);
    return true;
  };
  const auto *s = reinterpret_cast<const unsigned char *>(name.data());
  size_t i = 0, len = name.size();
  while (i < len) {
    unsigned char c = s[i];
    uint32_t cp = 0xFFFD;
    size_t extra = c < 0x80 ? 0 : (c >> 5) == 0x6 ? 1 : (c >> 4) == 0xE ? 2 : (c >> 3) == 0x1E ? 3 : 9;
    size_t used = 1;
    if (extra == 0) {
      cp = c;
    } else if (extra <= 3) {
      uint32_t v = c & (0x3F >> extra);
      bool ok = true;
      for (size_t k = 1; ok && k <= extra; k++) {
        if (i + k >= len || (s[i + k] & 0xC0) != 0x80) ok = false;
        else v = (v << 6) | (s[i + k] & 0x3F);
      }
      static const uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
      if (ok && v >= kMin[extra] && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) {
        cp = v;
        used = extra + 1;
      }
    }
    if (!put(cp)) break;
    i += used;
  }
  out->length = n;
}

}  // namespace tv::files
