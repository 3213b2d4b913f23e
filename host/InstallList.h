// The install list ("installed"): what `tarrovel install` wrote, so that
// uninstall removes exactly that, and only while it is still as written.
// Each file carries the digest of the bytes install put there; each Thunar
// action merged into a uca.xml carries its unique-id and element as merged.
// Pure: the list is read and written by Install.cpp.
#pragma once

#include <string>
#include <vector>

namespace tv::host {

struct ManifestEntry {
  enum Kind {
    kPrefix,          // the installation prefix (its bin/tarrovel is what the menus call)
    kFolder,          // a folder install created
    kFile,            // a file install wrote (copied or generated)
    kDolphin,         // the Dolphin service menu (a kFile as well, rewritten on toggles)
    kThunar,          // a uca.xml our actions were merged into
    kThunarCreated,   // a uca.xml install created
    kThunarAction,    // one action merged into the uca.xml at `path`
  };
  Kind kind;
  std::string path;
  std::string digest;   // kFile, kDolphin: ContentDigest of what was written
  std::string id;       // kThunarAction: its unique-id
  std::string element;  // kThunarAction: the <action> element as merged
  bool operator==(const ManifestEntry &o) const {
    return kind == o.kind && path == o.path && digest == o.digest && id == o.id && element == o.element;
  }
};

// Text form: one line per entry, tab-separated fields ("kind", path, then
// the digest, or the id and the element), with backslash, tab and newline
// escaped so that any file name and any element survive.
std::string FormatManifest(const std::vector<ManifestEntry> &entries);
// false with *error set when a line does not parse (nothing is then removed).
bool ParseManifest(const std::string &text, std::vector<ManifestEntry> *entries, std::string *error);

// "sha256:" and the hex SHA-256 of the bytes.
std::string ContentDigest(const std::string &bytes);

// The digests listed for `path` (a file may be listed twice while an install
// is under way: as it was and as it will be).
std::vector<std::string> ListedDigests(const std::vector<ManifestEntry> &entries, const std::string &path);

}  // namespace tv::host
