// Counting hooks and the process-wide statistics.
//
// Each counter is its own atomic 64-bit value (cmpxchg8b on 32-bit x86), so
// no update is lost; the peak update reads and writes in separate steps and
// may, under a race, keep a value a concurrent allocation just exceeded.
#include "plugin/memory.h"

#include <atomic>
#include <cstdlib>

#include "platform/heap.h"

namespace Zarn::Memory {
namespace {

struct Statistics {
  std::atomic<uint64_t> peakBytes{0};
  std::atomic<uint64_t> peakBlocks{0};
  std::atomic<uint64_t> bytesAllocated{0};
  std::atomic<uint64_t> allocations{0};
  std::atomic<uint64_t> bytesFreed{0};
  std::atomic<uint64_t> frees{0};
};

// Constant-initialized: usable from the very first allocation, which may
// come before any dynamic initializer of the library has run.
Statistics statistics;
std::atomic<bool> installed{false};

void* PlainAllocate(size_t size, void*) { return std::malloc(size); }
void PlainFree(void* block, void*) { std::free(block); }
void* PlainReallocate(void* block, size_t size, void*) { return std::realloc(block, size); }
char* PlainDuplicate(const char* text, void*) { return Platform::HeapStrDup(text); }
size_t PlainBlockSize(void* block, void*) { return Platform::HeapBlockSize(block); }

AllocatorHooks hooks = {PlainAllocate, PlainFree, PlainReallocate, PlainDuplicate, PlainBlockSize,
                        nullptr};

// The freed counters are read before the allocated ones: both only grow, so
// a concurrent allocation can make live look larger, never wrap below 0.
void UpdatePeak(Statistics& s) {
  const uint64_t freed = s.bytesFreed.load();
  const uint64_t live = s.bytesAllocated.load() - freed;
  if (live > s.peakBytes.load()) {
    s.peakBytes.store(live);
    const uint64_t frees = s.frees.load();
    s.peakBlocks.store(s.allocations.load() - frees);
  }
}

void* CountingAllocate(size_t size, void* user) {
  Statistics& s = *static_cast<Statistics*>(user);
  void* block = std::malloc(size);
  s.bytesAllocated.fetch_add(Platform::HeapBlockSize(block));
  s.allocations.fetch_add(1);
  UpdatePeak(s);
  return block;
}

void CountingFree(void* block, void* user) {
  if (block == nullptr) return;
  Statistics& s = *static_cast<Statistics*>(user);
  const size_t size = Platform::HeapBlockSize(block);
  std::free(block);
  s.bytesFreed.fetch_add(size);
  s.frees.fetch_add(1);
}

void* CountingReallocate(void* block, size_t size, void* user) {
  Statistics& s = *static_cast<Statistics*>(user);
  const size_t before = Platform::HeapBlockSize(block);
  void* result = std::realloc(block, size);
  if (result == nullptr && size != 0) {
    // The old block is still live: count nothing freed, one failed allocation.
    s.allocations.fetch_add(1);
    return nullptr;
  }
  const size_t after = Platform::HeapBlockSize(result);
  s.bytesFreed.fetch_add(before);
  s.frees.fetch_add(1);
  s.bytesAllocated.fetch_add(after);
  s.allocations.fetch_add(1);
  UpdatePeak(s);
  return result;
}

char* CountingDuplicate(const char* text, void* user) {
  Statistics& s = *static_cast<Statistics*>(user);
  char* copy = Platform::HeapStrDup(text);
  s.bytesAllocated.fetch_add(Platform::HeapBlockSize(copy));
  s.allocations.fetch_add(1);
  UpdatePeak(s);
  return copy;
}

size_t CountingBlockSize(void* block, void*) { return Platform::HeapBlockSize(block); }

}  // namespace

void* Allocate(size_t size) noexcept {
  if (!installed.load(std::memory_order_acquire)) {
    // The first allocation happens while the library loads, before any other
    // thread can reach it.
    installed.store(true, std::memory_order_release);
    InstallHooks({CountingAllocate, CountingFree, CountingReallocate, CountingDuplicate,
                  CountingBlockSize, &statistics});
  }
  return hooks.allocate(size, hooks.userData);
}

void Free(void* block) noexcept { hooks.free(block, hooks.userData); }

void* Reallocate(void* block, size_t size) noexcept {
  return hooks.reallocate(block, size, hooks.userData);
}

char* Duplicate(const char* text) noexcept { return hooks.duplicate(text, hooks.userData); }

size_t BlockSize(void* block) noexcept { return hooks.blockSize(block, hooks.userData); }

AllocatorHooks InstallHooks(const AllocatorHooks& replacement) noexcept {
  const AllocatorHooks previous = hooks;
  hooks = replacement;
  return previous;
}

Counters ReadCounters() noexcept {
  return {statistics.peakBytes.load(),  statistics.peakBlocks.load(),
          statistics.bytesAllocated.load(), statistics.allocations.load(),
          statistics.bytesFreed.load(), statistics.frees.load()};
}

void PLUGIN_CALL GetMemoryStatistics(void*, MemoryStatistics* record) noexcept {
  const Counters counters = ReadCounters();
  record->peakBytes = counters.peakBytes;
  record->peakBlocks = counters.peakBlocks;
  record->bytesAllocated = counters.bytesAllocated;
  record->allocations = counters.allocations;
  record->bytesFreed = counters.bytesFreed;
  record->frees = counters.frees;
  record->reserved0 = 0;
  record->reserved1 = 0;
}

}  // namespace Zarn::Memory
