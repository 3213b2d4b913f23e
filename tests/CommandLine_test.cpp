// The real `tarrovel` command line: what is an option and what is a path.
#include "tests/support/Sidecars.h"
#include "tests/support/Tarrovel.h"

#include <gtest/gtest.h>

namespace {

namespace fx = tv::test;
using tv::test::Tarrovel;

// The command run inside a folder, so that names given to it stay as a shell's
// glob gives them: relative, and starting with '-' where the file's name does.
tv::test::RunResult TarrovelIn(const std::string &dir, const std::vector<std::string> &args, const std::string &input = "") {
  std::vector<std::string> argv = {"sh", "-c", "cd \"$1\" && shift && exec \"$@\"", "sh", dir, TV_TARROVEL_EXE};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string bundles = TV_BUNDLE_DIR;
  return tv::test::Run(argv, input, {"TARROVEL_PLUGIN_PATH=" + bundles.substr(0, bundles.rfind('/')), "LANGUAGE=",
                                   "LC_ALL=", "LANG=C.UTF-8"});
}

// A file with a 600-byte resource fork in a macOS sidecar.
void MacFile(tv::test::TempTree &tree, const std::string &rel) {
  tree.file(rel, "data");
  auto info = fx::MakeFinderInfo(FOUR_CHAR_CODE("TEXT"), FOUR_CHAR_CODE("ttxt"), 0);
  auto sidecar = fx::BuildMacOSKernelSidecar(info, fx::TypicalAttributes(), fx::MakeResourceFork(600));
  size_t slash = rel.rfind('/');
  tree.file(rel.substr(0, slash + 1) + "._" + rel.substr(slash + 1), std::string(sidecar.begin(), sidecar.end()));
}

// `tarrovel run 2001 *` in a folder whose files are named like options: the
// shell hands them over as arguments after ITEM, and they must stay paths.
TEST(CommandLineTest, FilesNamedLikeOptionsAfterTheItemArePaths) {
  tv::test::TempTree tree;
  for (const char *name : {"--yes", "-v", "plain"}) MacFile(tree, std::string("dir/") + name);
  std::string before[3];
  const char *sidecars[3] = {"dir/._--yes", "dir/._-v", "dir/._plain"};
  for (int i = 0; i < 3; i++) before[i] = tree.read(sidecars[i]);
  std::string dir = tree.path("dir") + "/";

  tv::test::RunResult r = TarrovelIn(dir, {"run", "2001", "--yes", "-v", "plain"}, "Cancel\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("of 3 file(s)?"), std::string::npos) << r.err;  // every name was counted as a file
  EXPECT_EQ(r.out, "");  // -v was a path, nothing was listed
  for (int i = 0; i < 3; i++) EXPECT_TRUE(tree.read(sidecars[i]) == before[i]) << sidecars[i] << " changed";

  // Options before ITEM still count; "--" ends them, so an item may look like one.
  r = Tarrovel({"run", "--yes", "-v", "--", "2001", dir + "plain"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, dir + "plain\n");
  r = Tarrovel({"run", "--", "--yes", dir + "-v"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("\"--yes\" is not offered"), std::string::npos) << r.err;
  EXPECT_TRUE(tree.read("dir/._-v") == before[1]);

  // The file managers' form, `run ITEM -- PATH...`: a separator right after
  // ITEM is still one; a second "--" would be a path.
  r = Tarrovel({"run", "--yes", "-v", "2001", "--", dir + "-v"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, dir + "-v\n");
  r = Tarrovel({"run", "--yes", "2001", "--", "--", dir + "plain"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--: No such file"), std::string::npos) << r.err;
}

TEST(CommandLineTest, MenuTakesOptionsOnlyBeforeTheFirstPath) {
  tv::test::TempTree tree;
  tree.file("a");
  tree.file("--json");
  tv::test::RunResult r = Tarrovel({"menu", tree.path("a"), "--json"});
  EXPECT_EQ(r.status, 2);  // "--json" is a path here, and there is none in the working folder
  EXPECT_NE(r.err.find("--json: No such file"), std::string::npos) << r.err;
  r = TarrovelIn(tree.root(), {"menu", "--", "--json", "a"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("Tarrovel >", 0), 0u) << r.out;  // text, not JSON
  r = Tarrovel({"menu", "--json", "--", tree.path("--json")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("[", 0), 0u) << r.out;
}

}  // namespace
