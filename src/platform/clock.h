// Local time, the performance counter and the system time.
// One portable declaration here; clock_win32.cpp calls the real Windows
// functions and clock_posix.cpp is our own stand-in for Linux.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Zarn::Platform {

// Broken-down local time, as log entries carry it.
struct LocalTimeFields {
  int32_t year;
  int32_t month;  // 1-12
  int32_t day;    // 1-31
  int32_t hour;
  int32_t minute;
  int32_t second;
  int32_t millisecond;
};

// Current local time. Never fails; on a clock error every field is 0.
LocalTimeFields LocalTime() noexcept;

// High-resolution monotonic counter, and its ticks per second.
int64_t PerformanceCounter() noexcept;
int64_t PerformanceFrequency() noexcept;

// System time as 100-nanosecond ticks since 1970-01-01 00:00 UTC.
uint64_t SystemTimeTicks100ns() noexcept;

}  // namespace Zarn::Platform
