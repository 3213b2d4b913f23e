#include "host/InstallThunar.h"

#include "host/InstallFiles.h"
#include "platform/sys/CallTable.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace tv::host {

namespace {

std::vector<UcaAction> Actions(const std::vector<ManifestEntry> &records) {
  std::vector<UcaAction> out;
  for (const ManifestEntry &e : records) out.push_back({e.id, e.element});
  return out;
}

}  // namespace

std::string ThunarBase(const InstallPlan &plan) {
  for (const std::string &candidate : plan.ucaDefaults) {
    std::vector<ManifestEntry> system;
    for (const std::string &list : plan.systemLists) {
      std::vector<ManifestEntry> entries, listed;
      bool present = false;
      std::string error;
      if (ReadManifest(list, &entries, &present, &error)) listed = ListedActions(entries, candidate);
      system.insert(system.end(), listed.begin(), listed.end());
    }
    std::string text, error, without;
    if (ReadFile(candidate, &text, &error) && UcaRemove(text, Actions(system), &without, &error)) return without;
  }
  return UcaDocument({});
}

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
    if (tv::sys::Unlinkat(AT_FDCWD, e.path.c_str(), 0) != 0) {
      *error = e.path + ": " + strerror(errno);
      return false;
    }
    fprintf(out, "removed %s\n", e.path.c_str());
  } else if (without != text) {
    if (!Rewrite(target, without, error)) return false;
    fprintf(out, "removed our actions from %s\n", e.path.c_str());
  }
  return true;
}

}  // namespace tv::host
