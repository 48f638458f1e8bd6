// The tracked allocator's counters, hooks and statistics record.
#include "plugin/memory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "platform/heap.h"

namespace Zarn {
namespace {

Memory::Counters Delta(const Memory::Counters& before, const Memory::Counters& after) {
  return {after.peakBytes - before.peakBytes,       after.peakBlocks - before.peakBlocks,
          after.bytesAllocated - before.bytesAllocated, after.allocations - before.allocations,
          after.bytesFreed - before.bytesFreed,     after.frees - before.frees};
}

TEST(TrackedAllocator, CountsBlocksByTheirHeapSize) {
  Memory::Free(Memory::Allocate(1));  // the first allocation installs the counting hooks
  const Memory::Counters before = Memory::ReadCounters();
  void* block = Memory::Allocate(10);
  ASSERT_NE(block, nullptr);
  const size_t size = Platform::HeapBlockSize(block);
  const Memory::Counters live = Memory::ReadCounters();
  Memory::Free(block);
  const Memory::Counters d = Delta(before, Memory::ReadCounters());
  EXPECT_GE(size, 10u);
  EXPECT_EQ(d.bytesAllocated, size);
  EXPECT_EQ(d.bytesFreed, size);
  EXPECT_EQ(d.allocations, 1u);
  EXPECT_EQ(d.frees, 1u);
  EXPECT_GE(live.peakBytes, size);
}

TEST(TrackedAllocator, EdgeCases) {
  Memory::Free(Memory::Allocate(1));
  {
    const Memory::Counters before = Memory::ReadCounters();
    Memory::Free(nullptr);
    const Memory::Counters d = Delta(before, Memory::ReadCounters());
    EXPECT_EQ(d.frees, 0u) << "freeing null";
    EXPECT_EQ(d.bytesFreed, 0u) << "freeing null";
  }
  {
    const Memory::Counters before = Memory::ReadCounters();
    void* block = Memory::Reallocate(nullptr, 24);
    const Memory::Counters d = Delta(before, Memory::ReadCounters());
    EXPECT_EQ(d.frees, 1u) << "reallocating null counts a free of 0 bytes";
    EXPECT_EQ(d.bytesFreed, 0u);
    EXPECT_EQ(d.allocations, 1u);
    EXPECT_EQ(d.bytesAllocated, Platform::HeapBlockSize(block));
    Memory::Free(block);
  }
  {
    const Memory::Counters before = Memory::ReadCounters();
    void* block = Memory::Allocate(std::numeric_limits<size_t>::max() - 4096);
    const Memory::Counters d = Delta(before, Memory::ReadCounters());
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(d.allocations, 1u) << "a failed allocation still counts";
    EXPECT_EQ(d.bytesAllocated, 0u);
  }
  {
    // A failed reallocation leaves the old block live: nothing is freed.
    void* block = Memory::Allocate(32);
    const Memory::Counters before = Memory::ReadCounters();
    void* grown = Memory::Reallocate(block, std::numeric_limits<size_t>::max() - 4096);
    const Memory::Counters d = Delta(before, Memory::ReadCounters());
    EXPECT_EQ(grown, nullptr);
    EXPECT_EQ(d.frees, 0u);
    EXPECT_EQ(d.bytesFreed, 0u);
    EXPECT_EQ(d.allocations, 1u);
    Memory::Free(block);
  }
  {
    const Memory::Counters before = Memory::ReadCounters();
    char* copy = Memory::Duplicate("duplicate me");
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, "duplicate me");
    const size_t size = Memory::BlockSize(copy);
    Memory::Free(copy);
    const Memory::Counters d = Delta(before, Memory::ReadCounters());
    EXPECT_GE(size, 13u);
    EXPECT_EQ(d.bytesAllocated, size);
    EXPECT_EQ(d.bytesFreed, size);
  }
}

TEST(TrackedAllocator, ContainersOfTheLibraryAreCounted) {
  const Memory::Counters before = Memory::ReadCounters();
  std::string text;
  text.reserve(1000);
  const Memory::Counters d = Delta(before, Memory::ReadCounters());
  EXPECT_GE(d.allocations, 1u);
  EXPECT_GE(d.bytesAllocated, 1000u);
}

TEST(TrackedAllocator, NoUpdateIsLostAcrossThreads) {
  Memory::Free(Memory::Allocate(1));
  constexpr int kThreads = 8;
  constexpr int kRounds = 5000;
  const Memory::Counters before = Memory::ReadCounters();
  {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([] {
        for (int i = 0; i < kRounds; ++i) Memory::Free(Memory::Allocate(16 + i % 64));
      });
    }
    for (std::thread& thread : threads) thread.join();
  }
  const Memory::Counters d = Delta(before, Memory::ReadCounters());
  // Starting a thread allocates too; every block is given back all the same.
  EXPECT_GE(d.allocations, uint64_t{kThreads} * kRounds);
  EXPECT_EQ(d.allocations, d.frees);
  EXPECT_EQ(d.bytesAllocated, d.bytesFreed);
}

TEST(TrackedAllocator, HooksReceiveTheirUserData) {
  struct Fake {
    int allocations = 0;
    int frees = 0;
  } fake;
  static char arena[64];
  const Memory::AllocatorHooks previous = Memory::InstallHooks(
      {[](size_t, void* user) -> void* {
         ++static_cast<Fake*>(user)->allocations;
         return arena;
       },
       [](void*, void* user) { ++static_cast<Fake*>(user)->frees; },
       [](void*, size_t, void*) -> void* { return nullptr; },
       [](const char*, void*) -> char* { return nullptr; }, [](void*, void*) -> size_t { return 64; },
       &fake});
  void* block = Memory::Allocate(8);
  Memory::Free(block);
  const size_t size = Memory::BlockSize(block);
  Memory::InstallHooks(previous);
  EXPECT_EQ(block, arena);
  EXPECT_EQ(fake.allocations, 1);
  EXPECT_EQ(fake.frees, 1);
  EXPECT_EQ(size, 64u);
}

TEST(GetMemoryStatistics, FillsCountersAndZeroesTheTail) {
  MemoryStatistics record;
  std::memset(&record, 0xFF, sizeof record);
  Memory::GetMemoryStatistics(nullptr, &record);
  const Memory::Counters now = Memory::ReadCounters();
  unsigned char bytes[sizeof record];
  std::memcpy(bytes, &record, sizeof record);
  for (size_t i = 48; i < 56; ++i) EXPECT_EQ(bytes[i], 0) << "byte " << i;
  uint64_t allocations;
  std::memcpy(&allocations, bytes + 24, 8);
  EXPECT_EQ(allocations, now.allocations);
  EXPECT_GE(record.bytesAllocated, record.bytesFreed);
  EXPECT_GE(record.peakBytes, record.bytesAllocated - record.bytesFreed);
}

}  // namespace
}  // namespace Zarn
