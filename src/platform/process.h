// The running executable'\''s file name.
// One portable declaration here; process_win32.cpp calls the real Windows
// functions and process_posix.cpp is our own stand-in for Linux.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Zarn::Platform {

// Writes the running executable's full path, NUL-terminated and cut to fit,
// into buffer. Returns the length written; 0 (and an empty text) when the
// path is unknown or capacity is 0.
size_t ExecutablePath(char* buffer, size_t capacity) noexcept;

}  // namespace Zarn::Platform
