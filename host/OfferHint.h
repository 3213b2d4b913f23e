// How an item that is not offered for a selection would be, learnt from the
// loaded plug-ins alone, so that it holds for any bundle: what they offer for
// a representative file and folder now, and, when the item is not among it,
// what they offer after each of those items is tried in a child process whose
// settings, files and alerts are thrown away.
#pragma once

#include "host/PlugInHost.h"
#include "host/StaticMenus.h"

#include <string>
#include <vector>

namespace tarrovel {

// The hint for `choice` (a title or a decimal command ID): where it is offered
// in `now`, or else where it is offered in `afterToggle`, the offer once the
// item `toggle` has been chosen ("", 0 and {} when no trial brought it in).
// "" when neither offers it.
std::string OfferHint(const std::string &choice, const std::vector<StaticItem> &now, SInt32 toggle,
                      const std::vector<StaticItem> &afterToggle);

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

// OfferHint for what the loaded plug-ins offer now and after the first item
// whose trial brings `choice` in. Changes nothing that lasts: each trial runs
// in a child process with its own settings folder, every alert cancelled.
std::string HowToOffer(PlugInHost &host, const std::string &choice);

}  // namespace tarrovel
