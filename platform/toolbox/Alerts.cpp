// Standard alerts. The platform keeps the alert's texts and buttons; showing
// it is the presenter's job, which the host installs (a terminal or a pipe
// front end, or a test).
#include "platform/Alerts.h"

#include "platform/HostServices.h"
#include "platform/toolbox/AlertButtons.h"

#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_set>

namespace tv::toolbox {

AlertButtons ButtonsFor(const AlertStdCFStringAlertParamRec &param) {
  AlertButtons b{};
  b.titles[0] = param.defaultText == kAlertDefaultOKText ? CFSTR("OK") : param.defaultText;
  b.titles[1] = param.cancelText == kAlertDefaultCancelText ? CFSTR("Cancel") : param.cancelText;
  b.titles[2] = param.otherText == kAlertDefaultOtherText ? CFSTR("Cancel") : param.otherText;
  auto present = [&](SInt16 n) -> SInt16 { return n >= 1 && n <= 3 && b.titles[n - 1] != nullptr ? n : 0; };
  b.defaultButton = present(param.defaultButton);
  b.cancelButton = present(param.cancelButton);
  return b;
}

OSStatus ItemHitStatus(SInt32 item, const AlertButtons &buttons) {
  if (item < 0) return item;
  if (item >= 1 && item <= 3 && buttons.titles[item - 1] != nullptr) return noErr;
  return paramErr;
}

}  // namespace tv::toolbox

namespace {

// What a DialogRef points at: retained copies of the texts, the buttons.
struct Alert {
  AlertType type = kAlertStopAlert;
  CFStringRef message = nullptr;
  CFStringRef explanation = nullptr;
  tv::toolbox::AlertButtons buttons{};  // titles owned here

  ~Alert() {
    for (CFStringRef s : {message, explanation, buttons.titles[0], buttons.titles[1], buttons.titles[2]})
      if (s != nullptr) CFRelease(s);
  }
};

std::mutex sLock;
std::unordered_set<Alert *> sLive;
TVAlertPresenter sPresenter = nullptr;
void *sPresenterRefcon = nullptr;

// A copy of s in *out (NULL stays NULL); false when there is no memory.
bool CopyText(CFStringRef s, CFStringRef *out) {
  *out = s != nullptr ? CFStringCreateCopy(kCFAllocatorDefault, s) : nullptr;
  return s == nullptr || *out != nullptr;
}

std::string ToUTF8(CFStringRef s) {
  CFRange all = CFRangeMake(0, CFStringGetLength(s));
  CFIndex size = 0;
  CFStringGetBytes(s, all, kCFStringEncodingUTF8, '?', false, nullptr, 0, &size);
  std::string text(size_t(size), '\0');
  if (size > 0) CFStringGetBytes(s, all, kCFStringEncodingUTF8, '?', false, reinterpret_cast<UInt8 *>(text.data()), size, &size);
  text.resize(size_t(size));
  return text;
}

DialogRef AsDialog(Alert *a) { return reinterpret_cast<DialogRef>(a); }

// Takes inAlert out of the live set: from here on the caller owns and frees it.
std::unique_ptr<Alert> TakeAlert(DialogRef inAlert) {
  auto *a = reinterpret_cast<Alert *>(inAlert);
  std::lock_guard<std::mutex> guard(sLock);
  if (a == nullptr || sLive.erase(a) == 0) return nullptr;
  return std::unique_ptr<Alert>(a);
}

}  // namespace

OSStatus GetStandardAlertDefaultParams(AlertStdCFStringAlertParamPtr param, UInt32 version) {
  if (param == nullptr || version != kStdCFStringAlertVersionOne) return paramErr;
  *param = AlertStdCFStringAlertParamRec{};
  param->version = version;
  param->movable = false;
  param->helpButton = false;
  param->defaultText = kAlertDefaultOKText;
  param->cancelText = nullptr;
  param->otherText = nullptr;
  param->defaultButton = kAlertStdAlertOKButton;
  param->cancelButton = 0;
  param->position = kWindowDefaultPosition;
  param->flags = 0;
  return noErr;
}

// param may be NULL for the defaults. An alert without any button could never
// be answered, so it is refused with paramErr.
OSStatus CreateStandardAlert(AlertType alertType, CFStringRef error, CFStringRef explanation,
                             const AlertStdCFStringAlertParamRec *param, DialogRef *outAlert) {
  if (outAlert == nullptr || error == nullptr) return paramErr;
  if (alertType < kAlertStopAlert || alertType > kAlertPlainAlert) return paramErr;
  AlertStdCFStringAlertParamRec defaults;
  GetStandardAlertDefaultParams(&defaults, kStdCFStringAlertVersionOne);
  if (param == nullptr) param = &defaults;
  if (param->version != kStdCFStringAlertVersionOne) return paramErr;
  tv::toolbox::AlertButtons wanted = tv::toolbox::ButtonsFor(*param);
  if (wanted.titles[0] == nullptr && wanted.titles[1] == nullptr && wanted.titles[2] == nullptr) return paramErr;

  std::unique_ptr<Alert> alert(new (std::nothrow) Alert);
  if (alert == nullptr) return memFullErr;
  alert->type = alertType;
  alert->buttons.defaultButton = wanted.defaultButton;
  alert->buttons.cancelButton = wanted.cancelButton;
  bool copied = CopyText(error, &alert->message) && CopyText(explanation, &alert->explanation);
  for (int i = 0; copied && i < 3; ++i) copied = CopyText(wanted.titles[i], &alert->buttons.titles[i]);
  if (!copied) return memFullErr;
  try {
    std::lock_guard<std::mutex> guard(sLock);
    sLive.insert(alert.get());
  } catch (const std::bad_alloc &) {
    return memFullErr;
  }
  *outAlert = AsDialog(alert.release());
  return noErr;
}

// The alert is disposed of on every path, once it is known to be one of ours.
// outItemHit may be NULL; it is written only on success.
OSStatus RunStandardAlert(DialogRef inAlert, ModalFilterUPP filterProc, DialogItemIndex *outItemHit) {
  std::unique_ptr<Alert> alert = TakeAlert(inAlert);
  if (alert == nullptr) return paramErr;
  TVAlertPresenter presenter;
  void *refcon;
  {
    std::lock_guard<std::mutex> guard(sLock);
    presenter = sPresenter;
    refcon = sPresenterRefcon;
  }
  if (presenter == nullptr) return paramErr;

  OSStatus status;
  try {
    std::string message = ToUTF8(alert->message);
    std::string explanation = alert->explanation != nullptr ? ToUTF8(alert->explanation) : std::string();
    std::string titles[3];
    TVAlertRequest request{};
    request.type = alert->type;
    request.message = message.c_str();
    request.explanation = alert->explanation != nullptr ? explanation.c_str() : nullptr;
    for (int i = 0; i < 3; ++i) {
      if (alert->buttons.titles[i] == nullptr) continue;
      titles[i] = ToUTF8(alert->buttons.titles[i]);
      request.buttons[i] = titles[i].c_str();
    }
    request.defaultButton = alert->buttons.defaultButton;
    request.cancelButton = alert->buttons.cancelButton;
    SInt32 item = presenter(&request, refcon);
    status = tv::toolbox::ItemHitStatus(item, alert->buttons);
    if (status == noErr && outItemHit != nullptr) *outItemHit = DialogItemIndex(item);
  } catch (const std::bad_alloc &) {
    status = memFullErr;
  }
  return status;
}

void TVSetAlertPresenter(TVAlertPresenter presenter, void *refcon) {
  std::lock_guard<std::mutex> guard(sLock);
  sPresenter = presenter;
  sPresenterRefcon = presenter != nullptr ? refcon : nullptr;
}

CFIndex TVGetLiveAlertCount() {
  std::lock_guard<std::mutex> guard(sLock);
  return CFIndex(sLive.size());
}
