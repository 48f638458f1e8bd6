// Debugger output on Windows: OutputDebugStringA, plus the test sink.
#include "platform/debug_output.h"

#include <windows.h>

#include "platform/debug_sink.h"

namespace Zarn::Platform {

void DebuggerOutput(const char* text) noexcept {
  OutputDebugStringA(text);
  detail::CallSink(text);
}

void SetDebuggerSink(DebuggerSink sink, void* user) noexcept {
  detail::SinkSlot().user.store(user, std::memory_order_release);
  detail::SinkSlot().sink.store(sink, std::memory_order_release);
}

}  // namespace Zarn::Platform
