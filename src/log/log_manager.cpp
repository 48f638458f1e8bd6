// The log manager's life, its lists and the dispatch of one message.
#include "log/log_manager.h"

#include <algorithm>
#include <cstring>

#include "platform/process.h"

namespace Zarn {
namespace {

// Constant-initialized, so they work from any static constructor.
std::atomic<LogManager*> currentManager{nullptr};
std::atomic<int32_t> referenceCount{0};
std::mutex& LifeLock() {
  static std::mutex lock;
  return lock;
}

const char* FileNamePart(const char* path) {
  const char* name = path;
  for (const char* at = path; *at != '\0'; ++at) {
    if (*at == '\\' || *at == '/') name = at + 1;
  }
  return name;
}

}  // namespace

LogManager::LogManager() {
  executablePath_[0] = '\0';
  if (Platform::ExecutablePath(executablePath_, sizeof executablePath_) > 0) {
    executableName_ = FileNamePart(executablePath_);
  }
}

LogManager::~LogManager() = default;

LogManager* LogManager::Existing() noexcept {
  return currentManager.load(std::memory_order_acquire);
}

LogManager* LogManager::Acquire() noexcept {
  if (LogManager* manager = currentManager.load(std::memory_order_acquire)) return manager;
  std::lock_guard<std::mutex> hold(LifeLock());
  if (LogManager* manager = currentManager.load(std::memory_order_acquire)) return manager;
  LogManager* manager = nullptr;
  try {
    manager = new LogManager();
  } catch (...) {
    return nullptr;  // out of memory: logging does nothing until it can build one
  }
  // Attached before anyone can see the manager, so no message misses them.
  manager->Attach(manager->stdErr_);
  manager->Attach(manager->debugger_);
  currentManager.store(manager, std::memory_order_release);
  return manager;
}

void LogManager::AddRef() noexcept {
  referenceCount.fetch_add(1, std::memory_order_acq_rel);
  Acquire();
}

void LogManager::Release() noexcept {
  std::lock_guard<std::mutex> hold(LifeLock());
  int32_t count = referenceCount.load(std::memory_order_acquire);
  if (count <= 0) return;
  if (referenceCount.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  LogManager* manager = currentManager.load(std::memory_order_acquire);
  if (manager == nullptr) return;
  // The targets' Detach finds the manager through currentManager, so it is
  // cleared only once the list is empty.
  manager->DetachAll();
  currentManager.store(nullptr, std::memory_order_release);
  delete manager;
}

void LogManager::DetachAll() noexcept {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  while (!targets_.empty()) {
    LogTargetInterface* last = targets_.back();
    last->Detach(last);
    // A target listed by RegisterTarget is not attached and stays listed.
    if (!targets_.empty() && targets_.back() == last) targets_.pop_back();
  }
}

void LogManager::Dispatch(const LogEntry& entry) noexcept {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  const size_t count = targets_.size();
  // A target may detach itself (or others) while writing: the bound is
  // checked again on every step.
  for (size_t index = 0; index < count && index < targets_.size(); ++index) {
    LogTargetInterface* target = targets_[index];
    if (entry.level < target->GetLevel(target)) continue;
    if (entry.groups != 0) {
      if ((entry.groups & target->GetMutedGroups(target)) != 0) continue;
      const uint64_t enabled = target->GetEnabledGroups(target);
      if (enabled != 0 && (enabled & entry.groups) == 0) continue;
    }
    target->Write(target, &entry);
  }
}

void LogManager::SetMinimumLevel(int32_t level) noexcept {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  minimumLevel_.store(level, std::memory_order_relaxed);
}

int32_t LogManager::GetMinimumLevel() noexcept {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return minimumLevel_.load(std::memory_order_relaxed);
}

void LogManager::SetMutedGroups(uint64_t mask) noexcept {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  mutedGroups_.store(mask, std::memory_order_relaxed);
}

uint64_t LogManager::GetMutedGroups() noexcept {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return mutedGroups_.load(std::memory_order_relaxed);
}

void LogManager::SetPaused(bool isPaused) noexcept {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  paused_.store(isPaused, std::memory_order_relaxed);
}

void LogManager::Register(LogTargetInterface* target) noexcept {
  if (target == nullptr) return;
  std::lock_guard<std::recursive_mutex> hold(lock_);
  try {
    targets_.push_back(target);
  } catch (...) {
    // Out of memory: the target stays unlisted.
  }
}

void LogManager::Unregister(LogTargetInterface* target) noexcept {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  targets_.erase(std::remove(targets_.begin(), targets_.end(), target), targets_.end());
}

LogTargetInterface* LogManager::Find(const char* name) noexcept {
  if (name == nullptr) return nullptr;
  std::lock_guard<std::recursive_mutex> hold(lock_);
  for (LogTargetInterface* target : targets_) {
    const char* targetName = target->GetName(target);
    if (targetName != nullptr && std::strcmp(targetName, name) == 0) return target;
  }
  return nullptr;
}

void LogManager::Attach(LogTarget& target) noexcept {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (target.attached_.load(std::memory_order_acquire)) return;
  try {
    targets_.push_back(target.Interface());
  } catch (...) {
    return;  // out of memory: stays detached
  }
  target.attached_.store(true, std::memory_order_release);
}

void LogManager::Detach(LogTarget& target) noexcept {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (!target.attached_.load(std::memory_order_acquire)) return;
  target.attached_.store(false, std::memory_order_release);
  Unregister(target.Interface());
}

}  // namespace Zarn
