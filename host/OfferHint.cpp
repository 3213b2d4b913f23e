#include "host/OfferHint.h"

#include "host/MenuLanguages.h"

#include <algorithm>

namespace tv::host {

namespace {

const StaticItem *Find(const std::vector<StaticItem> &items, const std::string &choice) {
  for (const StaticItem &item : items) {
    if (item.separator) continue;
    bool named = std::any_of(item.titles.begin(), item.titles.end(), [&](const auto &t) { return t.second == choice; });
    if (named || item.title == choice || std::to_string(item.command) == choice) return &item;
  }
  return nullptr;
}

std::string Where(const StaticItem &item) {
  std::string where = item.forFiles && item.forFolders ? "files and folders" : item.forFiles ? "files" : "folders";
  return "\"" + item.title + "\" is offered for " + where;
}

CFTypeRef ValueOf(CFDictionaryRef entry, const char *key) {
  CFStringRef cfKey = CFStringCreateWithCString(kCFAllocatorDefault, key, kCFStringEncodingUTF8);
  CFTypeRef value = cfKey != nullptr ? CFDictionaryGetValue(entry, cfKey) : nullptr;
  if (cfKey != nullptr) CFRelease(cfKey);
  return value;
}

// One entry of the declaration; false when it is not well formed.
bool ReadEntry(PlugInHost &host, CFBundleRef bundle, CFTypeRef value, ToggledItem *item) {
  if (value == nullptr || CFGetTypeID(value) != CFDictionaryGetTypeID()) return false;
  auto entry = static_cast<CFDictionaryRef>(value);
  std::string title = Utf8Of(ValueOf(entry, "TVItemTitle")), toggle = Utf8Of(ValueOf(entry, "TVToggleTitle"));
  CFTypeRef command = ValueOf(entry, "TVItemCommandID"), where = ValueOf(entry, "TVItemOfferedFor");
  if (title.empty() || toggle.empty() || where == nullptr || CFGetTypeID(where) != CFArrayGetTypeID()) return false;
  if (command != nullptr && (CFGetTypeID(command) != CFNumberGetTypeID() ||
                             !CFNumberGetValue(static_cast<CFNumberRef>(command), kCFNumberSInt32Type, &item->command)))
    return false;
  auto kinds = static_cast<CFArrayRef>(where);
  for (CFIndex i = 0; i < CFArrayGetCount(kinds); i++) {
    std::string kind = Utf8Of(CFArrayGetValueAtIndex(kinds, i));
    if (kind != "files" && kind != "folders") return false;
    (kind == "files" ? item->forFiles : item->forFolders) = true;
  }
  item->titles = LocalizedInEveryLanguage(host, bundle, title);
  item->toggleTitles = LocalizedInEveryLanguage(host, bundle, toggle);
  return item->forFiles || item->forFolders;
}

}  // namespace

std::string OfferHint(const std::string &choice, const std::vector<StaticItem> &now,
                      const std::vector<ToggledItem> &declared) {
  if (const StaticItem *item = Find(now, choice)) return Where(*item);
  for (const ToggledItem &d : declared) {
    bool named = std::find(d.titles.begin(), d.titles.end(), choice) != d.titles.end() ||
                 (d.command != 0 && std::to_string(d.command) == choice);
    const StaticItem *toggle = nullptr;
    for (size_t i = 0; named && toggle == nullptr && i < d.toggleTitles.size(); i++)
      toggle = Find(now, d.toggleTitles[i]);
    if (toggle == nullptr) continue;
    StaticItem item;
    item.title = d.titles.front();
    item.forFiles = d.forFiles;
    item.forFolders = d.forFolders;
    return Where(item) + ", once switched on with the toggle [" + std::to_string(toggle->command) + "]";
  }
  return "";
}

NotOfferedText NotOfferedDialog(const std::string &language, const std::string &choice, const std::string &hint,
                                const std::string &offered) {
  // Thunar reads uca.xml when it starts; Dolphin reads its service menus at
  // each right-click, so that a stale item there is gone with the next menu.
  if (language == "ja") {
    std::string explanation = hint.empty() ? "" : "メモ：" + hint + "\n\n";
    explanation += "Thunar や Dolphin のメニューから選んだ場合は、そのメニューが古くなっています。"
                   "Thunar はアクションを起動時に読み込みます。「thunar -q」で終了してから開き直してください。"
                   "Dolphin ではメニューを開き直してください。\n\n";
    explanation += offered.empty() ? "この選択項目で使える項目はありません。" : "この選択項目で使える項目：" + offered;
    return {"「" + choice + "」は、選択した項目には使えません", explanation};
  }
  std::string explanation = hint.empty() ? "" : "Note: " + hint + ".\n\n";
  explanation += "If you chose it in Thunar's or Dolphin's menu, that menu is out of date. Thunar reads its actions "
                 "when it starts: quit it with \"thunar -q\" and open it again. In Dolphin, open the menu again.\n\n";
  explanation += offered.empty() ? "Nothing is offered for this selection." : "Offered for this selection:" + offered;
  return {"\"" + choice + "\" is not offered for this selection", explanation};
}

std::vector<ToggledItem> DeclaredToggledItems(PlugInHost &host) {
  std::vector<ToggledItem> out;
  CFStringRef key = CFStringCreateWithCString(kCFAllocatorDefault, kItemsShownByTogglesKey, kCFStringEncodingUTF8);
  for (const LoadedPlugIn &p : host.plugIns()) {
    CFTypeRef list = key != nullptr ? CFBundleGetValueForInfoDictionaryKey(p.bundle, key) : nullptr;
    if (list == nullptr || CFGetTypeID(list) != CFArrayGetTypeID()) continue;
    auto entries = static_cast<CFArrayRef>(list);
    for (CFIndex i = 0; i < CFArrayGetCount(entries); i++) {
      ToggledItem item;
      if (ReadEntry(host, p.bundle, CFArrayGetValueAtIndex(entries, i), &item)) out.push_back(std::move(item));
    }
  }
  if (key != nullptr) CFRelease(key);
  return out;
}

std::string HowToOffer(PlugInHost &host, const std::string &choice) {
  std::vector<StaticItem> now;
  std::string error;
  if (!StaticItemsInEveryLanguage(host, &now, &error)) return "";
  return OfferHint(choice, now, DeclaredToggledItems(host));
}

}  // namespace tv::host
