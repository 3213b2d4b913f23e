#include "host/Offered.h"

#include "host/Selection.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tv::host {

// The plug-in's menu for a selection of one item.
bool OfferedFor(PlugInHost &host, const std::string &path, std::vector<MenuItem> *items, std::string *error) {
  AEDescList list = {typeNull, nullptr};
  bool ok = OnePathSelection(path, &list, error);
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
  const char *tmpdir = getenv("TMPDIR");
  std::string base = tmpdir != nullptr ? tmpdir : "";
  if (base.empty() || base[0] != '/') base = "/tmp";
  std::string tmpl = base + "/tarrovel-menus-XXXXXX";
  std::vector<char> dir(tmpl.begin(), tmpl.end());
  dir.push_back('\0');
  if (mkdtemp(dir.data()) == nullptr) {
    *error = tmpl + ": " + strerror(errno);
    return false;
  }
  std::string root = dir.data();
  std::string file = root + "/file", folder = root + "/folder";
  std::vector<MenuItem> forFile, forFolder;
  // A throwaway file in a folder of our own: created in one step, with no
  // temporary beside it and no wait for the disk.
  const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  bool ok = fd >= 0;
  if (!ok) *error = file + ": " + strerror(errno);
  else close(fd);
  if (ok && mkdir(folder.c_str(), 0755) != 0) {
    *error = folder + ": " + strerror(errno);
    ok = false;
  }
  ok = ok && OfferedFor(host, file, &forFile, error) && OfferedFor(host, folder, &forFolder, error);
  unlink(file.c_str());
  rmdir(folder.c_str());
  rmdir(root.c_str());
  if (ok) *items = StaticItemsFor(forFile, forFolder);
  return ok;
}

}  // namespace tv::host
