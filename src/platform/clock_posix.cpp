// Local time and clocks on POSIX: clock_gettime and localtime_r.
#include "platform/clock.h"

#include <ctime>

namespace Zarn::Platform {

LocalTimeFields LocalTime() noexcept {
  LocalTimeFields fields{};
  timespec now{};
  if (clock_gettime(CLOCK_REALTIME, &now) != 0) return fields;
  tm local{};
  time_t seconds = now.tv_sec;
  if (localtime_r(&seconds, &local) == nullptr) return fields;
  fields.year = local.tm_year + 1900;
  fields.month = local.tm_mon + 1;
  fields.day = local.tm_mday;
  fields.hour = local.tm_hour;
  fields.minute = local.tm_min;
  fields.second = local.tm_sec;
  fields.millisecond = static_cast<int32_t>(now.tv_nsec / 1000000);
  return fields;
}

int64_t PerformanceCounter() noexcept {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int64_t PerformanceFrequency() noexcept { return 1000000000; }

uint64_t SystemTimeTicks100ns() noexcept {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<uint64_t>(now.tv_sec) * 10000000u + static_cast<uint64_t>(now.tv_nsec) / 100u;
}

}  // namespace Zarn::Platform
