#include "host/Install.h"

#include "host/MenuLanguages.h"
#include "host/MenuModel.h"
#include "host/PlugInHost.h"
#include "host/StaticMenus.h"
#include "platform/Files.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace tarrovel {

namespace {

const char *const kKindNames[] = {"prefix", "folder", "file", "dolphin", "thunar", "thunar-created"};
const char kPlaceholder[] = "@TARROVEL@";
const char kExtension[] = "share/tarrovel/integrations/tarrovel_menu.py";

std::string Env(const char *name) {
  const char *v = getenv(name);
  return v ? v : "";
}

std::string Dirname(const std::string &path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

// --- pure ------------------------------------------------------------------

std::string FormatManifest(const std::vector<ManifestEntry> &entries) {
  std::string out = "# Written by tarrovel install; read by tarrovel uninstall.\n";
  for (const ManifestEntry &e : entries) {
    out += std::string(kKindNames[e.kind]) + "\t";
    for (char c : e.path) {
      if (c == '\\') out += "\\\\";
      else if (c == '\n') out += "\\n";
      else if (c == '\t') out += "\\t";
      else out += c;
    }
    out += "\n";
  }
  return out;
}

bool ParseManifest(const std::string &text, std::vector<ManifestEntry> *entries, std::string *error) {
  entries->clear();
  size_t start = 0, lineNo = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    lineNo++;
    if (line.empty() || line[0] == '#') continue;
    size_t tab = line.find('\t');
    const char *const *kind = tab == std::string::npos
                                  ? std::end(kKindNames)
                                  : std::find(std::begin(kKindNames), std::end(kKindNames), line.substr(0, tab));
    std::string path;
    bool ok = kind != std::end(kKindNames);
    for (size_t i = tab + 1; ok && i < line.size(); i++) {
      if (line[i] != '\\') {
        path += line[i];
      } else if (i + 1 < line.size() && strchr("\\nt", line[i + 1]) != nullptr) {
        char c = line[++i];
        path += c == 'n' ? '\n' : c == 't' ? '\t' : '\\';
      } else {
        ok = false;
      }
    }
    if (!ok || path.empty() || path[0] != '/') {
      *error = "line " + std::to_string(lineNo) + " does not parse";
      entries->clear();
      return false;
    }
    entries->push_back({ManifestEntry::Kind(kind - std::begin(kKindNames)), path});
  }
  return true;
}

std::string SubstituteExtension(const std::string &templ, const std::string &tarrovel) {
  std::string literal;
  for (unsigned char c : tarrovel) {
    char buf[8];
    if (c == '\\' || c == '"') {
      literal += '\\';
      literal += char(c);
    } else if (c < 0x20 || c == 0x7f) {
      snprintf(buf, sizeof buf, "\\x%02x", c);
      literal += buf;
    } else if (c >= 0x80) {  // os.fsencode turns the lone surrogate back into this byte
      snprintf(buf, sizeof buf, "\\udc%02x", c);
      literal += buf;
    } else {
      literal += char(c);
    }
  }
  std::string out = templ;
  for (size_t at = out.find(kPlaceholder); at != std::string::npos; at = out.find(kPlaceholder, at + literal.size()))
    out.replace(at, sizeof kPlaceholder - 1, literal);
  return out;
}

InstallPlan PlanFor(bool user, const std::string &home, const std::string &xdgDataHome,
                    const std::string &xdgConfigHome, const std::string &xdgConfigDirs,
                    const std::string &systemPrefix) {
  InstallPlan plan;
  // Relative XDG values are to be ignored, as the base-directory rules say.
  auto absolute = [](const std::string &v, const std::string &fallback) {
    return !v.empty() && v[0] == '/' ? v : fallback;
  };
  if (user) {
    plan.prefix = home + "/.local";
    plan.dataDir = absolute(xdgDataHome, home + "/.local/share");
    plan.ucaXml = absolute(xdgConfigHome, home + "/.config") + "/Thunar/uca.xml";
    plan.manifest = plan.dataDir + "/tarrovel/installed";
    std::string dirs = xdgConfigDirs.empty() ? "/etc/xdg" : xdgConfigDirs;
    size_t start = 0;
    while (start <= dirs.size()) {
      size_t colon = dirs.find(':', start);
      std::string d = dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
      if (!d.empty() && d[0] == '/') plan.ucaDefaults.push_back(d + "/Thunar/uca.xml");
      if (colon == std::string::npos) break;
      start = colon + 1;
    }
  } else {
    plan.prefix = systemPrefix;
    plan.dataDir = systemPrefix + "/share";
    plan.ucaXml = "/etc/xdg/Thunar/uca.xml";  // read by Thunar for every user without one of their own
    plan.manifest = systemPrefix + "/share/tarrovel/installed";
  }
  return plan;
}

// --- file system -------------------------------------------------------------

namespace {

std::string Errno(const std::string &path) { return path + ": " + strerror(errno); }

bool ReadFile(const std::string &path, std::string *content, std::string *error) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = Errno(path);
    return false;
  }
  content->clear();
  char buf[65536];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = Errno(path);
      close(fd);
      return false;
    }
    content->append(buf, size_t(n));
  }
  close(fd);
  return true;
}

bool Exists(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// Writes through a temporary sibling and a rename, so that a file manager
// never reads half a file, nor a crash leaves one.
bool WriteAtomically(const std::string &path, const std::string &content, mode_t mode, std::string *error) {
  std::string tmp = path + ".tarrovel-tmp-XXXXXX";
  std::vector<char> name(tmp.begin(), tmp.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) {
    *error = Errno(path);
    return false;
  }
  size_t done = 0;
  bool ok = true;
  while (ok && done < content.size()) {
    ssize_t n = write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += size_t(n);
  }
  ok = ok && fchmod(fd, mode) == 0 && fsync(fd) == 0;
  if (!ok) *error = Errno(path);
  if (close(fd) != 0 && ok) {
    ok = false;
    *error = Errno(path);
  }
  if (ok && rename(name.data(), path.c_str()) != 0) {
    ok = false;
    *error = Errno(path);
  }
  if (!ok) unlink(name.data());
  return ok;
}

bool SymlinkAtomically(const std::string &path, const std::string &target, std::string *error) {
  for (int attempt = 0; attempt < 100; attempt++) {
    std::string tmp = path + ".tarrovel-tmp-" + std::to_string(getpid()) + "-" + std::to_string(attempt);
    if (symlink(target.c_str(), tmp.c_str()) != 0) {
      if (errno == EEXIST) continue;
      *error = Errno(path);
      return false;
    }
    if (rename(tmp.c_str(), path.c_str()) != 0) {
      *error = Errno(path);
      unlink(tmp.c_str());
      return false;
    }
    return true;
  }
  *error = path + ": no temporary name is free";
  return false;
}

// One file to put in place: its bytes (or a symlink's target) and mode.
struct Wanted {
  std::string path;
  std::string content;
  mode_t mode = 0644;
  bool symlink = false;
  ManifestEntry::Kind kind = ManifestEntry::kFile;
};

// The files below `prefix` that make the installed command, as relative
// paths; the optional ones are there in an installed prefix, not always in a
// build tree.
bool ProgramFiles(const std::string &prefix, std::vector<std::string> *rel, std::string *error) {
  std::function<void(const std::string &)> walk = [&](const std::string &dir) {
    DIR *d = opendir((prefix + "/" + dir).c_str());
    if (d == nullptr) return;
    std::vector<std::string> names;
    while (dirent *e = readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != ".." && n.find(".tarrovel-tmp-") == std::string::npos) names.push_back(n);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string &n : names) {
      struct stat st;
      std::string r = dir + "/" + n;
      if (lstat((prefix + "/" + r).c_str(), &st) != 0) continue;
      if (S_ISDIR(st.st_mode)) walk(r);
      else if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) rel->push_back(r);
    }
  };
  for (const char *required : {"bin/tarrovel", kExtension}) {
    if (!Exists(prefix + "/" + required)) {
      *error = prefix + "/" + required + " is missing: this command's own files are not laid out as installed";
      return false;
    }
  }
  rel->push_back("bin/tarrovel");
  size_t before = rel->size();
  walk("lib/tarrovel");
  if (!Exists(prefix + "/lib/tarrovel/plugins") || rel->size() == before) {
    *error = prefix + "/lib/tarrovel/plugins is missing: this command's own files are not laid out as installed";
    return false;
  }
  rel->push_back(kExtension);
  for (const char *optional : {"share/man/man1/tarrovel.1", "share/bash-completion/completions/tarrovel"}) {
    if (Exists(prefix + "/" + optional)) rel->push_back(optional);
  }
  return true;
}

bool LoadWanted(const std::string &source, const std::string &dest, Wanted *w, std::string *error) {
  struct stat st;
  if (lstat(source.c_str(), &st) != 0) {
    *error = Errno(source);
    return false;
  }
  w->path = dest;
  if (S_ISLNK(st.st_mode)) {
    char buf[PATH_MAX];
    ssize_t n = readlink(source.c_str(), buf, sizeof buf);
    if (n < 0) {
      *error = Errno(source);
      return false;
    }
    w->symlink = true;
    w->content.assign(buf, size_t(n));
    return true;
  }
  w->mode = st.st_mode & 07777;
  return ReadFile(source, &w->content, error);
}

// Whether the file at w.path is already what is wanted.
bool AlreadyThere(const Wanted &w) {
  struct stat st;
  if (lstat(w.path.c_str(), &st) != 0) return false;
  if (w.symlink) {
    char buf[PATH_MAX];
    ssize_t n = S_ISLNK(st.st_mode) ? readlink(w.path.c_str(), buf, sizeof buf) : -1;
    return n >= 0 && std::string(buf, size_t(n)) == w.content;
  }
  if (!S_ISREG(st.st_mode) || (st.st_mode & 07777) != w.mode || size_t(st.st_size) != w.content.size()) return false;
  std::string have, error;
  return ReadFile(w.path, &have, &error) && have == w.content;
}

// Creates the missing folders of `dir`, adding each one created to *created.
bool MakeFolders(const std::string &dir, std::vector<std::string> *created, std::string *error) {
  if (dir.empty() || dir == "/" || Exists(dir)) return true;
  if (!MakeFolders(Dirname(dir), created, error)) return false;
  if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
    *error = Errno(dir);
    return false;
  }
  created->push_back(dir);
  return true;
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
  bool ok = WriteAtomically(file, "", 0644, error) && mkdir(folder.c_str(), 0755) == 0 &&
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

std::string ThunarBase(const InstallPlan &plan) {
  for (const std::string &candidate : plan.ucaDefaults) {
    std::string text, error, ignored;
    if (ReadFile(candidate, &text, &error) && UcaRemove(text, {}, &ignored, &error)) return text;
  }
  return UcaDocument({});
}

// The Thunar actions this installation merged, exactly as written: what tells
// them from a user's own actions. Kept beside the manifest.
std::string UcaRecordPath(const InstallPlan &plan) { return Dirname(plan.manifest) + "/thunar-actions"; }

std::vector<UcaAction> RecordedUcaActions(const InstallPlan &plan) {
  std::string text, error;
  std::vector<UcaAction> actions;
  if (ReadFile(UcaRecordPath(plan), &text, &error)) UcaActionsFromText(text, &actions, &error);
  return actions;
}

bool RecordUcaActions(const InstallPlan &plan, const std::vector<UcaAction> &actions, std::string *error) {
  std::string text = UcaActionsText(actions), have, ignored;
  if (ReadFile(UcaRecordPath(plan), &have, &ignored) && have == text) return true;
  return WriteAtomically(UcaRecordPath(plan), text, 0644, error);
}

// Before uca.xml is written: both the old and the new actions are ours, so
// that a write that fails either way leaves no action unrecorded.
std::vector<UcaAction> Both(std::vector<UcaAction> a, const std::vector<UcaAction> &b) {
  for (const UcaAction &x : b) {
    if (std::none_of(a.begin(), a.end(), [&](const UcaAction &y) { return y.element == x.element; })) a.push_back(x);
  }
  return a;
}

InstallPlan CurrentPlan(bool user) {
  return PlanFor(user, Env("HOME"), Env("XDG_DATA_HOME"), Env("XDG_CONFIG_HOME"), Env("XDG_CONFIG_DIRS"),
                 TV_INSTALL_PREFIX);
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

std::string Realpath(const std::string &path) {
  char *r = realpath(path.c_str(), nullptr);
  std::string out = r ? r : "";
  free(r);
  return out;
}

int Fail(FILE *err, const std::string &message) {
  fprintf(err, "tarrovel: %s\n", message.c_str());
  return 1;
}

bool UserCall(bool user) { return user || geteuid() != 0; }

}  // namespace

int Install(bool user, FILE *out, FILE *err) {
  user = UserCall(user);
  InstallPlan plan = CurrentPlan(user);
  if (user && Env("HOME").empty()) return Fail(err, "HOME is not set, so there is no user to install for");
  std::string error;
  std::vector<ManifestEntry> old;
  bool hadManifest = false;
  if (!ReadManifest(plan.manifest, &old, &hadManifest, &error)) return Fail(err, error);

  // The program files, unless this command already runs from there.
  std::string source = OwnPrefix();
  std::vector<Wanted> wanted;
  std::vector<std::string> rel;
  if (!ProgramFiles(source, &rel, &error)) return Fail(err, error);
  std::string templ;
  if (!ReadFile(source + "/" + kExtension, &templ, &error)) return Fail(err, error);
  bool inPlace = Realpath(source) == Realpath(plan.prefix);
  for (const std::string &r : rel) {
    if (inPlace) break;
    Wanted w;
    if (!LoadWanted(source + "/" + r, plan.prefix + "/" + r, &w, &error)) return Fail(err, error);
    wanted.push_back(w);
  }

  std::string tarrovel = plan.prefix + "/bin/tarrovel";
  std::string extension = SubstituteExtension(templ, tarrovel);
  for (const char *fm : {"nautilus-python", "nemo-python"}) {
    Wanted w;
    w.path = plan.dataDir + "/" + fm + "/extensions/tarrovel_menu.py";
    w.content = extension;
    wanted.push_back(w);
  }
  PlugInHost host;
  std::vector<StaticItem> items;
  if (!LoadedHost(host, &error) || !StaticItemsInEveryLanguage(host, &items, &error)) return Fail(err, error);
  Wanted dolphin;
  dolphin.path = plan.dataDir + "/kio/servicemenus/tarrovel.desktop";
  dolphin.content = DolphinServiceMenu(items, tarrovel);
  dolphin.mode = 0755;  // Dolphin runs user service menus only when they are executable
  dolphin.kind = ManifestEntry::kDolphin;
  wanted.push_back(dolphin);

  // Folders created now, and those an earlier install created that still exist.
  std::vector<ManifestEntry> entries = {{ManifestEntry::kPrefix, plan.prefix}};
  std::vector<std::string> created;
  for (const ManifestEntry &e : old) {
    if (e.kind == ManifestEntry::kFolder && Exists(e.path)) created.push_back(e.path);
  }
  int status = 0;
  size_t written = 0, unchanged = 0;
  // A file is ours when we write it or an earlier install did: one that was
  // already there as we would write it (a package's own copy, say) is left
  // out of the manifest, so that uninstall never removes it.
  auto ours = [&](const std::string &path) {
    return std::any_of(old.begin(), old.end(), [&](const ManifestEntry &e) { return e.path == path; });
  };
  bool wroteLast = false;
  auto put = [&](const Wanted &w) {
    wroteLast = false;
    if (AlreadyThere(w)) {
      unchanged++;
      return true;
    }
    bool ok = MakeFolders(Dirname(w.path), &created, &error) &&
              (w.symlink ? SymlinkAtomically(w.path, w.content, &error)
                         : WriteAtomically(w.path, w.content, w.mode, &error));
    if (!ok) return false;
    fprintf(out, "wrote %s\n", w.path.c_str());
    written++;
    wroteLast = true;
    return true;
  };
  for (const Wanted &w : wanted) {
    if (!put(w)) {
      status = Fail(err, error);
      break;
    }
    if (wroteLast || ours(w.path)) entries.push_back({w.kind, w.path});
  }

  // Thunar: our actions merged into the user's own file, never a file that
  // does not parse.
  if (status == 0) {
    bool ucaCreated = false;
    for (const ManifestEntry &e : old) ucaCreated = ucaCreated || (e.kind == ManifestEntry::kThunarCreated && e.path == plan.ucaXml);
    std::string existing, merged;
    if (!Exists(plan.ucaXml)) {
      existing = ThunarBase(plan);
      ucaCreated = true;
    } else if (!ReadFile(plan.ucaXml, &existing, &error)) {
      status = Fail(err, error);
    }
    struct stat st;
    mode_t mode = lstat(plan.ucaXml.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
    std::vector<UcaAction> previous = RecordedUcaActions(plan), actions = UcaActionsFor(items, tarrovel);
    if (status == 0 && !UcaMerge(existing, previous, actions, &merged, &error)) {
      status = Fail(err, plan.ucaXml + " does not parse, so it is left as it is: " + error);
    } else if (status == 0) {
      Wanted w;
      w.path = plan.ucaXml;
      w.content = merged;
      w.mode = mode;
      if (MakeFolders(Dirname(plan.manifest), &created, &error) &&
          RecordUcaActions(plan, Both(previous, actions), &error) && put(w) &&
          RecordUcaActions(plan, actions, &error)) {
        entries.push_back({ucaCreated ? ManifestEntry::kThunarCreated : ManifestEntry::kThunar, w.path});
      } else {
        status = Fail(err, error);
      }
    }
  }

  // What an earlier install wrote that is no longer part of it goes; after a
  // failure it stays listed, so that uninstall still finds it.
  for (const ManifestEntry &e : old) {
    if (e.kind == ManifestEntry::kFolder || e.kind == ManifestEntry::kPrefix) continue;
    bool kept = std::any_of(entries.begin(), entries.end(), [&](const ManifestEntry &n) { return n.path == e.path; });
    if (kept) continue;
    if (status != 0) {
      entries.push_back(e);
    } else if (e.kind != ManifestEntry::kThunar && e.kind != ManifestEntry::kThunarCreated &&
               unlink(e.path.c_str()) == 0) {
      fprintf(out, "removed %s\n", e.path.c_str());
    }
  }

  // The manifest itself, and the folders (deepest last, so uninstall can go in reverse).
  if (!MakeFolders(Dirname(plan.manifest), &created, &error)) return Fail(err, error);
  std::sort(created.begin(), created.end());
  created.erase(std::unique(created.begin(), created.end()), created.end());
  std::vector<ManifestEntry> all;
  for (const std::string &c : created) all.push_back({ManifestEntry::kFolder, c});
  all.insert(all.end(), entries.begin(), entries.end());
  Wanted manifest;
  manifest.path = plan.manifest;
  manifest.content = FormatManifest(all);
  if (!AlreadyThere(manifest)) {
    if (!WriteAtomically(manifest.path, manifest.content, manifest.mode, &error)) return Fail(err, error);
    fprintf(out, "wrote %s\n", manifest.path.c_str());
    written++;
  } else {
    unchanged++;
  }
  if (status == 0) {
    fprintf(out, "tarrovel: installed %s under %s (%zu files written, %zu already in place)\n",
            user ? "for this user" : "for all users", plan.prefix.c_str(), written, unchanged);
  }
  return status;
}

int Uninstall(bool user, FILE *out, FILE *err) {
  user = UserCall(user);
  InstallPlan plan = CurrentPlan(user);
  std::string error;
  std::vector<ManifestEntry> entries;
  bool present = false;
  if (!ReadManifest(plan.manifest, &entries, &present, &error)) return Fail(err, error);
  if (!present) {
    fprintf(out, "tarrovel: nothing to uninstall (%s does not exist)\n", plan.manifest.c_str());
    return 0;
  }
  int status = 0;
  std::vector<UcaAction> ours = RecordedUcaActions(plan);
  std::vector<std::string> folders;
  std::vector<ManifestEntry> left;  // what could not be removed, for a second try
  for (const ManifestEntry &e : entries) {
    int before = status;
    switch (e.kind) {
      case ManifestEntry::kPrefix:
        left.push_back(e);
        break;
      case ManifestEntry::kFolder:
        folders.push_back(e.path);
        break;
      case ManifestEntry::kFile:
      case ManifestEntry::kDolphin:
        if (unlink(e.path.c_str()) == 0) fprintf(out, "removed %s\n", e.path.c_str());
        else if (errno != ENOENT) status = Fail(err, Errno(e.path));
        break;
      case ManifestEntry::kThunar:
      case ManifestEntry::kThunarCreated: {
        std::string text, without;
        if (!Exists(e.path)) break;
        if (!ReadFile(e.path, &text, &error)) {
          status = Fail(err, error);
          break;
        }
        if (!UcaRemove(text, ours, &without, &error)) {
          status = Fail(err, e.path + " does not parse, so it is left as it is: " + error);
          break;
        }
        // A file install created goes again, unless the user has added to it since.
        if (e.kind == ManifestEntry::kThunarCreated && (without == ThunarBase(plan) || without == UcaDocument({}))) {
          if (unlink(e.path.c_str()) == 0) fprintf(out, "removed %s\n", e.path.c_str());
          else status = Fail(err, Errno(e.path));
        } else if (without != text) {
          struct stat st;
          mode_t mode = stat(e.path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
          if (WriteAtomically(e.path, without, mode, &error)) fprintf(out, "removed our actions from %s\n", e.path.c_str());
          else status = Fail(err, error);
        }
        break;
      }
    }
    if (status != before) left.push_back(e);
  }
  if (status == 0) {
    unlink(UcaRecordPath(plan).c_str());
    if (unlink(plan.manifest.c_str()) == 0) fprintf(out, "removed %s\n", plan.manifest.c_str());
  } else {
    for (const std::string &f : folders) left.insert(left.begin(), {ManifestEntry::kFolder, f});
    if (!WriteAtomically(plan.manifest, FormatManifest(left), 0644, &error)) Fail(err, error);
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

void RefreshStaticMenus(PlugInHost &host, FILE *err) {
  InstallPlan plan = CurrentPlan(true);
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
  std::string tarrovel = prefix + "/bin/tarrovel";
  std::vector<UcaAction> previous = RecordedUcaActions(plan), actions = UcaActionsFor(items, tarrovel);
  for (const ManifestEntry &e : entries) {
    std::string have, want;
    struct stat st;
    // Only files that are still there: a removed one is the user's decision.
    if (stat(e.path.c_str(), &st) != 0 || !ReadFile(e.path, &have, &error)) continue;
    if (e.kind == ManifestEntry::kDolphin) {
      want = DolphinServiceMenu(items, tarrovel);
    } else if (e.kind == ManifestEntry::kThunar || e.kind == ManifestEntry::kThunarCreated) {
      if (!UcaMerge(have, previous, actions, &want, &error)) {
        fprintf(err, "tarrovel: %s does not parse, so it is left as it is: %s\n", e.path.c_str(), error.c_str());
        continue;
      }
      if (want != have && !(RecordUcaActions(plan, Both(previous, actions), &error) &&
                             WriteAtomically(e.path, want, st.st_mode & 07777, &error) &&
                             RecordUcaActions(plan, actions, &error)))
        fprintf(err, "tarrovel: the static menu is not updated: %s\n", error.c_str());
      continue;
    } else {
      continue;
    }
    if (want != have && !WriteAtomically(e.path, want, st.st_mode & 07777, &error))
      fprintf(err, "tarrovel: the static menu is not updated: %s\n", error.c_str());
  }
}

}  // namespace tarrovel
