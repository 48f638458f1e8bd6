// The export's work: build the feature's plugin object in tracked memory, run
// the load step, and the entry functions the core calls afterwards.
//
// On any failure (no memory, a constructor that throws, an incompatible core)
// everything built is freed and the load record is left exactly as the core
// sent it; nothing escapes to the core as an exception.
//
// A completed load registers the trace providers (log/trace_providers.h) and
// announces the loading thread; Shutdown unregisters them once the plugin
// object is gone.
#pragma once

#include <cstring>
#include <new>

#include "log/trace_providers.h"
#include "plugin/abi.h"
#include "plugin/memory.h"
#include "plugin/plugin.h"

namespace Zarn {

// Destroys a plugin object built by LoadPluginObject and frees its storage.
void DestroyPlugin(Plugin* plugin) noexcept;

// Entry table functions. The context is the Plugin object.
uint8_t PLUGIN_CALL EntryInitialize(void* context, HostContext* host) noexcept;
void PLUGIN_CALL EntryShutdown(void* context) noexcept;

// The whole export for a feature class.
template <typename FeaturePlugin>
void LoadPluginObject(PluginLoadRecord* record, const char* shortName) noexcept {
  void* storage = Memory::Allocate(sizeof(FeaturePlugin));
  if (storage == nullptr) return;
  std::memset(storage, 0, sizeof(FeaturePlugin));
  FeaturePlugin* plugin = nullptr;
  try {
    plugin = new (storage) FeaturePlugin();
  } catch (...) {
    Memory::Free(storage);
    return;
  }
  bool loaded = false;
  try {
    loaded = plugin->Load(record, shortName);
  } catch (...) {
    loaded = false;
  }
  if (!loaded) {
    DestroyPlugin(plugin);
    return;
  }
  // Tracing is diagnostics: a provider the system refuses does not stop the load.
  static_cast<void>(LoadTraceProviders());
}

}  // namespace Zarn
