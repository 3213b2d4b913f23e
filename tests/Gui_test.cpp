// `tarrovel run --gui` through the real command, with a stand-in for zenity
// on PATH that records its arguments and answers with a chosen exit status.
#include "platform/Carbon.h"
#include "tests/support/Sidecars.h"
#include "tests/support/Selection.h"
#include "tests/support/Tarrovel.h"

#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <gtest/gtest.h>

namespace {

namespace fx = tv::test;
using tv::test::Tarrovel;

class GuiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Each call appends its arguments to the log, each ended by a unit
    // separator, and a record separator after the last, and its process ID
    // to the log's ".pids". The progress window logs the lines it is sent (to
    // the log's ".progress" file) until a label names a folder (its second
    // line), then answers as its Cancel button does; with FAKE_PROGRESS_WATCH
    // it logs every line until the host closes it (FAKE_PROGRESS_LINGER: and
    // stays up after its input ends). FAKE_NO_DISPLAY names the
    // first argument of the calls that cannot open the display (as zenity:
    // status 1, the reason on standard error).
    tree.file("fakebin/zenity",
              "#!/bin/sh\n"
              "log=\"$FAKE_DIALOG_LOG\"\n"
              "for a in \"$@\"; do printf '%s\\037' \"$a\" >> \"$log\"; done\n"
              "printf '\\036' >> \"$log\"\n"
              "echo $$ >> \"$log.pids\"\n"
              "if [ \"$1\" = \"$FAKE_NO_DISPLAY\" ]; then\n"
              "  echo \"(zenity:$$): Gtk-WARNING **: cannot open display: $DISPLAY\" >&2; exit 1\n"
              "fi\n"
              "if [ \"$1\" = --progress ]; then\n"
              "  [ -n \"$FAKE_PROGRESS_WATCH\" ] && trap '' TERM\n"
              "  while IFS= read -r line; do\n"
              "    printf '%s\\n' \"$line\" >> \"$log.progress\"\n"
              "    [ -z \"$FAKE_PROGRESS_WATCH\" ] && case \"$line\" in *'\\n'*) exit 1;; esac\n"
              "  done\n"
              "  [ -n \"$FAKE_PROGRESS_LINGER\" ] && exec /bin/sleep 60\n"
              "fi\n"
              "[ -n \"$FAKE_DIALOG_WAIT\" ] && exec /bin/sleep \"$FAKE_DIALOG_WAIT\"\n"
              "exit \"${FAKE_DIALOG_STATUS:-0}\"\n");
    tree.chmod("fakebin/zenity", 0755);
    // The notification service's client: each call's arguments, one a line.
    tree.file("fakebin/gdbus", "#!/bin/sh\nprintf '%s\\n' \"$@\" >> \"$FAKE_DIALOG_LOG.notify\"\necho '(uint32 7,)'\n");
    tree.chmod("fakebin/gdbus", 0755);
    tree.folder("emptybin");
  }
  std::string MacFile(const std::string &rel) {
    std::string path = tree.file(rel, "data");
    size_t slash = rel.rfind('/');
    auto info = fx::MakeFinderInfo(FOUR_CHAR_CODE("TEXT"), FOUR_CHAR_CODE("ttxt"), 0);
    auto sidecar = fx::BuildMacOSKernelSidecar(info, fx::TypicalAttributes(), fx::MakeResourceFork(600));
    tree.file(rel.substr(0, slash + 1) + "._" + rel.substr(slash + 1), std::string(sidecar.begin(), sidecar.end()));
    return path;
  }
  UInt64 RsrcSize(const std::string &path) {
    FSRef ref = tv::test::RefFor(path);
    FSCatalogInfo info;
    EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoRsrcSizes, &info, nullptr, nullptr, nullptr), noErr) << path;
    return info.rsrcLogicalSize;
  }
  // The desktop as a file manager's child sees it, with the stand-in first on PATH.
  std::vector<std::string> Desktop(int status, const std::string &bin = "fakebin") {
    return {"DISPLAY=:97", "WAYLAND_DISPLAY=", "XDG_CURRENT_DESKTOP=GNOME", "PATH=" + tree.path(bin),
            "FAKE_DIALOG_LOG=" + tree.path("dialog.log"), "FAKE_DIALOG_STATUS=" + std::to_string(status)};
  }
  // The calls logged so far, each its arguments.
  std::vector<std::vector<std::string>> Calls() {
    std::vector<std::vector<std::string>> calls;
    if (!tree.exists("dialog.log")) return calls;
    std::string log = tree.read("dialog.log");
    std::vector<std::string> args;
    size_t at = 0;
    for (size_t i = 0; i < log.size(); i++) {
      if (log[i] == '\037') {
        args.push_back(log.substr(at, i - at));
      } else if (log[i] == '\036') {
        calls.push_back(args);
        args.clear();
      } else {
        continue;
      }
      at = i + 1;
    }
    return calls;
  }
  static std::string TextOf(const std::vector<std::string> &args) {
    for (const auto &a : args) {
      if (a.rfind("--text=", 0) == 0) return a.substr(7);
    }
    return "";
  }
  // n folders of one Mac file each (big/d10000/f, ...), the recursive item switched on.
  static std::string BigFile(int i) { return "big/d" + std::to_string(10000 + i) + "/f"; }
  void FoldersOfOneFile(int n) {
    for (int i = 0; i < n; i++) MacFile(BigFile(i));
    tv::test::WriteSettings(tree, false, true, false);
  }
  // Whether the process runs (a zombie waiting for its reaper does not).
  static bool Alive(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string id, name, state;
    return stat >> id >> name >> state && state != "Z";
  }
  static bool Has(const std::vector<std::string> &args, const std::string &arg) {
    for (const auto &a : args) {
      if (a == arg) return true;
    }
    return false;
  }
  tv::test::TempTree tree;
};

TEST_F(GuiTest, TheDialogsAnswerReachesThePlugIn) {
  std::string a = MacFile("a"), b = MacFile("b");
  std::string before = tree.read("._a");
  // Cancel (zenity's status 1, as for Escape): nothing changes.
  tv::test::RunResult r = Tarrovel({"run", "--gui", "Zap Resource Fork...", a, b}, "", Desktop(1));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(tree.read("._a"), before);
  auto calls = Calls();
  ASSERT_EQ(calls.size(), 1u) << r.err;
  EXPECT_EQ(calls[0][0], "--question");
  EXPECT_TRUE(Has(calls[0], "--title=Tarrovel"));
  EXPECT_TRUE(Has(calls[0], "--ok-label=Zap"));
  EXPECT_TRUE(Has(calls[0], "--cancel-label=Cancel"));
  EXPECT_TRUE(Has(calls[0], "--icon-name=dialog-warning"));
  EXPECT_EQ(TextOf(calls[0]).rfind("<b>Zap the resource forks of 2 file(s)?</b>\n\nThe resource fork", 0), 0u)
      << TextOf(calls[0]);

  // Zap (status 0): both forks are emptied.
  r = Tarrovel({"run", "--gui", "-v", "Zap Resource Fork...", a, b}, "", Desktop(0));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, a + "\n" + b + "\n");
  EXPECT_EQ(RsrcSize(a), 0u);
  EXPECT_EQ(RsrcSize(b), 0u);
}

TEST_F(GuiTest, CtrlCWhileADialogWaitsClosesItAndCancels) {
  std::string a = MacFile("a");
  std::string before = tree.read("._a");
  std::vector<std::string> env = Desktop(0);
  env.push_back("FAKE_DIALOG_WAIT=60");
  tv::test::Spawned run({"run", "--gui", "Zap Resource Fork...", a}, env);
  ASSERT_TRUE(run.WaitForError("[caution]", 20000)) << run.err;
  for (int i = 0; i < 400 && Calls().empty(); i++) tv::test::SleepMs(10);  // the dialog is up
  run.Signal(SIGINT);
  EXPECT_EQ(run.Wait(), 0) << run.err;
  EXPECT_NE(run.err.find("-> Cancel"), std::string::npos) << run.err;
  EXPECT_EQ(tree.read("._a"), before);
}

TEST_F(GuiTest, WithoutADisplayOrADialogProgramNothingIsAsked) {
  std::string a = MacFile("a");
  std::string before = tree.read("._a");
  std::vector<std::string> noDisplay = Desktop(0);
  noDisplay[0] = "DISPLAY=";
  tv::test::RunResult r = Tarrovel({"run", "--gui", "Zap Resource Fork...", a}, "", noDisplay);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("neither DISPLAY nor WAYLAND_DISPLAY"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("[caution]"), std::string::npos) << "the plug-in was asked: " << r.err;

  r = Tarrovel({"run", "--gui", "Zap Resource Fork...", a}, "", Desktop(0, "emptybin"));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("zenity or kdialog"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("[caution]"), std::string::npos) << r.err;
  EXPECT_EQ(tree.read("._a"), before);
  EXPECT_TRUE(Calls().empty());

  // A zenity that cannot open the display exits as Cancel does: that is an
  // error, the reason on standard error, and nothing is zapped.
  std::vector<std::string> broken = Desktop(1);
  broken.push_back("FAKE_NO_DISPLAY=--question");
  r = Tarrovel({"run", "--gui", "Zap Resource Fork...", a}, "", broken);
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.err.find("tarrovel: zenity could not open the display"), std::string::npos) << r.err;
  EXPECT_EQ(tree.read("._a"), before);
}

TEST_F(GuiTest, AProgressWindowThatCannotOpenIsNoCancel) {
  FoldersOfOneFile(1000);
  std::vector<std::string> env = Desktop(0);
  env.push_back("TARROVEL_TICKS_PER_SECOND=60000");
  env.push_back("FAKE_NO_DISPLAY=--progress");
  tv::test::RunResult r = Tarrovel({"run", "--gui", "Zap Resource Fork Recursively...", tree.path("big")}, "", env);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("the progress window could not be shown: zenity could not open the display"),
            std::string::npos)
      << r.err;
  for (int i = 0; i < 1000; i++) EXPECT_EQ(RsrcSize(tree.path(BigFile(i))), 0u) << i;
}

TEST_F(GuiTest, NoDialogOutlivesTheCommandHoweverItEnds) {
  std::string a = MacFile("a");
  FoldersOfOneFile(2000);
  // Killed outright while the question is up; ended by a second signal
  // while the progress window is (one that, like zenity without
  // --auto-close, would stay up after its input ends).
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> env;
    const char *wait;  // the log file that shows the dialog is up
    std::vector<int> signals;
  } cases[] = {
      {{"Zap Resource Fork...", a}, {"FAKE_DIALOG_WAIT=60"}, "dialog.log.pids", {SIGKILL}},
      {{"Zap Resource Fork Recursively...", tree.path("big")},
       {"FAKE_PROGRESS_WATCH=1", "FAKE_PROGRESS_LINGER=1", "TARROVEL_TICKS_PER_SECOND=60000"},
       "dialog.log.progress",
       {SIGHUP, SIGTERM}},
  };
  for (const Case &c : cases) {
    std::remove(tree.path("dialog.log.pids").c_str());
    std::vector<std::string> env = Desktop(0), args = {"run", "--gui"};
    env.insert(env.end(), c.env.begin(), c.env.end());
    args.insert(args.end(), c.args.begin(), c.args.end());
    tv::test::Spawned run(args, env);
    for (int i = 0; i < 2000 && !tree.exists(c.wait); i++) tv::test::SleepMs(10);
    ASSERT_TRUE(tree.exists(c.wait)) << run.err;
    auto asked = [&] {
      for (const auto &call : Calls()) {
        if (!call.empty() && call[0] == "--question") return true;
      }
      return false;
    };
    for (int i = 0; i < 2000 && c.signals[0] == SIGKILL && !asked(); i++) tv::test::SleepMs(10);
    for (int sig : c.signals) run.Signal(sig);
    EXPECT_EQ(run.Wait(), 128 + c.signals.back()) << run.err;
    // Every dialog and window it started is gone soon after.
    std::istringstream pids(tree.read("dialog.log.pids"));
    for (int dialog; pids >> dialog;) {
      for (int i = 0; i < 500 && Alive(dialog); i++) tv::test::SleepMs(10);
      EXPECT_FALSE(Alive(dialog)) << "dialog " << dialog << " is still up after signal " << c.signals[0];
      if (Alive(dialog)) kill(dialog, SIGKILL);
    }
  }
}

TEST_F(GuiTest, UsageErrorsAreDialogsToo) {
  std::string a = MacFile("a");
  // The data-fork item is switched off: the dialog lists what is offered,
  // the toggle that switches it on among them.
  tv::test::RunResult r = Tarrovel({"run", "--gui", "Zap Data Fork...", a}, "", Desktop(0));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("is not offered for this selection"), std::string::npos) << r.err;
  auto calls = Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0][0], "--info");
  EXPECT_TRUE(Has(calls[0], "--ok-label=OK"));
  std::string text = TextOf(calls[0]);
  EXPECT_NE(text.find("<b>\"Zap Data Fork...\" is not offered for this selection</b>"), std::string::npos) << text;
  EXPECT_NE(text.find("Show Zap Data Fork Menu [2011]"), std::string::npos) << text;

  // A path that is not there, and a missing one, are shown too, with the stop icon.
  r = Tarrovel({"run", "--gui", "Zap Resource Fork...", tree.path("gone")}, "", Desktop(0));
  EXPECT_EQ(r.status, 2);
  r = Tarrovel({"run", "--gui", "Zap Resource Fork..."}, "", Desktop(0));
  EXPECT_EQ(r.status, 2);
  // --yes would answer the alerts that --gui is asked to show.
  std::string before = tree.read("._a");
  r = Tarrovel({"run", "--gui", "--yes", "Zap Resource Fork...", a}, "", Desktop(0));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(tree.read("._a"), before);
  calls = Calls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[1][0], "--error");
  EXPECT_EQ(TextOf(calls[1]), "<b>" + tree.path("gone") + ": No such file or directory</b>");
  EXPECT_EQ(calls[2][0], "--error");
  EXPECT_EQ(TextOf(calls[3]), "<b>--yes and --gui do not go together</b>");

  // A stale toggle of a static menu (Thunar's, written while the data-fork
  // item was shown) is refused, not run as the toggle it has become, and
  // says how to refresh the menu, in the user's language.
  r = Tarrovel({"run", "--gui", "--", "Hide Zap Data Fork Menu", a}, "", Desktop(0));
  EXPECT_EQ(r.status, 2);
  r = Tarrovel({"menu", "--", a});
  EXPECT_NE(r.out.find("Show Zap Data Fork Menu"), std::string::npos) << r.out;
  std::vector<std::string> ja = Desktop(0);
  ja.push_back("LANG=ja_JP.UTF-8");
  r = Tarrovel({"run", "--gui", "--", "Hide Zap Data Fork Menu", a}, "", ja);
  EXPECT_EQ(r.status, 2);
  calls = Calls();
  ASSERT_EQ(calls.size(), 6u);
  EXPECT_NE(TextOf(calls[4]).find("that menu is out of date. Thunar reads its actions when it starts: quit it with "
                                  "\"thunar -q\""),
            std::string::npos)
      << TextOf(calls[4]);
  EXPECT_NE(TextOf(calls[5]).find("<b>「Hide Zap Data Fork Menu」は、選択した項目には使えません</b>"), std::string::npos)
      << TextOf(calls[5]);
  EXPECT_NE(TextOf(calls[5]).find("「thunar -q」"), std::string::npos) << TextOf(calls[5]);
}

TEST_F(GuiTest, CancelInTheProgressWindowStopsTheZapBetweenFolders) {
  const int kFolders = 2000;
  FoldersOfOneFile(kFolders);
  // A fast clock, so that the window is due at once.
  std::vector<std::string> env = Desktop(0);
  env.push_back("TARROVEL_TICKS_PER_SECOND=60000");
  tv::test::RunResult r = Tarrovel({"run", "--gui", "Zap Resource Fork Recursively...", tree.path("big")}, "", env);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("canceled by user"), std::string::npos) << r.err;
  // The desktop hears what was done before the stop.
  ASSERT_TRUE(tree.exists("dialog.log.notify")) << r.err;
  const std::string notified = tree.read("dialog.log.notify");
  EXPECT_NE(notified.find("org.freedesktop.Notifications.Notify\n'Tarrovel'\n"), std::string::npos) << notified;
  EXPECT_NE(notified.find("\n'Canceled: "), std::string::npos) << notified;
  int zapped = 0;
  bool sawUntouched = false;
  for (int i = 0; i < kFolders; i++) {
    bool empty = RsrcSize(tree.path(BigFile(i))) == 0;
    if (empty) {
      EXPECT_FALSE(sawUntouched) << "folder " << i << " was zapped after an untouched one";
      zapped++;
    } else {
      sawUntouched = true;
    }
  }
  EXPECT_LT(zapped, kFolders);
  // The window with Cancel, then, once it was pressed, the one that says the
  // zap is stopping, without Cancel, until the command ended.
  std::vector<std::vector<std::string>> windows;
  for (const auto &call : Calls()) {
    if (!call.empty() && call[0] == "--progress") windows.push_back(call);
  }
  ASSERT_GE(windows.size(), 2u) << r.err;
  const auto &progress = windows[windows.size() - 2], &stopping = windows.back();
  EXPECT_TRUE(Has(progress, "--pulsate"));
  EXPECT_TRUE(Has(progress, "--title=Zapping resource forks"));
  EXPECT_FALSE(Has(progress, "--no-cancel"));
  EXPECT_TRUE(Has(stopping, "--no-cancel"));
  EXPECT_TRUE(Has(stopping, "--text=Stopping\u2026"));
  // The count gave up (2000 folders take longer than its two seconds on this
  // clock): the bar pulses, and the label says the files done so far ("1
  // file" when the window came up right after the first), and their folder.
  std::string labels = tree.read("dialog.log.progress");
  EXPECT_NE(labels.find(" file"), std::string::npos) << labels;
  EXPECT_NE(labels.find("\\n" + tree.path("big/d1")), std::string::npos) << labels;
  EXPECT_EQ(labels.find(" of "), std::string::npos) << labels;
}

TEST_F(GuiTest, UnderKDETheProgressIsKDialogsBarDrivenOverDBus) {
  // kdialog's launcher forks the window off, prints its D-Bus name and exits;
  // qdbus calls the window's methods. Here the window is a sleeping process,
  // and the stand-in for qdbus logs each call; once a label named a folder,
  // the window ends as kdialog's Cancel ends it, its name gone from the bus.
  tree.file("fakebin/kdialog",
            "#!/bin/sh\n"
            "for a in \"$@\"; do printf '%s\\037' \"$a\" >> \"$FAKE_DIALOG_LOG\"; done\n"
            "printf '\\036' >> \"$FAKE_DIALOG_LOG\"\n"
            "if [ \"$3\" = --progressbar ]; then\n"
            "  /bin/sleep 60 </dev/null >/dev/null 2>&1 &\n"
            "  echo $! >> \"$FAKE_DIALOG_LOG.pids\"\n"
            "  echo \"org.kde.kdialog-$! /ProgressDialog\"\n"
            "fi\n");
  tree.file("fakebin/qdbus",
            "#!/bin/sh\n"
            "log=\"$FAKE_DIALOG_LOG.qdbus\"\n"
            "printf '%s|' \"$@\" | /usr/bin/tr '\\n' '^' >> \"$log\"; echo >> \"$log\"\n"
            "pid=${1#org.kde.kdialog-}\n"
            "kill -0 \"$pid\" 2>/dev/null || { echo \"Service '$1' does not exist.\" >&2; exit 2; }\n"
            "case \"$3\" in\n"
            "  wasCancelled) /bin/grep -q '|setLabelText|.*\\^' \"$log\" || { echo false; exit 0; }\n"
            "    kill \"$pid\"; echo \"Service '$1' does not exist.\" >&2; exit 2;;\n"
            "  close) kill \"$pid\";;\n"
            "esac\n");
  tree.chmod("fakebin/kdialog", 0755);
  tree.chmod("fakebin/qdbus", 0755);
  FoldersOfOneFile(2000);
  std::vector<std::string> env = Desktop(0);
  env[2] = "XDG_CURRENT_DESKTOP=KDE";
  env.push_back("TARROVEL_TICKS_PER_SECOND=60000");
  tv::test::RunResult r = Tarrovel({"run", "--gui", "Zap Resource Fork Recursively...", tree.path("big")}, "", env);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("canceled by user"), std::string::npos) << r.err;
  EXPECT_NE(RsrcSize(tree.path("big/d11999/f")), 0u) << "zapped to the end";

  std::vector<std::vector<std::string>> bars;
  for (const auto &call : Calls()) {
    EXPECT_NE(call[0], "--progress") << "a GTK window under KDE";
    if (call.size() > 2 && call[2] == "--progressbar") bars.push_back(call);
  }
  // On a slow start a window may also come up while counting, and close
  // for the alert: the last two are the zap's and the stopping one.
  ASSERT_GE(bars.size(), 2u) << r.err;
  const auto &zap = bars[bars.size() - 2];
  EXPECT_EQ(zap[1], "Zapping resource forks");
  EXPECT_EQ(zap.back(), "0");  // the count gave up: a busy bar
  EXPECT_EQ(bars.back()[3], "Stopping\u2026");
  std::string calls = tree.read("dialog.log.qdbus");
  std::vector<int> pids;
  std::istringstream pidList(tree.read("dialog.log.pids"));
  for (int pid; pidList >> pid;) pids.push_back(pid);
  ASSERT_EQ(pids.size(), bars.size());
  int first = pids[pids.size() - 2], second = pids.back();
  std::string window = "org.kde.kdialog-" + std::to_string(first) + "|/ProgressDialog|";
  std::string stopping = "org.kde.kdialog-" + std::to_string(second) + "|/ProgressDialog|";
  for (const std::string &call : {window + "showCancelButton|true|", window + "setLabelText|", window + "close|",
                                  stopping + "showCancelButton|false|", stopping + "close|"}) {
    EXPECT_NE(calls.find(call), std::string::npos) << call << " in\n" << calls;
  }
  for (int pid : pids) {
    for (int i = 0; i < 500 && Alive(pid); i++) tv::test::SleepMs(10);
    EXPECT_FALSE(Alive(pid)) << "window " << pid << " is still up";
  }
}

TEST_F(GuiTest, ProgressOfARecursiveZapCountsTheFilesOfTheCountToAFullBar) {
  // One folder inside another, both entered before the count's clock can
  // run out: the count is known. A file without a fork is done without being
  // changed; a symbolic link is neither counted nor done.
  const int kForks = 3000;
  for (int i = 0; i < kForks; i++) MacFile("tree/deep/f" + std::to_string(i));
  tree.file("tree/deep/plain", "no fork");
  tree.symlink("tree/deep/link", "plain");
  tv::test::WriteSettings(tree, false, true, false);
  std::vector<std::string> env = Desktop(0);
  // A clock about seventeen times as fast: the count's two seconds (0.12 s)
  // and the window's half second (30 ms) both lie far from what the count
  // (one folder listed) and the zap (3,000 rewrites) take here.
#ifdef __SANITIZE_ADDRESS__
  // Sanitized, the count alone takes about a fifth of a second.
  env.push_back("TARROVEL_TICKS_PER_SECOND=150");
#else
  env.push_back("TARROVEL_TICKS_PER_SECOND=1000");
#endif
  env.push_back("FAKE_PROGRESS_WATCH=1");
  tv::test::RunResult r = Tarrovel({"run", "--gui", "Zap Resource Fork Recursively...", tree.path("tree")}, "", env);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(RsrcSize(tree.path("tree/deep/f0")), 0u);
  EXPECT_NE(tree.read("dialog.log.notify").find("\n'3,000 files zapped, 1.8 MB freed; 1 file had no fork; "),
            std::string::npos);

  std::vector<std::string> progress;
  for (const auto &call : Calls()) {
    if (!call.empty() && call[0] == "--progress") progress = call;
  }
  ASSERT_FALSE(progress.empty()) << "no progress window: " << r.err;
  EXPECT_FALSE(Has(progress, "--pulsate"));
  std::string lastLabel;
  int lastPercent = -1;
  std::istringstream lines(tree.read("dialog.log.progress"));
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("#", 0) == 0) {
      lastLabel = line.substr(1);
    } else {
      int percent = std::stoi(line);
      EXPECT_LE(percent, 100);
      EXPECT_GE(percent, lastPercent) << "the bar went back";
      lastPercent = percent;
    }
  }
  EXPECT_EQ(lastPercent, 100);
  EXPECT_EQ(lastLabel.rfind("3,001 of 3,001 files\\n", 0), 0u) << lastLabel;
  EXPECT_EQ(lastLabel.substr(lastLabel.size() - 10), "/tree/deep") << lastLabel;
}

}  // namespace
