// The capture sink shared by both debugger-output implementations.
#pragma once

#include <atomic>

#include "platform/debug_output.h"

namespace Zarn::Platform::detail {

struct DebuggerSinkSlot {
  std::atomic<DebuggerSink> sink{nullptr};
  std::atomic<void*> user{nullptr};
};

inline DebuggerSinkSlot& SinkSlot() noexcept {
  static DebuggerSinkSlot slot;
  return slot;
}

inline void CallSink(const char* text) noexcept {
  DebuggerSinkSlot& slot = SinkSlot();
  if (DebuggerSink sink = slot.sink.load(std::memory_order_acquire)) {
    sink(text, slot.user.load(std::memory_order_acquire));
  }
}

}  // namespace Zarn::Platform::detail
