// The desktop's progress window for `run --gui`: zenity's progress dialog
// titled with the action, with a Cancel button, shown once the command has run
// for half a second with no alert up, labelled with the files done (of how
// many, when that is known) and the folder being worked on; its bar fills when
// the total is known and pulses otherwise. Once a cancel is asked for, it says
// that the zap is stopping until the command ends. A thread of its own shows
// it and watches it, since the plug-in calls back only between folders and
// for each item. Under KDE the window is kdialog's progress bar, driven over
// D-Bus with qdbus; elsewhere (or without them) zenity's, through a pipe.
#pragma once

#include "host/DialogProcess.h"
#include "host/Dialogs.h"
#include "platform/MacTypes.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace tv::host {

class ProgressWindow {
 public:
  // title: the action ("Zapping resource forks"); texts in the host's language.
  ProgressWindow(ProgressPrograms programs, std::string title);
  ~ProgressWindow();  // Finish()
  ProgressWindow(const ProgressWindow &) = delete;
  ProgressWindow &operator=(const ProgressWindow &) = delete;

  // Starts the half-second clock.
  void Start();
  // What the window shows from now on: the items done, of total
  // (kUnknownTotal or the items the work holds), and the folder worked on.
  // Called for every item: it only stores them, the window's thread shows them.
  void Update(unsigned long long done, long long total);
  void SetFolder(const std::string &folder);
  // Closes the window while an alert is up, and keeps it closed until Show,
  // which starts the clock again.
  void Hide();
  void Show();
  // The user pressed Cancel (or closed the window): true from then on.
  bool cancelled() const { return cancelled_; }
  // A cancel was asked for some other way (Ctrl-C, SIGTERM): the window says
  // that the zap is stopping, as after its own Cancel.
  void SetStopping();
  // Why the window could not be shown (a sentence), or "".
  std::string failure();
  // Shows the last state, closes the window and stops the thread.
  void Finish();

 private:
  void Loop();
  void Open();   // with lock_ held
  void Close();  // with lock_ held
  void Watch();  // with lock_ held: notices the window's end
  void Send(bool final);  // with lock_ held: writes what changed since the last time
  // kdialog's window: one method call over D-Bus; its status, *answer and
  // *error what qdbus wrote.
  int Call(const std::vector<std::string> &call, std::string *answer = nullptr, std::string *error = nullptr);

  ProgressPrograms programs_;
  std::string service_, object_;  // kdialog's window on D-Bus
  Watcher watcher_;               // ends kdialog's window with the command

  std::string title_, language_, home_;
  std::string failure_;
  std::string errors_;  // what the open window wrote on standard error
  int errorFd_ = -1;
  bool stopping_ = false;  // a cancel was asked for: the window says so
  bool shownStopping_ = false;  // the open window is the stopping one
  std::mutex lock_;
  std::condition_variable wake_;
  std::thread thread_;
  bool running_ = false;
  bool hidden_ = false;
  bool gaveUp_ = false;  // the window would not start: no second try
  UInt32 since_ = 0;  // ticks
  // Set for every item without waiting for the window's thread.
  std::atomic<unsigned long long> done_{0};
  std::atomic<long long> total_{kUnknownTotal};
  std::mutex folderLock_;
  std::string folder_;
  std::string shownLabel_;
  int shownPercent_ = -1;
  bool shownPulsing_ = true;  // the open window's kind of bar
  int pid_ = -1;
  int input_ = -1;  // the window's standard input
  std::atomic<bool> cancelled_{false};
};

}  // namespace tv::host
