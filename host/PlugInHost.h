// Loads contextual-menu plug-in bundles and drives them as a file manager
// does: factory, QueryInterface, ExamineContext / HandleSelection /
// PostMenuCleanup, Release, and unloading once no instance is left.
#pragma once

#include "host/MenuModel.h"
#include "platform/ContextualMenu.h"
#include "platform/CoreFoundation.h"

#include <string>
#include <vector>

namespace tv::host {

// The plug-in folders, in search order: $TARROVEL_PLUGIN_PATH (colon-separated),
// ${XDG_DATA_HOME:-$HOME/.local/share}/tarrovel/plugins, then the command's own
// prefix's lib/tarrovel/plugins (an installation's, or the build tree's, which
// has the same layout).
std::vector<std::string> PlugInFolders();

// The prefix a command at `exe` belongs to: the folder above its bin/ folder
// ("/usr" for "/usr/bin/tarrovel"); "" when the path has no such folder.
std::string PrefixOfExecutable(const std::string &exe);
// The prefix of the running program, from /proc/self/exe.
std::string OwnPrefix();

// The bundles ("*.plugin" folders) in those folders, in order, sorted by name
// within a folder.
std::vector<std::string> FindBundles(const std::vector<std::string> &folders);

struct LoadedPlugIn {
  std::string path;
  CFBundleRef bundle = nullptr;      // owned
  void *library = nullptr;           // dlopen handle
  CFUUIDRef factoryID = nullptr;     // owned
  ContextualMenuInterfaceStruct **interface = nullptr;  // one reference held
  std::vector<MenuItem> offered;     // what the last ExamineContext added
  bool examined = false;
};

class PlugInHost {
 public:
  PlugInHost() = default;
  ~PlugInHost();  // releases every instance and unloads
  PlugInHost(const PlugInHost &) = delete;
  PlugInHost &operator=(const PlugInHost &) = delete;

  // Loads each bundle; one that cannot be used is skipped with one line on
  // *diagnostics (also written to standard error when echo is true).
  void Load(const std::vector<std::string> &bundlePaths, bool echo = true);
  std::vector<LoadedPlugIn> &plugIns() { return plugIns_; }

  // ExamineContext on every plug-in; each one's items are decoded into
  // `offered`. Returns the first failure to decode (ExamineContext's own
  // statuses are the plug-in's business, as in a file manager).
  bool Examine(const AEDesc &selection, std::string *error);
  // HandleSelection on one plug-in.
  OSStatus Handle(LoadedPlugIn &plugIn, AEDesc &selection, SInt32 command);
  // PostMenuCleanup on every plug-in that was examined.
  void PostMenuCleanup();
  // Releases the instances and unloads bundles with no instance left.
  void ReleaseAll();

  const std::string &diagnostics() const { return diagnostics_; }

 private:
  // false with *why empty for a bundle whose identifier is already loaded.
  bool LoadOne(const std::string &path, std::string *why);
  std::vector<LoadedPlugIn> plugIns_;
  std::string diagnostics_;
};

}  // namespace tv::host
