// Slab pools and the page source: block numbering, free lists threaded
// through the free blocks, and the 64 KiB block bookkeeping.
#include "values/slab_pool.h"

#include <cassert>
#include <cstring>
#include <new>

#include "platform/vmem.h"

namespace Zarn {
namespace {

static_assert(kPagesPerBlock * kSlabPageSize == Platform::kVirtualBlockSize);

uint16_t LoadNumber(const unsigned char* block) noexcept {
  uint16_t number;
  std::memcpy(&number, block, sizeof number);
  return number;
}

void StoreNumber(unsigned char* block, uint16_t number) noexcept {
  std::memcpy(block, &number, sizeof number);
}

// Zeroes the header and chains the usable blocks in ascending order.
void InitSlab(void* memory, uint32_t slabSize, uint32_t blockSize) noexcept {
  auto* bytes = static_cast<unsigned char*>(memory);
  auto* slab = static_cast<SlabHeader*>(memory);
  slab->next = nullptr;
  slab->previous = nullptr;
  slab->slabSize = static_cast<uint16_t>(slabSize);
  slab->blocksInUse = 0;
  const uint32_t first = FirstSlabBlockNumber(blockSize);
  const uint32_t last = slabSize / blockSize - 1;
  for (uint32_t number = first; number < last; ++number) {
    StoreNumber(bytes + number * blockSize, static_cast<uint16_t>(number + 1));
  }
  StoreNumber(bytes + last * blockSize, 0);
  slab->firstFree = static_cast<uint16_t>(first);
}

void PushFront(SlabHeader*& head, SlabHeader* slab) noexcept {
  slab->previous = nullptr;
  slab->next = head;
  if (head != nullptr) head->previous = slab;
  head = slab;
}

void Unlink(SlabHeader*& head, SlabHeader* slab) noexcept {
  if (slab->previous != nullptr) {
    slab->previous->next = slab->next;
  } else {
    head = slab->next;
  }
  if (slab->next != nullptr) slab->next->previous = slab->previous;
  slab->next = nullptr;
  slab->previous = nullptr;
}

uint32_t ClassOf(uint32_t size) noexcept {
  assert(size <= kLargestSlabBlock);
  if (size == 0) size = 1;
  return (size + kSlabGranule - 1) / kSlabGranule - 1;
}

void SetUpPools(SlabPools& pools) noexcept {
  for (uint32_t index = 0; index < kSlabClassCount; ++index) {
    SlabClass& slabClass = pools.classes[index];
    InitSlab(slabClass.embedded, kEmbeddedSlabSize, (index + 1) * kSlabGranule);
    slabClass.current = reinterpret_cast<SlabHeader*>(slabClass.embedded);
    slabClass.full = nullptr;
  }
  pools.isReady = true;
}

}  // namespace

void* AllocateBlock(SlabPools& pools, uint32_t size) noexcept {
  const uint32_t index = ClassOf(size);
  const uint32_t blockSize = (index + 1) * kSlabGranule;
  if (!pools.isReady) SetUpPools(pools);
  SlabClass& slabClass = pools.classes[index];
  SlabHeader* slab = slabClass.current;
  if (slab == nullptr) {
    void* page = SlabPageSource::Instance().TakePage();
    if (page == nullptr) return nullptr;
    InitSlab(page, kSlabPageSize, blockSize);
    slab = static_cast<SlabHeader*>(page);
    slabClass.current = slab;
  }
  unsigned char* block = reinterpret_cast<unsigned char*>(slab) + slab->firstFree * blockSize;
  ++slab->blocksInUse;
  slab->firstFree = LoadNumber(block);
  if (slab->firstFree == 0) {
    Unlink(slabClass.current, slab);
    PushFront(slabClass.full, slab);
  }
  return block;
}

void FreeBlock(SlabPools& pools, void* block, uint32_t size) noexcept {
  if (block == nullptr) return;
  const uint32_t index = ClassOf(size);
  const uint32_t blockSize = (index + 1) * kSlabGranule;
  SlabClass& slabClass = pools.classes[index];
  auto* bytes = static_cast<unsigned char*>(block);
  SlabHeader* slab;
  if (bytes >= slabClass.embedded && bytes < slabClass.embedded + kEmbeddedSlabSize) {
    slab = reinterpret_cast<SlabHeader*>(slabClass.embedded);
  } else {
    slab = reinterpret_cast<SlabHeader*>(reinterpret_cast<uintptr_t>(block) &
                                         ~(uintptr_t{kSlabPageSize} - 1));
  }
  if (slab->firstFree == 0) {
    Unlink(slabClass.full, slab);
    PushFront(slabClass.current, slab);
  }
  const auto number =
      static_cast<uint16_t>((bytes - reinterpret_cast<unsigned char*>(slab)) / blockSize);
  StoreNumber(bytes, slab->firstFree);
  slab->firstFree = number;
  --slab->blocksInUse;
  if (slab->blocksInUse == 0 && slab->slabSize == kSlabPageSize) {
    Unlink(slabClass.current, slab);
    SlabPageSource::Instance().ReturnPage(slab);
  }
}

void ReleasePools(SlabPools& pools) noexcept {
  if (!pools.isReady) return;
  SlabPageSource& source = SlabPageSource::Instance();
  for (SlabClass& slabClass : pools.classes) {
    for (SlabHeader* list : {slabClass.current, slabClass.full}) {
      while (list != nullptr) {
        SlabHeader* next = list->next;
        if (list->slabSize == kSlabPageSize) source.ReturnPage(list);
        list = next;
      }
    }
    slabClass.current = nullptr;
    slabClass.full = nullptr;
  }
  pools.isReady = false;
}

SlabPageSource& SlabPageSource::Instance() noexcept {
  // Never destroyed: trees in static objects may give pages back during exit.
  alignas(SlabPageSource) static unsigned char storage[sizeof(SlabPageSource)];
  static SlabPageSource* const instance = new (storage) SlabPageSource();
  return *instance;
}

// Room for the records of 1024 blocks (64 MiB) up front: below that, taking
// and giving back blocks never grows the table, so the heap a process holds
// does not creep with its peak tree size.
SlabPageSource::SlabPageSource() { blocks_.reserve(1024); }

void SlabPageSource::List(BlockRecord* record) noexcept {
  if (record->isListed) return;
  record->previousListed = nullptr;
  record->nextListed = listed_;
  if (listed_ != nullptr) listed_->previousListed = record;
  listed_ = record;
  record->isListed = true;
}

void SlabPageSource::Unlist(BlockRecord* record) noexcept {
  if (!record->isListed) return;
  if (record->previousListed != nullptr) {
    record->previousListed->nextListed = record->nextListed;
  } else {
    listed_ = record->nextListed;
  }
  if (record->nextListed != nullptr) record->nextListed->previousListed = record->previousListed;
  record->nextListed = nullptr;
  record->previousListed = nullptr;
  record->isListed = false;
}

void* SlabPageSource::TakePage() noexcept {
  std::lock_guard<std::mutex> lock(mutex_);
  if (listed_ == nullptr) {
    // The most recently cached block is the likeliest to be still in cache.
    void* memory = cachedCount_ != 0 ? cached_[--cachedCount_] : Platform::ReserveBlock();
    if (memory == nullptr) return nullptr;
    const auto base = reinterpret_cast<uintptr_t>(memory);
    BlockRecord& record = blocks_[base];
    record.base = base;
    // Highest page at the bottom of the stack, so the lowest goes first.
    for (uint32_t index = 0; index < kPagesPerBlock; ++index) {
      record.freePages[index] = static_cast<uint8_t>(kPagesPerBlock - 1 - index);
    }
    record.freeCount = kPagesPerBlock;
    record.isListed = false;
    freePages_ += kPagesPerBlock;
    List(&record);
  }
  BlockRecord* record = listed_;
  const uint8_t page = record->freePages[--record->freeCount];
  --freePages_;
  if (record->freeCount == 0) Unlist(record);
  return reinterpret_cast<void*>(record->base + uintptr_t{page} * kSlabPageSize);
}

void SlabPageSource::ReturnPage(void* page) noexcept {
  if (page == nullptr) return;
  std::lock_guard<std::mutex> lock(mutex_);
  const auto address = reinterpret_cast<uintptr_t>(page);
  const uintptr_t base = address & ~(uintptr_t{Platform::kVirtualBlockSize} - 1);
  auto found = blocks_.find(base);
  assert(found != blocks_.end());
  if (found == blocks_.end()) return;
  BlockRecord& record = found->second;
  assert(record.freeCount < kPagesPerBlock);
  record.freePages[record.freeCount++] = static_cast<uint8_t>((address - base) / kSlabPageSize);
  ++freePages_;
  if (record.freeCount == kPagesPerBlock) {
    Unlist(&record);
    freePages_ -= kPagesPerBlock;
    blocks_.erase(found);
    if (cachedCount_ < kCachedBlockLimit) {
      cached_[cachedCount_++] = reinterpret_cast<void*>(base);
    } else {
      Platform::ReleaseBlock(reinterpret_cast<void*>(base));
    }
  } else {
    List(&record);
  }
}

uint32_t SlabPageSource::LiveBlockCount() noexcept {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<uint32_t>(blocks_.size());
}

uint32_t SlabPageSource::FreePageCount() noexcept {
  std::lock_guard<std::mutex> lock(mutex_);
  return freePages_;
}

uint32_t SlabPageSource::CachedBlockCount() noexcept {
  std::lock_guard<std::mutex> lock(mutex_);
  return cachedCount_;
}

void SlabPageSource::ReleaseCachedBlocks() noexcept {
  std::lock_guard<std::mutex> lock(mutex_);
  while (cachedCount_ != 0) Platform::ReleaseBlock(cached_[--cachedCount_]);
}

}  // namespace Zarn
