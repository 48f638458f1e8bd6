// Entry functions of the plugin's entry table.
#include "plugin/plugin_loader.h"

namespace Zarn {

void DestroyPlugin(Plugin* plugin) noexcept {
  void* storage = dynamic_cast<void*>(plugin);
  plugin->~Plugin();
  Memory::Free(storage);
}

uint8_t PLUGIN_CALL EntryInitialize(void* context, HostContext* host) noexcept {
  try {
    return static_cast<Plugin*>(context)->Initialize(host) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

void PLUGIN_CALL EntryShutdown(void* context) noexcept {
  Plugin* plugin = static_cast<Plugin*>(context);
  plugin->SetShuttingDown();
  try {
    plugin->Shutdown();
  } catch (...) {
    // The object goes regardless: the core will not call it again.
  }
  DestroyPlugin(plugin);
  static_cast<void>(UnloadTraceProviders());  // nothing left to report it to
}

}  // namespace Zarn
