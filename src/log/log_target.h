// Log targets: the destinations of log lines. Each target owns a table of
// twelve plain functions (LogTargetInterface) whose address is its handle
// for the log manager, so targets whose classes we do not know can be
// listed and written to as well.
//
// Locks: the manager's lock (recursive) guards its list and every attached
// flag; each target's own lock (recursive) guards its settings and its
// output call. The order is always manager, then target: a target never
// takes the manager's lock while holding its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "log/log.h"

namespace Zarn {

// The twelve functions of a target, in this fixed order. Each takes the
// interface's own address first and acts on the target that owns it.
struct LogTargetInterface {
  int32_t (*Version)(LogTargetInterface* self);                                   // 0: returns 1
  void (*SetLevel)(LogTargetInterface* self, int32_t level);                      // 1
  int32_t (*GetLevel)(LogTargetInterface* self);                                  // 2
  void (*SetGroups)(LogTargetInterface* self, uint64_t enabled, uint64_t muted);  // 3
  uint64_t (*GetEnabledGroups)(LogTargetInterface* self);                         // 4
  uint64_t (*GetMutedGroups)(LogTargetInterface* self);                           // 5
  const char* (*GetName)(LogTargetInterface* self);                               // 6
  const char* (*GetFormat)(LogTargetInterface* self, const LogEntry* entry);      // 7
  void (*Attach)(LogTargetInterface* self);                                       // 8
  void (*Detach)(LogTargetInterface* self);                                       // 9
  uint8_t (*IsAttached)(LogTargetInterface* self);                                // 10: 1 or 0
  uint8_t (*Write)(LogTargetInterface* self, const LogEntry* entry);              // 11: 1 written
};

// The argument of LogTarget::Configure.
struct LogTargetSettings {
  int32_t level = 1;
  uint64_t enabledGroups = 0;  // 0: no restriction
  uint64_t mutedGroups = 0;
  std::string pattern = "#D| #L| #G| #M";
};

// The base of every target. A target receives an entry when the entry's
// level is at least its level and, for an entry with groups, when the
// groups share no bit with its muted groups and, if it enables any, share a
// bit with its enabled groups.
//
// Lifetime: a target is written to only while it is listed. Derived classes
// detach in their own destructor, before their members go; the base
// destructor also removes every listing of the interface, so a destroyed
// target is never left in the manager's list.
class LogTarget {
 public:
  LogTarget();
  LogTarget(const LogTarget&) = delete;
  LogTarget& operator=(const LogTarget&) = delete;
  virtual ~LogTarget();

  // If attached: clears the flag and removes the interface from the
  // manager's list (every occurrence). Never creates the manager.
  virtual void Detach() noexcept;
  // The class's name text; static.
  virtual const char* GetName() const noexcept;
  // The line pattern; valid until the next Configure. The entry is not
  // consulted.
  virtual const char* GetFormat(const LogEntry& entry) const noexcept;
  // Writes one line for entry; returns true. Called with the manager's lock
  // held.
  virtual bool Write(const LogEntry& entry) noexcept = 0;

  // If not attached: sets the flag and appends the interface to the
  // manager's list (creating the manager if needed). When the list cannot
  // grow (out of memory) the target stays detached.
  void Attach() noexcept;
  bool IsAttached() const noexcept { return attached_.load(std::memory_order_acquire); }

  void SetLevel(int32_t level) noexcept;
  int32_t GetLevel() const noexcept { return level_.load(std::memory_order_relaxed); }
  // Stores muted, and enabled without the muted bits.
  void SetGroups(uint64_t enabled, uint64_t muted) noexcept;
  uint64_t GetEnabledGroups() const noexcept {
    return enabledGroups_.load(std::memory_order_relaxed);
  }
  uint64_t GetMutedGroups() const noexcept { return mutedGroups_.load(std::memory_order_relaxed); }

  // Detaches, stores the settings, attaches again (whether or not the
  // target was attached before) and applies level and masks as SetLevel and
  // SetGroups do. If the pattern cannot be copied (out of memory) the
  // previous one stays.
  void Configure(const LogTargetSettings& settings) noexcept;

  // The target's handle for the manager; valid while the target lives.
  LogTargetInterface* Interface() noexcept { return &handle_.table; }
  // The target that owns an interface built by this class.
  static LogTarget* FromInterface(LogTargetInterface* target) noexcept;

 protected:
  // Guards the settings and the output call of derived classes.
  std::recursive_mutex& TargetLock() const noexcept { return lock_; }
  // Sets level, masks and pattern directly, without attaching: for
  // constructors of built-in targets.
  void InitializeSettings(const LogTargetSettings& settings);

 private:
  friend class LogManager;

  // The interface first, so its address converts back to the handle.
  struct Handle {
    LogTargetInterface table;
    LogTarget* owner;
  };

  Handle handle_;
  std::atomic<bool> attached_{false};  // changed under the manager's lock
  mutable std::recursive_mutex lock_;
  std::atomic<int32_t> level_{1};
  std::atomic<uint64_t> enabledGroups_{0};
  std::atomic<uint64_t> mutedGroups_{0};
  std::string pattern_;
};

}  // namespace Zarn
