// The static menus in every language of the loaded bundles, and a title
// given in any of those languages: a file manager's static menu shows each
// user their own language but calls one command line for all of them.
#pragma once

#include "host/Offered.h"
#include "host/PlugInHost.h"
#include "host/StaticMenus.h"

#include <string>
#include <vector>

namespace tv::host {

// The languages the loaded bundles are localized into (their
// Resources/<language>.lproj folders), sorted, each once.
std::vector<std::string> BundleLanguages(PlugInHost &host);

// The string as UTF-8; "" for NULL or anything but a string.
std::string Utf8Of(CFTypeRef value);

// `key` as `bundle`'s string tables give it in the user's language, then in
// each of BundleLanguages, each text once.
std::vector<std::string> LocalizedInEveryLanguage(PlugInHost &host, CFBundleRef bundle, const std::string &key);

// What CurrentStaticItems gives (titles in the user's language), with each
// item's title in every language of the bundles.
bool StaticItemsInEveryLanguage(PlugInHost &host, std::vector<StaticItem> *items, std::string *error);

// The command ID, in decimal, of the item offered for `selection` whose
// title is `title` in one of the bundles' languages; "" when there is none.
// The plug-ins are examined once per language, and once more in the user's
// own at the end, so that the host can go on to Handle.
std::string CommandOfTitleInAnyLanguage(PlugInHost &host, const AEDesc &selection, const std::string &title);

}  // namespace tv::host
