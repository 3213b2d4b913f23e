// A selection as the host hands it over: a list of alias descriptors.
#pragma once

#include "platform/Carbon.h"
#include "tests/support/FilesFixture.h"

#include <string>
#include <vector>

namespace tv::test {

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

}  // namespace tv::test
