// Conversion between host records and BindingProperty trees, and the release
// of host records. Each walk keeps one frame per open collection or
// structure on a stack that lives inline for shallow trees and in tracked
// heap memory beyond, so depth costs memory, never the thread's stack.
#include "values/host_value.h"

#include <cstring>
#include <new>
#include <string>

#include "binding/binding_registry.h"
#include "plugin/memory.h"
#include "util/format.h"
#include "values/binding_property.h"

namespace Zarn {
namespace {

constexpr const char* kIncompatibleKind =
    "Couldn't assign value to '%1' of type object because the input is of an incompatible type '%2'.";
constexpr const char* kOutOfMemory = "Couldn't assign value to '%1' because memory ran out.";

// Trivially copyable frames only: growth moves them with memcpy.
template <typename Frame>
class WalkStack {
 public:
  static_assert(std::is_trivially_copyable_v<Frame>);
  WalkStack() noexcept = default;
  ~WalkStack() {
    if (frames_ != inline_) Memory::Free(frames_);
  }
  WalkStack(const WalkStack&) = delete;
  WalkStack& operator=(const WalkStack&) = delete;

  bool IsEmpty() const noexcept { return size_ == 0; }
  Frame& Top() noexcept { return frames_[size_ - 1]; }
  void Pop() noexcept { --size_; }
  // False when the heap cannot hold one more frame; the stack is unchanged.
  [[nodiscard]] bool Push(const Frame& frame) noexcept {
    if (size_ == capacity_ && !Grow()) return false;
    frames_[size_++] = frame;
    return true;
  }

 private:
  bool Grow() noexcept {
    if (capacity_ > SIZE_MAX / 2 / sizeof(Frame)) return false;
    const size_t capacity = capacity_ * 2;
    auto* frames = static_cast<Frame*>(Memory::Allocate(capacity * sizeof(Frame)));
    if (frames == nullptr) return false;
    std::memcpy(static_cast<void*>(frames), frames_, size_ * sizeof(Frame));
    if (frames_ != inline_) Memory::Free(frames_);
    frames_ = frames;
    capacity_ = capacity;
    return true;
  }

  static constexpr size_t kInlineFrames = 16;
  Frame inline_[kInlineFrames];
  Frame* frames_ = inline_;
  size_t size_ = 0;
  size_t capacity_ = kInlineFrames;
};

bool IsHostKind(int32_t code) noexcept { return code >= 0 && code <= 10; }

// Copies count bytes into a new tracked block with a NUL after them.
char* CopyText(const char* text, size_t length) noexcept {
  auto* copy = static_cast<char*>(Memory::Allocate(length + 1));
  if (copy == nullptr) return nullptr;
  if (length != 0) std::memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

bool IsCollection(const HostValue& node) noexcept {
  return node.kind == static_cast<int32_t>(HostKind::Collection);
}
// Elements of a collection, entries of a structure.
uint32_t ChildCount(const HostValue& node) noexcept {
  return IsCollection(node) ? node.collection.count : node.structure.count;
}

template <typename... Arguments>
void Fail(HostResult& result, const char* pattern, const Arguments&... arguments) noexcept {
  ReleaseHostValue(result.value);
  Memory::Free(result.errorText);
  result.errorText = nullptr;
  result.failed = 1;
  try {
    const std::string message = Format(pattern, arguments...);
    result.errorText = CopyText(message.data(), message.size());
  } catch (const std::bad_alloc&) {
    // failed without a text: the flag is what callers act on
  }
}

// --- Host record into tree ---

struct InFrame {
  const HostValue* source;  // kind 9 or 10
  BindingProperty* target;  // stays put: only the top frame's node grows
  uint32_t next;            // index of the next element or entry
};

// Converts a scalar into target, or opens a container and pushes its frame.
// Returns false for a kind outside the table; target is then untouched.
// Throws std::bad_alloc when the tree cannot grow.
bool Visit(const HostValue& source, BindingProperty& target, WalkStack<InFrame>& stack) {
  if (!IsHostKind(source.kind)) return false;
  switch (static_cast<HostKind>(source.kind)) {
    case HostKind::Empty:
      target.Clear();
      return true;
    case HostKind::Bool:
      target.SetBool(source.boolValue != 0);
      return true;
    case HostKind::Signed:
      target.SetSigned(source.signedValue);
      return true;
    case HostKind::Unsigned:
      target.SetUnsigned(source.unsignedValue);
      return true;
    case HostKind::Float:
      target.SetFloat(source.floatValue);
      return true;
    case HostKind::StringView:
    case HostKind::String:
      // Up to the NUL: the length field is not trusted.
      target.SetString(source.text.text);
      return true;
    case HostKind::BlobView:
    case HostKind::Blob:
      if (source.blob.bytes == nullptr) {
        target.SetBlob(nullptr, 0);
      } else {
        target.SetBlob(source.blob.bytes, source.blob.count);
      }
      return true;
    case HostKind::Collection:
      // Cleared first, so the result holds this collection only.
      target.Clear();
      target.MakeCollection();
      if (source.collection.elements != nullptr && source.collection.count != 0) {
        target.Reserve(source.collection.count);
        if (!stack.Push({&source, &target, 0})) throw std::bad_alloc();
      }
      return true;
    case HostKind::Structure:
      target.Clear();
      target.MakeStructure();
      if (source.structure.entries != nullptr && source.structure.count != 0) {
        if (!stack.Push({&source, &target, 0})) throw std::bad_alloc();
      }
      return true;
  }
  return false;
}

// --- Tree into host record ---

struct OutFrame {
  const BindingProperty* source;  // collection or structure
  HostValue* target;              // its array is allocated and zeroed
  uint32_t next;                  // index of the next element or entry
  BindingProperty::ConstMemberIterator member;  // structures: the next member
};

class OutWalk {
 public:
  explicit OutWalk(const BindingRegistry* registry) noexcept : registry_(registry) {}

  bool Run(HostValue& output, const BindingProperty& input) noexcept {
    Visit(output, input);
    while (!stack_.IsEmpty()) {
      OutFrame& top = stack_.Top();
      if (top.next == ChildCount(*top.target)) {
        stack_.Pop();
        continue;
      }
      const uint32_t index = top.next++;
      if (IsCollection(*top.target)) {
        const BindingProperty& element = top.source->ElementAt(index);
        HostValue& slot = top.target->collection.elements[index];
        Visit(slot, element);  // may push: top is not used after this
      } else {
        const BindingProperty::ConstMemberIterator member = top.member;
        ++top.member;
        HostMemberEntry& entry = top.target->structure.entries[index];
        const std::string_view key = member.Key();
        char* copy = CopyText(key.data(), key.size());
        if (copy != nullptr) {
          entry.key = copy;
          entry.ownsKey = 1;
        } else {
          entry.key = "";  // never freed: ownsKey stays 0
          completed_ = false;
        }
        Visit(entry.value, member.Value());
      }
    }
    return completed_;
  }

 private:
  template <typename Record>
  Record* AllocateZeroed(size_t count) noexcept {
    if (count == 0) return nullptr;
    if (count > SIZE_MAX / sizeof(Record)) return nullptr;
    void* block = Memory::Allocate(count * sizeof(Record));
    if (block == nullptr) return nullptr;
    std::memset(block, 0, count * sizeof(Record));
    return static_cast<Record*>(block);
  }

  void SetOwnedText(HostValue& target, std::string_view text) noexcept {
    char* copy = CopyText(text.data(), text.size());
    if (copy == nullptr) {
      completed_ = false;
      return;  // stays empty
    }
    target.kind = static_cast<int32_t>(HostKind::String);
    target.text.text = copy;
    target.text.length = static_cast<uint32_t>(text.size());
  }

  void Visit(HostValue& target, const BindingProperty& source) noexcept {
    ReleaseHostValue(target);
    switch (source.Kind()) {
      case PropertyKind::Empty:
        return;
      case PropertyKind::Bool:
        target.kind = static_cast<int32_t>(HostKind::Bool);
        target.boolValue = source.GetBool() ? 1 : 0;
        return;
      case PropertyKind::Signed:
        target.kind = static_cast<int32_t>(HostKind::Signed);
        target.signedValue = source.GetSigned();
        return;
      case PropertyKind::Unsigned:
        target.kind = static_cast<int32_t>(HostKind::Unsigned);
        target.unsignedValue = source.GetUnsigned();
        return;
      case PropertyKind::Float:
        target.kind = static_cast<int32_t>(HostKind::Float);
        target.floatValue = source.GetFloat();
        return;
      case PropertyKind::String:
        SetOwnedText(target, source.GetString());
        return;
      case PropertyKind::Blob: {
        const std::vector<uint8_t>& bytes = source.GetBlob();
        uint8_t* copy = nullptr;
        if (!bytes.empty()) {
          copy = static_cast<uint8_t*>(Memory::Allocate(bytes.size()));
          if (copy == nullptr) {
            completed_ = false;
            return;
          }
          std::memcpy(copy, bytes.data(), bytes.size());
        }
        target.kind = static_cast<int32_t>(HostKind::Blob);
        target.blob.bytes = copy;
        target.blob.count = static_cast<uint32_t>(bytes.size());
        return;
      }
      case PropertyKind::Enum: {
        const EnumValue value = source.GetEnum();
        const char* name = registry_ == nullptr ? nullptr : registry_->EnumeratorName(value.type, value.value);
        if (name != nullptr) {
          SetOwnedText(target, name);
        } else {
          target.kind = static_cast<int32_t>(HostKind::Signed);
          target.signedValue = value.value;
        }
        return;
      }
      case PropertyKind::Collection:
        OpenContainer<HostValue>(target, source, HostKind::Collection);
        return;
      case PropertyKind::Structure:
        OpenContainer<HostMemberEntry>(target, source, HostKind::Structure);
        return;
    }
  }

  template <typename Record>
  void OpenContainer(HostValue& target, const BindingProperty& source, HostKind kind) noexcept {
    const size_t count = source.Size();
    Record* records = AllocateZeroed<Record>(count);
    if (count != 0 && records == nullptr) {
      completed_ = false;
      return;  // stays empty
    }
    target.kind = static_cast<int32_t>(kind);
    // Both payloads are {pointer, count}; the array is linked in before any
    // element is written, so a walk cut short still leaves a releasable tree.
    if constexpr (std::is_same_v<Record, HostValue>) {
      target.collection.elements = records;
      target.collection.count = static_cast<uint32_t>(count);
    } else {
      target.structure.entries = records;
      target.structure.count = static_cast<uint32_t>(count);
    }
    if (count == 0) return;
    if (!stack_.Push({&source, &target, 0, source.MemberBegin()})) {
      // No room to walk below: give the array back rather than leave zeroed
      // elements that would pass for empty values.
      ReleaseHostValue(target);
      completed_ = false;
    }
  }

  const BindingRegistry* registry_;
  WalkStack<OutFrame> stack_;
  bool completed_ = true;
};

// --- Release ---

struct ReleaseFrame {
  HostValue* node;  // kind 9 or 10, children not yet released from next on
  uint32_t next;
};

// Frees a leaf's payload and zeroes it; a container with children is pushed
// instead (or, when the stack cannot grow, abandoned: its record is zeroed
// and its memory stays allocated, the only safe choice without a stack).
void ReleaseNode(HostValue& node, WalkStack<ReleaseFrame>& stack) noexcept {
  switch (node.kind) {
    case static_cast<int32_t>(HostKind::String):
      Memory::Free(const_cast<char*>(node.text.text));
      break;
    case static_cast<int32_t>(HostKind::Blob):
      Memory::Free(const_cast<uint8_t*>(node.blob.bytes));
      break;
    case static_cast<int32_t>(HostKind::Collection):
      if (node.collection.count != 0 && node.collection.elements != nullptr && stack.Push({&node, 0})) return;
      if (node.collection.count == 0) Memory::Free(node.collection.elements);
      break;
    case static_cast<int32_t>(HostKind::Structure):
      if (node.structure.count != 0 && node.structure.entries != nullptr && stack.Push({&node, 0})) return;
      if (node.structure.count == 0) Memory::Free(node.structure.entries);
      break;
    default:
      break;  // owns nothing (or unknown: left alone)
  }
  std::memset(static_cast<void*>(&node), 0, sizeof node);
}

}  // namespace

bool FromHostValue(HostResult& result, BindingProperty& output, const HostValue& input,
                   std::string_view name) noexcept {
  WalkStack<InFrame> stack;
  bool isRefused = false;
  int32_t refused = 0;
  try {
    if (!Visit(input, output, stack)) {
      isRefused = true;
      refused = input.kind;
    } else {
      while (!stack.IsEmpty()) {
        InFrame& top = stack.Top();
        const HostValue& source = *top.source;
        if (top.next == ChildCount(source)) {
          stack.Pop();
          continue;
        }
        const uint32_t index = top.next++;
        BindingProperty* target = top.target;
        const HostValue* child;
        BindingProperty* childTarget;
        if (IsCollection(source)) {
          child = &source.collection.elements[index];
          childTarget = &target->At(index);
        } else {
          const HostMemberEntry& entry = source.structure.entries[index];
          child = &entry.value;
          childTarget = &target->Member(entry.key == nullptr ? "" : entry.key);
        }
        if (!Visit(*child, *childTarget, stack)) {
          isRefused = true;
          refused = child->kind;
          break;
        }
      }
    }
  } catch (const std::bad_alloc&) {
    Fail(result, kOutOfMemory, name);
    return false;
  }
  if (isRefused) {
    Fail(result, kIncompatibleKind, name, HostKindName(refused));
    return false;
  }
  return true;
}

bool ToHostValue(HostValue& output, const BindingProperty& input, const BindingRegistry* registry) noexcept {
  OutWalk walk(registry);
  return walk.Run(output, input);
}

void ReleaseHostValue(HostValue& record) noexcept {
  WalkStack<ReleaseFrame> stack;
  ReleaseNode(record, stack);
  while (!stack.IsEmpty()) {
    ReleaseFrame& top = stack.Top();
    HostValue& node = *top.node;
    if (top.next == ChildCount(node)) {
      stack.Pop();
      if (IsCollection(node)) {
        Memory::Free(node.collection.elements);
      } else {
        Memory::Free(node.structure.entries);
      }
      std::memset(static_cast<void*>(&node), 0, sizeof node);
      continue;
    }
    const uint32_t index = top.next++;
    if (IsCollection(node)) {
      ReleaseNode(node.collection.elements[index], stack);  // may push: top is not used after this
    } else {
      HostMemberEntry& entry = node.structure.entries[index];
      if (entry.ownsKey != 0) Memory::Free(const_cast<char*>(entry.key));
      entry.key = nullptr;
      entry.ownsKey = 0;
      ReleaseNode(entry.value, stack);
    }
  }
}

const char* HostKindName(int32_t code) noexcept {
  if (!IsHostKind(code)) return "";
  switch (static_cast<HostKind>(code)) {
    case HostKind::Empty:
      return "";
    case HostKind::Bool:
      return "bool";
    case HostKind::Signed:
      return "signed";
    case HostKind::Unsigned:
      return "unsigned";
    case HostKind::Float:
      return "float";
    case HostKind::StringView:
    case HostKind::String:
      return "string";
    case HostKind::BlobView:
    case HostKind::Blob:
      return "blob";
    case HostKind::Collection:
      return "collection";
    case HostKind::Structure:
      return "structure";
  }
  return "";
}

}  // namespace Zarn
