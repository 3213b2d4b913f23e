// The selection as a file manager hands it over to the plug-ins: a list of
// alias descriptors, one per item.
#pragma once

#include "platform/AppleEvents.h"

#include <string>
#include <vector>

namespace tv::host {

// Adds an alias of the item at `path` to `list`; false with *error
// ("PATH: cannot make an alias for it", "PATH: cannot add it to the selection").
bool AddToSelection(AEDescList *list, const std::string &path, std::string *error);

// A new selection of the one item at `path` in *list. The caller disposes of
// *list (AEDisposeDesc), whatever the result.
bool OnePathSelection(const std::string &path, AEDescList *list, std::string *error);

// A selection of the items the command line names, disposed of with it.
class Selection {
 public:
  Selection() = default;
  ~Selection() { AEDisposeDesc(&list_); }
  Selection(const Selection &) = delete;
  Selection &operator=(const Selection &) = delete;
  // false with *error ("PATH: why") when a path is not there or cannot be added.
  bool Build(const std::vector<std::string> &paths, std::string *error);
  AEDesc &desc() { return list_; }

 private:
  AEDescList list_ = {typeNull, nullptr};
};

}  // namespace tv::host
