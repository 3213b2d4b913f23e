#include "host/ProgressWindow.h"

#include "platform/Events.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarrovel {

namespace {
// Half a second on the platform's clock (which tests may speed up); the
// window is looked after twenty times a second.
constexpr UInt32 kDelayTicks = 30;
constexpr auto kLookEvery = std::chrono::milliseconds(50);
}  // namespace

ProgressWindow::ProgressWindow(std::string zenityPath) : path_(std::move(zenityPath)) {}

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

void ProgressWindow::Finish() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (!running_) return;
    running_ = false;
    Watch();
    Send();  // a finished zap ends on a full bar
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
    if (pid_ < 0 && !hidden_ && !gaveUp_ && !cancelled_ && TickCount() - since_ >= kDelayTicks) {
      Open();
    }
    // zenity's bar cannot change its kind once shown: a window that pulsed
    // before the total was known is shown again with a bar that fills.
    if (pid_ >= 0 && (ProgressPercent(done_, total_) < 0) != shownPulsing_) {
      Close();
      if (!cancelled_) Open();
    }
    Send();
  }
}

void ProgressWindow::Send() {
  if (pid_ < 0) return;
  std::string label = ProgressLabel(done_, total_, folder_);
  if (label != shownLabel_) {
    std::string line = "#" + label + "\n";
    if (write(input_, line.data(), line.size()) == ssize_t(line.size())) shownLabel_ = label;
  }
  int percent = ProgressPercent(done_, total_);
  if (percent >= 0 && percent != shownPercent_) {
    std::string line = std::to_string(percent) + "\n";
    if (write(input_, line.data(), line.size()) == ssize_t(line.size())) shownPercent_ = percent;
  }
}

void ProgressWindow::Open() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  shownPulsing_ = ProgressPercent(done_, total_) < 0;
  pid_ = SpawnDialogProgram(path_, ProgressArguments(shownPulsing_), fds[0]);
  close(fds[0]);
  if (pid_ < 0) {
    close(fds[1]);
    gaveUp_ = true;
    return;
  }
  input_ = fds[1];
  shownLabel_.clear();
  shownPercent_ = -1;
}

void ProgressWindow::Watch() {
  if (pid_ < 0) return;
  int st = 0;
  if (waitpid(pid_, &st, WNOHANG) != pid_) return;
  // The window ended by itself: zenity exits with 1 for Cancel, Escape and
  // the window's close button alike.
  // Any other end (it could not start, or crashed) is not tried again.
  if (WIFEXITED(st) && WEXITSTATUS(st) == 1) {
    cancelled_ = true;
  } else {
    gaveUp_ = true;
  }
  close(input_);
  pid_ = -1;
  input_ = -1;
}

void ProgressWindow::Close() {
  Watch();  // a Cancel pressed just now still counts
  if (pid_ < 0) return;
  close(input_);
  kill(pid_, SIGTERM);
  while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  input_ = -1;
}

}  // namespace tarrovel
