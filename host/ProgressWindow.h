// The desktop's progress window for `run --gui`: zenity's pulsing progress
// dialog with a Cancel button, shown once the command has run for half a
// second with no alert up, labelled with the items updated and the folder
// being worked on. A thread of its own shows it and watches it, since the
// plug-in calls back only between folders and for updated items.
#pragma once

#include "platform/MacTypes.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace tarrovel {

class ProgressWindow {
 public:
  explicit ProgressWindow(std::string zenityPath);
  ~ProgressWindow();  // Finish()
  ProgressWindow(const ProgressWindow &) = delete;
  ProgressWindow &operator=(const ProgressWindow &) = delete;

  // Starts the half-second clock.
  void Start();
  // What the label says from now on.
  void Update(unsigned long long updated, const std::string &folder);
  // Closes the window while an alert is up, and keeps it closed until Show,
  // which starts the clock again.
  void Hide();
  void Show();
  // The user pressed Cancel (or closed the window): true from then on.
  bool cancelled() const { return cancelled_; }
  // Closes the window and stops the thread.
  void Finish();

 private:
  void Loop();
  void Open();   // with lock_ held
  void Close();  // with lock_ held
  void Watch();  // with lock_ held: notices the window's end

  std::string path_;
  std::mutex lock_;
  std::condition_variable wake_;
  std::thread thread_;
  bool running_ = false;
  bool hidden_ = false;
  bool gaveUp_ = false;  // the window would not start: no second try
  UInt32 since_ = 0;  // ticks
  std::string label_, shownLabel_;
  int pid_ = -1;
  int input_ = -1;  // the window's standard input
  std::atomic<bool> cancelled_{false};
};

}  // namespace tarrovel
