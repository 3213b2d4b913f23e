// Alerts as desktop dialogs: which dialog program to use (zenity or kdialog),
// the arguments that show an alert with it, and what its exit status answers.
// The decisions are pure; running the program is the only I/O here.
#pragma once

#include "platform/HostServices.h"

#include <functional>
#include <string>
#include <vector>

namespace tarrovel {

enum class DialogTool { kZenity, kKDialog };

struct DialogProgram {
  DialogTool tool = DialogTool::kZenity;
  std::string path;  // absolute
};

// Pure: the tools to try, in order, on the desktop named by
// XDG_CURRENT_DESKTOP (a colon-separated list such as "ubuntu:GNOME"):
// kdialog first under KDE, zenity first everywhere else.
std::vector<DialogTool> DialogToolOrder(const std::string &currentDesktop);
const char *DialogToolName(DialogTool tool);

// Pure: the first tool of that order that `locate` finds (it returns the
// program's absolute path, or "" when there is none). false when neither is.
bool ChooseDialogProgram(const std::string &currentDesktop,
                         const std::function<std::string(const char *name)> &locate, DialogProgram *out);

// Pure: the arguments (after the program's name) that show the alert.
std::vector<std::string> DialogArguments(DialogTool tool, const TVAlertRequest &request);
// Pure: the button (1..3) that the dialog's exit status chose. output is what
// the program wrote on standard output (zenity names an extra button there).
// An exit that no button explains (the program died, or could not start)
// chooses the cancel button, or the only one, so that nothing is done unasked.
int ButtonForDialogExit(DialogTool tool, const TVAlertRequest &request, int exitStatus, const std::string &output);

// Pure: zenity's text: the message in bold, the explanation below, markup and
// backslashes escaped (zenity expands backslash escapes in its text).
std::string ZenityText(const TVAlertRequest &request);
// The progress window's state: items done, of how many (kUnknownTotal when
// the plug-in did not say, or its count gave up), and the folder worked on.
constexpr long long kUnknownTotal = -1;
// Pure: the arguments of zenity's progress window, its bar pulsing or filling.
// No --auto-close: the bar may be full while the zap still runs (the tree
// grew after the count), and the host closes the window at the end.
std::vector<std::string> ProgressArguments(bool pulsing);
// Pure: the bar's percentage, or -1 for a pulsing bar (total unknown or 0).
// Rounded down, so that 100 means every item counted is done; never past it.
int ProgressPercent(unsigned long long done, long long total);
// Pure: the label: "3 of 10 items done, in /path", without "of" when the total
// is unknown or already passed.
std::string ProgressLabel(unsigned long long done, long long total, const std::string &folder);

// Reads the environment: whether there is a display to show dialogs on, and
// the dialog program to use. false with *why set (a sentence for standard
// error) when dialogs cannot be shown.
bool FindDialogProgram(DialogProgram *out, std::string *why);
// The absolute path of an executable named `name` in $PATH, or "".
std::string FindInPath(const char *name);

// Runs the program with those arguments (fork and exec, no shell) and waits
// for it; a signal caught meanwhile (Ctrl-C) ends it. Returns its exit status
// (128 + the signal that ended it, 127 when it could not start); *output gets
// its standard output when not NULL.
int RunDialogProgram(const std::string &path, const std::vector<std::string> &args, std::string *output);
// Starts the program with its standard input from inputFd (the caller's end is
// closed in the child) and standard output and error on /dev/null. Returns
// its process ID, or -1.
int SpawnDialogProgram(const std::string &path, const std::vector<std::string> &args, int inputFd);

// Shows the alert with the program and returns the button pressed.
SInt32 ShowDialog(const DialogProgram &program, const TVAlertRequest &request);

}  // namespace tarrovel
