// The confirmations: what they say, which buttons they have, and what counts
// as yes.
#include "zap/MyConfirm.h"

#include "support/MyStatus.h"
#include "tests/support/ZapFixture.h"

#include <gtest/gtest.h>

namespace {

class ConfirmTest : public tv::test::ZapFrontEndTest {};

TEST_F(ConfirmTest, FirstAlertNamesTheCountAndOnlyZapCountsAsYes) {
  MyFileCountInfo info = {5, 0, 0, false, false, false};
  Boolean answer = false;
  ASSERT_STATUS(noErr, ConfirmZapFork(&info, true, false, &answer));
  EXPECT_TRUE(answer);
  ASSERT_EQ(seen.requests.size(), 1u);
  EXPECT_EQ(seen.messages[0], "Zap the data forks of 5 file(s)?");
  EXPECT_EQ(seen.explanations[0].find("cannot scan"), std::string::npos);
  EXPECT_EQ(seen.requests[0].type, kAlertCautionAlert);
  EXPECT_EQ(seen.requests[0].buttons[0], "Zap");
  EXPECT_EQ(seen.requests[0].buttons[1], "Cancel");
  EXPECT_EQ(seen.requests[0].cancelButton, 2);

  seen.answers = {2};
  answer = false;
  ASSERT_STATUS(noErr, ConfirmZapFork(&info, false, false, &answer));
  EXPECT_FALSE(answer);
  EXPECT_STATUS(paramErr, ConfirmZapFork(nullptr, false, false, &answer));
  EXPECT_STATUS(paramErr, ConfirmZapFork(&info, false, false, nullptr));
}

TEST_F(ConfirmTest, DeniedFoldersPrefixTheRecursiveExplanation) {
  MyFileCountInfo info = {9, 4, 2, false, false, true};
  Boolean answer = false;
  ASSERT_STATUS(noErr, ConfirmZapFork(&info, false, true, &answer));
  ASSERT_EQ(seen.messages.size(), 1u);
  EXPECT_NE(seen.messages[0].find("at least 9 file(s)"), std::string::npos);
  EXPECT_EQ(seen.explanations[0].rfind("Could not look inside 2 folder(s)", 0), 0u);
  EXPECT_NE(seen.explanations[0].find(".\n\nThe resource fork of every file"), std::string::npos) << seen.explanations[0];
  CFStringRef message = nullptr, explanation = nullptr;
  MyConfirmZapForkKeys(info, false, true, &message, &explanation);
  EXPECT_TRUE(CFEqual(message, CFSTR("ConfirmZapRsrcForkRecursivelyOver")));
  MyConfirmZapForkKeys(info, true, true, &message, &explanation);
  EXPECT_TRUE(CFEqual(message, CFSTR("ConfirmZapDataFork")));
}

TEST_F(ConfirmTest, SecondAlertOnlyForVolumesAndTheHomeFolder) {
  MyFileCountInfo info = {};
  Boolean answer = false;
  ASSERT_STATUS(noErr, ConfirmZapRsrcForkInVolumeOrHomeDir(&info, &answer));
  EXPECT_TRUE(answer);
  EXPECT_TRUE(seen.requests.empty());
  info.containsVolume = info.containsHomeDir = true;
  EXPECT_TRUE(CFEqual(MyConfirmVolumeOrHomeKey(info), CFSTR("ConfirmZapBothVolHome")));
  seen.answers = {2};
  answer = false;
  ASSERT_STATUS(noErr, ConfirmZapRsrcForkInVolumeOrHomeDir(&info, &answer));
  EXPECT_FALSE(answer);
  ASSERT_EQ(seen.requests.size(), 1u);
  EXPECT_EQ(seen.explanations[0], "");
  info.containsHomeDir = false;
  EXPECT_TRUE(CFEqual(MyConfirmVolumeOrHomeKey(info), CFSTR("ConfirmZapVolume")));
}

}  // namespace
