#include "host/StaticMenus.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace tv::host {

namespace {

const char kSubmenu[] = "Tarrovel";

// Command items and separators of a menu, depth first. The k-th separator of
// one menu is taken to be the k-th of the other, so that separators merge
// like items.
struct Flat {
  SInt32 key;  // command ID, or -(k+1) for the k-th separator
  const MenuItem *item;
};

void Flatten(const std::vector<MenuItem> &items, std::vector<Flat> *out, int *separators) {
  for (const MenuItem &it : items) {
    if (it.isSeparator()) {
      out->push_back({-(++*separators), &it});
    } else if (it.hasSubmenu) {
      Flatten(it.submenu, out, separators);
    } else {
      out->push_back({it.command, &it});
    }
  }
}

std::vector<Flat> Flatten(const std::vector<MenuItem> &items) {
  std::vector<Flat> out;
  int separators = 0;
  Flatten(items, &out, &separators);
  return out;
}

// No separator first, last, or next to another.
std::vector<StaticItem> TidySeparators(const std::vector<StaticItem> &items) {
  std::vector<StaticItem> out;
  for (const StaticItem &it : items) {
    if (it.separator && (out.empty() || out.back().separator)) continue;
    out.push_back(it);
  }
  while (!out.empty() && out.back().separator) out.pop_back();
  return out;
}

std::string XmlEscape(const std::string &s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

// One word for a POSIX shell (Thunar splits its command lines that way).
std::string ShellQuote(const std::string &s) {
  bool plain = !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
    return isalnum(static_cast<unsigned char>(c)) || std::string("/._-+,:@").find(c) != std::string::npos;
  });
  if (plain) return s;
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// One argument of a desktop entry's Exec key, then escaped as a string value.
std::string DesktopExecArg(const std::string &s) {
  bool plain = !s.empty() && s.find_first_of(" \t\n\"'\\><~|&;$*?#()`%=") == std::string::npos;
  std::string arg;
  if (plain) {
    arg = s;
  } else {
    arg = "\"";
    for (char c : s) {
      if (c == '"' || c == '`' || c == '$' || c == '\\') arg += '\\';
      arg += c;
    }
    arg += "\"";
  }
  std::string out;
  for (char c : arg) {
    if (c == '%') out += "%%";
    else if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

// Desktop entry string values: no line breaks, and backslashes escaped.
std::string DesktopValue(const std::string &s) {
  std::string out;
  for (char c : s) {
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

// The titles other than the one shown where the user's language has none,
// with the language as the file formats name it ("pt_BR").
std::vector<std::pair<std::string, std::string>> Translations(const StaticItem &item) {
  std::vector<std::pair<std::string, std::string>> out;
  for (auto [language, title] : item.titles) {
    bool name = !language.empty() && std::all_of(language.begin(), language.end(), [](char c) {
      return isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '@';
    });
    if (language == "en" || !name) continue;
    std::replace(language.begin(), language.end(), '-', '_');
    out.push_back({language, title});
  }
  return out;
}

// Thunar replaces %f, %F, %d, %n, %u and the others anywhere in a command,
// with quoted file names, and runs the result with /bin/sh -c: a "%f" in the
// installation path would let a file name close our quotes. "%%" gives "%".
std::string ThunarCommand(const StaticItem &item, const std::string &tarrovel) {
  std::string words = ShellQuote(tarrovel) + " run --gui -- " + ShellQuote(CommandTitle(item)) + " ", out;
  for (char c : words) out += c == '%' ? std::string("%%") : std::string(1, c);
  return out + "%F";
}

std::string DolphinExec(const StaticItem &item, const std::string &tarrovel) {
  // `--` before the title: nothing that follows can be read as an option.
  return DesktopExecArg(tarrovel) + " run --gui -- " + DesktopExecArg(CommandTitle(item)) + " %F";
}

}  // namespace

std::string CommandTitle(const StaticItem &item) {
  for (const auto &[language, title] : item.titles) {
    if (language == "en") return title;
  }
  return item.title;
}

void AddTitles(std::vector<StaticItem> *items, const std::string &language, const std::vector<StaticItem> &inLanguage) {
  for (StaticItem &item : *items) {
    if (item.separator) continue;
    for (const StaticItem &other : inLanguage) {
      if (!other.separator && other.command == item.command) item.titles.push_back({language, other.title});
    }
  }
}

std::vector<StaticItem> StaticItemsFor(const std::vector<MenuItem> &forFile, const std::vector<MenuItem> &forFolder) {
  std::vector<Flat> files = Flatten(forFile), folders = Flatten(forFolder);
  std::vector<StaticItem> merged;
  std::vector<SInt32> keys;
  auto make = [](const Flat &f, bool file, bool folder) {
    StaticItem s;
    s.title = f.item->title;
    s.command = f.key > 0 ? f.item->command : 0;
    s.separator = f.key < 0;
    s.forFiles = file;
    s.forFolders = folder;
    return s;
  };
  for (const Flat &f : files) {
    if (std::find(keys.begin(), keys.end(), f.key) != keys.end()) continue;
    merged.push_back(make(f, true, false));
    keys.push_back(f.key);
  }
  // A folder item goes where it stands in the folder's menu: before the next
  // folder item that the file's menu has too.
  for (size_t j = 0; j < folders.size(); j++) {
    auto found = std::find(keys.begin(), keys.end(), folders[j].key);
    if (found != keys.end()) {
      merged[size_t(found - keys.begin())].forFolders = true;
      continue;
    }
    size_t at = merged.size();
    for (size_t k = j + 1; k < folders.size() && at == merged.size(); k++) {
      auto next = std::find(keys.begin(), keys.end(), folders[k].key);
      if (next != keys.end()) at = size_t(next - keys.begin());
    }
    merged.insert(merged.begin() + long(at), make(folders[j], false, true));
    keys.insert(keys.begin() + long(at), folders[j].key);
  }
  return TidySeparators(merged);
}

namespace {

// One service menu file holding `items`, each with its place in the whole
// submenu, shown for files, folders or both. Dolphin merges the files that
// name the same submenu and orders their items by action id, whatever the
// order of Actions=: the id begins with the place, so that the submenu keeps
// the plug-in's order.
std::string ServiceMenuText(const std::vector<std::pair<size_t, StaticItem>> &items, bool files, bool folders,
                            const std::string &tarrovel) {
  std::string actions, sections;
  for (const auto &[place, it] : items) {
    if (it.separator) {
      actions += "_SEPARATOR_;";
      continue;
    }
    char number[16];
    snprintf(number, sizeof number, "%03zu", place);
    std::string id = std::string("tarrovel") + number + "-" + std::to_string(it.command);
    actions += id + ";";
    sections += "\n[Desktop Action " + id + "]\nName=" + DesktopValue(CommandTitle(it)) + "\n";
    for (const auto &[language, title] : Translations(it)) sections += "Name[" + language + "]=" + DesktopValue(title) + "\n";
    sections += "Exec=" + DolphinExec(it, tarrovel) + "\n";
  }
  std::string out =
      "# The Tarrovel submenu as the plug-in offers it; tarrovel install writes it again when a setting changes.\n"
      "[Desktop Entry]\n"
      "Type=Service\n"
      "X-KDE-ServiceTypes=KonqPopupMenu/Plugin\n";
  out += std::string("MimeType=") + (files ? "all/allfiles;" : "") + (folders ? "inode/directory;" : "") + "\n";
  out += "Actions=" + actions + "\n";
  out += std::string("X-KDE-Submenu=") + kSubmenu + "\n";
  return out + sections;
}

}  // namespace

std::string DolphinServiceMenu(const std::vector<StaticItem> &items, const std::string &tarrovel) {
  bool files = std::any_of(items.begin(), items.end(), [](const StaticItem &it) { return it.forFiles; });
  bool folders = std::any_of(items.begin(), items.end(), [](const StaticItem &it) { return it.forFolders; });
  std::vector<std::pair<size_t, StaticItem>> placed;
  for (size_t i = 0; i < items.size(); i++) placed.push_back({i, items[i]});
  return ServiceMenuText(placed, files, folders, tarrovel);
}

std::vector<ServiceMenuFile> DolphinServiceMenus(const std::vector<StaticItem> &items, const std::string &tarrovel) {
  struct Group {
    const char *name;
    bool files, folders;
  };
  const Group groups[] = {{"tarrovel-files.desktop", true, false},
                          {"tarrovel-folders.desktop", false, true},
                          {"tarrovel.desktop", true, true}};
  std::vector<ServiceMenuFile> out;
  for (const Group &g : groups) {
    // A separator stays where it parts two items of the submenu: at the start
    // of a file, it parts its items from those of the files before.
    std::vector<std::pair<size_t, StaticItem>> mine;
    for (size_t i = 0; i < items.size(); i++) {
      const StaticItem &it = items[i];
      bool member = it.separator ? (mine.empty() || !mine.back().second.separator)
                                 : it.forFiles == g.files && it.forFolders == g.folders;
      if (member) mine.push_back({i, it});
    }
    while (!mine.empty() && mine.back().second.separator) mine.pop_back();
    out.push_back({g.name, ServiceMenuText(mine, g.files, g.folders, tarrovel)});
  }
  return out;
}

std::vector<UcaAction> UcaActionsFor(const std::vector<StaticItem> &items, const std::string &tarrovel) {
  std::vector<UcaAction> out;
  for (const StaticItem &it : items) {
    if (it.separator) continue;  // Thunar has no separators among custom actions
    UcaAction a;
    a.id = "tarrovel-" + std::to_string(it.command);
    std::string &e = a.element;
    e += "<action>\n";
    e += "\t<icon></icon>\n";
    e += "\t<name>" + XmlEscape(CommandTitle(it)) + "</name>\n";
    for (const auto &[language, title] : Translations(it))
      e += "\t<name xml:lang=\"" + XmlEscape(language) + "\">" + XmlEscape(title) + "</name>\n";
    e += std::string("\t<submenu>") + kSubmenu + "</submenu>\n";
    e += "\t<unique-id>" + a.id + "</unique-id>\n";
    e += "\t<command>" + XmlEscape(ThunarCommand(it, tarrovel)) + "</command>\n";
    e += "\t<description></description>\n";
    e += "\t<range></range>\n";
    e += "\t<patterns>*</patterns>\n";
    if (it.forFolders) e += "\t<directories/>\n";
    if (it.forFiles) e += "\t<audio-files/>\n\t<image-files/>\n\t<other-files/>\n\t<text-files/>\n\t<video-files/>\n";
    e += "</action>";
    out.push_back(a);
  }
  return out;
}

std::string UcaActionsText(const std::vector<UcaAction> &actions) {
  std::string out;
  for (const UcaAction &a : actions) out += a.element + "\n";
  return out;
}

std::string UcaDocument(const std::vector<UcaAction> &actions) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<actions>\n" + UcaActionsText(actions) + "</actions>\n";
}

namespace {

// Where a uca.xml keeps what matters here: where our actions go in, and the
// byte ranges of its <action> elements with their unique-ids. The scan checks
// that the file is well-formed XML with <actions> as its root, as Thunar's
// own reader would.
struct UcaElement {
  size_t start = 0, end = 0;  // [start of <action>, end of </action>)
  std::string id;
};
struct UcaLayout {
  size_t actionsClose = 0;            // where </actions> starts
  size_t rootSlash = std::string::npos;  // where "/>" stands when the root closes itself (<actions/>)
  std::vector<UcaElement> actions;
};

class UcaScanner {
 public:
  explicit UcaScanner(const std::string &s) : s_(s) {}

  bool Scan(UcaLayout *layout, std::string *error) {
    layout_ = layout;
    if (Starts("\xEF\xBB\xBF")) pos_ = 3;  // a UTF-8 byte order mark, as some editors write
    while (pos_ < s_.size()) {
      bool ok;
      if (s_[pos_] != '<') {
        ok = Text(error);
      } else if (Starts("<?")) {
        ok = SkipPast("?>") || Fail(error, "an unterminated processing instruction");
      } else if (Starts("<!--")) {
        ok = SkipPast("-->") || Fail(error, "an unterminated comment");
      } else if (Starts("<![CDATA[")) {
        ok = CData(error);
      } else if (Starts("<!DOCTYPE")) {
        if (rootSeen_) return Fail(error, "a DOCTYPE inside the document");
        ok = SkipDoctype() || Fail(error, "an unterminated DOCTYPE");
      } else if (Starts("</")) {
        ok = EndTag(error);
      } else {
        ok = StartTag(error);
      }
      if (!ok) return false;
    }
    if (!rootDone_) return Fail(error, open_.empty() ? "no <actions> element" : "the file ends inside <" + open_.back() + ">");
    for (UcaElement &e : layout->actions) e.id = Trim(e.id);
    return true;
  }

 private:
  bool Text(std::string *error) {
    size_t end = s_.find('<', pos_);
    if (end == std::string::npos) end = s_.size();
    std::string text = s_.substr(pos_, end - pos_);
    if (open_.empty() && text.find_first_not_of(" \t\r\n") != std::string::npos)
      return Fail(error, "text outside the <actions> element");
    if (!CheckEntities(text)) return Fail(error, "an unknown entity or a bare '&'");
    if (inUniqueId_) action_.id += text;
    pos_ = end;
    return true;
  }
  bool CData(std::string *error) {
    if (open_.empty()) return Fail(error, "CDATA outside the <actions> element");
    size_t from = pos_ + 9;
    if (!SkipPast("]]>")) return Fail(error, "an unterminated CDATA section");
    if (inUniqueId_) action_.id += s_.substr(from, pos_ - 3 - from);
    return true;
  }
  bool EndTag(std::string *error) {
    size_t tagStart = pos_;
    pos_ += 2;
    std::string name = Name();
    SkipSpace();
    if (name.empty() || pos_ >= s_.size() || s_[pos_] != '>') return Fail(error, "a malformed end tag");
    pos_++;
    if (open_.empty() || open_.back() != name) return Fail(error, "</" + name + "> does not close the open element");
    open_.pop_back();
    if (open_.size() == 2 && name == "unique-id") inUniqueId_ = false;
    if (open_.size() == 1 && name == "action") {
      action_.end = pos_;
      layout_->actions.push_back(action_);
    }
    if (open_.empty()) {
      layout_->actionsClose = tagStart;
      rootDone_ = true;
    }
    return true;
  }
  bool StartTag(std::string *error) {
    size_t tagStart = pos_;
    pos_++;
    std::string name = Name();
    if (name.empty()) return Fail(error, "a malformed tag");
    if (rootDone_) return Fail(error, "an element after </actions>");
    if (open_.empty() && name != "actions") return Fail(error, "the root element is <" + name + ">, not <actions>");
    bool empty = false;
    if (!Attributes(&empty)) return Fail(error, "a malformed tag <" + name + ">");
    rootSeen_ = true;
    if (empty) {
      // <actions/>: what Thunar writes once its last action is deleted.
      if (open_.empty()) {
        layout_->rootSlash = pos_ - 2;
        rootDone_ = true;
      }
      return true;
    }
    open_.push_back(name);
    if (open_.size() == 2 && name == "action") action_ = UcaElement{tagStart, 0, ""};
    if (open_.size() == 3 && open_[1] == "action" && name == "unique-id") inUniqueId_ = true;
    return true;
  }
  bool Fail(std::string *error, const std::string &why) {
    size_t line = size_t(std::count(s_.begin(), s_.begin() + long(std::min(pos_, s_.size())), '\n')) + 1;
    *error = why + " (line " + std::to_string(line) + ")";
    return false;
  }
  bool Starts(const char *p) const { return s_.compare(pos_, strlen(p), p) == 0; }
  bool SkipPast(const char *p) {
    size_t at = s_.find(p, pos_);
    if (at == std::string::npos) return false;
    pos_ = at + strlen(p);
    return true;
  }
  void SkipSpace() {
    while (pos_ < s_.size() && strchr(" \t\r\n", s_[pos_]) != nullptr) pos_++;
  }
  static bool NameChar(char c, bool first) {
    unsigned char u = static_cast<unsigned char>(c);
    return isalpha(u) || c == '_' || c == ':' || u >= 0x80 || (!first && (isdigit(u) || c == '-' || c == '.'));
  }
  std::string Name() {
    size_t start = pos_;
    while (pos_ < s_.size() && NameChar(s_[pos_], pos_ == start)) pos_++;
    return s_.substr(start, pos_ - start);
  }
  bool Attributes(bool *empty) {
    for (;;) {
      size_t before = pos_;
      SkipSpace();
      if (pos_ >= s_.size()) return false;
      if (Starts("/>")) {
        pos_ += 2;
        *empty = true;
        return true;
      }
      if (s_[pos_] == '>') {
        pos_++;
        return true;
      }
      if (pos_ == before) return false;  // attributes are separated by space
      if (Name().empty()) return false;
      SkipSpace();
      if (pos_ >= s_.size() || s_[pos_] != '=') return false;
      pos_++;
      SkipSpace();
      if (pos_ >= s_.size() || (s_[pos_] != '"' && s_[pos_] != '\'')) return false;
      size_t close = s_.find(s_[pos_], pos_ + 1);
      if (close == std::string::npos) return false;
      std::string value = s_.substr(pos_ + 1, close - pos_ - 1);
      if (value.find('<') != std::string::npos || !CheckEntities(value)) return false;
      pos_ = close + 1;
    }
  }
  // The internal subset may hold '>' inside its declarations.
  bool SkipDoctype() {
    char quote = 0;
    int depth = 0;
    for (pos_ += 9; pos_ < s_.size(); pos_++) {
      char c = s_[pos_];
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (Starts("<!--")) {
        if (!SkipPast("-->")) return false;
        pos_--;
      } else if (c == '[') {
        depth++;
      } else if (c == ']') {
        depth--;
      } else if (c == '>' && depth == 0) {
        pos_++;
        return true;
      }
    }
    return false;
  }
  static bool CheckEntities(const std::string &text) {
    for (size_t amp = text.find('&'); amp != std::string::npos; amp = text.find('&', amp + 1)) {
      size_t semi = text.find(';', amp);
      if (semi == std::string::npos) return false;
      std::string name = text.substr(amp + 1, semi - amp - 1);
      static const char *known[] = {"amp", "lt", "gt", "quot", "apos"};
      bool ok = std::find_if(std::begin(known), std::end(known), [&](const char *k) { return name == k; }) !=
                std::end(known);
      if (!ok && name.size() > 1 && name[0] == '#') {
        bool hex = name[1] == 'x';
        std::string digits = name.substr(hex ? 2 : 1);
        ok = !digits.empty() && std::all_of(digits.begin(), digits.end(), [&](char c) {
          return hex ? isxdigit(static_cast<unsigned char>(c)) : isdigit(static_cast<unsigned char>(c));
        });
      }
      if (!ok) return false;
    }
    return true;
  }
  static std::string Trim(const std::string &s) {
    size_t a = s.find_first_not_of(" \t\r\n"), b = s.find_last_not_of(" \t\r\n");
    return a == std::string::npos ? "" : s.substr(a, b - a + 1);
  }

  const std::string &s_;
  size_t pos_ = 0;
  UcaLayout *layout_ = nullptr;
  bool rootDone_ = false, rootSeen_ = false;
  bool inUniqueId_ = false;
  UcaElement action_;
  std::vector<std::string> open_;  // the elements open at pos_, the root first
};

// The bytes an element takes with its own line: the indentation before it
// when nothing else stands there, and the line break after it. Removing
// exactly these undoes an insertion of whole lines.
std::pair<size_t, size_t> WithItsLine(const std::string &s, std::pair<size_t, size_t> r) {
  size_t start = r.first;
  while (start > 0 && (s[start - 1] == ' ' || s[start - 1] == '\t')) start--;
  if (start > 0 && s[start - 1] != '\n') start = r.first;
  size_t end = r.second;
  if (end < s.size() && s[end] == '\n') end++;
  return {start, end};
}

}  // namespace

namespace {

// The ranges (with their lines) of the elements of `layout` that are one of
// `previous` byte for byte.
std::vector<std::pair<size_t, size_t>> Recorded(const std::string &s, const UcaLayout &layout,
                                                const std::vector<UcaAction> &previous) {
  std::vector<std::pair<size_t, size_t>> out;
  for (const UcaElement &e : layout.actions) {
    bool ours = std::any_of(previous.begin(), previous.end(), [&](const UcaAction &p) {
      return p.element.size() == e.end - e.start && s.compare(e.start, p.element.size(), p.element) == 0;
    });
    if (ours) out.push_back(WithItsLine(s, {e.start, e.end}));
  }
  return out;
}

std::string Without(const std::string &s, const std::vector<std::pair<size_t, size_t>> &ranges) {
  std::string out;
  size_t from = 0;
  for (auto r : ranges) {
    out += s.substr(from, r.first - from);
    from = r.second;
  }
  return out + s.substr(from);
}

}  // namespace

bool UcaActionsFromText(const std::string &text, std::vector<UcaAction> *actions, std::string *error) {
  const std::string open = "<actions>\n";
  std::string doc = open + text + "</actions>\n";
  UcaLayout layout;
  if (!UcaScanner(doc).Scan(&layout, error)) return false;
  std::vector<UcaAction> out;
  size_t at = open.size();
  for (const UcaElement &e : layout.actions) {
    if (e.start != at || doc.compare(e.end, 1, "\n") != 0) {
      *error = "not a list of actions, each on lines of its own";
      return false;
    }
    out.push_back({e.id, doc.substr(e.start, e.end - e.start)});
    at = e.end + 1;
  }
  if (at != layout.actionsClose) {
    *error = "something else than actions";
    return false;
  }
  *actions = out;
  return true;
}

bool UcaRemove(const std::string &existing, const std::vector<UcaAction> &previous, std::string *without,
               std::string *error) {
  UcaLayout layout;
  if (!UcaScanner(existing).Scan(&layout, error)) return false;
  *without = Without(existing, Recorded(existing, layout, previous));
  return true;
}

bool UcaMerge(const std::string &existing, const std::vector<UcaAction> &previous,
              const std::vector<UcaAction> &actions, std::string *merged, std::string *error) {
  UcaLayout layout;
  if (!UcaScanner(existing).Scan(&layout, error)) return false;
  std::string text = UcaActionsText(actions);
  std::vector<std::pair<size_t, size_t>> ours = Recorded(existing, layout, previous);
  if (!ours.empty()) {
    size_t at = ours.front().first;
    std::string rest = Without(existing, ours);
    *merged = rest.substr(0, at) + text + rest.substr(at);
    return true;
  }
  if (layout.rootSlash != std::string::npos) {
    // <actions/> opens up to hold them: "<actions>", the actions, "</actions>".
    if (actions.empty()) {
      *merged = existing;
    } else {
      *merged = existing.substr(0, layout.rootSlash) + ">\n" + text + "</actions>" +
                existing.substr(layout.rootSlash + 2);
    }
    return true;
  }
  // On a line of its own before </actions> when that tag starts its line.
  size_t at = layout.actionsClose, lineStart = at;
  while (lineStart > 0 && (existing[lineStart - 1] == ' ' || existing[lineStart - 1] == '\t')) lineStart--;
  if (lineStart == 0 || existing[lineStart - 1] == '\n') at = lineStart;
  *merged = existing.substr(0, at) + text + existing.substr(at);
  return true;
}

bool UcaHasAny(const std::string &existing, const std::vector<UcaAction> &previous) {
  UcaLayout layout;
  std::string error;
  return UcaScanner(existing).Scan(&layout, &error) && !Recorded(existing, layout, previous).empty();
}

}  // namespace tv::host
