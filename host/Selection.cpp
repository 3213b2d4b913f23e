#include "host/Selection.h"

#include "platform/Files.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace tv::host {

bool AddToSelection(AEDescList *list, const std::string &path, std::string *error) {
  AliasHandle alias = nullptr;
  if (TVNewAliasFromPath(path.c_str(), &alias) != noErr || alias == nullptr) {
    *error = path + ": cannot make an alias for it";
    return false;
  }
  OSErr e = AEPutPtr(list, 0, typeAlias, *alias, GetHandleSize(alias));
  DisposeHandle(alias);
  if (e != noErr) {
    *error = path + ": cannot add it to the selection";
    return false;
  }
  return true;
}

bool OnePathSelection(const std::string &path, AEDescList *list, std::string *error) {
  if (AECreateList(nullptr, 0, false, list) != noErr) {
    *error = "cannot make the selection";
    return false;
  }
  return AddToSelection(list, path, error);
}

bool Selection::Build(const std::vector<std::string> &paths, std::string *error) {
  if (AECreateList(nullptr, 0, false, &list_) != noErr) {
    *error = "cannot make the selection";
    return false;
  }
  for (const std::string &path : paths) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
      *error = path + ": " + strerror(errno);
      return false;
    }
    if (!AddToSelection(&list_, path, error)) return false;
  }
  return true;
}

}  // namespace tv::host
