// The host with a second plug-in in the user's plug-in folder, one that
// shares nothing with Tarrovel: both are offered, each command reaches its own
// plug-in, and an item of the other plug-in that is switched off is placed by
// the same trials, which leave its setting untouched.
#include "tests/support/Tarrovel.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

using tv::test::Tarrovel;

const char kGreeterPlist[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
    "<key>CFBundleIdentifier</key><string>org.example.Greeter</string>"
    "<key>CFBundleExecutable</key><string>Greeter</string>"
    "<key>CFPlugInFactories</key><dict><key>6A1F0C52-93D4-4E8B-A5C7-2B90E1D34F68</key>"
    "<string>GreeterFactory</string></dict>"
    "<key>CFPlugInTypes</key><dict><key>2F6522E9-3E66-11D5-80A7-003065B300BC</key>"
    "<array><string>6A1F0C52-93D4-4E8B-A5C7-2B90E1D34F68</string></array></dict></dict></plist>\n";

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

TEST_F(OtherPlugInTest, ItsItemSwitchedOffIsPlacedByTheTrialsWhichLeaveItsSettingAlone) {
  std::string f = tree.file("docs/a.txt", "a");
  std::string tmp = tree.folder("tmp");
  tv::test::RunResult r = Tarrovel({"run", "Farewell...", f}, "", {"TMPDIR=" + tmp});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("\"Farewell...\" is not offered for this selection"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("\"Farewell...\" is offered for files and folders, once switched on with the toggle [502]\n"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(tree.exists("home/.config/greeter")) << "a trial kept the other plug-in's setting or log";
  EXPECT_EQ(tv::test::Run({"find", tmp, "-mindepth", "1"}).out, "");

  // Switched on for real, the item is offered and reaches its plug-in.
  r = Tarrovel({"run", "502", f});
  EXPECT_EQ(r.status, 0) << r.err;
  r = Tarrovel({"run", "Farewell...", f});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(tree.read("home/.config/greeter/log"), "farewell 1\n");
}

}  // namespace
