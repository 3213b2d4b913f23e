#include "host/Install.h"

#include "host/InstallFiles.h"
#include "host/MenuLanguages.h"
#include "host/MenuModel.h"
#include "host/PlugInHost.h"
#include "host/StaticMenus.h"
#include "platform/Files.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace tarrovel {

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

// --- what the plug-in offers -------------------------------------------------

// The plug-in's menu for a selection of one item.
static bool OfferedFor(PlugInHost &host, const std::string &path, std::vector<MenuItem> *items, std::string *error) {
  AEDescList list = {typeNull, nullptr};
  AliasHandle alias = nullptr;
  bool ok = AECreateList(nullptr, 0, false, &list) == noErr && TVNewAliasFromPath(path.c_str(), &alias) == noErr &&
            alias != nullptr && AEPutPtr(&list, 0, typeAlias, *alias, GetHandleSize(alias)) == noErr;
  if (alias != nullptr) DisposeHandle(alias);
  if (!ok) *error = path + ": cannot make a selection of it";
  ok = ok && host.Examine(list, error);
  host.PostMenuCleanup();
  AEDisposeDesc(&list);
  items->clear();
  for (LoadedPlugIn &p : host.plugIns()) items->insert(items->end(), p.offered.begin(), p.offered.end());
  return ok;
}

// What the static menus hold: the plug-in asked about a representative file
// and a representative folder (made for the purpose, then removed).
bool CurrentStaticItems(PlugInHost &host, std::vector<StaticItem> *items, std::string *error) {
  std::string base = Env("TMPDIR");
  if (base.empty() || base[0] != '/') base = "/tmp";
  std::string tmpl = base + "/tarrovel-menus-XXXXXX";
  std::vector<char> dir(tmpl.begin(), tmpl.end());
  dir.push_back('\0');
  if (mkdtemp(dir.data()) == nullptr) {
    *error = Errno(tmpl);
    return false;
  }
  std::string root = dir.data();
  std::string file = root + "/file", folder = root + "/folder";
  std::vector<MenuItem> forFile, forFolder;
  Wanted empty;
  empty.path = file;
  bool ok = Put(empty, error) && mkdir(folder.c_str(), 0755) == 0 &&
            OfferedFor(host, file, &forFile, error) && OfferedFor(host, folder, &forFolder, error);
  unlink(file.c_str());
  rmdir(folder.c_str());
  rmdir(root.c_str());
  if (ok) *items = StaticItemsFor(forFile, forFolder);
  return ok;
}

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
  *plan = PlanFor(user, Env("HOME"), Env("XDG_DATA_HOME"), Env("XDG_CONFIG_HOME"), Env("XDG_CONFIG_DIRS"),
                  TV_INSTALL_PREFIX);
  return true;
}

bool ReadManifest(const std::string &path, std::vector<ManifestEntry> *entries, bool *present, std::string *error) {
  std::string text;
  *present = Exists(path);
  if (!*present) return true;
  if (!ReadFile(path, &text, error)) return false;
  if (!ParseManifest(text, entries, error)) {
    *error = path + ": " + *error;
    return false;
  }
  return true;
}

bool WriteManifest(const std::string &path, const std::vector<ManifestEntry> &entries, std::string *error) {
  Wanted w;
  w.path = path;
  w.content = FormatManifest(entries);
  std::string have, ignored;
  if (ReadFile(path, &have, &ignored) && have == w.content) return true;
  return Put(w, error);
}

// --- Thunar ------------------------------------------------------------------

std::string ThunarBase(const InstallPlan &plan) {
  for (const std::string &candidate : plan.ucaDefaults) {
    std::string text, error, ignored;
    if (ReadFile(candidate, &text, &error) && UcaRemove(text, {}, &ignored, &error)) return text;
  }
  return UcaDocument({});
}

// The file our actions go into: the uca.xml itself or, when it is a
// symbolic link (a dotfiles manager's), the file it names, changed in place.
bool ThunarTarget(const std::string &uca, std::string *target, bool *absent, std::string *error) {
  struct stat st;
  *absent = lstat(uca.c_str(), &st) != 0 && errno == ENOENT;
  *target = uca;
  if (*absent) return true;
  if (S_ISLNK(st.st_mode)) {
    *target = Realpath(uca);
    if (target->empty() || stat(target->c_str(), &st) != 0) {
      *error = uca + " is a symbolic link to a file that is not there, so it is left as it is: "
                     "create that file (or remove the link), then run this again";
      return false;
    }
  }
  if (!S_ISREG(st.st_mode)) *error = *target + " is not a regular file, so it is left as it is";
  return S_ISREG(st.st_mode);
}

std::vector<ManifestEntry> ListedActions(const std::vector<ManifestEntry> &entries, const std::string &uca) {
  std::vector<ManifestEntry> out;
  for (const ManifestEntry &e : entries) {
    if (e.kind == ManifestEntry::kThunarAction && e.path == uca) out.push_back(e);
  }
  return out;
}

std::vector<UcaAction> Actions(const std::vector<ManifestEntry> &records) {
  std::vector<UcaAction> out;
  for (const ManifestEntry &e : records) out.push_back({e.id, e.element});
  return out;
}

// `existing` with the actions recorded as ours (`previous`) replaced by the
// current ones, and the records of those for the list.
bool MergeActions(const std::string &existing, const std::vector<ManifestEntry> &previous,
                  const std::vector<StaticItem> &items, const std::string &tarrovel, const std::string &uca,
                  std::string *merged, std::vector<ManifestEntry> *records, std::string *error) {
  std::vector<UcaAction> actions = UcaActionsFor(items, tarrovel);
  records->clear();
  for (const UcaAction &a : actions) records->push_back({ManifestEntry::kThunarAction, uca, "", a.id, a.element});
  return UcaMerge(existing, Actions(previous), actions, merged, error);
}

bool RemoveActions(const std::string &existing, const std::vector<ManifestEntry> &previous, std::string *without,
                   std::string *error) {
  return UcaRemove(existing, Actions(previous), without, error);
}

// Our actions merged into the uca.xml: *changed is false when it already
// holds them. The list gets the file's entry and the actions' records.
bool PutThunar(const InstallPlan &plan, const std::vector<ManifestEntry> &old, const std::vector<StaticItem> &items,
               std::vector<ManifestEntry> *entries, bool *changed, std::string *error) {
  std::string target, existing, merged;
  bool absent = false;
  if (!ThunarTarget(plan.ucaXml, &target, &absent, error)) return false;
  bool created = absent || std::any_of(old.begin(), old.end(), [&](const ManifestEntry &e) {
                   return e.kind == ManifestEntry::kThunarCreated && e.path == plan.ucaXml;
                 });
  if (absent) existing = ThunarBase(plan);
  else if (!ReadFile(target, &existing, error)) return false;
  std::vector<ManifestEntry> records;
  if (!MergeActions(existing, ListedActions(old, plan.ucaXml), items, plan.prefix + "/bin/tarrovel", plan.ucaXml,
                    &merged, &records, error)) {
    *error = plan.ucaXml + " does not parse, so it is left as it is: " + *error;
    return false;
  }
  // Listed before it is written, with the actions it held: a stop in
  // between leaves a list that uninstall can act on.
  entries->push_back({created ? ManifestEntry::kThunarCreated : ManifestEntry::kThunar, plan.ucaXml, "", "", ""});
  entries->insert(entries->end(), records.begin(), records.end());
  *changed = absent || merged != existing;
  if (!*changed) return true;
  std::vector<ManifestEntry> during = old;
  during.insert(during.end(), entries->begin(), entries->end());
  if (!WriteManifest(plan.manifest, during, error)) return false;
  if (!absent) return Rewrite(target, merged, error);
  Wanted w;
  w.path = target;
  w.content = merged;
  std::vector<std::string> ignored;
  return MakeFolders(Dirname(target), &ignored, error) && Put(w, error);
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
    if (unlink(e.path.c_str()) == 0) fprintf(out, "removed %s\n", e.path.c_str());
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
  if (unlink(e.path.c_str()) != 0 && errno != ENOENT) {
    *error = Errno(e.path);
    return false;
  }
  fprintf(out, "removed %s\n", e.path.c_str());
  return true;
}

bool RemoveThunar(const InstallPlan &plan, const std::vector<ManifestEntry> &entries, const ManifestEntry &e,
                  FILE *out, std::string *error) {
  std::string target, text, without;
  bool absent = false;
  if (!ThunarTarget(e.path, &target, &absent, error)) return false;
  if (absent) return true;
  RemoveLeftoverTemporaries(target);
  if (!ReadFile(target, &text, error)) return false;
  if (!RemoveActions(text, ListedActions(entries, e.path), &without, error)) {
    *error = e.path + " does not parse, so it is left as it is: " + *error;
    return false;
  }
  // A file install created goes again, unless the user has added to it since.
  bool removable = e.kind == ManifestEntry::kThunarCreated && target == e.path &&
                   (without == ThunarBase(plan) || without == UcaDocument({}));
  if (removable) {
    if (unlink(e.path.c_str()) != 0) {
      *error = Errno(e.path);
      return false;
    }
    fprintf(out, "removed %s\n", e.path.c_str());
  } else if (without != text) {
    if (!Rewrite(target, without, error)) return false;
    fprintf(out, "removed our actions from %s\n", e.path.c_str());
  }
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
    rmdir(Dirname(plan.manifest).c_str());
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
    if (unlink(plan.manifest.c_str()) == 0) fprintf(out, "removed %s\n", plan.manifest.c_str());
  } else {
    std::vector<ManifestEntry> again = Folders(folders);
    again.insert(again.end(), left.begin(), left.end());
    if (!WriteManifest(plan.manifest, again, &error)) Fail(err, error);
  }
  std::sort(folders.rbegin(), folders.rend());  // children before their parents; those still holding something stay
  for (const std::string &f : folders) {
    if (rmdir(f.c_str()) == 0) fprintf(out, "removed %s/\n", f.c_str());
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

namespace {

// Replaces the entries of `kind` at `path` in *list by `fresh`.
void Relist(std::vector<ManifestEntry> *list, ManifestEntry::Kind kind, const std::string &path,
            const std::vector<ManifestEntry> &fresh) {
  list->erase(std::remove_if(list->begin(), list->end(),
                             [&](const ManifestEntry &e) { return e.kind == kind && e.path == path; }),
              list->end());
  list->insert(list->end(), fresh.begin(), fresh.end());
}

// One static menu rewritten: listed (beside what it was) before it is
// written, then listed alone.
bool RefreshOne(const std::string &manifest, std::vector<ManifestEntry> *list, const std::string &target,
                const std::string &content, ManifestEntry::Kind kind, const std::string &path,
                const std::vector<ManifestEntry> &fresh, std::string *error) {
  std::vector<ManifestEntry> during = *list;
  during.insert(during.end(), fresh.begin(), fresh.end());
  if (!WriteManifest(manifest, during, error) || !Rewrite(target, content, error)) return false;
  Relist(list, kind, path, fresh);
  return true;
}

bool RefreshDolphin(const std::string &manifest, std::vector<ManifestEntry> *list, const ManifestEntry &e,
                    const std::vector<StaticItem> &items, const std::string &tarrovel, std::string *error) {
  Wanted w;
  w.path = e.path;
  w.mode = 0755;
  std::string name = e.path.substr(e.path.rfind('/') + 1);
  for (const ServiceMenuFile &menu : DolphinServiceMenus(items, tarrovel)) {
    if (menu.name == name) w.content = menu.content;
  }
  if (w.content.empty()) return true;  // not one of ours any more
  PathFacts facts;
  std::vector<std::string> listed = ListedDigests(*list, e.path);
  // Only a file that is still as written: a removed or edited one is the user's decision.
  if (!Look(w, &facts, error) || !facts.exists || facts.digest == w.Digest() ||
      std::find(listed.begin(), listed.end(), facts.digest) == listed.end())
    return true;
  return RefreshOne(manifest, list, e.path, w.content, ManifestEntry::kDolphin, e.path,
                    {{ManifestEntry::kDolphin, e.path, w.Digest(), "", ""}}, error);
}

bool RefreshThunar(const std::string &manifest, std::vector<ManifestEntry> *list, const ManifestEntry &e,
                   const std::vector<StaticItem> &items, const std::string &tarrovel, std::string *error) {
  std::string target, have, want;
  bool absent = false;
  std::vector<ManifestEntry> records;
  if (!ThunarTarget(e.path, &target, &absent, error) || absent || !ReadFile(target, &have, error)) return absent;
  if (!MergeActions(have, ListedActions(*list, e.path), items, tarrovel, e.path, &want, &records, error)) {
    *error = e.path + " does not parse, so it is left as it is: " + *error;
    return false;
  }
  if (want == have) return true;
  return RefreshOne(manifest, list, target, want, ManifestEntry::kThunarAction, e.path, records, error);
}

}  // namespace

void RefreshStaticMenus(PlugInHost &host, FILE *err) {
  InstallPlan plan = PlanFor(true, Env("HOME"), Env("XDG_DATA_HOME"), Env("XDG_CONFIG_HOME"),
                             Env("XDG_CONFIG_DIRS"), TV_INSTALL_PREFIX);
  std::vector<ManifestEntry> entries;
  bool present = false;
  std::string error;
  if (!ReadManifest(plan.manifest, &entries, &present, &error) || !present) return;
  std::string prefix;
  bool any = false;
  for (const ManifestEntry &e : entries) {
    if (e.kind == ManifestEntry::kPrefix) prefix = e.path;
    any = any || e.kind == ManifestEntry::kDolphin || e.kind == ManifestEntry::kThunar ||
          e.kind == ManifestEntry::kThunarCreated;
  }
  std::vector<StaticItem> items;
  if (!any || prefix.empty()) return;
  if (!StaticItemsInEveryLanguage(host, &items, &error)) {
    fprintf(err, "tarrovel: the installed static menus are not updated: %s\n", error.c_str());
    return;
  }
  std::vector<ManifestEntry> list = entries;
  for (const ManifestEntry &e : entries) {
    bool ok = true;
    if (e.kind == ManifestEntry::kDolphin) ok = RefreshDolphin(plan.manifest, &list, e, items, prefix + "/bin/tarrovel", &error);
    else if (e.kind == ManifestEntry::kThunar || e.kind == ManifestEntry::kThunarCreated)
      ok = RefreshThunar(plan.manifest, &list, e, items, prefix + "/bin/tarrovel", &error);
    if (!ok) fprintf(err, "tarrovel: the static menu is not updated: %s\n", error.c_str());
  }
}

}  // namespace tarrovel
