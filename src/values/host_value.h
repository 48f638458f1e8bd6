// The records in which values and errors cross between the plugin and the
// core, and their conversion to and from BindingProperty trees. The two sides
// share no class types and may use different heaps, so a HostValue is a
// plain packed record, and everything it owns (texts, bytes, arrays, keys)
// comes from the library's tracked allocator, whichever side built it.
//
// All three walks (into a tree, out of a tree, release) keep their pending
// work on an explicit stack, so a host tree of any depth is handled without
// deep recursion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

#include "plugin/abi.h"

namespace Zarn {

class BindingProperty;
class BindingRegistry;
struct HostValue;
struct HostMemberEntry;

// The host kind codes. The record stores the code as an int32; FromHostValue
// range-checks it once before converting it to this enum.
enum class HostKind : int32_t {
  Empty = 0,
  Bool = 1,        // payload byte 0: 0 or 1
  Signed = 2,      // int64
  Unsigned = 3,    // uint64
  Float = 4,       // IEEE double
  StringView = 5,  // text not owned by the record
  String = 6,      // text owned by the record
  BlobView = 7,    // bytes not owned by the record
  Blob = 8,        // bytes owned by the record
  Collection = 9,  // owned array of HostValue
  Structure = 10,  // owned array of HostMemberEntry
};

#pragma pack(push, 1)
// Kinds 5 and 6.
struct HostTextPayload {
  const char* text;  // NUL-terminated; readers go by the NUL, not by length
  uint32_t length;   // bytes before the NUL
};
// Kinds 7 and 8.
struct HostBytesPayload {
  const uint8_t* bytes;  // may be null when count is 0
  uint32_t count;
};
// Kind 9.
struct HostElementsPayload {
  HostValue* elements;  // owned array; may be null when count is 0
  uint32_t count;
};
// Kind 10.
struct HostMembersPayload {
  HostMemberEntry* entries;  // owned array; may be null when count is 0
  uint32_t count;
};

// One value; 12 bytes in 32-bit builds. An all-zero record is empty and owns
// nothing.
struct HostValue {
  int32_t kind;  // HostKind code; any other code is refused on input
  union {
    // First: it spans the whole payload in every build, so that HostValue{}
    // zeroes all of it.
    HostTextPayload text;
    uint8_t boolValue;  // 0 or 1 (any non-zero byte reads as true)
    int64_t signedValue;
    uint64_t unsignedValue;
    double floatValue;
    HostBytesPayload blob;
    HostElementsPayload collection;
    HostMembersPayload structure;
  };
};

// One member of a structure; 17 bytes in 32-bit builds.
struct HostMemberEntry {
  const char* key;  // NUL-terminated; owned when ownsKey is 1
  HostValue value;
  uint8_t ownsKey;  // 1: ReleaseHostValue frees key
};

// The head of the result records exchanged with the core; 17 bytes in 32-bit
// builds.
struct HostResult {
  HostValue value;  // empty when failed
  char* errorText;  // owned, NUL-terminated; null unless failed
  uint8_t failed;   // 0 or 1
};
#pragma pack(pop)

ZARN_ASSERT_RECORD(HostValue);
ZARN_ASSERT_RECORD(HostMemberEntry);
ZARN_ASSERT_RECORD(HostResult);
static_assert(offsetof(HostValue, text) == 4 && offsetof(HostValue, signedValue) == 4);
static_assert(sizeof(HostValue) == sizeof(int32_t) + sizeof(HostTextPayload));
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(HostTextPayload) == 8 && offsetof(HostTextPayload, length) == 4);
static_assert(sizeof(HostBytesPayload) == 8 && offsetof(HostBytesPayload, count) == 4);
static_assert(sizeof(HostElementsPayload) == 8 && offsetof(HostElementsPayload, count) == 4);
static_assert(sizeof(HostMembersPayload) == 8 && offsetof(HostMembersPayload, count) == 4);
static_assert(sizeof(HostValue) == 12);
static_assert(offsetof(HostValue, kind) == 0);
static_assert(offsetof(HostValue, boolValue) == 4);
static_assert(offsetof(HostValue, floatValue) == 4);
static_assert(offsetof(HostValue, collection) == 4);
static_assert(offsetof(HostValue, structure) == 4);
static_assert(sizeof(HostMemberEntry) == 17);
static_assert(offsetof(HostMemberEntry, value) == 4);
static_assert(offsetof(HostMemberEntry, ownsKey) == 16);
static_assert(sizeof(HostResult) == 17);
static_assert(offsetof(HostResult, errorText) == 12);
static_assert(offsetof(HostResult, failed) == 16);
#endif

// Converts a host record into output. Returns true on success. On failure
// (a kind code outside 0 to 10 anywhere in the tree) returns false and
// fills result: its value is released, errorText becomes an owned copy of
// "Couldn't assign value to '<name>' of type object because the input is of
// an incompatible type '<kind name>'." (any earlier errorText is freed
// first) and failed becomes 1. The nodes converted before the refusal stay
// in output; a refused top-level record leaves output as it was.
//
// output receives exactly the input's tree: a collection or structure
// replaces what output held, and a key that occurs twice gets the later
// value (replacing, not merging with, the earlier one). A null text, byte or
// array pointer reads as empty, a null key as "". The input is only read,
// and the caller keeps it. If memory runs out, output holds a prefix of the
// tree and result fails with "Couldn't assign value to '<name>' because
// memory ran out.".
[[nodiscard]] bool FromHostValue(HostResult& result, BindingProperty& output, const HostValue& input,
                                 std::string_view name) noexcept;

// Converts input into output, which the caller owns afterwards and gives back
// with ReleaseHostValue. Whatever output owned before is released first (an
// empty input leaves output all zero). Strings and blobs become owned copies
// (kinds 6 and 8); structure members appear in key order with owned keys.
// An enum becomes the owned name of its first enumerator (in name order)
// with its value when registry knows one, else a signed integer. Returns
// true; false only when memory ran out, in which case the nodes that could
// not be allocated are empty and output is still a complete record to
// release.
//
//   HostValue value{};
//   ToHostValue(value, tree, &registry);  // value owns copies, tree unchanged
//   ...hand value over...; ReleaseHostValue(value);
bool ToHostValue(HostValue& output, const BindingProperty& input, const BindingRegistry* registry) noexcept;

// Frees what record owns (owned texts and bytes, arrays, owned keys, the
// whole tree below) and zeroes its 12 bytes. Borrowed texts and bytes (kinds
// 5 and 7) are left alone; so are records of unknown kinds.
void ReleaseHostValue(HostValue& record) noexcept;

// The kind code descriptions carry for a BindingTypeKind code: 1 to 19 map
// to themselves, anything else to 0.
constexpr uint32_t HostKindCode(uint32_t bindingTypeKind) noexcept {
  return bindingTypeKind >= 1 && bindingTypeKind <= 19 ? bindingTypeKind : 0;
}

// The name messages use for a host kind code: "bool", "signed", "unsigned",
// "float", "string" (5 and 6), "blob" (7 and 8), "collection", "structure";
// "" for 0 and every other code. Static text.
const char* HostKindName(int32_t code) noexcept;

}  // namespace Zarn
