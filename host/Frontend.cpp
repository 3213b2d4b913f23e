#include "host/Frontend.h"

#include "host/AlertAnswers.h"
#include "host/DialogProcess.h"
#include "host/ProgressWindow.h"
#include "platform/Files.h"
#include "platform/HostServices.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace tv::host {

namespace {

volatile sig_atomic_t sInterrupts = 0;
// The terminal's settings before the command, put back even by the second
// Ctrl-C (tcsetattr may be called from a signal handler).
termios sSavedTerminal;
volatile sig_atomic_t sTerminalSaved = 0;

// SIGINT, and SIGTERM and SIGHUP (a shutdown, a closed terminal), are a
// cancel: the command stops before its next file with every file whole. The
// second of them ends the process at once (128 + the signal), removing the
// temporary file of a metadata rewrite it cuts short.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

void OnInterrupt(int sig) {
  sInterrupts = sInterrupts + 1;
  if (sInterrupts >= 2) {
    TVRemoveTemporariesInFlight();
    EndChildrenNow();  // no dialog or progress window outlives the command
    if (sTerminalSaved) tcsetattr(STDIN_FILENO, TCSANOW, &sSavedTerminal);
    _exit(128 + sig);
  }
}

}  // namespace

// The terminal without line editing or echo while a command runs, so that a
// lone Escape can be seen; Ctrl-C stays a signal. Restored on every way out.
class RawTerminal {
 public:
  explicit RawTerminal(int fd) : fd_(fd) {
    if (tcgetattr(fd_, &saved_) == 0) {
      termios raw = saved_;
      raw.c_lflag &= tcflag_t(~(ICANON | ECHO));
      raw.c_cc[VMIN] = 1;
      raw.c_cc[VTIME] = 0;
      sSavedTerminal = saved_;
      sTerminalSaved = 1;
      ok_ = tcsetattr(fd_, TCSANOW, &raw) == 0;
    }
  }
  ~RawTerminal() {
    if (ok_) tcsetattr(fd_, TCSANOW, &saved_);
    sTerminalSaved = 0;
  }
  bool ok() const { return ok_; }

 private:
  int fd_;
  termios saved_{};
  bool ok_ = false;
};

Frontend::Frontend(AlertMode mode, bool verbose, FILE *out, FILE *err)
    : mode_(mode), verbose_(verbose), out_(out), err_(err) {}

Frontend::~Frontend() { DetachHandlers(); }

void Frontend::AttachHandlers() {
  if (attached_) return;
  TVSetAlertPresenter(&Frontend::Present, this);
  TVSetBeepHandler(&Frontend::Beep, this);
  TVSetKeyboardPoller(&Frontend::Poll, this);
  TVSetConsoleSink(&Frontend::Console, this);
  TVRegisterProcess(FOUR_CHAR_CODE("FNDR"), FOUR_CHAR_CODE("MACS"), "tarrovel", &Frontend::Receive, this, &psn_);
  TVSetProgressReceiver(&Frontend::ProgressBegin, &Frontend::ProgressItemDone, this);
  TVSetForkEmptiedReceiver(&Frontend::ForkEmptied, this);
  sInterrupts = 0;
  escapeTyped_ = false;
  struct sigaction sa = {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  for (int sig : kStopSignals) sigaddset(&sa.sa_mask, sig);  // one handler at a time counts
  for (int sig : kStopSignals) sigaction(sig, &sa, nullptr);
  if (mode_ == AlertMode::kTerminal && isatty(STDIN_FILENO)) raw_ = std::make_unique<RawTerminal>(STDIN_FILENO);
  attached_ = true;
}

void Frontend::DetachHandlers() {
  if (!attached_) return;
  FinishProgress();
  raw_.reset();
  for (int sig : kStopSignals) signal(sig, SIG_DFL);
  TVSetProgressReceiver(nullptr, nullptr, nullptr);
  TVSetForkEmptiedReceiver(nullptr, nullptr);
  TVUnregisterProcess(&psn_);
  TVSetConsoleSink(nullptr, nullptr);
  TVSetKeyboardPoller(nullptr, nullptr);
  TVSetBeepHandler(nullptr, nullptr);
  TVSetAlertPresenter(nullptr, nullptr);
  attached_ = false;
}

SInt32 Frontend::Present(const TVAlertRequest *request, void *refcon) {
  auto *self = static_cast<Frontend *>(refcon);
  // The zap's time ends where an alert stops it, not when the user answers.
  if (self->progressReported_ && !self->zapStopped_) {
    self->zapStopped_ = true;
    self->zapStop_ = std::chrono::steady_clock::now();
  }
  bool hadProgress = self->progressShown_;
  if (hadProgress) {
    fputs("\r\033[K", self->err_);
    self->progressShown_ = false;
  }
  SInt32 hit;
  switch (self->mode_) {
    case AlertMode::kYes:
      fputs(AlertToText(*request).c_str(), self->err_);
      hit = request->defaultButton != 0 ? request->defaultButton : 1;
      fprintf(self->err_, "        -> %s\n", request->buttons[hit - 1] ? request->buttons[hit - 1] : "");
      break;
    case AlertMode::kTerminal:
      hit = self->PresentOnTerminal(*request);
      if (hit >= 1 && hit <= 3 && request->buttons[hit - 1] != nullptr) {
        fprintf(self->err_, "        -> %s\n", request->buttons[hit - 1]);
      }
      break;
    case AlertMode::kDialogs:
      // The progress window closes while the alert is up, so that nothing
      // stands in front of it or takes its keys.
      if (self->window_ != nullptr) self->window_->Hide();
      fputs(AlertToText(*request).c_str(), self->err_);
      fflush(self->err_);
      // A dialog that cannot be shown answers nothing, and no later one is
      // tried: the command ends with the reason (DialogFailure()).
      hit = self->dialogFailure_.empty() ? ShowDialog(self->dialogs_, *request, &self->dialogFailure_) : 0;
      if (hit == 0) {
        fprintf(self->err_, "        -> (no answer: %s)\n", self->dialogFailure_.c_str());
        hit = ioErr;
      } else {
        fprintf(self->err_, "        -> %s\n", request->buttons[hit - 1] ? request->buttons[hit - 1] : "");
      }
      if (self->window_ != nullptr) self->window_->Show();
      break;
    default:
      hit = self->PresentByLines(*request);
      break;
  }
  fflush(self->err_);
  return hit;
}

SInt32 Frontend::PresentOnTerminal(const TVAlertRequest &request) {
  fputs(AlertToText(request).c_str(), err_);
  fputs("        Enter: default button, Escape: cancel, or the button's number\n", err_);
  fflush(err_);
  if (raw_ == nullptr || !raw_->ok()) return PresentByLines(request);
  for (;;) {
    unsigned char c = 0;
    ssize_t n = read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR) {
      if (sInterrupts > 0 && request.cancelButton != 0) return request.cancelButton;
      continue;
    }
    if (n <= 0) return ButtonAtEndOfInput(request);
    if (c == '\r' || c == '\n') {
      if (request.defaultButton != 0) return request.defaultButton;
    } else if (c == 27) {
      // A lone Escape; an escape sequence (arrow keys) is swallowed.
      pollfd p = {STDIN_FILENO, POLLIN, 0};
      if (poll(&p, 1, 30) > 0) {
        unsigned char junk[16];
        (void)!read(STDIN_FILENO, junk, sizeof junk);
        continue;
      }
      if (request.cancelButton != 0) return request.cancelButton;
    } else if (c >= '1' && c <= '3' && request.buttons[c - '1'] != nullptr) {
      return c - '0';
    }
  }
}

SInt32 Frontend::PresentByLines(const TVAlertRequest &request) {
  fputs(AlertToText(request).c_str(), err_);
  for (;;) {
    fputs("        answer: ", err_);
    fflush(err_);
    std::string line;
    int c;
    bool any = false;
    for (;;) {
      c = fgetc(stdin);
      if (c == EOF && ferror(stdin) && errno == EINTR) {
        // Ctrl-C while waiting: it marks the cancel keys; the alert still
        // wants its answer (a second Ctrl-C ends the command).
        clearerr(stdin);
        continue;
      }
      if (c == EOF) break;
      any = true;
      if (c == '\n') break;
      line += char(c);
    }
    if (!any) {
      int hit = ButtonAtEndOfInput(request);
      fprintf(err_, "(end of input) -> %s\n", request.buttons[hit - 1] ? request.buttons[hit - 1] : "");
      return hit;
    }
    int hit = ButtonForAnswer(request, line);
    if (hit != 0) {
      fprintf(err_, "%s\n", request.buttons[hit - 1] ? request.buttons[hit - 1] : "");
      return hit;
    }
    fprintf(err_, "\n        \"%s\" is not one of the buttons\n", line.c_str());
  }
}

void Frontend::Beep(short, void *refcon) {
  auto *self = static_cast<Frontend *>(refcon);
  if (isatty(fileno(self->err_))) {
    fputc('\a', self->err_);
    fflush(self->err_);
  }
}

void Frontend::Console(const char *text, void *refcon) {
  auto *self = static_cast<Frontend *>(refcon);
  // A diagnostic takes the progress line's place rather than ending up
  // glued to it; the next draw puts the progress line back below it.
  if (self->progressShown_) {
    fputs("\r\033[K", self->err_);
    self->progressShown_ = false;
  }
  fputs(text, self->err_);
  fflush(self->err_);
}

void Frontend::Poll(KeyMap keys, void *refcon) {
  auto *self = static_cast<Frontend *>(refcon);
  memset(keys, 0, sizeof(KeyMap));
  // Every way to cancel is latched: once asked for, the cancel keys stay
  // down until the command ends, so that the zap sees the request at its
  // next look (before the next file) whenever it was made.
  bool escape = self->escapeTyped_ || sInterrupts > 0;
  // Cancel in the progress window holds the keys as Escape does.
  if (self->window_ != nullptr && self->window_->cancelled()) escape = true;
  if (self->window_ != nullptr && sInterrupts > 0) self->window_->SetStopping();
  // Escape typed on the terminal since the last look.
  if (!escape && self->raw_ != nullptr && self->raw_->ok()) {
    pollfd p = {STDIN_FILENO, POLLIN, 0};
    while (poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
      unsigned char buf[64];
      ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
      if (n <= 0) break;
      if (memchr(buf, 27, size_t(n)) != nullptr) escape = self->escapeTyped_ = true;
    }
  }
  if (escape) keys[kVK_Escape / 8] |= UInt8(1u << (kVK_Escape % 8));
  self->DrawProgress(false);
}

bool Frontend::TakeZapTally(bool failed, ZapTally *out) {
  if (!progressReported_) return false;
  ZapTally t;
  t.filesDone = itemsDone_;
  t.forksEmptied = forksEmptied_;
  t.bytesFreed = bytesFreed_;
  t.filesCounted = itemTotal_;
  bool cancelAsked = sInterrupts > 0 || escapeTyped_ || windowCancelled_;
  t.end = !failed ? ZapTally::kFinished : cancelAsked ? ZapTally::kCanceled : ZapTally::kFailed;
  auto stop = zapStopped_ ? zapStop_ : std::chrono::steady_clock::now();
  t.seconds = std::chrono::duration<double>(stop - zapStart_).count();
  *out = t;
  progressReported_ = false;
  return true;
}

}  // namespace tv::host
