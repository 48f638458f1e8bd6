// A fake core for the tests that load the real shared library through its
// export: a HostApi whose functions record every call, the host context, and
// one loaded plugin as the core sees it. Records are read and written by
// their byte offsets, exactly as the core does.
//
// The program that includes this keeps its own operator new (the library
// must never reach it); define it in exactly one of the program's files.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/dynlib.h"
#include "plugin/abi.h"

namespace Zarn::AbiTest {

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
inline T Read(const void* base, size_t offset) {
  T value;
  std::memcpy(&value, static_cast<const unsigned char*>(base) + offset, sizeof value);
  return value;
}
template <typename T>
inline void Write(void* base, size_t offset, T value) {
  std::memcpy(static_cast<unsigned char*>(base) + offset, &value, sizeof value);
}

using LoadFunction = void(PLUGIN_CALL*)(void* record);
using InitializeFunction = uint8_t(PLUGIN_CALL*)(void* context, void* host);
using ShutdownFunction = void(PLUGIN_CALL*)(void* context);
using StatisticsFunction = void(PLUGIN_CALL*)(void* context, void* statistics);

inline std::string LibraryPath() {
  std::string path = QMX_PLUGIN_PATH;
#if defined(_WIN32)
  if (!path.empty() && path[0] == '/') path = "Z:" + path;  // Wine maps / to Z:
#endif
  return path;
}

inline LoadFunction Export() {
  static void* library = Zarn::Platform::OpenLibrary(LibraryPath().c_str());
  if (library == nullptr) {
    ADD_FAILURE() << "cannot open " << LibraryPath() << ": " << Zarn::Platform::LastLibraryError();
    return nullptr;
  }
  return reinterpret_cast<LoadFunction>(Zarn::Platform::LibrarySymbol(library, "load_arx_vyk_toxicity"));
}

// A core whose host functions record every call.
struct FakeCore {
  struct LogCall {
    int32_t level;
    std::string message;
  };
  Zarn::HostApi api;  // first: the table pointer is the core's address
  std::vector<std::string> calls;
  std::vector<LogCall> logs;  // every Log call, also recorded in calls

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
      Of(self).logs.push_back({level, message});
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
inline Counters ReadCounters(const LoadedPlugin& plugin) {
  unsigned char bytes[56];
  plugin.Statistics(bytes);
  Counters c;
  std::memcpy(&c, bytes, sizeof c);
  return c;
}

}  // namespace Zarn::AbiTest
