#include "host/Install.h"

#include "host/InstallFiles.h"
#include "host/InstallThunar.h"
#include "host/MenuLanguages.h"
#include "host/MenuModel.h"
#include "host/PlugInHost.h"
#include "host/StaticMenus.h"
#include "platform/Files.h"
#include "platform/sys/CallTable.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace tv::host {

namespace {

// Shipped by the Debian package alone (its build adds it), so that an
// installed package is known whichever tarrovel runs.
const char kPackageMark[] = "share/tarrovel/packaged";

std::string Env(const char *name) {
  const char *v = getenv(name);
  return v ? v : "";
}

std::string Errno(const std::string &path) { return path + ": " + strerror(errno); }

int Fail(FILE *err, const std::string &message) {
  fprintf(err, "tarrovel: %s\n", message.c_str());
  return 1;
}

}  // namespace

namespace {

bool LoadedHost(PlugInHost &host, std::string *error) {
  host.Load(FindBundles(PlugInFolders()));
  if (host.plugIns().empty()) *error = "no plug-in found, so there is no menu to install";
  return !host.plugIns().empty();
}

bool UserCall(bool user) { return user || geteuid() != 0; }

bool PackageInstalled() {
  return Exists(OwnPrefix() + "/" + kPackageMark) || Exists(std::string("/usr/") + kPackageMark);
}

// The plan of this call, or false when the package provides what it asks for.
bool CurrentPlan(bool user, InstallPlan *plan) {
  if (!user && PackageInstalled()) {
    if (Env("TARROVEL_PACKAGE_SCRIPT") != "1") return false;
    *plan = PackagePlan();
    return true;
  }
  *plan = PlanFromEnvironment(user);
  return true;
}

// --- install -----------------------------------------------------------------

// Every file of the installation but Thunar's.
bool WantedFiles(const InstallPlan &plan, const std::vector<StaticItem> &items, std::vector<Wanted> *wanted,
                 std::string *error) {
  if (plan.thunarOnly) return true;
  std::string source = OwnPrefix(), templ;
  if (!ReadFile(source + "/" + kExtensionTemplate, &templ, error)) return false;
  // The program files, unless this command already runs from there.
  if (Realpath(source) != Realpath(plan.prefix) && !ProgramFiles(source, plan.prefix, wanted, error)) return false;
  std::string tarrovel = plan.prefix + "/bin/tarrovel";
  for (const char *fm : {"nautilus-python", "nemo-python"}) {
    Wanted w;
    w.path = plan.dataDir + "/" + fm + "/extensions/tarrovel_menu.py";
    w.content = SubstituteExtension(templ, tarrovel);
    wanted->push_back(w);
  }
  for (const ServiceMenuFile &menu : DolphinServiceMenus(items, tarrovel)) {
    Wanted dolphin;
    dolphin.path = plan.dataDir + "/kio/servicemenus/" + menu.name;
    dolphin.content = menu.content;
    dolphin.mode = 0755;  // Dolphin runs user service menus only when they are executable
    dolphin.kind = ManifestEntry::kDolphin;
    wanted->push_back(dolphin);
  }
  return true;
}

// Which of `wanted` to write, and the list's entries for them; false, with
// every path in the way named, when one holds something install did not write.
bool JudgeAll(const std::vector<Wanted> &wanted, const std::vector<ManifestEntry> &old, std::vector<Wanted> *toWrite,
              std::vector<ManifestEntry> *entries, size_t *inPlace, std::string *error) {
  std::string refused;
  for (const Wanted &w : wanted) {
    PathFacts facts;
    std::string why;
    bool ours = false;
    if (!Look(w, &facts, error)) return false;
    std::vector<std::string> listed = ListedDigests(old, w.path);
    // A list from before digests were kept vouches for what is there.
    bool undigested = std::any_of(old.begin(), old.end(), [&](const ManifestEntry &e) {
      return e.path == w.path && (e.kind == ManifestEntry::kFile || e.kind == ManifestEntry::kDolphin) &&
             e.digest.empty();
    });
    if (undigested) listed.push_back(facts.digest);
    PathVerdict v = JudgePath(w.path, facts, w.Digest(), listed, &ours, &why);
    if (v == PathVerdict::kRefuse) refused += (refused.empty() ? "" : "\ntarrovel: ") + why;
    if (v == PathVerdict::kWrite) toWrite->push_back(w);
    if (v == PathVerdict::kInPlace) ++*inPlace;
    if (ours) entries->push_back({w.kind, w.path, w.Digest(), "", ""});
  }
  if (!refused.empty()) *error = refused;
  return refused.empty();
}

// What an earlier install wrote that is no longer part of this one goes,
// if it is still as written.
void RemoveDropped(const std::vector<ManifestEntry> &old, const std::vector<ManifestEntry> &entries, FILE *out) {
  for (const ManifestEntry &e : old) {
    if (e.kind != ManifestEntry::kFile && e.kind != ManifestEntry::kDolphin) continue;
    bool kept = std::any_of(entries.begin(), entries.end(), [&](const ManifestEntry &n) { return n.path == e.path; });
    Wanted w;
    w.path = e.path;
    PathFacts facts;
    std::string error;
    if (kept || !Look(w, &facts, &error) || facts.digest != e.digest) continue;
    if (tv::sys::Unlinkat(AT_FDCWD, e.path.c_str(), 0) == 0) fprintf(out, "removed %s\n", e.path.c_str());
  }
}

std::vector<ManifestEntry> Folders(const std::vector<std::string> &folders) {
  std::vector<ManifestEntry> out;
  for (const std::string &f : folders) out.push_back({ManifestEntry::kFolder, f, "", "", ""});
  return out;
}

// The folders this install creates, and those an earlier one created that
// are still there.
std::vector<std::string> InstallFolders(const InstallPlan &plan, const std::vector<ManifestEntry> &old,
                                        const std::vector<Wanted> &toWrite) {
  std::vector<std::string> paths = {plan.manifest, plan.ucaXml};
  for (const Wanted &w : toWrite) paths.push_back(w.path);
  std::vector<std::string> created = MissingFolders(paths);
  for (const ManifestEntry &e : old) {
    if (e.kind == ManifestEntry::kFolder && Exists(e.path)) created.push_back(e.path);
  }
  std::sort(created.begin(), created.end());
  created.erase(std::unique(created.begin(), created.end()), created.end());
  return created;
}

void SayRestart(bool user, FILE *out) {
  for (const std::string &line : RestartHints(RunningProcessNames(!user))) fprintf(out, "tarrovel: %s\n", line.c_str());
}

}  // namespace

int Install(bool user, FILE *out, FILE *err) {
  user = UserCall(user);
  InstallPlan plan;
  if (!CurrentPlan(user, &plan)) {
    fprintf(out, "tarrovel: %s\n", PackageProvidesText().c_str());
    return 0;
  }
  if (user && Env("HOME").empty()) return Fail(err, "HOME is not set, so there is no user to install for");
  std::string error;
  std::vector<ManifestEntry> old, entries;
  bool hadManifest = false;
  std::vector<Wanted> wanted, toWrite;
  std::vector<StaticItem> items;
  PlugInHost host;
  size_t inPlace = 0;
  if (!ReadManifest(plan.manifest, &old, &hadManifest, &error) || !LoadedHost(host, &error) ||
      !StaticItemsInEveryLanguage(host, &items, &error) || !WantedFiles(plan, items, &wanted, &error) ||
      !JudgeAll(wanted, old, &toWrite, &entries, &inPlace, &error))
    return Fail(err, error);
  std::string ucaTarget;
  bool ucaAbsent = false;
  if (!ThunarTarget(plan.ucaXml, &ucaTarget, &ucaAbsent, &error)) return Fail(err, error);

  // The list first, naming what this install may write beside what the last
  // one wrote: uninstall can undo an install stopped anywhere.
  std::vector<std::string> created = InstallFolders(plan, old, toWrite);
  entries.insert(entries.begin(), {ManifestEntry::kPrefix, plan.prefix, "", "", ""});
  std::vector<ManifestEntry> during = Folders(created);
  during.insert(during.end(), entries.begin(), entries.end());
  during.insert(during.end(), old.begin(), old.end());
  std::vector<std::string> ignored;
  if (!MakeFolders(Dirname(plan.manifest), &ignored, &error) ||
      (!toWrite.empty() && !WriteManifest(plan.manifest, during, &error)))
    return Fail(err, error);

  size_t written = 0;
  for (const Wanted &w : toWrite) {
    if (!MakeFolders(Dirname(w.path), &ignored, &error) || !Put(w, &error)) return Fail(err, error);
    fprintf(out, "wrote %s\n", w.path.c_str());
    written++;
  }
  bool thunarChanged = false;
  if (!PutThunar(plan, during, items, &entries, &thunarChanged, &error)) return Fail(err, error);
  if (thunarChanged) fprintf(out, "wrote %s\n", plan.ucaXml.c_str());
  written += thunarChanged;

  RemoveDropped(old, entries, out);
  std::vector<ManifestEntry> finished = Folders(created);
  finished.insert(finished.end(), entries.begin(), entries.end());
  if (!WriteManifest(plan.manifest, finished, &error)) return Fail(err, error);
  fprintf(out, "tarrovel: installed %s under %s (%zu files written, %zu already in place)\n",
          user ? "for this user" : "for all users", plan.prefix.c_str(), written, inPlace);
  if (written > 0) SayRestart(user, out);
  return 0;
}

// --- uninstall ---------------------------------------------------------------

namespace {

// Removes one file install wrote if it is still as written; says so when it
// is not. False (with *error) only when it could not be removed.
bool RemoveFile(const std::vector<ManifestEntry> &entries, const ManifestEntry &e, FILE *out, std::string *error) {
  Wanted w;
  w.path = e.path;
  PathFacts facts;
  RemoveLeftoverTemporaries(e.path);
  if (!Look(w, &facts, error)) return false;
  if (!facts.exists) return true;
  std::vector<std::string> digests = ListedDigests(entries, e.path);
  if (std::find(digests.begin(), digests.end(), facts.digest) == digests.end()) {
    fprintf(out, "kept %s: it is not what tarrovel install wrote there (changed since?)\n", e.path.c_str());
    return true;
  }
  if (tv::sys::Unlinkat(AT_FDCWD, e.path.c_str(), 0) != 0 && errno != ENOENT) {
    *error = Errno(e.path);
    return false;
  }
  fprintf(out, "removed %s\n", e.path.c_str());
  return true;
}

}  // namespace

int Uninstall(bool user, FILE *out, FILE *err) {
  user = UserCall(user);
  InstallPlan plan;
  if (!CurrentPlan(user, &plan)) plan = PlanFor(false, "", "", "", "", TV_INSTALL_PREFIX);
  std::string error;
  std::vector<ManifestEntry> entries;
  bool present = false;
  if (!ReadManifest(plan.manifest, &entries, &present, &error)) return Fail(err, error);
  if (!present) {
    // An install killed while it wrote its list leaves at most that write's
    // temporary, and the list's own folder.
    RemoveLeftoverTemporaries(plan.manifest);
    tv::sys::Unlinkat(AT_FDCWD, Dirname(plan.manifest).c_str(), AT_REMOVEDIR);
    fprintf(out, "tarrovel: nothing to uninstall (%s does not exist)\n", plan.manifest.c_str());
    return 0;
  }
  int status = 0;
  std::vector<std::string> folders;
  std::vector<ManifestEntry> left;  // what could not be removed, for a second try
  for (const ManifestEntry &e : entries) {
    bool ok = true;
    if (e.kind == ManifestEntry::kFolder) folders.push_back(e.path);
    else if (e.kind == ManifestEntry::kFile || e.kind == ManifestEntry::kDolphin) ok = RemoveFile(entries, e, out, &error);
    else if (e.kind == ManifestEntry::kThunar || e.kind == ManifestEntry::kThunarCreated)
      ok = RemoveThunar(plan, entries, e, out, &error);
    if (!ok) status = Fail(err, error);
    if (!ok || e.kind == ManifestEntry::kPrefix || e.kind == ManifestEntry::kThunarAction) left.push_back(e);
  }
  RemoveLeftoverTemporaries(plan.manifest);
  if (status == 0) {
    if (tv::sys::Unlinkat(AT_FDCWD, plan.manifest.c_str(), 0) == 0) fprintf(out, "removed %s\n", plan.manifest.c_str());
  } else {
    std::vector<ManifestEntry> again = Folders(folders);
    again.insert(again.end(), left.begin(), left.end());
    if (!WriteManifest(plan.manifest, again, &error)) Fail(err, error);
  }
  std::sort(folders.rbegin(), folders.rend());  // children before their parents; those still holding something stay
  for (const std::string &f : folders) {
    if (tv::sys::Unlinkat(AT_FDCWD, f.c_str(), AT_REMOVEDIR) == 0) fprintf(out, "removed %s/\n", f.c_str());
  }
  if (status == 0) fprintf(out, "tarrovel: uninstalled from %s\n", plan.prefix.c_str());
  return status;
}

bool CurrentDolphinMenu(PlugInHost &host, const std::string &tarrovel, std::string *content, std::string *error) {
  std::vector<StaticItem> items;
  if (!StaticItemsInEveryLanguage(host, &items, error)) return false;
  *content = DolphinServiceMenu(items, tarrovel);
  return true;
}

}  // namespace tv::host
