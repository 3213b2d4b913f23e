#include "host/Dialogs.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace tarrovel {
namespace {

TVAlertRequest ZapOrCancel() {
  TVAlertRequest r = {};
  r.type = kAlertCautionAlert;
  r.message = "Zap the resource forks of 3 file(s)?";
  r.explanation = "This cannot be undone.";
  r.buttons[0] = "Zap";
  r.buttons[1] = "Cancel";
  r.defaultButton = 1;
  r.cancelButton = 2;
  return r;
}

TVAlertRequest StopOK(const char *message) {
  TVAlertRequest r = {};
  r.type = kAlertStopAlert;
  r.message = message;
  r.buttons[0] = "OK";
  r.defaultButton = 1;
  return r;
}

using Args = std::vector<std::string>;

TEST(DialogsTest, ZenityAsksWithTheAlertsOwnButtonsReturnZapsEscapeCancels) {
  TVAlertRequest r = ZapOrCancel();
  EXPECT_EQ(DialogArguments(DialogTool::kZenity, r),
            (Args{"--question", "--title=Tarrovel", "--icon-name=dialog-warning",
                  "--text=<b>Zap the resource forks of 3 file(s)?</b>\n\nThis cannot be undone.", "--ok-label=Zap",
                  "--cancel-label=Cancel"}));
  EXPECT_EQ(ButtonForDialogExit(DialogTool::kZenity, r, 0, ""), 1);
  EXPECT_EQ(ButtonForDialogExit(DialogTool::kZenity, r, 1, ""), 2);  // Cancel, Escape, the close box
  // Anything else (no display after all, killed by Ctrl-C, not started) must not zap.
  for (int status : {5, 127, 128 + 2, 255}) EXPECT_EQ(ButtonForDialogExit(DialogTool::kZenity, r, status, ""), 2);
}

TEST(DialogsTest, KDialogAsksWithContinueCancelAndMapsItsStatuses) {
  TVAlertRequest r = ZapOrCancel();
  Args args = DialogArguments(DialogTool::kKDialog, r);
  EXPECT_EQ(args, (Args{"--title", "Tarrovel", "--warningcontinuecancel",
                        "<qt><b>Zap the resource forks of 3 file(s)?</b><br><br>This cannot be undone.</qt>",
                        "--continue-label", "Zap", "--cancel-label", "Cancel"}));
  EXPECT_EQ(ButtonForDialogExit(DialogTool::kKDialog, r, 0, ""), 1);
  EXPECT_EQ(ButtonForDialogExit(DialogTool::kKDialog, r, 2, ""), 2);
  EXPECT_EQ(ButtonForDialogExit(DialogTool::kKDialog, r, 1, ""), 2);
  EXPECT_EQ(ButtonForDialogExit(DialogTool::kKDialog, r, 127, ""), 2);
  r.type = kAlertNoteAlert;
  EXPECT_EQ(DialogArguments(DialogTool::kKDialog, r)[2], "--yesno");
}

TEST(DialogsTest, SingleButtonAlertsAreMessageDialogsOfTheirKind) {
  TVAlertRequest r = StopOK("file is locked: /tmp/a<b>&c\\t");
  EXPECT_EQ(DialogArguments(DialogTool::kZenity, r),
            (Args{"--error", "--title=Tarrovel", "--icon-name=dialog-error",
                  "--text=<b>file is locked: /tmp/a&lt;b&gt;&amp;c\\\\t</b>", "--ok-label=OK"}));
  EXPECT_EQ(DialogArguments(DialogTool::kKDialog, r),
            (Args{"--title", "Tarrovel", "--error", "<qt><b>file is locked: /tmp/a&lt;b&gt;&amp;c\\t</b></qt>",
                  "--ok-label", "OK"}));
  // Whatever closed it, the only button was pressed.
  for (int status : {0, 1, 255}) EXPECT_EQ(ButtonForDialogExit(DialogTool::kZenity, r, status, ""), 1);
  r.type = kAlertCautionAlert;
  EXPECT_EQ(DialogArguments(DialogTool::kZenity, r)[0], "--warning");
  EXPECT_EQ(DialogArguments(DialogTool::kKDialog, r)[2], "--sorry");
  r.type = kAlertNoteAlert;
  EXPECT_EQ(DialogArguments(DialogTool::kZenity, r)[2], "--icon-name=dialog-information");
  EXPECT_EQ(DialogArguments(DialogTool::kKDialog, r)[2], "--msgbox");
}

TEST(DialogsTest, AThirdButtonIsZenitysExtraButtonAndKDialogsNo) {
  TVAlertRequest r = ZapOrCancel();
  r.buttons[2] = "Skip";
  Args zenity = DialogArguments(DialogTool::kZenity, r);
  EXPECT_EQ(zenity.back(), "--extra-button=Skip");
  EXPECT_EQ(ButtonForDialogExit(DialogTool::kZenity, r, 1, "Skip\n"), 3);
  EXPECT_EQ(ButtonForDialogExit(DialogTool::kZenity, r, 1, ""), 2);
  Args kdialog = DialogArguments(DialogTool::kKDialog, r);
  EXPECT_EQ(kdialog[2], "--warningyesnocancel");
  EXPECT_EQ(ButtonForDialogExit(DialogTool::kKDialog, r, 1, ""), 3);
  EXPECT_EQ(ButtonForDialogExit(DialogTool::kKDialog, r, 2, ""), 2);
}

TEST(DialogsTest, KDialogFirstUnderKDEEachFallsBackToTheOther) {
  std::vector<std::string> looked;
  auto only = [&](const char *present) {
    return [&looked, present](const char *name) {
      looked.push_back(name);
      return std::string(name) == present ? std::string("/usr/bin/") + name : std::string();
    };
  };
  DialogProgram p;
  ASSERT_TRUE(ChooseDialogProgram("KDE", only("kdialog"), &p));
  EXPECT_EQ(p.tool, DialogTool::kKDialog);
  EXPECT_EQ(p.path, "/usr/bin/kdialog");
  ASSERT_TRUE(ChooseDialogProgram("ubuntu:GNOME", only("kdialog"), &p));
  EXPECT_EQ(p.tool, DialogTool::kKDialog);  // zenity missing
  ASSERT_TRUE(ChooseDialogProgram("kde", only("zenity"), &p));
  EXPECT_EQ(p.tool, DialogTool::kZenity);  // kdialog missing
  looked.clear();
  EXPECT_FALSE(ChooseDialogProgram("X-Cinnamon", only("neither"), &p));
  EXPECT_EQ(looked, (std::vector<std::string>{"zenity", "kdialog"}));
  EXPECT_EQ(DialogToolOrder("GNOME:KDE")[0], DialogTool::kKDialog);
  EXPECT_EQ(DialogToolOrder("KDEX")[0], DialogTool::kZenity);
  EXPECT_EQ(DialogToolOrder("")[0], DialogTool::kZenity);
}

TEST(DialogsTest, ProgressLabelCountsOfTheTotalAndKeepsTheEndOfALongFolder) {
  EXPECT_EQ(ProgressLabel(0, kUnknownTotal, ""), "0 items done");
  EXPECT_EQ(ProgressLabel(1, kUnknownTotal, "/"), "1 item done, in /");
  EXPECT_EQ(ProgressLabel(1, 1, ""), "1 of 1 item done");
  EXPECT_EQ(ProgressLabel(3, 4800, "/m"), "3 of 4800 items done, in /m");
  // A total of nothing, or one the tree outgrew after the count, is not shown.
  EXPECT_EQ(ProgressLabel(0, 0, ""), "0 items done");
  EXPECT_EQ(ProgressLabel(11, 10, ""), "11 items done");
  std::string deep = "/media/stick/" + std::string(80, 'x') + "/Fotos/2019";
  EXPECT_EQ(ProgressLabel(12, 20, deep), "12 of 20 items done, in \u2026/Fotos/2019");
  // One long name: cut inside it, never inside a character.
  std::string name = "/";
  for (int i = 0; i < 40; i++) name += "\u00e9";  // two bytes each
  std::string label = ProgressLabel(2, kUnknownTotal, name + "x");
  std::string shown = label.substr(label.find("\u2026") + 3);
  EXPECT_LE(shown.size(), 60u);
  EXPECT_NE(static_cast<unsigned char>(shown[0]) & 0xC0, 0x80) << shown;
}

TEST(DialogsTest, ProgressBarFillsOnlyWhenTheTotalIsKnownAndIsFullOnlyWhenAllIsDone) {
  EXPECT_EQ(ProgressPercent(0, kUnknownTotal), -1);
  EXPECT_EQ(ProgressPercent(5, 0), -1);  // folders without files: nothing to measure
  EXPECT_EQ(ProgressPercent(0, 3), 0);
  EXPECT_EQ(ProgressPercent(1, 3), 33);
  EXPECT_EQ(ProgressPercent(4799, 4800), 99);
  EXPECT_EQ(ProgressPercent(4800, 4800), 100);
  EXPECT_EQ(ProgressPercent(4801, 4800), 100);  // the tree grew after the count
  EXPECT_EQ(ProgressPercent((1ull << 62) - 1, 1ll << 62), 99);  // no overflow
  auto has = [](const std::vector<std::string> &args, const char *arg) {
    return std::find(args.begin(), args.end(), arg) != args.end();
  };
  EXPECT_TRUE(has(ProgressArguments(true), "--pulsate"));
  EXPECT_FALSE(has(ProgressArguments(false), "--pulsate"));
  // zenity would close a full bar by itself, and the zap may still be running.
  EXPECT_FALSE(has(ProgressArguments(false), "--auto-close"));
}

}  // namespace
}  // namespace tarrovel
