// The target base class and the twelve functions of its interface table.
#include "log/log_target.h"

#include "log/log_manager.h"

namespace Zarn {
namespace {

LogTarget& Owner(LogTargetInterface* self) { return *LogTarget::FromInterface(self); }

int32_t InterfaceVersion(LogTargetInterface*) { return 1; }
void InterfaceSetLevel(LogTargetInterface* self, int32_t level) { Owner(self).SetLevel(level); }
int32_t InterfaceGetLevel(LogTargetInterface* self) { return Owner(self).GetLevel(); }
void InterfaceSetGroups(LogTargetInterface* self, uint64_t enabled, uint64_t muted) {
  Owner(self).SetGroups(enabled, muted);
}
uint64_t InterfaceGetEnabledGroups(LogTargetInterface* self) {
  return Owner(self).GetEnabledGroups();
}
uint64_t InterfaceGetMutedGroups(LogTargetInterface* self) { return Owner(self).GetMutedGroups(); }
const char* InterfaceGetName(LogTargetInterface* self) { return Owner(self).GetName(); }
const char* InterfaceGetFormat(LogTargetInterface* self, const LogEntry* entry) {
  static const LogEntry kNoEntry{};
  return Owner(self).GetFormat(entry != nullptr ? *entry : kNoEntry);
}
void InterfaceAttach(LogTargetInterface* self) { Owner(self).Attach(); }
void InterfaceDetach(LogTargetInterface* self) { Owner(self).Detach(); }
uint8_t InterfaceIsAttached(LogTargetInterface* self) { return Owner(self).IsAttached() ? 1 : 0; }
uint8_t InterfaceWrite(LogTargetInterface* self, const LogEntry* entry) {
  if (entry == nullptr) return 0;
  return Owner(self).Write(*entry) ? 1 : 0;
}

constexpr LogTargetInterface kInterface = {
    InterfaceVersion,          InterfaceSetLevel,       InterfaceGetLevel,   InterfaceSetGroups,
    InterfaceGetEnabledGroups, InterfaceGetMutedGroups, InterfaceGetName,    InterfaceGetFormat,
    InterfaceAttach,           InterfaceDetach,         InterfaceIsAttached, InterfaceWrite,
};

}  // namespace

LogTarget::LogTarget() : handle_{kInterface, this}, pattern_("#D| #L| #G| #M") {}

LogTarget::~LogTarget() {
  Detach();
  // A listing made by RegisterTarget does not set the flag; it must not
  // outlive the target either.
  if (LogManager* manager = LogManager::Existing()) manager->Unregister(Interface());
}

LogTarget* LogTarget::FromInterface(LogTargetInterface* target) noexcept {
  return reinterpret_cast<Handle*>(target)->owner;
}

void LogTarget::Detach() noexcept {
  if (LogManager* manager = LogManager::Existing()) {
    manager->Detach(*this);
  } else {
    attached_.store(false, std::memory_order_release);
  }
}

const char* LogTarget::GetName() const noexcept { return "LogTarget"; }

const char* LogTarget::GetFormat(const LogEntry&) const noexcept { return pattern_.c_str(); }

void LogTarget::Attach() noexcept {
  if (LogManager* manager = LogManager::Acquire()) manager->Attach(*this);
}

void LogTarget::SetLevel(int32_t level) noexcept {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  level_.store(level, std::memory_order_relaxed);
}

void LogTarget::SetGroups(uint64_t enabled, uint64_t muted) noexcept {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  mutedGroups_.store(muted, std::memory_order_relaxed);
  enabledGroups_.store(enabled & ~muted, std::memory_order_relaxed);
}

void LogTarget::InitializeSettings(const LogTargetSettings& settings) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  level_.store(settings.level, std::memory_order_relaxed);
  mutedGroups_.store(settings.mutedGroups, std::memory_order_relaxed);
  enabledGroups_.store(settings.enabledGroups & ~settings.mutedGroups, std::memory_order_relaxed);
  pattern_ = settings.pattern;
}

void LogTarget::Configure(const LogTargetSettings& settings) noexcept {
  Detach();
  {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    level_.store(settings.level, std::memory_order_relaxed);
    enabledGroups_.store(settings.enabledGroups, std::memory_order_relaxed);
    mutedGroups_.store(settings.mutedGroups, std::memory_order_relaxed);
    try {
      pattern_ = settings.pattern;
    } catch (...) {
      // Out of memory: the previous pattern stays.
    }
  }
  Attach();
  SetLevel(settings.level);
  SetGroups(settings.enabledGroups, settings.mutedGroups);
}

}  // namespace Zarn
