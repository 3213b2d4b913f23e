// The menus of file managers that only read static files: Thunar's custom
// actions (uca.xml) and Dolphin's service menus. Their content is what the
// plug-in offers for a representative file and a representative folder,
// taken together; everything here is pure, the files are written by Install.
#pragma once

#include "host/MenuModel.h"

#include <string>
#include <vector>

namespace tarrovel {

struct StaticItem {
  std::string title;  // UTF-8, as offered
  SInt32 command = 0;
  bool separator = false;
  bool forFiles = false;    // offered when a file is selected
  bool forFolders = false;  // offered when a folder is selected
};

// The items offered for a file and those offered for a folder, merged into
// one list keeping the order of each (an item offered for both appears once,
// with both conditions). Submenus are flattened: the static menus put every
// item inside their own "Tarrovel" submenu.
std::vector<StaticItem> StaticItemsFor(const std::vector<MenuItem> &forFile, const std::vector<MenuItem> &forFolder);

// Dolphin: share/kio/servicemenus/tarrovel.desktop for the command at
// `tarrovel` (absolute path). Conditions apply to a whole file in this
// format, so the file takes the union of the items' conditions.
std::string DolphinServiceMenu(const std::vector<StaticItem> &items, const std::string &tarrovel);

// Thunar: the unique IDs of our actions start with this.
extern const char kUcaIdPrefix[];
// Our <action> elements, each on its own lines.
std::string UcaActions(const std::vector<StaticItem> &items, const std::string &tarrovel);
// A uca.xml holding nothing but `actions`.
std::string UcaDocument(const std::string &actions);
// `existing` with our previous actions replaced by `actions` (where the first
// of ours stood, otherwise before </actions>); every other byte is kept. false
// with *error set when `existing` does not parse as a uca.xml.
bool UcaMerge(const std::string &existing, const std::string &actions, std::string *merged, std::string *error);
// `existing` without our actions; every other byte kept. false with *error
// when it does not parse.
bool UcaRemove(const std::string &existing, std::string *without, std::string *error);
// Whether the uca.xml holds any of our actions (false when it does not parse).
bool UcaHasOurs(const std::string &existing);

}  // namespace tarrovel
