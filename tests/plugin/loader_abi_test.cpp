// The real shared library, loaded through its export by a fake core, exactly
// as the core does: the handshake, the entries and the allocator.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "plugin/fake_core.h"

// The host process's own operator new: the library must never reach it.
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
namespace {
std::atomic<uint64_t> hostAllocations{0};
}
void* operator new(std::size_t size) {
  hostAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* block = std::malloc(size ? size : 1)) return block;
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

namespace {

using namespace Zarn::AbiTest;

TEST(LoaderAbi, AcceptsCompatibleCores) {
  struct Version {
    uint32_t major, minor, patch;
  };
  const Version versions[] = {{18, 0, 0}, {18, 0, 5}, {18, 2, 0}, {18, 3, 0}};
  for (const Version& v : versions) {
    SCOPED_TRACE(std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch));
    LoadedPlugin plugin(v.major, v.minor, v.patch);
    EXPECT_EQ(Read<uint32_t>(plugin.record, 0), 18u);
    EXPECT_EQ(Read<uint32_t>(plugin.record, 4), 0u);
    EXPECT_EQ(Read<uint32_t>(plugin.record, 8), 0u);
    ASSERT_NE(plugin.entryTable(), nullptr);
    ASSERT_NE(plugin.context(), nullptr);
    for (size_t i = 0; i < 3; ++i) EXPECT_NE(plugin.Entry<void*>(i), nullptr) << "entry " << i;
    EXPECT_STREQ(Read<const char*>(plugin.record, kNameOffset), "arx-vyk-toxicity");
    const void* block = Read<const void*>(plugin.record, kDescriptionOffset);
    ASSERT_NE(block, nullptr);
    // The feature's two routes; they and the types and events the block
    // lists are walked in toxicity/ and binding/description_abi_test.cpp.
    EXPECT_NE(Read<const void*>(block, 0), nullptr);
    EXPECT_EQ(Read<uint32_t>(block, kPtr), 2u);
    plugin.Shutdown();
  }
}

TEST(LoaderAbi, RefusesIncompatibleCoresLeavingTheRecordAsSent) {
  struct Version {
    uint32_t major, minor, patch;
    const char* text;
  };
  const Version versions[] = {{19, 0, 0, "19.0.0"}, {17, 9, 9, "17.9.9"}, {17, 0, 0, "17.0.0"},
                              {0xFFFFFFFFu, 0, 0, "4294967295.0.0"}};
  for (const Version& v : versions) {
    SCOPED_TRACE(v.text);
    testing::internal::CaptureStderr();
    LoadedPlugin plugin(v.major, v.minor, v.patch);
    const std::string log = testing::internal::GetCapturedStderr();
    unsigned char expected[kLoadRecordSize];
    std::memset(expected, 0xCD, sizeof expected);
    Write(expected, 0, v.major);
    Write(expected, 4, v.minor);
    Write(expected, 8, v.patch);
    EXPECT_EQ(std::memcmp(plugin.record, expected, sizeof expected), 0);
    EXPECT_NE(log.find("Assertion failed!\n\nExpression: ALE-EECF0606"), std::string::npos) << log;
    EXPECT_NE(log.find(std::string("arx-vyk-toxicity which supports plugin API 18.0.0 is not "
                                   "compatible with core's plugin API ") + v.text),
              std::string::npos)
        << log;
  }
}

TEST(LoaderAbi, LifecycleWithoutConnectionMakesNoHostCalls) {
  FakeCore core;
  {
    LoadedPlugin plugin(18, 0, 0);
    ASSERT_NE(plugin.context(), nullptr);
    plugin.Shutdown();
  }
  EXPECT_TRUE(core.calls.empty());
  // Connected, the plugin subscribes the three service-proxy events and
  // Shutdown takes back exactly those; besides them it only logs.
  LoadedPlugin plugin(18, 0, 0);
  HostContextBytes host(core, 0x1234);
  EXPECT_EQ(plugin.Initialize(host), 1);
  plugin.Shutdown();
  std::vector<std::string> subscriptions;
  std::vector<std::string> unsubscriptions;
  for (const std::string& call : core.calls) {
    if (call.rfind("Subscribe ", 0) == 0) {
      subscriptions.push_back(call.substr(10));
    } else if (call.rfind("Unsubscribe ", 0) == 0) {
      unsubscriptions.push_back(call.substr(12));
    } else {
      EXPECT_EQ(call.rfind("Log ", 0), 0u) << "unexpected host call " << call;
    }
  }
  const std::vector<std::string> serviceProxyEvents = {"OnServiceProxyUuidEvent", "OnServiceProxyMethodEvent",
                                                       "OnServiceProxyAsyncEvent"};
  EXPECT_EQ(subscriptions, serviceProxyEvents);
  std::sort(unsubscriptions.begin(), unsubscriptions.end());
  std::vector<std::string> expected = serviceProxyEvents;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(unsubscriptions, expected);
}

TEST(LoaderAbi, MemoryStatisticsRecord) {
  LoadedPlugin plugin(18, 0, 0);
  unsigned char bytes[56];
  std::memset(bytes, 0xFF, sizeof bytes);
  plugin.Statistics(bytes);
  for (size_t i = 48; i < 56; ++i) EXPECT_EQ(bytes[i], 0) << "byte " << i;
  const Counters c = Read<Counters>(bytes, 0);
  EXPECT_GT(c.allocations, 0u) << "building the plugin object allocates";
  EXPECT_GE(c.allocations, c.frees);
  EXPECT_GE(c.peakBytes, c.live());
  EXPECT_GT(c.peakBlocks, 0u);
  plugin.Shutdown();
}

// Every allocation the library makes (its object, its strings and
// containers) is counted by its own allocator, none reaches the host's, and
// a whole lifecycle gives back everything it took.
TEST(LoaderAbi, AllocationsStayInsideTheLibrary) {
  FakeCore core;
  core.isRecording = false;  // the fake's own records would use the host's operator new
  { LoadedPlugin(18, 0, 0).Shutdown(); }  // settle what the library keeps for the process
  LoadedPlugin probe(18, 0, 0);
  const Counters before = ReadCounters(probe);
  const uint64_t hostBefore = hostAllocations.load();
  for (int round = 0; round < 3; ++round) {
    LoadedPlugin plugin(18, 0, 0);
    HostContextBytes host(core, 7);
    plugin.Initialize(host);
    plugin.Shutdown();
  }
  const uint64_t hostAfter = hostAllocations.load();
  const Counters after = ReadCounters(probe);
  EXPECT_EQ(hostAfter, hostBefore) << "the library used the host's operator new";
  // A plugin object, its names (longer than any short-string buffer) and
  // its registry: at least three blocks per round.
  EXPECT_GE(after.allocations - before.allocations, 9u);
  EXPECT_EQ(after.live(), before.live()) << "a load/initialize/shutdown cycle leaked";
  probe.Shutdown();
}

}  // namespace
