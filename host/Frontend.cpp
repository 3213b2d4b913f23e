#include "host/Frontend.h"

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

namespace tarrovel {

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

std::string Lower(std::string s) {
  for (char &c : s) c = char(tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string &s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
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

namespace {

}  // namespace

int ButtonForAnswer(const TVAlertRequest &request, const std::string &typed) {
  std::string line = Trim(typed);
  if (line.empty()) return request.defaultButton;
  for (int i = 0; i < 3; i++) {
    if (request.buttons[i] == nullptr) continue;
    if (Lower(line) == Lower(request.buttons[i]) || line == std::to_string(i + 1)) return i + 1;
  }
  // The English names answer too, whatever the language of the buttons.
  if (Lower(line) == "cancel" && request.cancelButton != 0) return request.cancelButton;
  if ((Lower(line) == "ok" || Lower(line) == "zap") && request.defaultButton != 0) return request.defaultButton;
  return 0;
}

int ButtonAtEndOfInput(const TVAlertRequest &request) {
  if (request.cancelButton != 0) return request.cancelButton;
  return request.defaultButton != 0 ? request.defaultButton : 1;
}

std::string AlertToText(const TVAlertRequest &request) {
  std::string kind;
  switch (request.type) {
    case kAlertStopAlert: kind = "stop"; break;
    case kAlertCautionAlert: kind = "caution"; break;
    case kAlertNoteAlert: kind = "note"; break;
    default: kind = "alert"; break;
  }
  std::string text = "[" + kind + "] " + (request.message ? request.message : "") + "\n";
  if (request.explanation != nullptr && request.explanation[0] != 0) {
    // A cause line under the explanation is indented like it.
    std::string explanation = request.explanation;
    for (size_t at = 0; (at = explanation.find('\n', at)) != std::string::npos; at += 9) explanation.insert(at + 1, 8, ' ');
    text += "        " + explanation + "\n";
  }
  text += "        ";
  for (int i = 0; i < 3; i++) {
    if (request.buttons[i] == nullptr) continue;
    std::string b = std::to_string(i + 1) + ") " + request.buttons[i];
    if (i + 1 == request.defaultButton) b = "[" + b + "]";
    text += b + "  ";
  }
  return text + "\n";
}

Frontend::Frontend(AlertMode mode, bool verbose, FILE *out, FILE *err)
    : mode_(mode), verbose_(verbose), out_(out), err_(err) {}

Frontend::~Frontend() { Uninstall(); }

void Frontend::Install() {
  if (installed_) return;
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
  installed_ = true;
}

void Frontend::Uninstall() {
  if (!installed_) return;
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
  installed_ = false;
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

namespace {

// The path of ref, or "". Paths have no length limit here: grow until it fits.
std::string PathOfRef(const FSRef &ref) {
  std::vector<UInt8> path(4096);
  OSStatus made;
  while ((made = FSRefMakePath(&ref, path.data(), UInt32(path.size()))) == errFSBadBuffer &&
         path.size() < (size_t(1) << 24))
    path.resize(path.size() * 4);
  return made == noErr ? reinterpret_cast<char *>(path.data()) : "";
}

// The path of the item an update event names, or "".
std::string PathOfUpdate(const AppleEvent *event) {
  std::string result;
  AEDesc list = {typeNull, nullptr};
  AEDesc alias = {typeNull, nullptr};
  if (AEGetParamDesc(event, keyDirectObject, typeAEList, &list) == noErr &&
      AEGetNthDesc(&list, 1, typeAlias, nullptr, &alias) == noErr) {
    Size size = AEGetDescDataSize(&alias);
    Handle h = NewHandle(size);
    FSRef ref;
    Boolean changed = false;
    if (h != nullptr && AEGetDescData(&alias, *h, size) == noErr &&
        FSResolveAlias(nullptr, h, &ref, &changed) == noErr) {
      result = PathOfRef(ref);
    }
    DisposeHandle(h);
  }
  AEDisposeDesc(&alias);
  AEDisposeDesc(&list);
  return result;
}

// The folder of an item's path: "/" for an item at the root.
std::string FolderOf(const std::string &path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash == 0 ? 1 : slash);
}

}  // namespace

void Frontend::Receive(const AppleEvent *event, void *refcon) {
  auto *self = static_cast<Frontend *>(refcon);
  self->updates_ += 1;
  if (self->verbose_) {
    std::string path = PathOfUpdate(event);
    if (!path.empty()) {
      if (self->progressShown_) {
        fputs("\r\033[K", self->err_);
        self->progressShown_ = false;
      }
      fprintf(self->out_, "%s\n", path.c_str());
    }
  }
  // Without the plug-in's own progress the window counts these. Its folder:
  // the parent of an updated item, looked up ten times a second at most,
  // since resolving a path costs more than the update itself.
  UInt32 now = TickCount();
  if (self->window_ != nullptr && !self->progressReported_) {
    self->window_->Update(self->updates_, kUnknownTotal);
    if (self->updates_ == 1 || now - self->lastFolderTicks_ >= 6) {
      self->lastFolderTicks_ = now;
      self->window_->SetFolder(FolderOf(PathOfUpdate(event)));
    }
  }
  self->DrawProgress(false);
}

void Frontend::ProgressBegin(SInt64 itemCount, void *refcon) {
  auto *self = static_cast<Frontend *>(refcon);
  self->progressReported_ = true;
  self->itemsDone_ = 0;
  self->itemTotal_ = itemCount < 0 ? kUnknownTotal : itemCount;
  self->itemForkEmptied_ = false;
  self->forksEmptied_ = self->bytesFreed_ = 0;
  self->zapStopped_ = false;
  self->zapStart_ = std::chrono::steady_clock::now();
  if (self->window_ != nullptr) self->window_->Update(0, self->itemTotal_);
}

void Frontend::ProgressItemDone(const FSRef *item, void *refcon) {
  auto *self = static_cast<Frontend *>(refcon);
  self->itemsDone_ += 1;
  if (self->itemForkEmptied_) self->forksEmptied_ += 1;
  self->itemForkEmptied_ = false;
  if (self->window_ == nullptr) return;
  self->window_->Update(self->itemsDone_, self->itemTotal_);
  UInt32 now = TickCount();
  if (item != nullptr && (self->itemsDone_ == 1 || now - self->lastFolderTicks_ >= 6)) {
    self->lastFolderTicks_ = now;
    self->window_->SetFolder(FolderOf(PathOfRef(*item)));
  }
}

void Frontend::ForkEmptied(UInt64 bytesFreed, void *refcon) {
  auto *self = static_cast<Frontend *>(refcon);
  self->itemForkEmptied_ = true;
  self->bytesFreed_ += bytesFreed;
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

void Frontend::StartProgress() {
  progress_ = isatty(fileno(err_)) != 0;
  startTicks_ = TickCount();
  lastDrawTicks_ = startTicks_;
  updates_ = 0;
  progressReported_ = false;
  itemsDone_ = 0;
  itemTotal_ = kUnknownTotal;
  if (mode_ == AlertMode::kDialogs && window_ == nullptr) {
    // KDE's own progress bar under KDE (kdialog, driven over D-Bus), zenity's elsewhere.
    const char *desktop = getenv("XDG_CURRENT_DESKTOP");
    ProgressPrograms programs;
    if (ChooseProgressPrograms(desktop != nullptr ? desktop : "", FindInPath, &programs)) {
      window_ = std::make_unique<ProgressWindow>(programs, progressTitle_);
      window_->Start();
    }
  }
}

void Frontend::DrawProgress(bool force) {
  if (!progress_) return;
  UInt32 now = TickCount();
  if (!force && now - lastDrawTicks_ < 6) return;  // ten times a second is plenty
  lastDrawTicks_ = now;
  double seconds = double(now - startTicks_) / 60.0;
  fprintf(err_, "\r\033[KTarrovel: %llu item(s) updated, %.1f s", static_cast<unsigned long long>(updates_), seconds);
  fflush(err_);
  progressShown_ = true;
}

void Frontend::FinishProgress() {
  if (window_ != nullptr) {
    windowCancelled_ = windowCancelled_ || window_->cancelled();
    window_->Finish();
    std::string why = window_->failure();
    if (!why.empty()) fprintf(err_, "tarrovel: the progress window could not be shown: %s\n", why.c_str());
    window_.reset();
  }
  if (progressShown_) {
    fputs("\r\033[K", err_);
    fflush(err_);
    progressShown_ = false;
  }
  progress_ = false;
}

}  // namespace tarrovel
