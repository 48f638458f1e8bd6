// The storage of one generic-value tree: slab pools for its fixed-size
// records, a byte allocator for its element arrays and long texts, and the
// table of its interned texts.
//
// A tree's root creates its arena on the first need and destroys it with
// itself; every node below shares it. Everything an arena hands out dies with
// the arena (or with Reset) in time proportional to its pages, heap chunks
// and table, never to the number of nodes.
//
// Only the records behind blobs, enums, collections and structures come
// from the slab pools. Element arrays, member-map nodes and text entries are
// carved from regions of the general heap: beyond the page source's small
// cache of free blocks, pages are fresh virtual memory each time a tree is
// built (the source gives other blocks back to the system as soon as they
// are free), and faulting in and unmapping that memory cost more than
// building the tree itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "values/slab_pool.h"

namespace Zarn {

// 32-bit FNV-1a (offset basis 0x811c9dc5, prime 0x01000193), bytes taken as
// unsigned.
constexpr uint32_t kFnv1aOffsetBasis = 0x811c9dc5u;
constexpr uint32_t kFnv1aPrime = 0x01000193u;
inline uint32_t Fnv1aHash(std::string_view text) noexcept {
  uint32_t hash = kFnv1aOffsetBasis;
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= kFnv1aPrime;
  }
  return hash;
}

// Cuts text at its first NUL and returns the FNV-1a hash of what is left,
// in one pass.
inline uint32_t HashUpToNul(std::string_view& text) noexcept {
  uint32_t hash = kFnv1aOffsetBasis;
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  const char* at = begin;
  for (; at != end && *at != '\0'; ++at) {
    hash ^= static_cast<unsigned char>(*at);
    hash *= kFnv1aPrime;
  }
  text = std::string_view(begin, static_cast<size_t>(at - begin));
  return hash;
}

// An interned text. The text holds no NUL and is followed by one. The empty
// text is the one shared entry SharedEmptyText(), which belongs to no arena,
// is never counted and never changes.
struct TextEntry {
  uint32_t hash;    // FNV-1a of the text
  uint32_t count;   // references: string nodes and structure keys
  uint32_t length;  // bytes, without the NUL
  char text[4];     // length + 1 bytes; the entry is allocated to fit

  std::string_view View() const noexcept { return {text, length}; }
};

TextEntry* SharedEmptyText() noexcept;

class PropertyArena;

// A handle on the slab pools for one record size.
class PoolHandle {
 public:
  PoolHandle(SlabPools& pools, uint32_t blockSize) noexcept : pools_(&pools), blockSize_(blockSize) {}
  // Throws std::bad_alloc when the system refuses a page.
  void* Allocate();
  void Free(void* block) noexcept { FreeBlock(*pools_, block, blockSize_); }
  uint32_t BlockSize() const noexcept { return blockSize_; }

 private:
  SlabPools* pools_;
  uint32_t blockSize_;
};

// Block sizes of the records the pool handles serve; the value model fixes
// them (values/binding_property.cpp).
struct PropertyRecordSizes {
  uint32_t byteVector;
  uint32_t enumRecord;
  uint32_t sequence;
  uint32_t memberMap;
};

class PropertyArena {
 public:
  explicit PropertyArena(const PropertyRecordSizes& sizes) noexcept;
  ~PropertyArena();
  PropertyArena(const PropertyArena&) = delete;
  PropertyArena& operator=(const PropertyArena&) = delete;

  // Gives back everything the arena handed out (pages, chunks, texts) and
  // leaves it as new. Nothing allocated from it may be used afterwards; the
  // caller must have destroyed any blob vectors first (LiveBlobCount).
  void Reset() noexcept;

  // Memory for element arrays, member-map nodes and text entries, 8-aligned.
  // Up to 1024 bytes carved from the arena's regions (heap chunks of 2 to 64
  // KiB), with a free list per 8-byte size class; beyond that one heap chunk
  // each. All of it is linked into the arena, so that Reset frees it. Free
  // and Reallocate take the size the block was made with. The allocating
  // calls throw std::bad_alloc on exhaustion.
  void* AllocateBytes(uint32_t size);
  void FreeBytes(void* block, uint32_t size) noexcept;
  void* ReallocateBytes(void* block, uint32_t oldSize, uint32_t newSize);

  // The entry for text (no NUL inside) with its count raised by one; the
  // shared entry for the empty text. hash is Fnv1aHash(text).
  TextEntry* Intern(std::string_view text, uint32_t hash);
  // The entry for text if this arena has one, else null; counts unchanged.
  const TextEntry* FindText(std::string_view text, uint32_t hash) const noexcept;
  // The entry whose text is exactly text (not cut at a NUL: an entry holds
  // none, so a match needs no cutting) if the arena's cache of recently
  // interned entries has it, else null; counts unchanged. Texts seen before
  // (the same keys in every record, repeated values) are found here by a hash
  // of their length and end bytes, without the byte-by-byte FNV-1a that the
  // text table needs; a miss proves nothing.
  TextEntry* FindRecent(std::string_view text) const noexcept;
  // Drops one reference; the entry goes when its last reference does.
  void ReleaseText(TextEntry* entry) noexcept;
  uint32_t TextCount() const noexcept { return textCount_; }

  // Blob records hold byte vectors on the general heap; while any lives, a
  // tree must be walked before its arena can be dropped whole.
  uint32_t LiveBlobCount() const noexcept { return liveBlobs_; }
  void NoteBlobMade() noexcept { ++liveBlobs_; }
  void NoteBlobGone() noexcept { --liveBlobs_; }

  SlabPools& Pools() noexcept { return pools_; }

  // The four record pools: byte vectors, enums, sequences, member maps.
  PoolHandle byteVectors;
  PoolHandle enums;
  PoolHandle sequences;
  PoolHandle memberMaps;

 private:
  struct TextSlot {
    uint32_t hash;
    TextEntry* entry;  // null: free slot
  };
  struct HeapChunk {
    HeapChunk* previous;
    HeapChunk* next;
  };
  static constexpr uint32_t kChunkHeader = 16;
  static constexpr uint32_t kRegionGranule = 8;
  static constexpr uint32_t kLargestRegionBlock = 1024;
  static constexpr uint32_t kRegionClassCount = kLargestRegionBlock / kRegionGranule;
  static constexpr uint32_t kFirstRegionSize = 2048;
  static constexpr uint32_t kLargestRegionSize = 64 * 1024;

  void GrowTextTable();
  void Remember(TextEntry* entry) noexcept;
  void* NewChunk(uint32_t size);
  void* CarveFromNewRegion(uint32_t blockSize);
  void ReleaseAll() noexcept;

  SlabPools pools_;
  TextSlot* textSlots_ = nullptr;
  uint32_t textMask_ = 0;  // slot count - 1; 0 while there is no table
  uint32_t textCount_ = 0;
  // kRecentSlots entries, direct-mapped, made once the table outgrows a
  // small tree's; an erased entry leaves its slot at once.
  TextEntry** recent_ = nullptr;
  static constexpr uint32_t kRecentSlots = 1024;
  uint32_t liveBlobs_ = 0;
  void* regionFree_[kRegionClassCount] = {};  // freed blocks by size class
  unsigned char* regionNext_ = nullptr;        // uncarved part of the last region
  uint32_t regionLeft_ = 0;
  uint32_t nextRegionSize_ = kFirstRegionSize;
  HeapChunk* chunks_ = nullptr;  // regions and large blocks
};

}  // namespace Zarn
