#include "host/ProgressWindow.h"

#include "host/DialogProcess.h"
#include "platform/Events.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace tarrovel {

namespace {
// Half a second on the platform's clock (which tests may speed up); the
// window is looked after twenty times a second.
constexpr UInt32 kDelayTicks = 30;
constexpr auto kLookEvery = std::chrono::milliseconds(50);
}  // namespace

ProgressWindow::ProgressWindow(std::string zenityPath, std::string title)
    : path_(std::move(zenityPath)), title_(std::move(title)), language_(HostLanguage()) {
  const char *home = getenv("HOME");
  home_ = home != nullptr ? home : "";
}

ProgressWindow::~ProgressWindow() { Finish(); }

void ProgressWindow::Start() {
  std::lock_guard<std::mutex> guard(lock_);
  if (running_) return;
  running_ = true;
  since_ = TickCount();
  done_ = 0;
  total_ = kUnknownTotal;
  folder_.clear();
  thread_ = std::thread(&ProgressWindow::Loop, this);
}

void ProgressWindow::Update(unsigned long long done, long long total) {
  std::lock_guard<std::mutex> guard(lock_);
  done_ = done;
  total_ = total;
}

void ProgressWindow::SetFolder(const std::string &folder) {
  std::lock_guard<std::mutex> guard(lock_);
  folder_ = folder;
}

void ProgressWindow::Hide() {
  std::lock_guard<std::mutex> guard(lock_);
  Close();
  hidden_ = true;
}

void ProgressWindow::Show() {
  std::lock_guard<std::mutex> guard(lock_);
  hidden_ = false;
  since_ = TickCount();
}

void ProgressWindow::SetStopping() {
  std::lock_guard<std::mutex> guard(lock_);
  stopping_ = true;
}

std::string ProgressWindow::failure() {
  std::lock_guard<std::mutex> guard(lock_);
  return failure_;
}

void ProgressWindow::Finish() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (!running_) return;
    running_ = false;
    Watch();
    Send(true);  // what was done in the end: a full bar only when all was
    Close();
  }
  wake_.notify_all();
  thread_.join();
}

void ProgressWindow::Loop() {
  // Signals are the main thread's business (Ctrl-C must interrupt its waits);
  // a write to a window that has just closed fails with EPIPE instead.
  sigset_t blocked;
  sigemptyset(&blocked);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&blocked, sig);
  pthread_sigmask(SIG_BLOCK, &blocked, nullptr);

  std::unique_lock<std::mutex> guard(lock_);
  while (running_) {
    wake_.wait_for(guard, kLookEvery);
    if (!running_) break;
    Watch();
    // Right after its Cancel the window comes back at once, saying that the
    // zap is stopping; otherwise after half a second without an alert.
    if (pid_ < 0 && !hidden_ && !gaveUp_ && (cancelled_ || TickCount() - since_ >= kDelayTicks)) Open();
    // zenity's bar cannot change its kind once shown: a window that pulsed
    // before the total was known is shown again with a bar that fills, and
    // one with Cancel gives way to the stopping one.
    if (pid_ >= 0 && (stopping_ != shownStopping_ ||
                      (!stopping_ && (ProgressPercent(done_, total_) < 0) != shownPulsing_))) {
      Close();
      if (!gaveUp_) Open();
    }
    Send(false);
  }
}

void ProgressWindow::Send(bool final) {
  if (pid_ < 0 || shownStopping_) return;
  std::string label = ProgressLabel(language_, done_, total_, folder_.empty() ? "" : ShortFolder(folder_, home_));
  if (label != shownLabel_) {
    std::string line = ZenityProgressLine(label);
    if (write(input_, line.data(), line.size()) == ssize_t(line.size())) shownLabel_ = label;
  }
  int percent = ProgressPercent(done_, total_);
  // A full bar closes the window (--auto-close), and the zap may still run
  // (the tree grew after the count): full only once it has ended.
  if (!final && percent == 100) percent = 99;
  if (percent >= 0 && percent != shownPercent_) {
    std::string line = std::to_string(percent) + "\n";
    if (write(input_, line.data(), line.size()) == ssize_t(line.size())) shownPercent_ = percent;
  }
}

void ProgressWindow::Open() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  shownStopping_ = stopping_;
  shownPulsing_ = stopping_ || ProgressPercent(done_, total_) < 0;
  std::string label = stopping_ ? StoppingLabel(language_) : ProgressLabel(language_, done_, total_, "");
  ChildProcess child;
  bool started = StartChild(path_, ProgressArguments(title_, label, shownPulsing_, !stopping_), fds[0], false, &child);
  close(fds[0]);
  if (!started) {
    close(fds[1]);
    gaveUp_ = true;
    failure_ = "zenity could not be started";
    return;
  }
  pid_ = child.pid;
  input_ = fds[1];
  errorFd_ = child.error;
  errors_.clear();
  shownLabel_ = label;
  shownPercent_ = -1;
}

void ProgressWindow::Watch() {
  if (pid_ < 0) return;
  ReadAvailable(errorFd_, &errors_);
  int status = 0;
  if (!ChildEnded(pid_, &status)) return;
  ReadAvailable(errorFd_, &errors_);
  // The window ended by itself. zenity exits with 1 for Cancel, Escape and
  // the window's close button alike, but also when it cannot open the
  // display: that is no cancel, and the zap goes on without a window.
  std::string why = DialogFailure(DialogTool::kZenity, status, errors_);
  if (why.empty() && status == 1 && !shownStopping_) {
    cancelled_ = true;
    stopping_ = true;
  } else {
    gaveUp_ = true;  // not tried again
    if (!why.empty()) failure_ = why;
  }
  close(input_);
  close(errorFd_);
  pid_ = -1;
  input_ = -1;
  errorFd_ = -1;
}

void ProgressWindow::Close() {
  Watch();  // a Cancel pressed just now still counts
  if (pid_ < 0) return;
  // The end of its input closes it (--auto-close), once it has read what it
  // was sent; SIGTERM only for one that does not go within a second.
  close(input_);
  int status = 0;
  bool ended = false;
  for (int i = 0; i < 100 && !(ended = ChildEnded(pid_, &status)); i++) usleep(10000);
  if (!ended) {
    kill(pid_, SIGTERM);
    WaitChild(pid_);
  }
  close(errorFd_);
  pid_ = -1;
  input_ = -1;
  errorFd_ = -1;
}

}  // namespace tarrovel
