// The installer's reads and writes: files put in place through the
// platform's crash-safe replacement, symbolic links, folders, what is at a
// path now, and the running file managers. Thin I/O for Install.cpp.
#pragma once

#include "host/FileAccess.h"
#include "host/InstallList.h"
#include "host/InstallPlan.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace tv::host {

// The Nautilus/Nemo extension's template, below a prefix.
extern const char kExtensionTemplate[];

// One file to put in place: its bytes (or a symlink's target) and mode.
struct Wanted {
  std::string path;
  std::string content;
  mode_t mode = 0644;
  bool symlink = false;
  ManifestEntry::Kind kind = ManifestEntry::kFile;
  std::string Digest() const;
};

// What is at w.path now, as JudgePath wants to know it.
bool Look(const Wanted &w, PathFacts *facts, std::string *error);
// Puts w in place (a file through a temporary sibling and a rename, owned
// by this process, with w.mode).
bool Put(const Wanted &w, std::string *error);
// Replaces an existing regular file in place, keeping its owner, group,
// mode and extended attributes.
bool Rewrite(const std::string &path, const std::string &content, std::string *error);
// Creates the missing folders of `dir`, adding each one created to *created.
bool MakeFolders(const std::string &dir, std::vector<std::string> *created, std::string *error);
// The folders that MakeFolders would create for these files.
std::vector<std::string> MissingFolders(const std::vector<std::string> &files);

// Removes what an install stopped outright left beside `path`: the
// temporaries of its writes that no live process holds.
void RemoveLeftoverTemporaries(const std::string &path);

// The files below `prefix` that make the installed command, loaded as
// Wanted below `dest`.
bool ProgramFiles(const std::string &prefix, const std::string &dest, std::vector<Wanted> *wanted,
                  std::string *error);

// The plan for the calling user (user) from HOME and the XDG variables, or
// the system-wide one under the prefix the command was built for.
InstallPlan PlanFromEnvironment(bool user);

// The install list at path; *present false (and no entries) when there is none.
bool ReadManifest(const std::string &path, std::vector<ManifestEntry> *entries, bool *present, std::string *error);
// Writes the list unless it already holds exactly these entries.
bool WriteManifest(const std::string &path, const std::vector<ManifestEntry> &entries, std::string *error);

// The names (/proc/PID/comm) of the processes of this user, or of every user.
std::vector<std::string> RunningProcessNames(bool everyUser);

}  // namespace tv::host
