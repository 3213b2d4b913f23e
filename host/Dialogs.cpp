#include "host/Dialogs.h"

#include "host/Frontend.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarrovel {

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

std::string ZenityText(const TVAlertRequest &request) {
  std::string text = "<b>" + Escaped(request.message != nullptr ? request.message : "", false) + "</b>";
  if (request.explanation != nullptr && request.explanation[0] != 0) text += "\n\n" + Escaped(request.explanation, false);
  return text;
}

std::vector<std::string> ProgressArguments(bool pulsing) {
  std::vector<std::string> args = {"--progress", "--title=Tarrovel", "--text=" + ProgressLabel(0, kUnknownTotal, ""),
                                   "--width=480"};
  if (pulsing) args.push_back("--pulsate");
  return args;
}

int ProgressPercent(unsigned long long done, long long total) {
  if (total <= 0) return -1;
  auto all = static_cast<unsigned long long>(total);
  if (done >= all) return 100;
  return int(static_cast<unsigned __int128>(done) * 100 / all);
}

std::string ProgressLabel(unsigned long long done, long long total, const std::string &folder) {
  std::string label = std::to_string(done);
  if (total > 0 && done <= static_cast<unsigned long long>(total)) {
    label += " of " + std::to_string(total) + (total == 1 ? " item done" : " items done");
  } else {
    label += done == 1 ? " item done" : " items done";
  }
  if (folder.empty()) return label;
  // The end of a long path says most: "…/Photos/2019", cut at a folder.
  const size_t kMax = 60;
  std::string shown = folder;
  if (shown.size() > kMax) {
    size_t cut = shown.size() - kMax;
    size_t slash = shown.find('/', cut);
    if (slash != std::string::npos && slash + 1 < shown.size()) {
      cut = slash;
    } else {
      while (cut < shown.size() && (static_cast<unsigned char>(shown[cut]) & 0xC0) == 0x80) cut++;
    }
    shown = "\u2026" + shown.substr(cut);
  }
  return label + ", in " + shown;
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

namespace {

// argv for execv, built before fork: the child only execs.
std::vector<char *> ArgvOf(const std::string &path, const std::vector<std::string> &args) {
  std::vector<char *> argv = {const_cast<char *>(path.c_str())};
  for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}

// A child forked by a thread that blocks signals would keep them blocked
// through exec.
void UnblockSignals() {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
}

int WaitFor(pid_t pid) {
  int st = 0;
  while (waitpid(pid, &st, 0) < 0) {
    if (errno != EINTR) return 127;
  }
  return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

}  // namespace

int RunDialogProgram(const std::string &path, const std::vector<std::string> &args, std::string *output) {
  std::vector<char *> argv = ArgvOf(path, args);
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return 127;
  pid_t pid = fork();
  if (pid < 0) {
    close(out[0]);
    close(out[1]);
    return 127;
  }
  if (pid == 0) {
    UnblockSignals();
    int null = open("/dev/null", O_RDONLY);
    if (null >= 0) dup2(null, STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  std::string said;
  for (;;) {
    char buf[512];
    ssize_t n = read(out[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) {
      // Ctrl-C (the handler has marked the cancel keys), as on a terminal,
      // answers the alert with its cancel button: the dialog goes.
      kill(pid, SIGTERM);
      continue;
    }
    if (n <= 0) break;
    said.append(buf, size_t(n));
  }
  close(out[0]);
  if (output != nullptr) *output = said;
  return WaitFor(pid);
}

int SpawnDialogProgram(const std::string &path, const std::vector<std::string> &args, int inputFd) {
  std::vector<char *> argv = ArgvOf(path, args);
  pid_t pid = fork();
  if (pid == 0) {
    UnblockSignals();
    dup2(inputFd, STDIN_FILENO);
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, STDOUT_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

SInt32 ShowDialog(const DialogProgram &program, const TVAlertRequest &request) {
  std::string output;
  int status = RunDialogProgram(program.path, DialogArguments(program.tool, request), &output);
  return ButtonForDialogExit(program.tool, request, status, output);
}

}  // namespace tarrovel
