#include "host/MenuLanguages.h"

#include "host/Offered.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>

namespace tv::host {

namespace {

// LANGUAGE, which the bundles' strings follow first, set for a scope and then
// put back as it was (unset included).
class ScopedLanguage {
 public:
  explicit ScopedLanguage(const std::string &language) {
    if (const char *v = getenv("LANGUAGE")) saved_ = v;
    setenv("LANGUAGE", language.c_str(), 1);
  }
  ~ScopedLanguage() {
    if (saved_) setenv("LANGUAGE", saved_->c_str(), 1);
    else unsetenv("LANGUAGE");
  }
  ScopedLanguage(const ScopedLanguage &) = delete;
  ScopedLanguage &operator=(const ScopedLanguage &) = delete;

 private:
  std::optional<std::string> saved_;
};

// `key` from the bundle's tables in the language chosen now, as UTF-8.
std::string Localized(CFBundleRef bundle, const std::string &key) {
  CFStringRef cfKey = CFStringCreateWithCString(kCFAllocatorDefault, key.c_str(), kCFStringEncodingUTF8);
  CFStringRef found = cfKey != nullptr ? CFBundleCopyLocalizedString(bundle, cfKey, nullptr, nullptr) : nullptr;
  std::string text = found != nullptr ? Utf8Of(found) : key;
  if (found != nullptr) CFRelease(found);
  if (cfKey != nullptr) CFRelease(cfKey);
  return text;
}

}  // namespace

std::string Utf8Of(CFTypeRef value) {
  if (value == nullptr || CFGetTypeID(value) != CFStringGetTypeID()) return "";
  auto text = static_cast<CFStringRef>(value);
  std::vector<char> buffer(size_t(CFStringGetLength(text)) * 3 + 1);
  if (!CFStringGetCString(text, buffer.data(), CFIndex(buffer.size()), kCFStringEncodingUTF8)) return "";
  return buffer.data();
}

std::vector<std::string> LocalizedInEveryLanguage(PlugInHost &host, CFBundleRef bundle, const std::string &key) {
  std::vector<std::string> out = {Localized(bundle, key)};
  for (const std::string &language : BundleLanguages(host)) {
    ScopedLanguage scoped(language);
    std::string text = Localized(bundle, key);
    if (std::find(out.begin(), out.end(), text) == out.end()) out.push_back(text);
  }
  return out;
}

std::vector<std::string> BundleLanguages(PlugInHost &host) {
  std::vector<std::string> out;
  for (const LoadedPlugIn &p : host.plugIns()) {
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(p.path + "/Contents/Resources", ec)) {
      std::string name = entry.path().filename().string();
      const std::string suffix = ".lproj";
      if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 &&
          entry.is_directory(ec))
        out.push_back(name.substr(0, name.size() - suffix.size()));
    }
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

bool StaticItemsInEveryLanguage(PlugInHost &host, std::vector<StaticItem> *items, std::string *error) {
  std::vector<StaticItem> mine;
  if (!CurrentStaticItems(host, &mine, error)) return false;
  for (const std::string &language : BundleLanguages(host)) {
    std::vector<StaticItem> inLanguage;
    ScopedLanguage scoped(language);
    if (!CurrentStaticItems(host, &inLanguage, error)) return false;
    AddTitles(&mine, language, inLanguage);
  }
  *items = mine;
  return true;
}

std::string CommandOfTitleInAnyLanguage(PlugInHost &host, const AEDesc &selection, const std::string &title) {
  std::string found, error;
  for (const std::string &language : BundleLanguages(host)) {
    ScopedLanguage scoped(language);
    host.PostMenuCleanup();
    host.Examine(selection, &error);
    for (LoadedPlugIn &p : host.plugIns()) {
      const MenuItem *item = found.empty() ? FindCommand(p.offered, title) : nullptr;
      if (item != nullptr) found = std::to_string(item->command);
    }
  }
  host.PostMenuCleanup();
  host.Examine(selection, &error);
  return found;
}

}  // namespace tv::host
