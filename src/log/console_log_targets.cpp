// The built-in console and debugger targets.
#include "log/console_log_targets.h"

#include <cstdio>

#include "platform/debug_output.h"

namespace Zarn {

const char* BaseConsoleLogTarget::GetName() const noexcept { return "BaseConsoleLogTarget"; }

bool BaseConsoleLogTarget::Write(const LogEntry& entry) noexcept {
  char line[kLogLineCapacity];
  FormatLogLine(line, sizeof line, GetFormat(entry), entry);
  std::lock_guard<std::recursive_mutex> hold(TargetLock());
  Output(line);
  return true;
}

StdErrLogTarget::StdErrLogTarget() {
  InitializeSettings({1, kLogGroupDbg, kLogGroupGen, "#E(#T): #L| #M"});
}
StdErrLogTarget::~StdErrLogTarget() { Detach(); }
const char* StdErrLogTarget::GetName() const noexcept { return "StdErrLogTarget"; }
void StdErrLogTarget::Flush() noexcept { std::fflush(stderr); }
void StdErrLogTarget::Output(const char* line) noexcept { std::fputs(line, stderr); }

StdOutLogTarget::StdOutLogTarget() { InitializeSettings({1, kLogGroupGen, kLogGroupDbg, "#M"}); }
StdOutLogTarget::~StdOutLogTarget() { Detach(); }
const char* StdOutLogTarget::GetName() const noexcept { return "StdOutLogTarget"; }
void StdOutLogTarget::Flush() noexcept { std::fflush(stdout); }
void StdOutLogTarget::Output(const char* line) noexcept { std::fputs(line, stdout); }

DebuggerConsoleLogTarget::DebuggerConsoleLogTarget() {
  InitializeSettings({1, kLogGroupDbg, 0, "#E(#T): #L| #M"});
}
DebuggerConsoleLogTarget::~DebuggerConsoleLogTarget() { Detach(); }
const char* DebuggerConsoleLogTarget::GetName() const noexcept {
  return "DebuggerConsoleLogTarget";
}
void DebuggerConsoleLogTarget::Flush() noexcept {}
void DebuggerConsoleLogTarget::Output(const char* line) noexcept { Platform::DebuggerOutput(line); }

}  // namespace Zarn
