// The host with a second plug-in in the user's plug-in folder, one that
// shares nothing with Tarrovel: both are offered, each command reaches its own
// plug-in, and an item of the other plug-in that is switched off is placed by
// what its bundle declares, with no command run and no process started.
#include "tests/support/Tarrovel.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sstream>

namespace {

using tv::test::Tarrovel;

const char kGreeterPlist[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
    "<key>CFBundleIdentifier</key><string>org.example.Greeter</string>"
    "<key>CFBundleExecutable</key><string>Greeter</string>"
    "<key>CFPlugInFactories</key><dict><key>6A1F0C52-93D4-4E8B-A5C7-2B90E1D34F68</key>"
    "<string>GreeterFactory</string></dict>"
    "<key>CFPlugInTypes</key><dict><key>2F6522E9-3E66-11D5-80A7-003065B300BC</key>"
    "<array><string>6A1F0C52-93D4-4E8B-A5C7-2B90E1D34F68</string></array></dict>"
    "<key>TVItemsShownByToggles</key><array><dict><key>TVItemTitle</key><string>Farewell...</string>"
    "<key>TVItemCommandID</key><integer>503</integer><key>TVToggleTitle</key><string>Show Farewell</string>"
    "<key>TVItemOfferedFor</key><array><string>files</string><string>folders</string></array></dict></array>"
    "</dict></plist>\n";

class OtherPlugInTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string bundle = "home/.local/share/tarrovel/plugins/Greeter.plugin/Contents/";
    tree.file(bundle + "Info.plist", kGreeterPlist);
    tree.symlink(bundle + "MacOS/Greeter", TV_GREETER_SO);
  }
  bool Has(const std::vector<std::string> &titles, const std::string &title) {
    return std::find(titles.begin(), titles.end(), title) != titles.end();
  }
  tv::test::TempTree tree;
};

TEST_F(OtherPlugInTest, BothAreOfferedAndEachCommandReachesItsOwn) {
  std::string f = tree.file("docs/a.txt", "a");
  std::string g = tree.file("docs/b.txt", "b");
  tv::test::RunResult r = Tarrovel({"menu", "--json", f});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> titles = tv::test::JsonTitles(r.out);
  EXPECT_TRUE(Has(titles, "Greet...") && Has(titles, "Show Farewell")) << r.out;
  EXPECT_TRUE(Has(titles, "Zap Resource Fork...")) << r.out;
  EXPECT_FALSE(Has(titles, "Farewell...")) << r.out;

  r = Tarrovel({"run", "Greet...", f, g});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(tree.read("home/.config/greeter/log"), "greet 2\n");
  r = Tarrovel({"run", "--yes", "Zap Resource Fork...", f});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(tree.read("home/.config/greeter/log"), "greet 2\n");
}

TEST_F(OtherPlugInTest, ItsItemSwitchedOffIsPlacedByItsDeclarationWithNoProcessStarted) {
  std::string f = tree.file("docs/a.txt", "a");
  std::string trace = tree.path("trace");
  // By title and by command ID; LeakSanitizer cannot run under ptrace.
  for (const std::string choice : {"Farewell...", "503"}) {
    tv::test::RunResult r =
        tv::test::TarrovelUnder({"/usr/bin/strace", "-f", "-qq", "-e", "trace=fork,vfork,clone,clone3", "-o", trace},
                              {"run", choice, f}, {"ASAN_OPTIONS=detect_leaks=0"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("\"" + choice + "\" is not offered for this selection"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\"Farewell...\" is offered for files and folders, once switched on with the toggle [502]\n"),
              std::string::npos)
        << r.err;
    ASSERT_TRUE(tree.exists("trace")) << r.err;
    std::istringstream lines(tree.read("trace"));
    for (std::string line; std::getline(lines, line);)
      EXPECT_NE(line.find("CLONE_THREAD"), std::string::npos) << "a process was started: " << line;
  }
  EXPECT_FALSE(tree.exists("home/.config/greeter")) << "a command of the other plug-in ran";

  // With no declaration the hint is what is offered, toggle included.
  std::string plist = kGreeterPlist;
  tree.file("home/.local/share/tarrovel/plugins/Greeter.plugin/Contents/Info.plist",
            plist.substr(0, plist.find("<key>TVItemsShownByToggles</key>")) + "</dict></plist>\n");
  tv::test::RunResult r = Tarrovel({"run", "Farewell...", f});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.find("is offered for"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Show Farewell  [502]"), std::string::npos) << r.err;

  // Switched on for real, the item is offered and reaches its plug-in.
  r = Tarrovel({"run", "502", f});
  EXPECT_EQ(r.status, 0) << r.err;
  r = Tarrovel({"run", "Farewell...", f});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(tree.read("home/.config/greeter/log"), "farewell 1\n");
}

}  // namespace
