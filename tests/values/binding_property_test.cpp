// The generic value: kinds and reads, collections and structures, interning,
// moves and copies (within and across trees), results, and the release of
// every page and heap block a tree used, at any depth.
#include "values/binding_property.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "plugin/memory.h"
#include "values/property_arena.h"

namespace Zarn {
namespace {

uint64_t LiveHeapBytes() {
  const Memory::Counters counters = Memory::ReadCounters();
  return counters.bytesAllocated - counters.bytesFreed;
}

std::vector<std::string> Keys(const BindingProperty& node) {
  std::vector<std::string> keys;
  for (const auto& member : node.Members()) keys.emplace_back(member.Key());
  return keys;
}

uint32_t TextCount(const BindingProperty& root) {
  return root.Arena() == nullptr ? 0 : root.Arena()->TextCount();
}

// Every page and heap block a test's trees took must be back when they die.
class BindingPropertyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Memory::Free(Memory::Allocate(1));
    SlabPageSource::Instance();  // its table is made once, on first use
    blocksBefore_ = SlabPageSource::Instance().LiveBlockCount();
    heapBefore_ = LiveHeapBytes();
  }
  void TearDown() override {
    EXPECT_EQ(SlabPageSource::Instance().LiveBlockCount(), blocksBefore_);
    EXPECT_EQ(LiveHeapBytes(), heapBefore_);
    EXPECT_EQ(BindingProperty::Empty().Kind(), PropertyKind::Empty);
    EXPECT_EQ(BindingProperty::Empty().Arena(), nullptr);
  }

 private:
  uint32_t blocksBefore_ = 0;
  uint64_t heapBefore_ = 0;
};

TEST_F(BindingPropertyTest, KindNames) {
  const std::pair<PropertyKind, const char*> cases[] = {
      {PropertyKind::Empty, "empty"},   {PropertyKind::Bool, "bool"},
      {PropertyKind::Signed, "signed"}, {PropertyKind::Unsigned, "unsigned"},
      {PropertyKind::Float, "float"},   {PropertyKind::String, "string"},
      {PropertyKind::Blob, "blob"},     {PropertyKind::Enum, "enum"},
      {PropertyKind::Collection, "collection"}, {PropertyKind::Structure, "structure"},
      {static_cast<PropertyKind>(10), ""},      {static_cast<PropertyKind>(255), ""},
  };
  for (const auto& [kind, name] : cases) {
    EXPECT_STREQ(PropertyKindName(kind), name) << static_cast<int>(kind);
  }
}

TEST_F(BindingPropertyTest, ScalarsAndEmptyTextNeedNoArena) {
  BindingProperty node;
  EXPECT_EQ(node.Kind(), PropertyKind::Empty);
  EXPECT_EQ(node.Size(), 0u);
  EXPECT_TRUE(node.OwnsArena());
  node.SetBool(true);
  node.SetSigned(-5);
  node.SetUnsigned(5);
  node.SetFloat(2.5);
  node.SetString("");
  EXPECT_EQ(node.Kind(), PropertyKind::String);
  EXPECT_EQ(node.Size(), 0u);
  EXPECT_EQ(node.Arena(), nullptr);
  node.SetString("x");
  EXPECT_NE(node.Arena(), nullptr);
}

TEST_F(BindingPropertyTest, SizeAndIsDefault) {
  static const int kType = 0;
  const auto* type = reinterpret_cast<const StaticTypeId*>(&kType);
  struct Case {
    const char* label;
    std::function<void(BindingProperty&)> build;
    size_t size;
    bool isDefault;
  };
  const Case cases[] = {
      {"empty", [](BindingProperty&) {}, 0, true},
      {"false", [](BindingProperty& n) { n.SetBool(false); }, 1, true},
      {"true", [](BindingProperty& n) { n.SetBool(true); }, 1, false},
      {"signed 0", [](BindingProperty& n) { n.SetSigned(0); }, 1, true},
      {"signed -1", [](BindingProperty& n) { n.SetSigned(-1); }, 1, false},
      {"unsigned 0", [](BindingProperty& n) { n.SetUnsigned(0); }, 1, true},
      {"float -0.0", [](BindingProperty& n) { n.SetFloat(-0.0); }, 1, true},
      {"float NaN", [](BindingProperty& n) { n.SetFloat(std::nan("")); }, 1, false},
      {"float 1e-300", [](BindingProperty& n) { n.SetFloat(1e-300); }, 1, false},
      {"string \"0\"", [](BindingProperty& n) { n.SetString("0"); }, 1, false},
      {"string \"\"", [](BindingProperty& n) { n.SetString(""); }, 0, true},
      {"string of 3 bytes", [](BindingProperty& n) { n.SetString("\xC3\xA9x"); }, 3, false},
      {"enum 0", [type](BindingProperty& n) { n.SetEnum(0, type); }, 1, true},
      {"enum 3", [type](BindingProperty& n) { n.SetEnum(3, type); }, 1, false},
      {"blob empty", [](BindingProperty& n) { n.SetBlob(nullptr, 0); }, 0, true},
      {"blob 2", [](BindingProperty& n) { n.SetBlob(std::vector<uint8_t>{1, 2}); }, 2, false},
      {"collection empty", [](BindingProperty& n) { n.MakeCollection(); }, 0, true},
      {"collection of empty", [](BindingProperty& n) { n.Append(); }, 1, false},
      {"structure empty", [](BindingProperty& n) { n.MakeStructure(); }, 0, true},
      {"structure 2", [](BindingProperty& n) { n.Member("a"); n.Member("b"); }, 2, false},
  };
  for (const Case& c : cases) {
    BindingProperty node;
    c.build(node);
    EXPECT_EQ(node.Size(), c.size) << c.label;
    EXPECT_EQ(node.IsDefault(), c.isDefault) << c.label;
  }
}

TEST_F(BindingPropertyTest, TypedReadsTakeOnlyTheirOwnKind) {
  static const int kType = 0;
  const auto* type = reinterpret_cast<const StaticTypeId*>(&kType);
  BindingProperty node;
  node.SetUnsigned(7);
  EXPECT_EQ(node.GetSigned(-1), -1) << "unsigned is not read as signed";
  EXPECT_EQ(node.GetUnsigned(1), 7u);
  EXPECT_EQ(node.GetFloat(0.5), 0.5);
  node.SetSigned(-7);
  EXPECT_EQ(node.GetUnsigned(9), 9u);
  EXPECT_EQ(node.GetSigned(0), -7);
  node.SetBool(true);
  EXPECT_EQ(node.GetSigned(3), 3);
  EXPECT_TRUE(node.GetBool(false));
  node.SetString("12");
  EXPECT_EQ(node.GetSigned(0), 0);
  EXPECT_EQ(node.GetString("fallback"), "12");
  EXPECT_EQ(node.GetString().data()[2], '\0') << "texts are NUL-terminated";
  node.SetEnum(4, type);
  EXPECT_EQ(node.GetSigned(-2), -2);
  EXPECT_EQ(node.GetEnum().value, 4);
  EXPECT_EQ(node.GetEnum().type, type);
  EXPECT_EQ(node.GetString("fallback"), "fallback");
  EXPECT_EQ(node.GetString(), "");
  EXPECT_NE(node.GetString().data(), nullptr);
  const std::vector<uint8_t> fallback{9};
  EXPECT_EQ(&node.GetBlob(fallback), &fallback);
  EXPECT_TRUE(node.GetBlob().empty());
}

TEST_F(BindingPropertyTest, TextsAreCutAtTheirFirstNul) {
  BindingProperty node;
  node.SetString(std::string_view("a\0b", 3));
  EXPECT_EQ(node.GetString(), "a");
  EXPECT_EQ(node.Size(), 1u);
  node.Member(std::string_view("k\0x", 3)).SetSigned(1);
  EXPECT_EQ(Keys(node), std::vector<std::string>{"k"});
  EXPECT_EQ(node.FindMember(std::string_view("k\0y", 3)).GetSigned(), 1);
}

TEST_F(BindingPropertyTest, CollectionAccess) {
  BindingProperty node;
  BindingProperty& fourth = node.At(3);
  EXPECT_EQ(node.Kind(), PropertyKind::Collection);
  EXPECT_EQ(node.Size(), 4u);
  EXPECT_EQ(&fourth, &node.ElementAt(3));
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(node.ElementAt(i).Kind(), PropertyKind::Empty) << i;
    EXPECT_FALSE(node.ElementAt(i).OwnsArena()) << i;
    EXPECT_EQ(node.ElementAt(i).Arena(), node.Arena()) << i;
  }
  EXPECT_EQ(&node.ElementAt(4), &BindingProperty::Empty());
  node.At(1).SetSigned(11);
  node.Append().SetSigned(44);
  EXPECT_EQ(node.Size(), 5u);
  EXPECT_EQ(node.ElementAt(1).GetSigned(), 11);
  EXPECT_EQ(node.ElementAt(4).GetSigned(), 44);
  EXPECT_EQ(&node.At(1), &node.ElementAt(1)) << "At on an existing element appends nothing";
  EXPECT_EQ(node.Size(), 5u);

  // Growing through every storage tier keeps the elements.
  for (int64_t i = 5; i < 3000; ++i) node.Append().SetSigned(i);
  node.Reserve(10000);
  node.At(2999).SetString("last");
  for (int64_t i = 5; i < 2999; ++i) ASSERT_EQ(node.ElementAt(i).GetSigned(), i) << i;
  EXPECT_EQ(node.ElementAt(2999).GetString(), "last");

  // Indices from input can be absurd: refused without touching the elements.
  node.Reserve(SIZE_MAX);
  EXPECT_THROW(node.At(SIZE_MAX), std::bad_alloc);
  EXPECT_THROW(node.At(0x7FFFFFFF), std::bad_alloc);
  EXPECT_EQ(node.Size(), 3000u);
  EXPECT_EQ(node.ElementAt(2999).GetString(), "last");

  BindingProperty scalar;
  scalar.SetSigned(1);
  scalar.Reserve(8);
  EXPECT_EQ(scalar.Kind(), PropertyKind::Signed) << "Reserve only acts on collections";
  EXPECT_EQ(&scalar.ElementAt(0), &BindingProperty::Empty());
}

TEST_F(BindingPropertyTest, StructureAccess) {
  BindingProperty node;
  node.At(0).SetSigned(1);
  EXPECT_EQ(&node.FindMember("x"), &BindingProperty::Empty()) << "a collection has no members";
  EXPECT_EQ(node.MemberBegin(), node.MemberEnd());
  node.Member("x");
  EXPECT_EQ(node.Kind(), PropertyKind::Structure);
  EXPECT_EQ(node.Size(), 1u);
  EXPECT_EQ(node.FindMember("x").Kind(), PropertyKind::Empty);
  EXPECT_NE(&node.FindMember("x"), &BindingProperty::Empty());
  EXPECT_EQ(&node.FindMember("y"), &BindingProperty::Empty());
  EXPECT_EQ(&node.FindMember(""), &BindingProperty::Empty());
  node.Member("").SetSigned(5);
  EXPECT_EQ(node.FindMember("").GetSigned(), 5) << "the empty key is a key";

  // Member references stay valid while others are inserted.
  BindingProperty& x = node.Member("x");
  for (int i = 0; i < 500; ++i) node.Member("m" + std::to_string(i)).SetSigned(i);
  x.SetString("still here");
  EXPECT_EQ(node.FindMember("x").GetString(), "still here");
  EXPECT_EQ(&node.Member("x"), &x);
  EXPECT_EQ(node.Size(), 502u);
}

TEST_F(BindingPropertyTest, MembersIterateInUnsignedByteOrder) {
  struct Case {
    const char* label;
    std::vector<std::string> inserted;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"case before lower", {"b", "a", "B"}, {"B", "a", "b"}},
      {"prefix first", {"ab", "a", "abc", ""}, {"", "a", "ab", "abc"}},
      {"high bytes last", {"\xC3\xA9", "z", "\x7F", "\x01"}, {"\x01", "z", "\x7F", "\xC3\xA9"}},
      {"duplicates collapse", {"k", "k", "j", "k"}, {"j", "k"}},
  };
  for (const Case& c : cases) {
    BindingProperty node;
    for (const std::string& key : c.inserted) node.Member(key);
    EXPECT_EQ(Keys(node), c.expected) << c.label;
  }
}

TEST_F(BindingPropertyTest, MemberTreeStaysBalanced) {
  constexpr int kCount = 4096;
  const double bound = 1.45 * std::log2(kCount + 2.0);
  struct Order {
    const char* label;
    std::function<int(int)> key;
  };
  const Order orders[] = {
      {"ascending", [](int i) { return i; }},
      {"descending", [](int i) { return kCount - 1 - i; }},
      {"scattered", [](int i) { return (i * 2654435761u) % kCount; }},
      {"zigzag", [](int i) { return i % 2 == 0 ? i / 2 : kCount - 1 - i / 2; }},
  };
  for (const Order& order : orders) {
    BindingProperty node;
    for (int i = 0; i < kCount; ++i) {
      char key[16];
      std::snprintf(key, sizeof key, "%06d", order.key(i));
      node.Member(key).SetSigned(order.key(i));
    }
    EXPECT_EQ(node.Size(), static_cast<size_t>(kCount)) << order.label;
    EXPECT_LE(detail::MemberTreeHeight(node), bound) << order.label;
    int expected = 0;
    for (const auto& member : node.Members()) {
      ASSERT_EQ(member.Value().GetSigned(), expected) << order.label;
      ++expected;
    }
    EXPECT_EQ(expected, kCount) << order.label;
  }
}

TEST_F(BindingPropertyTest, TextsAreInternedPerTreeAndGoWithTheirLastUser) {
  BindingProperty tree;
  tree.Member("name").SetString("name");  // key and value: one entry
  tree.Member("other").SetString("name");
  EXPECT_EQ(TextCount(tree), 2u);
  EXPECT_EQ(tree.FindMember("name").GetString().data(), tree.FindMember("other").GetString().data());

  BindingProperty copy(tree);
  EXPECT_NE(copy.Arena(), tree.Arena());
  EXPECT_EQ(TextCount(copy), 2u);
  EXPECT_NE(copy.FindMember("name").GetString().data(), tree.FindMember("name").GetString().data())
      << "another tree holds its own copy";

  tree.Member("name").Clear();
  EXPECT_EQ(TextCount(tree), 2u) << "still a key and a value";
  tree.Member("other").SetSigned(1);
  EXPECT_EQ(TextCount(tree), 2u) << "still the key";
  tree.Member("list").Append().SetString("fresh");
  EXPECT_EQ(TextCount(tree), 4u);
  tree.Member("list").Clear();
  EXPECT_EQ(TextCount(tree), 3u);
  tree.SetSigned(0);
  EXPECT_EQ(TextCount(tree), 0u);
  EXPECT_EQ(TextCount(copy), 2u);
}

TEST_F(BindingPropertyTest, SettersMayReadFromTheNodeTheyReplace) {
  BindingProperty root;
  root.Member("a").SetString("a text long enough to leave the slab pools for sure, 80 bytes..");
  root.SetString(root.FindMember("a").GetString());
  EXPECT_EQ(root.GetString(), "a text long enough to leave the slab pools for sure, 80 bytes..");
  root.Member(root.GetString()).SetSigned(1);
  EXPECT_EQ(Keys(root), std::vector<std::string>{"a text long enough to leave the slab pools for sure, 80 bytes.."});

  BindingProperty blob;
  blob.SetBlob(std::vector<uint8_t>{1, 2, 3});
  blob.SetBlob(blob.GetBlob().data(), 2);
  EXPECT_EQ(blob.GetBlob(), (std::vector<uint8_t>{1, 2}));

  BindingResult result;
  result.SetError("first");
  result.SetError(result.Error());
  EXPECT_EQ(result.Error(), "first");
}

TEST_F(BindingPropertyTest, BlobsCopyOrTakeOverTheirBytes) {
  BindingProperty node;
  std::vector<uint8_t> bytes(100, 7);
  const uint8_t* storage = bytes.data();
  node.SetBlob(std::move(bytes));
  EXPECT_EQ(node.GetBlob().data(), storage) << "a moved vector keeps its storage";
  BindingProperty copy = node;
  EXPECT_EQ(copy.GetBlob(), node.GetBlob());
  EXPECT_NE(copy.GetBlob().data(), storage);
  node.Member("inner").SetBlob(storage, 0);  // frees the taken-over bytes
  node.Member("inner").Append().SetBlob(copy.GetBlob().data(), 3);
  EXPECT_EQ(node.FindMember("inner").ElementAt(0).Size(), 3u);
}

TEST_F(BindingPropertyTest, TakeFromBetweenRootsMoves) {
  BindingProperty source;
  source.Append().SetString("x");
  const PropertyArena* sourceArena = source.Arena();
  const BindingProperty* element = &source.ElementAt(0);
  BindingProperty target;
  target.Member("old").SetSigned(1);
  const PropertyArena* targetArena = target.Arena();

  target.TakeFrom(source);
  EXPECT_EQ(target.Arena(), sourceArena);
  EXPECT_EQ(&target.ElementAt(0), element) << "nothing was copied";
  EXPECT_EQ(source.Kind(), PropertyKind::Empty);
  EXPECT_EQ(source.Arena(), targetArena) << "the source keeps the arena it received";
  EXPECT_TRUE(source.OwnsArena());

  BindingProperty moved(std::move(target));
  EXPECT_EQ(moved.Arena(), sourceArena);
  EXPECT_EQ(target.Arena(), nullptr);
  EXPECT_EQ(moved.ElementAt(0).GetString(), "x");
}

TEST_F(BindingPropertyTest, TakeFromAMemberCopiesAndEmptiesIt) {
  BindingProperty tree;
  tree.Member("a").Member("b").SetString("deep");
  BindingProperty root;
  root.TakeFrom(tree.Member("a"));
  EXPECT_NE(root.Arena(), tree.Arena());
  EXPECT_TRUE(root.OwnsArena());
  EXPECT_EQ(root.FindMember("b").GetString(), "deep");
  EXPECT_EQ(tree.FindMember("a").Kind(), PropertyKind::Empty);
  EXPECT_EQ(tree.Size(), 1u);

  // A root moved into an element is copied into the parent's arena.
  BindingProperty list;
  list.Append().TakeFrom(root);
  EXPECT_EQ(root.Kind(), PropertyKind::Empty);
  EXPECT_EQ(list.ElementAt(0).FindMember("b").GetString(), "deep");
  EXPECT_EQ(list.ElementAt(0).Arena(), list.Arena());
}

TEST_F(BindingPropertyTest, CopiesAndMovesWithinOneTree) {
  // The source inside the target: the root takes its own member.
  BindingProperty root;
  root.Member("a").Member("b").Append().SetString("v");
  root.Member("c").SetSigned(3);
  root.TakeFrom(root.Member("a"));
  EXPECT_EQ(Keys(root), std::vector<std::string>{"b"});
  EXPECT_EQ(root.FindMember("b").ElementAt(0).GetString(), "v");

  // The target inside the source: a member receives a copy of the whole root.
  root.Member("b").CopyFrom(root);
  EXPECT_EQ(root.FindMember("b").FindMember("b").ElementAt(0).GetString(), "v");
  EXPECT_EQ(root.FindMember("b").Kind(), PropertyKind::Structure);

  // Siblings, and a member taking from its sibling.
  root.Member("x").CopyFrom(root.FindMember("b"));
  root.Member("y").TakeFrom(root.Member("x"));
  EXPECT_EQ(root.FindMember("x").Kind(), PropertyKind::Empty);
  EXPECT_EQ(root.FindMember("y").FindMember("b").ElementAt(0).GetString(), "v");

  // A node copying from, or taking from, itself keeps its value.
  root.CopyFrom(root);
  root.TakeFrom(root);
  root.Member("y").TakeFrom(root.Member("y"));
  EXPECT_EQ(root.FindMember("y").FindMember("b").ElementAt(0).GetString(), "v");

  // Taking from an ancestor clears the ancestor, and with it the taker.
  BindingProperty holder;
  holder.Member("p").Member("q").SetSigned(1);
  holder.Member("p").Member("q").TakeFrom(holder.Member("p"));
  EXPECT_EQ(holder.FindMember("p").Kind(), PropertyKind::Empty);
  EXPECT_EQ(holder.Size(), 1u);
}

TEST_F(BindingPropertyTest, AssignmentAndContainers) {
  // A root without an arena copying a scalar or the empty text needs none.
  BindingProperty scalar;
  scalar.SetSigned(-3);
  BindingProperty bare;
  bare = scalar;
  EXPECT_EQ(bare.GetSigned(), -3);
  EXPECT_EQ(bare.Arena(), nullptr);
  scalar.SetString("");
  bare = scalar;
  EXPECT_EQ(bare.Kind(), PropertyKind::String);
  EXPECT_EQ(bare.Arena(), nullptr);

  std::vector<BindingProperty> values(3);
  values[0].Member("k").SetString("v");
  values.resize(50);  // relocation moves the roots
  EXPECT_EQ(values[0].FindMember("k").GetString(), "v");
  BindingProperty copy;
  copy = values[0];
  values[0].Member("k").SetSigned(1);
  EXPECT_EQ(copy.FindMember("k").GetString(), "v");
  copy = std::move(values[0]);
  EXPECT_EQ(copy.FindMember("k").GetSigned(), 1);
  EXPECT_EQ(values[0].Kind(), PropertyKind::Empty);
}

TEST_F(BindingPropertyTest, Results) {
  BindingResult result;
  EXPECT_TRUE(result.Succeeded());
  EXPECT_EQ(result.Kind(), PropertyKind::Empty);
  EXPECT_EQ(result.Error(), "");
  result.At(2).SetSigned(1);
  result.Member("error");  // a succeeded result has no error whatever it holds
  result.Member("error").SetString("not an error");
  EXPECT_EQ(result.Error(), "");

  result.MakeCollection();
  result.Append().SetSigned(4);
  result.SetError("Value %1 for '%2' of type %3 is out of range", 128, "x", "int8");
  EXPECT_FALSE(result.Succeeded());
  EXPECT_EQ(result.Kind(), PropertyKind::Structure);
  EXPECT_EQ(Keys(result), std::vector<std::string>{"error"});
  EXPECT_EQ(result.Error(), "Value 128 for 'x' of type int8 is out of range");

  result.Member("error").SetSigned(3);
  EXPECT_EQ(result.Error(), "") << "an error member that is not a string";

  BindingResult other;
  other.SetError("moved");
  BindingResult target;
  target = std::move(other);
  EXPECT_FALSE(target.Succeeded());
  EXPECT_EQ(target.Error(), "moved");
  BindingResult copied;
  copied = target;
  EXPECT_FALSE(copied.Succeeded());
  EXPECT_EQ(copied.Error(), "moved");

  BindingProperty plain;
  plain.SetString("value");
  target = plain;
  EXPECT_TRUE(target.Succeeded());
  EXPECT_EQ(target.GetString(), "value");
  EXPECT_EQ(plain.GetString(), "value") << "a plain value is copied";
}

// Builds a chain of depth levels, alternating structures and collections.
void BuildChain(BindingProperty& root, int depth) {
  BindingProperty* node = &root;
  for (int level = 0; level < depth; ++level) {
    node = level % 2 == 0 ? &node->Member("next") : &node->At(0);
  }
  node->SetString("bottom");
}

int ChainDepth(const BindingProperty& root) {
  int depth = 0;
  const BindingProperty* node = &root;
  while (node->Kind() == PropertyKind::Structure || node->Kind() == PropertyKind::Collection) {
    node = node->Kind() == PropertyKind::Structure ? &node->FindMember("next") : &node->ElementAt(0);
    ++depth;
  }
  return node->GetString() == "bottom" ? depth : -1;
}

TEST_F(BindingPropertyTest, DeepTreesAreCopiedAndReleasedWithoutRecursion) {
  constexpr int kDepth = 100000;
  BindingProperty root;
  BuildChain(root, kDepth);
  ASSERT_EQ(ChainDepth(root), kDepth);

  BindingProperty copy(root);
  EXPECT_EQ(ChainDepth(copy), kDepth);

  // Walked release: a member's subtree, with the root kept.
  BindingProperty partial;
  partial.TakeFrom(copy.Member("next"));  // copies 99,999 levels, clears them in copy
  EXPECT_EQ(ChainDepth(partial), kDepth - 1);
  EXPECT_EQ(copy.Size(), 1u);
  EXPECT_EQ(copy.FindMember("next").Kind(), PropertyKind::Empty);

  // A blob at the bottom makes destruction walk the whole chain.
  BindingProperty* node = &root;
  while (node->Kind() != PropertyKind::String) {
    node = node->Kind() == PropertyKind::Structure ? &node->Member("next") : &node->At(0);
  }
  node->SetBlob(std::vector<uint8_t>(64, 1));
  BindingProperty withBlob = root;
  root.Clear();
  EXPECT_EQ(root.Kind(), PropertyKind::Empty);
  // withBlob, partial and copy go out of scope here.
}

TEST_F(BindingPropertyTest, PagesGoBackWithTheirTree) {
  SlabPageSource& source = SlabPageSource::Instance();
  const uint32_t before = source.LiveBlockCount();
  {
    BindingProperty tree;
    for (int i = 0; i < 2000; ++i) {
      BindingProperty& record = tree.Append();
      record.Member("id").SetUnsigned(i);
      record.Member("name").SetString("item " + std::to_string(i));
      record.Member("tags").Append().SetString("tag");
    }
    EXPECT_GT(source.LiveBlockCount(), before);
    // Clearing a subtree gives its emptied pages back one by one.
    BindingProperty half;
    half.CopyFrom(tree);
    for (int i = 0; i < 2000; ++i) half.At(i).Clear();
    tree.Clear();  // a root drops its arena's pages at once
    EXPECT_EQ(TextCount(tree), 0u);
    EXPECT_EQ(TextCount(half), 0u);
  }
  EXPECT_EQ(source.LiveBlockCount(), before);
}

}  // namespace
}  // namespace Zarn
