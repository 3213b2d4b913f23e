// The host's view of a command list: item records decoded into a tree, and
// the two ways `tarrovel menu` shows it (for people, and as JSON).
#pragma once

#include "platform/AppleEvents.h"

#include <string>
#include <vector>

namespace tv::host {

struct MenuItem {
  std::string title;     // UTF-8
  SInt32 command = 0;    // when there is no submenu
  UInt32 attributes = 0;
  bool hasSubmenu = false;
  std::vector<MenuItem> submenu;
  bool isSeparator() const { return (attributes & kMenuItemAttrSeparator) != 0; }
};

// Decodes a list of item records (names as typeUnicodeText or typeIntlText).
// false with *error set when a record is malformed.
bool DecodeCommandList(const AEDescList &list, std::vector<MenuItem> *items, std::string *error);
// The exact item records as JSON: "[]" for none.
std::string MenuToJSON(const std::vector<MenuItem> &items);
// A drawing for people: titles, command IDs, separators as lines.
std::string MenuToText(const std::vector<MenuItem> &items);
// The command item whose title (or decimal command ID) is `choice`, searched
// depth first; NULL when there is none. Separators and submenus never match.
const MenuItem *FindCommand(const std::vector<MenuItem> &items, const std::string &choice);
std::string JSONQuote(const std::string &utf8);

}  // namespace tv::host
