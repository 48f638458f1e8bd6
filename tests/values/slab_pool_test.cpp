// Slab pools and the page source: block numbering of embedded slabs and
// pages, free-list order, pages going back when empty, and 64 KiB blocks
// going back when all their pages are.
#include "values/slab_pool.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

namespace Zarn {
namespace {

// Slab pools live inside arenas; tests keep theirs on the heap and give their
// pages back at the end.
struct Pools {
  std::unique_ptr<SlabPools> pools = std::make_unique<SlabPools>();
  ~Pools() { ReleasePools(*pools); }
  SlabClass& ClassFor(uint32_t size) { return pools->classes[(size + 3) / 4 - 1]; }
  bool IsEmbedded(uint32_t size, const void* block) {
    const unsigned char* base = ClassFor(size).embedded;
    return block >= base && block < base + kEmbeddedSlabSize;
  }
  uint32_t NumberIn(const void* slab, const void* block, uint32_t blockSize) {
    return static_cast<uint32_t>((static_cast<const unsigned char*>(block) -
                                  static_cast<const unsigned char*>(slab)) / blockSize);
  }
};

uintptr_t PageOf(const void* block) { return reinterpret_cast<uintptr_t>(block) & ~uintptr_t{4095}; }

TEST(SlabPools, EmbeddedSlabHandsOutItsUsableBlocksInOrder) {
  struct Case {
    uint32_t requested;  // bytes asked for
    uint32_t blockSize;  // class block size
    uint32_t first;      // first usable number with a 16-byte header
    uint32_t last;
  };
  const Case cases[] = {
      {12, 12, 2, 11},  // ten blocks before the first page
      {4, 4, 4, 35},
      {1, 4, 4, 35},    // rounded up to the 4-byte class
      {10, 12, 2, 11},  // rounded up to the 12-byte class
      {72, 72, 1, 1},   // one block only
      {33, 36, 1, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.requested);
    Pools p;
    const uint32_t first = FirstSlabBlockNumber(c.blockSize);
    if (sizeof(void*) == 4) {
      EXPECT_EQ(first, c.first);
    }
    for (uint32_t number = first; number <= c.last; ++number) {
      void* block = AllocateBlock(*p.pools, c.requested);
      ASSERT_TRUE(p.IsEmbedded(c.requested, block));
      EXPECT_EQ(p.NumberIn(p.ClassFor(c.requested).embedded, block, c.blockSize), number);
    }
    const uint32_t pagesBefore = SlabPageSource::Instance().FreePageCount();
    const uint32_t blocksBefore = SlabPageSource::Instance().LiveBlockCount();
    void* fromPage = AllocateBlock(*p.pools, c.requested);
    EXPECT_FALSE(p.IsEmbedded(c.requested, fromPage));
    EXPECT_EQ(p.NumberIn(reinterpret_cast<void*>(PageOf(fromPage)), fromPage, c.blockSize), first)
        << "a fresh page starts at its first usable block";
    if (pagesBefore == 0) {
      EXPECT_EQ(SlabPageSource::Instance().LiveBlockCount(), blocksBefore + 1);
    }
  }
}

TEST(SlabPools, FreedBlockIsHandedOutNext) {
  Pools p;
  void* a = AllocateBlock(*p.pools, 12);
  void* b = AllocateBlock(*p.pools, 12);
  void* c = AllocateBlock(*p.pools, 12);
  FreeBlock(*p.pools, b, 12);
  EXPECT_EQ(AllocateBlock(*p.pools, 12), b);
  FreeBlock(*p.pools, a, 12);
  FreeBlock(*p.pools, c, 12);
  EXPECT_EQ(AllocateBlock(*p.pools, 12), c);
  EXPECT_EQ(AllocateBlock(*p.pools, 12), a);
  // Classes do not share blocks: a 16-byte request comes from its own slab.
  EXPECT_TRUE(p.IsEmbedded(16, AllocateBlock(*p.pools, 16)));
}

TEST(SlabPools, PagesComeAndGoWithTheirBlocks) {
  SlabPageSource& source = SlabPageSource::Instance();
  const uint32_t liveBefore = source.LiveBlockCount();
  {
    Pools p;
    constexpr uint32_t kSize = 64;  // embedded: 1 block; page: numbers 1..63
    const uint32_t perPage = kSlabPageSize / kSize - FirstSlabBlockNumber(kSize);
    void* embedded = AllocateBlock(*p.pools, kSize);
    ASSERT_TRUE(p.IsEmbedded(kSize, embedded));
    std::vector<void*> first, second;
    for (uint32_t i = 0; i < perPage; ++i) first.push_back(AllocateBlock(*p.pools, kSize));
    for (void* block : first) ASSERT_EQ(PageOf(block), PageOf(first[0]));
    // The first page is full: the next block opens a second one.
    second.push_back(AllocateBlock(*p.pools, kSize));
    EXPECT_NE(PageOf(second[0]), PageOf(first[0]));
    // Freeing into the full page puts it back at the head of the list.
    FreeBlock(*p.pools, first[5], kSize);
    EXPECT_EQ(AllocateBlock(*p.pools, kSize), first[5]);

    const uint32_t freeBefore = source.FreePageCount();
    FreeBlock(*p.pools, second[0], kSize);  // the second page's last block
    EXPECT_EQ(source.FreePageCount(), freeBefore + 1) << "an empty page goes back at once";

    // The embedded slab stays with its class when all its blocks are free.
    FreeBlock(*p.pools, embedded, kSize);
    EXPECT_EQ(AllocateBlock(*p.pools, kSize), embedded);
    // ReleasePools (in ~Pools) gives back the full first page too.
  }
  EXPECT_EQ(source.LiveBlockCount(), liveBefore);
}

TEST(SlabPageSource, HandsOutLowestPageFirstAndReleasesFullyFreeBlocks) {
  SlabPageSource& source = SlabPageSource::Instance();
  ASSERT_EQ(source.FreePageCount(), 0u) << "another test left pages behind";
  const uint32_t liveBefore = source.LiveBlockCount();
  std::vector<void*> pages;
  for (uint32_t i = 0; i < kPagesPerBlock; ++i) pages.push_back(source.TakePage());
  const uintptr_t base = reinterpret_cast<uintptr_t>(pages[0]);
  EXPECT_EQ(base % (64 * 1024), 0u) << "the first page of a new block is its lowest";
  for (uint32_t i = 0; i < kPagesPerBlock; ++i) {
    EXPECT_EQ(reinterpret_cast<uintptr_t>(pages[i]), base + i * kSlabPageSize) << i;
  }
  EXPECT_EQ(source.LiveBlockCount(), liveBefore + 1);
  void* next = source.TakePage();  // the block is used up: a new one
  EXPECT_EQ(source.LiveBlockCount(), liveBefore + 2);

  // A page given back is handed out again before anything else.
  source.ReturnPage(pages[7]);
  EXPECT_EQ(source.TakePage(), pages[7]);

  for (void* page : pages) source.ReturnPage(page);
  EXPECT_EQ(source.LiveBlockCount(), liveBefore + 1) << "all 16 pages back: the block goes";
  source.ReturnPage(next);
  EXPECT_EQ(source.LiveBlockCount(), liveBefore);
  EXPECT_EQ(source.FreePageCount(), 0u);
}

TEST(SlabPageSource, SharedByThreads) {
  SlabPageSource& source = SlabPageSource::Instance();
  const uint32_t liveBefore = source.LiveBlockCount();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&source] {
      Pools p;
      std::vector<void*> blocks;
      for (int round = 0; round < 20; ++round) {
        for (int i = 0; i < 300; ++i) blocks.push_back(AllocateBlock(*p.pools, 48));
        for (void* block : blocks) FreeBlock(*p.pools, block, 48);
        blocks.clear();
      }
      void* page = source.TakePage();
      source.ReturnPage(page);
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(source.LiveBlockCount(), liveBefore);
}

}  // namespace
}  // namespace Zarn
