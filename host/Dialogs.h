// Alerts as desktop dialogs: which dialog program to use (zenity or kdialog),
// the arguments that show an alert with it, and what its exit status answers.
// The decisions are pure; running the program is the only I/O here.
#pragma once

#include "platform/HostServices.h"

#include <functional>
#include <string>
#include <vector>

namespace tv::host {

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

// The programs that show the progress window: kdialog driven with qdbus, or zenity.
struct ProgressPrograms {
  DialogTool tool = DialogTool::kZenity;
  std::string path;   // zenity or kdialog
  std::string qdbus;  // with kdialog
};
// Pure: kdialog's progress bar (it needs qdbus too) first under KDE, zenity's
// first elsewhere, each falling back to the other; false when neither can be.
bool ChooseProgressPrograms(const std::string &currentDesktop,
                            const std::function<std::string(const char *name)> &locate, ProgressPrograms *out);

// Pure: the arguments (after the program's name) that show the alert.
std::vector<std::string> DialogArguments(DialogTool tool, const TVAlertRequest &request);
// Pure: the button (1..3) that the dialog's exit status chose. output is what
// the program wrote on standard output (zenity names an extra button there).
// An exit that no button explains chooses the cancel button, or the only
// one, so that nothing is done unasked.
int ButtonForDialogExit(DialogTool tool, const TVAlertRequest &request, int exitStatus, const std::string &output);
// Pure: why a dialog's end answers nothing, or "" when its exit status is a
// button's. zenity exits with 1 for Cancel and also when it cannot open the
// display (saying so on standard error only); a program that could not start
// (127), died of a signal, or exited with a status no button has, failed too.
std::string DialogFailure(DialogTool tool, int exitStatus, const std::string &errorOutput);

// Pure: zenity's text: the message in bold, the explanation below, markup and
// backslashes escaped (zenity expands backslash escapes in its text).
std::string ZenityText(const TVAlertRequest &request);
// The language of the host's own texts: "en" or "ja", chosen from the
// environment as the plug-ins' texts are.
std::string HostLanguage();

// The progress window's state: items done, of how many (kUnknownTotal when
// the plug-in did not say, or its count gave up), and the folder worked on.
constexpr long long kUnknownTotal = -1;
// Pure: the arguments of zenity's progress window titled with the action:
// its bar pulsing or filling, with Cancel, or without it once stopping.
// --auto-close: the window ends by itself when the command's end closes its
// input, however the command ends, instead of standing there with a full bar
// and an enabled OK (zenity 3.44 has no way to hide OK; it stays greyed out).
std::vector<std::string> ProgressArguments(const std::string &title, const std::string &text, bool pulsing,
                                           bool cancellable);
// Pure: the arguments of kdialog's progress bar, which is then driven over
// D-Bus (qdbus): a bar of 100 steps, or a busy one (0 steps) that pulses.
std::vector<std::string> KDialogProgressArguments(const std::string &title, const std::string &text, bool pulsing);
// Pure: the D-Bus service and object kdialog --progressbar prints
// ("org.kde.kdialog-1234 /ProgressDialog"), and the process ID the service is
// named after; false when the output is not that.
bool ParseKDialogReference(const std::string &output, std::string *service, std::string *object, int *pid);
// Pure: the bar's percentage, or -1 for a pulsing bar (total unknown or 0).
// Rounded down, so that 100 means every item counted is done; never past it.
int ProgressPercent(unsigned long long done, long long total);
// Pure: n with the thousands grouped as the language writes them ("2,007").
std::string GroupedNumber(unsigned long long n, const std::string &language);
// Pure: the folder as the window shows it: the home folder as "~", and a long
// path cut to its end at a folder ("…/Photos/2019").
std::string ShortFolder(const std::string &folder, const std::string &home);
// Pure: the label: "1,017 of 2,007 files", without "of" when the total is
// unknown or already passed, and the folder (already shortened) on a second line.
std::string ProgressLabel(const std::string &language, unsigned long long done, long long total,
                          const std::string &folder);
// Pure: the progress window's title: the action as the plug-in's strings
// name it for the chosen item (declared; "" when they do not), else the
// item's title without its ellipsis.
std::string ProgressTitle(const std::string &declared, const std::string &itemTitle);
// Pure: the label once a cancel was asked for and the zap winds down.
std::string StoppingLabel(const std::string &language);
// Pure: a label as one line of zenity's progress input ("#..."), its
// backslashes and line breaks escaped as zenity reads them.
std::string ZenityProgressLine(const std::string &label);

// Reads the environment: whether there is a display to show dialogs on, and
// the dialog program to use. false with *why set (a sentence for standard
// error) when dialogs cannot be shown.
bool FindDialogProgram(DialogProgram *out, std::string *why);
// The absolute path of an executable named `name` in $PATH, or "".
std::string FindInPath(const char *name);

// Shows the alert with the program and returns the button pressed; 0 with
// *failure set (a sentence for standard error) when the dialog could not be
// shown. A Ctrl-C while it is up closes it and answers its cancel button.
SInt32 ShowDialog(const DialogProgram &program, const TVAlertRequest &request, std::string *failure);

}  // namespace tv::host
