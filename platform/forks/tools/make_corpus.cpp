// Writes the seed corpus of sidecar_fuzz into the current folder: one small
// file per layout the fixture builders know. Not part of any target; build
// and run it by hand from the source root when the builders change:
//   c++ -std=c++20 -I. platform/forks/tools/make_corpus.cpp \
//       $(ls platform/forks/*.cpp | grep -v -e _test -e _fuzz) tests/support/Sidecars.cpp -o /tmp/make_corpus
//   (cd platform/forks/corpus && /tmp/make_corpus)
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/Sidecars.h"
#include "platform/forks/SidecarPlan.h"

using namespace tv::forks;
using namespace tv::test;

static void Write(const std::string &name, const std::vector<UInt8> &bytes) {
  std::FILE *file = std::fopen(name.c_str(), "wb");
  if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || std::fclose(file) != 0) {
    std::perror(name.c_str());
    std::exit(1);
  }
}

int main() {
  const FinderInfoBytes info = MakeFinderInfo(FOUR_CHAR_CODE("TEXT"), FOUR_CHAR_CODE("ttxt"), 0x0400);
  const FinderInfoBytes none{};
  const std::vector<Attribute> quarantine = {TypicalAttributes()[0]};
  const std::vector<UInt8> fork = MakeResourceFork(24);
  Write("macos-kernel-blank-quarantine", BuildMacOSKernelSidecar(none, quarantine));
  Write("copyfile-attrs-fork", BuildCopyfileSidecar(info, TypicalAttributes(), fork));
  Write("copyfile-new-sidecar", BuildSidecarWithFinderInfo(info));
  Write("copyfile-old", BuildOldCopyfileSidecar(info, fork));
  Write("samba-empty", BuildSambaSidecar(none));
  Write("samba-fork", BuildSambaSidecar(info, fork));
  Write("unarchiver-attrs", BuildUnarchiverSidecar(info, fork, quarantine));
  Write("fork-first-attrs", BuildForkFirstSidecar(info, fork, quarantine));
  // The ATTR block's entries beyond the first 64 KiB of the file.
  Write("fork-first-attrs-past-64k", BuildForkFirstSidecar(info, MakeResourceFork(65400), TypicalAttributes()));
  Write("comment-after-fork",
        BuildAppleDouble(kZeroFiller, {{kEntryFinderInfo, {info.begin(), info.end()}},
                                       {kEntryResourceFork, fork},
                                       {kEntryComment, {}}}));
  Write("applesingle",
        BuildAppleDouble(kZeroFiller, {{kEntryDataFork, BytesOf("data")}, {kEntryResourceFork, fork}}, {},
                         kAppleSingleMagic));
  Write("netatalk-metadata", BuildNetatalkMetadata(info));
  Write("afpinfo", BuildAfpInfo(info));
  Write("afp-resource", BuildAfpResource(fork));
  return 0;
}
