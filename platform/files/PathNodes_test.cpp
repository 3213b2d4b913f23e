#include "platform/files/PathNodes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tv::files;

TEST(PathNodeTableTest, InternsEachNameOncePerParentAndRebuildsPaths) {
  PathNodeTable t;
  uint32_t a = t.Intern(PathNodeTable::kRoot, "a");
  uint32_t b = t.Intern(a, "b");
  uint32_t b2 = t.Intern(PathNodeTable::kRoot, "b");
  EXPECT_EQ(a, t.Intern(PathNodeTable::kRoot, "a"));
  EXPECT_EQ(b, t.Intern(a, "b"));
  EXPECT_NE(b, b2);
  EXPECT_EQ("/a/b", t.Path(b));
  EXPECT_EQ("/b", t.Path(b2));
  EXPECT_EQ("/", t.Path(PathNodeTable::kRoot));
  EXPECT_EQ(a, t.Parent(b));
  EXPECT_EQ("b", t.Name(b));
  EXPECT_EQ(b, t.InternPath("//a///b"));
  EXPECT_EQ(PathNodeTable::kRoot, t.InternPath("/"));
}

TEST(PathNodeTableTest, RefusesWhatIsNotOneComponent) {
  PathNodeTable t;
  for (const char *bad : {"", ".", "..", "a/b"}) EXPECT_EQ(PathNodeTable::kNone, t.Intern(PathNodeTable::kRoot, bad));
  EXPECT_EQ(PathNodeTable::kNone, t.Intern(PathNodeTable::kRoot, std::string_view("a\0b", 3)));
  EXPECT_EQ(PathNodeTable::kNone, t.Intern(12345, "a"));
  EXPECT_EQ(PathNodeTable::kNone, t.InternPath("relative/path"));
  EXPECT_EQ(PathNodeTable::kNone, t.InternPath("/a/../b"));
  EXPECT_FALSE(t.Valid(99));
  EXPECT_EQ("", t.Path(99));
  EXPECT_EQ(PathNodeTable::kNone, t.Parent(99));
  // A listing interned as a batch: the table grows partway, bad names are
  // left out in place, and each node is the one Intern gives.
  std::vector<std::string> names;
  for (int i = 0; i < 3000; i++) names.push_back(i % 700 == 0 ? std::string("..") : "n" + std::to_string(i));
  std::vector<PathNodeTable::ListedName> listed;
  for (const std::string &n : names) listed.push_back({n, PathNodeTable::kHintListed, {}});
  std::vector<uint32_t> nodes(names.size());
  const uint32_t folder = t.Intern(PathNodeTable::kRoot, "folder");
  t.InternListed(folder, listed.data(), listed.size(), nodes.data());
  for (size_t i = 0; i < names.size(); i++) {
    EXPECT_EQ(nodes[i], i % 700 == 0 ? PathNodeTable::kNone : t.Intern(folder, names[i])) << names[i];
    if (nodes[i] != PathNodeTable::kNone) {
      EXPECT_EQ(PathNodeTable::kHintListed, t.Hints(nodes[i]));
    }
  }
}

TEST(PathNodeTableTest, KeepsNamesOfAnyByteValueAndMaximalLength) {
  PathNodeTable t;
  std::string odd = "\xff\x01 caf\xc3\xa9\r";
  std::string longName(255, 'n');
  uint32_t n1 = t.Intern(PathNodeTable::kRoot, odd);
  uint32_t n2 = t.Intern(n1, longName);
  EXPECT_EQ("/" + odd + "/" + longName, t.Path(n2));
}

TEST(PathNodeTableTest, AMillionNodesStayWellUnderAHundredBytesEachBeyondTheirNames) {
  PathNodeTable t;
  // A tree like a big walk: 1000 folders of 1000 files.
  size_t nameBytes = 0;
  for (int d = 0; d < 1000; d++) {
    std::string folder = "folder-" + std::to_string(d);
    nameBytes += folder.size();
    uint32_t parent = t.Intern(PathNodeTable::kRoot, folder);
    for (int f = 0; f < 1000; f++) {
      std::string name = "file-" + std::to_string(f) + ".txt";
      nameBytes += name.size();
      ASSERT_NE(PathNodeTable::kNone, t.Intern(parent, name));
    }
  }
  ASSERT_EQ(1000u * 1001u + 1u, t.Size());
  // Every node still found where it was put.
  EXPECT_EQ("/folder-999/file-999.txt", t.Path(t.InternPath("/folder-999/file-999.txt")));
  EXPECT_EQ(1000u * 1001u + 1u, t.Size());
  double perNode = double(t.MemoryBytes() - nameBytes) / double(t.Size());
  EXPECT_LT(perNode, 60.0);
}
