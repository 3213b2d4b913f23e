// CFBundle: a plug-in bundle folder opened by the host, its Info.plist
// (identifier, executable, factories and the types they serve) and its
// localized string tables.
//
//   <bundle>/Contents/Info.plist
//   <bundle>/Contents/MacOS/<CFBundleExecutable>
//   <bundle>/Contents/Resources/<language>.lproj/<table>.strings
#include "platform/Console.h"
#include "platform/cf/CFFileIO.h"
#include "platform/cf/CFInternal.h"
#include "platform/cf/CFStringEncodings.h"
#include "platform/cf/CFUUIDText.h"
#include "platform/cf/LanguageChoice.h"
#include "platform/cf/PlistSupport.h"
#include "platform/cf/StringsFile.h"
#include "platform/HostServices.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>

namespace {

// Info.plist and string tables larger than this are not read.
constexpr size_t kMaxFileBytes = 16 << 20;

struct Factory {
  tv::cf::UUIDBytes id;
  std::string functionName;
};
struct PlugInType {
  tv::cf::UUIDBytes id;
  std::vector<tv::cf::UUIDBytes> factories;
};

// A file name with no folder part: not empty, no "/", not "." or "..".
bool IsPlainName(const std::string &name) {
  return !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
}

}  // namespace

struct __CFBundle : TVCFObject {
  __CFBundle() : TVCFObject(tv::cf::kBundleTypeID) {}
  ~__CFBundle() override;
  std::u16string Describe() const override {
    return u"CFBundle " + tv::cf::DecodeUTF8Lossy(path) + u" (" + tv::cf::Chars(identifier) + u")";
  }

  std::string path;                  // absolute, no trailing "/"
  CFStringRef identifier = nullptr;  // owned
  std::string executable;            // empty when Info.plist names none
  std::vector<Factory> factories;
  std::vector<PlugInType> types;
  // Parsed string tables by language and table name; parsed once.
  std::map<std::pair<std::string, std::string>, tv::cf::StringsTable> tables;
  // Info.plist as read, and the keys asked for so far as CF objects (owned).
  tv::cf::PlistPtr info;
  std::map<std::string, CFTypeRef> infoValues;
};

namespace {

// The bundles opened and not yet freed, in the order they were opened.
std::vector<__CFBundle *> &OpenBundles() {
  static auto *list = new std::vector<__CFBundle *>;
  return *list;
}

__CFBundle *AsBundle(CFBundleRef b) { return tv::cf::AsMutable<__CFBundle>(b, tv::cf::kBundleTypeID); }

// Reads Info.plist into bundle; noErr, fnfErr or paramErr.
OSStatus ReadInfoPlist(__CFBundle *bundle) {
  std::string bytes;
  switch (tv::cf::ReadWholeFile(bundle->path + "/Contents/Info.plist", &bytes, kMaxFileBytes)) {
    case tv::cf::ReadResult::kMissing: return fnfErr;
    case tv::cf::ReadResult::kFailed: return ioErr;
    case tv::cf::ReadResult::kOK: break;
  }
  tv::cf::PlistPtr root = tv::cf::ParsePlist(bytes);
  plist_t dict = root.get();
  if (!dict || plist_get_node_type(dict) != PLIST_DICT) return paramErr;
  std::string identifier;
  std::u16string chars;
  if (!tv::cf::PlistString(plist_dict_get_item(dict, "CFBundleIdentifier"), &identifier) ||
      identifier.empty() || !tv::cf::DecodeUTF8(identifier, &chars)) {
    return paramErr;
  }
  std::string executable;
  if (tv::cf::PlistString(plist_dict_get_item(dict, "CFBundleExecutable"), &executable) &&
      IsPlainName(executable)) {
    bundle->executable = executable;
  }
  // Entries that are not well formed are left out; the rest still count.
  tv::cf::ForEachDictItem(plist_dict_get_item(dict, "CFPlugInFactories"),
                        [&](const std::string &key, plist_t value) {
                          Factory f;
                          if (tv::cf::UUIDFromText(key, &f.id) &&
                              tv::cf::PlistString(value, &f.functionName) && !f.functionName.empty()) {
                            bundle->factories.push_back(std::move(f));
                          }
                        });
  tv::cf::ForEachDictItem(plist_dict_get_item(dict, "CFPlugInTypes"), [&](const std::string &key,
                                                                        plist_t value) {
    PlugInType t;
    if (!tv::cf::UUIDFromText(key, &t.id) || plist_get_node_type(value) != PLIST_ARRAY) return;
    for (uint32_t i = 0; i < plist_array_get_size(value); ++i) {
      std::string text;
      tv::cf::UUIDBytes id;
      if (tv::cf::PlistString(plist_array_get_item(value, i), &text) && tv::cf::UUIDFromText(text, &id)) {
        t.factories.push_back(id);
      }
    }
    bundle->types.push_back(std::move(t));
  });
  bundle->info = std::move(root);
  bundle->identifier = tv::cf::CreateString(std::move(chars));
  return bundle->identifier ? noErr : memFullErr;
}

std::string ResourcesFolder(const __CFBundle &b) { return b.path + "/Contents/Resources"; }

std::string BundleLanguage(const __CFBundle &b) {
  const std::string resources = ResourcesFolder(b);
  return tv::cf::ChooseLanguage([](const char *name) { return std::getenv(name); },
                              [&](const std::string &language) {
                                std::error_code ec;
                                return std::filesystem::is_directory(
                                    resources + "/" + language + ".lproj", ec);
                              });
}

// The parsed table, read on first use. A missing file is an empty table; a
// faulty one too, after one line on standard error (once per file).
const tv::cf::StringsTable &Table(__CFBundle *b, const std::string &language, const std::string &table) {
  const auto key = std::make_pair(language, table);
  auto it = b->tables.find(key);
  if (it != b->tables.end()) return it->second;
  tv::cf::StringsTable parsed;
  const std::string path = ResourcesFolder(*b) + "/" + language + ".lproj/" + table + ".strings";
  std::string bytes;
  if (tv::cf::ReadWholeFile(path, &bytes, kMaxFileBytes) == tv::cf::ReadResult::kOK) {
    size_t line = 0;
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.data());
    if (!tv::cf::ParseStringsFile(std::span(data, bytes.size()), &parsed, &line)) {
      static auto *reported = new std::set<std::string>;
      if (reported->insert(path).second) {
        TVConsolePrintf("tarrovel: %s:%zu: syntax error in strings file; showing untranslated texts\n",
                        path.c_str(), line);
      }
    }
  }
  return b->tables.emplace(key, std::move(parsed)).first->second;
}

// A table name safe to put in a path.
bool IsTableName(const std::string &name) { return IsPlainName(name) && name[0] != '.'; }

}  // namespace

__CFBundle::~__CFBundle() {
  auto &open = OpenBundles();
  open.erase(std::remove(open.begin(), open.end(), this), open.end());
  if (identifier) CFRelease(identifier);
  for (auto &[key, value] : infoValues) {
    if (value) CFRelease(value);
  }
}

CFBundleRef TVBundleCreateWithPath(const char *bundlePath, OSStatus *outError) {
  OSStatus err = noErr;
  __CFBundle *bundle = nullptr;
  if (!bundlePath || !*bundlePath) {
    err = paramErr;
  } else {
    bundle = tv::cf::New<__CFBundle>();
    if (!bundle) err = memFullErr;
  }
  if (err == noErr) {
    try {
      std::error_code ec;
      std::string path = std::filesystem::absolute(bundlePath, ec).string();
      if (ec) path = bundlePath;
      while (path.size() > 1 && path.back() == '/') path.pop_back();
      bundle->path = std::move(path);
      err = ReadInfoPlist(bundle);
      if (err == noErr) OpenBundles().push_back(bundle);
    } catch (const std::exception &) {
      err = memFullErr;
    }
  }
  if (err != noErr && bundle) {
    CFRelease(bundle);
    bundle = nullptr;
  }
  if (outError) *outError = err;
  return bundle;
}

CFBundleRef CFBundleGetBundleWithIdentifier(CFStringRef bundleID) {
  if (!tv::cf::AsString(bundleID)) return nullptr;
  for (__CFBundle *b : OpenBundles()) {
    if (CFEqual(b->identifier, bundleID)) return b;  // the first opened wins
  }
  return nullptr;
}

CFStringRef CFBundleGetIdentifier(CFBundleRef bundle) {
  const __CFBundle *b = AsBundle(bundle);
  return b ? b->identifier : nullptr;
}

CFStringRef TVBundleCopyExecutablePath(CFBundleRef bundle) {
  const __CFBundle *b = AsBundle(bundle);
  if (!b || b->executable.empty()) return nullptr;
  return tv::cf::CreateStringFromUTF8Lossy(b->path + "/Contents/MacOS/" + b->executable);
}

CFIndex TVBundleCopyFactoriesForType(CFBundleRef bundle, CFUUIDRef typeID, CFUUIDRef *outFactoryIDs,
                                     CFStringRef *outFunctionNames, CFIndex maxCount) {
  const __CFBundle *b = AsBundle(bundle);
  if (!b || !tv::cf::As<__CFUUID>(typeID, tv::cf::kUUIDTypeID) || maxCount <= 0) return 0;
  const tv::cf::UUIDBytes type = tv::cf::BytesOf(typeID);
  const PlugInType *t = nullptr;
  for (const PlugInType &candidate : b->types) {
    if (candidate.id == type) {
      t = &candidate;
      break;
    }
  }
  if (!t) return 0;
  std::vector<std::pair<CFUUIDRef, CFStringRef>> made;
  bool failed = false;
  for (const tv::cf::UUIDBytes &id : t->factories) {
    if (CFIndex(made.size()) == maxCount) break;
    const auto f = std::find_if(b->factories.begin(), b->factories.end(),
                                [&](const Factory &x) { return x.id == id; });
    if (f == b->factories.end()) continue;  // a type naming an unknown factory
    CFUUIDRef u = tv::cf::CreateUUID(id);
    CFStringRef name = tv::cf::CreateStringFromUTF8Lossy(f->functionName);
    if (!u || !name) {
      if (u) CFRelease(u);
      if (name) CFRelease(name);
      failed = true;
      break;
    }
    made.emplace_back(u, name);
  }
  // All or nothing: a partial list would hide a factory.
  if (failed) {
    for (auto &[u, name] : made) {
      CFRelease(u);
      CFRelease(name);
    }
    return 0;
  }
  for (size_t i = 0; i < made.size(); ++i) {
    if (outFactoryIDs) outFactoryIDs[i] = made[i].first;
    else CFRelease(made[i].first);
    if (outFunctionNames) outFunctionNames[i] = made[i].second;
    else CFRelease(made[i].second);
  }
  return CFIndex(made.size());
}

CFStringRef TVBundleGetLanguage(CFBundleRef bundle) {
  const __CFBundle *b = AsBundle(bundle);
  if (!b) return nullptr;
  // Interned, so the borrowed string outlives any later change of language.
  return __CFStringMakeConstantString(BundleLanguage(*b).c_str());
}

CFTypeRef CFBundleGetValueForInfoDictionaryKey(CFBundleRef bundle, CFStringRef key) {
  __CFBundle *b = AsBundle(bundle);
  if (!b || !tv::cf::AsString(key)) return nullptr;
  try {
    const std::string k = tv::cf::UTF8(key);
    auto it = b->infoValues.find(k);
    if (it != b->infoValues.end()) return it->second;
    CFTypeRef value = tv::cf::CreateFromPlist(plist_dict_get_item(b->info.get(), k.c_str()));
    // A key that gave nothing is looked at again when asked again.
    if (value) b->infoValues.emplace(k, value);
    return value;
  } catch (const std::exception &) {
    return nullptr;
  }
}

CFStringRef CFBundleCopyLocalizedString(CFBundleRef bundle, CFStringRef key, CFStringRef value,
                                        CFStringRef tableName) {
  // What is shown when no table has the key: value, unless it is empty, else key.
  CFStringRef fallback = (tv::cf::AsString(value) && CFStringGetLength(value) > 0) ? value
                         : tv::cf::AsString(key)                                  ? key
                                                                                : value;
  __CFBundle *b = AsBundle(bundle);
  if (!b || !tv::cf::AsString(key)) return fallback ? static_cast<CFStringRef>(CFRetain(fallback)) : nullptr;
  try {
    std::string table = "Localizable";
    if (tv::cf::AsString(tableName) && CFStringGetLength(tableName) > 0) table = tv::cf::UTF8(tableName);
    if (IsTableName(table)) {
      const std::string language = BundleLanguage(*b);
      const std::u16string &k = tv::cf::Chars(key);
      for (const std::string &lang : {language, std::string("en")}) {
        const tv::cf::StringsTable &t = Table(b, lang, table);
        auto hit = t.find(k);
        if (hit != t.end()) return tv::cf::CreateString(hit->second);
        if (lang == "en") break;
      }
    }
  } catch (const std::exception &) {
    return nullptr;
  }
  return static_cast<CFStringRef>(CFRetain(fallback));
}
