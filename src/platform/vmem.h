// Reservation and release of 64 KiB blocks of virtual memory.
// One portable declaration here; vmem_win32.cpp calls the real Windows
// functions and vmem_posix.cpp is our own stand-in for Linux.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Zarn::Platform {

constexpr size_t kVirtualBlockSize = 64 * 1024;

// Reserves and commits one 64 KiB block of zeroed read-write memory, aligned
// to 64 KiB. Returns null when the system refuses.
void* ReserveBlock() noexcept;

// Gives a block from ReserveBlock back to the system. Null is a no-op.
void ReleaseBlock(void* block) noexcept;

}  // namespace Zarn::Platform
