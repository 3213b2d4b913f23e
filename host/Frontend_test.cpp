#include "host/Frontend.h"

#include "host/AlertAnswers.h"

#include "platform/Console.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

namespace tv::host {
namespace {

TVAlertRequest Caution() {
  TVAlertRequest r = {};
  r.type = kAlertCautionAlert;
  r.message = "Zap the resource forks of 3 file(s)?";
  r.explanation = "This cannot be undone.";
  r.buttons[0] = "消去";
  r.buttons[1] = "キャンセル";
  r.defaultButton = 1;
  r.cancelButton = 2;
  return r;
}

TEST(FrontendTest, TypedAnswersChooseButtons) {
  TVAlertRequest r = Caution();
  EXPECT_EQ(ButtonForAnswer(r, ""), 1);
  EXPECT_EQ(ButtonForAnswer(r, "  \r"), 1);
  EXPECT_EQ(ButtonForAnswer(r, "キャンセル"), 2);
  EXPECT_EQ(ButtonForAnswer(r, "2"), 2);
  EXPECT_EQ(ButtonForAnswer(r, "Cancel"), 2);  // English works in any language
  EXPECT_EQ(ButtonForAnswer(r, "zap"), 1);
  EXPECT_EQ(ButtonForAnswer(r, "3"), 0);
  EXPECT_EQ(ButtonForAnswer(r, "maybe"), 0);
  EXPECT_EQ(ButtonAtEndOfInput(r), 2);
}

TEST(FrontendTest, StopAlertWithOnlyOKAnswersOKAtEndOfInput) {
  TVAlertRequest r = {};
  r.type = kAlertStopAlert;
  r.message = "file is locked: /tmp/x";
  r.buttons[0] = "OK";
  r.defaultButton = 1;
  EXPECT_EQ(ButtonAtEndOfInput(r), 1);
  EXPECT_EQ(ButtonForAnswer(r, "cancel"), 0);
  EXPECT_EQ(AlertToText(r), "[stop] file is locked: /tmp/x\n        [1) OK]  \n");
}

TEST(FrontendTest, AlertTextShowsKindExplanationAndButtons) {
  EXPECT_EQ(AlertToText(Caution()),
            "[caution] Zap the resource forks of 3 file(s)?\n"
            "        This cannot be undone.\n"
            "        [1) 消去]  2) キャンセル  \n");
}

// What the plug-in and the platform say reaches the front end's error stream
// while its handlers are attached, and standard error again once it is gone.
TEST(FrontendTest, DiagnosticsGoToItsErrorStreamWhileAttached) {
  char *buffer = nullptr;
  size_t size = 0;
  FILE *err = open_memstream(&buffer, &size);
  ASSERT_NE(err, nullptr);
  testing::internal::CaptureStderr();
  {
    Frontend frontend(AlertMode::kYes, false, stdout, err);
    frontend.AttachHandlers();
    TVConsolePrintf("tarrovel: cannot save preferences to %s: %s\n", "/x.plist", "Disk full");
  }
  TVConsolePrintf("tarrovel: after\n");
  const std::string direct = testing::internal::GetCapturedStderr();
  fclose(err);
  const std::string through(buffer, size);
  free(buffer);
  EXPECT_EQ(through, "tarrovel: cannot save preferences to /x.plist: Disk full\n");
  EXPECT_EQ(direct, "tarrovel: after\n");
}

}  // namespace
}  // namespace tv::host
