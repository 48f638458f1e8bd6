// BindingProperty, the framework's one generic value: a tree of typed nodes
// that every wire-format reader builds, the host exchange walks and the
// native conversions translate. BindingResult adds a success flag; a failed
// result is the structure {"error": message}.
//
// A tree allocates from one PropertyArena, created by its root on the first
// need and shared by every node below it. Texts are interned per arena; the
// records behind blobs, enums, collections and structures come from the
// arena's slab pools, element arrays, member-map nodes and texts from its
// heap regions. Building a tree therefore takes few heap calls, and a root
// gives its whole tree back in one step, without visiting its nodes (unless
// the tree holds blobs, whose bytes are freed one by one).
//
// A tree and its arena belong to one thread at a time. The shared empty node
// and the shared empty text are never modified.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "util/format.h"

namespace Zarn {

struct StaticTypeId;
class PropertyArena;
struct TextEntry;

// The kind of a node; the code is part of the value model and must not change.
enum class PropertyKind : uint8_t {
  Empty = 0,
  Bool = 1,
  Signed = 2,
  Unsigned = 3,
  Float = 4,
  String = 5,
  Blob = 6,
  Enum = 7,
  Collection = 8,
  Structure = 9,
};

// The text messages show for a kind: "empty", "bool", ... "structure"; ""
// for any other code.
const char* PropertyKindName(PropertyKind kind) noexcept;

// What an enum node holds: the low 32 bits of the native value and the
// identity of its native type (compared by pointer only).
struct EnumValue {
  int32_t value = 0;
  const StaticTypeId* type = nullptr;
};

namespace detail {
struct MemberNode;
struct PropertyOps;
}  // namespace detail

class BindingProperty {
 public:
  // An empty node with no arena that owns the arena it will create.
  BindingProperty() noexcept : payload_{0}, arena_(nullptr), kind_(PropertyKind::Empty), ownsArena_(true) {}
  ~BindingProperty();

  // Deep copy into a new tree.
  BindingProperty(const BindingProperty& other);
  // TakeFrom: moves a root's tree; copies (and clears) an element or member.
  // An allocation failure while copying ends the program.
  BindingProperty(BindingProperty&& other) noexcept;
  BindingProperty& operator=(const BindingProperty& other);
  BindingProperty& operator=(BindingProperty&& other) noexcept;

  // The read-only node that lookups return when nothing is there.
  static const BindingProperty& Empty() noexcept;

  // --- Inspection ---
  PropertyKind Kind() const noexcept { return kind_; }
  // empty 0; string: bytes of the text; blob: bytes; collection: elements;
  // structure: members; every other kind 1.
  size_t Size() const noexcept;
  // True for empty, false, 0, 0.0 and -0.0, enum value 0, empty texts, blobs,
  // collections and structures, and unknown kind codes.
  bool IsDefault() const noexcept;

  // Typed reads: the payload when the kind is exactly the reader's kind, else
  // the fallback. Nothing is converted.
  bool GetBool(bool fallback = false) const noexcept;
  int64_t GetSigned(int64_t fallback = 0) const noexcept;
  uint64_t GetUnsigned(uint64_t fallback = 0) const noexcept;
  double GetFloat(double fallback = 0.0) const noexcept;
  // The text is NUL-terminated (data()[size()] == 0) and stays valid until the
  // node changes; without a fallback, a node that is not a string gives the
  // shared empty text "". A fallback is returned as given.
  std::string_view GetString() const noexcept;
  std::string_view GetString(std::string_view fallback) const noexcept;
  // The node's bytes, or the fallback itself (mind its lifetime).
  const std::vector<uint8_t>& GetBlob(const std::vector<uint8_t>& fallback = EmptyBlob()) const noexcept;
  EnumValue GetEnum(EnumValue fallback = {}) const noexcept;
  static const std::vector<uint8_t>& EmptyBlob() noexcept;

  // --- Setters: each first clears the node; the arena stays ---
  void Clear() noexcept;
  void SetBool(bool value) noexcept;
  void SetSigned(int64_t value) noexcept;
  void SetUnsigned(uint64_t value) noexcept;
  void SetFloat(double value) noexcept;
  // Interns the text up to its first NUL. The empty text needs no arena.
  void SetString(const char* text);
  void SetString(std::string_view text);
  void SetBlob(const uint8_t* bytes, size_t count);
  void SetBlob(std::vector<uint8_t>&& bytes);
  void SetEnum(int32_t value, const StaticTypeId* type);
  // Nothing if the node already has that kind; else clears it and gives it
  // an empty sequence or member map.
  void MakeCollection();
  void MakeStructure();

  // --- Collections ---
  // Makes the node a collection, appends empty elements until index exists
  // and returns that element. An index no array can hold (2^27 elements in
  // 32-bit builds), or running out of memory, throws std::bad_alloc with the
  // collection unchanged; callers that take indices from input bound them. Appending to the collection moves its
  // elements: references from At, Append and ElementAt are valid only until
  // the next append or Reserve on the same collection.
  BindingProperty& At(size_t index);
  // Element index, or the shared empty node (not a collection, out of range).
  const BindingProperty& ElementAt(size_t index) const noexcept;
  // Makes the node a collection and returns a new empty last element.
  BindingProperty& Append();
  // On a collection, makes room for count elements; otherwise nothing. A
  // count no array can hold is ignored.
  void Reserve(size_t count);

  // --- Structures ---
  // Makes the node a structure and returns the member called name (up to its
  // first NUL), inserting an empty one if there is none. Member references
  // stay valid until the member or the structure is cleared.
  BindingProperty& Member(std::string_view name);
  BindingProperty& Member(const char* name) { return Member(std::string_view(name)); }
  // The member, or the shared empty node (not a structure, no such member).
  const BindingProperty& FindMember(std::string_view name) const noexcept;
  const BindingProperty& FindMember(const char* name) const noexcept {
    return FindMember(std::string_view(name));
  }

  // Members in ascending unsigned byte order of their keys. On a node that
  // is not a structure, begin equals end.
  template <typename Node>
  class MemberPosition {
   public:
    MemberPosition() noexcept = default;
    // The key, NUL-terminated.
    std::string_view Key() const noexcept;
    Node& Value() const noexcept;
    MemberPosition& operator++() noexcept;
    bool operator==(const MemberPosition& other) const noexcept { return node_ == other.node_; }
    bool operator!=(const MemberPosition& other) const noexcept { return node_ != other.node_; }
    // For range-for: the position itself.
    const MemberPosition& operator*() const noexcept { return *this; }

   private:
    friend class BindingProperty;
    explicit MemberPosition(detail::MemberNode* node) noexcept : node_(node) {}
    detail::MemberNode* node_ = nullptr;
  };
  using MemberIterator = MemberPosition<BindingProperty>;
  using ConstMemberIterator = MemberPosition<const BindingProperty>;
  template <typename Iterator>
  struct MemberRange {
    Iterator first;
    Iterator last;
    Iterator begin() const noexcept { return first; }
    Iterator end() const noexcept { return last; }
  };
  ConstMemberIterator MemberBegin() const noexcept;
  ConstMemberIterator MemberEnd() const noexcept { return {}; }
  MemberIterator MemberBegin() noexcept;
  MemberIterator MemberEnd() noexcept { return {}; }
  MemberRange<ConstMemberIterator> Members() const noexcept { return {MemberBegin(), MemberEnd()}; }
  MemberRange<MemberIterator> Members() noexcept { return {MemberBegin(), MemberEnd()}; }

  // --- Whole values ---
  // When both nodes own their arenas, they exchange their contents and
  // arenas and other is cleared (keeping the arena it received). Otherwise
  // this node receives a deep copy and other is cleared. Either node may lie
  // inside the other's tree; if this node lies inside other's tree, clearing
  // other destroys it, so nothing is kept.
  void TakeFrom(BindingProperty& other);
  // Deep copy into this node's arena. other may lie anywhere, this node's own
  // tree included.
  void CopyFrom(const BindingProperty& other);

  // The tree's arena (null until the first need) and whether this node owns
  // it (roots do; elements and members do not).
  const PropertyArena* Arena() const noexcept { return arena_; }
  bool OwnsArena() const noexcept { return ownsArena_; }

 private:
  friend struct detail::PropertyOps;
  friend class TreeBuilder;  // writes the scalars of new elements in place

  // An element, member or scratch node of the tree that arena belongs to.
  explicit BindingProperty(PropertyArena* arena) noexcept
      : payload_{0}, arena_(arena), kind_(PropertyKind::Empty), ownsArena_(false) {}

  PropertyArena& EnsureArena();
  void Assign(const BindingProperty& source, BindingProperty* sourceToClear);
  static void CheckLayout() noexcept;

  // Scalars in place (bool in the first byte); kinds 5 to 9: the record
  // pointer in the first half, the second half zero.
  union Payload {
    uint64_t unsignedValue;
    int64_t signedValue;
    double floatValue;
    bool boolValue;
    void* record;
  } payload_;
  PropertyArena* arena_;
  PropertyKind kind_;
  bool ownsArena_;
};
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(BindingProperty) == 16);
#endif

namespace detail {
// A node of a structure's balanced tree (AVL, insert only). The parent
// pointer carries the balance factor + 1 in its low two bits.
struct MemberNode {
  MemberNode* left;
  MemberNode* right;
  uintptr_t parentAndBalance;
  TextEntry* key;
  BindingProperty value;
};
std::string_view MemberKey(const MemberNode* node) noexcept;
MemberNode* NextMember(MemberNode* node) noexcept;
// Height of a structure's member tree (0 when empty or not a structure).
uint32_t MemberTreeHeight(const BindingProperty& node) noexcept;
}  // namespace detail

template <typename Node>
std::string_view BindingProperty::MemberPosition<Node>::Key() const noexcept {
  return detail::MemberKey(node_);
}
template <typename Node>
Node& BindingProperty::MemberPosition<Node>::Value() const noexcept {
  return node_->value;
}
template <typename Node>
BindingProperty::MemberPosition<Node>& BindingProperty::MemberPosition<Node>::operator++() noexcept {
  node_ = detail::NextMember(node_);
  return *this;
}

// A value with a success flag. New results are empty and succeeded.
class BindingResult : public BindingProperty {
 public:
  BindingResult() noexcept = default;
  BindingResult(const BindingResult& other) = default;
  BindingResult(BindingResult&& other) noexcept = default;
  ~BindingResult() = default;

  // Copies the flag and moves the value (TakeFrom).
  BindingResult& operator=(BindingResult&& other) noexcept;
  // Copies the flag and deep-copies the value.
  BindingResult& operator=(const BindingResult& other);
  // Sets succeeded and deep-copies the value.
  BindingResult& operator=(const BindingProperty& value);

  bool Succeeded() const noexcept { return succeeded_; }

  // Clears the value, fails the result and sets its member "error" to message.
  void SetError(std::string_view message);
  // SetError with the message Format(pattern, arguments...).
  template <typename First, typename... Rest>
  void SetError(const char* pattern, const First& first, const Rest&... rest) {
    SetError(std::string_view(Format(pattern, first, rest...)));
  }
  // "" when succeeded; else the text of member "error" if it is a string,
  // else "". Valid until the result changes.
  std::string_view Error() const noexcept;

 private:
  bool succeeded_ = true;
};

}  // namespace Zarn
