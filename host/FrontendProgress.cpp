// The front end's progress: the update events and the plug-in's progress
// received, the progress line on the terminal, the progress window, and the
// zap's tally.
#include "host/Frontend.h"

#include "host/FileAccess.h"
#include "host/ProgressWindow.h"
#include "platform/Files.h"

#include <cstdlib>
#include <unistd.h>
#include <vector>

namespace tv::host {

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
      self->window_->SetFolder(Dirname(PathOfUpdate(event)));
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
    self->window_->SetFolder(Dirname(PathOfRef(*item)));
  }
}

void Frontend::ForkEmptied(UInt64 bytesFreed, void *refcon) {
  auto *self = static_cast<Frontend *>(refcon);
  self->itemForkEmptied_ = true;
  self->bytesFreed_ += bytesFreed;
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

}  // namespace tv::host
