// Slab pools: the fixed-size blocks (4 to 72 bytes) behind the records of a
// generic-value tree, and the process-wide source of the 4096-byte pages
// that back them.
//
// Every tree's arena holds one SlabPools: 18 size classes, each starting
// with a 144-byte slab embedded in the arena, so a small tree takes no page
// at all. Further slabs are pages from the SlabPageSource, which carves them
// out of 64 KiB blocks of virtual memory and gives a block back to the system
// as soon as all 16 of its pages are back. Of the blocks that come back, the
// source keeps up to kCachedBlockLimit (1 MiB) mapped and committed for the
// next trees, so that building and dropping trees in a loop does not map,
// fault in and unmap the same memory every time; a block beyond that limit
// goes back to the system at once.
//
// The pools belong to the thread that owns the tree and are not locked; the
// page source is shared and locked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace Zarn {

constexpr uint32_t kSlabClassCount = 18;
constexpr uint32_t kSlabGranule = 4;                                   // bytes between classes
constexpr uint32_t kLargestSlabBlock = kSlabClassCount * kSlabGranule;  // 72
constexpr uint32_t kEmbeddedSlabSize = 144;
constexpr uint32_t kSlabPageSize = 4096;
constexpr uint32_t kPagesPerBlock = 16;
// Fully free 64 KiB blocks the page source keeps for reuse.
constexpr uint32_t kCachedBlockLimit = 16;

// The head of every slab, embedded or page. Blocks are numbered by their
// offset from the slab's start divided by the block size; numbers whose
// block would overlap this header are never used. A free block holds the
// number of the next free block in its first 16 bits; 0 ends the list.
struct SlabHeader {
  SlabHeader* next;      // next slab of the class's list
  SlabHeader* previous;  // previous slab of the class's list
  uint16_t slabSize;     // bytes: kEmbeddedSlabSize or kSlabPageSize
  uint16_t blocksInUse;
  uint16_t firstFree;  // number of the first free block; 0: the slab is full
};
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(SlabHeader) == 16);
static_assert(offsetof(SlabHeader, slabSize) == 8);
static_assert(offsetof(SlabHeader, blocksInUse) == 10);
static_assert(offsetof(SlabHeader, firstFree) == 12);
#endif

// One size class. current heads the list of slabs that have free blocks;
// full slabs wait on their own list, so that ReleasePools finds every page.
struct SlabClass {
  SlabHeader* current;
  SlabHeader* full;
  alignas(16) unsigned char embedded[kEmbeddedSlabSize];
};

// The 18 classes of one arena, for blocks of 4, 8, ... 72 bytes
// (class = block size / 4 - 1). The classes are set up on the first request.
struct SlabPools {
  bool isReady = false;
  SlabClass classes[kSlabClassCount];
};

// The first block number a slab hands out for blockSize-byte blocks.
constexpr uint32_t FirstSlabBlockNumber(uint32_t blockSize) {
  return (static_cast<uint32_t>(sizeof(SlabHeader)) + blockSize - 1) / blockSize;
}

// Returns a block of the class for size (1 to 72 bytes, rounded up to a
// multiple of 4). Null only when the system refuses a 64 KiB block.
[[nodiscard]] void* AllocateBlock(SlabPools& pools, uint32_t size) noexcept;

// Gives back a block from AllocateBlock with the same size. A page whose last
// block comes back goes back to the page source at once; the embedded slab
// stays with its class.
void FreeBlock(SlabPools& pools, void* block, uint32_t size) noexcept;

// Gives every page of every class back to the page source, whether its
// blocks are free or not, and returns the pools to their first state. For an
// arena that is being destroyed or emptied as a whole.
void ReleasePools(SlabPools& pools) noexcept;

// The process-wide source of 4096-byte pages. Created on first use and never
// destroyed; both operations are serialized by its mutex.
class SlabPageSource {
 public:
  static SlabPageSource& Instance() noexcept;

  // Returns a page (4096-aligned, read-write, contents undefined); a fresh
  // 64 KiB block hands out its lowest page first. Null when the system
  // refuses a block.
  [[nodiscard]] void* TakePage() noexcept;

  // Gives back a page from TakePage. When all 16 pages of its block are back,
  // the block leaves the source's books: it is kept in the cache of free
  // blocks while that has room, else it goes back to the system.
  void ReturnPage(void* page) noexcept;

  // Blocks with at least one page handed out (the cache is not counted), and
  // the free pages of those blocks; for statistics and tests.
  uint32_t LiveBlockCount() noexcept;
  uint32_t FreePageCount() noexcept;
  // Fully free blocks kept mapped for reuse (at most kCachedBlockLimit).
  uint32_t CachedBlockCount() noexcept;
  // Gives every cached block back to the system.
  void ReleaseCachedBlocks() noexcept;

  SlabPageSource(const SlabPageSource&) = delete;
  SlabPageSource& operator=(const SlabPageSource&) = delete;

 private:
  SlabPageSource();

  struct BlockRecord {
    uintptr_t base;
    uint8_t freePages[kPagesPerBlock];  // stack of page indexes; top is last
    uint32_t freeCount;
    BlockRecord* nextListed;  // list of blocks with free pages
    BlockRecord* previousListed;
    bool isListed;
  };

  void List(BlockRecord* record) noexcept;
  void Unlist(BlockRecord* record) noexcept;

  std::mutex mutex_;
  std::unordered_map<uintptr_t, BlockRecord> blocks_;  // by base address; see the constructor
  BlockRecord* listed_ = nullptr;
  uint32_t freePages_ = 0;
  void* cached_[kCachedBlockLimit] = {};  // fully free blocks, most recent last
  uint32_t cachedCount_ = 0;
};

}  // namespace Zarn
