// Event Tracing for Windows providers. At load the plugin registers four
// providers, so that a trace controller can observe it, and announces its
// loading thread as the "Main thread" on provider 2; at unload it
// unregisters them. Each provider keeps a registration handle and the enable
// state its controller asked for, kept current by one control callback.
//
// The providers call ETW only through the EtwFunctions table they are built
// with: the process-wide providers use the platform's (Advapi32 on Windows,
// absent elsewhere), tests build their own with a fake controller. With an
// absent table every operation does nothing and returns 0.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/etw.h"

namespace Zarn {

// An event class: the keyword and level its events carry.
struct TraceEventClass {
  uint64_t keyword;
  uint8_t level;
};

constexpr size_t kTraceProviderCount = 4;
constexpr size_t kMaxTraceEventClasses = 2;

// The enable state of one provider, written by the control callback (on
// whatever thread the controller uses) and read by event writers.
struct TraceProviderContext {
  uint64_t registrationHandle = 0;  // 0: not registered
  std::atomic<bool> isEnabled{false};
  std::atomic<uint8_t> level{0};
  std::atomic<uint64_t> matchAnyKeyword{0};
  std::atomic<uint64_t> matchAllKeyword{0};
  std::atomic<uint32_t> enableBits{0};  // bit i: event class i is enabled
  const TraceEventClass* classes = nullptr;
  uint32_t classCount = 0;

  bool IsClassEnabled(uint32_t eventClass) const noexcept {
    return ((enableBits.load(std::memory_order_acquire) >> eventClass) & 1) != 0;
  }
};

// The providers' GUIDs, in registration order.
extern const Platform::EtwGuid kTraceProviderGuids[kTraceProviderCount];
// The "Main thread" event: id 103, opcode 14, task 2, keyword 0x1, on
// provider 2 (index 1), event class 0.
extern const Platform::EtwEventDescriptor kThreadNameEvent;

class TraceProviders {
 public:
  // functions is copied; its entries may all be null (tracing absent).
  explicit TraceProviders(const Platform::EtwFunctions& functions) noexcept;
  TraceProviders(const TraceProviders&) = delete;
  TraceProviders& operator=(const TraceProviders&) = delete;
  // Unregisters whatever is still registered.
  ~TraceProviders();

  // Registers providers 1 to 4 in order; a provider whose handle is not 0
  // is not registered again. Returns 0, or the first failing status (that
  // provider keeps handle 0 and the others are still tried).
  uint32_t RegisterAll() noexcept;
  // Unregisters providers 4 to 1, skipping zero handles, and sets each
  // handle to 0. Returns 0 or the first failing status.
  uint32_t UnregisterAll() noexcept;
  // Writes the thread-name event on provider 2 if its class is enabled;
  // a null name is sent as "NULL". Returns the write's status, or 0 when
  // nothing was written.
  uint32_t WriteThreadName(uint32_t threadId, const char* name) noexcept;

  // Provider index 0-3 (provider 1-4).
  const TraceProviderContext& context(size_t index) const noexcept { return contexts_[index]; }

  // The control callback of every provider; context is its
  // TraceProviderContext. Code 1 enables, 0 disables, others are ignored.
  static void ZARN_ETW_CALL ControlCallback(const Platform::EtwGuid* sourceId, uint32_t controlCode,
                                            uint8_t level, uint64_t matchAnyKeyword,
                                            uint64_t matchAllKeyword, void* filterData,
                                            void* context);

 private:
  Platform::EtwFunctions functions_;
  TraceProviderContext contexts_[kTraceProviderCount];
};

// The process-wide providers, over the platform's ETW functions (looked up
// on first use). LoadTraceProviders runs at every plugin load: it registers
// what is not registered yet and writes the "Main thread" event for the
// calling thread. UnloadTraceProviders runs at every unload; the last
// unload unregisters the providers. Each returns the status of its
// registration or unregistration (0 when all went well or nothing was
// done); callers at the boundary ignore it, since tracing never fails a load.
[[nodiscard]] uint32_t LoadTraceProviders() noexcept;
[[nodiscard]] uint32_t UnloadTraceProviders() noexcept;

}  // namespace Zarn
