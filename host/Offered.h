// What the loaded plug-ins offer now, asked as a file manager asks them:
// for a selection of one item, and for the static menus a representative
// file and a representative folder.
#pragma once

#include "host/MenuModel.h"
#include "host/PlugInHost.h"
#include "host/StaticMenus.h"

#include <string>
#include <vector>

namespace tv::host {

// The plug-ins' menu for a selection of the one item at `path`.
bool OfferedFor(PlugInHost &host, const std::string &path, std::vector<MenuItem> *items, std::string *error);

// What the loaded plug-ins offer now for a representative file and a
// representative folder (made for the purpose in TMPDIR, then removed).
bool CurrentStaticItems(PlugInHost &host, std::vector<StaticItem> *items, std::string *error);

}  // namespace tv::host
