#include "host/InstallFiles.h"

#include "platform/sys/CallTable.h"
#include "platform/sys/FileReplacement.h"

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

namespace tv::host {

const char kExtensionTemplate[] = "share/tarrovel/integrations/tarrovel_menu.py";

namespace {

std::string Errno(const std::string &path, int err = errno) { return path + ": " + strerror(err); }

bool ReadLink(const std::string &path, std::string *target, std::string *error) {
  char buf[PATH_MAX];
  ssize_t n = tv::sys::Readlinkat(AT_FDCWD, path.c_str(), buf, sizeof buf);
  if (n < 0) *error = Errno(path);
  else target->assign(buf, size_t(n));
  return n >= 0;
}

std::string LinkDigest(const std::string &target) { return ContentDigest("symlink:" + target); }

bool SymlinkAtomically(const std::string &path, const std::string &target, std::string *error) {
  for (int attempt = 0; attempt < 100; attempt++) {
    std::string tmp = path + ".tarrovel-tmp-" + std::to_string(getpid()) + "-" + std::to_string(attempt);
    if (tv::sys::Symlinkat(target.c_str(), AT_FDCWD, tmp.c_str()) != 0) {
      if (errno == EEXIST) continue;
      *error = Errno(path);
      return false;
    }
    if (tv::sys::Renameat(AT_FDCWD, tmp.c_str(), AT_FDCWD, path.c_str()) != 0) {
      *error = Errno(path);
      tv::sys::Unlinkat(AT_FDCWD, tmp.c_str(), 0);
      return false;
    }
    return true;
  }
  *error = path + ": no temporary name is free";
  return false;
}

bool Replace(const std::string &path, const std::string &content, const tv::sys::KeptAttributes &keep,
             std::string *error) {
  tv::sys::ReplaceResult r = tv::sys::ReplaceFile(AT_FDCWD, path, content.data(), content.size(), &keep);
  if (r.err != 0) *error = Errno(r.failedAt, r.err);
  return r.err == 0;
}

bool LoadWanted(const std::string &source, const std::string &dest, Wanted *w, std::string *error) {
  struct stat st;
  if (lstat(source.c_str(), &st) != 0) {
    *error = Errno(source);
    return false;
  }
  w->path = dest;
  if (S_ISLNK(st.st_mode)) {
    w->symlink = true;
    return ReadLink(source, &w->content, error);
  }
  w->mode = st.st_mode & 07777;
  return ReadFile(source, &w->content, error);
}

}  // namespace

std::string Wanted::Digest() const { return symlink ? LinkDigest(content) : ContentDigest(content); }

bool Look(const Wanted &w, PathFacts *facts, std::string *error) {
  *facts = PathFacts();
  struct stat st;
  if (tv::sys::Fstatat(AT_FDCWD, w.path.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return true;
    *error = Errno(w.path);
    return false;
  }
  facts->exists = true;
  std::string bytes;
  if (S_ISLNK(st.st_mode)) {
    facts->sameMode = w.symlink;
    if (!ReadLink(w.path, &bytes, error)) return false;
    facts->digest = LinkDigest(bytes);
  } else if (S_ISREG(st.st_mode)) {
    facts->sameMode = !w.symlink && (st.st_mode & 07777) == w.mode;
    if (!ReadFile(w.path, &bytes, error)) return false;
    facts->digest = ContentDigest(bytes);
  } else {
    facts->digest = "other";  // a folder, a FIFO...: never what install writes
  }
  return true;
}

bool Put(const Wanted &w, std::string *error) {
  if (w.symlink) return SymlinkAtomically(w.path, w.content, error);
  tv::sys::KeptAttributes keep;
  keep.uid = geteuid();
  keep.gid = getegid();
  keep.mode = w.mode;
  return Replace(w.path, w.content, keep, error);
}

bool Rewrite(const std::string &path, const std::string &content, std::string *error) {
  int fd = tv::sys::Openat(AT_FDCWD, path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  std::vector<tv::sys::NamedValue> xattrs;
  int err = fd < 0 ? errno : tv::sys::Fstat(fd, &st) != 0 ? errno : tv::sys::ReadAllXattrs(fd, &xattrs);
  if (fd >= 0) tv::sys::Close(fd);
  if (err != 0) {
    *error = Errno(path, err);
    return false;
  }
  tv::sys::KeptAttributes keep;
  keep.uid = st.st_uid;
  keep.gid = st.st_gid;
  keep.mode = st.st_mode & 07777;
  keep.xattrs = &xattrs;
  return Replace(path, content, keep, error);
}

bool MakeFolders(const std::string &dir, std::vector<std::string> *created, std::string *error) {
  if (dir.empty() || dir == "/" || Exists(dir)) return true;
  if (!MakeFolders(Dirname(dir), created, error)) return false;
  if (tv::sys::Mkdirat(AT_FDCWD, dir.c_str(), 0755) != 0 && errno != EEXIST) {
    *error = Errno(dir);
    return false;
  }
  created->push_back(dir);
  return true;
}

std::vector<std::string> MissingFolders(const std::vector<std::string> &files) {
  std::vector<std::string> out;
  for (const std::string &f : files) {
    for (std::string d = Dirname(f); !d.empty() && d != "/" && !Exists(d); d = Dirname(d)) out.push_back(d);
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

bool ProgramFiles(const std::string &prefix, const std::string &dest, std::vector<Wanted> *wanted,
                  std::string *error) {
  std::vector<std::string> rel;
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
      else if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) rel.push_back(r);
    }
  };
  for (const char *required : {"bin/tarrovel", kExtensionTemplate}) {
    if (!Exists(prefix + "/" + required)) {
      *error = prefix + "/" + required + " is missing: this command's own files are not laid out as installed";
      return false;
    }
  }
  rel.push_back("bin/tarrovel");
  walk("lib/tarrovel");
  if (!Exists(prefix + "/lib/tarrovel/plugins") || rel.size() == 1) {
    *error = prefix + "/lib/tarrovel/plugins is missing: this command's own files are not laid out as installed";
    return false;
  }
  rel.push_back(kExtensionTemplate);
  for (const char *optional : {"share/man/man1/tarrovel.1", "share/bash-completion/completions/tarrovel"}) {
    if (Exists(prefix + "/" + optional)) rel.push_back(optional);
  }
  for (const std::string &r : rel) {
    Wanted w;
    if (!LoadWanted(prefix + "/" + r, dest + "/" + r, &w, error)) return false;
    wanted->push_back(w);
  }
  return true;
}

InstallPlan PlanFromEnvironment(bool user) {
  auto env = [](const char *name) -> std::string {
    const char *v = getenv(name);
    return v ? v : "";
  };
  return PlanFor(user, env("HOME"), env("XDG_DATA_HOME"), env("XDG_CONFIG_HOME"), env("XDG_CONFIG_DIRS"),
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

bool WriteManifest(const std::string &path, const std::vector<ManifestEntry> &entries, std::string *error) {
  Wanted w;
  w.path = path;
  w.content = FormatManifest(entries);
  std::string have, ignored;
  if (ReadFile(path, &have, &ignored) && have == w.content) return true;
  return Put(w, error);
}

void RemoveLeftoverTemporaries(const std::string &path) {
  std::string dir = Dirname(path), base = path.substr(dir.size() + 1) + ".tarrovel-tmp-";
  DIR *d = opendir(dir.c_str());
  if (d == nullptr) return;
  std::vector<std::string> gone;
  while (dirent *e = readdir(d)) {
    std::string n = e->d_name, at = dir + "/" + n;
    struct stat st;
    if (n.compare(0, base.size(), base) == 0 && lstat(at.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
      gone.push_back(at);  // a link's temporary: only install makes them
    } else if (tv::sys::IsTemporaryName(n)) {
      // A file's is locked while its writer lives.
      int fd = tv::sys::Openat(AT_FDCWD, at.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
      if (fd >= 0 && tv::sys::OfdLock(fd, F_RDLCK, false) == 0) gone.push_back(at);
      if (fd >= 0) tv::sys::Close(fd);
    }
  }
  closedir(d);
  for (const std::string &g : gone) tv::sys::Unlinkat(AT_FDCWD, g.c_str(), 0);
}

std::vector<std::string> RunningProcessNames(bool everyUser) {
  std::vector<std::string> names;
  DIR *d = opendir("/proc");
  if (d == nullptr) return names;
  uid_t me = geteuid();
  while (dirent *e = readdir(d)) {
    if (strspn(e->d_name, "0123456789") != strlen(e->d_name)) continue;
    std::string dir = std::string("/proc/") + e->d_name, comm, error;
    struct stat st;
    if (stat(dir.c_str(), &st) != 0 || (!everyUser && st.st_uid != me) || !ReadFile(dir + "/comm", &comm, &error)) continue;
    while (!comm.empty() && comm.back() == '\n') comm.pop_back();
    names.push_back(comm);
  }
  closedir(d);
  return names;
}

}  // namespace tv::host
