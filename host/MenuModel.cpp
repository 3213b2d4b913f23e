#include "host/MenuModel.h"

#include "platform/CoreFoundation.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace tv::host {

namespace {

struct Desc {
  AEDesc d = {typeNull, nullptr};
  ~Desc() { AEDisposeDesc(&d); }
};

std::string ToUTF8(CFStringRef s) {
  if (s == nullptr) return {};
  CFIndex len = CFStringGetLength(s), bytes = 0;
  CFStringGetBytes(s, CFRangeMake(0, len), kCFStringEncodingUTF8, '?', false, nullptr, 0, &bytes);
  std::string out(size_t(bytes), '\0');
  CFIndex used = 0;
  CFStringGetBytes(s, CFRangeMake(0, len), kCFStringEncodingUTF8, '?', false,
                   reinterpret_cast<UInt8 *>(out.data()), bytes, &used);
  out.resize(size_t(used));
  return out;
}

bool DecodeName(const AEDesc &name, std::string *title) {
  Size size = AEGetDescDataSize(&name);
  std::vector<UInt8> data(size_t(size > 0 ? size : 0));
  if (size > 0 && AEGetDescData(&name, data.data(), size) != noErr) return false;
  CFStringRef s = nullptr;
  if (name.descriptorType == typeUnicodeText) {
    if (size % 2 != 0) return false;
    std::vector<UniChar> units(size_t(size / 2));
    if (!units.empty()) memcpy(units.data(), data.data(), size_t(size));
    s = CFStringCreateWithCharacters(kCFAllocatorDefault, units.data(), CFIndex(units.size()));
  } else if (name.descriptorType == typeIntlText) {
    if (size < 4) return false;
    s = CFStringCreateWithBytes(kCFAllocatorDefault, data.data() + 4, size - 4, kCFStringEncodingMacRoman, false);
  } else {
    return false;
  }
  if (s == nullptr) return false;
  *title = ToUTF8(s);
  CFRelease(s);
  return true;
}

bool GetLong(const AERecord &rec, AEKeyword key, SInt32 *value, bool *present) {
  DescType actual = 0;
  Size actualSize = 0;
  SInt32 v = 0;
  OSErr err = AEGetParamPtr(&rec, key, typeWildCard, &actual, &v, sizeof v, &actualSize);
  *present = err == noErr;
  if (err != noErr) return true;
  if (actual != typeLongInteger || actualSize != 4) return false;
  *value = v;
  return true;
}

bool DecodeRecord(const AERecord &rec, MenuItem *item, std::string *error) {
  Desc name;
  if (AEGetParamDesc(&rec, keyAEName, typeWildCard, &name.d) != noErr || !DecodeName(name.d, &item->title)) {
    *error = "an item has no readable name";
    return false;
  }
  bool present = false;
  SInt32 command = 0;
  if (!GetLong(rec, keyContextualMenuCommandID, &command, &present)) {
    *error = "the command ID of \"" + item->title + "\" is not a 4-byte integer";
    return false;
  }
  item->command = command;
  Desc sub;
  if (AEGetParamDesc(&rec, keyContextualMenuSubmenu, typeWildCard, &sub.d) == noErr) {
    if (sub.d.descriptorType != typeAEList) {
      *error = "the submenu of \"" + item->title + "\" is not a list";
      return false;
    }
    item->hasSubmenu = true;
    if (!DecodeCommandList(sub.d, &item->submenu, error)) return false;
  } else if (!present) {
    *error = "\"" + item->title + "\" has neither a command ID nor a submenu";
    return false;
  }
  SInt32 attributes = 0;
  if (!GetLong(rec, keyContextualMenuAttributes, &attributes, &present)) {
    *error = "the attributes of \"" + item->title + "\" are not a 4-byte integer";
    return false;
  }
  item->attributes = UInt32(attributes);
  return true;
}

void AppendJSON(std::string &out, const std::vector<MenuItem> &items, int indent) {
  if (items.empty()) {
    out += "[]";
    return;
  }
  std::string pad(size_t(indent + 2), ' ');
  out += "[\n";
  for (size_t i = 0; i < items.size(); i++) {
    const MenuItem &it = items[i];
    out += pad + "{\"title\": " + JSONQuote(it.title);
    if (it.hasSubmenu) {
      out += ", \"submenu\": ";
      AppendJSON(out, it.submenu, indent + 2);
    } else {
      out += ", \"command\": " + std::to_string(it.command);
    }
    if (it.attributes != 0) out += ", \"attributes\": " + std::to_string(it.attributes);
    out += i + 1 < items.size() ? "},\n" : "}\n";
  }
  out += std::string(size_t(indent), ' ') + "]";
}

void AppendText(std::string &out, const std::vector<MenuItem> &items, int depth) {
  std::string pad(size_t(depth * 2), ' ');
  for (const MenuItem &it : items) {
    if (it.isSeparator()) {
      out += pad + "--------\n";
    } else if (it.hasSubmenu) {
      out += pad + it.title + " >\n";
      AppendText(out, it.submenu, depth + 1);
    } else {
      out += pad + it.title + "  [" + std::to_string(it.command) + "]\n";
    }
  }
}

}  // namespace

bool DecodeCommandList(const AEDescList &list, std::vector<MenuItem> *items, std::string *error) {
  long count = 0;
  if (list.descriptorType == typeNull) return true;
  if (AECountItems(&list, &count) != noErr) {
    *error = "the command list is not a list";
    return false;
  }
  for (long i = 1; i <= count; i++) {
    Desc rec;
    if (AEGetNthDesc(&list, i, typeWildCard, nullptr, &rec.d) != noErr || rec.d.descriptorType != typeAERecord) {
      *error = "item " + std::to_string(i) + " of the command list is not a record";
      return false;
    }
    MenuItem item;
    if (!DecodeRecord(rec.d, &item, error)) return false;
    items->push_back(std::move(item));
  }
  return true;
}

std::string JSONQuote(const std::string &s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += char(c);
        }
    }
  }
  return out + "\"";
}

std::string MenuToJSON(const std::vector<MenuItem> &items) {
  std::string out;
  AppendJSON(out, items, 0);
  return out + "\n";
}

std::string MenuToText(const std::vector<MenuItem> &items) {
  std::string out;
  AppendText(out, items, 0);
  return out;
}

const MenuItem *FindCommand(const std::vector<MenuItem> &items, const std::string &choice) {
  for (const MenuItem &it : items) {
    if (it.hasSubmenu) {
      if (const MenuItem *found = FindCommand(it.submenu, choice)) return found;
      continue;
    }
    if (it.isSeparator()) continue;
    if (it.title == choice || std::to_string(it.command) == choice) return &it;
  }
  return nullptr;
}

}  // namespace tv::host
