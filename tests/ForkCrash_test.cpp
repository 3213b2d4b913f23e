// A process zapping hundreds of sidecars is killed at random moments: every
// sidecar left behind must parse and keep its packed attributes and
// FinderInfo, each fork must be either the old one or empty, and what a dead
// process leaves in a folder must not trouble the next run.
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <thread>
#include <unistd.h>

#include "platform/Files.h"
#include "platform/files/StoreIO.h"
#include "tests/support/Sidecars.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ForkCalls.h"
#include "tests/support/MacFiles.h"
#include "tests/support/Selection.h"
#include "tests/support/Tarrovel.h"
#include "tests/support/TestSupport.h"

namespace {

namespace fx = tv::test;
using tv::forks::AppleDoubleView;
using tv::forks::FinderInfoBytes;

constexpr int kFiles = 100;
constexpr int kRounds = 12;

std::string Str(const std::vector<UInt8> &v) { return std::string(v.begin(), v.end()); }

std::vector<UInt8> ReadFile(const std::string &path, bool *exists) {
  std::ifstream in(path, std::ios::binary);
  *exists = bool(in);
  return std::vector<UInt8>(std::istreambuf_iterator<char>(in), {});
}

// One file and its sidecar as written before each round.
struct Sample {
  std::string name;
  std::vector<UInt8> sidecar;
  bool mayVanish = false;  // it holds nothing but the fork: zapping removes it
};

Sample MakeSample(int i) {
  const FinderInfoBytes icon = fx::MakeFinderInfo(FOUR_CHAR_CODE("TEXT"), FOUR_CHAR_CODE("ttxt"), kHasCustomIcon | 0x0100);
  const std::vector<UInt8> fork = fx::MakeResourceFork(size_t(200 + 37 * i % 3000));
  Sample s;
  s.name = "f" + std::to_string(i);
  switch (i % 5) {
    case 0:  // macOS kernel: fork last, cut in place
      s.sidecar = fx::BuildMacOSKernelSidecar(icon, fx::TypicalAttributes(), fork);
      break;
    case 1:  // copyfile: fork last, cut in place
      s.sidecar = fx::BuildCopyfileSidecar(icon, fx::TypicalAttributes(), fork);
      break;
    case 2:  // fork before FinderInfo: rewritten through a temporary
      s.sidecar = fx::BuildForkFirstSidecar(icon, fork, fx::TypicalAttributes());
      break;
    case 3:  // Samba: descriptor first, data last
      s.sidecar = fx::BuildSambaSidecar(icon, fork);
      break;
    default:  // nothing but the fork: removed
      s.sidecar = fx::BuildMacOSKernelSidecar(FinderInfoBytes{}, {}, fork);
      s.mayVanish = true;
      break;
  }
  return s;
}

OSStatus ZapAndClearIcon(const std::string &path) {
  FSRef ref = tv::test::RefFor(path);
  OSStatus s = tv::test::ZapResourceFork(ref);
  return s == noErr ? tv::test::ClearCustomIconFlag(ref) : s;
}

// "" when `after` is `before` with the fork old or emptied and FinderInfo old
// or with the custom-icon flag cleared; what differs otherwise.
std::string CheckSidecar(const Sample &sample, const std::vector<UInt8> &after) {
  AppleDoubleView was, now;
  if (tv::forks::ParseAppleDouble(sample.sidecar, &was) != tv::forks::ForkFormatError::kNone) return "bad sample";
  tv::forks::ForkFormatError error = tv::forks::ParseAppleDouble(after, &now);
  if (error != tv::forks::ForkFormatError::kNone) return std::string("does not parse: ") + tv::forks::ForkFormatErrorName(error);
  if (!std::ranges::equal(was.filler(), now.filler())) return "filler changed";
  FinderInfoBytes cleared = was.finderInfo();
  tv::forks::ClearFinderFlags(cleared, kHasCustomIcon);
  if (now.finderInfo() != was.finderInfo() && now.finderInfo() != cleared) return "FinderInfo changed";
  if (!now.resourceFork().empty() && !std::ranges::equal(now.resourceFork(), was.resourceFork()))
    return "fork neither old nor empty";
  if (was.attr.has_value() != now.attr.has_value()) return "ATTR block came or went";
  if (was.attr) {
    if (was.attr->attributes.size() != now.attr->attributes.size()) return "attribute count changed";
    for (size_t i = 0; i < was.attr->attributes.size(); ++i) {
      const auto &a = was.attr->attributes[i], &b = now.attr->attributes[i];
      if (a.name != b.name || a.flags != b.flags || !std::ranges::equal(a.value, b.value))
        return "attribute " + std::string(a.name) + " changed";
    }
  }
  return "";
}

class ForkCrashTest : public ::testing::Test {
 protected:
  void WriteSamples() {
    // New files rather than truncated ones: ext4 flushes a file that is
    // truncated and written again when it is closed.
    for (const Sample &s : samples) {
      std::filesystem::remove(tree.path("d/._" + s.name));
      if (!tree.exists("d/" + s.name)) tree.file("d/" + s.name, "data");
      tree.file("d/._" + s.name, Str(s.sidecar));
    }
  }
  // Zaps every file from `first` on, wrapping around; 0 when all worked.
  int ZapAll(int first) {
    for (int k = 0; k < kFiles; ++k) {
      const Sample &s = samples[size_t((first + k) % kFiles)];
      if (ZapAndClearIcon(tree.path("d/" + s.name)) != noErr) return 1;
    }
    return 0;
  }
  // Checks every sidecar and the folder; returns the temporaries found.
  int CheckTree() {
    for (const Sample &s : samples) {
      bool exists = false;
      std::vector<UInt8> bytes = ReadFile(tree.path("d/._" + s.name), &exists);
      if (!exists) {
        EXPECT_TRUE(s.mayVanish) << s.name << ": sidecar vanished";
        continue;
      }
      EXPECT_EQ("", CheckSidecar(s, bytes)) << s.name;
    }
    int temporaries = 0;
    for (const auto &entry : std::filesystem::directory_iterator(tree.path("d"))) {
      std::string name = entry.path().filename().string();
      if (name.rfind(tv::files::kTemporaryPrefix, 0) == 0) {
        temporaries++;
        continue;
      }
      std::string item = name.rfind("._", 0) == 0 ? name.substr(2) : name;
      EXPECT_TRUE(item.size() > 1 && item[0] == 'f') << "unexpected " << name;
    }
    return temporaries;
  }

  tv::test::TempTree tree;
  std::vector<Sample> samples;
};

TEST_F(ForkCrashTest, KilledZapsLeaveEverySidecarOldOrNew) {
  for (int i = 0; i < kFiles; ++i) samples.push_back(MakeSample(i));
  std::random_device device;
  const unsigned seed = device();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);

  // One full run, to learn how long the work takes here.
  WriteSamples();
  auto start = std::chrono::steady_clock::now();
  long pid = tv::test::StartChild([&] { return ZapAll(0); });
  ASSERT_GT(pid, 0);
  ASSERT_EQ(0, tv::test::WaitChild(pid));
  const auto full = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
  EXPECT_EQ(0, CheckTree());

  int killed = 0, temporaries = 0;
  for (int round = 0; round < kRounds; ++round) {
    WriteSamples();
    const int first = int(random() % kFiles);
    // Within the first part of the run, so that most rounds are cut short
    // even when a run goes faster than the first one did.
    std::uniform_int_distribution<long> when(0, std::max<long>(1, long(full.count()) * 3 / 5));
    pid = tv::test::StartChild([&] { return ZapAll(first); });
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::microseconds(when(random)));
    killed += tv::test::KillChild(pid);
    temporaries = CheckTree();
    if (HasFailure()) return;
  }
  EXPECT_GT(killed, 0) << "no round was cut short";

  // A later run over what the dead processes left finishes the work; a
  // temporary they left is no item's metadata and is not touched.
  pid = tv::test::StartChild([&] { return ZapAll(0); });
  ASSERT_EQ(0, tv::test::WaitChild(pid));
  EXPECT_EQ(temporaries, CheckTree());
  for (const Sample &s : samples) {
    FSRef ref = tv::test::RefFor(tree.path("d/" + s.name));
    FSCatalogInfo info{};
    ASSERT_EQ(noErr, FSGetCatalogInfo(&ref, kFSCatInfoRsrcSizes | kFSCatInfoFinderInfo, &info, nullptr, nullptr, nullptr));
    EXPECT_EQ(0u, info.rsrcLogicalSize) << s.name;
    EXPECT_EQ(0, reinterpret_cast<FileInfo *>(info.finderInfo)->finderFlags & kHasCustomIcon) << s.name;
  }
  std::printf("[ info ] full run %lld us, %d of %d rounds killed, %d temporaries left\n",
              static_cast<long long>(full.count()), killed, kRounds, temporaries);
}

// The names in `folder` that start as rewrite temporaries do.
std::vector<std::string> Temporaries(const std::string &folder) {
  std::vector<std::string> found;
  std::error_code ec;
  for (const auto &entry : std::filesystem::directory_iterator(folder, ec)) {
    std::string name = entry.path().filename().string();
    if (name.rfind(tv::files::kTemporaryPrefix, 0) == 0) found.push_back(name);
  }
  return found;
}

// A file whose sidecar must be rewritten (an entry follows the fork) and
// is large enough that the rewrite takes a while: a signal can be sent
// while its temporary exists.
std::vector<UInt8> SlowRewriteSidecar() {
  const FinderInfoBytes info = fx::MakeFinderInfo(FOUR_CHAR_CODE("TEXT"), FOUR_CHAR_CODE("ttxt"), 0x0100);
  return fx::BuildAppleDouble(fx::kNetatalkFiller, {{tv::forks::kEntryResourceFork, fx::MakeResourceFork(300)},
                                                    {tv::forks::kEntryFinderInfo, {info.begin(), info.end()}},
                                                    {tv::forks::kEntryComment, std::vector<UInt8>(16 << 20, 'c')}});
}

TEST(TerminationTest, SignalsDuringARewriteLeaveNoTemporary) {
  const std::vector<UInt8> before = SlowRewriteSidecar();
  // One signal is a cancel, which lets the rewrite finish; a second ends the
  // process at once. (Two different signals: the kernel merges a second
  // SIGTERM into one still pending while a long write keeps the process in
  // the kernel.)
  struct Case {
    const char *name;
    std::vector<int> signals;
  };
  for (const Case &c : {Case{"term-hup", {SIGTERM, SIGHUP}}, Case{"hup", {SIGHUP}}}) {
    SCOPED_TRACE(c.name);
    tv::test::TempTree tree;
    std::string path = tree.file(std::string(c.name) + "/doc", "data");
    tree.file(std::string(c.name) + "/._doc", Str(before));
    const std::string folder = tree.path(c.name);
    tv::test::Spawned run({"run", "--yes", "Zap Resource Fork...", path});
    bool seen = false;
    for (int i = 0; i < 60000 && !seen; ++i) {
      seen = !Temporaries(folder).empty();
      if (!seen) std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    ASSERT_TRUE(seen) << "no rewrite was seen in flight";
    for (int sig : c.signals) run.Signal(sig);
    const int status = run.Wait();
    EXPECT_TRUE(Temporaries(folder).empty());
    std::ifstream in(folder + "/._doc", std::ios::binary | std::ios::ate);
    std::vector<UInt8> after(size_t(in.tellg()));
    in.seekg(0).read(reinterpret_cast<char *>(after.data()), std::streamsize(after.size()));
    AppleDoubleView view;
    ASSERT_EQ(tv::forks::ForkFormatError::kNone, tv::forks::ParseAppleDouble(after, &view));
    if (c.signals.size() == 1) {
      EXPECT_EQ(0, status) << run.err;
      EXPECT_TRUE(view.resourceFork().empty()) << "the cancel comes between files, after the rewrite";
    } else {
      EXPECT_TRUE(status == 128 + SIGTERM || status == 128 + SIGHUP) << status << run.err;
      EXPECT_TRUE(after == before || view.resourceFork().empty());
    }
  }
}

TEST(TerminationTest, AZapOfTheFolderRemovesOnlyDeadWritersTemporaries) {
  tv::test::TempTree tree;
  const std::vector<UInt8> metadata = fx::BuildSambaSidecar(FinderInfoBytes{}, fx::MakeResourceFork(40));
  tree.file("d/f", "data");
  tree.file("d/._f", Str(fx::BuildMacOSKernelSidecar(FinderInfoBytes{}, fx::TypicalAttributes(), fx::MakeResourceFork(40))));
  const std::string dead = ".tarrovel-tmp-0123456789abcdef", deeper = ".tarrovel-tmp-fedcba9876543210";
  const std::string notOurs = ".tarrovel-tmp-00000000000000aa", alive = ".tarrovel-tmp-00000000000000bb";
  const std::string linked = ".tarrovel-tmp-00000000000000cc";
  tree.file("d/" + dead, Str(metadata));
  tree.file("d/sub/" + deeper, Str(metadata));
  // Killed right after creating it, or part way through its header or
  // its entries: still AppleDouble as far as it goes.
  const std::vector<std::string> cut = {"", Str(metadata).substr(0, 5), Str(metadata).substr(0, 60)};
  const std::string cutNames[] = {".tarrovel-tmp-00000000000000d0", ".tarrovel-tmp-00000000000000d1",
                                  ".tarrovel-tmp-00000000000000d2"};
  for (size_t i = 0; i < cut.size(); i++) tree.file("d/" + cutNames[i], cut[i]);
  // A folder of that name is the user's: walked like any other.
  const std::string folder = ".tarrovel-tmp-00000000000000ee";
  tree.file("d/" + folder + "/g", "data");
  tree.file("d/" + folder + "/._g", Str(metadata));
  tree.file("d/" + notOurs, "a note that happens to bear the name");
  tree.file("d/" + alive, Str(metadata));
  tree.file("d/.tarrovel-tmp-0123abcd", Str(metadata));  // not the exact pattern
  tree.file("d/unrelated", Str(metadata));
  tree.file("elsewhere", Str(metadata));
  tree.symlink("d/" + linked, "../elsewhere");
  // A live writer holds its temporary locked while it writes.
  int held = open(tree.path("d/" + alive).c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(held, 0);
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  ASSERT_EQ(0, fcntl(held, F_OFD_SETLK, &lock));

  tv::test::WriteSettings(tree, false, true, false);
  tv::test::RunResult r = tv::test::Tarrovel({"run", "--yes", "Zap Resource Fork Recursively...", tree.path("d")});
  close(held);
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_FALSE(tree.exists("d/" + dead));
  EXPECT_FALSE(tree.exists("d/sub/" + deeper));
  for (const std::string &name : cutNames) EXPECT_FALSE(tree.exists("d/" + name)) << name;
  EXPECT_NE(r.err.find("Zap the resource forks of 4 file(s)"), std::string::npos) << r.err;
  EXPECT_EQ(tv::test::ResourceForkSize(tree.path("d/" + folder + "/g")), 0u);
  for (const std::string &kept : {notOurs, alive, std::string(".tarrovel-tmp-0123abcd"), linked, std::string("unrelated")})
    EXPECT_TRUE(tree.exists("d/" + kept)) << kept;
  EXPECT_EQ(Str(metadata), tree.read("elsewhere"));
  bool exists = false;
  std::vector<UInt8> zapped = ReadFile(tree.path("d/._f"), &exists);
  AppleDoubleView view;
  ASSERT_EQ(tv::forks::ForkFormatError::kNone, tv::forks::ParseAppleDouble(zapped, &view));
  EXPECT_TRUE(view.resourceFork().empty());
}

}  // namespace
