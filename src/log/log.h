// The plugin's diagnostic log: messages with a level and a mask of groups.
#pragma once

#include <cstdarg>
#include <cstdint>

namespace Zarn {

// Message levels, in increasing severity.
enum class LogLevel : int32_t { Okay = 0, Warn = 1, Error = 2, Always = 3 };

// The fixed groups: bit i of a mask stands for entry i of the group table.
constexpr uint64_t kLogGroupDbg = uint64_t{1} << 0;
constexpr uint64_t kLogGroupGen = uint64_t{1} << 1;
constexpr uint64_t kLogGroupXtr = uint64_t{1} << 2;

// Logs one message: format is a printf format with its arguments. Never
// fails its caller; over-long messages are cut to 4095 characters.
void LogMessage(LogLevel level, uint64_t groups, const char* format, ...) noexcept
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;
void LogMessageV(LogLevel level, uint64_t groups, const char* format, va_list arguments) noexcept;

// The process-wide reference on the logging system: the first reference
// creates it, the last release destroys it.
void LogAddRef() noexcept;
void LogRelease() noexcept;

}  // namespace Zarn
