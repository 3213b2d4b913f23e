// A USB stick written by a Mac: an exFAT image on a loop device, mounted
// through FUSE, where "Mixed.TXT" and "._mixed.txt" are one item and its
// sidecar.
#include "tests/support/MacFiles.h"
#include "tests/support/Tarrovel.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <set>
#include <unistd.h>

namespace {

using tvtest::ResourceForkSize;
using tvtest::WriteMacFile;

bool Have(const std::string &tool) { return tvtest::Run({"sh", "-c", "command -v " + tool}).status == 0; }

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
  explicit ExFatStick(tvtest::TempTree &tree) : tree_(tree) {
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
    if (tvtest::Run({"truncate", "-s", "16M", image}).status != 0 ||
        tvtest::Run({"mkfs.exfat", image}).status != 0) {
      why = "could not make the exFAT image";
      return;
    }
    tvtest::RunResult loop = tvtest::Run({"losetup", "-f", "--show", image});
    if (loop.status != 0) {
      why = "no loop device: " + loop.err;
      return;
    }
    device_ = loop.out.substr(0, loop.out.find('\n'));
    mountPoint = tree.folder("stick");
    tvtest::RunResult m = tvtest::Run({"mount.exfat-fuse", device_, mountPoint});
    if (m.status != 0) {
      why = "cannot mount through FUSE: " + m.err;
      return;
    }
    mounted_ = true;
  }
  ~ExFatStick() {
    if (mounted_) tvtest::Run({"umount", mountPoint});
    if (!device_.empty()) tvtest::Run({"losetup", "-d", device_});
  }
  std::string why;
  std::string mountPoint;

 private:
  tvtest::TempTree &tree_;
  std::string device_;
  bool mounted_ = false;
};

TEST(CaseInsensitiveVolumeTest, SidecarWhoseNameDiffersInCaseIsZappedAsTheItemsMetadata) {
  tvtest::TempTree tree;
  ExFatStick stick(tree);
  if (!stick.why.empty()) GTEST_SKIP() << "exFAT volume: " << stick.why;
  tvtest::WriteSettings(tree, false, true, false);
  std::string mixed = WriteMacFile(tree, "stick/dir/Mixed.TXT", false, "._mixed.txt");
  std::string plain = WriteMacFile(tree, "stick/dir/plain");
  // Looked at only by its real name: FUSE gives "._Mixed.TXT" a node of its
  // own whose cached pages another name's writes do not refresh.
  std::string before = tree.read("stick/dir/._mixed.txt");

  tvtest::RunResult r =
      tvtest::Tarrovel({"run", "--yes", "-v", "Zap Resource Fork Recursively...", tree.path("stick/dir")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Zap the resource forks of 2 file(s) in the selection"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, mixed + "\n" + plain + "\n");
  EXPECT_EQ(ResourceForkSize(plain), 0u);
  // The sidecar keeps its name on disk and its other metadata; the fork,
  // which ended the file, is cut off.
  std::set<std::string> names = NamesIn(tree.path("stick/dir"));
  EXPECT_EQ(names, (std::set<std::string>{"Mixed.TXT", "._mixed.txt", "plain", "._plain"}));
  std::string after = tree.read("stick/dir/._mixed.txt");
  EXPECT_EQ(before.size() - after.size(), 600u);
  EXPECT_NE(after.find("com.apple.quarantine"), std::string::npos);
}

}  // namespace
