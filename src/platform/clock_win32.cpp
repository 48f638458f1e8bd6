// Local time and clocks on Windows: GetLocalTime, QueryPerformanceCounter and
// GetSystemTimeAsFileTime.
#include "platform/clock.h"

#include <windows.h>

namespace Zarn::Platform {

LocalTimeFields LocalTime() noexcept {
  SYSTEMTIME local;
  GetLocalTime(&local);
  return {local.wYear, local.wMonth, local.wDay, local.wHour,
          local.wMinute, local.wSecond, local.wMilliseconds};
}

int64_t PerformanceCounter() noexcept {
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return counter.QuadPart;
}

int64_t PerformanceFrequency() noexcept {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return frequency.QuadPart;
}

uint64_t SystemTimeTicks100ns() noexcept {
  // FILETIME counts 100-ns ticks since 1601-01-01; 1970 is 11644473600 s later.
  constexpr uint64_t kEpochDifference = 116444736000000000ull;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return ticks - kEpochDifference;
}

}  // namespace Zarn::Platform
