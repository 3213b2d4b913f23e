// The host's loader: every usable bundle is loaded, an unusable one is skipped
// with one clear line and the others still load, and code goes away once no
// instance is left.
#include "host/PlugInHost.h"
#include "plugin/MyCMXStatus.h"
#include "platform/HostServices.h"
#include "tests/support/TestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {

const char kType[] = "2F6522E9-3E66-11D5-80A7-003065B300BC";

std::string InfoPlist(const std::string &id, const std::string &exe, const std::string &function) {
  const std::string factory = "11111111-2222-3333-4444-555555555555";
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
         "<key>CFBundleIdentifier</key><string>" + id + "</string>"
         "<key>CFBundleExecutable</key><string>" + exe + "</string>"
         "<key>CFPlugInFactories</key><dict><key>" + factory + "</key><string>" + function + "</string></dict>"
         "<key>CFPlugInTypes</key><dict><key>" + kType + "</key><array><string>" + factory +
         "</string></array></dict></dict></plist>\n";
}

class PlugInLoadingTest : public ::testing::Test {
 protected:
  std::string Broken(const std::string &name, const std::string &function) {
    tree.file("plugins/" + name + ".plugin/Contents/Info.plist", InfoPlist("test." + name, "Null", function));
    tree.symlink("plugins/" + name + ".plugin/Contents/MacOS/Null", TV_NULLFACTORY_SO);
    return tree.path("plugins/" + name + ".plugin");
  }
  tv::test::TempTree tree;
};

TEST_F(PlugInLoadingTest, SkipsUnusableBundlesWithOneLineEachAndLoadsTheRest) {
  tree.folder("plugins/A-empty.plugin");
  std::string garbled = tree.file("plugins/B-garbled.plugin/Contents/Info.plist", "<plist><dict>");
  Broken("C-nosymbol", "NoSuchFactory");
  Broken("D-null", "NullFactory");
  Broken("E-refusing", "RefusingFactory");
  std::vector<std::string> bundles = tv::host::FindBundles({tree.path("plugins")});
  ASSERT_EQ(bundles.size(), 5u);
  bundles.push_back(TV_BUNDLE_DIR);

  tv::host::PlugInHost host;
  host.Load(bundles, false);
  ASSERT_EQ(host.plugIns().size(), 1u);
  EXPECT_EQ(host.plugIns()[0].path, TV_BUNDLE_DIR);
  const std::string &d = host.diagnostics();
  EXPECT_EQ(std::count(d.begin(), d.end(), '\n'), 5) << d;
  EXPECT_NE(d.find("A-empty.plugin: it has no Contents/Info.plist"), std::string::npos) << d;
  EXPECT_NE(d.find("B-garbled.plugin: its Info.plist cannot be read"), std::string::npos) << d;
  EXPECT_NE(d.find("C-nosymbol.plugin: it has no factory function NoSuchFactory"), std::string::npos) << d;
  EXPECT_NE(d.find("D-null.plugin: its factory NullFactory returned no instance"), std::string::npos) << d;
  EXPECT_NE(d.find("E-refusing.plugin: its instance does not offer the contextual-menu interface"),
            std::string::npos) << d;
}

TEST_F(PlugInLoadingTest, LoadsABundleIdentifierOnceAndReleasesEveryInstance) {
  tv::host::PlugInHost host;
  host.Load({TV_BUNDLE_DIR, TV_BUNDLE_DIR}, false);
  ASSERT_EQ(host.plugIns().size(), 1u);
  EXPECT_EQ(host.diagnostics(), "");
  EXPECT_EQ(TVPlugInGetInstanceCount(kMyFactoryID), 1);
  EXPECT_NE(CFBundleGetBundleWithIdentifier(kMyBundleIdentifier), nullptr);
  host.ReleaseAll();
  EXPECT_EQ(TVPlugInGetInstanceCount(kMyFactoryID), 0);
  EXPECT_EQ(CFBundleGetBundleWithIdentifier(kMyBundleIdentifier), nullptr);
}

TEST_F(PlugInLoadingTest, SearchesTheConfiguredFoldersInOrder) {
  setenv("TARROVEL_PLUGIN_PATH", (tree.path("one") + "::" + tree.path("two")).c_str(), 1);
  std::vector<std::string> folders = tv::host::PlugInFolders();
  unsetenv("TARROVEL_PLUGIN_PATH");
  ASSERT_EQ(folders.size(), 4u);
  EXPECT_EQ(folders[0], tree.path("one"));
  EXPECT_EQ(folders[1], tree.path("two"));
  EXPECT_EQ(folders[2], tree.path("home/.local/share") + "/tarrovel/plugins");
  // This test program sits in the build tree's bin/, whose prefix holds the bundle.
  std::string bundle = TV_BUNDLE_DIR;
  EXPECT_EQ(folders[3], bundle.substr(0, bundle.rfind('/')));
  tv::host::PlugInHost host;
  host.Load(tv::host::FindBundles({tree.path("one")}), false);
  EXPECT_TRUE(host.plugIns().empty());
}

}  // namespace
