// CFURL: a file URL for an absolute POSIX path. Paths are kept as the raw
// bytes the file system uses; only their text form decodes them.
#include "platform/cf/CFInternal.h"
#include "platform/cf/CFStringEncodings.h"

#include <cstring>
#include <functional>

bool __CFURL::Equal(const TVCFObject &other) const {
  return path == static_cast<const __CFURL &>(other).path;
}

CFHashCode __CFURL::Hash() const { return std::hash<std::string>{}(path); }

std::u16string __CFURL::Describe() const {
  return u"file://" + tv::cf::DecodeUTF8Lossy(path) + (isDirectory && path != "/" ? u"/" : u"");
}

namespace tv::cf {

// The path without trailing "/" (except "/" itself); empty when it is not an
// absolute path usable as a C string.
std::string NormalizedFilePath(std::string_view bytes) {
  // A length that counts the C string's terminator is forgiven; a NUL inside is not.
  while (!bytes.empty() && bytes.back() == '\0') bytes.remove_suffix(1);
  if (bytes.empty() || bytes[0] != '/' || bytes.find('\0') != std::string_view::npos) return {};
  while (bytes.size() > 1 && bytes.back() == '/') bytes.remove_suffix(1);
  return std::string(bytes);
}

}  // namespace tv::cf

CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef, const UInt8 *buffer,
                                                 CFIndex bufLen, Boolean isDirectory) {
  if (!buffer || bufLen <= 0) return nullptr;
  std::string path;
  try {
    path = tv::cf::NormalizedFilePath(
        std::string_view(reinterpret_cast<const char *>(buffer), size_t(bufLen)));
  } catch (const std::exception &) {
    return nullptr;
  }
  if (path.empty()) return nullptr;
  __CFURL *url = tv::cf::New<__CFURL>();
  if (!url) return nullptr;
  url->path = std::move(path);
  url->isDirectory = isDirectory;
  return url;
}

CFStringRef CFURLCopyFileSystemPath(CFURLRef url, CFURLPathStyle style) {
  const __CFURL *u = tv::cf::As<__CFURL>(url, tv::cf::kURLTypeID);
  if (!u || style != kCFURLPOSIXPathStyle) return nullptr;
  // A name that is not UTF-8 still shows, with U+FFFD for the bytes that are not.
  return tv::cf::CreateStringFromUTF8Lossy(u->path);
}

Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean, UInt8 *buffer, CFIndex maxBufLen) {
  const __CFURL *u = tv::cf::As<__CFURL>(url, tv::cf::kURLTypeID);
  if (!u || !buffer || maxBufLen <= 0 || u->path.size() + 1 > size_t(maxBufLen)) return false;
  std::memcpy(buffer, u->path.c_str(), u->path.size() + 1);
  return true;
}
