// The process-wide log manager: filters messages, keeps the list of target
// interfaces and owns the three built-in targets. Code outside the logging
// facility uses the functions of log.h; this class is their implementation.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "log/console_log_targets.h"
#include "log/log.h"

namespace Zarn {

class LogManager {
 public:
  LogManager(const LogManager&) = delete;
  LogManager& operator=(const LogManager&) = delete;

  // The manager, created (once, even under concurrent first use) if there
  // is none; null only when it cannot be built.
  static LogManager* Acquire() noexcept;
  // The manager if it exists; never creates one.
  static LogManager* Existing() noexcept;
  static void AddRef() noexcept;
  static void Release() noexcept;

  // True when a message of level and groups is dropped before formatting.
  bool Rejects(int32_t level, uint64_t groups) const noexcept {
    return paused_.load(std::memory_order_relaxed) ||
           level < minimumLevel_.load(std::memory_order_relaxed) ||
           (groups & mutedGroups_.load(std::memory_order_relaxed)) != 0;
  }
  // Hands entry to every listed target that accepts it, in list order,
  // holding the manager's lock throughout.
  void Dispatch(const LogEntry& entry) noexcept;

  void SetMinimumLevel(int32_t level) noexcept;
  int32_t GetMinimumLevel() noexcept;
  void SetMutedGroups(uint64_t mask) noexcept;
  uint64_t GetMutedGroups() noexcept;
  void SetPaused(bool isPaused) noexcept;

  void Register(LogTargetInterface* target) noexcept;
  void Unregister(LogTargetInterface* target) noexcept;
  LogTargetInterface* Find(const char* name) noexcept;
  // Attach and Detach of LogTarget: the flag and the listing change together.
  void Attach(LogTarget& target) noexcept;
  void Detach(LogTarget& target) noexcept;

  StdOutLogTarget& stdOut() noexcept { return stdOut_; }
  StdErrLogTarget& stdErr() noexcept { return stdErr_; }
  DebuggerConsoleLogTarget& debugger() noexcept { return debugger_; }
  const char* executableName() const noexcept { return executableName_; }

 private:
  LogManager();
  ~LogManager();
  // Detaches every listed target through its interface, last first.
  void DetachAll() noexcept;

  std::recursive_mutex lock_;
  std::vector<LogTargetInterface*> targets_;  // in order of attachment
  std::atomic<bool> paused_{false};
  std::atomic<int32_t> minimumLevel_{1};
  std::atomic<uint64_t> mutedGroups_{kLogGroupXtr};
  char executablePath_[1024];
  const char* executableName_ = "<unknown>";
  // Declared last: destroyed first, while the lock and list still exist.
  StdErrLogTarget stdErr_;
  StdOutLogTarget stdOut_;
  DebuggerConsoleLogTarget debugger_;
};

}  // namespace Zarn
