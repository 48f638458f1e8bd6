// A fake core for the tests that load the real shared library through its
// export: a HostApi whose functions record every call, the host context, and
// one loaded plugin as the core sees it. Records are read and written by
// their byte offsets, exactly as the core does. The core keeps the
// subscriptions it is given and delivers event records to their callbacks,
// and answers CallApi as a test tells it to.
//
// The program that includes this keeps its own operator new (the library
// must never reach it); define it in exactly one of the program's files.
// In-process tests use the FakeCore alone (without QMX_PLUGIN_PATH there is
// no library to load).
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/dynlib.h"
#include "plugin/abi.h"
#include "plugin/core_api.h"
#include "plugin/host_events.h"
#include "values/host_value.h"

// The offset of a record's field: the literal one in 32-bit builds (which
// checks the library's layout against the core's), the declared one in the
// 64-bit tools build.
#ifndef ZARN_AT
#define ZARN_AT(Type, field, offset32) (sizeof(void*) == 4 ? size_t{offset32} : offsetof(Type, field))
#endif

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

#if defined(QMX_PLUGIN_PATH)
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
#endif

// A host value as text, for comparisons: null, true, -1, 2, 0.5, "text",
// <3 bytes>, [a,b], {"key":value}; an unknown kind shows as ?<code>.
inline std::string RenderHostValue(const Zarn::HostValue& value) {
  switch (value.kind) {
    case 0: return "null";
    case 1: return value.boolValue ? "true" : "false";
    case 2: return std::to_string(value.signedValue);
    case 3: return std::to_string(value.unsignedValue);
    case 4: return std::to_string(value.floatValue);
    case 5:
    case 6: return "\"" + std::string(value.text.text ? value.text.text : "") + "\"";
    case 7:
    case 8: return "<" + std::to_string(value.blob.count) + " bytes>";
    case 9: {
      std::string text = "[";
      for (uint32_t i = 0; i < value.collection.count; ++i) {
        text += (i ? "," : "") + RenderHostValue(value.collection.elements[i]);
      }
      return text + "]";
    }
    case 10: {
      std::string text = "{";
      for (uint32_t i = 0; i < value.structure.count; ++i) {
        const Zarn::HostMemberEntry& entry = value.structure.entries[i];
        text += (i ? ",\"" : "\"") + std::string(entry.key) + "\":" + RenderHostValue(entry.value);
      }
      return text + "}";
    }
    default: return "?" + std::to_string(value.kind);
  }
}

// A host structure that the core builds for an event payload: texts are
// borrowed (kind 5), nested values are the caller's and must outlive the
// structure. Value() stays valid while the structure lives and is not
// changed.
class HostStructure {
 public:
  HostStructure& Text(std::string key, std::string text) {
    members_.push_back({std::move(key), std::move(text), Zarn::HostValue{}});
    return *this;
  }
  HostStructure& Value(std::string key, const Zarn::HostValue& value) {
    members_.push_back({std::move(key), std::string(), value});
    members_.back().isText = false;
    return *this;
  }
  Zarn::HostValue Value() {
    entries_.assign(members_.size(), Zarn::HostMemberEntry{});
    for (size_t i = 0; i < members_.size(); ++i) {
      Member& member = members_[i];
      entries_[i].key = member.key.c_str();
      if (member.isText) {
        entries_[i].value.kind = 5;
        entries_[i].value.text = {member.text.c_str(), static_cast<uint32_t>(member.text.size())};
      } else {
        entries_[i].value = member.value;
      }
    }
    Zarn::HostValue value{};
    value.kind = 10;
    value.structure = {entries_.data(), static_cast<uint32_t>(entries_.size())};
    return value;
  }

 private:
  struct Member {
    std::string key;
    std::string text;
    Zarn::HostValue value;
    bool isText = true;
  };
  std::vector<Member> members_;
  std::vector<Zarn::HostMemberEntry> entries_;
};

// A core whose host functions record every call.
struct FakeCore {
  struct LogCall {
    int32_t level;
    std::string message;
  };
  struct Subscription {
    std::string name;
    uint32_t pluginHandle;
    Zarn::HostEventCallback callback;
    void* userData;
    uint32_t flag;
  };
  // One CallApi as the core read it.
  struct ApiCall {
    int32_t method;
    std::string path;
    uint32_t parameterCount;
    std::string parameter;  // RenderHostValue of the first parameter; "" without one
    uint32_t pluginHandle;
    bool requestZeroesClear;  // bytes 16-39 and 44-47 of the request (and parameter bytes 0-3) are 0
    bool responseZeroed;      // the response record arrived all zero
  };
  Zarn::HostApi api;  // first: the table pointer is the core's address
  std::vector<std::string> calls;
  std::vector<LogCall> logs;  // every Log call, also recorded in calls
  std::vector<Subscription> subscriptions;     // every Subscribe call, in order
  std::vector<Subscription> active;         // subscribed and not unsubscribed, one per name
  std::vector<ApiCall> apiCalls;
  // How CallApi answers: an error text (null: success) with a status. The
  // response's cleanup is always set; cleanups counts its calls, and
  // cleanupOfOtherRecords those made with an address CallApi did not fill.
  const char* apiErrorText = nullptr;
  int32_t apiStatus = 0;
  int cleanups = 0;
  int cleanupOfOtherRecords = 0;
  void* lastResponse = nullptr;
  // False: the core keeps no record of calls and subscriptions (and so
  // allocates nothing itself); deliveries find no subscription then.
  bool isRecording = true;

  FakeCore() {
    api.CallApi = [](Zarn::HostApi* self, Zarn::HostApiResponse* response,
                     const Zarn::HostApiRequest* request) -> uint32_t {
      return Of(self).OnCallApi(response, request);
    };
    api.SendHttpRequest = [](Zarn::HostApi* self, Zarn::HostHttpResponse*,
                             const Zarn::HostHttpRequest*) -> uint32_t { return Of(self).Record("SendHttpRequest"); };
    api.Entry2 = [](Zarn::HostApi* self, uint32_t) -> uint32_t { return Of(self).Record("Entry2"); };
    api.Subscribe = [](Zarn::HostApi* self, const char* name, uint32_t handle, Zarn::HostEventCallback callback,
                       void* userData, uint32_t flag) -> uint32_t {
      FakeCore& core = Of(self);
      if (!core.isRecording) return 0;
      const Subscription subscription{name, handle, callback, userData, flag};
      core.subscriptions.push_back(subscription);
      core.Deactivate(name);
      core.active.push_back(subscription);
      return core.Record(std::string("Subscribe ") + name);
    };
    api.Unsubscribe = [](Zarn::HostApi* self, const char* name, uint32_t) -> uint32_t {
      if (!Of(self).isRecording) return 0;
      Of(self).Deactivate(name);
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

  const Subscription* Active(const std::string& name) const {
    for (const Subscription& subscription : active) {
      if (subscription.name == name) return &subscription;
    }
    return nullptr;
  }
  void Deactivate(const std::string& name) {
    for (size_t i = 0; i < active.size(); ++i) {
      if (active[i].name == name) active.erase(active.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }

  // Delivers an event of name with payload (borrowed for the call) to the
  // callback of its active subscription, as the core does: a fresh record
  // whose unread field holds garbage. False when nothing is subscribed.
  bool Deliver(const std::string& name, const Zarn::HostValue& payload) const {
    const Subscription* found = Active(name);
    if (found == nullptr) return false;
    using Zarn::HostEvent;
    alignas(8) unsigned char record[sizeof(HostEvent)];
    std::memset(record, 0xCD, sizeof record);
    Write(record, 0, name.c_str());
    std::memcpy(record + ZARN_AT(HostEvent, payload, 4), &payload, sizeof payload);
    Write(record, ZARN_AT(HostEvent, userData, 20), found->userData);
    found->callback(reinterpret_cast<const HostEvent*>(record));
    return true;
  }

  // CallApi: records the request and answers as configured.
  uint32_t OnCallApi(Zarn::HostApiResponse* response, const Zarn::HostApiRequest* request) {
    using Zarn::HostApiParameter;
    using Zarn::HostApiRequest;
    using Zarn::HostApiResponse;
    ApiCall call{};
    call.method = Read<int32_t>(request, 0);
    call.path = Read<const char*>(request, ZARN_AT(HostApiRequest, path, 4));
    const auto* parameters = Read<const unsigned char*>(request, ZARN_AT(HostApiRequest, parameters, 8));
    call.parameterCount = Read<uint32_t>(request, ZARN_AT(HostApiRequest, parameterCount, 12));
    call.pluginHandle = Read<uint32_t>(request, ZARN_AT(HostApiRequest, pluginHandle, 40));
    call.requestZeroesClear = true;
    const size_t reserved0 = ZARN_AT(HostApiRequest, reserved0, 16);
    for (size_t i = reserved0; i < reserved0 + 24; ++i) call.requestZeroesClear &= Read<uint8_t>(request, i) == 0;
    call.requestZeroesClear &= Read<uint32_t>(request, ZARN_AT(HostApiRequest, reserved1, 44)) == 0;
    if (call.parameterCount > 0 && parameters != nullptr) {
      call.requestZeroesClear &= Read<uint32_t>(parameters, 0) == 0;
      call.parameter = RenderHostValue(Read<Zarn::HostValue>(parameters, ZARN_AT(HostApiParameter, value, 4)));
    }
    call.responseZeroed = true;
    for (size_t i = 0; i < sizeof(HostApiResponse); ++i) call.responseZeroed &= Read<uint8_t>(response, i) == 0;
    apiCalls.push_back(call);
    Record("CallApi " + call.path);

    Write(response, ZARN_AT(HostApiResponse, errorText, 12), apiErrorText);
    Write(response, ZARN_AT(HostApiResponse, status, 22), apiStatus);
    // The core finds its own state again through a field the plugin does
    // not read.
    Write(response, ZARN_AT(HostApiResponse, bodyStream, 54), static_cast<void*>(this));
    using Cleanup = void(PLUGIN_CALL*)(HostApiResponse*);
    const Cleanup cleanup = [](HostApiResponse* self) {
      FakeCore& core = *static_cast<FakeCore*>(Read<void*>(self, ZARN_AT(HostApiResponse, bodyStream, 54)));
      ++core.cleanups;
      if (static_cast<void*>(self) != core.lastResponse) ++core.cleanupOfOtherRecords;
    };
    Write(response, ZARN_AT(HostApiResponse, cleanup, 58), cleanup);
    lastResponse = response;
    return 0;
  }
};
static_assert(offsetof(FakeCore, api) == 0);

#if defined(QMX_PLUGIN_PATH)
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
#endif

}  // namespace Zarn::AbiTest
