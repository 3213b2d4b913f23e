// Install planning: where an installation goes, and what to do at each path
// it would write. Pure; Install.cpp looks at the disk and carries it out.
#pragma once

#include <string>
#include <vector>

namespace tv::host {

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
  std::vector<std::string> systemLists;  // the install lists of the system-wide installations (the package's too)
  std::string manifest;
  bool thunarOnly = false;  // the Debian package's own part: its other files are the package's
};
// For the calling user (HOME and XDG_* as given, empty for unset), or
// system-wide under `systemPrefix`.
InstallPlan PlanFor(bool user, const std::string &home, const std::string &xdgDataHome,
                    const std::string &xdgConfigHome, const std::string &xdgConfigDirs,
                    const std::string &systemPrefix);
// The Thunar actions that the Debian package merges from its maintainer
// scripts into the system's uca.xml, listed where dpkg's purge clears them.
InstallPlan PackagePlan();

// What is at a path that install would write now.
struct PathFacts {
  bool exists = false;
  std::string digest;     // ContentDigest of its bytes (of "symlink:" and the target for a link)
  bool sameMode = false;  // the mode install would give it
};
enum class PathVerdict {
  kWrite,    // absent, or what an earlier install wrote: write it (and list it)
  kInPlace,  // already byte for byte what would be written: leave it
  kRefuse,   // someone else's, or changed since install wrote it: touch nothing
};
// `listed`: the digests the install list holds for the path. *ours tells
// whether the path belongs in the new list (a file already there as it would
// be written, that no install of ours wrote, stays out of it so that
// uninstall never removes it). *why says what to do on kRefuse.
PathVerdict JudgePath(const std::string &path, const PathFacts &have, const std::string &want,
                      const std::vector<std::string> &listed, bool *ours, std::string *why);

// What install says when the Debian package is installed and it is asked
// for the system-wide integrations.
std::string PackageProvidesText();

// The lines that tell which running file managers (process names, as in
// /proc/PID/comm) must restart to show the new menus, and how; Dolphin reads
// its service menus at each right-click and needs none.
std::vector<std::string> RestartHints(const std::vector<std::string> &running);

}  // namespace tv::host
