// A selection as the host hands it over: a list of alias descriptors.
#pragma once

#include "platform/Carbon.h"

#include <string>
#include <vector>

namespace tvtest {

// The caller disposes of the list with AEDisposeDesc.
inline AEDescList MakeSelection(const std::vector<std::string> &paths) {
  AEDescList list = {typeNull, nullptr};
  AECreateList(nullptr, 0, false, &list);
  for (const std::string &p : paths) {
    AliasHandle alias = nullptr;
    if (TVNewAliasFromPath(p.c_str(), &alias) == noErr) {
      AEPutPtr(&list, 0, typeAlias, *alias, GetHandleSize(alias));
      DisposeHandle(alias);
    }
  }
  return list;
}

inline FSRef RefFor(const std::string &path) {
  FSRef ref = {};
  FSPathMakeRef(reinterpret_cast<const UInt8 *>(path.c_str()), &ref, nullptr);
  return ref;
}

inline std::string PathOf(const FSRef *ref) {
  UInt8 buf[8192];
  return FSRefMakePath(ref, buf, sizeof buf) == noErr ? std::string(reinterpret_cast<char *>(buf)) : std::string();
}

}  // namespace tvtest
