// TreeBuilder: the trees it builds are those of the same events played as
// Append, Member and the setters; repeated keys merge; texts are shared
// through its cache without leaving references behind; an unfinished build
// still leaves a whole tree that gives everything back.
#include "values/tree_builder.h"

#include <gtest/gtest.h>

#include <string>

#include "plugin/memory.h"
#include "value_text.h"
#include "values/property_arena.h"
#include "values/slab_pool.h"

namespace Zarn {
namespace {

uint64_t LiveHeapBytes() {
  const Memory::Counters counters = Memory::ReadCounters();
  return counters.bytesAllocated - counters.bytesFreed;
}

uint32_t TextCount(const BindingProperty& root) {
  return root.Arena() == nullptr ? 0 : root.Arena()->TextCount();
}

class TreeBuilderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Memory::Free(Memory::Allocate(1));
    SlabPageSource::Instance();
    blocksBefore_ = SlabPageSource::Instance().LiveBlockCount();
    heapBefore_ = LiveHeapBytes();
  }
  void TearDown() override {
    EXPECT_EQ(SlabPageSource::Instance().LiveBlockCount(), blocksBefore_);
    EXPECT_EQ(LiveHeapBytes(), heapBefore_);
  }

 private:
  uint32_t blocksBefore_ = 0;
  uint64_t heapBefore_ = 0;
};

TEST_F(TreeBuilderTest, ScalarsAtTheRootNeedNoArena) {
  BindingProperty root;
  {
    TreeBuilder builder(root);
    builder.Float(1.5);
  }
  EXPECT_EQ(RenderValue(root), "f1.5");
  EXPECT_EQ(root.Arena(), nullptr);
  {
    TreeBuilder builder(root);
    builder.String("");
  }
  EXPECT_EQ(RenderValue(root), "\"\"");
  EXPECT_EQ(root.Arena(), nullptr);
}

TEST_F(TreeBuilderTest, BuildsNestedContainers) {
  BindingProperty root;
  {
    TreeBuilder builder(root);
    builder.StartStructure();
    builder.Key("list");
    builder.StartCollection();
    builder.Unsigned(1);
    builder.Signed(-2);
    builder.StartCollection();
    builder.EndCollection();
    builder.StartCollection();
    builder.Bool(true);
    builder.Null();
    builder.EndCollection();
    builder.StartStructure();
    builder.Key("x");
    builder.String("y");
    builder.EndStructure();
    builder.Float(0.25);
    builder.EndCollection();
    builder.Key("b");
    builder.Bool(false);
    builder.Key("a");
    builder.String("x");
    EXPECT_EQ(builder.Depth(), 1u);
    builder.EndStructure();
    EXPECT_EQ(builder.Depth(), 0u);
  }
  EXPECT_EQ(RenderValue(root), "{a:\"x\",b:false,list:[u1,s-2,[],[true,null],{x:\"y\"},f0.25]}");
  // "x" serves as a key and as a value: one entry; and "y", "a", "b", "list".
  EXPECT_EQ(TextCount(root), 5u);
  // The element array holds exactly its elements.
  EXPECT_EQ(root.FindMember("list").Size(), 6u);
}

TEST_F(TreeBuilderTest, RepeatedKeysMergeAsMemberDoes) {
  BindingProperty root;
  {
    TreeBuilder builder(root);
    builder.StartStructure();
    builder.Key("s");
    builder.String("first");
    builder.Key("s");
    builder.String("second");
    builder.Key("o");
    builder.StartStructure();
    builder.Key("x");
    builder.Unsigned(1);
    builder.EndStructure();
    builder.Key("o");
    builder.StartStructure();
    builder.Key("y");
    builder.Unsigned(2);
    builder.Key("x");
    builder.Unsigned(3);
    builder.EndStructure();
    builder.Key("l");
    builder.StartCollection();
    builder.Unsigned(1);
    builder.EndCollection();
    builder.Key("l");
    builder.StartCollection();
    builder.Unsigned(2);
    builder.Unsigned(3);
    builder.EndCollection();
    builder.Key("n");
    builder.Unsigned(1);
    builder.Key("n");
    builder.StartCollection();
    builder.Unsigned(4);
    builder.EndCollection();
    builder.EndStructure();
  }
  EXPECT_EQ(RenderValue(root), "{l:[u1,u2,u3],n:[u4],o:{x:u3,y:u2},s:\"second\"}");
  // "first" went when it was replaced, once the builder let go of it.
  EXPECT_EQ(TextCount(root), 7u);
  EXPECT_EQ(root.Arena()->FindText("first", Fnv1aHash("first")), nullptr);
}

TEST_F(TreeBuilderTest, AddsToAnExistingTree) {
  BindingProperty root;
  root.Member("kept").SetUnsigned(7);
  root.Member("list").Append().SetString("old");
  {
    TreeBuilder builder(root);
    builder.StartStructure();
    builder.Key("list");
    builder.StartCollection();
    builder.String("old");
    builder.String("new");
    builder.EndCollection();
    builder.EndStructure();
  }
  EXPECT_EQ(RenderValue(root), "{kept:u7,list:[\"old\",\"old\",\"new\"]}");
  EXPECT_EQ(TextCount(root), 4u);
  // A scalar at a root that held a tree replaces it.
  {
    TreeBuilder builder(root);
    builder.Signed(-1);
  }
  EXPECT_EQ(RenderValue(root), "s-1");
}

TEST_F(TreeBuilderTest, TextsEndAtTheirFirstNul) {
  BindingProperty root;
  {
    TreeBuilder builder(root);
    builder.StartCollection();
    builder.String("ab");
    builder.String(std::string_view("ab\0cd", 5));
    builder.String(std::string_view("\0x", 2));
    builder.StartStructure();
    builder.Key(std::string_view("k\0ey", 4));
    builder.Unsigned(1);
    builder.Key("k");
    builder.Unsigned(2);
    builder.EndStructure();
    builder.EndCollection();
  }
  EXPECT_EQ(RenderValue(root), "[\"ab\",\"ab\",\"\",{k:u2}]");
  EXPECT_EQ(TextCount(root), 2u);
}

TEST_F(TreeBuilderTest, ManyTextsShareEntriesAndLeaveExactCounts) {
  BindingProperty root;
  BindingProperty expected;
  {
    TreeBuilder builder(root);
    builder.StartCollection();
    for (int round = 0; round < 3; ++round) {
      for (int i = 0; i < 3000; ++i) {
        const std::string text = "text number " + std::to_string(i);
        builder.StartStructure();
        builder.Key(text);
        builder.String(text);
        builder.Key("id");
        builder.Unsigned(static_cast<uint64_t>(i));
        builder.EndStructure();
        BindingProperty& record = expected.Append();
        record.Member(text).SetString(text);
        record.Member("id").SetUnsigned(static_cast<uint64_t>(i));
      }
    }
    builder.EndCollection();
  }
  EXPECT_EQ(RenderValue(root), RenderValue(expected));
  EXPECT_EQ(TextCount(root), 3001u);
  // Every reference the builder held is gone: clearing all users empties the
  // table.
  for (size_t i = 0; i < root.Size(); ++i) root.At(i).Clear();
  EXPECT_EQ(TextCount(root), 0u);
}

TEST_F(TreeBuilderTest, UnfinishedBuildLeavesAWholeTree) {
  BindingProperty root;
  {
    TreeBuilder builder(root);
    builder.StartStructure();
    builder.Key("a");
    builder.StartCollection();
    builder.Unsigned(1);
    builder.StartCollection();
    builder.String("deep");
    builder.StartStructure();
    builder.Key("b");
    // The input stops here.
  }
  EXPECT_EQ(RenderValue(root), "{a:[u1,[\"deep\",{b:null}]]}");
  BindingProperty copy = root;
  EXPECT_EQ(RenderValue(copy), RenderValue(root));
}

TEST_F(TreeBuilderTest, LongCollectionsAndDeepNesting) {
  BindingProperty root;
  {
    TreeBuilder builder(root);
    for (int level = 0; level < 100; ++level) builder.StartCollection();
    for (int i = 0; i < 5000; ++i) builder.Unsigned(static_cast<uint64_t>(i));
    EXPECT_EQ(builder.Depth(), 100u);
    for (int level = 0; level < 100; ++level) builder.EndCollection();
  }
  const BindingProperty* node = &root;
  for (int level = 0; level < 99; ++level) {
    ASSERT_EQ(node->Size(), 1u);
    node = &node->ElementAt(0);
  }
  ASSERT_EQ(node->Size(), 5000u);
  EXPECT_EQ(node->ElementAt(4999).GetUnsigned(), 4999u);
}

TEST(SlabPageSourceCache, KeepsABoundedNumberOfFreeBlocks) {
  SlabPageSource& source = SlabPageSource::Instance();
  source.ReleaseCachedBlocks();
  EXPECT_EQ(source.CachedBlockCount(), 0u);
  const uint32_t liveBefore = source.LiveBlockCount();
  constexpr uint32_t kBlocks = kCachedBlockLimit + 4;
  std::vector<void*> pages;
  for (uint32_t i = 0; i < kBlocks * kPagesPerBlock; ++i) pages.push_back(source.TakePage());
  EXPECT_EQ(source.LiveBlockCount(), liveBefore + kBlocks);
  for (void* page : pages) source.ReturnPage(page);
  EXPECT_EQ(source.LiveBlockCount(), liveBefore) << "a block with all its pages back is not live";
  EXPECT_EQ(source.CachedBlockCount(), kCachedBlockLimit) << "blocks beyond the cache go at once";

  // A cached block comes back like a new one: lowest page first, in order.
  void* first = source.TakePage();
  EXPECT_EQ(reinterpret_cast<uintptr_t>(first) % (64 * 1024), 0u);
  EXPECT_EQ(source.CachedBlockCount(), kCachedBlockLimit - 1);
  void* second = source.TakePage();
  EXPECT_EQ(reinterpret_cast<uintptr_t>(second), reinterpret_cast<uintptr_t>(first) + kSlabPageSize);
  static_cast<unsigned char*>(second)[kSlabPageSize - 1] = 1;  // writable
  source.ReturnPage(first);
  source.ReturnPage(second);
  EXPECT_EQ(source.CachedBlockCount(), kCachedBlockLimit);
  source.ReleaseCachedBlocks();
  EXPECT_EQ(source.CachedBlockCount(), 0u);
  EXPECT_EQ(source.LiveBlockCount(), liveBefore);
}

}  // namespace
}  // namespace Zarn
