// The generic value: records, the member tree, and the walks that release and
// copy trees. Both walks keep their pending work on an explicit stack, so a
// tree of any depth is released or copied without deep recursion; a root
// that owns its arena drops its whole tree by resetting the arena instead of
// walking it.
#include "values/binding_property.h"

#include <cassert>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "plugin/memory.h"
#include "values/property_arena.h"
#include "values/tree_builder.h"

namespace Zarn {
namespace detail {
namespace {

using ByteVector = std::vector<uint8_t>;

struct SequenceRecord {
  BindingProperty* data;
  uint32_t size;      // elements in use
  uint32_t capacity;  // elements data has room for
};

struct MemberMapRecord {
  MemberNode* root;
  uint32_t size;
  MemberNode* leftmost;  // first in key order; null when empty
};

struct EnumRecord {
  int32_t value;
  const StaticTypeId* type;
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(SequenceRecord) == 12);
static_assert(sizeof(MemberMapRecord) == 12);
static_assert(sizeof(EnumRecord) == 8);
static_assert(sizeof(ByteVector) == 12);
static_assert(sizeof(MemberNode) == 32);
#endif
static_assert(sizeof(ByteVector) <= kLargestSlabBlock);
static_assert(alignof(MemberNode) >= 4, "the balance lives in the parent pointer's low bits");

constexpr PropertyRecordSizes kRecordSizes = {sizeof(ByteVector), sizeof(EnumRecord),
                                               sizeof(SequenceRecord), sizeof(MemberMapRecord)};

// Element arrays never exceed this many bytes, so sizes fit in 32 bits.
constexpr uint32_t kMaxElements = 0x7FFFFFFFu / sizeof(BindingProperty);

bool HasRecord(PropertyKind kind) noexcept {
  return kind >= PropertyKind::String && kind <= PropertyKind::Structure;
}
bool IsContainer(PropertyKind kind) noexcept {
  return kind == PropertyKind::Collection || kind == PropertyKind::Structure;
}

// A stack for the tree walks: inline room for shallow trees, the tracked heap
// beyond. Running out of heap here ends the program, as it would anywhere.
template <typename T>
class WorkStack {
 public:
  WorkStack() noexcept = default;
  ~WorkStack() {
    if (items_ != inline_) Memory::Free(items_);
  }
  WorkStack(const WorkStack&) = delete;
  WorkStack& operator=(const WorkStack&) = delete;

  bool IsEmpty() const noexcept { return size_ == 0; }
  void Push(const T& item) noexcept {
    if (size_ == capacity_) Grow();
    items_[size_++] = item;
  }
  T Pop() noexcept { return items_[--size_]; }

 private:
  void Grow() noexcept {
    const uint32_t capacity = capacity_ * 2;
    auto* grown = static_cast<T*>(Memory::Allocate(capacity * sizeof(T)));
    if (grown == nullptr) std::abort();
    std::memcpy(static_cast<void*>(grown), items_, size_ * sizeof(T));
    if (items_ != inline_) Memory::Free(items_);
    items_ = grown;
    capacity_ = capacity;
  }

  static constexpr uint32_t kInline = 32;
  T inline_[kInline];
  T* items_ = inline_;
  uint32_t size_ = 0;
  uint32_t capacity_ = kInline;
};

// --- Member tree (AVL, insert only) ---

MemberNode* ParentOf(const MemberNode* node) noexcept {
  return reinterpret_cast<MemberNode*>(node->parentAndBalance & ~uintptr_t{3});
}
int BalanceOf(const MemberNode* node) noexcept {
  return static_cast<int>(node->parentAndBalance & 3) - 1;
}
void SetParent(MemberNode* node, MemberNode* parent) noexcept {
  node->parentAndBalance = reinterpret_cast<uintptr_t>(parent) | (node->parentAndBalance & 3);
}
void SetBalance(MemberNode* node, int balance) noexcept {
  node->parentAndBalance = (node->parentAndBalance & ~uintptr_t{3}) | static_cast<uintptr_t>(balance + 1);
}

// Balance is height(right) - height(left). The four rotations are those of
// insertion: the child on the heavy side leans the same way (single) or the
// other way (double).
MemberNode* RotateRight(MemberNode* top) noexcept {
  MemberNode* pivot = top->left;
  top->left = pivot->right;
  if (top->left != nullptr) SetParent(top->left, top);
  pivot->right = top;
  SetParent(top, pivot);
  SetBalance(top, 0);
  SetBalance(pivot, 0);
  return pivot;
}

MemberNode* RotateLeft(MemberNode* top) noexcept {
  MemberNode* pivot = top->right;
  top->right = pivot->left;
  if (top->right != nullptr) SetParent(top->right, top);
  pivot->left = top;
  SetParent(top, pivot);
  SetBalance(top, 0);
  SetBalance(pivot, 0);
  return pivot;
}

MemberNode* RotateLeftRight(MemberNode* top) noexcept {
  MemberNode* child = top->left;
  MemberNode* pivot = child->right;
  const int pivotBalance = BalanceOf(pivot);
  child->right = pivot->left;
  if (child->right != nullptr) SetParent(child->right, child);
  top->left = pivot->right;
  if (top->left != nullptr) SetParent(top->left, top);
  pivot->left = child;
  SetParent(child, pivot);
  pivot->right = top;
  SetParent(top, pivot);
  SetBalance(child, pivotBalance > 0 ? -1 : 0);
  SetBalance(top, pivotBalance < 0 ? 1 : 0);
  SetBalance(pivot, 0);
  return pivot;
}

MemberNode* RotateRightLeft(MemberNode* top) noexcept {
  MemberNode* child = top->right;
  MemberNode* pivot = child->left;
  const int pivotBalance = BalanceOf(pivot);
  child->left = pivot->right;
  if (child->left != nullptr) SetParent(child->left, child);
  top->right = pivot->left;
  if (top->right != nullptr) SetParent(top->right, top);
  pivot->right = child;
  SetParent(child, pivot);
  pivot->left = top;
  SetParent(top, pivot);
  SetBalance(child, pivotBalance < 0 ? 1 : 0);
  SetBalance(top, pivotBalance > 0 ? -1 : 0);
  SetBalance(pivot, 0);
  return pivot;
}

// Links node (its value already set up) below parent and rebalances.
void InsertMember(MemberMapRecord* map, MemberNode* parent, bool asLeft, MemberNode* node) noexcept {
  node->left = nullptr;
  node->right = nullptr;
  node->parentAndBalance = reinterpret_cast<uintptr_t>(parent) | 1;
  ++map->size;
  if (parent == nullptr) {
    map->root = node;
    map->leftmost = node;
    return;
  }
  if (asLeft) {
    parent->left = node;
    if (parent == map->leftmost) map->leftmost = node;
  } else {
    parent->right = node;
  }
  MemberNode* child = node;
  for (MemberNode* up = parent; up != nullptr; child = up, up = ParentOf(up)) {
    const int balance = BalanceOf(up) + (up->left == child ? -1 : 1);
    if (balance == 0) {
      SetBalance(up, 0);
      return;
    }
    if (balance == 1 || balance == -1) {
      SetBalance(up, balance);
      continue;
    }
    MemberNode* above = ParentOf(up);
    MemberNode* top;
    if (balance < 0) {
      top = BalanceOf(child) < 0 ? RotateRight(up) : RotateLeftRight(up);
    } else {
      top = BalanceOf(child) > 0 ? RotateLeft(up) : RotateRightLeft(up);
    }
    SetParent(top, above);
    if (above == nullptr) {
      map->root = top;
    } else if (above->left == up) {
      above->left = top;
    } else {
      above->right = top;
    }
    return;
  }
}

// Unsigned byte order of the texts; neither holds a NUL. Keys of one
// structure mostly differ early, so the first byte is compared in line.
int CompareKey(std::string_view name, const TextEntry* key) noexcept {
  const size_t common = name.size() < key->length ? name.size() : key->length;
  if (common != 0) {
    const auto first = static_cast<unsigned char>(name[0]);
    const auto other = static_cast<unsigned char>(key->text[0]);
    if (first != other) return first < other ? -1 : 1;
    const int order = std::memcmp(name.data() + 1, key->text + 1, common - 1);
    if (order != 0) return order;
  }
  if (name.size() == key->length) return 0;
  return name.size() < key->length ? -1 : 1;
}

uint32_t Height(const MemberNode* node) noexcept {
  if (node == nullptr) return 0;
  const uint32_t left = Height(node->left);
  const uint32_t right = Height(node->right);
  return 1 + (left > right ? left : right);
}

}  // namespace

std::string_view MemberKey(const MemberNode* node) noexcept { return node->key->View(); }

MemberNode* NextMember(MemberNode* node) noexcept {
  if (node->right != nullptr) {
    node = node->right;
    while (node->left != nullptr) node = node->left;
    return node;
  }
  MemberNode* up = ParentOf(node);
  while (up != nullptr && node == up->right) {
    node = up;
    up = ParentOf(up);
  }
  return up;
}

// Everything that reaches into nodes, records and arenas.
struct PropertyOps {
  using Payload = BindingProperty::Payload;

  static SequenceRecord* Sequence(const BindingProperty& node) noexcept {
    return static_cast<SequenceRecord*>(node.payload_.record);
  }
  static MemberMapRecord* Map(const BindingProperty& node) noexcept {
    return static_cast<MemberMapRecord*>(node.payload_.record);
  }
  static TextEntry* Text(const BindingProperty& node) noexcept {
    return static_cast<TextEntry*>(node.payload_.record);
  }

  static void InitElement(BindingProperty* node, PropertyArena* arena) noexcept {
    new (node) BindingProperty(arena);
  }

  // For the builder: a node's arena (made if need be), and scalars written
  // into a node that is known to be empty, without clearing it first.
  static PropertyArena* ArenaOf(const BindingProperty& node) noexcept { return node.arena_; }
  static void PutBool(BindingProperty& node, bool value) noexcept {
    node.payload_.boolValue = value;
    node.kind_ = PropertyKind::Bool;
  }
  static void PutSigned(BindingProperty& node, int64_t value) noexcept {
    node.payload_.signedValue = value;
    node.kind_ = PropertyKind::Signed;
  }
  static void PutUnsigned(BindingProperty& node, uint64_t value) noexcept {
    node.payload_.unsignedValue = value;
    node.kind_ = PropertyKind::Unsigned;
  }
  static void PutFloat(BindingProperty& node, double value) noexcept {
    node.payload_.floatValue = value;
    node.kind_ = PropertyKind::Float;
  }
  static SequenceRecord* NewSequence(PropertyArena& arena) {
    auto* sequence = static_cast<SequenceRecord*>(arena.sequences.Allocate());
    sequence->data = nullptr;
    sequence->size = 0;
    sequence->capacity = 0;
    return sequence;
  }
  // Moves count finished elements to the end of sequence's array, which
  // grows to exactly the size needed.
  static void AppendElements(PropertyArena& arena, SequenceRecord* sequence, const BindingProperty* elements,
                             uint32_t count) {
    if (count > kMaxElements - sequence->size) throw std::bad_alloc();
    if (sequence->capacity - sequence->size < count) {
      if (sequence->data == nullptr) {
        sequence->data = static_cast<BindingProperty*>(arena.AllocateBytes(count * uint32_t{sizeof(BindingProperty)}));
        sequence->capacity = count;
      } else {
        SetCapacity(arena, sequence, sequence->size + count);
      }
    }
    BindingProperty* target = sequence->data + sequence->size;
    if (count <= 4) {
      // Short arrays (pairs of coordinates, say) are the common case: a call
      // to memcpy costs more than the copy.
      for (uint32_t index = 0; index < count; ++index) {
        std::memcpy(static_cast<void*>(target + index), elements + index, sizeof(BindingProperty));
      }
    } else {
      std::memcpy(static_cast<void*>(target), elements, count * sizeof(BindingProperty));
    }
    sequence->size += count;
  }

  static void Install(BindingProperty& node, PropertyKind kind, void* record) noexcept {
    node.payload_.unsignedValue = 0;
    node.payload_.record = record;
    node.kind_ = kind;
  }

  struct Pending {
    void* record;
    PropertyKind kind;
  };

  // Gives back a string, blob or enum record; containers go on the stack.
  static void ReleaseOne(PropertyArena* arena, PropertyKind kind, void* record,
                         WorkStack<Pending>& pending) noexcept {
    switch (kind) {
      case PropertyKind::Empty:
      case PropertyKind::Bool:
      case PropertyKind::Signed:
      case PropertyKind::Unsigned:
      case PropertyKind::Float:
        return;
      case PropertyKind::String:
        if (record != SharedEmptyText()) arena->ReleaseText(static_cast<TextEntry*>(record));
        return;
      case PropertyKind::Blob:
        static_cast<ByteVector*>(record)->~ByteVector();
        arena->byteVectors.Free(record);
        arena->NoteBlobGone();
        return;
      case PropertyKind::Enum:
        arena->enums.Free(record);
        return;
      case PropertyKind::Collection:
      case PropertyKind::Structure:
        pending.Push({record, kind});
        return;
    }
  }

  // Releases a node's content (its kind and record) into the arena, record
  // by record.
  static void ReleaseContent(PropertyArena* arena, PropertyKind kind, void* record) noexcept {
    if (!HasRecord(kind)) return;
    WorkStack<Pending> pending;
    ReleaseOne(arena, kind, record, pending);
    while (!pending.IsEmpty()) {
      const Pending item = pending.Pop();
      if (item.kind == PropertyKind::Collection) {
        auto* sequence = static_cast<SequenceRecord*>(item.record);
        for (uint32_t index = 0; index < sequence->size; ++index) {
          const BindingProperty& element = sequence->data[index];
          ReleaseOne(arena, element.kind_, element.payload_.record, pending);
        }
        arena->FreeBytes(sequence->data, sequence->capacity * uint32_t{sizeof(BindingProperty)});
        arena->sequences.Free(sequence);
      } else {
        auto* map = static_cast<MemberMapRecord*>(item.record);
        // Rotating every left child up turns the tree into a list that is
        // freed front to back, without a stack.
        MemberNode* node = map->root;
        while (node != nullptr) {
          if (MemberNode* left = node->left) {
            node->left = left->right;
            left->right = node;
            node = left;
            continue;
          }
          MemberNode* next = node->right;
          arena->ReleaseText(node->key);
          ReleaseOne(arena, node->value.kind_, node->value.payload_.record, pending);
          arena->FreeBytes(node, uint32_t{sizeof(MemberNode)});
          node = next;
        }
        arena->memberMaps.Free(map);
      }
    }
  }

  static void Discard(BindingProperty& node) noexcept {
    ReleaseContent(node.arena_, node.kind_, node.payload_.record);
    node.kind_ = PropertyKind::Empty;
    node.payload_.unsignedValue = 0;
  }

  static MemberMapRecord* NewMap(PropertyArena& arena) {
    auto* map = static_cast<MemberMapRecord*>(arena.memberMaps.Allocate());
    map->root = nullptr;
    map->size = 0;
    map->leftmost = nullptr;
    return map;
  }

  static MemberNode* NewMemberNode(PropertyArena& arena, TextEntry* key) {
    void* block;
    try {
      block = arena.AllocateBytes(sizeof(MemberNode));
    } catch (...) {
      arena.ReleaseText(key);
      throw;
    }
    auto* node = static_cast<MemberNode*>(block);
    node->key = key;
    InitElement(&node->value, &arena);
    return node;
  }

  // The member of map keyed name (already cut at its first NUL, hash its
  // FNV-1a), inserted empty if there is none. Readers insert far more often
  // than they find, so the text table is only asked once the key is known
  // to be new.
  // known, when not null, is the interned entry of name, which an inserted
  // member then shares without asking the table.
  static MemberNode* FindOrInsertMember(PropertyArena& arena, MemberMapRecord* map, std::string_view name,
                                        uint32_t hash, bool& isInserted, TextEntry* known = nullptr) {
    MemberNode* parent = nullptr;
    bool asLeft = false;
    for (MemberNode* node = map->root; node != nullptr;) {
      const int order = CompareKey(name, node->key);
      if (order == 0) {
        isInserted = false;
        return node;
      }
      parent = node;
      asLeft = order < 0;
      node = asLeft ? node->left : node->right;
    }
    TextEntry* key = known;
    if (key == nullptr) {
      key = arena.Intern(name, hash);
    } else if (key != SharedEmptyText()) {
      ++key->count;
    }
    MemberNode* node = NewMemberNode(arena, key);
    InsertMember(map, parent, asLeft, node);
    isInserted = true;
    return node;
  }

  static void GrowSequence(PropertyArena& arena, SequenceRecord* sequence, uint64_t minimum) {
    if (minimum > kMaxElements) throw std::bad_alloc();
    uint64_t capacity = sequence->capacity < 2 ? 2 : uint64_t{sequence->capacity} * 2;
    if (capacity < minimum) capacity = minimum;
    if (capacity > kMaxElements) capacity = kMaxElements;
    SetCapacity(arena, sequence, static_cast<uint32_t>(capacity));
  }

  static void SetCapacity(PropertyArena& arena, SequenceRecord* sequence, uint32_t capacity) {
    constexpr uint32_t kNode = sizeof(BindingProperty);
    sequence->data = static_cast<BindingProperty*>(
        arena.ReallocateBytes(sequence->data, sequence->capacity * kNode, capacity * kNode));
    sequence->capacity = capacity;
  }

  static TextEntry* ShareText(PropertyArena& arena, const BindingProperty& source) {
    TextEntry* entry = Text(source);
    if (entry == SharedEmptyText()) return entry;
    if (source.arena_ == &arena) {
      ++entry->count;
      return entry;
    }
    return arena.Intern(entry->View(), entry->hash);
  }

  struct CopyTask {
    BindingProperty* target;
    const BindingProperty* source;
  };

  // Copies source's own content (children are set up empty and queued, or
  // copied at once when they hold no children of their own) into target,
  // which is empty and has an arena.
  static void CopyOne(BindingProperty& target, const BindingProperty& source,
                      WorkStack<CopyTask>& tasks, const BindingProperty* watch, bool& sawWatch) {
    // Only nodes with records reach the arena: a root copying a scalar may
    // have none.
    PropertyArena* const arena = target.arena_;
    switch (source.kind_) {
      case PropertyKind::Empty:
        return;
      case PropertyKind::Bool:
      case PropertyKind::Signed:
      case PropertyKind::Unsigned:
      case PropertyKind::Float:
        target.payload_ = source.payload_;
        target.kind_ = source.kind_;
        return;
      case PropertyKind::String:
        Install(target, PropertyKind::String, ShareText(*arena, source));
        return;
      case PropertyKind::Blob: {
        void* record = arena->byteVectors.Allocate();
        try {
          new (record) ByteVector(*static_cast<const ByteVector*>(source.payload_.record));
        } catch (...) {
          arena->byteVectors.Free(record);
          throw;
        }
        arena->NoteBlobMade();
        Install(target, PropertyKind::Blob, record);
        return;
      }
      case PropertyKind::Enum: {
        auto* record = static_cast<EnumRecord*>(arena->enums.Allocate());
        *record = *static_cast<const EnumRecord*>(source.payload_.record);
        Install(target, PropertyKind::Enum, record);
        return;
      }
      case PropertyKind::Collection: {
        const SequenceRecord* from = Sequence(source);
        auto* sequence = static_cast<SequenceRecord*>(arena->sequences.Allocate());
        sequence->data = nullptr;
        sequence->size = 0;
        sequence->capacity = 0;
        Install(target, PropertyKind::Collection, sequence);
        if (from->size == 0) return;
        SetCapacity(*arena, sequence, from->size);
        for (uint32_t index = 0; index < from->size; ++index) InitElement(sequence->data + index, arena);
        sequence->size = from->size;
        for (uint32_t index = 0; index < from->size; ++index) {
          const BindingProperty& child = from->data[index];
          if (&child == watch) sawWatch = true;
          if (IsContainer(child.kind_)) {
            tasks.Push({sequence->data + index, &child});
          } else {
            CopyOne(sequence->data[index], child, tasks, watch, sawWatch);
          }
        }
        return;
      }
      case PropertyKind::Structure: {
        MemberMapRecord* map = NewMap(*arena);
        Install(target, PropertyKind::Structure, map);
        MemberNode* last = nullptr;
        for (MemberNode* from = Map(source)->leftmost; from != nullptr; from = NextMember(from)) {
          TextEntry* key = from->key;
          if (key != SharedEmptyText()) {
            if (source.arena_ == arena) {
              ++key->count;
            } else {
              key = arena->Intern(key->View(), key->hash);
            }
          }
          MemberNode* node = NewMemberNode(*arena, key);
          // Keys arrive in ascending order: each goes after the last.
          InsertMember(map, last, false, node);
          last = node;
          const BindingProperty& child = from->value;
          if (&child == watch) sawWatch = true;
          if (IsContainer(child.kind_)) {
            tasks.Push({&node->value, &child});
          } else {
            CopyOne(node->value, child, tasks, watch, sawWatch);
          }
        }
        return;
      }
    }
  }

  // Deep copy of source into the empty target; returns whether watch is a
  // node below source.
  static bool CopyContent(BindingProperty& target, const BindingProperty& source, const BindingProperty* watch) {
    if (source.kind_ == PropertyKind::String && Text(source) == SharedEmptyText()) {
      Install(target, PropertyKind::String, SharedEmptyText());
      return false;
    }
    if (HasRecord(source.kind_)) target.EnsureArena();
    WorkStack<CopyTask> tasks;
    bool sawWatch = false;
    CopyOne(target, source, tasks, watch, sawWatch);
    while (!tasks.IsEmpty()) {
      const CopyTask task = tasks.Pop();
      CopyOne(*task.target, *task.source, tasks, watch, sawWatch);
    }
    return sawWatch;
  }
};

uint32_t MemberTreeHeight(const BindingProperty& node) noexcept {
  if (node.Kind() != PropertyKind::Structure) return 0;
  return Height(PropertyOps::Map(node)->root);
}

}  // namespace detail

using detail::PropertyOps;

const char* PropertyKindName(PropertyKind kind) noexcept {
  switch (kind) {
    case PropertyKind::Empty: return "empty";
    case PropertyKind::Bool: return "bool";
    case PropertyKind::Signed: return "signed";
    case PropertyKind::Unsigned: return "unsigned";
    case PropertyKind::Float: return "float";
    case PropertyKind::String: return "string";
    case PropertyKind::Blob: return "blob";
    case PropertyKind::Enum: return "enum";
    case PropertyKind::Collection: return "collection";
    case PropertyKind::Structure: return "structure";
  }
  return "";
}

void BindingProperty::CheckLayout() noexcept {
#if UINTPTR_MAX == 0xFFFFFFFFu
  static_assert(offsetof(BindingProperty, payload_) == 0);
  static_assert(offsetof(BindingProperty, arena_) == 8);
  static_assert(offsetof(BindingProperty, kind_) == 12);
  static_assert(offsetof(BindingProperty, ownsArena_) == 13);
#endif
  static_assert(sizeof(Payload) == 8);
}

const BindingProperty& BindingProperty::Empty() noexcept {
  static const BindingProperty empty;
  return empty;
}

const std::vector<uint8_t>& BindingProperty::EmptyBlob() noexcept {
  static const std::vector<uint8_t> empty;
  return empty;
}

BindingProperty::~BindingProperty() {
  if (!ownsArena_) {
    Clear();
    return;
  }
  if (arena_ == nullptr) return;
  // Blob bytes live on the general heap and must be freed one by one; all
  // else dies with the arena.
  if (arena_->LiveBlobCount() != 0) PropertyOps::ReleaseContent(arena_, kind_, payload_.record);
  delete arena_;
}

BindingProperty::BindingProperty(const BindingProperty& other) : BindingProperty() { CopyFrom(other); }

BindingProperty::BindingProperty(BindingProperty&& other) noexcept : BindingProperty() { TakeFrom(other); }

BindingProperty& BindingProperty::operator=(const BindingProperty& other) {
  CopyFrom(other);
  return *this;
}

BindingProperty& BindingProperty::operator=(BindingProperty&& other) noexcept {
  TakeFrom(other);
  return *this;
}

PropertyArena& BindingProperty::EnsureArena() {
  if (arena_ == nullptr) {
    assert(ownsArena_);
    arena_ = new PropertyArena(detail::kRecordSizes);
  }
  return *arena_;
}

size_t BindingProperty::Size() const noexcept {
  switch (kind_) {
    case PropertyKind::Empty: return 0;
    case PropertyKind::Bool:
    case PropertyKind::Signed:
    case PropertyKind::Unsigned:
    case PropertyKind::Float:
    case PropertyKind::Enum:
      return 1;
    case PropertyKind::String: return PropertyOps::Text(*this)->length;
    case PropertyKind::Blob: return static_cast<const std::vector<uint8_t>*>(payload_.record)->size();
    case PropertyKind::Collection: return PropertyOps::Sequence(*this)->size;
    case PropertyKind::Structure: return PropertyOps::Map(*this)->size;
  }
  return 0;
}

bool BindingProperty::IsDefault() const noexcept {
  switch (kind_) {
    case PropertyKind::Empty: return true;
    case PropertyKind::Bool: return !payload_.boolValue;
    case PropertyKind::Signed: return payload_.signedValue == 0;
    case PropertyKind::Unsigned: return payload_.unsignedValue == 0;
    case PropertyKind::Float: return payload_.floatValue == 0.0;
    case PropertyKind::Enum: return static_cast<const detail::EnumRecord*>(payload_.record)->value == 0;
    case PropertyKind::String:
    case PropertyKind::Blob:
    case PropertyKind::Collection:
    case PropertyKind::Structure:
      return Size() == 0;
  }
  return true;
}

bool BindingProperty::GetBool(bool fallback) const noexcept {
  return kind_ == PropertyKind::Bool ? payload_.boolValue : fallback;
}
int64_t BindingProperty::GetSigned(int64_t fallback) const noexcept {
  return kind_ == PropertyKind::Signed ? payload_.signedValue : fallback;
}
uint64_t BindingProperty::GetUnsigned(uint64_t fallback) const noexcept {
  return kind_ == PropertyKind::Unsigned ? payload_.unsignedValue : fallback;
}
double BindingProperty::GetFloat(double fallback) const noexcept {
  return kind_ == PropertyKind::Float ? payload_.floatValue : fallback;
}
std::string_view BindingProperty::GetString() const noexcept {
  return GetString(SharedEmptyText()->View());
}
std::string_view BindingProperty::GetString(std::string_view fallback) const noexcept {
  return kind_ == PropertyKind::String ? PropertyOps::Text(*this)->View() : fallback;
}
const std::vector<uint8_t>& BindingProperty::GetBlob(const std::vector<uint8_t>& fallback) const noexcept {
  return kind_ == PropertyKind::Blob ? *static_cast<const std::vector<uint8_t>*>(payload_.record) : fallback;
}
EnumValue BindingProperty::GetEnum(EnumValue fallback) const noexcept {
  if (kind_ != PropertyKind::Enum) return fallback;
  const auto* record = static_cast<const detail::EnumRecord*>(payload_.record);
  return {record->value, record->type};
}

void BindingProperty::Clear() noexcept {
  if (detail::HasRecord(kind_)) {
    // A root's arena holds nothing but this tree: drop it whole, unless blob
    // bytes on the general heap need freeing one by one.
    if (ownsArena_ && detail::IsContainer(kind_) && arena_->LiveBlobCount() == 0) {
      arena_->Reset();
    } else {
      PropertyOps::ReleaseContent(arena_, kind_, payload_.record);
    }
  }
  kind_ = PropertyKind::Empty;
  payload_.unsignedValue = 0;
}

void BindingProperty::SetBool(bool value) noexcept {
  Clear();
  payload_.boolValue = value;
  kind_ = PropertyKind::Bool;
}
void BindingProperty::SetSigned(int64_t value) noexcept {
  Clear();
  payload_.signedValue = value;
  kind_ = PropertyKind::Signed;
}
void BindingProperty::SetUnsigned(uint64_t value) noexcept {
  Clear();
  payload_.unsignedValue = value;
  kind_ = PropertyKind::Unsigned;
}
void BindingProperty::SetFloat(double value) noexcept {
  Clear();
  payload_.floatValue = value;
  kind_ = PropertyKind::Float;
}

void BindingProperty::SetString(const char* text) {
  SetString(text == nullptr ? std::string_view() : std::string_view(text));
}

void BindingProperty::SetString(std::string_view text) {
  if (arena_ != nullptr) {
    if (TextEntry* known = arena_->FindRecent(text)) {
      // The old content may hold the only other reference: count first.
      ++known->count;
      PropertyOps::Discard(*this);
      PropertyOps::Install(*this, PropertyKind::String, known);
      return;
    }
  }
  const uint32_t hash = HashUpToNul(text);
  if (text.empty()) {
    Clear();
    PropertyOps::Install(*this, PropertyKind::String, SharedEmptyText());
    return;
  }
  // Interned before the old content goes, since text may lie inside it.
  TextEntry* entry = EnsureArena().Intern(text, hash);
  PropertyOps::Discard(*this);
  PropertyOps::Install(*this, PropertyKind::String, entry);
}

void BindingProperty::SetBlob(const uint8_t* bytes, size_t count) {
  PropertyArena& arena = EnsureArena();
  void* record = arena.byteVectors.Allocate();
  try {
    new (record) std::vector<uint8_t>(bytes, bytes + count);
  } catch (...) {
    arena.byteVectors.Free(record);
    throw;
  }
  arena.NoteBlobMade();
  PropertyOps::Discard(*this);
  PropertyOps::Install(*this, PropertyKind::Blob, record);
}

void BindingProperty::SetBlob(std::vector<uint8_t>&& bytes) {
  PropertyArena& arena = EnsureArena();
  void* record = arena.byteVectors.Allocate();
  new (record) std::vector<uint8_t>(std::move(bytes));
  arena.NoteBlobMade();
  PropertyOps::Discard(*this);
  PropertyOps::Install(*this, PropertyKind::Blob, record);
}

void BindingProperty::SetEnum(int32_t value, const StaticTypeId* type) {
  Clear();
  auto* record = static_cast<detail::EnumRecord*>(EnsureArena().enums.Allocate());
  record->value = value;
  record->type = type;
  PropertyOps::Install(*this, PropertyKind::Enum, record);
}

void BindingProperty::MakeCollection() {
  if (kind_ == PropertyKind::Collection) return;
  Clear();
  PropertyOps::Install(*this, PropertyKind::Collection, PropertyOps::NewSequence(EnsureArena()));
}

void BindingProperty::MakeStructure() {
  if (kind_ == PropertyKind::Structure) return;
  Clear();
  PropertyOps::Install(*this, PropertyKind::Structure, PropertyOps::NewMap(EnsureArena()));
}

BindingProperty& BindingProperty::At(size_t index) {
  MakeCollection();
  detail::SequenceRecord* sequence = PropertyOps::Sequence(*this);
  if (index >= sequence->size) {
    if (index >= detail::kMaxElements) throw std::bad_alloc();
    if (index >= sequence->capacity) PropertyOps::GrowSequence(*arena_, sequence, uint64_t{index} + 1);
    for (size_t fill = sequence->size; fill <= index; ++fill) {
      PropertyOps::InitElement(sequence->data + fill, arena_);
    }
    sequence->size = static_cast<uint32_t>(index + 1);
  }
  return sequence->data[index];
}

const BindingProperty& BindingProperty::ElementAt(size_t index) const noexcept {
  if (kind_ != PropertyKind::Collection) return Empty();
  const detail::SequenceRecord* sequence = PropertyOps::Sequence(*this);
  return index < sequence->size ? sequence->data[index] : Empty();
}

BindingProperty& BindingProperty::Append() {
  MakeCollection();
  detail::SequenceRecord* sequence = PropertyOps::Sequence(*this);
  if (sequence->size == sequence->capacity) {
    PropertyOps::GrowSequence(*arena_, sequence, uint64_t{sequence->size} + 1);
  }
  BindingProperty* element = sequence->data + sequence->size++;
  PropertyOps::InitElement(element, arena_);
  return *element;
}

void BindingProperty::Reserve(size_t count) {
  if (kind_ != PropertyKind::Collection) return;
  detail::SequenceRecord* sequence = PropertyOps::Sequence(*this);
  // Only a hint: a count no array can hold is left to the appends.
  if (count <= sequence->capacity || count > detail::kMaxElements) return;
  PropertyOps::SetCapacity(*arena_, sequence, static_cast<uint32_t>(count));
}

BindingProperty& BindingProperty::Member(std::string_view name) {
  // A key seen lately needs neither cutting nor hashing.
  TextEntry* const known = arena_ != nullptr ? arena_->FindRecent(name) : nullptr;
  const uint32_t hash = known != nullptr ? known->hash : HashUpToNul(name);
  if (kind_ != PropertyKind::Structure) {
    // The new map, key and node are made before the old content goes, since
    // name may lie inside it.
    PropertyArena& arena = EnsureArena();
    detail::MemberMapRecord* map = PropertyOps::NewMap(arena);
    TextEntry* key;
    detail::MemberNode* node;
    try {
      key = arena.Intern(name, hash);
      node = PropertyOps::NewMemberNode(arena, key);
    } catch (...) {
      arena.memberMaps.Free(map);
      throw;
    }
    PropertyOps::Discard(*this);
    detail::InsertMember(map, nullptr, false, node);
    PropertyOps::Install(*this, PropertyKind::Structure, map);
    return node->value;
  }
  bool isInserted;
  return PropertyOps::FindOrInsertMember(*arena_, PropertyOps::Map(*this), name, hash, isInserted, known)->value;
}

const BindingProperty& BindingProperty::FindMember(std::string_view name) const noexcept {
  if (kind_ != PropertyKind::Structure) return Empty();
  const TextEntry* known = arena_->FindRecent(name);
  if (known == nullptr) known = arena_->FindText(name, HashUpToNul(name));
  if (known == nullptr) return Empty();  // no key of this tree has that text
  for (const detail::MemberNode* node = PropertyOps::Map(*this)->root; node != nullptr;) {
    if (node->key == known) return node->value;
    node = detail::CompareKey(name, node->key) < 0 ? node->left : node->right;
  }
  return Empty();
}

BindingProperty::ConstMemberIterator BindingProperty::MemberBegin() const noexcept {
  if (kind_ != PropertyKind::Structure) return {};
  return ConstMemberIterator(PropertyOps::Map(*this)->leftmost);
}

BindingProperty::MemberIterator BindingProperty::MemberBegin() noexcept {
  if (kind_ != PropertyKind::Structure) return {};
  return MemberIterator(PropertyOps::Map(*this)->leftmost);
}

void BindingProperty::TakeFrom(BindingProperty& other) {
  if (&other == this) return;
  if (ownsArena_ && other.ownsArena_) {
    std::swap(payload_, other.payload_);
    std::swap(arena_, other.arena_);
    std::swap(kind_, other.kind_);
    other.Clear();
    return;
  }
  Assign(other, &other);
}

void BindingProperty::CopyFrom(const BindingProperty& other) {
  if (&other == this) return;
  Assign(other, nullptr);
}

void BindingProperty::Assign(const BindingProperty& source, BindingProperty* sourceToClear) {
  if (arena_ == nullptr || source.arena_ != arena_) {
    // source lies in another tree: this node may be emptied first, which lets
    // a root reuse its arena from scratch.
    Clear();
    PropertyOps::CopyContent(*this, source, nullptr);
    if (sourceToClear != nullptr) sourceToClear->Clear();
    return;
  }
  // The same tree: source may lie inside this node's content, or this node
  // inside source. Copy first, then let the old content go.
  BindingProperty fresh(arena_);
  const bool sourceHoldsThis = PropertyOps::CopyContent(fresh, source, this);
  if (sourceToClear != nullptr) {
    if (sourceHoldsThis) {
      // Clearing the source destroys this node; the copy has no home.
      fresh.Clear();
      sourceToClear->Clear();
      return;
    }
    sourceToClear->Clear();
  }
  std::swap(payload_, fresh.payload_);
  std::swap(kind_, fresh.kind_);
  // fresh, not owning the arena, releases the old content as it goes.
}

BindingResult& BindingResult::operator=(BindingResult&& other) noexcept {
  succeeded_ = other.succeeded_;
  TakeFrom(other);
  return *this;
}

BindingResult& BindingResult::operator=(const BindingResult& other) {
  succeeded_ = other.succeeded_;
  CopyFrom(other);
  return *this;
}

BindingResult& BindingResult::operator=(const BindingProperty& value) {
  succeeded_ = true;
  CopyFrom(value);
  return *this;
}

void BindingResult::SetError(std::string_view message) {
  // The message may be this result's own text, which Clear releases.
  const std::string text(message);
  Clear();
  succeeded_ = false;
  Member("error").SetString(std::string_view(text));
}

std::string_view BindingResult::Error() const noexcept {
  if (succeeded_) return SharedEmptyText()->View();
  return FindMember("error").GetString();
}

// --- TreeBuilder ---

TreeBuilder::TreeBuilder(BindingProperty& root) noexcept
    : root_(&root), current_(&root), frames_(inlineFrames_), frameCapacity_(kInlineFrames) {}

TreeBuilder::~TreeBuilder() {
  while (frameCount_ != 0) {
    if (!frames_[frameCount_ - 1].isCollection) {
      --frameCount_;
      continue;
    }
    try {
      CloseCollection();
    } catch (...) {
      // No room to keep them: the waiting elements of this collection go.
      const Frame frame = frames_[--frameCount_];
      for (uint32_t index = frame.start; index < scratchCount_; ++index) scratch_[index].Clear();
      scratchCount_ = frame.start;
    }
  }
  Memory::Free(scratch_);
  if (frames_ != inlineFrames_) Memory::Free(frames_);
}

PropertyArena* TreeBuilder::TreeArena() const noexcept { return PropertyOps::ArenaOf(*root_); }

BindingProperty& TreeBuilder::Next() {
  if (frameCount_ == 0 || !frames_[frameCount_ - 1].isCollection) return *current_;
  if (scratchCount_ == scratchCapacity_) GrowScratch();
  BindingProperty* element = scratch_ + scratchCount_;
  // Every open collection has a record, so the tree has its arena by now.
  PropertyOps::InitElement(element, PropertyOps::ArenaOf(*root_));
  ++scratchCount_;
  isFresh_ = true;
  return *element;
}

void TreeBuilder::GrowScratch() {
  const uint64_t capacity = scratchCapacity_ == 0 ? 256 : uint64_t{scratchCapacity_} * 2;
  if (capacity > UINT32_MAX / sizeof(BindingProperty)) throw std::bad_alloc();
  void* grown = Memory::Reallocate(scratch_, static_cast<size_t>(capacity) * sizeof(BindingProperty));
  if (grown == nullptr) throw std::bad_alloc();
  scratch_ = static_cast<BindingProperty*>(grown);
  scratchCapacity_ = static_cast<uint32_t>(capacity);
}

void TreeBuilder::GrowFrames() {
  const uint64_t capacity = uint64_t{frameCapacity_} * 2;
  if (capacity > UINT32_MAX / sizeof(Frame)) throw std::bad_alloc();
  auto* grown = static_cast<Frame*>(Memory::Allocate(static_cast<size_t>(capacity) * sizeof(Frame)));
  if (grown == nullptr) throw std::bad_alloc();
  std::memcpy(grown, frames_, frameCount_ * sizeof(Frame));
  if (frames_ != inlineFrames_) Memory::Free(frames_);
  frames_ = grown;
  frameCapacity_ = static_cast<uint32_t>(capacity);
}

void TreeBuilder::PushFrame(void* record, bool isCollection) {
  if (frameCount_ == frameCapacity_) GrowFrames();
  frames_[frameCount_++] = {record, scratchCount_, isCollection};
  UpdateElementArena();
}

void TreeBuilder::PutSlow(PropertyKind kind, uint64_t bits) {
  BindingProperty& node = Next();
  if (isFresh_) {
    node.payload_.unsignedValue = bits;
    node.kind_ = kind;
    return;
  }
  switch (kind) {
    case PropertyKind::Bool: node.SetBool((bits & 1) != 0); return;
    case PropertyKind::Signed: node.SetSigned(static_cast<int64_t>(bits)); return;
    case PropertyKind::Unsigned: node.SetUnsigned(bits); return;
    case PropertyKind::Float: {
      double value;
      std::memcpy(&value, &bits, sizeof value);
      node.SetFloat(value);
      return;
    }
    default: return;  // null leaves a node that already holds a value as it is
  }
}

void TreeBuilder::String(std::string_view text) {
  BindingProperty& node = Next();
  if (!isFresh_) {
    node.SetString(text);
    return;
  }
  PropertyArena* arena = PropertyOps::ArenaOf(node);
  TextEntry* entry = arena->FindRecent(text);
  if (entry != nullptr) {
    ++entry->count;
  } else {
    const uint32_t hash = HashUpToNul(text);
    entry = text.empty() ? SharedEmptyText() : arena->Intern(text, hash);
  }
  PropertyOps::Install(node, PropertyKind::String, entry);
}

void TreeBuilder::StartStructure() {
  BindingProperty& node = Next();
  void* map;
  if (isFresh_) {
    map = PropertyOps::NewMap(*PropertyOps::ArenaOf(node));
    PropertyOps::Install(node, PropertyKind::Structure, map);
  } else {
    node.MakeStructure();
    map = PropertyOps::Map(node);
  }
  PushFrame(map, false);
}

void TreeBuilder::Key(std::string_view name) {
  assert(frameCount_ != 0 && !frames_[frameCount_ - 1].isCollection);
  auto* map = static_cast<detail::MemberMapRecord*>(frames_[frameCount_ - 1].record);
  bool isInserted;
  detail::MemberNode* member;
  PropertyArena& arena = *TreeArena();
  if (TextEntry* known = arena.FindRecent(name)) {
    member = PropertyOps::FindOrInsertMember(arena, map, name, known->hash, isInserted, known);
  } else {
    const uint32_t hash = HashUpToNul(name);
    member = PropertyOps::FindOrInsertMember(arena, map, name, hash, isInserted);
  }
  current_ = &member->value;
  isFresh_ = isInserted;
}

void TreeBuilder::EndStructure() {
  assert(frameCount_ != 0 && !frames_[frameCount_ - 1].isCollection);
  --frameCount_;
  UpdateElementArena();
}

void TreeBuilder::StartCollection() {
  BindingProperty& node = Next();
  void* sequence;
  if (isFresh_) {
    sequence = PropertyOps::NewSequence(*PropertyOps::ArenaOf(node));
    PropertyOps::Install(node, PropertyKind::Collection, sequence);
  } else {
    node.MakeCollection();
    sequence = PropertyOps::Sequence(node);
  }
  PushFrame(sequence, true);
}

void TreeBuilder::EndCollection() {
  assert(frameCount_ != 0 && frames_[frameCount_ - 1].isCollection);
  CloseCollection();
}

void TreeBuilder::CloseCollection() {
  const Frame& frame = frames_[frameCount_ - 1];
  const uint32_t count = scratchCount_ - frame.start;
  if (count != 0) {
    PropertyOps::AppendElements(*PropertyOps::ArenaOf(*root_), static_cast<detail::SequenceRecord*>(frame.record),
                                scratch_ + frame.start, count);
  }
  scratchCount_ = frame.start;
  --frameCount_;
  UpdateElementArena();
}

void TreeBuilder::UpdateElementArena() noexcept {
  const bool inCollection = frameCount_ != 0 && frames_[frameCount_ - 1].isCollection;
  elementArena_ = inCollection ? TreeArena() : nullptr;
}

}  // namespace Zarn
