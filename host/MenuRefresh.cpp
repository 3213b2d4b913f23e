#include "host/MenuRefresh.h"

#include "host/InstallFiles.h"
#include "host/InstallThunar.h"
#include "host/MenuLanguages.h"

#include <algorithm>

namespace tv::host {

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
  InstallPlan plan = PlanFromEnvironment(true);
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

}  // namespace tv::host
