#include "host/PlugInHost.h"

#include "platform/HostServices.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tv::host {

namespace {

std::string Env(const char *name) {
  const char *v = getenv(name);
  return v ? v : "";
}

bool IsDirectory(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ToUTF8(CFStringRef s) {
  if (s == nullptr) return {};
  char buf[4096];
  return CFStringGetCString(s, buf, sizeof buf, kCFStringEncodingUTF8) ? buf : "";
}

CFUUIDBytes Bytes(CFUUIDRef uuid) { return CFUUIDGetUUIDBytes(uuid); }

}  // namespace

std::vector<std::string> PlugInFolders() {
  std::vector<std::string> folders;
  std::string list = Env("TARROVEL_PLUGIN_PATH");
  size_t start = 0;
  while (!list.empty() && start <= list.size()) {
    size_t colon = list.find(':', start);
    std::string part = list.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    if (!part.empty()) folders.push_back(part);
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  std::string data = Env("XDG_DATA_HOME");
  if (data.empty() && !Env("HOME").empty()) data = Env("HOME") + "/.local/share";
  if (!data.empty()) folders.push_back(data + "/tarrovel/plugins");
  std::string prefix = OwnPrefix();
  if (!prefix.empty()) folders.push_back(prefix + "/" TV_PLUGIN_SUBDIR);
  return folders;
}

std::string PrefixOfExecutable(const std::string &exe) {
  size_t bin = exe.rfind('/');
  if (bin == std::string::npos || bin == 0) return "";
  size_t prefix = exe.rfind('/', bin - 1);
  if (prefix == std::string::npos) return "";
  return prefix == 0 ? "/" : exe.substr(0, prefix);
}

std::string OwnPrefix() {
  // The kernel's link is already free of symbolic links, so a command reached
  // through /usr/local/bin/tarrovel -> .../bin/tarrovel finds its real prefix.
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return "";
  return PrefixOfExecutable(std::string(exe, size_t(n)));
}

std::vector<std::string> FindBundles(const std::vector<std::string> &folders) {
  std::vector<std::string> bundles;
  for (const std::string &folder : folders) {
    DIR *dir = opendir(folder.c_str());
    if (dir == nullptr) continue;
    std::vector<std::string> names;
    while (dirent *e = readdir(dir)) {
      std::string name = e->d_name;
      if (name.size() > 7 && name.compare(name.size() - 7, 7, ".plugin") == 0) names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
      std::string path = folder + "/" + name;
      if (IsDirectory(path)) bundles.push_back(path);
    }
  }
  return bundles;
}

PlugInHost::~PlugInHost() { ReleaseAll(); }

void PlugInHost::Load(const std::vector<std::string> &bundlePaths, bool echo) {
  for (const std::string &path : bundlePaths) {
    std::string why;
    if (LoadOne(path, &why) || why.empty()) continue;
    std::string line = "tarrovel: skipping plug-in " + path + ": " + why + "\n";
    diagnostics_ += line;
    if (echo) fputs(line.c_str(), stderr);
  }
}

namespace {

// An instance from the first of the bundle's factories that makes one with
// the contextual-menu interface, held in *p; false with *why naming what the
// last one lacked.
bool MakeInstance(void *library, CFUUIDRef *factories, CFStringRef *functions, CFIndex n, LoadedPlugIn *p,
                  std::string *why) {
  bool made = false;
  for (CFIndex i = 0; i < n && !made; i++) {
    std::string fn = ToUTF8(functions[i]);
    auto factory = reinterpret_cast<CFPlugInFactoryFunction>(dlsym(library, fn.c_str()));
    if (factory == nullptr) {
      *why = "it has no factory function " + fn;
      continue;
    }
    void *unknown = factory(kCFAllocatorDefault, kContextualMenuTypeID);
    if (unknown == nullptr) {
      *why = "its factory " + fn + " returned no instance";
      continue;
    }
    auto **iunknown = static_cast<ContextualMenuInterfaceStruct **>(unknown);
    LPVOID iface = nullptr;
    HRESULT hr = (*iunknown)->QueryInterface(unknown, Bytes(kContextualMenuInterfaceID), &iface);
    (*iunknown)->Release(unknown);  // the factory's reference
    if (hr != S_OK || iface == nullptr) {
      *why = "its instance does not offer the contextual-menu interface";
      continue;
    }
    p->interface = static_cast<ContextualMenuInterfaceStruct **>(iface);
    p->factoryID = static_cast<CFUUIDRef>(CFRetain(factories[i]));
    made = true;
  }
  return made;
}

}  // namespace

bool PlugInHost::LoadOne(const std::string &path, std::string *why) {
  OSStatus err = noErr;
  CFBundleRef bundle = TVBundleCreateWithPath(path.c_str(), &err);
  if (bundle == nullptr) {
    *why = err == fnfErr ? "it has no Contents/Info.plist" : "its Info.plist cannot be read";
    return false;
  }
  // A bundle identifier is loaded once, from the first folder that has it
  // (an installed copy and the build tree's, say); the others are quietly passed over.
  std::string id = ToUTF8(CFBundleGetIdentifier(bundle));
  for (const LoadedPlugIn &other : plugIns_) {
    if (ToUTF8(CFBundleGetIdentifier(other.bundle)) == id) {
      why->clear();
      CFRelease(bundle);
      return false;
    }
  }
  LoadedPlugIn p;
  p.path = path;
  p.bundle = bundle;
  CFUUIDRef factories[8];
  CFStringRef functions[8];
  CFIndex n = TVBundleCopyFactoriesForType(bundle, kContextualMenuTypeID, factories, functions, 8);
  auto releaseFactories = [&](CFIndex from) {
    for (CFIndex i = from; i < n; i++) {
      CFRelease(factories[i]);
      CFRelease(functions[i]);
    }
  };
  if (n == 0) {
    *why = "it registers no factory for contextual menus";
    CFRelease(bundle);
    return false;
  }
  CFStringRef exe = TVBundleCopyExecutablePath(bundle);
  std::string exePath = ToUTF8(exe);
  if (exe) CFRelease(exe);
  void *library = exePath.empty() ? nullptr : dlopen(exePath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char *e = dlerror();
    *why = std::string("its code cannot be loaded") + (e ? std::string(" (") + e + ")" : "");
    releaseFactories(0);
    CFRelease(bundle);
    return false;
  }
  p.library = library;
  bool made = MakeInstance(library, factories, functions, n, &p, why);
  releaseFactories(0);
  if (!made) {
    dlclose(library);
    CFRelease(bundle);
    return false;
  }
  plugIns_.push_back(std::move(p));
  return true;
}

bool PlugInHost::Examine(const AEDesc &selection, std::string *error) {
  bool ok = true;
  for (LoadedPlugIn &p : plugIns_) {
    AEDescList commands = {typeNull, nullptr};
    AECreateList(nullptr, 0, false, &commands);
    (*p.interface)->ExamineContext(p.interface, &selection, &commands);
    p.examined = true;
    p.offered.clear();
    std::string why;
    if (!DecodeCommandList(commands, &p.offered, &why) && ok) {
      *error = p.path + ": " + why;
      ok = false;
    }
    AEDisposeDesc(&commands);
  }
  return ok;
}

OSStatus PlugInHost::Handle(LoadedPlugIn &p, AEDesc &selection, SInt32 command) {
  return (*p.interface)->HandleSelection(p.interface, &selection, command);
}

void PlugInHost::PostMenuCleanup() {
  for (LoadedPlugIn &p : plugIns_) {
    if (p.examined) (*p.interface)->PostMenuCleanup(p.interface);
    p.examined = false;
  }
}

void PlugInHost::ReleaseAll() {
  for (LoadedPlugIn &p : plugIns_) {
    if (p.interface != nullptr) (*p.interface)->Release(p.interface);
    p.interface = nullptr;
    // The code goes only when none of its instances is left.
    if (p.library != nullptr && (p.factoryID == nullptr || TVPlugInGetInstanceCount(p.factoryID) == 0)) {
      dlclose(p.library);
      p.library = nullptr;
    }
    if (p.factoryID != nullptr) CFRelease(p.factoryID);
    p.factoryID = nullptr;
    if (p.bundle != nullptr) CFRelease(p.bundle);
    p.bundle = nullptr;
  }
  plugIns_.clear();
}

}  // namespace tv::host
