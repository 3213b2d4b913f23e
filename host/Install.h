// `tarrovel install [--user]` and `tarrovel uninstall [--user]`: the command,
// its library and bundle copied from the command's own prefix, and the
// integration of every file manager, recorded in a manifest so that
// uninstall removes exactly that and a changed setting can rewrite the static
// menus. Decisions are pure functions; the I/O is the Install/Uninstall calls.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace tarrovel {

class PlugInHost;
struct StaticItem;

// One line of the manifest.
struct ManifestEntry {
  enum Kind {
    kPrefix,          // the installation prefix (its bin/tarrovel is what the menus call)
    kFolder,          // a folder install created
    kFile,            // a file install wrote (copied or generated)
    kDolphin,         // the Dolphin service menu (a kFile as well, rewritten on toggles)
    kThunar,          // a uca.xml our actions were merged into
    kThunarCreated,   // a uca.xml install created
  };
  Kind kind;
  std::string path;
  bool operator==(const ManifestEntry &o) const { return kind == o.kind && path == o.path; }
};

// Text form: one "kind<TAB>path" line per entry, with backslash, tab and
// newline escaped so that any file name survives.
std::string FormatManifest(const std::vector<ManifestEntry> &entries);
// false with *error set when a line does not parse (nothing is then removed).
bool ParseManifest(const std::string &text, std::vector<ManifestEntry> *entries, std::string *error);

// The extension template with @TARROVEL@ replaced by the command's path,
// written as a Python string literal that gives back the path's exact bytes
// through os.fsencode.
std::string SubstituteExtension(const std::string &templ, const std::string &tarrovel);

// Where one installation goes.
struct InstallPlan {
  std::string prefix;       // bin/, lib/tarrovel/, share/... below
  std::string dataDir;      // nautilus-python/, nemo-python/, kio/servicemenus/ below
  std::string ucaXml;       // Thunar's custom actions
  std::vector<std::string> ucaDefaults;  // uca.xml files Thunar reads when ucaXml is missing
  std::string manifest;
};
// For the calling user (HOME and XDG_* as given, empty for unset), or
// system-wide under `systemPrefix`.
InstallPlan PlanFor(bool user, const std::string &home, const std::string &xdgDataHome,
                    const std::string &xdgConfigHome, const std::string &xdgConfigDirs,
                    const std::string &systemPrefix);

int Install(bool user, FILE *out, FILE *err);
int Uninstall(bool user, FILE *out, FILE *err);

// The Dolphin service menu for the command at `tarrovel`, from what the
// loaded plug-ins offer now (cmake --install writes the one of the defaults).
bool CurrentDolphinMenu(PlugInHost &host, const std::string &tarrovel, std::string *content, std::string *error);

// What the loaded plug-ins offer now for a representative file and a
// representative folder (made for the purpose in TMPDIR, then removed).
bool CurrentStaticItems(PlugInHost &host, std::vector<StaticItem> *items, std::string *error);

// After a successful `run`: when this user's manifest lists static menus and
// what the plug-in offers now differs from them (a toggle changed a
// setting), they are rewritten. Problems are reported on err only.
void RefreshStaticMenus(PlugInHost &host, FILE *err);

}  // namespace tarrovel
