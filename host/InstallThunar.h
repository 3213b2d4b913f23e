// Thunar's custom actions (uca.xml) for the installer: where ours go, merged
// in as the install list records them, and taken out again. The merge
// itself is StaticMenus'; this is the I/O around it.
#pragma once

#include "host/InstallList.h"
#include "host/InstallPlan.h"
#include "host/StaticMenus.h"

#include <cstdio>
#include <string>
#include <vector>

namespace tv::host {

// The uca.xml Thunar would read for a user who has none: the first default
// that parses, without the actions a system-wide installation (the
// package's, say) listed there, since the user's own copy of them is what
// goes in; else an empty one.
std::string ThunarBase(const InstallPlan &plan);

// The file our actions go into: the uca.xml itself or, when it is a
// symbolic link (a dotfiles manager's), the file it names, changed in place.
bool ThunarTarget(const std::string &uca, std::string *target, bool *absent, std::string *error);

// The records of the actions the list says were merged into `uca`.
std::vector<ManifestEntry> ListedActions(const std::vector<ManifestEntry> &entries, const std::string &uca);

// `existing` with the actions recorded as ours (`previous`) replaced by the
// current ones, and the records of those for the list.
bool MergeActions(const std::string &existing, const std::vector<ManifestEntry> &previous,
                  const std::vector<StaticItem> &items, const std::string &tarrovel, const std::string &uca,
                  std::string *merged, std::vector<ManifestEntry> *records, std::string *error);

// Our actions merged into the uca.xml: *changed is false when it already
// holds them. The list gets the file's entry and the actions' records.
bool PutThunar(const InstallPlan &plan, const std::vector<ManifestEntry> &old, const std::vector<StaticItem> &items,
               std::vector<ManifestEntry> *entries, bool *changed, std::string *error);

// Our actions taken out of the uca.xml of `e`, or the file removed when
// install created it and it holds nothing else.
bool RemoveThunar(const InstallPlan &plan, const std::vector<ManifestEntry> &entries, const ManifestEntry &e,
                  FILE *out, std::string *error);

}  // namespace tv::host
