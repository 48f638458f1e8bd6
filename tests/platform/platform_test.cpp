// The platform layer's facilities on the platform the tests run on.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/debug_output.h"
#include "platform/etw.h"
#include "platform/heap.h"
#include "platform/process.h"
#include "platform/thread.h"
#include "platform/vmem.h"

namespace Zarn::Platform {
namespace {

TEST(VirtualMemory, BlocksAreAlignedZeroedAndWritable) {
  void* blocks[4];
  for (void*& block : blocks) {
    block = ReserveBlock();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % kVirtualBlockSize, 0u);
    const unsigned char* bytes = static_cast<const unsigned char*>(block);
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[kVirtualBlockSize - 1], 0);
    std::memset(block, 0xA5, kVirtualBlockSize);
  }
  for (void* block : blocks) ReleaseBlock(block);
  ReleaseBlock(nullptr);
}

TEST(Clock, ReadingsArePlausible) {
  const LocalTimeFields now = LocalTime();
  EXPECT_GE(now.year, 2024);
  EXPECT_TRUE(now.month >= 1 && now.month <= 12);
  EXPECT_TRUE(now.day >= 1 && now.day <= 31);
  EXPECT_TRUE(now.hour >= 0 && now.hour <= 23);
  EXPECT_TRUE(now.millisecond >= 0 && now.millisecond <= 999);

  const int64_t first = PerformanceCounter();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const int64_t elapsed = PerformanceCounter() - first;
  EXPECT_GT(PerformanceFrequency(), 0);
  EXPECT_GE(elapsed * 1000 / PerformanceFrequency(), 15) << "20 ms slept";

  const uint64_t ticks = SystemTimeTicks100ns();
  const uint64_t seconds = static_cast<uint64_t>(std::time(nullptr));
  EXPECT_NEAR(static_cast<double>(ticks / 10000000u), static_cast<double>(seconds), 5.0);
}

TEST(Thread, IdentifiersDifferBetweenThreadsAndStay) {
  const uint32_t main = CurrentThreadId();
  EXPECT_EQ(CurrentThreadId(), main);
  uint32_t other = main;
  std::thread([&] { other = CurrentThreadId(); }).join();
  EXPECT_NE(other, main);
  EXPECT_NE(main, 0u);
}

TEST(Process, ExecutablePathNamesThisProgram) {
  char path[1024];
  const size_t length = ExecutablePath(path, sizeof path);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(std::strlen(path), length);
  EXPECT_NE(std::string(path).find("platform_tests"), std::string::npos) << path;
  char small[8];
  const size_t cut = ExecutablePath(small, sizeof small);
  EXPECT_LT(cut, sizeof small);
  EXPECT_EQ(small[cut], '\0');
}

TEST(Heap, BlockSizeAndDuplication) {
  void* block = std::malloc(100);
  EXPECT_GE(HeapBlockSize(block), 100u);
  std::free(block);
  EXPECT_EQ(HeapBlockSize(nullptr), 0u);
  char* copy = HeapStrDup("text");
  EXPECT_STREQ(copy, "text");
  EXPECT_GE(HeapBlockSize(copy), 5u);
  std::free(copy);
}

TEST(DebuggerOutput, ReachesTheSinkOnlyWhileSet) {
  std::string captured;
  SetDebuggerSink([](const char* text, void* user) { *static_cast<std::string*>(user) += text; },
                  &captured);
  DebuggerOutput("one ");
  DebuggerOutput("two");
  SetDebuggerSink(nullptr, nullptr);
  DebuggerOutput("three");
  EXPECT_EQ(captured, "one two");
}

TEST(Etw, AvailabilityFollowsThePlatform) {
  EtwFunctions functions;
  const bool available = LoadEtwFunctions(&functions);
#if defined(_WIN32)
  EXPECT_TRUE(available);
  EXPECT_NE(functions.eventRegister, nullptr);
  EXPECT_NE(functions.eventWrite, nullptr);
  EXPECT_NE(functions.eventUnregister, nullptr);
#else
  EXPECT_FALSE(available);
  EXPECT_EQ(functions.eventRegister, nullptr);
  EXPECT_EQ(functions.eventWrite, nullptr);
  EXPECT_EQ(functions.eventUnregister, nullptr);
#endif
}

}  // namespace
}  // namespace Zarn::Platform
