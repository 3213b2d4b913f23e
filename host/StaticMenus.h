// The menus of file managers that only read static files: Thunar's custom
// actions (uca.xml) and Dolphin's service menus. Their content is what the
// plug-in offers for a representative file and a representative folder,
// taken together; everything here is pure, the files are written by Install.
#pragma once

#include "host/MenuModel.h"

#include <string>
#include <vector>

namespace tv::host {

struct StaticItem {
  std::string title;  // UTF-8, as offered
  SInt32 command = 0;
  bool separator = false;
  bool forFiles = false;    // offered when a file is selected
  bool forFolders = false;  // offered when a folder is selected
  // The title in each language of the bundle, (language, title), so that
  // every user reads the menu in their own language; empty: `title` alone.
  std::vector<std::pair<std::string, std::string>> titles;
};

// The items offered for a file and those offered for a folder, merged into
// one list keeping the order of each (an item offered for both appears once,
// with both conditions). Submenus are flattened: the static menus put every
// item inside their own "Tarrovel" submenu.
std::vector<StaticItem> StaticItemsFor(const std::vector<MenuItem> &forFile, const std::vector<MenuItem> &forFolder);

// Adds to `items` their titles in `language`, from the same items asked for
// in that language (matched by command ID).
void AddTitles(std::vector<StaticItem> *items, const std::string &language, const std::vector<StaticItem> &inLanguage);

// The title a static item asks for when chosen (`tarrovel run --gui --
// TITLE PATH...`): the English one where there is one. Asking by title, not
// by command ID, means that a stale item (a toggle that has flipped since the
// menu was written) is refused as not offered instead of doing the opposite.
std::string CommandTitle(const StaticItem &item);

// Dolphin: share/kio/servicemenus/tarrovel.desktop for the command at
// `tarrovel` (absolute path). Conditions apply to a whole file in this
// format, so the file takes the union of the items' conditions.
std::string DolphinServiceMenu(const std::vector<StaticItem> &items, const std::string &tarrovel);

// Dolphin, each item shown only where the plug-in offers it: one file for
// the items offered for files alone, one for folders alone, one for both
// (tarrovel.desktop), each with the same X-KDE-Submenu, which Dolphin shows
// as one submenu (it draws no separator that starts a file's actions).
// Always these three names, in this order; a file without items has no
// actions, so that the set of files never changes.
struct ServiceMenuFile {
  std::string name;  // in share/kio/servicemenus/
  std::string content;
};
std::vector<ServiceMenuFile> DolphinServiceMenus(const std::vector<StaticItem> &items, const std::string &tarrovel);

// Thunar: one of our <action> elements exactly as written (from <action> to
// </action>), and its unique-id. Which elements are ours is known only from
// what install recorded: a user's own action may use any id at all.
struct UcaAction {
  std::string id;
  std::string element;
};
// Our actions for the command at `tarrovel` (absolute path).
std::vector<UcaAction> UcaActionsFor(const std::vector<StaticItem> &items, const std::string &tarrovel);
// The elements as they are merged: each on lines of its own.
std::string UcaActionsText(const std::vector<UcaAction> &actions);
// The actions of a text made by UcaActionsText (a record read back); false
// with *error set when it is not such a text.
bool UcaActionsFromText(const std::string &text, std::vector<UcaAction> *actions, std::string *error);
// A uca.xml holding nothing but `actions`.
std::string UcaDocument(const std::vector<UcaAction> &actions);
// `existing` with the `previous` actions that are still there byte for byte
// replaced by `actions` (where the first of them stood, otherwise before
// </actions>); every other byte is kept. false with *error set when
// `existing` does not parse as a uca.xml (any well-formed one does).
bool UcaMerge(const std::string &existing, const std::vector<UcaAction> &previous,
              const std::vector<UcaAction> &actions, std::string *merged, std::string *error);
// `existing` without the `previous` actions; every other byte kept. false
// with *error when it does not parse.
bool UcaRemove(const std::string &existing, const std::vector<UcaAction> &previous, std::string *without,
               std::string *error);
// Whether the uca.xml still holds any of the `previous` actions byte for byte
// (false when it does not parse).
bool UcaHasAny(const std::string &existing, const std::vector<UcaAction> &previous);

}  // namespace tv::host
