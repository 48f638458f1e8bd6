// The tracked allocator: every dynamic allocation of the library goes through
// these entry points, which count blocks by the heap's real block size so the
// core can ask how much memory the plugin holds and has held.
//
// The library's operator new/delete (tracked_new.cpp) route through here too,
// so the storage of strings, vectors and maps is counted as well.
#pragma once

#include <cstddef>
#include <cstdint>

#include "plugin/abi.h"

namespace Zarn::Memory {

// Allocation entry points. They call the installed hooks; the first Allocate
// installs the counting hooks. Free(nullptr) is a no-op; Reallocate(nullptr, n)
// allocates. All return null on failure and never throw.
void* Allocate(size_t size) noexcept;
void Free(void* block) noexcept;
void* Reallocate(void* block, size_t size) noexcept;
char* Duplicate(const char* text) noexcept;  // free with Free
size_t BlockSize(void* block) noexcept;

// Five replaceable hooks around the platform heap; userData is passed last
// to each.
struct AllocatorHooks {
  void* (*allocate)(size_t size, void* userData);
  void (*free)(void* block, void* userData);
  void* (*reallocate)(void* block, size_t size, void* userData);
  char* (*duplicate)(const char* text, void* userData);
  size_t (*blockSize)(void* block, void* userData);
  void* userData;
};

// Stores the hooks; always succeeds. Returns the hooks in place before.
AllocatorHooks InstallHooks(const AllocatorHooks& hooks) noexcept;

// The six process-wide counters, in MemoryStatistics order, each read as one
// atomic 64-bit value.
struct Counters {
  uint64_t peakBytes;
  uint64_t peakBlocks;
  uint64_t bytesAllocated;
  uint64_t allocations;
  uint64_t bytesFreed;
  uint64_t frees;
};
Counters ReadCounters() noexcept;

// The third entry of the plugin's entry table: fills the record's 48 counter
// bytes and zeroes the last 8. The context is not used.
void PLUGIN_CALL GetMemoryStatistics(void* context, MemoryStatistics* statistics) noexcept;

}  // namespace Zarn::Memory
