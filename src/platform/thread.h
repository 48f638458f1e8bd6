// Identity of the calling thread.
// One portable declaration here; thread_win32.cpp calls the real Windows
// functions and thread_posix.cpp is our own stand-in for Linux.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Zarn::Platform {

// The system's identifier of the calling thread (GetCurrentThreadId, or the
// kernel thread id on Linux).
uint32_t CurrentThreadId() noexcept;

}  // namespace Zarn::Platform
