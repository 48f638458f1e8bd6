// Loading a shared library and finding its exports, as a host does.
// One portable declaration here; dynlib_win32.cpp calls the real Windows
// functions and dynlib_posix.cpp is our own stand-in for Linux.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Zarn::Platform {

// Opens a shared library (dlopen / LoadLibraryA) by path; null on failure.
void* OpenLibrary(const char* path) noexcept;
// Address of an exported function; null when absent.
void* LibrarySymbol(void* library, const char* name) noexcept;
// Closes a library from OpenLibrary. Null is a no-op.
void CloseLibrary(void* library) noexcept;
// Text of the calling thread's last OpenLibrary or LibrarySymbol failure.
const char* LastLibraryError() noexcept;

}  // namespace Zarn::Platform
