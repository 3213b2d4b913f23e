// The shared crash-safe replacement, on real files in a temporary tree.
#include "platform/sys/FileReplacement.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/sys/CallTable.h"
#include "tests/support/TestSupport.h"

namespace sys = tv::sys;

namespace {

std::set<std::string> Names(const std::string &folder) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto &e : std::filesystem::directory_iterator(folder, ec)) names.insert(e.path().filename().string());
  return names;
}

// What the fsync substitute saw.
std::string sFolder;
std::vector<struct stat> sSynced;
bool sTemporarySeen = false, sTemporaryLocked = false;
bool sCleanUpMidway = false;
std::function<void()> sAtFirstFsync;  // something another process does meanwhile

// Records what is flushed; on the first flush (the temporary's) looks at
// the temporary from outside, as a cleanup of another process would.
int WatchingFsync(int fd) {
  struct stat st {};
  fstat(fd, &st);
  if (sSynced.empty()) {
    for (const std::string &name : Names(sFolder)) {
      if (!sys::IsTemporaryName(name)) continue;
      sTemporarySeen = true;
      const int other = open((sFolder + "/" + name).c_str(), O_RDONLY | O_CLOEXEC);
      sTemporaryLocked = other >= 0 && sys::RealCalls().ofdlock(other, F_RDLCK, false) != 0 && errno == EAGAIN;
      if (other >= 0) close(other);
    }
    if (sCleanUpMidway) sys::RemoveTemporariesInFlight();  // as the second Ctrl-C's handler does
    if (sAtFirstFsync) sAtFirstFsync();
  }
  sSynced.push_back(st);
  return sys::RealCalls().fsync(fd);
}

class FileReplacementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sFolder = tree.folder("dir");
    tree.file("dir/file", "old content");
    sSynced.clear();
    sTemporarySeen = sTemporaryLocked = sCleanUpMidway = false;
    sAtFirstFsync = nullptr;
  }
  sys::ReplaceResult Replace(const std::string &content) {
    return sys::ReplaceFile(AT_FDCWD, tree.path("dir/file"), content.data(), content.size(), nullptr);
  }
  tv::test::TempTree tree;
};

TEST_F(FileReplacementTest, WritesThroughALockedTemporaryAndFlushesTheFileThenTheFolder) {
  sys::SubstituteScope restore(sys::RealCalls());
  sys::SubstituteCall(&sys::CallTable::fsync, WatchingFsync);
  EXPECT_EQ(0, Replace("new content").err);
  EXPECT_EQ("new content", tree.read("dir/file"));
  EXPECT_EQ(std::set<std::string>{"file"}, Names(sFolder));
  EXPECT_TRUE(sTemporarySeen);
  EXPECT_TRUE(sTemporaryLocked) << "a cleanup must not take a temporary being written";
  struct stat file {}, folder {};
  ASSERT_EQ(0, stat(tree.path("dir/file").c_str(), &file));
  ASSERT_EQ(0, stat(sFolder.c_str(), &folder));
  ASSERT_EQ(2u, sSynced.size());
  EXPECT_EQ(file.st_ino, sSynced[0].st_ino) << "the new file, before the rename";
  EXPECT_EQ(folder.st_ino, sSynced[1].st_ino) << "the folder, after it";
  EXPECT_EQ(0600u, file.st_mode & 07777) << "a new file without kept attributes is the user's alone";
}

TEST_F(FileReplacementTest, AFailingStepLeavesTheOldFileAndNoTemporary) {
  struct Fault {
    sys::Call call;
    int err;
  } faults[] = {{sys::Call::openat, EROFS}, {sys::Call::write, ENOSPC}, {sys::Call::fsync, EIO},
                {sys::Call::renameat, EXDEV}};
  for (const Fault &f : faults) {
    sys::FaultScope scope;
    sys::FailCall(f.call, 1, f.err);
    const sys::ReplaceResult r = Replace("new content");
    EXPECT_EQ(f.err, r.err) << sys::CallName(f.call);
    EXPECT_FALSE(r.failedAt.empty()) << sys::CallName(f.call);
    EXPECT_EQ("old content", tree.read("dir/file")) << sys::CallName(f.call);
    EXPECT_EQ(std::set<std::string>{"file"}, Names(sFolder)) << sys::CallName(f.call);
  }
}

TEST_F(FileReplacementTest, ASignalsCleanupMidwayRemovesTheTemporaryAndKeepsTheOldFile) {
  sys::SubstituteScope restore(sys::RealCalls());
  sys::SubstituteCall(&sys::CallTable::fsync, WatchingFsync);
  sCleanUpMidway = true;
  EXPECT_EQ(ENOENT, Replace("new content").err);
  EXPECT_EQ("old content", tree.read("dir/file"));
  EXPECT_EQ(std::set<std::string>{"file"}, Names(sFolder));
}

// A cleanup of another zap that finds the new temporary still empty and
// unlocked removes it, as it removes a dead writer's.
int sCleanups = 0;
int CleanupBeforeTheLock(int fd, short type, bool wait) {
  if (type == F_WRLCK && wait && sCleanups++ == 0)
    for (const std::string &name : Names(sFolder))
      if (sys::IsTemporaryName(name)) unlink((sFolder + "/" + name).c_str());
  return sys::RealCalls().ofdlock(fd, type, wait);
}

// What others do to the folder while a replacement runs never leaves a
// temporary behind, and never costs the new content.
TEST_F(FileReplacementTest, AMovedFolderOrACleanupThatCameFirstLeavesNoTemporary) {
  sys::SubstituteScope restore(sys::RealCalls());
  sys::SubstituteCall(&sys::CallTable::fsync, WatchingFsync);
  const std::string moved = tree.path("moved");
  sAtFirstFsync = [&] { ASSERT_EQ(0, rename(sFolder.c_str(), moved.c_str())); };
  EXPECT_EQ(0, Replace("new content").err);
  EXPECT_EQ("new content", tree.read("moved/file"));
  EXPECT_EQ(std::set<std::string>{"file"}, Names(moved));

  sFolder = tree.folder("dir");
  tree.file("dir/file", "old content");
  sAtFirstFsync = nullptr;
  sys::SubstituteCall(&sys::CallTable::ofdlock, CleanupBeforeTheLock);
  EXPECT_EQ(0, Replace("new content").err);
  EXPECT_EQ("new content", tree.read("dir/file"));
  EXPECT_EQ(std::set<std::string>{"file"}, Names(sFolder));
  EXPECT_EQ(2, sCleanups);
}

}  // namespace
