// Preferences: one XML property list per user and application ID, at
// ${XDG_CONFIG_HOME:-$HOME/.config}/tarrovel/<applicationID>.plist.
//
// Every read goes to the file, so a value changed on disk since the last
// read is seen. A missing, empty or unreadable file reads as no values; a
// read never writes. A set rewrites the whole file atomically, keeping every
// other key; a file that does not parse is first moved aside to
// "<name>.plist.corrupt" so that nothing is lost silently.
#include "platform/Console.h"
#include "platform/cf/CFFileIO.h"
#include "platform/cf/CFInternal.h"
#include "platform/cf/PlistSupport.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <set>
#include <unistd.h>

namespace {

// A preferences file larger than this is not ours to read or rewrite.
constexpr size_t kMaxPreferencesBytes = 4 << 20;

std::string HomeFolder() {
  const char *home = std::getenv("HOME");
  if (home && home[0] == '/') return home;
  if (const passwd *pw = getpwuid(getuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/') return pw->pw_dir;
  return {};
}

// The file for applicationID, or "" when the ID is not a safe file name or
// there is no home folder.
std::string PreferencesPath(CFStringRef applicationID) {
  if (!tv::cf::AsString(applicationID)) return {};
  const std::string id = tv::cf::UTF8(applicationID);
  if (id.empty() || id[0] == '.' || id.find('/') != std::string::npos ||
      id.find('\0') != std::string::npos) {
    return {};
  }
  std::string config;
  const char *xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') {
    config = xdg;
  } else {
    const std::string home = HomeFolder();
    if (home.empty()) return {};
    config = home + "/.config";
  }
  return config + "/tarrovel/" + id + ".plist";
}

enum class Stored { kNothing, kValues, kCorrupt, kUnreadable };

// Reads the file's dictionary into *dict (only for kValues).
Stored ReadStored(const std::string &path, tv::cf::PlistPtr *dict) {
  std::string bytes;
  switch (tv::cf::ReadWholeFile(path, &bytes, kMaxPreferencesBytes)) {
    case tv::cf::ReadResult::kMissing: return Stored::kNothing;
    case tv::cf::ReadResult::kFailed: return Stored::kUnreadable;
    case tv::cf::ReadResult::kOK: break;
  }
  if (bytes.find_first_not_of(" \t\r\n") == std::string::npos) return Stored::kNothing;
  tv::cf::PlistPtr root = tv::cf::ParsePlist(bytes);
  if (!root || plist_get_node_type(root.get()) != PLIST_DICT) return Stored::kCorrupt;
  *dict = std::move(root);
  return Stored::kValues;
}

// A copy of the stored value of key, or NULL.
tv::cf::PlistPtr CopyStoredValue(CFStringRef key, CFStringRef applicationID) {
  if (!tv::cf::AsString(key)) return nullptr;
  const std::string path = PreferencesPath(applicationID);
  tv::cf::PlistPtr dict;
  if (path.empty() || ReadStored(path, &dict) != Stored::kValues) return nullptr;
  plist_t node = plist_dict_get_item(dict.get(), tv::cf::UTF8(key).c_str());
  return node ? tv::cf::PlistPtr(plist_copy(node)) : nullptr;
}

// Says once per file and process what happened to it.
void ReportOnce(const std::string &path, const std::string &message) {
  static auto *reported = new std::set<std::string>;
  if (reported->insert(path + "\n" + message).second) {
    TVConsolePrintf("tarrovel: %s\n", message.c_str());
  }
}

// Where a corrupt file goes: "<name>.plist.corrupt", or ".corrupt.1" and so on
// when an earlier one is still there; "" when all are taken.
std::string AsideName(const std::string &path) {
  for (int n = 0; n < 100; ++n) {
    std::string name = path + ".corrupt" + (n ? "." + std::to_string(n) : "");
    std::error_code ec;
    if (std::filesystem::symlink_status(name, ec).type() == std::filesystem::file_type::not_found) {
      return name;
    }
  }
  return {};
}

// The plist node for a CFBoolean, CFString or CFData; NULL for anything else.
plist_t NodeFor(CFTypeRef value) {
  const CFTypeID type = CFGetTypeID(value);
  if (type == CFBooleanGetTypeID()) return plist_new_bool(CFBooleanGetValue(static_cast<CFBooleanRef>(value)));
  if (type == CFStringGetTypeID()) return plist_new_string(tv::cf::UTF8(static_cast<CFStringRef>(value)).c_str());
  if (type == CFDataGetTypeID()) {
    auto d = static_cast<CFDataRef>(value);
    return plist_new_data(reinterpret_cast<const char *>(CFDataGetBytePtr(d)), uint64_t(CFDataGetLength(d)));
  }
  return nullptr;
}

}  // namespace

Boolean CFPreferencesGetAppBooleanValue(CFStringRef key, CFStringRef applicationID,
                                        Boolean *keyExistsAndHasValidFormat) {
  Boolean value = false, valid = false;
  tv::cf::PlistPtr node = CopyStoredValue(key, applicationID);
  if (node && plist_get_node_type(node.get()) == PLIST_BOOLEAN) {
    uint8_t b = 0;
    plist_get_bool_val(node.get(), &b);
    value = b != 0;
    valid = true;
  }
  if (keyExistsAndHasValidFormat) *keyExistsAndHasValidFormat = valid;
  return value;
}

CFTypeRef CFPreferencesCopyAppValue(CFStringRef key, CFStringRef applicationID) {
  tv::cf::PlistPtr node = CopyStoredValue(key, applicationID);
  if (!node) return nullptr;
  switch (plist_get_node_type(node.get())) {
    case PLIST_BOOLEAN: {
      uint8_t b = 0;
      plist_get_bool_val(node.get(), &b);
      return b ? kCFBooleanTrue : kCFBooleanFalse;
    }
    case PLIST_STRING: {
      std::string s;
      if (!tv::cf::PlistString(node.get(), &s)) return nullptr;
      return tv::cf::CreateStringFromUTF8Lossy(s);
    }
    case PLIST_DATA: {
      uint64_t length = 0;
      const char *p = plist_get_data_ptr(node.get(), &length);
      return CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>(p), p ? CFIndex(length) : 0);
    }
    default:
      return nullptr;
  }
}

void CFPreferencesSetAppValue(CFStringRef key, CFTypeRef value, CFStringRef applicationID) {
  if (!tv::cf::AsString(key)) return;
  tv::cf::PlistPtr node;
  if (value) {
    node.reset(NodeFor(value));
    if (!node) return;  // not a value the store keeps
  }
  std::string path = PreferencesPath(applicationID);
  if (path.empty()) return;
  try {
    // A linked preferences file stays linked: write where the link points.
    std::error_code ec;
    if (std::filesystem::is_symlink(path, ec)) {
      const std::filesystem::path target = std::filesystem::canonical(path, ec);
      if (ec) return;
      path = target.string();
    }
    const std::string folder = path.substr(0, path.rfind('/'));
    if (int err = tv::cf::MakeFolders(folder)) {
      ReportOnce(path, "cannot create " + folder + ": " + tv::cf::ErrorText(err));
      return;
    }
    tv::cf::PlistPtr dict;
    switch (ReadStored(path, &dict)) {
      case Stored::kUnreadable:
        ReportOnce(path, "cannot read " + path + "; preferences not saved");
        return;  // never replace what we could not read
      case Stored::kCorrupt: {
        const std::string aside = AsideName(path);
        const int err = aside.empty() ? 0 : tv::cf::RenameFile(path, aside);
        if (aside.empty() || err != 0) {
          ReportOnce(path, "cannot move aside unreadable " + path + ": " +
                               (aside.empty() ? std::string("too many earlier copies") : tv::cf::ErrorText(err)));
          return;
        }
        ReportOnce(path, path + " was not a valid preferences file; moved it to " + aside);
        dict.reset(plist_new_dict());
        break;
      }
      case Stored::kNothing:
        dict.reset(plist_new_dict());
        break;
      case Stored::kValues:
        break;
    }
    const std::string k = tv::cf::UTF8(key);
    if (node) plist_dict_set_item(dict.get(), k.c_str(), node.release());  // the dict owns it now
    else plist_dict_remove_item(dict.get(), k.c_str());
    char *xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(dict.get(), &xml, &length);
    if (!xml) return;
    const std::string content(xml, length);
    plist_to_xml_free(xml);
    // Each lost change is worth a line, unlike the state of the file.
    if (int err = tv::cf::WriteFileAtomically(path, content)) {
      TVConsolePrintf("tarrovel: cannot save preferences to %s: %s\n", path.c_str(),
                      tv::cf::ErrorText(err).c_str());
    }
  } catch (const std::exception &) {
  }
}

Boolean CFPreferencesAppSynchronize(CFStringRef) { return true; }  // every set is already on disk
