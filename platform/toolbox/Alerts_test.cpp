#include "platform/Alerts.h"
#include "platform/HostServices.h"
#include "platform/toolbox/AlertButtons.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

// What the presenter was shown, copied out of the request.
struct Shown {
  int calls = 0;
  AlertType type = -1;
  std::string message;
  std::optional<std::string> explanation;
  std::optional<std::string> buttons[3];
  SInt16 defaultButton = -1;
  SInt16 cancelButton = -1;
  SInt32 answer = 1;
};

SInt32 Present(const TVAlertRequest *r, void *refcon) {
  auto *s = static_cast<Shown *>(refcon);
  ++s->calls;
  s->type = r->type;
  s->message = r->message != nullptr ? r->message : "<null>";
  if (r->explanation != nullptr) s->explanation = r->explanation;
  for (int i = 0; i < 3; ++i)
    if (r->buttons[i] != nullptr) s->buttons[i] = r->buttons[i];
  s->defaultButton = r->defaultButton;
  s->cancelButton = r->cancelButton;
  return s->answer;
}

CFStringRef Str(const char *utf8) { return CFStringCreateWithCString(nullptr, utf8, kCFStringEncodingUTF8); }

class AlertsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    alerts_ = TVGetLiveAlertCount();
    objects_ = TVCFGetLiveObjectCount();
    TVSetAlertPresenter(Present, &shown_);
    ASSERT_STATUS(noErr, GetStandardAlertDefaultParams(&params_, kStdCFStringAlertVersionOne));
  }
  void TearDown() override {
    TVSetAlertPresenter(nullptr, nullptr);
    TVCFFailNthAllocation(0);
    EXPECT_EQ(alerts_, TVGetLiveAlertCount()) << "an alert was not disposed of";
    EXPECT_EQ(objects_, TVCFGetLiveObjectCount()) << "a text was not released";
  }
  // Creates and runs one alert; the texts are released before it runs, so the
  // alert must hold its own.
  OSStatus show(AlertType type, const char *message, const char *explanation, DialogItemIndex *hit) {
    CFStringRef m = Str(message);
    CFStringRef e = explanation != nullptr ? Str(explanation) : nullptr;
    DialogRef alert = nullptr;
    OSStatus err = CreateStandardAlert(type, m, e, &params_, &alert);
    CFRelease(m);
    if (e != nullptr) CFRelease(e);
    if (err != noErr) return err;
    EXPECT_EQ(alerts_ + 1, TVGetLiveAlertCount());
    return RunStandardAlert(alert, nullptr, hit);
  }
  CFIndex alerts_ = 0;
  CFIndex objects_ = 0;
  Shown shown_;
  AlertStdCFStringAlertParamRec params_{};
};

TEST_F(AlertsTest, DefaultParamsAreOneSystemOKButton) {
  EXPECT_EQ(kStdCFStringAlertVersionOne, params_.version);
  EXPECT_FALSE(params_.movable);
  EXPECT_FALSE(params_.helpButton);
  EXPECT_EQ(kAlertDefaultOKText, params_.defaultText);
  EXPECT_EQ(nullptr, params_.cancelText);
  EXPECT_EQ(nullptr, params_.otherText);
  EXPECT_EQ(kAlertStdAlertOKButton, params_.defaultButton);
  EXPECT_EQ(0, params_.cancelButton);
  EXPECT_EQ(kWindowDefaultPosition, params_.position);
  EXPECT_EQ(0u, params_.flags);

  AlertStdCFStringAlertParamRec other{};
  other.version = 77;
  EXPECT_STATUS(paramErr, GetStandardAlertDefaultParams(&other, 2));
  EXPECT_EQ(77u, other.version) << "left alone on failure";
  EXPECT_STATUS(paramErr, GetStandardAlertDefaultParams(nullptr, kStdCFStringAlertVersionOne));
}

TEST_F(AlertsTest, StopAlertShowsTextsAsUTF8WithTheSystemOKButton) {
  DialogItemIndex hit = 0;
  ASSERT_STATUS(noErr, show(kAlertStopAlert, "file is locked: /Users/a/b\xC3\xBC.txt",
                            "Change lock status using Finder Get Info.", &hit));
  EXPECT_EQ(1, hit);
  EXPECT_EQ(1, shown_.calls);
  EXPECT_EQ(kAlertStopAlert, shown_.type);
  EXPECT_EQ("file is locked: /Users/a/b\xC3\xBC.txt", shown_.message);
  EXPECT_EQ("Change lock status using Finder Get Info.", shown_.explanation.value_or("<null>"));
  EXPECT_EQ("OK", shown_.buttons[0].value_or("<null>"));
  EXPECT_FALSE(shown_.buttons[1].has_value());
  EXPECT_FALSE(shown_.buttons[2].has_value());
  EXPECT_EQ(1, shown_.defaultButton);
  EXPECT_EQ(0, shown_.cancelButton);
}

TEST_F(AlertsTest, CautionAlertWithZapAndCancelReportsTheCancelButton) {
  CFStringRef zap = Str("Zap");
  CFStringRef cancel = Str("Cancel");
  params_.movable = true;
  params_.defaultText = zap;
  params_.cancelText = cancel;
  params_.cancelButton = kAlertStdAlertCancelButton;
  shown_.answer = 2;
  DialogItemIndex hit = 0;
  OSStatus err = show(kAlertCautionAlert, "\xE6\x97\xA5\xE6\x9C\xAC 3 files", nullptr, &hit);
  CFRelease(zap);
  CFRelease(cancel);
  ASSERT_STATUS(noErr, err);
  EXPECT_EQ(2, hit);
  EXPECT_EQ(kAlertCautionAlert, shown_.type);
  EXPECT_EQ("\xE6\x97\xA5\xE6\x9C\xAC 3 files", shown_.message);
  EXPECT_FALSE(shown_.explanation.has_value()) << "no explanation is NULL, not empty";
  EXPECT_EQ("Zap", shown_.buttons[0].value_or("<null>"));
  EXPECT_EQ("Cancel", shown_.buttons[1].value_or("<null>"));
  EXPECT_FALSE(shown_.buttons[2].has_value());
  EXPECT_EQ(1, shown_.defaultButton);
  EXPECT_EQ(2, shown_.cancelButton);
}

TEST_F(AlertsTest, AlertKeepsTheTextsAsTheyWereWhenCreated) {
  CFMutableStringRef message = CFStringCreateMutable(nullptr, 0);
  CFStringAppendCString(message, "before", kCFStringEncodingUTF8);
  DialogRef alert = nullptr;
  ASSERT_STATUS(noErr, CreateStandardAlert(kAlertNoteAlert, message, nullptr, nullptr, &alert));
  CFStringAppendCString(message, " and after", kCFStringEncodingUTF8);
  CFRelease(message);
  DialogItemIndex hit = 0;
  ASSERT_STATUS(noErr, RunStandardAlert(alert, nullptr, &hit));
  EXPECT_EQ("before", shown_.message);
  EXPECT_EQ("OK", shown_.buttons[0].value_or("<null>")) << "no parameters: the defaults";
}

TEST_F(AlertsTest, ButtonNumbersNameOnlyButtonsThatExist) {
  CFStringRef no = Str("No");
  AlertStdCFStringAlertParamRec p = params_;
  p.cancelText = kAlertDefaultCancelText;
  p.otherText = no;
  p.defaultButton = 2;
  p.cancelButton = 3;
  tv::toolbox::AlertButtons b = tv::toolbox::ButtonsFor(p);
  EXPECT_EQ(2, b.defaultButton) << "as given when that button exists";
  EXPECT_EQ(3, b.cancelButton);
  EXPECT_EQ(no, b.titles[2]);

  p.otherText = nullptr;
  p.defaultText = nullptr;
  p.defaultButton = 1;
  p.cancelButton = 3;
  b = tv::toolbox::ButtonsFor(p);
  EXPECT_EQ(0, b.defaultButton) << "no default text, no default button";
  EXPECT_EQ(0, b.cancelButton) << "no other text, so button 3 does not exist";
  p.defaultButton = 9;
  p.cancelButton = -1;
  b = tv::toolbox::ButtonsFor(p);
  EXPECT_EQ(0, b.defaultButton);
  EXPECT_EQ(0, b.cancelButton);

  EXPECT_STATUS(noErr, tv::toolbox::ItemHitStatus(2, b));
  EXPECT_STATUS(paramErr, tv::toolbox::ItemHitStatus(1, b));
  EXPECT_STATUS(paramErr, tv::toolbox::ItemHitStatus(3, b));
  EXPECT_STATUS(paramErr, tv::toolbox::ItemHitStatus(0, b));
  EXPECT_STATUS(paramErr, tv::toolbox::ItemHitStatus(4, b));
  EXPECT_STATUS(userCanceledErr, tv::toolbox::ItemHitStatus(userCanceledErr, b));
  CFRelease(no);
}

TEST_F(AlertsTest, StandInTitlesBecomeTheSystemTitles) {
  params_.cancelText = kAlertDefaultCancelText;
  params_.cancelButton = kAlertStdAlertCancelButton;
  shown_.answer = 2;
  DialogItemIndex hit = 0;
  ASSERT_STATUS(noErr, show(kAlertCautionAlert, "m", "e", &hit));
  EXPECT_EQ("OK", shown_.buttons[0].value_or("<null>"));
  EXPECT_EQ("Cancel", shown_.buttons[1].value_or("<null>"));
  EXPECT_EQ(2, hit);
}

TEST_F(AlertsTest, PresenterFailuresAndStrayAnswersAreStatusesAndTheAlertIsStillDisposed) {
  DialogItemIndex hit = 99;
  shown_.answer = userCanceledErr;
  EXPECT_STATUS(userCanceledErr, show(kAlertStopAlert, "m", nullptr, &hit));
  for (SInt32 stray : {0, 2, 3, 4, 1000}) {
    shown_.answer = stray;
    EXPECT_STATUS(paramErr, show(kAlertStopAlert, "m", nullptr, &hit)) << "answer " << stray;
  }
  EXPECT_EQ(99, hit) << "no item hit is written on failure";

  TVSetAlertPresenter(nullptr, nullptr);
  int before = shown_.calls;
  EXPECT_STATUS(paramErr, show(kAlertStopAlert, "m", nullptr, &hit)) << "no front end";
  EXPECT_EQ(before, shown_.calls);
  TVSetAlertPresenter(Present, &shown_);

  shown_.answer = 1;
  EXPECT_STATUS(noErr, show(kAlertStopAlert, "m", nullptr, nullptr)) << "the item hit is optional";
}

TEST_F(AlertsTest, BadArgumentsCreateNothing) {
  CFStringRef m = Str("m");
  DialogRef alert = nullptr;
  EXPECT_STATUS(paramErr, CreateStandardAlert(kAlertStopAlert, m, nullptr, &params_, nullptr));
  EXPECT_STATUS(paramErr, CreateStandardAlert(kAlertStopAlert, nullptr, nullptr, &params_, &alert));
  EXPECT_STATUS(paramErr, CreateStandardAlert(AlertType(7), m, nullptr, &params_, &alert));
  AlertStdCFStringAlertParamRec wrong = params_;
  wrong.version = 2;
  EXPECT_STATUS(paramErr, CreateStandardAlert(kAlertStopAlert, m, nullptr, &wrong, &alert));
  AlertStdCFStringAlertParamRec noButtons = params_;
  noButtons.defaultText = nullptr;
  EXPECT_STATUS(paramErr, CreateStandardAlert(kAlertStopAlert, m, nullptr, &noButtons, &alert))
      << "an alert nobody could answer";
  EXPECT_EQ(nullptr, alert);
  EXPECT_EQ(alerts_, TVGetLiveAlertCount());

  // Running something that is not a live alert touches nothing.
  EXPECT_STATUS(paramErr, RunStandardAlert(nullptr, nullptr, nullptr));
  ASSERT_STATUS(noErr, CreateStandardAlert(kAlertStopAlert, m, nullptr, &params_, &alert));
  EXPECT_STATUS(noErr, RunStandardAlert(alert, nullptr, nullptr));
  EXPECT_STATUS(paramErr, RunStandardAlert(alert, nullptr, nullptr)) << "an alert runs once";
  EXPECT_EQ(1, shown_.calls);
  CFRelease(m);
}

TEST_F(AlertsTest, NoMemoryForACopyCreatesNothingAndLeaksNothing) {
  CFMutableStringRef message = CFStringCreateMutable(nullptr, 0);  // copying it allocates
  CFStringAppendCString(message, "m", kCFStringEncodingUTF8);
  CFMutableStringRef explanation = CFStringCreateMutable(nullptr, 0);
  for (CFIndex n = 1; n <= 2; ++n) {
    DialogRef alert = nullptr;
    TVCFFailNthAllocation(n);
    EXPECT_STATUS(memFullErr, CreateStandardAlert(kAlertStopAlert, message, explanation, &params_, &alert));
    TVCFFailNthAllocation(0);
    EXPECT_EQ(nullptr, alert);
    EXPECT_EQ(alerts_, TVGetLiveAlertCount());
  }
  CFRelease(explanation);
  CFRelease(message);
}

TEST_F(AlertsTest, UnpairedSurrogatesReachThePresenterAsQuestionMarks) {
  const UniChar chars[] = {'a', 0xD800, 'b'};
  CFStringRef m = CFStringCreateWithCharacters(nullptr, chars, 3);
  DialogRef alert = nullptr;
  ASSERT_STATUS(noErr, CreateStandardAlert(kAlertStopAlert, m, nullptr, nullptr, &alert));
  CFRelease(m);
  ASSERT_STATUS(noErr, RunStandardAlert(alert, nullptr, nullptr));
  EXPECT_EQ("a?b", shown_.message);
}

}  // namespace
