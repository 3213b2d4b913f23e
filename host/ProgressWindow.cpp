#include "host/ProgressWindow.h"

#include "platform/Events.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace tv::host {

namespace {
// Half a second on the platform's clock (which tests may speed up); the
// window is looked after twenty times a second.
constexpr UInt32 kDelayTicks = 30;
constexpr auto kLookEvery = std::chrono::milliseconds(50);
}  // namespace

ProgressWindow::ProgressWindow(ProgressPrograms programs, std::string title)
    : programs_(std::move(programs)), title_(std::move(title)), language_(HostLanguage()) {
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
  {
    std::lock_guard<std::mutex> folderGuard(folderLock_);
    folder_.clear();
  }
  thread_ = std::thread(&ProgressWindow::Loop, this);
}

void ProgressWindow::Update(unsigned long long done, long long total) {
  total_ = total;
  done_ = done;
}

void ProgressWindow::SetFolder(const std::string &folder) {
  std::lock_guard<std::mutex> guard(folderLock_);
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
    // A bar cannot change its kind once shown: a window that pulsed before
    // the total was known is shown again with a bar that fills, and one with
    // Cancel gives way to the stopping one.
    if (pid_ >= 0 && (stopping_ != shownStopping_ ||
                      (!stopping_ && (ProgressPercent(done_, total_) < 0) != shownPulsing_))) {
      Close();
      if (!gaveUp_) Open();
    }
    Send(false);
  }
}

int ProgressWindow::Call(const std::vector<std::string> &call, std::string *answer, std::string *error) {
  std::vector<std::string> args = {service_, object_};
  args.insert(args.end(), call.begin(), call.end());
  std::string output, complaint;
  bool interrupted = false;
  int status = RunChild(programs_.qdbus, args, &output, &complaint, &interrupted);
  if (answer != nullptr) *answer = output;
  if (error != nullptr) *error = complaint;
  return status;
}

void ProgressWindow::Send(bool final) {
  if (pid_ < 0 || shownStopping_) return;
  std::string folder;
  {
    std::lock_guard<std::mutex> guard(folderLock_);
    folder = folder_;
  }
  unsigned long long done = done_;
  long long total = total_;
  std::string label = ProgressLabel(language_, done, total, folder.empty() ? "" : ShortFolder(folder, home_));
  int percent = ProgressPercent(done, total);
  // zenity closes a full bar by itself (--auto-close), and the zap may still
  // run (the tree grew after the count): full only once it has ended.
  if (!final && percent == 100) percent = 99;
  bool kde = programs_.tool == DialogTool::kKDialog;
  if (label != shownLabel_) {
    std::string line = ZenityProgressLine(label);
    if (kde ? Call({"setLabelText", label}) == 0
            : write(input_, line.data(), line.size()) == ssize_t(line.size())) {
      shownLabel_ = label;
    }
  }
  if (percent >= 0 && percent != shownPercent_) {
    std::string line = std::to_string(percent) + "\n";
    if (kde ? Call({"Set", "", "value", std::to_string(percent)}) == 0
            : write(input_, line.data(), line.size()) == ssize_t(line.size())) {
      shownPercent_ = percent;
    }
  }
}

void ProgressWindow::Open() {
  shownStopping_ = stopping_;
  shownPulsing_ = stopping_ || ProgressPercent(done_, total_) < 0;
  std::string label = stopping_ ? StoppingLabel(language_) : ProgressLabel(language_, done_, total_, "");
  shownLabel_ = label;
  shownPercent_ = -1;
  if (programs_.tool == DialogTool::kKDialog) {
    // kdialog starts the window in a process of its own and names it on D-Bus.
    std::string output, error;
    bool interrupted = false;
    int status = RunChild(programs_.path, KDialogProgressArguments(title_, label, shownPulsing_), &output, &error,
                          &interrupted);
    std::string why = DialogFailure(DialogTool::kKDialog, status, error);
    int pid = -1;
    if (status != 0 || !why.empty() || !ParseKDialogReference(output, &service_, &object_, &pid)) {
      gaveUp_ = true;
      failure_ = why.empty() ? "kdialog did not name its progress window" : why;
      return;
    }
    pid_ = pid;
    EndWithCommand(pid_, &watcher_);
    Call({"showCancelButton", stopping_ ? "false" : "true"});
    return;
  }
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  ChildProcess child;
  bool started =
      StartChild(programs_.path, ProgressArguments(title_, label, shownPulsing_, !stopping_), fds[0], false, &child);
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
}

void ProgressWindow::Watch() {
  if (pid_ < 0) return;
  if (programs_.tool == DialogTool::kKDialog) {
    // kdialog's Cancel (and its close button) ends the window's process:
    // its name is gone from the bus. wasCancelled answers true where a
    // window is cancelled but still up.
    std::string answer, error;
    int status = Call({"wasCancelled"}, &answer, &error);
    if (status == 0 && answer.rfind("false", 0) == 0) return;
    bool cancel = (status == 0 && answer.rfind("true", 0) == 0) || error.find("does not exist") != std::string::npos;
    if (cancel && !shownStopping_) {
      cancelled_ = true;
      stopping_ = true;
    } else {
      gaveUp_ = true;  // the stopping window closed, or no window at all
      std::string said = error.substr(0, error.find('\n'));
      if (!cancel) failure_ = "qdbus cannot reach kdialog's progress window" + (said.empty() ? "" : ": " + said);
    }
    Call({"close"});
    StopWatcher(&watcher_);
    pid_ = -1;
    return;
  }
  ReadAvailable(errorFd_, &errors_);
  int status = 0;
  if (!ChildEnded(pid_, &status)) return;
  ReadAvailable(errorFd_, &errors_);
  // zenity exits with 1 for Cancel, Escape and the window's close button
  // alike, but also when it cannot open the display: that is no cancel, and
  // the zap goes on without a window.
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
  if (programs_.tool == DialogTool::kKDialog) {
    if (pid_ < 0) return;
    Call({"close"});
    // kdialog's window ends at once; the watcher makes sure it does.
    StopWatcher(&watcher_);
    pid_ = -1;
    return;
  }
  if (pid_ < 0) return;
  // The end of its input closes it (--auto-close), once it has read what it
  // was sent; SIGTERM only for one that does not go within a second, and
  // SIGKILL for one that outlasts that by another second (the zap must not
  // wait on a window).
  close(input_);
  int status = 0;
  bool ended = false;
  auto waitEnd = [&] {
    for (int i = 0; i < 100 && !(ended = ChildEnded(pid_, &status)); i++) usleep(10000);
  };
  waitEnd();
  if (ended) {
    // One that could not open the display is not tried again, and says why.
    ReadAvailable(errorFd_, &errors_);
    std::string why = DialogFailure(DialogTool::kZenity, status, errors_);
    if (!why.empty()) {
      gaveUp_ = true;
      failure_ = why;
    }
  } else {
    kill(pid_, SIGTERM);
    waitEnd();
    if (!ended) {
      kill(pid_, SIGKILL);
      WaitChild(pid_);
    }
  }
  close(errorFd_);
  pid_ = -1;
  input_ = -1;
  errorFd_ = -1;
}

}  // namespace tv::host
