// What a zap counts and touches, through the real `tarrovel run`: sidecars
// wherever they sort, a folder selected with its own child, items that are
// neither files nor folders, and paths too long for a fixed buffer.
#include "platform/Carbon.h"
#include "tests/support/Sidecars.h"
#include "tests/support/MacFiles.h"
#include "tests/support/Tarrovel.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

using tv::test::Occurrences;
using tv::test::ResourceForkSize;
using tv::test::Tarrovel;
using tv::test::WriteMacFile;

class ZapSelectionTest : public ::testing::Test {
 protected:
  void SetUp() override { tv::test::WriteSettings(tree, false, true, false); }
  tv::test::TempTree tree;
};

TEST_F(ZapSelectionTest, SidecarsAreNeverCountedAsFilesWhateverTheirNamesSortBefore) {
  // Names below "." sort before every "._" sidecar; "b" after its own.
  const std::vector<std::string> names = {"!a", " c", "-d", "#e", "b"};
  for (const auto &n : names) WriteMacFile(tree, "odd/" + n);
  tv::test::RunResult r = Tarrovel({"run", "--yes", "-v", "Zap Resource Fork Recursively...", tree.path("odd")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Zap the resource forks of 5 file(s) in the selection"), std::string::npos) << r.err;
  EXPECT_EQ(Occurrences(r.out, "/._"), 0) << r.out;
  for (const auto &n : names) {
    EXPECT_EQ(ResourceForkSize(tree.path("odd/" + n)), 0u) << n;
    EXPECT_EQ(Occurrences(r.out, "/odd/" + n + "\n"), 1) << n << "\n" << r.out;
  }
}

TEST_F(ZapSelectionTest, FolderSelectedWithItsOwnChildIsCountedAndZappedOnce) {
  std::string x = WriteMacFile(tree, "top/x");
  std::string y = WriteMacFile(tree, "top/sub/y");
  std::string z = WriteMacFile(tree, "z");
  // The child first, the same folder twice, and a file beside the folder.
  tv::test::RunResult r = Tarrovel(
      {"run", "--yes", "-v", "Zap Resource Fork Recursively...", y, tree.path("top"), z, tree.path("top/")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Zap the resource forks of 3 file(s) in the selection"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, y + "\n" + x + "\n" + z + "\n");
  EXPECT_EQ(Occurrences(r.err, "[stop]"), 0) << r.err;
  for (const auto &f : {x, y, z}) EXPECT_EQ(ResourceForkSize(f), 0u) << f;

  // Without recursion a folder is not entered: its child is a file of its own.
  std::string w = WriteMacFile(tree, "top/w");
  r = Tarrovel({"run", "--yes", "-v", "Zap Resource Fork...", tree.path("top"), w, w});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Zap the resource forks of 1 file(s)?"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, w + "\n");
}

TEST_F(ZapSelectionTest, LinksAndFifosAreNeitherCountedNorZapped) {
  std::string f = WriteMacFile(tree, "dir/f");
  std::string target = WriteMacFile(tree, "elsewhere/t");
  std::string link = tree.symlink("dir/link", target);
  std::string fifo = tree.path("dir/fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);

  // Nothing in the selection has a fork: a note says so, nothing is asked.
  tv::test::RunResult r = Tarrovel({"run", "Zap Resource Fork...", link, fifo}, "Zap\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Occurrences(r.err, "[caution]"), 0) << r.err;
  EXPECT_NE(r.err.find("[note] Nothing in the selection can be zapped"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("1) OK"), std::string::npos) << r.err;
  EXPECT_EQ(ResourceForkSize(target), 600u);

  r = Tarrovel({"run", "リソースフォークを消去...", link, fifo}, "", {"LANG=ja_JP.UTF-8"});
  EXPECT_NE(r.err.find("[note] 選択した項目の中に消去できるものはありません"), std::string::npos) << r.err;

  r = Tarrovel({"run", "--yes", "-v", "Zap Resource Fork...", f, link, fifo});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Zap the resource forks of 1 file(s)?"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, f + "\n");

  WriteMacFile(tree, "dir/g");
  r = Tarrovel({"run", "--yes", "Zap Resource Fork Recursively...", tree.path("dir")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Zap the resource forks of 2 file(s) in the selection"), std::string::npos) << r.err;
  EXPECT_EQ(ResourceForkSize(tree.path("dir/g")), 0u);
  EXPECT_EQ(ResourceForkSize(target), 600u);

  // A selected empty folder is still something to walk (its custom icon).
  tree.folder("empty");
  r = Tarrovel({"run", "--yes", "Zap Resource Fork Recursively...", tree.path("empty")});
  EXPECT_NE(r.err.find("[caution] Zap the resource forks of 0 file(s)"), std::string::npos) << r.err;
}

// Only a regular file is a sidecar: a folder, FIFO or link named "._a.txt"
// beside "a.txt" is an item of its own (a folder is walked into), "a.txt"
// has no sidecar, and the zap goes on past it.
TEST_F(ZapSelectionTest, EntriesNamedLikeSidecarsThatAreNoFilesAreItems) {
  const std::string fork(600, 'r');
  std::vector<std::string> selected, files;
  for (const char *kind : {"folder", "fifo", "link"}) {
    const std::string dir = std::string("k-") + kind + "/";
    files.push_back(tree.file(dir + "a.txt", "a"));
    tree.setXattr(dir + "a.txt", "user.com.apple.ResourceFork", fork);
    const std::string k = kind;
    if (k == "folder") files.push_back(WriteMacFile(tree, dir + "._a.txt/inner"));
    if (k == "fifo") {
      EXPECT_EQ(mkfifo(tree.path(dir + "._a.txt").c_str(), 0644), 0);
    }
    if (k == "link") tree.symlink(dir + "._a.txt", "z");
    files.push_back(WriteMacFile(tree, dir + "z"));
    selected.push_back(tree.path(dir));
  }
  std::vector<std::string> args = {"run", "--yes", "-v", "Zap Resource Fork Recursively..."};
  args.insert(args.end(), selected.begin(), selected.end());
  tv::test::RunResult r = Tarrovel(args);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Zap the resource forks of 7 file(s) in the selection"), std::string::npos) << r.err;
  for (const auto &f : files) EXPECT_EQ(ResourceForkSize(f), 0u) << f;

  // The file alone, selected: no sidecar, and its fork is zapped.
  for (const auto &f : {files[0], files[3], files[5]}) {
    tree.setXattr(f.substr(tree.path("").size() + 1), "user.com.apple.ResourceFork", fork);
    r = Tarrovel({"run", "--yes", "Zap Resource Fork...", f});
    EXPECT_EQ(r.status, 0) << f << "\n" << r.err;
    EXPECT_EQ(ResourceForkSize(f), 0u) << f;
  }
  EXPECT_TRUE(tree.exists("k-folder/._a.txt/inner"));
  EXPECT_TRUE(tree.exists("k-link/._a.txt"));
}

TEST_F(ZapSelectionTest, VerboseRunPrintsPathsLongerThanAnyFixedBuffer) {
  // Some 10 KiB of path: far beyond PATH_MAX, so the folders are made one
  // level at a time.
  std::string deep = tree.folder("deep");
  int dir = open(deep.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(dir, 0);
  const std::string level(200, 'L');
  for (int i = 0; i < 50; i++) {
    ASSERT_EQ(mkdirat(dir, level.c_str(), 0755), 0);
    int next = openat(dir, level.c_str(), O_RDONLY | O_DIRECTORY);
    close(dir);
    ASSERT_GE(next, 0);
    dir = next;
    deep += "/" + level;
  }
  int fd = openat(dir, "f", O_WRONLY | O_CREAT, 0644);
  close(dir);
  ASSERT_GE(fd, 0);
  auto fork = tv::test::MakeResourceFork(600);
  ASSERT_EQ(fsetxattr(fd, "user.com.apple.ResourceFork", fork.data(), fork.size(), 0), 0);
  close(fd);

  tv::test::RunResult r = Tarrovel({"run", "--yes", "-v", "Zap Resource Fork Recursively...", tree.path("deep")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("1 file(s)"), std::string::npos) << r.err;
  ASSERT_GT(deep.size(), 10000u);
  EXPECT_EQ(r.out, deep + "/f\n");
}

}  // namespace
