#include "host/Dialogs.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace tv::host {
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
  // The progress window: kdialog's bar needs qdbus as well, or it is zenity's.
  ProgressPrograms bar;
  EXPECT_FALSE(ChooseProgressPrograms("KDE", only("kdialog"), &bar));  // no qdbus, no zenity: no window
  ASSERT_TRUE(ChooseProgressPrograms("KDE", [](const char *name) { return std::string("/b/") + name; }, &bar));
  EXPECT_EQ(bar.tool, DialogTool::kKDialog);
  EXPECT_EQ(bar.qdbus, "/b/qdbus");
  auto noQdbus = [](const char *name) { return std::string(name) == "qdbus" ? "" : std::string("/b/") + name; };
  ASSERT_TRUE(ChooseProgressPrograms("KDE", noQdbus, &bar));
  EXPECT_EQ(bar.tool, DialogTool::kZenity);
  EXPECT_FALSE(ChooseProgressPrograms("GNOME", only("kdialog"), &bar));
  std::string service, object;
  int pid = 0;
  ASSERT_TRUE(ParseKDialogReference("org.kde.kdialog-29922 /ProgressDialog\n", &service, &object, &pid));
  EXPECT_EQ(service, "org.kde.kdialog-29922");
  EXPECT_EQ(object, "/ProgressDialog");
  EXPECT_EQ(pid, 29922);
  for (const char *bad : {"", "org.kde.kdialog- /P", "org.kde.kdialog-12x /P", "org.kde.kdialog-12 P",
                          "org.kde.kdialog-99999999999 /P", "Service does not exist"}) {
    EXPECT_FALSE(ParseKDialogReference(bad, &service, &object, &pid)) << bad;
  }
  EXPECT_EQ(DialogToolOrder("GNOME:KDE")[0], DialogTool::kKDialog);
  EXPECT_EQ(DialogToolOrder("KDEX")[0], DialogTool::kZenity);
  EXPECT_EQ(DialogToolOrder("")[0], DialogTool::kZenity);
}

TEST(DialogsTest, ProgressLabelCountsFilesInTheUsersLanguageAndShortensTheFolder) {
  EXPECT_EQ(ProgressLabel("en", 0, kUnknownTotal, ""), "0 files");
  EXPECT_EQ(ProgressLabel("en", 1, kUnknownTotal, "/"), "1 file\n/");
  EXPECT_EQ(ProgressLabel("en", 1017, 2007, "~/Mac Stick"), "1,017 of 2,007 files\n~/Mac Stick");
  EXPECT_EQ(ProgressLabel("en", 1, 1, ""), "1 of 1 file");
  EXPECT_EQ(ProgressLabel("ja", 1017, 2007, ""), "2,007 \u500b\u306e\u30d5\u30a1\u30a4\u30eb\u306e\u3046\u3061 1,017 \u500b");
  EXPECT_EQ(ProgressLabel("ja", 1234567, kUnknownTotal, ""), "1,234,567 \u500b\u306e\u30d5\u30a1\u30a4\u30eb");
  // A total of nothing, or one the tree outgrew after the count, is not shown.
  EXPECT_EQ(ProgressLabel("en", 0, 0, ""), "0 files");
  EXPECT_EQ(ProgressLabel("en", 11, 10, ""), "11 files");
  EXPECT_EQ(GroupedNumber(999, "en"), "999");
  EXPECT_EQ(GroupedNumber(1000, "en"), "1,000");

  EXPECT_EQ(ShortFolder("/home/u/Mac Stick/Photos", "/home/u"), "~/Mac Stick/Photos");
  EXPECT_EQ(ShortFolder("/home/u", "/home/u/"), "~");
  EXPECT_EQ(ShortFolder("/home/user2/x", "/home/u"), "/home/user2/x");
  std::string deep = "/media/stick/" + std::string(80, 'x') + "/Fotos/2019";
  EXPECT_EQ(ShortFolder(deep, ""), "\u2026/Fotos/2019");
  // One long name: cut inside it, never inside a character.
  std::string name = "/";
  for (int i = 0; i < 40; i++) name += "\u00e9";  // two bytes each
  std::string shown = ShortFolder(name + "x", "");
  shown = shown.substr(3);
  EXPECT_LE(shown.size(), 48u);
  EXPECT_NE(static_cast<unsigned char>(shown[0]) & 0xC0, 0x80) << shown;
  // zenity reads "\n" and "\\" in its input as a line break and a backslash.
  EXPECT_EQ(ZenityProgressLine("3 files\nC:\\x"), "#3 files\\nC:\\\\x\n");

  EXPECT_EQ(ProgressTitle("Zapping resource forks", "Zap Resource Fork..."), "Zapping resource forks");
  EXPECT_EQ(ProgressTitle("", "Greet Everyone..."), "Greet Everyone");
  EXPECT_EQ(ProgressTitle("", "\u6328\u62f6\u2026"), "\u6328\u62f6");
  EXPECT_EQ(StoppingLabel("ja"), "\u4e2d\u6b62\u3057\u3066\u3044\u307e\u3059\u2026");
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
  Args running = ProgressArguments("Zapping resource forks", "0 files", true, true);
  EXPECT_EQ(running, (Args{"--progress", "--title=Zapping resource forks", "--text=0 files", "--width=480",
                           "--auto-close", "--pulsate"}));
  EXPECT_FALSE(has(ProgressArguments("t", "", false, true), "--pulsate"));
  // Stopping: nothing left to cancel.
  EXPECT_TRUE(has(ProgressArguments("t", "Stopping\u2026", true, false), "--no-cancel"));
}

TEST(DialogsTest, ADialogThatCannotShowItselfIsAFailureNotACancel) {
  // zenity without a display exits as Cancel does, and says why on standard error.
  std::string gtk = "\n(zenity:22467): Gtk-WARNING **: 13:15:36.987: cannot open display: :97\n";
  EXPECT_EQ(DialogFailure(DialogTool::kZenity, 1, gtk),
            "zenity could not open the display (exit status 1): (zenity:22467): Gtk-WARNING **: 13:15:36.987: "
            "cannot open display: :97");
  EXPECT_EQ(DialogFailure(DialogTool::kZenity, 1, ""), "");  // Cancel
  EXPECT_EQ(DialogFailure(DialogTool::kZenity, 0, "Gtk-Message: no transient parent\n"), "");
  EXPECT_EQ(DialogFailure(DialogTool::kKDialog, 2, ""), "");
  EXPECT_EQ(DialogFailure(DialogTool::kKDialog, 134,
                          "qt.qpa.xcb: could not connect to display :97\nAvailable platform plugins are: xcb.\n"),
            "kdialog could not open the display (exit status 134): qt.qpa.xcb: could not connect to display :97");
  EXPECT_EQ(DialogFailure(DialogTool::kZenity, 127, ""), "zenity could not be started");
  EXPECT_EQ(DialogFailure(DialogTool::kZenity, 255, ""), "zenity failed (exit status 255)");
  EXPECT_EQ(DialogFailure(DialogTool::kZenity, 2, ""), "zenity failed (exit status 2)");
}

}  // namespace
}  // namespace tv::host
