// Lifecycle of the plugin core.
#include "plugin/plugin_core.h"

namespace Zarn {

PluginCore::PluginCore() = default;
PluginCore::~PluginCore() = default;

void PluginCore::Connect(uint32_t pluginHandle, std::string userAgent) {
  pluginHandle_ = pluginHandle;
  userAgent_ = std::move(userAgent);
}

void PluginCore::Shutdown() {
  for (const auto& entry : eventCallbacks_) Unsubscribe(entry.first.c_str(), pluginHandle_);
  eventCallbacks_.clear();
  subscriptionCounts_.clear();
}

}  // namespace Zarn
