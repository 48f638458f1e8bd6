// The real shared library, loaded through its export by a fake core, exactly
// as the core does: records are read and written by their byte offsets.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "plugin/abi.h"
#include "platform/dynlib.h"

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

constexpr size_t kPtr = sizeof(void*);
// Load record: three uint32 then four pointers (12, 16, 20, 24 in 32-bit builds).
constexpr size_t kEntryTableOffset = 12;
constexpr size_t kContextOffset = 12 + kPtr;
constexpr size_t kNameOffset = 12 + 2 * kPtr;
constexpr size_t kDescriptionOffset = 12 + 3 * kPtr;
constexpr size_t kLoadRecordSize = 12 + 4 * kPtr;
constexpr size_t kDescriptionBlockSize = 6 * kPtr;
static_assert(kPtr != 4 || (kDescriptionOffset == 24 && kLoadRecordSize == 28));

template <typename T>
T Read(const void* base, size_t offset) {
  T value;
  std::memcpy(&value, static_cast<const unsigned char*>(base) + offset, sizeof value);
  return value;
}
template <typename T>
void Write(void* base, size_t offset, T value) {
  std::memcpy(static_cast<unsigned char*>(base) + offset, &value, sizeof value);
}

using LoadFunction = void(PLUGIN_CALL*)(void* record);
using InitializeFunction = uint8_t(PLUGIN_CALL*)(void* context, void* host);
using ShutdownFunction = void(PLUGIN_CALL*)(void* context);
using StatisticsFunction = void(PLUGIN_CALL*)(void* context, void* statistics);

std::string LibraryPath() {
  std::string path = QMX_PLUGIN_PATH;
#if defined(_WIN32)
  if (!path.empty() && path[0] == '/') path = "Z:" + path;  // Wine maps / to Z:
#endif
  return path;
}

LoadFunction Export() {
  static void* library = Zarn::Platform::OpenLibrary(LibraryPath().c_str());
  if (library == nullptr) {
    ADD_FAILURE() << "cannot open " << LibraryPath() << ": " << Zarn::Platform::LastLibraryError();
    return nullptr;
  }
  return reinterpret_cast<LoadFunction>(Zarn::Platform::LibrarySymbol(library, "load_arx_vyk_toxicity"));
}

// A core whose host functions record every call.
struct FakeCore {
  Zarn::HostApi api;  // first: the table pointer is the core's address
  std::vector<std::string> calls;

  FakeCore() {
    api.CallApi = [](Zarn::HostApi* self, Zarn::HostApiResponse*, const Zarn::HostApiRequest*) -> uint32_t {
      return Of(self).Record("CallApi");
    };
    api.SendHttpRequest = [](Zarn::HostApi* self, Zarn::HostHttpResponse*,
                             const Zarn::HostHttpRequest*) -> uint32_t { return Of(self).Record("SendHttpRequest"); };
    api.Entry2 = [](Zarn::HostApi* self, uint32_t) -> uint32_t { return Of(self).Record("Entry2"); };
    api.Subscribe = [](Zarn::HostApi* self, const char* name, uint32_t, Zarn::HostEventCallback, void*,
                       uint32_t) -> uint32_t { return Of(self).Record(std::string("Subscribe ") + name); };
    api.Unsubscribe = [](Zarn::HostApi* self, const char* name, uint32_t) -> uint32_t {
      return Of(self).Record(std::string("Unsubscribe ") + name);
    };
    api.Entry5 = [](Zarn::HostApi* self, uint32_t, uint32_t, uint32_t, uint64_t, uint32_t) -> uint32_t {
      return Of(self).Record("Entry5");
    };
    api.Entry6 = [](Zarn::HostApi* self) -> uint32_t { return Of(self).Record("Entry6"); };
    api.Entry7 = [](Zarn::HostApi* self, const char*, uint32_t) -> uint32_t { return Of(self).Record("Entry7"); };
    api.Entry8 = [](Zarn::HostApi* self) -> uint32_t { return Of(self).Record("Entry8"); };
    api.Log = [](Zarn::HostApi* self, int32_t level, const char* message) {
      Of(self).Record("Log " + std::to_string(level) + " " + message);
    };
  }
  static FakeCore& Of(Zarn::HostApi* self) { return *reinterpret_cast<FakeCore*>(self); }
  uint32_t Record(std::string call) {
    calls.push_back(std::move(call));
    return 0;
  }
};
static_assert(offsetof(FakeCore, api) == 0);

// The host context the core hands to Initialize: table pointer, plugin handle.
struct HostContextBytes {
  alignas(8) unsigned char bytes[2 * kPtr] = {};
  HostContextBytes(FakeCore& core, uint32_t handle) {
    Write(bytes, 0, &core.api);
    Write(bytes, kPtr, handle);
  }
};

// One loaded plugin, as the core sees it.
struct LoadedPlugin {
  alignas(8) unsigned char record[kLoadRecordSize];

  explicit LoadedPlugin(uint32_t major, uint32_t minor, uint32_t patch) {
    std::memset(record, 0xCD, sizeof record);
    Write(record, 0, major);
    Write(record, 4, minor);
    Write(record, 8, patch);
    if (LoadFunction load = Export()) load(record);
  }
  void* context() const { return Read<void*>(record, kContextOffset); }
  const void* entryTable() const { return Read<const void*>(record, kEntryTableOffset); }
  template <typename F>
  F Entry(size_t index) const {
    return reinterpret_cast<F>(Read<void*>(entryTable(), index * kPtr));
  }
  uint8_t Initialize(HostContextBytes& host) const {
    return Entry<InitializeFunction>(0)(context(), host.bytes);
  }
  void Shutdown() const { Entry<ShutdownFunction>(1)(context()); }
  void Statistics(void* out) const { Entry<StatisticsFunction>(2)(context(), out); }
};

struct Counters {
  uint64_t peakBytes, peakBlocks, bytesAllocated, allocations, bytesFreed, frees;
  uint64_t live() const { return bytesAllocated - bytesFreed; }
};
Counters ReadCounters(const LoadedPlugin& plugin) {
  unsigned char bytes[56];
  plugin.Statistics(bytes);
  Counters c;
  std::memcpy(&c, bytes, sizeof c);
  return c;
}

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
    unsigned char zeros[kDescriptionBlockSize] = {};
    EXPECT_EQ(std::memcmp(block, zeros, sizeof zeros), 0) << "nothing registered yet";
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
  LoadedPlugin plugin(18, 0, 0);
  HostContextBytes host(core, 0x1234);
  EXPECT_EQ(plugin.Initialize(host), 1);
  plugin.Shutdown();
  for (const std::string& call : core.calls) {
    EXPECT_EQ(call.rfind("Log ", 0), 0u) << "unexpected host call " << call;
  }
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
