// The plugin's own log target: inside the core a plugin has no console, so
// its messages go to the core's log through HostApi entry 9 (Log).
#pragma once

#include "log/log_target.h"
#include "plugin/abi.h"

namespace Zarn {

class Plugin;

// Passes each entry it receives to the core as its level and bare message
// text: the line pattern is not applied. Takes no lock of its own; the log
// manager calls Write with its lock held.
class PluginLogTarget final : public LogTarget {
 public:
  // api is the core's table from the host context, borrowed: it must stay
  // valid while the target lives (the core keeps it until Shutdown returns).
  explicit PluginLogTarget(HostApi* api);
  ~PluginLogTarget() override;

  const char* GetName() const noexcept override;  // "PluginLogTarget"
  // Calls the core's Log, whose result is ignored; returns true. A table
  // without a Log entry receives nothing.
  bool Write(const LogEntry& entry) noexcept override;

 private:
  HostApi* api_;
};

// Called by Initialize, after the host context is stored. Unless a target
// named "PluginLogTarget" is already listed: detaches the built-in standard
// output, standard error and debugger targets, sets the manager's minimum
// level to 0 (OKAY) and its muted groups to "XTR", and attaches a new
// PluginLogTarget (level 0, no group restriction) that replaces the
// plugin's previous log target. If the target cannot be built (out of
// memory) the plugin goes on without it.
void InstallPluginLogTarget(Plugin& plugin) noexcept;

}  // namespace Zarn
