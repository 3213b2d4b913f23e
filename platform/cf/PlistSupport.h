// Small helpers over libplist for bundles and preferences.
#pragma once

#include "platform/CoreFoundation.h"

#include <plist/plist.h>

#include <functional>
#include <memory>
#include <string>

namespace tv::cf {

struct PlistDeleter {
  void operator()(void *node) const { plist_free(static_cast<plist_t>(node)); }
};
// Owns a plist node tree.
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

// The tree of an XML or binary property list; NULL when the bytes are not one.
PlistPtr ParsePlist(const std::string &bytes);
// A string node's value; false for NULL or any other node.
bool PlistString(plist_t node, std::string *out);
// Calls visit for each entry of a dictionary, in the order of the file.
void ForEachDictItem(plist_t dict, const std::function<void(const std::string &key, plist_t value)> &visit);

// The node as CF objects (see CFBundleGetValueForInfoDictionaryKey for the
// types); a new reference, or NULL for the types left out. Array items and
// dictionary entries of those types are left out, the rest kept.
CFTypeRef CreateFromPlist(plist_t node);

}  // namespace tv::cf
