// The logging calls and the LogApi table, over the process-wide manager.
#include "log/log.h"

#include <cstdio>

#include "log/log_manager.h"

namespace Zarn {
namespace {

void LogMessageLevelV(int32_t level, uint64_t groups, const char* format, va_list arguments) {
  LogManager* manager = LogManager::Acquire();
  if (manager == nullptr || manager->Rejects(level, groups)) return;
  char message[kLogMessageCapacity];
  message[0] = '\0';
  if (format != nullptr && std::vsnprintf(message, sizeof message, format, arguments) < 0) {
    message[0] = '\0';
  }
  LogEntry entry;
  LocalTime(&entry);
  entry.level = level;
  entry.groups = groups;
  entry.message = message;
  manager->Dispatch(entry);
}

LogTargetInterface* BuiltIn(LogTarget& (*pick)(LogManager&)) {
  LogManager* manager = LogManager::Acquire();
  return manager != nullptr ? pick(*manager).Interface() : nullptr;
}

// Table adapters where the C++ signature differs from the slot's.
int32_t ApiVersion() { return 1; }
void ApiNothing() {}
void ApiAddRef() { LogAddRef(); }
void ApiRelease() { LogRelease(); }
void ApiSetMinimumLevel(int32_t level) { SetMinimumLevel(level); }
int32_t ApiGetMinimumLevel() { return GetMinimumLevel(); }
void ApiSetMutedGroups(uint64_t mask) { SetMutedGroups(mask); }
uint64_t ApiGetMutedGroups() { return GetMutedGroups(); }
void ApiPause() { PauseLogging(); }
void ApiResume() { ResumeLogging(); }
void ApiRegisterTarget(LogTargetInterface* target) { RegisterTarget(target); }
void ApiUnregisterTarget(LogTargetInterface* target) { UnregisterTarget(target); }
LogTargetInterface* ApiFindTarget(const char* name) { return FindTarget(name); }
LogTargetInterface* ApiStdOutTarget() { return StdOutTarget(); }
LogTargetInterface* ApiStdErrTarget() { return StdErrTarget(); }
LogTargetInterface* ApiDebuggerTarget() { return DebuggerTarget(); }
uint64_t ApiGroupMaskFor(uint64_t* out, const char* name) {
  const uint64_t mask = GroupMaskFor(name);
  if (out != nullptr) *out = mask;
  return mask;
}
size_t ApiGroupNames(char* out, size_t size, uint64_t mask) { return GroupNames(out, size, mask); }
size_t ApiFormatLogLine(char* out, size_t size, const char* pattern, const LogEntry* entry) {
  static const LogEntry kNoEntry{};
  return FormatLogLine(out, size, pattern, entry != nullptr ? *entry : kNoEntry);
}
const char* ApiLevelName(int32_t level) { return LevelName(level); }
const char* ApiExecutableName() { return ExecutableName(); }
void ApiLocalTime(LogEntry* out) { LocalTime(out); }
size_t ApiFormatTimestamp(char* out, size_t size, const LogEntry* time) {
  return time != nullptr ? FormatTimestamp(out, size, *time) : 0;
}
size_t ApiFormatFileTimestamp(char* out, size_t size, const LogEntry* time) {
  return time != nullptr ? FormatFileTimestamp(out, size, *time) : 0;
}
void ApiLogMessageV(int32_t level, uint64_t groups, const char* format, va_list arguments) {
  LogMessageLevelV(level, groups, format, arguments);
}

constexpr LogApi kLogApi = {
    ApiVersion,
    ApiAddRef,
    ApiRelease,
    ApiSetMinimumLevel,
    ApiGetMinimumLevel,
    ApiSetMutedGroups,
    ApiGetMutedGroups,
    ApiPause,
    ApiResume,
    ApiNothing,
    ApiNothing,
    ApiRegisterTarget,
    ApiUnregisterTarget,
    ApiFindTarget,
    ApiStdOutTarget,
    ApiStdErrTarget,
    ApiDebuggerTarget,
    ApiGroupMaskFor,
    ApiGroupNames,
    ApiFormatLogLine,
    ApiLevelName,
    ApiExecutableName,
    ApiLocalTime,
    ApiFormatTimestamp,
    ApiFormatFileTimestamp,
    ApiLogMessageV,
};

}  // namespace

void LogMessageV(LogLevel level, uint64_t groups, const char* format, va_list arguments) noexcept {
  LogMessageLevelV(static_cast<int32_t>(level), groups, format, arguments);
}

void LogMessage(LogLevel level, uint64_t groups, const char* format, ...) noexcept {
  va_list arguments;
  va_start(arguments, format);
  LogMessageLevelV(static_cast<int32_t>(level), groups, format, arguments);
  va_end(arguments);
}

void LogAddRef() noexcept { LogManager::AddRef(); }
void LogRelease() noexcept { LogManager::Release(); }

void SetMinimumLevel(int32_t level) noexcept {
  if (LogManager* manager = LogManager::Acquire()) manager->SetMinimumLevel(level);
}
int32_t GetMinimumLevel() noexcept {
  LogManager* manager = LogManager::Acquire();
  return manager != nullptr ? manager->GetMinimumLevel() : 1;
}
void SetMutedGroups(uint64_t mask) noexcept {
  if (LogManager* manager = LogManager::Acquire()) manager->SetMutedGroups(mask);
}
uint64_t GetMutedGroups() noexcept {
  LogManager* manager = LogManager::Acquire();
  return manager != nullptr ? manager->GetMutedGroups() : kLogGroupXtr;
}
void PauseLogging() noexcept {
  if (LogManager* manager = LogManager::Acquire()) manager->SetPaused(true);
}
void ResumeLogging() noexcept {
  if (LogManager* manager = LogManager::Acquire()) manager->SetPaused(false);
}

void RegisterTarget(LogTargetInterface* target) noexcept {
  if (LogManager* manager = LogManager::Acquire()) manager->Register(target);
}
void UnregisterTarget(LogTargetInterface* target) noexcept {
  if (LogManager* manager = LogManager::Acquire()) manager->Unregister(target);
}
LogTargetInterface* FindTarget(const char* name) noexcept {
  LogManager* manager = LogManager::Acquire();
  return manager != nullptr ? manager->Find(name) : nullptr;
}

LogTargetInterface* StdOutTarget() noexcept {
  return BuiltIn([](LogManager& manager) -> LogTarget& { return manager.stdOut(); });
}
LogTargetInterface* StdErrTarget() noexcept {
  return BuiltIn([](LogManager& manager) -> LogTarget& { return manager.stdErr(); });
}
LogTargetInterface* DebuggerTarget() noexcept {
  return BuiltIn([](LogManager& manager) -> LogTarget& { return manager.debugger(); });
}

const char* ExecutableName() noexcept {
  LogManager* manager = LogManager::Acquire();
  return manager != nullptr ? manager->executableName() : "<unknown>";
}

const LogApi* GetLogApi() noexcept { return &kLogApi; }

}  // namespace Zarn
