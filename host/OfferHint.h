// How an item that is not offered for a selection would be: where the loaded
// plug-ins offer it for a representative file and folder now, or, for an item
// that a setting hides, the toggle that shows it as its bundle declares. No
// item is ever chosen to find out: a plug-in's command may do anything.
//
// The declaration, in the bundle's Info.plist (titles are keys of its string
// tables, as its menu titles are, so that the hint reads in any language):
//
//   <key>TVItemsShownByToggles</key>
//   <array>
//     <dict>
//       <key>TVItemTitle</key>      <string>Zap Data Fork...</string>
//       <key>TVItemCommandID</key>  <integer>2000</integer>  (optional)
//       <key>TVItemOfferedFor</key> <array><string>files</string></array>
//       <key>TVToggleTitle</key>    <string>Show Zap Data Fork Menu</string>
//     </dict>
//   </array>
//
// TVItemOfferedFor holds "files", "folders" or both. An entry that is not
// well formed is left out.
#pragma once

#include "host/PlugInHost.h"
#include "host/StaticMenus.h"

#include <string>
#include <vector>

namespace tv::host {

// The info dictionary key of the declaration.
inline constexpr const char *kItemsShownByTogglesKey = "TVItemsShownByToggles";

// One declared item and its toggle, each titled in every language of the
// bundles, the user's own first.
struct ToggledItem {
  std::vector<std::string> titles;
  SInt32 command = 0;  // 0: none declared
  bool forFiles = false;
  bool forFolders = false;
  std::vector<std::string> toggleTitles;
};

// The hint for `choice` (a title or a decimal command ID): where it is offered
// in `now`, or else where the declared item it names is offered once its
// toggle, which must be in `now`, is chosen. "" when neither.
std::string OfferHint(const std::string &choice, const std::vector<StaticItem> &now,
                      const std::vector<ToggledItem> &declared);

// The dialog that answers `choice` when it is not offered, in `language`
// (Japanese for "ja", else English): the message, and an explanation made of
// the hint ("" for none), a word that a file manager's static menu may be
// out of date and how to refresh it, and `offered` (lines "\n• title [ID]",
// "" for nothing).
struct NotOfferedText {
  std::string message;
  std::string explanation;
};
NotOfferedText NotOfferedDialog(const std::string &language, const std::string &choice, const std::string &hint,
                                const std::string &offered);

// The items the loaded bundles declare shown by a toggle.
std::vector<ToggledItem> DeclaredToggledItems(PlugInHost &host);

// OfferHint for what the loaded plug-ins offer now and what they declare.
// Asks them for their menus only: nothing is chosen, no process started.
std::string HowToOffer(PlugInHost &host, const std::string &choice);

}  // namespace tv::host
