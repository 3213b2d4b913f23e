// The install list and the extension's command path survive any file name;
// what install does at a path already taken.
#include "host/Install.h"
#include "host/InstallThunar.h"

#include "tests/support/TestSupport.h"

#include <fstream>
#include <gtest/gtest.h>

namespace tv::host {
namespace {

const std::string kAwkward = "/home/j\xe9r\xf4me/a b\t\"q\"\\n\nx/caf\xc3\xa9/'s/tarrovel";

TEST(ManifestTest, EveryPathComesBackAndDamagedLinesAreRefused) {
  std::vector<ManifestEntry> entries = {{ManifestEntry::kPrefix, "/home/u/.local"},
                                        {ManifestEntry::kFolder, "/home/u/.local/share/kio"},
                                        {ManifestEntry::kFile, kAwkward},
                                        {ManifestEntry::kDolphin, "/d/tarrovel.desktop"},
                                        {ManifestEntry::kThunar, "/c/Thunar/uca.xml"},
                                        {ManifestEntry::kFile, "/old-list/no-digest"},
                                        {ManifestEntry::kFile, "/f", ContentDigest("x")},
                                        {ManifestEntry::kThunarCreated, "/c2/Thunar/uca.xml"},
                                        {ManifestEntry::kThunarAction, "/c2/Thunar/uca.xml", "", "tarrovel-1\t",
                                         "<action>\n\t<name>\\x</name>\n</action>"}};
  std::vector<ManifestEntry> back;
  std::string error;
  ASSERT_TRUE(ParseManifest(FormatManifest(entries), &back, &error)) << error;
  EXPECT_EQ(back, entries);

  for (const char *damaged : {"file\trelative/path\n", "gadget\t/x\n", "file /x\n", "file\t/x\\q\n", "file\t\n",
                              "folder\t/x\tsha256:00\n", "thunar-action\t/u\tid\n", "file\t/x\t\n"}) {
    SCOPED_TRACE(damaged);
    back = entries;
    EXPECT_FALSE(ParseManifest(damaged, &back, &error));
    EXPECT_TRUE(back.empty()) << "a manifest that does not parse removes nothing";
  }
}

TEST(ManifestTest, DigestsAreSha256) {
  EXPECT_EQ(ContentDigest(""), "sha256:e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(ContentDigest("abc"), "sha256:ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(ContentDigest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "sha256:248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST(JudgePathTest, OnlyWhatInstallWroteOrWouldWriteIsWrittenOver) {
  const std::string want = ContentDigest("new"), earlier = ContentDigest("old"), theirs = ContentDigest("mine");
  struct {
    const char *what;
    PathFacts have;
    std::vector<std::string> listed;
    PathVerdict verdict;
    bool ours;
  } cases[] = {
      {"absent", {false, "", false}, {}, PathVerdict::kWrite, true},
      {"as it would be written, someone else's", {true, want, true}, {}, PathVerdict::kInPlace, false},
      {"as it would be written, another mode", {true, want, false}, {}, PathVerdict::kInPlace, false},
      {"ours, in place", {true, want, true}, {want}, PathVerdict::kInPlace, true},
      {"ours, another mode", {true, want, false}, {want}, PathVerdict::kWrite, true},
      {"ours, an earlier version", {true, earlier, true}, {earlier}, PathVerdict::kWrite, true},
      {"ours while an install was under way", {true, earlier, true}, {want, earlier}, PathVerdict::kWrite, true},
      {"the user's own", {true, theirs, true}, {}, PathVerdict::kRefuse, false},
      {"edited since install wrote it", {true, theirs, true}, {earlier}, PathVerdict::kRefuse, false},
      {"a folder", {true, "other", false}, {}, PathVerdict::kRefuse, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    bool ours = !c.ours;
    std::string why;
    EXPECT_EQ(JudgePath("/h/.local/bin/tarrovel", c.have, want, c.listed, &ours, &why), c.verdict);
    EXPECT_EQ(ours, c.ours);
    if (c.verdict == PathVerdict::kRefuse) {
      EXPECT_EQ(why.find("/h/.local/bin/tarrovel "), 0u) << why;
    }
  }
}

// A user's uca.xml made from the system's leaves out the package's actions.
TEST(ThunarBaseTest, TheActionsASystemInstallListedStayOutOfAUsersFile) {
  tv::test::TempTree tree;
  std::vector<UcaAction> system = UcaActionsFor({StaticItem{"Zap", 2001}}, "/usr/bin/tarrovel");
  InstallPlan plan;
  plan.ucaDefaults = {tree.file("uca.xml", UcaDocument(system))};
  ManifestEntry listed{ManifestEntry::kThunarAction, plan.ucaDefaults[0], "", system[0].id, system[0].element};
  plan.systemLists = {tree.path("none"), tree.file("list", FormatManifest({listed}))};
  EXPECT_EQ(ThunarBase(plan), UcaDocument({}));
}

TEST(RestartHintsTest, NameTheRunningFileManagersThatReadMenusOnlyAtStart) {
  EXPECT_EQ(RestartHints({"bash", "dolphin", "Thunar"}),
            std::vector<std::string>{"Thunar is running: its Tarrovel menu appears once it restarts (thunar -q, then open it again)"});
  EXPECT_EQ(RestartHints({"nemo", "nautilus", "nemo"}).size(), 2u);
  EXPECT_TRUE(RestartHints({"dolphin"}).empty());
}

TEST(ExtensionTest, PythonSeesTheCommandPathByteForByte) {
  tv::test::TempTree tree;
  std::ifstream in(std::string(TV_SOURCE_DIR) + "/desktop/tarrovel_menu.py");
  std::string templ((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_NE(templ.find("@TARROVEL@"), std::string::npos);
  std::string module = tree.file("tarrovel_menu.py", SubstituteExtension(templ, kAwkward));
  tv::test::RunResult r = tv::test::Run(
      {"/usr/bin/python3", "-c",
       "import sys; sys.modules['gi'] = None; sys.path.insert(0, sys.argv[1]); import tarrovel_menu as t; "
       "sys.stdout.write(t.TARROVEL.hex())",
       tree.root()});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string hex;
  for (unsigned char c : kAwkward) {
    char b[3];
    snprintf(b, sizeof b, "%02x", c);
    hex += b;
  }
  EXPECT_EQ(r.out, hex);
}

}  // namespace
}  // namespace tv::host
