#include "selection/MyCMContext.h"

#include "platform/HostServices.h"
#include "tests/support/Selection.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

class SelectionContextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    liveAE_ = TVAEGetLiveDescriptorCount();
    liveCF_ = TVCFGetLiveObjectCount();
    liveHandles_ = TVGetLiveHandleCount();
  }
  void TearDown() override {
    EXPECT_EQ(TVAEGetLiveDescriptorCount(), liveAE_);
    EXPECT_EQ(TVCFGetLiveObjectCount(), liveCF_);
    EXPECT_EQ(TVGetLiveHandleCount(), liveHandles_);
  }
  tv::test::TempTree tree;
  CFIndex liveAE_ = 0, liveCF_ = 0, liveHandles_ = 0;
};

TEST_F(SelectionContextTest, EmptySelectionsAnswerFalseAndGiveAnEmptyIterator) {
  AEDesc null = {typeNull, nullptr};
  const AEDesc *hosts[] = {nullptr, &null};
  for (const AEDesc *host : hosts) {
    MyCMContext context = nullptr;
    ASSERT_STATUS(noErr, MyCMContextCreateWithContext(host, false, &context));
    EXPECT_EQ(MyCMContextGetItemCount(context), 0u);
    EXPECT_FALSE(MyCMContextContainsAlias(context));
    EXPECT_FALSE(MyCMContextContainsFolder(context));
    EXPECT_FALSE(MyCMContextContainsPlainFile(context));
    MyFSDirIter iter = MyCMContextGetIterater(context);
    ASSERT_NE(iter, nullptr);
    EXPECT_EQ(MyFSDirIterNext(iter), nullptr);
    EXPECT_STATUS(noErr, MyCMContextDispose(context));
  }
  EXPECT_STATUS(paramErr, MyCMContextCreateWithContext(nullptr, false, nullptr));
  EXPECT_STATUS(noErr, MyCMContextDispose(nullptr));
}

TEST_F(SelectionContextTest, FolderAndFileAreBothSeenAndIndexesOutsideGiveNothing) {
  AEDescList list = tv::test::MakeSelection({tree.folder("d"), tree.file("f", "x")});
  MyCMContext context = nullptr;
  ASSERT_STATUS(noErr, MyCMContextCreateWithContext(&list, false, &context));
  EXPECT_EQ(context->desc, &list);  // read in place
  EXPECT_EQ(MyCMContextGetItemCount(context), 2u);
  EXPECT_TRUE(MyCMContextContainsAlias(context));
  EXPECT_TRUE(MyCMContextContainsFolder(context));
  EXPECT_TRUE(MyCMContextContainsPlainFile(context));
  FSRef ref;
  EXPECT_FALSE(MyCMContextExtractFSRefAt(context, 0, &ref));
  EXPECT_FALSE(MyCMContextExtractFSRefAt(context, 3, &ref));
  EXPECT_EQ(MyCMContextExtractAliasAt(context, 0), nullptr);
  ASSERT_TRUE(MyCMContextExtractFSRefAt(context, 2, &ref));
  EXPECT_EQ(tv::test::PathOf(&ref), tree.path("f"));
  MyCMContextDispose(context);
  long count = 0;
  EXPECT_EQ(AECountItems(&list, &count), noErr);  // the host's list is untouched
  EXPECT_EQ(count, 2);
  AEDisposeDesc(&list);
}

TEST_F(SelectionContextTest, CopyReadsADuplicateAndASingleAliasBecomesAList) {
  AEDescList list = tv::test::MakeSelection({tree.file("f")});
  MyCMContext context = nullptr;
  ASSERT_STATUS(noErr, MyCMContextCreateWithContext(&list, true, &context));
  EXPECT_EQ(context->desc, &context->ownDesc);
  AEDisposeDesc(&list);  // the context has its own copy
  EXPECT_TRUE(MyCMContextContainsPlainFile(context));
  MyCMContextDispose(context);

  AliasHandle alias = nullptr;
  ASSERT_EQ(TVNewAliasFromPath(tree.path("f").c_str(), &alias), noErr);
  AEDesc single = {typeNull, nullptr};
  AECreateDesc(typeAlias, *alias, GetHandleSize(alias), &single);
  DisposeHandle(alias);
  ASSERT_STATUS(noErr, MyCMContextCreateWithContext(&single, false, &context));
  EXPECT_EQ(MyCMContextGetItemCount(context), 1u);
  EXPECT_TRUE(MyCMContextContainsAlias(context));
  MyCMContextDispose(context);
  AEDisposeDesc(&single);
}

TEST_F(SelectionContextTest, DeletedItemsCountButDoNotResolve) {
  std::string path = tree.file("gone", "x");
  AEDescList list = tv::test::MakeSelection({path});
  tv::test::Run({"rm", path});
  MyCMContext context = nullptr;
  ASSERT_STATUS(noErr, MyCMContextCreateWithContext(&list, false, &context));
  EXPECT_EQ(MyCMContextGetItemCount(context), 1u);
  EXPECT_FALSE(MyCMContextContainsAlias(context));
  MyFSDirIter iter = MyCMContextGetIterater(context);
  ASSERT_NE(iter, nullptr);
  EXPECT_EQ(MyFSDirIterNext(iter), nullptr);
  MyCMContextDispose(context);
  AEDisposeDesc(&list);
}

TEST_F(SelectionContextTest, IteratorIsBuiltOnceAndRewoundEachTime) {
  AEDescList list = tv::test::MakeSelection({tree.file("a"), tree.file("b")});
  MyCMContext context = nullptr;
  ASSERT_STATUS(noErr, MyCMContextCreateWithContext(&list, true, &context));
  MyFSDirIter first = MyCMContextGetIterater(context);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(MyFSDirIterNext(first), nullptr);
  ASSERT_NE(MyFSDirIterNext(first), nullptr);
  tv::test::Run({"rm", tree.path("a")});
  MyFSDirIter again = MyCMContextGetIterater(context);
  EXPECT_EQ(again, first);
  EXPECT_EQ(again->index, -1);
  const FSRef *ref = MyFSDirIterNext(again);  // the snapshot still holds "a"
  ASSERT_NE(ref, nullptr);
  EXPECT_NE(MyFSDirIterNext(again), nullptr);
  EXPECT_EQ(MyFSDirIterNext(again), nullptr);
  MyCMContextDispose(context);
  AEDisposeDesc(&list);
}

TEST_F(SelectionContextTest, FailedDuplicateOrCoercionLeavesNoContextAndNoLeak) {
  AEDescList list = tv::test::MakeSelection({tree.file("f")});
  MyCMContext context = reinterpret_cast<MyCMContext>(0x1);
  TVAEFailNthAllocation(1);
  EXPECT_STATUS(memFullErr, MyCMContextCreateWithContext(&list, true, &context));
  EXPECT_EQ(context, nullptr);

  AEDesc item = {typeNull, nullptr};
  ASSERT_EQ(AEGetNthDesc(&list, 1, typeWildCard, nullptr, &item), noErr);
  context = reinterpret_cast<MyCMContext>(0x1);
  TVAEFailNthAllocation(1);
  EXPECT_STATUS(memFullErr, MyCMContextCreateWithContext(&item, false, &context));
  EXPECT_EQ(context, nullptr);
  TVAEFailNthAllocation(0);
  AEDisposeDesc(&item);
  AEDisposeDesc(&list);
}

}  // namespace
