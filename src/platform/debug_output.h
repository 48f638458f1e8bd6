// Debugger output (OutputDebugStringA) and its test sink.
// One portable declaration here; debug_output_win32.cpp calls the real Windows
// functions and debug_output_posix.cpp is our own stand-in for Linux.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Zarn::Platform {

// Sends text to the debugger channel. Where the system has none (POSIX) the
// text reaches only the capture sink, if one is set; otherwise it is dropped.
void DebuggerOutput(const char* text) noexcept;

// A sink that receives every DebuggerOutput text in addition to the system's
// channel, on the writing thread. Tests use it to capture the output; null
// removes it.
using DebuggerSink = void (*)(const char* text, void* user);
void SetDebuggerSink(DebuggerSink sink, void* user) noexcept;

}  // namespace Zarn::Platform
