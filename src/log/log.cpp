// Minimal log dispatch: ERROR and above in group DBG reach the standard error
// stream and the debugger output as "#E(#T): #L| #M" lines.
#include "log/log.h"

#include <cstdio>
#include <cstring>

#include "platform/debug_output.h"
#include "platform/process.h"
#include "platform/thread.h"

namespace Zarn {
namespace {

const char* LevelText(LogLevel level) {
  switch (level) {
    case LogLevel::Okay:
      return "  OKAY";
    case LogLevel::Warn:
      return "  WARN";
    case LogLevel::Error:
      return " ERROR";
    case LogLevel::Always:
      return "ALWAYS";
  }
  return "   ???";
}

}  // namespace

void LogMessageV(LogLevel level, uint64_t groups, const char* format, va_list arguments) noexcept {
  if (static_cast<int32_t>(level) < static_cast<int32_t>(LogLevel::Warn)) return;
  if ((groups & kLogGroupXtr) != 0) return;
  char message[4096];
  std::vsnprintf(message, sizeof message, format, arguments);
  char path[1024];
  Platform::ExecutablePath(path, sizeof path);
  const char* name = std::strrchr(path, '/');
  name = name ? name + 1 : path;
  char head[1100];
  std::snprintf(head, sizeof head, "%.1023s(%08X): %s| ", name,
                static_cast<unsigned>(Platform::CurrentThreadId()), LevelText(level));
  std::fputs(head, stderr);
  std::fputs(message, stderr);
  std::fputs("\n", stderr);
  Platform::DebuggerOutput(head);
  Platform::DebuggerOutput(message);
  Platform::DebuggerOutput("\n");
}

void LogMessage(LogLevel level, uint64_t groups, const char* format, ...) noexcept {
  va_list arguments;
  va_start(arguments, format);
  LogMessageV(level, groups, format, arguments);
  va_end(arguments);
}

void LogAddRef() noexcept {}
void LogRelease() noexcept {}

}  // namespace Zarn
