// The load step registers the plugin-manager types beside the built-ins.
#include "plugin/plugin_manager_types.h"

#include <gtest/gtest.h>

#include "plugin/plugin.h"
#include "remoting/remoting_registry.h"

namespace Zarn {
namespace {

class CountingPlugin : public Plugin {
 public:
  void RegisterApi() override {
    // The plugin-manager types are there before the feature registers.
    typesAtRegisterApi = registry().Types().size();
  }
  size_t typesAtRegisterApi = 0;
};

TEST(PluginManagerTypes, LoadedPluginHoldsThe22TypesAnd6Events) {
  PluginLoadRecord record{18, 0, 0, nullptr, nullptr, nullptr, nullptr};
  CountingPlugin plugin;
  ASSERT_TRUE(plugin.Load(&record, "arx-vyk-toxicity"));
  EXPECT_EQ(plugin.typesAtRegisterApi, 22u);
  EXPECT_EQ(plugin.registry().Types().size(), 22u);
  EXPECT_EQ(plugin.registry().Events().size(), 6u);
  for (const auto& entry : plugin.registry().Types()) {
    const BindingType& type = *entry.second;
    const bool pluginManager = type.name.rfind("Plugin", 0) == 0;
    ASSERT_FALSE(type.tags.empty()) << type.name;
    EXPECT_EQ(type.tags.front(), pluginManager ? "zclient" : "$builtin") << type.name;
  }
}

}  // namespace
}  // namespace Zarn
