// The library's only export.
#include "plugin/abi.h"
#include "plugin/plugin_loader.h"
#include "toxicity/toxicity_plugin.h"

extern "C" PLUGIN_EXPORT void PLUGIN_CALL load_arx_vyk_toxicity(Zarn::PluginLoadRecord* record) noexcept {
  Zarn::LoadPluginObject<Zarn::ToxicityPlugin>(record, Zarn::kToxicityShortName);
}
