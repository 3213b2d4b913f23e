// The manifest and the extension's command path survive any file name.
#include "host/Install.h"

#include "tests/support/TestSupport.h"

#include <fstream>
#include <gtest/gtest.h>

namespace tarrovel {
namespace {

const std::string kAwkward = "/home/j\xe9r\xf4me/a b\t\"q\"\\n\nx/caf\xc3\xa9/'s/tarrovel";

TEST(ManifestTest, EveryPathComesBackAndDamagedLinesAreRefused) {
  std::vector<ManifestEntry> entries = {{ManifestEntry::kPrefix, "/home/u/.local"},
                                        {ManifestEntry::kFolder, "/home/u/.local/share/kio"},
                                        {ManifestEntry::kFile, kAwkward},
                                        {ManifestEntry::kDolphin, "/d/tarrovel.desktop"},
                                        {ManifestEntry::kThunar, "/c/Thunar/uca.xml"},
                                        {ManifestEntry::kThunarCreated, "/c2/Thunar/uca.xml"}};
  std::vector<ManifestEntry> back;
  std::string error;
  ASSERT_TRUE(ParseManifest(FormatManifest(entries), &back, &error)) << error;
  EXPECT_EQ(back, entries);

  for (const char *damaged : {"file\trelative/path\n", "gadget\t/x\n", "file /x\n", "file\t/x\\q\n", "file\t\n"}) {
    SCOPED_TRACE(damaged);
    back = entries;
    EXPECT_FALSE(ParseManifest(damaged, &back, &error));
    EXPECT_TRUE(back.empty()) << "a manifest that does not parse removes nothing";
  }
}

TEST(ExtensionTest, PythonSeesTheCommandPathByteForByte) {
  tvtest::TempTree tree;
  std::ifstream in(std::string(TV_SOURCE_DIR) + "/desktop/tarrovel_menu.py");
  std::string templ((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_NE(templ.find("@TARROVEL@"), std::string::npos);
  std::string module = tree.file("tarrovel_menu.py", SubstituteExtension(templ, kAwkward));
  tvtest::RunResult r = tvtest::Run(
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
}  // namespace tarrovel
