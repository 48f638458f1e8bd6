// The log target that forwards to the core, and its installation.
#include "plugin/plugin_log_target.h"

#include <memory>

#include "log/log.h"
#include "plugin/plugin.h"

namespace Zarn {

PluginLogTarget::PluginLogTarget(HostApi* api) : api_(api) {}

PluginLogTarget::~PluginLogTarget() { Detach(); }

const char* PluginLogTarget::GetName() const noexcept { return "PluginLogTarget"; }

bool PluginLogTarget::Write(const LogEntry& entry) noexcept {
  if (api_ != nullptr && api_->Log != nullptr) {
    api_->Log(api_, entry.level, entry.message != nullptr ? entry.message : "");
  }
  return true;
}

void InstallPluginLogTarget(Plugin& plugin) noexcept {
  if (FindTarget("PluginLogTarget") != nullptr) return;
  for (LogTargetInterface* builtIn : {StdOutTarget(), StdErrTarget(), DebuggerTarget()}) {
    if (builtIn != nullptr) builtIn->Detach(builtIn);
  }
  SetMinimumLevel(static_cast<int32_t>(LogLevel::Okay));
  SetMutedGroups(kLogGroupXtr);
  HostContext* host = plugin.hostContext();
  std::unique_ptr<PluginLogTarget> target;
  try {
    target = std::make_unique<PluginLogTarget>(host != nullptr ? host->api : nullptr);
  } catch (...) {
    return;  // out of memory: the plugin runs without a log target
  }
  PluginLogTarget& installed = *target;
  plugin.ReplaceLogTarget(std::move(target));
  LogTargetSettings settings;
  settings.level = GetMinimumLevel();
  installed.Configure(settings);
}

}  // namespace Zarn
