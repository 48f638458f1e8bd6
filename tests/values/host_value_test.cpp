// Host value exchange: the records' bytes as the core reads them, round trips
// through host records for trees of every kind, the refusals and their exact
// messages, trees far deeper than any thread stack, and the release of every
// byte the records own (also when memory runs out half way).
#include "values/host_value.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "binding/binding_registry.h"
#include "binding/builtin_types.h"
#include "plugin/memory.h"
#include "values/binding_property.h"
#include "values/property_arena.h"

namespace Zarn {
namespace {

constexpr size_t kPtr = sizeof(void*);

uint64_t LiveHeapBytes() {
  const Memory::Counters counters = Memory::ReadCounters();
  return counters.bytesAllocated - counters.bytesFreed;
}

template <typename T>
T ReadAt(const void* base, size_t offset) {
  T value;
  std::memcpy(&value, static_cast<const unsigned char*>(base) + offset, sizeof value);
  return value;
}

bool IsAllZero(const HostValue& record) {
  const unsigned char zeros[sizeof(HostValue)] = {};
  return std::memcmp(&record, zeros, sizeof record) == 0;
}

// A canonical text of a tree: kinds, values (floats bit-exact), keys in
// iteration order.
std::string Describe(const BindingProperty& node) {
  char buffer[64];
  switch (node.Kind()) {
    case PropertyKind::Empty:
      return "empty";
    case PropertyKind::Bool:
      return node.GetBool() ? "true" : "false";
    case PropertyKind::Signed:
      std::snprintf(buffer, sizeof buffer, "s%" PRId64, node.GetSigned());
      return buffer;
    case PropertyKind::Unsigned:
      std::snprintf(buffer, sizeof buffer, "u%" PRIu64, node.GetUnsigned());
      return buffer;
    case PropertyKind::Float: {
      const double value = node.GetFloat();
      uint64_t bits;
      std::memcpy(&bits, &value, sizeof bits);
      std::snprintf(buffer, sizeof buffer, "f%016" PRIx64, bits);
      return buffer;
    }
    case PropertyKind::String:
      return "'" + std::string(node.GetString()) + "'";
    case PropertyKind::Blob: {
      std::string text = "blob[";
      for (uint8_t byte : node.GetBlob()) text += std::to_string(byte) + ",";
      return text + "]";
    }
    case PropertyKind::Enum:
      return "enum" + std::to_string(node.GetEnum().value);
    case PropertyKind::Collection: {
      std::string text = "[";
      for (size_t i = 0; i < node.Size(); ++i) text += Describe(node.ElementAt(i)) + ",";
      return text + "]";
    }
    case PropertyKind::Structure: {
      std::string text = "{";
      for (const auto& member : node.Members()) {
        text += std::string(member.Key()) + ":" + Describe(member.Value()) + ",";
      }
      return text + "}";
    }
  }
  return "?";
}

// Host records built the way the core builds them, from the tracked
// allocator, so ReleaseHostValue can give them back.
HostValue HostSigned(int64_t value) {
  HostValue record{};
  record.kind = 2;
  record.signedValue = value;
  return record;
}
HostValue HostKind(int32_t kind) {
  HostValue record{};
  record.kind = kind;
  return record;
}
HostValue HostText(const char* text, uint32_t length, int32_t kind = 5) {
  HostValue record{};
  record.kind = kind;
  record.text.text = text;
  record.text.length = length;
  return record;
}
HostValue HostOwnedText(const char* text) {
  return HostText(Memory::Duplicate(text), static_cast<uint32_t>(std::strlen(text)), 6);
}
HostValue HostCollection(std::vector<HostValue> elements) {
  HostValue record{};
  record.kind = 9;
  record.collection.count = static_cast<uint32_t>(elements.size());
  if (!elements.empty()) {
    auto* array = static_cast<HostValue*>(Memory::Allocate(elements.size() * sizeof(HostValue)));
    std::memcpy(static_cast<void*>(array), elements.data(), elements.size() * sizeof(HostValue));
    record.collection.elements = array;
  }
  return record;
}
struct Entry {
  const char* key;
  HostValue value;
  bool ownKey = true;
};
HostValue HostStructure(std::vector<Entry> entries) {
  HostValue record{};
  record.kind = 10;
  record.structure.count = static_cast<uint32_t>(entries.size());
  if (!entries.empty()) {
    auto* array = static_cast<HostMemberEntry*>(Memory::Allocate(entries.size() * sizeof(HostMemberEntry)));
    for (size_t i = 0; i < entries.size(); ++i) {
      HostMemberEntry entry{};
      entry.key = entries[i].ownKey && entries[i].key != nullptr ? Memory::Duplicate(entries[i].key) : entries[i].key;
      entry.value = entries[i].value;
      entry.ownsKey = entries[i].ownKey && entries[i].key != nullptr ? 1 : 0;
      std::memcpy(static_cast<void*>(&array[i]), &entry, sizeof entry);
    }
    record.structure.entries = array;
  }
  return record;
}

// Every heap byte and slab block a test took must be back when it ends.
class HostValueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Memory::Free(Memory::Allocate(1));
    { SCOPED_TRACE("the trace stack keeps its storage once used"); }
    SlabPageSource::Instance();
    blocksBefore_ = SlabPageSource::Instance().LiveBlockCount();
    heapBefore_ = LiveHeapBytes();
  }
  void TearDown() override {
    EXPECT_EQ(SlabPageSource::Instance().LiveBlockCount(), blocksBefore_);
    EXPECT_EQ(LiveHeapBytes(), heapBefore_) << "host records or trees were not given back";
  }

 private:
  uint32_t blocksBefore_ = 0;
  uint64_t heapBefore_ = 0;
};

TEST_F(HostValueTest, KindNamesAndDescriptionCodes) {
  const std::pair<int32_t, const char*> names[] = {
      {0, ""},           {1, "bool"},       {2, "signed"},    {3, "unsigned"},  {4, "float"},
      {5, "string"},     {6, "string"},     {7, "blob"},      {8, "blob"},      {9, "collection"},
      {10, "structure"}, {11, ""},          {-1, ""},         {std::numeric_limits<int32_t>::min(), ""},
  };
  for (const auto& [code, name] : names) EXPECT_STREQ(HostKindName(code), name) << "code " << code;

  const std::pair<uint32_t, uint32_t> codes[] = {{0, 0}, {1, 1}, {13, 13}, {19, 19}, {20, 0}, {0xFFFFFFFFu, 0}};
  for (const auto& [kind, code] : codes) EXPECT_EQ(HostKindCode(kind), code) << "binding kind " << kind;
}

// What the core reads, byte by byte: the kind code at 0, the payload from 4,
// pointer then count for the reference kinds, members with owned keys and
// the ownsKey byte after the value.
TEST_F(HostValueTest, RecordsAsTheCoreReadsThem) {
  BindingProperty tree;
  tree.Member("b").SetSigned(-2);
  tree.Member("a").SetString("xyz");
  tree.Member("c").SetBlob(std::vector<uint8_t>{7, 0, 9});
  tree.Member("d").Append().SetFloat(2.5);
  tree.Member("d").Append().SetBool(true);
  tree.Member("e").SetUnsigned(0xFFFFFFFFFFFFFFFFull);

  HostValue record{};
  ASSERT_TRUE(ToHostValue(record, tree, nullptr));
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&record);
  ASSERT_EQ(ReadAt<int32_t>(bytes, 0), 10);
  ASSERT_EQ(ReadAt<uint32_t>(bytes, 4 + kPtr), 5u);
  const unsigned char* entries = ReadAt<const unsigned char*>(bytes, 4);
  const size_t entrySize = kPtr + (4 + 8 + (kPtr - 4)) + 1;  // 17 in 32-bit builds
  ASSERT_EQ(entrySize, sizeof(HostMemberEntry));

  const char* const keys[] = {"a", "b", "c", "d", "e"};
  const int32_t kinds[] = {6, 2, 8, 9, 3};
  for (size_t i = 0; i < 5; ++i) {
    SCOPED_TRACE(keys[i]);
    const unsigned char* entry = entries + i * entrySize;
    EXPECT_STREQ(ReadAt<const char*>(entry, 0), keys[i]);
    EXPECT_EQ(entry[entrySize - 1], 1) << "ownsKey";
    EXPECT_EQ(ReadAt<int32_t>(entry, kPtr), kinds[i]);
  }
  const unsigned char* a = entries + kPtr;  // the value of "a"
  EXPECT_STREQ(ReadAt<const char*>(a, 4), "xyz");
  EXPECT_EQ(ReadAt<uint32_t>(a, 4 + kPtr), 3u);
  EXPECT_EQ(ReadAt<int64_t>(entries + entrySize + kPtr, 4), -2);
  const unsigned char* c = entries + 2 * entrySize + kPtr;
  const uint8_t* blob = ReadAt<const uint8_t*>(c, 4);
  ASSERT_EQ(ReadAt<uint32_t>(c, 4 + kPtr), 3u);
  EXPECT_EQ(blob[0], 7);
  EXPECT_EQ(blob[1], 0);
  EXPECT_EQ(blob[2], 9);
  const unsigned char* d = entries + 3 * entrySize + kPtr;
  ASSERT_EQ(ReadAt<uint32_t>(d, 4 + kPtr), 2u);
  const unsigned char* elements = ReadAt<const unsigned char*>(d, 4);
  EXPECT_EQ(ReadAt<int32_t>(elements, 0), 4);
  EXPECT_EQ(ReadAt<double>(elements, 4), 2.5);
  EXPECT_EQ(ReadAt<int32_t>(elements + sizeof(HostValue), 0), 1);
  EXPECT_EQ(elements[sizeof(HostValue) + 4], 1);
  EXPECT_EQ(ReadAt<uint64_t>(entries + 4 * entrySize + kPtr, 4), 0xFFFFFFFFFFFFFFFFull);

  ReleaseHostValue(record);
  EXPECT_TRUE(IsAllZero(record));
}

// BindingProperty -> HostValue -> BindingProperty gives the same tree, and
// releasing the record gives back every byte.
TEST_F(HostValueTest, RoundTripsTreesOfEveryKind) {
  struct Case {
    const char* label;
    std::function<void(BindingProperty&)> build;
  };
  const Case cases[] = {
      {"empty", [](BindingProperty&) {}},
      {"false", [](BindingProperty& p) { p.SetBool(false); }},
      {"true", [](BindingProperty& p) { p.SetBool(true); }},
      {"int64 min", [](BindingProperty& p) { p.SetSigned(std::numeric_limits<int64_t>::min()); }},
      {"-1", [](BindingProperty& p) { p.SetSigned(-1); }},
      {"uint64 max", [](BindingProperty& p) { p.SetUnsigned(std::numeric_limits<uint64_t>::max()); }},
      {"-0.0", [](BindingProperty& p) { p.SetFloat(-0.0); }},
      {"infinity", [](BindingProperty& p) { p.SetFloat(std::numeric_limits<double>::infinity()); }},
      {"denormal", [](BindingProperty& p) { p.SetFloat(std::numeric_limits<double>::denorm_min()); }},
      {"empty string", [](BindingProperty& p) { p.SetString(""); }},
      {"utf-8 string", [](BindingProperty& p) { p.SetString("caf\xc3\xa9 \xe2\x82\xac"); }},
      {"empty blob", [](BindingProperty& p) { p.SetBlob(nullptr, 0); }},
      {"blob with NULs", [](BindingProperty& p) { p.SetBlob(std::vector<uint8_t>{0, 255, 0, 1}); }},
      {"empty collection", [](BindingProperty& p) { p.MakeCollection(); }},
      {"empty structure", [](BindingProperty& p) { p.MakeStructure(); }},
      {"collection of every scalar",
       [](BindingProperty& p) {
         p.Append();
         p.Append().SetBool(true);
         p.Append().SetSigned(-5);
         p.Append().SetUnsigned(5);
         p.Append().SetFloat(0.1);
         p.Append().SetString("s");
         p.Append().SetBlob(std::vector<uint8_t>{1});
       }},
      {"structure keys out of order",
       [](BindingProperty& p) {
         p.Member("b").SetSigned(1);
         p.Member("B").SetSigned(2);
         p.Member("a").SetString("b");  // the same text as key and value
         p.Member("").SetBool(false);
       }},
      {"nested",
       [](BindingProperty& p) {
         BindingProperty& list = p.Member("list");
         list.Append().Member("x").MakeCollection();
         list.Append().Member("y").Append().Append().SetString("deep");
         list.Append().MakeStructure();
         p.Member("empty").Clear();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    BindingProperty source;
    c.build(source);
    HostValue record{};
    ASSERT_TRUE(ToHostValue(record, source, nullptr));
    HostResult result{};
    BindingProperty back;
    back.SetString("previous contents");
    ASSERT_TRUE(FromHostValue(result, back, record, "value"));
    EXPECT_EQ(Describe(back), Describe(source));
    EXPECT_EQ(result.failed, 0);
    EXPECT_EQ(result.errorText, nullptr);
    ReleaseHostValue(record);
    EXPECT_TRUE(IsAllZero(record));
  }
}

// An enum leaves as the name of its first enumerator (in name order) with
// that value when the registry knows one, else as a signed number.
TEST_F(HostValueTest, EnumsLeaveAsNamesOrNumbers) {
  BindingRegistry registry;
  registry.InitializeBuiltins();
  static const StaticTypeId kTwins{0x7117AB01u, "#7117AB01", {}};  // an enum only this test registers
  registry.RegisterType("Twins", 4, &kTwins, true)
      .AddEnumerator("b", 1)
      .AddEnumerator("a", 1);
  const StaticTypeId* asyncState = StaticType::HashCode<BindingAsyncState::Type>();
  struct Case {
    const char* label;
    int32_t value;
    const StaticTypeId* type;
    bool withRegistry;
    int32_t kind;
    const char* name;  // kind 6
    int64_t number;    // kind 2
  };
  const Case cases[] = {
      {"named", BindingAsyncState::Running, asyncState, true, 6, "Running", 0},
      {"zero is named too", BindingAsyncState::None, asyncState, true, 6, "None", 0},
      {"first name in name order", 1, &kTwins, true, 6, "a", 0},
      {"no enumerator with the value", 99, asyncState, true, 2, nullptr, 99},
      {"negative, sign-extended", -7, asyncState, true, 2, nullptr, -7},
      {"type unknown to the registry", 1, StaticType::HashCode<int>(), true, 2, nullptr, 1},
      {"null type", 1, nullptr, true, 2, nullptr, 1},
      {"no registry", BindingAsyncState::Running, asyncState, false, 2, nullptr, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    BindingProperty tree;
    tree.SetEnum(c.value, c.type);
    HostValue record{};
    ASSERT_TRUE(ToHostValue(record, tree, c.withRegistry ? &registry : nullptr));
    ASSERT_EQ(record.kind, c.kind);
    if (c.kind == 6) {
      EXPECT_STREQ(record.text.text, c.name);
      EXPECT_EQ(record.text.length, std::strlen(c.name));
      EXPECT_NE(record.text.text, registry.EnumeratorName(c.type, c.value)) << "must be an owned copy";
    } else {
      EXPECT_EQ(record.signedValue, c.number);
    }
    ReleaseHostValue(record);
  }
}

// Converting into a record that owns a tree releases that tree first; an
// empty input leaves the record all zero.
TEST_F(HostValueTest, ConvertingOverAnOwnedRecordReleasesIt) {
  BindingProperty old;
  old.Member("k").Append().SetString("owned text");
  const BindingProperty inputs[] = {BindingProperty(), [] {
                                      BindingProperty p;
                                      p.SetSigned(3);
                                      return p;
                                    }()};
  for (const BindingProperty& input : inputs) {
    SCOPED_TRACE(Describe(input));
    HostValue record{};
    ASSERT_TRUE(ToHostValue(record, old, nullptr));
    ASSERT_TRUE(ToHostValue(record, input, nullptr));
    BindingProperty back;
    HostResult result{};
    ASSERT_TRUE(FromHostValue(result, back, record, "v"));
    EXPECT_EQ(Describe(back), Describe(input));
    if (input.Kind() == PropertyKind::Empty) {
      EXPECT_TRUE(IsAllZero(record));
    }
    ReleaseHostValue(record);
  }
}

// Records from the core: borrowed texts read up to their NUL, null pointers
// read as empty, duplicate keys take the later value whole, and the output
// becomes exactly the input's tree.
TEST_F(HostValueTest, ReadsHostRecords) {
  static const char kText[] = "abc\0def";
  static const uint8_t kBytes[] = {1, 2, 3};
  struct Case {
    const char* label;
    std::function<HostValue()> build;
    std::string expected;
  };
  const Case cases[] = {
      {"length longer than the text", [] { return HostText(kText, 7); }, "'abc'"},
      {"length shorter than the text", [] { return HostText(kText, 1); }, "'abc'"},
      {"owned text", [] { return HostOwnedText("owned"); }, "'owned'"},
      {"null text", [] { return HostText(nullptr, 4); }, "''"},
      {"borrowed bytes",
       [] {
         HostValue r = HostKind(7);
         r.blob.bytes = kBytes;
         r.blob.count = 2;
         return r;
       },
       "blob[1,2,]"},
      {"null bytes",
       [] {
         HostValue r = HostKind(7);
         r.blob.count = 5;
         return r;
       },
       "blob[]"},
      {"bool byte 2 is true",
       [] {
         HostValue r = HostKind(1);
         r.boolValue = 2;
         return r;
       },
       "true"},
      {"null element array", [] {
         HostValue r = HostKind(9);
         r.collection.count = 3;
         return r;
       }, "[]"},
      {"null entry array", [] {
         HostValue r = HostKind(10);
         r.structure.count = 3;
         return r;
       }, "{}"},
      {"keys b then a iterate a, b",
       [] { return HostStructure({{"b", HostSigned(1)}, {"a", HostSigned(2)}}); }, "{a:s2,b:s1,}"},
      {"borrowed and null keys",
       [] {
         return HostStructure({{"static", HostSigned(1), false}, {nullptr, HostSigned(2), false}});
       },
       "{:s2,static:s1,}"},
      {"duplicate key, scalar", [] { return HostStructure({{"k", HostSigned(1)}, {"k", HostSigned(2)}}); },
       "{k:s2,}"},
      // The later, shorter collection replaces the earlier one: no leftover
      // elements from the first.
      {"duplicate key, collections",
       [] {
         return HostStructure({{"k", HostCollection({HostSigned(1), HostSigned(2), HostSigned(3)})},
                               {"k", HostCollection({HostSigned(9)})}});
       },
       "{k:[s9,],}"},
      {"duplicate key, structures are not merged",
       [] {
         return HostStructure({{"k", HostStructure({{"x", HostSigned(1)}})},
                               {"k", HostStructure({{"y", HostSigned(2)}})}});
       },
       "{k:{y:s2,},}"},
      {"empty element", [] { return HostCollection({HostKind(0), HostOwnedText("t")}); }, "[empty,'t',]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    HostValue input = c.build();
    BindingProperty output;
    output.Append().SetString("old 1");  // a previous, longer tree
    output.Append().SetString("old 2");
    output.Append().SetString("old 3");
    HostResult result{};
    EXPECT_TRUE(FromHostValue(result, output, input, "value"));
    EXPECT_EQ(Describe(output), c.expected);
    EXPECT_EQ(result.failed, 0);
    ReleaseHostValue(input);
    EXPECT_TRUE(IsAllZero(input));
  }
}

// Releasing borrowed texts and bytes leaves them alone and zeroes the
// record; an unknown kind is zeroed without touching its payload; releasing
// twice is harmless.
TEST_F(HostValueTest, ReleaseLeavesBorrowedDataAlone) {
  char text[] = "borrowed";
  uint8_t bytes[] = {4, 5};
  HostValue records[] = {HostText(text, 8), HostKind(7), HostKind(11), HostKind(-3), HostSigned(8)};
  records[1].blob.bytes = bytes;
  records[1].blob.count = 2;
  records[2].text.text = text;
  for (HostValue& record : records) {
    ReleaseHostValue(record);
    EXPECT_TRUE(IsAllZero(record));
    ReleaseHostValue(record);
    EXPECT_TRUE(IsAllZero(record));
  }
  EXPECT_STREQ(text, "borrowed");
  EXPECT_EQ(bytes[1], 5);
}

// A kind outside the table anywhere in the tree fails the conversion with
// the incompatible-type message; what was converted before stays, and the
// result's earlier value and text are released, not leaked.
TEST_F(HostValueTest, RefusesUnknownKinds) {
  struct Case {
    const char* label;
    std::function<HostValue()> build;
    const char* name;
    const char* message;
    std::string output;  // output keeps "keep" when the top record is refused
  };
  const Case cases[] = {
      {"kind 11 inside a collection",
       [] { return HostCollection({HostSigned(1), HostKind(11), HostSigned(3)}); }, "payload",
       "Couldn't assign value to 'payload' of type object because the input is of an incompatible type ''.",
       "[s1,empty,]"},
      {"kind -1 at the top", [] { return HostKind(-1); }, "<result>",
       "Couldn't assign value to '<result>' of type object because the input is of an incompatible type ''.",
       "'keep'"},
      {"deep inside a structure",
       [] {
         return HostStructure(
             {{"a", HostSigned(1)}, {"b", HostCollection({HostStructure({{"c", HostKind(0x7FFFFFFF)}})})}});
       },
       "",
       "Couldn't assign value to '' of type object because the input is of an incompatible type ''.",
       "{a:s1,b:[{c:empty,},],}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    HostValue input = c.build();
    BindingProperty output;
    output.SetString("keep");
    HostResult result{};
    result.value = HostOwnedText("an earlier value");
    result.errorText = Memory::Duplicate("an earlier error");
    EXPECT_FALSE(FromHostValue(result, output, input, c.name));
    ASSERT_NE(result.errorText, nullptr);
    EXPECT_STREQ(result.errorText, c.message);
    EXPECT_EQ(result.failed, 1);
    EXPECT_TRUE(IsAllZero(result.value));
    EXPECT_EQ(Describe(output), c.output);
    Memory::Free(result.errorText);
    ReleaseHostValue(input);
  }
}

// A tree far deeper than any thread stack converts both ways and releases,
// in both shapes of container.
TEST_F(HostValueTest, DeepTreesNeedNoStack) {
  constexpr int kDepth = 200000;
  for (const bool structures : {false, true}) {
    SCOPED_TRACE(structures ? "structures" : "collections");
    HostValue input = HostOwnedText("leaf");
    for (int i = 0; i < kDepth; ++i) {
      input = structures ? HostStructure({{"k", input}}) : HostCollection({input});
    }
    BindingProperty tree;
    HostResult result{};
    ASSERT_TRUE(FromHostValue(result, tree, input, "deep"));
    ReleaseHostValue(input);
    const BindingProperty* node = &tree;
    for (int i = 0; i < kDepth; ++i) {
      node = structures ? &node->FindMember("k") : &node->ElementAt(0);
    }
    EXPECT_EQ(node->GetString(), "leaf");

    HostValue output{};
    ASSERT_TRUE(ToHostValue(output, tree, nullptr));
    const HostValue* walk = &output;
    for (int i = 0; i < kDepth && walk != nullptr; ++i) {
      walk = walk->kind == 9 ? walk->collection.elements : walk->kind == 10 ? &walk->structure.entries->value : nullptr;
    }
    ASSERT_NE(walk, nullptr);
    EXPECT_EQ(walk->kind, 6);
    EXPECT_STREQ(walk->text.text, "leaf");
    ReleaseHostValue(output);
    EXPECT_TRUE(IsAllZero(output));
  }
}

// Hooks that pass allocations through to the counting hooks until the
// budget is spent, then fail them.
struct AllocationBudget {
  static inline Memory::AllocatorHooks previous{};
  static inline int remaining = 0;
  static void* Allocate(size_t size, void*) {
    if (remaining <= 0) return nullptr;
    --remaining;
    return previous.allocate(size, previous.userData);
  }
  static void Free(void* block, void*) { previous.free(block, previous.userData); }
  static void* Reallocate(void* block, size_t size, void*) {
    return previous.reallocate(block, size, previous.userData);
  }
  static char* Duplicate(const char* text, void*) {
    if (remaining <= 0) return nullptr;
    --remaining;
    return previous.duplicate(text, previous.userData);
  }
  static size_t BlockSize(void* block, void*) { return previous.blockSize(block, previous.userData); }
};

// Running out of memory part way leaves a complete record to release, with
// the nodes that could not be allocated empty, and nothing leaks.
TEST_F(HostValueTest, OutOfMemoryLeavesAReleasableRecord) {
  BindingProperty tree;
  tree.Member("text").SetString("abc");
  tree.Member("blob").SetBlob(std::vector<uint8_t>{1, 2});
  tree.Member("list").Append().SetString("x");
  tree.Member("list").Append().Member("inner").SetString("y");
  const std::string full = Describe(tree);

  bool completed = false;
  for (int budget = 0; budget < 64 && !completed; ++budget) {
    SCOPED_TRACE("budget " + std::to_string(budget));
    HostValue record{};
    AllocationBudget::remaining = budget;
    AllocationBudget::previous = Memory::InstallHooks({&AllocationBudget::Allocate, &AllocationBudget::Free,
                                                       &AllocationBudget::Reallocate, &AllocationBudget::Duplicate,
                                                       &AllocationBudget::BlockSize, nullptr});
    completed = ToHostValue(record, tree, nullptr);
    Memory::InstallHooks(AllocationBudget::previous);
    BindingProperty back;
    HostResult result{};
    EXPECT_TRUE(FromHostValue(result, back, record, "v"));
    if (completed) {
      EXPECT_EQ(Describe(back), full);
    }
    ReleaseHostValue(record);
    EXPECT_TRUE(IsAllZero(record));
  }
  EXPECT_TRUE(completed) << "never completed with a budget below 64 allocations";
}

}  // namespace
}  // namespace Zarn
