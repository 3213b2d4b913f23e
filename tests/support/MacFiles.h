// Files as a Mac leaves them on a foreign volume, for end-to-end tests.
#pragma once

#include "platform/Carbon.h"
#include "tests/support/Sidecars.h"
#include "tests/support/TestSupport.h"

#include <string>

namespace tv::test {

// A file holding "data of REL" with a 600-byte resource fork in a macOS
// sidecar "._NAME" (which also packs com.apple.quarantine); sidecarName
// names that sidecar when it is not "._" + the file's own name. Returns the
// file's path.
inline std::string WriteMacFile(TempTree &tree, const std::string &rel, bool customIcon = false,
                                const std::string &sidecarName = "") {
  namespace fx = tv::test;
  std::string path = tree.file(rel, "data of " + rel);
  size_t slash = rel.rfind('/');
  std::string dir = slash == std::string::npos ? "" : rel.substr(0, slash + 1);
  std::string name = rel.substr(slash == std::string::npos ? 0 : slash + 1);
  auto info = fx::MakeFinderInfo(FOUR_CHAR_CODE("TEXT"), FOUR_CHAR_CODE("ttxt"), customIcon ? kHasCustomIcon : 0);
  auto bytes = fx::BuildMacOSKernelSidecar(info, fx::TypicalAttributes(), fx::MakeResourceFork(600));
  tree.file(dir + (sidecarName.empty() ? "._" + name : sidecarName), std::string(bytes.begin(), bytes.end()));
  return path;
}

// The logical size of the item's resource fork, as the File Manager sees it.
inline UInt64 ResourceForkSize(const std::string &path) {
  FSRef ref{};
  FSCatalogInfo info{};
  if (FSPathMakeRef(reinterpret_cast<const UInt8 *>(path.c_str()), &ref, nullptr) != noErr ||
      FSGetCatalogInfo(&ref, kFSCatInfoRsrcSizes, &info, nullptr, nullptr, nullptr) != noErr)
    return ~UInt64(0);
  return info.rsrcLogicalSize;
}

inline int Occurrences(const std::string &s, const std::string &what) {
  int n = 0;
  for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) n++;
  return n;
}

}  // namespace tv::test
