// What a listing leaves behind for the fork stores: which entries had a
// "._name" sidecar beside them.
#include "platform/Files.h"
#include "platform/files/Listing.h"
#include "platform/files/PathNodes.h"
#include "platform/files/Refs.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <map>

namespace tv::files {
namespace {

TEST(ListingHintsTest, EntriesKnowWhetherASidecarStoodBesideThem) {
  tv::test::TempTree tree;
  tree.file("d/plain");
  tree.file("d/mac");
  tree.file("d/._mac");
  tree.file("d/._orphan");
  tree.folder("d/folder");
  tree.file("d/._folder");
  tree.file("d/.tarrovel-tmp-0123456789abcdef");  // left by a killed rewrite: never listed
  FSRef folder;
  ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8 *>(tree.path("d").c_str()), &folder, nullptr), noErr);
  FSIterator it = nullptr;
  ASSERT_EQ(FSOpenIterator(&folder, kFSIterateFlat, &it), noErr);
  FSRef refs[10];
  ItemCount n = 0;
  EXPECT_EQ(FSGetCatalogInfoBulk(it, 10, &n, nullptr, kFSCatInfoNone, nullptr, refs, nullptr, nullptr),
            errFSNoMoreItems);
  FSCloseIterator(it);
  ASSERT_EQ(n, 4u);  // ._orphan, folder, mac, plain
  std::map<std::string, uint8_t> hints;
  for (ItemCount i = 0; i < n; i++) {
    RefFields fields;
    ASSERT_EQ(DecodeRef(&refs[i], &fields), noErr);
    hints[PathNodes().Name(fields.node)] = PathNodes().Hints(fields.node);
  }
  const uint8_t listed = PathNodeTable::kHintListed, withSidecar = listed | PathNodeTable::kHintSidecar;
  EXPECT_EQ(hints["plain"], listed);
  EXPECT_EQ(hints["mac"], withSidecar);
  EXPECT_EQ(hints["folder"], withSidecar | PathNodeTable::kHintOnFolderVolume);
  EXPECT_EQ(hints["._orphan"], listed);
}

}  // namespace
}  // namespace tv::files
