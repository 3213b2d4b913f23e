// A USB stick written by a Mac: an exFAT image on a loop device, mounted
// through FUSE, where "Mixed.TXT" and "._mixed.txt" are one item and its
// sidecar.
#include "tests/support/Sidecars.h"
#include "tests/support/MacFiles.h"
#include "tests/support/Tarrovel.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <set>
#include <unistd.h>

namespace {

using tv::test::ResourceForkSize;
using tv::test::WriteMacFile;

bool Have(const std::string &tool) { return tv::test::Run({"sh", "-c", "command -v " + tool}).status == 0; }

std::set<std::string> NamesIn(const std::string &folder) {
  std::set<std::string> names;
  if (DIR *d = opendir(folder.c_str())) {
    while (dirent *e = readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.insert(e->d_name);
    closedir(d);
  }
  return names;
}

// Makes and mounts the image inside the tree; unmounts and detaches again
// whatever the test did. why says what was missing when it could not.
class ExFatStick {
 public:
  explicit ExFatStick(tv::test::TempTree &tree) : tree_(tree) {
    if (geteuid() != 0) {
      why = "needs root for the loop device and the mount";
      return;
    }
    for (const char *tool : {"mkfs.exfat", "mount.exfat-fuse", "losetup"})
      if (!Have(tool)) {
        why = std::string(tool) + " is missing (apt-get install exfatprogs exfat-fuse)";
        return;
      }
    std::string image = tree.path("stick.img");
    if (tv::test::Run({"truncate", "-s", "16M", image}).status != 0 ||
        tv::test::Run({"mkfs.exfat", image}).status != 0) {
      why = "could not make the exFAT image";
      return;
    }
    tv::test::RunResult loop = tv::test::Run({"losetup", "-f", "--show", image});
    if (loop.status != 0) {
      why = "no loop device: " + loop.err;
      return;
    }
    device_ = loop.out.substr(0, loop.out.find('\n'));
    mountPoint = tree.folder("stick");
    tv::test::RunResult m = tv::test::Run({"mount.exfat-fuse", device_, mountPoint});
    if (m.status != 0) {
      why = "cannot mount through FUSE: " + m.err;
      return;
    }
    mounted_ = true;
  }
  ~ExFatStick() {
    if (mounted_) tv::test::Run({"umount", mountPoint});
    if (!device_.empty()) tv::test::Run({"losetup", "-d", device_});
  }
  std::string why;
  std::string mountPoint;

 private:
  tv::test::TempTree &tree_;
  std::string device_;
  bool mounted_ = false;
};

TEST(CaseInsensitiveVolumeTest, SidecarWhoseNameDiffersInCaseIsZappedAsTheItemsMetadata) {
  tv::test::TempTree tree;
  ExFatStick stick(tree);
  if (!stick.why.empty()) GTEST_SKIP() << "exFAT volume: " << stick.why;
  tv::test::WriteSettings(tree, false, true, false);
  namespace fx = tv::test;
  // Each way of reaching the item: the recursive walk, which lists the
  // folder, and the commands on the selected file itself. The kernel's
  // layout is cut in place; a fork-first one is rewritten through a
  // temporary and renamed.
  struct Case {
    const char *command;
    bool forkFirst;
    bool selectFolder;
  };
  const Case cases[] = {
      {"Zap Resource Fork Recursively...", false, true},
      {"Zap Resource Fork Recursively...", true, true},
      {"Zap Resource Fork...", false, false},
      {"Zap Resource Fork...", true, false},
  };
  int n = 0;
  for (const Case &c : cases) {
    const std::string dir = "stick/d" + std::to_string(n++);
    const std::string trace = std::string(c.command) + (c.forkFirst ? " fork-first" : "");
    std::string mixed = WriteMacFile(tree, dir + "/Mixed.TXT", true, "._mixed.txt");
    std::string plain = WriteMacFile(tree, dir + "/plain");
    if (c.forkFirst) {
      auto bytes = fx::BuildForkFirstSidecar(fx::MakeFinderInfo(FOUR_CHAR_CODE("TEXT"), 0, kHasCustomIcon),
                                             fx::MakeResourceFork(600), fx::TypicalAttributes());
      tree.file(dir + "/._mixed.txt", std::string(bytes.begin(), bytes.end()));
    }
    // Looked at only by its real name: FUSE gives "._Mixed.TXT" a node of
    // its own whose cached pages another name's writes do not refresh.
    std::string before = tree.read(dir + "/._mixed.txt");
    std::vector<std::string> args = {"run", "--yes", "-v", c.command};
    if (c.selectFolder) args.push_back(tree.path(dir));
    else args.insert(args.end(), {mixed, plain});
    tv::test::RunResult r = tv::test::Tarrovel(args);
    EXPECT_EQ(r.status, 0) << trace << "\n" << r.err;
    EXPECT_EQ(r.out, mixed + "\n" + plain + "\n") << trace;
    EXPECT_EQ(ResourceForkSize(plain), 0u) << trace;
    // The sidecar keeps its name on disk and its other metadata; only the
    // fork (and the custom-icon flag) went.
    EXPECT_EQ(NamesIn(tree.path(dir)), (std::set<std::string>{"Mixed.TXT", "._mixed.txt", "plain", "._plain"}))
        << trace;
    std::string after = tree.read(dir + "/._mixed.txt");
    EXPECT_EQ(before.size() - after.size(), 600u) << trace;
    EXPECT_NE(after.find("com.apple.quarantine"), std::string::npos) << trace;
  }
}

// A volume mounted on a folder of the stick is a volume of its own: the
// walk enters it and clears its custom icon inside it ("._.").
TEST(CaseInsensitiveVolumeTest, AVolumeMountedInsideTheStickKeepsItsMetadataInside) {
  tv::test::TempTree tree;
  ExFatStick stick(tree);
  if (!stick.why.empty()) GTEST_SKIP() << "exFAT volume: " << stick.why;
  tv::test::WriteSettings(tree, false, true, false);
  const auto icon = tv::test::BuildMacOSKernelSidecar(tv::test::MakeFinderInfo(0, 0, kHasCustomIcon));
  const std::string volume = tree.folder("stick/top/vol"), iconBytes(icon.begin(), icon.end());
  ASSERT_EQ(tv::test::Run({"mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", volume}).status, 0);
  struct Unmount { std::string at; ~Unmount() { tv::test::Run({"umount", at}); } } unmount{volume};  // before the stick
  tree.file("stick/top/vol/._.", iconBytes);
  tv::test::RunResult r = tv::test::Tarrovel({"run", "--yes", "Zap Resource Fork Recursively...", tree.path("stick/top")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(tree.read("stick/top/vol/._."), iconBytes);
  EXPECT_EQ(NamesIn(tree.path("stick/top")), std::set<std::string>{"vol"});
}

}  // namespace
