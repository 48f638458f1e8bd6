// TreeBuilder: builds a BindingProperty tree from a stream of events (value,
// key, start and end of a container), the way the wire-format readers
// produce them, faster than the same calls on BindingProperty.
//
// The result is exactly the tree that these operations give: each value
// event goes into the current node, which is a new element (Append) when the
// innermost open container is a collection, the member chosen by the last
// Key (Member) inside a structure, and the root at the top level. A start
// event makes the node a structure or collection with MakeStructure or
// MakeCollection, so an existing one keeps its content (a repeated key
// merges an object into the earlier one and appends an array's elements to
// the earlier array).
//
// What makes it faster: elements of open collections wait on one scratch
// stack and move into an array of exactly their number when the collection
// ends, so no element array is grown step by step; nodes known to be new are
// written directly instead of through the clearing setters; keys go into the
// member tree without a second lookup; and texts seen before are taken from
// the arena's cache of recent entries (PropertyArena::FindRecent), so that
// only new texts are hashed byte by byte.
//
//   BindingResult result;
//   TreeBuilder builder(result);
//   builder.StartCollection(); builder.Unsigned(1); builder.EndCollection();
//
// The builder and its tree belong to one thread. The tree is complete only
// after the last end event (or after the builder is destroyed, which closes
// whatever is still open); until then the root must not be read or changed
// except through the builder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "values/binding_property.h"

namespace Zarn {

class TreeBuilder {
 public:
  // root: the node the top-level value goes into; usually a new, empty root.
  explicit TreeBuilder(BindingProperty& root) noexcept;
  // Closes every container still open, so that the tree is whole (and can
  // be cleared as usual) even when the input stopped halfway.
  ~TreeBuilder();
  TreeBuilder(const TreeBuilder&) = delete;
  TreeBuilder& operator=(const TreeBuilder&) = delete;

  // Value events. String takes the text up to its first NUL. The allocating
  // calls throw std::bad_alloc on exhaustion.
  void Null() { Put(PropertyKind::Empty, 0); }
  void Bool(bool value) { Put(PropertyKind::Bool, value ? 1 : 0); }
  void Signed(int64_t value) { Put(PropertyKind::Signed, static_cast<uint64_t>(value)); }
  void Unsigned(uint64_t value) { Put(PropertyKind::Unsigned, value); }
  void Float(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    Put(PropertyKind::Float, bits);
  }
  void String(std::string_view text);

  // Container events. Key is valid only directly inside a structure; each
  // end event must match the innermost open container.
  void StartStructure();
  void Key(std::string_view name);
  void EndStructure();
  void StartCollection();
  void EndCollection();

  // Containers open now.
  size_t Depth() const noexcept { return frameCount_; }

 private:
  struct Frame {
    void* record;    // the container's sequence or member-map record
    uint32_t start;  // collections: first scratch element of this one
    bool isCollection;
  };

  // The node the next value event writes into; isFresh_ tells whether it is
  // known to be empty and new.
  // A scalar event (bits: the payload as stored, bool in the lowest byte).
  // Elements of a collection, by far the most frequent case, are written
  // here in line; everything else goes through PutSlow.
  void Put(PropertyKind kind, uint64_t bits) {
    if (elementArena_ != nullptr && scratchCount_ != scratchCapacity_) {
      BindingProperty* element = scratch_ + scratchCount_++;
      element->payload_.unsignedValue = bits;
      element->arena_ = elementArena_;
      element->kind_ = kind;
      element->ownsArena_ = false;
      return;
    }
    PutSlow(kind, bits);
  }
  void PutSlow(PropertyKind kind, uint64_t bits);
  BindingProperty& Next();
  PropertyArena* TreeArena() const noexcept;
  void PushFrame(void* record, bool isCollection);
  void GrowScratch();
  void GrowFrames();
  void CloseCollection();
  void UpdateElementArena() noexcept;

  BindingProperty* root_;
  BindingProperty* current_;
  bool isFresh_ = false;
  Frame* frames_;
  uint32_t frameCount_ = 0;
  uint32_t frameCapacity_;
  // The tree's arena while the innermost open container is a collection,
  // else null.
  PropertyArena* elementArena_ = nullptr;
  BindingProperty* scratch_ = nullptr;  // elements of the open collections
  uint32_t scratchCount_ = 0;
  uint32_t scratchCapacity_ = 0;
  static constexpr uint32_t kInlineFrames = 32;
  Frame inlineFrames_[kInlineFrames];
};

}  // namespace Zarn
