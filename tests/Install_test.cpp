// `tarrovel install --user` and `uninstall --user` for real, into a private
// HOME, from the build tree (laid out as an installation):
// what lands where, that a second install changes nothing, that the copied
// command runs from its own files, that a toggle rewrites the static menus,
// and that uninstall gives back the user's files byte for byte.
#include "host/Install.h"
#include "host/InstallList.h"
#include "host/StaticMenus.h"
#include "platform/sys/CallTable.h"
#include "tests/support/Tarrovel.h"

#include <cstring>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using tv::test::RunResult;

const char kUserUca[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<actions>\n"
    "<action>\n\t<icon>utilities-terminal</icon>\n\t<name>Open Terminal Here</name>\n"
    "\t<unique-id>1599994532155290-1</unique-id>\n"
    "\t<command>exo-open --working-directory %f --launch TerminalEmulator</command>\n"
    "\t<description>Example for a custom action</description>\n\t<patterns>*</patterns>\n"
    "\t<startup-notify/>\n\t<directories/>\n</action>\n"
    "<action>\n\t<icon>system-search</icon>\n\t<name>Search for Files</name>\n"
    "\t<unique-id>tarrovel-<![CDATA[2001]]></unique-id>\n\t<command>catfish --path=%f</command>\n"
    "\t<patterns>*</patterns>\n\t<directories/>\n</action>\n"
    "</actions>\n";

class InstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_.file("etc-xdg/Thunar/uca.xml", kUserUca);  // the system's default actions
  }

  // A command run with the tree's HOME and XDG folders, in English, with no
  // plug-in folder but the command's own.
  RunResult Tarrovel(const std::string &exe, const std::vector<std::string> &args,
                     const std::vector<std::string> &extraEnv = {}) {
    std::vector<std::string> argv = {exe};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env = {"LANG=C.UTF-8", "LANGUAGE=", "LC_ALL=", "LC_MESSAGES=", "TARROVEL_PLUGIN_PATH=",
                                    "XDG_CONFIG_DIRS=" + tree_.path("etc-xdg")};
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    return tv::test::Run(argv, "", env);
  }
  // From the build tree, laid out as an installation.
  RunResult Install() { return Tarrovel(TV_TARROVEL_EXE, {"install", "--user"}); }
  RunResult Uninstall() { return Tarrovel(installed(), {"uninstall", "--user"}); }
  std::string installed() const { return tree_.path("home/.local/bin/tarrovel"); }

  // Every entry below HOME: type, mode, link target, and the bytes' digest;
  // with times, the files' modification times too.
  std::string Snapshot(bool withTimes) {
    std::string script =
        "cd \"$1\" && find . -printf '%p %y %m %l\\n' | sort && find . -type f -exec md5sum {} + | sort";
    if (withTimes) script += " && find . -type f -printf '%p %T@\\n' | sort";
    RunResult r = tv::test::Run({"sh", "-c", script, "sh", tree_.home()});
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }

  // Dolphin's three service menus (files, folders, both) together.
  std::string Dolphin() {
    std::string all;
    for (const char *name : {"tarrovel-files.desktop", "tarrovel-folders.desktop", "tarrovel.desktop"})
      all += tree_.read(std::string("home/.local/share/kio/servicemenus/") + name);
    return all;
  }

  unsigned Mode(const std::string &rel) {
    struct stat st;
    return stat(tree_.path(rel).c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
  }

  tv::test::TempTree tree_;
};

TEST_F(InstallTest, InstallsOnceWhateverTheRepeatsAndUninstallsToThePreviousState) {
  tree_.file("home/.config/Thunar/uca.xml", kUserUca);
  tree_.file("home/.local/share/kio/servicemenus/other.desktop", "[Desktop Entry]\nType=Service\n");
  tree_.chmod("home/.local/share/kio/servicemenus/other.desktop", 0755);
  tree_.file("home/.local/bin/mytool", "#!/bin/sh\n");
  std::string before = Snapshot(false);

  RunResult r = Install();
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("wrote " + installed() + "\n"), std::string::npos) << r.out;
  EXPECT_EQ(Mode("home/.local/bin/tarrovel") & 0111, 0111u);
  EXPECT_TRUE(tree_.exists("home/.local/lib/tarrovel/libtarrovel-platform.so"));
  EXPECT_TRUE(tree_.exists("home/.local/lib/tarrovel/plugins/Tarrovel.plugin/Contents/MacOS/Tarrovel"));
  EXPECT_TRUE(tree_.exists("home/.local/share/tarrovel/integrations/tarrovel_menu.py"));
  EXPECT_EQ(Mode("home/.local/share/kio/servicemenus/tarrovel.desktop"), 0755u);
  for (const char *fm : {"nautilus-python", "nemo-python"}) {
    std::string ext = tree_.read(std::string("home/.local/share/") + fm + "/extensions/tarrovel_menu.py");
    EXPECT_NE(ext.find("TARROVEL = os.fsencode(\"" + installed() + "\")"), std::string::npos) << fm;
  }
  EXPECT_EQ(Mode("home/.local/share/kio/servicemenus/tarrovel-files.desktop"), 0755u);
  std::string dolphin = Dolphin();
  EXPECT_NE(dolphin.find("Exec=" + installed() + " run --gui -- "), std::string::npos) << dolphin;
  EXPECT_NE(dolphin.find("Name=Zap Resource Fork...\nName[ja]=リソースフォークを消去...\n"), std::string::npos) << dolphin;
  std::string uca = tree_.read("home/.config/Thunar/uca.xml"), without, error;
  std::vector<tv::host::ManifestEntry> listed;
  ASSERT_TRUE(tv::host::ParseManifest(tree_.read("home/.local/share/tarrovel/installed"), &listed, &error)) << error;
  std::vector<tv::host::UcaAction> ours;
  for (const tv::host::ManifestEntry &e : listed) {
    if (e.kind == tv::host::ManifestEntry::kThunarAction) ours.push_back({e.id, e.element});
  }
  ASSERT_FALSE(ours.empty());
  ASSERT_TRUE(tv::host::UcaRemove(uca, ours, &without, &error)) << error;
  EXPECT_EQ(without, kUserUca);
  EXPECT_NE(uca.find("<name>Zap Resource Fork...</name>\n\t<name xml:lang=\"ja\">リソースフォークを消去...</name>"),
            std::string::npos);

  std::string once = Snapshot(true);
  r = Install();
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("wrote "), std::string::npos) << r.out;
  EXPECT_EQ(Snapshot(true), once);

  // The copy runs from its own library and bundle, with no plug-in folder named.
  std::string trace = tree_.path("trace"), file = tree_.file("files/a.txt", "a");
  // LeakSanitizer cannot run under ptrace: leaks are not this run's question.
  r = Tarrovel("/usr/bin/strace", {"-f", "-e", "trace=openat", "-o", trace, installed(), "menu", "--json", "--", file},
               {"ASAN_OPTIONS=detect_leaks=0"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> titles = tv::test::JsonTitles(r.out);
  EXPECT_NE(std::find(titles.begin(), titles.end(), "Zap Resource Fork..."), titles.end()) << r.out;
  // Successful opens only: the loader may look elsewhere first.
  std::string opened;
  std::istringstream lines(tree_.read("trace"));
  for (std::string line; std::getline(lines, line);) {
    if (line.find("openat(") != std::string::npos && line.find(" = -1 ") == std::string::npos) opened += line + "\n";
  }
  std::string local = tree_.path("home/.local/");
  EXPECT_TRUE(opened.find(local + "bin/../lib/tarrovel/libtarrovel-platform.so\"") != std::string::npos ||
              opened.find(local + "lib/tarrovel/libtarrovel-platform.so\"") != std::string::npos)
      << opened;
  EXPECT_NE(opened.find(local + "lib/tarrovel/plugins/Tarrovel.plugin/Contents/MacOS/Tarrovel\""), std::string::npos);
  std::string exe = TV_TARROVEL_EXE, build = exe.substr(0, exe.rfind("/bin/"));
  EXPECT_EQ(opened.find(build + "/"), std::string::npos) << "the build tree's files were used:\n" << opened;
  for (const char *binary : {"bin/tarrovel", "lib/tarrovel/libtarrovel-platform.so",
                             "lib/tarrovel/plugins/Tarrovel.plugin/Contents/MacOS/Tarrovel"}) {
    RunResult elf = tv::test::Run({"readelf", "-d", local + binary});
    EXPECT_EQ(elf.out.find(build), std::string::npos) << binary << " points into the build tree:\n" << elf.out;
  }

  r = Uninstall();
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Snapshot(false), before);
}

// A file that was there before, just as install would write it (a package's
// own copy, say), is not install's to remove.
TEST_F(InstallTest, UninstallLeavesAFileThatWasAlreadyThere) {
  const std::string ext = "home/.local/share/nemo-python/extensions/tarrovel_menu.py";
  ASSERT_EQ(Install().status, 0);
  std::string content = tree_.read(ext);
  ASSERT_EQ(Uninstall().status, 0);
  ASSERT_FALSE(tree_.exists(ext));

  tree_.file(ext, content);
  RunResult r = Install();
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("wrote " + tree_.path(ext)), std::string::npos) << r.out;
  r = Uninstall();
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(tree_.exists(ext));
  EXPECT_EQ(tree_.read(ext), content);
  EXPECT_FALSE(tree_.exists("home/.local/bin/tarrovel"));
}

TEST_F(InstallTest, ChangedSettingsRewriteTheInstalledStaticMenus) {
  ASSERT_EQ(Install().status, 0);
  const std::string ucaPath = "home/.config/Thunar/uca.xml";
  std::string dolphin = Dolphin(), uca = tree_.read(ucaPath);
  // Started from the system's default actions, as Thunar itself would.
  EXPECT_NE(uca.find("<name>Search for Files</name>"), std::string::npos) << uca;
  EXPECT_EQ(dolphin.find("Name=Zap Data Fork...\n"), std::string::npos);
  std::string file = tree_.file("files/a.txt", "a");

  RunResult r = Tarrovel(installed(), {"run", "--yes", "--", "2011", file});  // Show Zap Data Fork Menu
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(Dolphin().find("Name=Zap Data Fork...\n"), std::string::npos) << Dolphin();
  EXPECT_NE(tree_.read(ucaPath).find("<name>Zap Data Fork...</name>"), std::string::npos);
  EXPECT_NE(tree_.read(ucaPath).find("<name>Hide Zap Data Fork Menu</name>"), std::string::npos);

  r = Tarrovel(installed(), {"run", "--yes", "--", "2011", file});  // and back
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Dolphin(), dolphin);
  EXPECT_EQ(tree_.read(ucaPath), uca);

  // A run that changes no setting leaves them alone.
  std::string settled = Snapshot(true);
  r = Tarrovel(installed(), {"run", "--yes", "--", "Zap Resource Fork...", file});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Snapshot(true), settled);

  // The uca.xml install made goes again with everything else.
  ASSERT_EQ(Uninstall().status, 0);
  EXPECT_FALSE(tree_.exists(ucaPath));
  EXPECT_FALSE(tree_.exists("home/.config/Thunar"));
  EXPECT_FALSE(tree_.exists("home/.local/bin"));
}

TEST_F(InstallTest, AUcaXmlThatDoesNotParseIsLeftAsItIs) {
  const std::string ucaPath = "home/.config/Thunar/uca.xml";
  tree_.file(ucaPath, kUserUca);
  ASSERT_EQ(Install().status, 0);
  // The user's file breaks (a half-written save, say) after our actions went in.
  const std::string broken = tree_.read(ucaPath) + "<action><name>half written\n";
  tree_.file(ucaPath, broken);

  RunResult r = Install();
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(tree_.path(ucaPath) + " does not parse"), std::string::npos) << r.err;
  EXPECT_EQ(tree_.read(ucaPath), broken);

  // Everything else goes; the file stays as it is, and stays listed.
  r = Uninstall();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(tree_.read(ucaPath), broken);
  EXPECT_FALSE(tree_.exists("home/.local/share/kio"));
  EXPECT_FALSE(tree_.exists("home/.local/bin"));
  tree_.file(ucaPath, kUserUca);  // mended by the user
  r = Tarrovel(TV_TARROVEL_EXE, {"uninstall", "--user"});  // the installed command is gone
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(tree_.exists("home/.local/share/tarrovel"));
  EXPECT_EQ(tree_.read(ucaPath), kUserUca);
}

}  // namespace

namespace {

// The rename that puts the command's copy in place fails, as on a full or
// failing disk.
int FailingRename(int oldDir, const char *oldPath, int newDir, const char *newPath) {
  const char *slash = strrchr(newPath, '/');
  if (strcmp(slash != nullptr ? slash + 1 : newPath, "tarrovel") != 0)
    return tv::sys::RealCalls().renameat(oldDir, oldPath, newDir, newPath);
  errno = EIO;
  return -1;
}

// Killed at the Nth rename (each file install writes is renamed into place,
// the list first, after the plug-in's representative file), or stopped by a
// rename that fails: whatever it had written, uninstall undoes it.
TEST_F(InstallTest, AnInstallKilledAnywhereIsUndoneByUninstall) {
  // As Thunar leaves it once its last action is deleted.
  tree_.file("home/.config/Thunar/uca.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<actions/>\n");
  std::string before = Snapshot(false);
  for (const char *when : {"2", "3", "7", "12", "13"}) {
    SCOPED_TRACE(std::string("killed at rename ") + when);
    RunResult r = Tarrovel("/usr/bin/strace", {"-f", "-o", "/dev/null", "-e", "trace=renameat",
                                               "-e", std::string("inject=renameat:signal=KILL:when=") + when,
                                               TV_TARROVEL_EXE, "install", "--user"},
                           {"ASAN_OPTIONS=detect_leaks=0"});
    ASSERT_NE(r.status, 0) << r.out;
    r = Tarrovel(TV_TARROVEL_EXE, {"uninstall", "--user"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Snapshot(false), before) << r.out;
  }
  {
    // In this process (HOME is the tree's), the rename failing through the call table.
    setenv("XDG_CONFIG_DIRS", tree_.path("etc-xdg").c_str(), 1);
    setenv("TARROVEL_PLUGIN_PATH", "", 1);
    tv::sys::CallTable calls = tv::sys::RealCalls();
    calls.renameat = FailingRename;
    tv::sys::SubstituteScope failing(calls);
    char *text = nullptr;
    size_t size = 0;
    FILE *err = open_memstream(&text, &size);
    EXPECT_EQ(tv::host::Install(true, stdout, err), 1);
    fclose(err);
    std::string said(text, size);
    free(text);
    EXPECT_EQ(said, "tarrovel: " + installed() + ": Input/output error\n");
  }
  EXPECT_EQ(tree_.read("home/.config/Thunar/uca.xml"), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<actions/>\n");
  EXPECT_EQ(Tarrovel(TV_TARROVEL_EXE, {"uninstall", "--user"}).status, 0);
  EXPECT_EQ(Snapshot(false), before);
  ASSERT_EQ(Install().status, 0);
  EXPECT_NE(tree_.read("home/.config/Thunar/uca.xml").find("<name>Zap Resource Fork...</name>"), std::string::npos);
  EXPECT_EQ(Uninstall().status, 0);
  EXPECT_EQ(tree_.read("home/.config/Thunar/uca.xml").find("tarrovel"), std::string::npos);
  EXPECT_FALSE(tree_.exists("home/.local/share/tarrovel"));
}

TEST_F(InstallTest, AFileInstallDidNotWriteIsNeitherOverwrittenNorRemoved) {
  tree_.file("home/.local/bin/tarrovel", "#!/bin/sh\necho my own\n");
  std::string before = Snapshot(true);
  RunResult r = Install();
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(installed() + " is already there and tarrovel install did not write it"), std::string::npos)
      << r.err;
  EXPECT_EQ(Snapshot(true), before) << "a refused install writes nothing, not even its list";

  unlink(installed().c_str());
  ASSERT_EQ(Install().status, 0);
  const std::string ext = "home/.local/share/nemo-python/extensions/tarrovel_menu.py";
  std::string edited = tree_.read(ext) + "# the user's line\n";
  tree_.file(ext, edited);
  r = Install();
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(tree_.path(ext) + " has changed since tarrovel install wrote it"), std::string::npos) << r.err;
  r = Uninstall();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("kept " + tree_.path(ext)), std::string::npos) << r.out;
  EXPECT_EQ(tree_.read(ext), edited);
  EXPECT_FALSE(tree_.exists("home/.local/bin/tarrovel"));
}

// A dotfiles manager's link: the actions go into the file it names, which
// keeps its mode; the link stays a link.
TEST_F(InstallTest, ASymlinkedUcaXmlIsChangedThroughTheLink) {
  tree_.file("home/dotfiles/uca.xml", kUserUca);
  tree_.chmod("home/dotfiles/uca.xml", 0600);
  tree_.symlink("home/.config/Thunar/uca.xml", tree_.path("home/dotfiles/uca.xml"));
  std::string before = Snapshot(false);
  ASSERT_EQ(Install().status, 0);
  struct stat st;
  ASSERT_EQ(lstat(tree_.path("home/.config/Thunar/uca.xml").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_NE(tree_.read("home/dotfiles/uca.xml").find("<name>Zap Resource Fork...</name>"), std::string::npos);
  EXPECT_EQ(Mode("home/dotfiles/uca.xml"), 0600u);
  RunResult r = Uninstall();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Snapshot(false), before);

  unlink(tree_.path("home/dotfiles/uca.xml").c_str());  // a link to nothing is left alone
  r = Install();
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("is a symbolic link to a file that is not there"), std::string::npos) << r.err;
  EXPECT_FALSE(tree_.exists("home/dotfiles/uca.xml"));
}

}  // namespace
