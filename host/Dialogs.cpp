#include "host/Dialogs.h"

#include "host/AlertAnswers.h"
#include "host/DialogProcess.h"
#include "platform/cf/LanguageChoice.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace tv::host {

namespace {

// What each button of an alert is to a dialog program, which knows an OK
// button (Return), a cancel button (Escape) and at most one more.
struct Roles {
  int ok = 0, cancel = 0, other = 0, count = 0;
};

Roles RolesOf(const TVAlertRequest &r) {
  Roles roles;
  auto present = [&](int b) { return b >= 1 && b <= 3 && r.buttons[b - 1] != nullptr; };
  for (int b = 1; b <= 3; b++) roles.count += present(b) ? 1 : 0;
  roles.ok = present(r.defaultButton) ? r.defaultButton : 0;
  for (int b = 1; b <= 3 && roles.ok == 0; b++) roles.ok = present(b) ? b : 0;
  if (present(r.cancelButton) && r.cancelButton != roles.ok) roles.cancel = r.cancelButton;
  for (int b = 1; b <= 3; b++) {
    if (!present(b) || b == roles.ok || b == roles.cancel) continue;
    if (roles.cancel == 0) {
      roles.cancel = b;  // Escape has to answer something: the other button
    } else {
      roles.other = b;
    }
  }
  return roles;
}

std::string Label(const TVAlertRequest &r, int button) { return r.buttons[button - 1]; }

std::string Escaped(const std::string &text, bool html) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\\': out += html ? "\\" : "\\\\"; break;
      case '\n': out += html ? "<br>" : "\n"; break;
      default: out += c; break;
    }
  }
  return out;
}

const char *IconName(AlertType type) {
  switch (type) {
    case kAlertStopAlert: return "dialog-error";
    case kAlertCautionAlert: return "dialog-warning";
    case kAlertNoteAlert: return "dialog-information";
    default: return nullptr;
  }
}

std::vector<std::string> ZenityArguments(const TVAlertRequest &r) {
  Roles roles = RolesOf(r);
  std::vector<std::string> args;
  if (roles.count <= 1) {
    args.push_back(r.type == kAlertStopAlert ? "--error" : r.type == kAlertCautionAlert ? "--warning" : "--info");
  } else {
    args.push_back("--question");
  }
  args.push_back("--title=Tarrovel");
  if (const char *icon = IconName(r.type)) args.push_back(std::string("--icon-name=") + icon);
  args.push_back("--text=" + ZenityText(r));
  if (roles.ok != 0) args.push_back("--ok-label=" + Label(r, roles.ok));
  if (roles.cancel != 0) args.push_back("--cancel-label=" + Label(r, roles.cancel));
  if (roles.other != 0) args.push_back("--extra-button=" + Label(r, roles.other));
  return args;
}

std::string KDialogText(const TVAlertRequest &r) {
  // Rich text, so that the message can be bold and a "<" in a file name is text.
  std::string text = "<qt><b>" + Escaped(r.message != nullptr ? r.message : "", true) + "</b>";
  if (r.explanation != nullptr && r.explanation[0] != 0) text += "<br><br>" + Escaped(r.explanation, true);
  return text + "</qt>";
}

std::vector<std::string> KDialogArguments(const TVAlertRequest &r) {
  Roles roles = RolesOf(r);
  std::vector<std::string> args = {"--title", "Tarrovel"};
  std::string text = KDialogText(r);
  if (roles.count <= 1) {
    args.insert(args.end(), {r.type == kAlertStopAlert      ? "--error"
                             : r.type == kAlertCautionAlert ? "--sorry"
                                                            : "--msgbox",
                             text});
    if (roles.ok != 0) args.insert(args.end(), {"--ok-label", Label(r, roles.ok)});
  } else if (roles.count == 2 && (r.type == kAlertStopAlert || r.type == kAlertCautionAlert)) {
    args.insert(args.end(), {"--warningcontinuecancel", text, "--continue-label", Label(r, roles.ok),
                             "--cancel-label", Label(r, roles.cancel)});
  } else if (roles.count == 2) {
    args.insert(args.end(), {"--yesno", text, "--yes-label", Label(r, roles.ok), "--no-label", Label(r, roles.cancel)});
  } else {
    args.insert(args.end(), {"--warningyesnocancel", text, "--yes-label", Label(r, roles.ok), "--no-label",
                             Label(r, roles.other), "--cancel-label", Label(r, roles.cancel)});
  }
  return args;
}

}  // namespace

std::vector<DialogTool> DialogToolOrder(const std::string &currentDesktop) {
  size_t start = 0;
  for (;;) {
    size_t end = currentDesktop.find(':', start);
    std::string name = currentDesktop.substr(start, end == std::string::npos ? std::string::npos : end - start);
    for (char &c : name) c = char(toupper(static_cast<unsigned char>(c)));
    if (name == "KDE") return {DialogTool::kKDialog, DialogTool::kZenity};
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return {DialogTool::kZenity, DialogTool::kKDialog};
}

const char *DialogToolName(DialogTool tool) { return tool == DialogTool::kZenity ? "zenity" : "kdialog"; }

bool ChooseDialogProgram(const std::string &currentDesktop,
                         const std::function<std::string(const char *name)> &locate, DialogProgram *out) {
  for (DialogTool tool : DialogToolOrder(currentDesktop)) {
    std::string path = locate(DialogToolName(tool));
    if (path.empty()) continue;
    out->tool = tool;
    out->path = path;
    return true;
  }
  return false;
}

bool ChooseProgressPrograms(const std::string &currentDesktop,
                            const std::function<std::string(const char *name)> &locate, ProgressPrograms *out) {
  for (DialogTool tool : DialogToolOrder(currentDesktop)) {
    ProgressPrograms p;
    p.tool = tool;
    p.path = locate(DialogToolName(tool));
    if (tool == DialogTool::kKDialog) p.qdbus = locate("qdbus");
    if (p.path.empty() || (tool == DialogTool::kKDialog && p.qdbus.empty())) continue;
    *out = p;
    return true;
  }
  return false;
}

std::vector<std::string> DialogArguments(DialogTool tool, const TVAlertRequest &request) {
  return tool == DialogTool::kZenity ? ZenityArguments(request) : KDialogArguments(request);
}

int ButtonForDialogExit(DialogTool tool, const TVAlertRequest &request, int exitStatus, const std::string &output) {
  Roles roles = RolesOf(request);
  if (roles.count <= 1) return roles.ok != 0 ? roles.ok : ButtonAtEndOfInput(request);
  if (exitStatus == 0) return roles.ok;
  if (tool == DialogTool::kZenity && exitStatus == 1) {
    // An extra button exits like Cancel and prints its label.
    std::string said = output;
    while (!said.empty() && (said.back() == '\n' || said.back() == '\r')) said.pop_back();
    if (roles.other != 0 && said == Label(request, roles.other)) return roles.other;
    return roles.cancel;
  }
  if (tool == DialogTool::kKDialog && (exitStatus == 1 || exitStatus == 2)) {
    // kdialog: 1 is "No", 2 is "Cancel"; a two-button dialog has only one of them.
    if (roles.other != 0 && exitStatus == 1) return roles.other;
    return roles.cancel;
  }
  return ButtonAtEndOfInput(request);
}

std::string DialogFailure(DialogTool tool, int exitStatus, const std::string &errorOutput) {
  std::string name = DialogToolName(tool);
  if (exitStatus == 127) return name + " could not be started";
  std::string said = errorOutput;
  for (char &c : said) c = char(tolower(static_cast<unsigned char>(c)));
  // GTK: "cannot open display: :0"; Qt: "could not connect to display :0".
  bool noDisplay = said.find("open display") != std::string::npos || said.find("connect to display") != std::string::npos;
  bool button = exitStatus == 0 || exitStatus == 1 || (tool == DialogTool::kKDialog && exitStatus == 2);
  if (button && !noDisplay) return "";
  std::string why = noDisplay ? name + " could not open the display" : name + " failed";
  why += " (exit status " + std::to_string(exitStatus) + ")";
  // Its own words: the line about the display, else its last one.
  size_t at = noDisplay ? std::min(said.find("open display"), said.find("connect to display")) : std::string::npos;
  size_t end = at != std::string::npos ? errorOutput.find('\n', at) : errorOutput.size();
  end = errorOutput.find_last_not_of(" \t\r\n", end == std::string::npos ? std::string::npos : end);
  if (end != std::string::npos) {
    size_t start = errorOutput.rfind('\n', end);
    start = start == std::string::npos ? 0 : start + 1;
    why += ": " + errorOutput.substr(start, end - start + 1);
  }
  return why;
}

std::string ZenityText(const TVAlertRequest &request) {
  std::string text = "<b>" + Escaped(request.message != nullptr ? request.message : "", false) + "</b>";
  if (request.explanation != nullptr && request.explanation[0] != 0) text += "\n\n" + Escaped(request.explanation, false);
  return text;
}

std::string HostLanguage() {
  return tv::cf::ChooseLanguage([](const char *name) { return getenv(name); },
                              [](const std::string &language) { return language == "en" || language == "ja"; });
}

std::vector<std::string> ProgressArguments(const std::string &title, const std::string &text, bool pulsing,
                                           bool cancellable) {
  std::string shown;
  for (char c : text) shown += c == '\\' ? "\\\\" : std::string(1, c);
  std::vector<std::string> args = {"--progress", "--title=" + title, "--text=" + shown, "--width=480",
                                   "--auto-close"};
  if (pulsing) args.push_back("--pulsate");
  if (!cancellable) args.push_back("--no-cancel");
  return args;
}

std::vector<std::string> KDialogProgressArguments(const std::string &title, const std::string &text, bool pulsing) {
  return {"--title", title, "--progressbar", text, pulsing ? "0" : "100"};
}

bool ParseKDialogReference(const std::string &output, std::string *service, std::string *object, int *pid) {
  const std::string prefix = "org.kde.kdialog-";
  size_t space = output.find(' ');
  if (output.rfind(prefix, 0) != 0 || space == std::string::npos) return false;
  std::string digits = output.substr(prefix.size(), space - prefix.size());
  size_t end = output.find_first_of("\r\n", space);
  std::string path = output.substr(space + 1, end == std::string::npos ? std::string::npos : end - space - 1);
  if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos ||
      path.empty() || path[0] != '/' || path.find(' ') != std::string::npos) {
    return false;
  }
  *service = output.substr(0, space);
  *object = path;
  *pid = std::stoi(digits);
  return *pid > 1;
}

int ProgressPercent(unsigned long long done, long long total) {
  if (total <= 0) return -1;
  auto all = static_cast<unsigned long long>(total);
  if (done >= all) return 100;
  return int(static_cast<unsigned __int128>(done) * 100 / all);
}

std::string GroupedNumber(unsigned long long n, const std::string &) {
  // English and Japanese alike group by three with a comma.
  std::string digits = std::to_string(n);
  std::string out;
  for (size_t i = 0; i < digits.size(); i++) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string ShortFolder(const std::string &folder, const std::string &home) {
  std::string shown = folder, base = home;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  if (base.size() > 1 && (folder == base || folder.rfind(base + "/", 0) == 0)) shown = "~" + folder.substr(base.size());
  // The end of a long path says most: "…/Photos/2019", cut at a folder.
  const size_t kMax = 48;
  if (shown.size() <= kMax) return shown;
  size_t cut = shown.size() - kMax;
  size_t slash = shown.find('/', cut);
  if (slash != std::string::npos && slash + 1 < shown.size()) {
    cut = slash;
  } else {
    while (cut < shown.size() && (static_cast<unsigned char>(shown[cut]) & 0xC0) == 0x80) cut++;
  }
  return "\u2026" + shown.substr(cut);
}

std::string ProgressLabel(const std::string &language, unsigned long long done, long long total,
                          const std::string &folder) {
  bool ja = language == "ja";
  std::string n = GroupedNumber(done, language);
  std::string label;
  if (total > 0 && done <= static_cast<unsigned long long>(total)) {
    std::string of = GroupedNumber(static_cast<unsigned long long>(total), language);
    label = ja ? of + " \u500b\u306e\u30d5\u30a1\u30a4\u30eb\u306e\u3046\u3061 " + n + " \u500b"
               : n + " of " + of + (total == 1 ? " file" : " files");
  } else {
    label = ja ? n + " \u500b\u306e\u30d5\u30a1\u30a4\u30eb" : n + (done == 1 ? " file" : " files");
  }
  return folder.empty() ? label : label + "\n" + folder;
}

std::string ProgressTitle(const std::string &declared, const std::string &itemTitle) {
  if (!declared.empty()) return declared;
  std::string title = itemTitle;
  for (const char *dots : {"...", "\u2026"}) {
    size_t n = strlen(dots);
    if (title.size() > n && title.compare(title.size() - n, n, dots) == 0) title.resize(title.size() - n);
  }
  return title.empty() ? "Tarrovel" : title;
}

std::string StoppingLabel(const std::string &language) {
  return language == "ja" ? "\u4e2d\u6b62\u3057\u3066\u3044\u307e\u3059\u2026" : "Stopping\u2026";
}

std::string ZenityProgressLine(const std::string &label) {
  std::string line = "#";
  for (char c : label) {
    if (c == '\\') {
      line += "\\\\";
    } else if (c == '\n') {
      line += "\\n";
    } else {
      line += c;
    }
  }
  return line + "\n";
}

std::string FindInPath(const char *name) {
  const char *env = getenv("PATH");
  std::string path = env != nullptr ? env : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  for (;;) {
    size_t end = path.find(':', start);
    std::string dir = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!dir.empty()) {
      std::string candidate = dir + "/" + name;
      struct stat st;
      if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(candidate.c_str(), X_OK) == 0) {
        return candidate;
      }
    }
    if (end == std::string::npos) return "";
    start = end + 1;
  }
}

bool FindDialogProgram(DialogProgram *out, std::string *why) {
  const char *display = getenv("DISPLAY");
  const char *wayland = getenv("WAYLAND_DISPLAY");
  if ((display == nullptr || display[0] == 0) && (wayland == nullptr || wayland[0] == 0)) {
    *why = "--gui needs a desktop to show its dialogs on, and neither DISPLAY nor WAYLAND_DISPLAY is set";
    return false;
  }
  const char *desktop = getenv("XDG_CURRENT_DESKTOP");
  if (!ChooseDialogProgram(desktop != nullptr ? desktop : "", FindInPath, out)) {
    *why = "--gui shows its dialogs with zenity or kdialog, and neither is in PATH";
    return false;
  }
  return true;
}

SInt32 ShowDialog(const DialogProgram &program, const TVAlertRequest &request, std::string *failure) {
  std::string output, error;
  bool interrupted = false;
  int status = RunChild(program.path, DialogArguments(program.tool, request), &output, &error, &interrupted);
  // Closed by Ctrl-C: answered as Escape would.
  if (interrupted) return ButtonAtEndOfInput(request);
  *failure = DialogFailure(program.tool, status, error);
  if (!failure->empty()) return 0;
  return ButtonForDialogExit(program.tool, request, status, output);
}

}  // namespace tv::host
