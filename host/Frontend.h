// The host's front end: how alerts are shown and answered, how the cancel
// keys, the beep and the diagnostics reach the terminal, the progress line,
// and the receivers of the plug-in's update events and progress.
#pragma once

#include "host/Dialogs.h"
#include "host/ZapSummary.h"
#include "platform/HostServices.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace tv::host {

class ProgressWindow;
class RawTerminal;

enum class AlertMode {
  kTerminal,  // drawn on standard error; Enter = default, Escape = cancel
  kLines,     // printed on standard error, answered by one line of standard input
  kYes,       // every alert answered with its default button
  kDialogs,   // desktop dialogs (SetDialogProgram), and a progress window with Cancel
};

class Frontend {
 public:
  Frontend(AlertMode mode, bool verbose, FILE *out, FILE *err);
  ~Frontend();

  // Attaches the presenter, beep, keyboard poller, the console (diagnostics
  // on err), SIGINT, SIGTERM and SIGHUP handling, and registers this process
  // as the receiver of update events and of the plug-in's progress.
  void AttachHandlers();
  // The program that shows the dialogs in kDialogs mode.
  void SetDialogProgram(const DialogProgram &program) { dialogs_ = program; }
  // The progress window's title: the action the chosen item performs.
  void SetProgressTitle(const std::string &title) { progressTitle_ = title; }
  // Why a dialog could not be shown (its alert then answered nothing), or "".
  const std::string &dialogFailure() const { return dialogFailure_; }
  // Puts back what AttachHandlers replaced.
  void DetachHandlers();

  // Called while a command runs and after it: the progress line, and with
  // kDialogs the progress window.
  void StartProgress();
  void FinishProgress();
  UInt64 updatesReceived() const { return updates_; }
  // After the command: what its zap did, when one began (the plug-in said
  // how many items it was about to work on); failed: the command's status
  // was not noErr. False when no zap began, as after a cancelled confirmation.
  bool TakeZapTally(bool failed, ZapTally *out);

 private:
  static SInt32 Present(const TVAlertRequest *request, void *refcon);
  static void Beep(short duration, void *refcon);
  static void Poll(KeyMap keys, void *refcon);
  static void Console(const char *text, void *refcon);
  static void Receive(const AppleEvent *event, void *refcon);
  static void ProgressBegin(SInt64 itemCount, void *refcon);
  static void ProgressItemDone(const FSRef *item, void *refcon);
  static void ForkEmptied(UInt64 bytesFreed, void *refcon);
  SInt32 PresentOnTerminal(const TVAlertRequest &request);
  SInt32 PresentByLines(const TVAlertRequest &request);
  void DrawProgress(bool force);

  AlertMode mode_;
  bool verbose_;
  FILE *out_;
  FILE *err_;
  bool attached_ = false;
  bool progress_ = false;
  bool progressShown_ = false;
  UInt64 updates_ = 0;
  UInt32 startTicks_ = 0;
  UInt32 lastDrawTicks_ = 0;
  ProcessSerialNumber psn_ = {0, 0};
  std::unique_ptr<RawTerminal> raw_;  // on a terminal, while attached
  bool escapeTyped_ = false;          // Escape was typed on the terminal: a cancel
  DialogProgram dialogs_;
  std::string progressTitle_ = "Tarrovel";
  std::string dialogFailure_;
  std::unique_ptr<ProgressWindow> window_;  // kDialogs, while the command runs
  UInt32 lastFolderTicks_ = 0;
  // What the plug-in says of its progress; until it says anything, the
  // window counts the update events instead.
  bool progressReported_ = false;
  UInt64 itemsDone_ = 0;
  long long itemTotal_ = kUnknownTotal;
  // The zap's tally: forks emptied in the item under way, and in all.
  bool itemForkEmptied_ = false;
  UInt64 forksEmptied_ = 0;
  UInt64 bytesFreed_ = 0;
  bool windowCancelled_ = false;
  std::chrono::steady_clock::time_point zapStart_, zapStop_;
  bool zapStopped_ = false;  // an alert came up after the zap began: it stopped there
};

}  // namespace tv::host
