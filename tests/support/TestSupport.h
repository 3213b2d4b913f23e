// Helpers shared by every test: a private temporary tree with a hermetic
// HOME and XDG folders, a runner for real commands, and readable statuses.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tv::test {

// A fresh folder under /tmp (mode 0755, so that an unprivileged user can reach
// what a test hands it), removed with everything in it at the end. While it
// lives, HOME, XDG_CONFIG_HOME and XDG_DATA_HOME point inside it.
class TempTree {
 public:
  TempTree();
  ~TempTree();
  TempTree(const TempTree &) = delete;
  TempTree &operator=(const TempTree &) = delete;

  const std::string &root() const { return root_; }
  std::string path(const std::string &rel) const;  // root + "/" + rel
  std::string home() const { return path("home"); }

  // Creates parent folders as needed. Returns the absolute path.
  std::string file(const std::string &rel, const std::string &content = "");
  std::string folder(const std::string &rel);
  std::string symlink(const std::string &rel, const std::string &target);
  void setXattr(const std::string &rel, const std::string &name, const std::string &value);
  // Empty string with *exists false when the attribute is absent.
  std::string getXattr(const std::string &rel, const std::string &name, bool *exists = nullptr) const;
  std::string read(const std::string &rel) const;
  bool exists(const std::string &rel) const;
  void chmod(const std::string &rel, unsigned mode);
  // chattr +i / -i; the tree removes the flag again before it is deleted.
  void setImmutable(const std::string &rel, bool on);

 private:
  std::string root_;
  std::map<std::string, std::string> savedEnv_;
  std::vector<std::string> immutable_;
};

struct RunResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};
// Runs argv[0] with the given arguments and standard input, inheriting the
// environment with the overrides in env ("NAME=value"). Waits for it.
RunResult Run(const std::vector<std::string> &argv, const std::string &input = "",
              const std::vector<std::string> &env = {});
// As Run, as the unprivileged user 65534 (setpriv); the program and what it
// touches must be reachable by that user.
RunResult RunUnprivileged(const std::vector<std::string> &argv, const std::string &input = "",
                          const std::vector<std::string> &env = {});

// "fnfErr (-43)" for the statuses the system uses, the number otherwise.
std::string StatusName(int32_t status);

}  // namespace tv::test

// Compares statuses and prints them by name.
#define EXPECT_STATUS(expected, actual) \
  EXPECT_EQ(::tv::test::StatusName(expected), ::tv::test::StatusName(actual))
#define ASSERT_STATUS(expected, actual) \
  ASSERT_EQ(::tv::test::StatusName(expected), ::tv::test::StatusName(actual))

namespace tv::test {
// The factory function of the bundle's shared object (dlopen'ed and kept
// loaded for the test process), or NULL with *why set.
void *OpenBundleFactory(const std::string &bundleDir, const char *symbol, std::string *why);
}  // namespace tv::test

#include <functional>
namespace tv::test {
// Runs fn in a forked child as the unprivileged user 65534 (groups cleared)
// and returns what it returned (0..255), or -1 if the child died.
int InChildAsNobody(const std::function<int()> &fn);
// Whether the tests run as root, as CI runs them.
bool IsRoot();
}  // namespace tv::test

// First line of a test that needs root (chattr, mounts, becoming user 65534):
// run by anyone else, the test is skipped and says why.
#define TV_SKIP_UNLESS_ROOT(what) \
  if (!::tv::test::IsRoot()) GTEST_SKIP() << "needs root to " what "; CI runs the tests as root"

namespace tv::test {
void SleepMs(int ms);
// lstat of path: seconds of the modification time and the size; false when missing.
bool StatOf(const std::string &path, long long *mtimeSeconds, long long *size);
}  // namespace tv::test
