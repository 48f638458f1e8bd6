// The arena of a generic-value tree: byte allocator tiers, the open-addressed
// text table (linear probing, backward-shift erase) and whole-arena release.
#include "values/property_arena.h"

#include <cassert>
#include <cstring>
#include <new>

#include "plugin/memory.h"

namespace Zarn {
namespace {

constexpr uint32_t kFirstTextTableSize = 16;
constexpr uint32_t kTextEntryHeader = offsetof(TextEntry, text);

uint32_t TextEntrySize(uint32_t length) noexcept { return kTextEntryHeader + length + 1; }

TextEntry gSharedEmptyText = {kFnv1aOffsetBasis, 0, 0, {0, 0, 0, 0}};

// Tables this large hold the texts of a tree worth a cache of recent ones.
constexpr uint32_t kTableSizeForRecent = 64;

// The cache slot of a text: its length and up to 8 bytes from each end,
// mixed by multiplication. Cheap for texts of any length; the cache compares
// the whole text anyway.
uint32_t RecentSlot(std::string_view text, uint32_t slotCount) noexcept {
  const char* const bytes = text.data();
  const size_t length = text.size();
  uint64_t head = 0;
  uint64_t tail = 0;
  if (length >= 8) {
    std::memcpy(&head, bytes, 8);
    std::memcpy(&tail, bytes + length - 8, 8);
  } else if (length >= 4) {
    uint32_t first;
    uint32_t last;
    std::memcpy(&first, bytes, 4);
    std::memcpy(&last, bytes + length - 4, 4);
    head = first;
    tail = last;
  } else if (length != 0) {
    head = static_cast<unsigned char>(bytes[0]) | uint64_t{static_cast<unsigned char>(bytes[length / 2])} << 8 |
           uint64_t{static_cast<unsigned char>(bytes[length - 1])} << 16;
  }
  const uint64_t mixed = (head * 0x9E3779B97F4A7C15ull) ^ (tail * 0xC2B2AE3D27D4EB4Full) ^ length;
  return static_cast<uint32_t>(mixed >> 40) & (slotCount - 1);
}

}  // namespace

TextEntry* SharedEmptyText() noexcept { return &gSharedEmptyText; }

void* PoolHandle::Allocate() {
  void* block = AllocateBlock(*pools_, blockSize_);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

PropertyArena::PropertyArena(const PropertyRecordSizes& sizes) noexcept
    : byteVectors(pools_, sizes.byteVector),
      enums(pools_, sizes.enumRecord),
      sequences(pools_, sizes.sequence),
      memberMaps(pools_, sizes.memberMap) {}

PropertyArena::~PropertyArena() { ReleaseAll(); }

void PropertyArena::ReleaseAll() noexcept {
  ReleasePools(pools_);
  while (chunks_ != nullptr) {
    HeapChunk* next = chunks_->next;
    Memory::Free(chunks_);
    chunks_ = next;
  }
  for (void*& head : regionFree_) head = nullptr;
  regionNext_ = nullptr;
  regionLeft_ = 0;
  nextRegionSize_ = kFirstRegionSize;
  Memory::Free(textSlots_);
  textSlots_ = nullptr;
  Memory::Free(recent_);
  recent_ = nullptr;
  textMask_ = 0;
  textCount_ = 0;
  liveBlobs_ = 0;
}

void PropertyArena::Reset() noexcept {
  assert(liveBlobs_ == 0);
  ReleaseAll();
}

void* PropertyArena::NewChunk(uint32_t size) {
  if (size > UINT32_MAX - kChunkHeader) throw std::bad_alloc();
  auto* chunk = static_cast<HeapChunk*>(Memory::Allocate(size + kChunkHeader));
  if (chunk == nullptr) throw std::bad_alloc();
  chunk->previous = nullptr;
  chunk->next = chunks_;
  if (chunks_ != nullptr) chunks_->previous = chunk;
  chunks_ = chunk;
  return reinterpret_cast<unsigned char*>(chunk) + kChunkHeader;
}

void* PropertyArena::CarveFromNewRegion(uint32_t blockSize) {
  // The rest of the old region is not wasted: it goes to the free lists.
  while (regionLeft_ >= kRegionGranule) {
    const uint32_t piece = regionLeft_ < kLargestRegionBlock ? regionLeft_ & ~(kRegionGranule - 1)
                                                             : kLargestRegionBlock;
    FreeBytes(regionNext_, piece);
    regionNext_ += piece;
    regionLeft_ -= piece;
  }
  const uint32_t size = nextRegionSize_;
  regionNext_ = static_cast<unsigned char*>(NewChunk(size));
  regionLeft_ = size;
  if (nextRegionSize_ < kLargestRegionSize) nextRegionSize_ *= 2;
  void* block = regionNext_;
  regionNext_ += blockSize;
  regionLeft_ -= blockSize;
  return block;
}

void* PropertyArena::AllocateBytes(uint32_t size) {
  if (size > kLargestRegionBlock) return NewChunk(size);
  if (size == 0) size = 1;
  const uint32_t index = (size - 1) / kRegionGranule;
  if (void* block = regionFree_[index]) {
    std::memcpy(&regionFree_[index], block, sizeof(void*));
    return block;
  }
  const uint32_t blockSize = (index + 1) * kRegionGranule;
  if (regionLeft_ < blockSize) return CarveFromNewRegion(blockSize);
  void* block = regionNext_;
  regionNext_ += blockSize;
  regionLeft_ -= blockSize;
  return block;
}

void PropertyArena::FreeBytes(void* block, uint32_t size) noexcept {
  if (block == nullptr) return;
  if (size <= kLargestRegionBlock) {
    if (size == 0) size = 1;
    const uint32_t index = (size - 1) / kRegionGranule;
    std::memcpy(block, &regionFree_[index], sizeof(void*));
    regionFree_[index] = block;
    return;
  }
  auto* chunk = reinterpret_cast<HeapChunk*>(static_cast<unsigned char*>(block) - kChunkHeader);
  if (chunk->previous != nullptr) {
    chunk->previous->next = chunk->next;
  } else {
    chunks_ = chunk->next;
  }
  if (chunk->next != nullptr) chunk->next->previous = chunk->previous;
  Memory::Free(chunk);
}

void* PropertyArena::ReallocateBytes(void* block, uint32_t oldSize, uint32_t newSize) {
  if (block != nullptr && oldSize > kLargestRegionBlock && newSize > kLargestRegionBlock) {
    if (newSize > UINT32_MAX - kChunkHeader) throw std::bad_alloc();
    auto* chunk = reinterpret_cast<HeapChunk*>(static_cast<unsigned char*>(block) - kChunkHeader);
    auto* moved = static_cast<HeapChunk*>(Memory::Reallocate(chunk, newSize + kChunkHeader));
    if (moved == nullptr) throw std::bad_alloc();
    if (moved->previous != nullptr) {
      moved->previous->next = moved;
    } else {
      chunks_ = moved;
    }
    if (moved->next != nullptr) moved->next->previous = moved;
    return reinterpret_cast<unsigned char*>(moved) + kChunkHeader;
  }
  void* fresh = AllocateBytes(newSize);
  if (block != nullptr) {
    std::memcpy(fresh, block, oldSize < newSize ? oldSize : newSize);
    FreeBytes(block, oldSize);
  }
  return fresh;
}

const TextEntry* PropertyArena::FindText(std::string_view text, uint32_t hash) const noexcept {
  if (text.empty()) return SharedEmptyText();
  if (textSlots_ == nullptr) return nullptr;
  for (uint32_t index = hash & textMask_;; index = (index + 1) & textMask_) {
    const TextSlot& slot = textSlots_[index];
    if (slot.entry == nullptr) return nullptr;
    if (slot.hash == hash && slot.entry->length == text.size() &&
        std::memcmp(slot.entry->text, text.data(), text.size()) == 0) {
      return slot.entry;
    }
  }
}

void PropertyArena::GrowTextTable() {
  const uint32_t size = textSlots_ == nullptr ? kFirstTextTableSize : (textMask_ + 1) * 2;
  if (size > UINT32_MAX / sizeof(TextSlot)) throw std::bad_alloc();
  auto* slots = static_cast<TextSlot*>(Memory::Allocate(size * sizeof(TextSlot)));
  if (slots == nullptr) throw std::bad_alloc();
  std::memset(slots, 0, size * sizeof(TextSlot));
  const uint32_t mask = size - 1;
  if (textSlots_ != nullptr) {
    for (uint32_t index = 0; index <= textMask_; ++index) {
      const TextSlot& slot = textSlots_[index];
      if (slot.entry == nullptr) continue;
      uint32_t target = slot.hash & mask;
      while (slots[target].entry != nullptr) target = (target + 1) & mask;
      slots[target] = slot;
    }
    Memory::Free(textSlots_);
  }
  textSlots_ = slots;
  textMask_ = mask;
  if (recent_ == nullptr && size >= kTableSizeForRecent) {
    // Only saves time: without it every text is hashed in full.
    recent_ = static_cast<TextEntry**>(Memory::Allocate(kRecentSlots * sizeof(TextEntry*)));
    if (recent_ != nullptr) std::memset(recent_, 0, kRecentSlots * sizeof(TextEntry*));
  }
}

TextEntry* PropertyArena::FindRecent(std::string_view text) const noexcept {
  if (recent_ == nullptr) return nullptr;
  TextEntry* entry = recent_[RecentSlot(text, kRecentSlots)];
  if (entry != nullptr && entry->length == text.size() && std::memcmp(entry->text, text.data(), text.size()) == 0) {
    return entry;
  }
  return nullptr;
}

void PropertyArena::Remember(TextEntry* entry) noexcept {
  if (recent_ != nullptr) recent_[RecentSlot(entry->View(), kRecentSlots)] = entry;
}

TextEntry* PropertyArena::Intern(std::string_view text, uint32_t hash) {
  if (text.empty()) return SharedEmptyText();
  if (text.size() > UINT32_MAX - kTextEntryHeader - kChunkHeader - 1) throw std::bad_alloc();
  // At most half full, so probe runs stay short.
  if (textSlots_ == nullptr || (textCount_ + 1) * 2 > textMask_ + 1) GrowTextTable();
  uint32_t index = hash & textMask_;
  for (;; index = (index + 1) & textMask_) {
    TextSlot& slot = textSlots_[index];
    if (slot.entry == nullptr) break;
    if (slot.hash == hash && slot.entry->length == text.size() &&
        std::memcmp(slot.entry->text, text.data(), text.size()) == 0) {
      ++slot.entry->count;
      Remember(slot.entry);
      return slot.entry;
    }
  }
  const auto length = static_cast<uint32_t>(text.size());
  auto* entry = static_cast<TextEntry*>(AllocateBytes(TextEntrySize(length)));
  entry->hash = hash;
  entry->count = 1;
  entry->length = length;
  std::memcpy(entry->text, text.data(), length);
  entry->text[length] = '\0';
  textSlots_[index] = {hash, entry};
  ++textCount_;
  Remember(entry);
  return entry;
}

void PropertyArena::ReleaseText(TextEntry* entry) noexcept {
  if (entry == SharedEmptyText()) return;
  assert(entry->count > 0);
  if (--entry->count != 0) return;
  uint32_t index = entry->hash & textMask_;
  while (textSlots_[index].entry != entry) index = (index + 1) & textMask_;
  // Backward-shift erase: pull later members of the probe run into the hole
  // whenever their home bucket does not lie between the hole and them.
  uint32_t hole = index;
  for (uint32_t next = (hole + 1) & textMask_; textSlots_[next].entry != nullptr;
       next = (next + 1) & textMask_) {
    const uint32_t home = textSlots_[next].hash & textMask_;
    const bool homeBetween = hole <= next ? (home > hole && home <= next) : (home > hole || home <= next);
    if (!homeBetween) {
      textSlots_[hole] = textSlots_[next];
      hole = next;
    }
  }
  textSlots_[hole] = {0, nullptr};
  --textCount_;
  if (recent_ != nullptr) {
    TextEntry*& recent = recent_[RecentSlot(entry->View(), kRecentSlots)];
    if (recent == entry) recent = nullptr;
  }
  FreeBytes(entry, TextEntrySize(entry->length));
}

}  // namespace Zarn
