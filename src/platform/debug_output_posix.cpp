// Debugger output on POSIX: there is no debugger channel, so the text reaches
// only the capture sink that tests install.
#include "platform/debug_output.h"

#include "platform/debug_sink.h"

namespace Zarn::Platform {

void DebuggerOutput(const char* text) noexcept { detail::CallSink(text); }

void SetDebuggerSink(DebuggerSink sink, void* user) noexcept {
  detail::SinkSlot().user.store(user, std::memory_order_release);
  detail::SinkSlot().sink.store(sink, std::memory_order_release);
}

}  // namespace Zarn::Platform
