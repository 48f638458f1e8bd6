// The plugin base in process: names, versions, the load step and Initialize.
#include "plugin/plugin.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/debug_output.h"
#include "plugin/plugin_loader.h"
#include "plugin/plugin_version.h"

namespace Zarn {
namespace {

class DebuggerCapture {
 public:
  DebuggerCapture() {
    Platform::SetDebuggerSink(
        [](const char* text, void* user) { static_cast<DebuggerCapture*>(user)->text_ += text; }, this);
  }
  ~DebuggerCapture() { Platform::SetDebuggerSink(nullptr, nullptr); }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

size_t CountLines(const std::string& text) {
  size_t lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

TEST(GetFullNameFromShortNameAndType, PrefixesByType) {
  struct Case {
    const char* type;
    const char* expected;
    bool logged;
  };
  const Case cases[] = {
      {"backend", "qmx-be-arx-vyk-toxicity", false},
      {"frontend", "qmx-fe-arx-vyk-toxicity", false},
      {"Backend", "qmx-xx-arx-vyk-toxicity", true},
      {"", "qmx-xx-arx-vyk-toxicity", true},
  };
  for (const Case& c : cases) {
    DebuggerCapture capture;
    EXPECT_EQ(GetFullNameFromShortNameAndType("arx-vyk-toxicity", {c.type, ""}), c.expected) << c.type;
    if (c.logged) {
      const std::string message = std::string("            Plugin Manager| GetFullNameFromShortNameAndType("
                                              "\"arx-vyk-toxicity\", \"") +
                                  c.type + ":\") called with an unknown type";
      EXPECT_NE(capture.text().find(message), std::string::npos) << capture.text();
      EXPECT_EQ(CountLines(capture.text()), 1u) << capture.text();
    } else {
      EXPECT_EQ(capture.text(), "") << c.type;
    }
  }
}

PluginApiVersion V(uint32_t major, uint32_t minor, uint32_t patch) {
  PluginApiVersion version;
  version.major = major;
  version.minor = minor;
  version.patch = patch;
  return version;
}

TEST(PluginApiVersion, Compatibility) {
  struct Case {
    PluginApiVersion plugin, core;
    bool compatible;
  };
  const Case cases[] = {
      {V(18, 0, 0), V(18, 0, 0), true},   {V(18, 0, 0), V(18, 0, 5), true},
      {V(18, 0, 0), V(18, 2, 0), true},   {V(18, 0, 0), V(18, 3, 0), true},
      {V(18, 1, 0), V(18, 0, 0), false},  {V(18, 0, 0), V(19, 0, 0), false},
      {V(18, 0, 0), V(17, 9, 9), false},  {V(18, 0, 0), V(17, 0, 0), false},
      {V(18, 0, 3), V(18, 0, 2), false},  {V(18, 0, 3), V(18, 1, 0), true},
      {V(18, 0, 0), V(0xFFFFFFFF, 0, 0), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsCompatible(c.plugin, c.core), c.compatible)
        << VersionText(c.plugin) << " on core " << VersionText(c.core);
  }
}

TEST(PluginApiVersion, TextForms) {
  EXPECT_EQ(VersionText(PluginVersion()), "18.0.0");
  EXPECT_EQ(VersionText({4294967295u, 4294967295u, 4294967295u, {}, {}}), "4294967295.4294967295.4294967295");
  EXPECT_EQ(VersionText({1, 2, 3, "rc.1", ""}), "1.2.3-rc.1");
  EXPECT_EQ(VersionText({1, 2, 3, "", "b7"}), "1.2.3+b7");
  EXPECT_EQ(VersionText({1, 2, 3, "rc.1", "b7"}), "1.2.3-rc.1+b7");
  EXPECT_EQ(Format("[%1] [%1$10s]", PluginApiVersion{18, 4, 2, {}, {}}), "[18.4.2] [    18.4.2]");
  EXPECT_EQ(Format("%1", PluginApiVersion{1, 2, 3, "rc", "b"}), "1.2.3-rc+b");
}

// A feature class that records which hooks ran.
class ProbePlugin : public Plugin {
 public:
  void RegisterApi() override { ++registerCalls; }
  bool OnInitialized() override { return initializeResult; }
  int registerCalls = 0;
  bool initializeResult = true;
};

// A core table for Initialize, whose connection subscribes the service-proxy
// events; nothing else is called.
HostApi SubscribingApi() {
  HostApi api{};
  api.Subscribe = [](HostApi*, const char*, uint32_t, HostEventCallback, void*, uint32_t) -> uint32_t { return 0; };
  api.Unsubscribe = [](HostApi*, const char*, uint32_t) -> uint32_t { return 0; };
  return api;
}

struct LoadedProbe {
  explicit LoadedProbe(PluginLoadRecord core) : record(core) { loaded = plugin.Load(&record, "arx-vyk-toxicity"); }
  PluginLoadRecord record;
  ProbePlugin plugin;
  bool loaded = false;
};

TEST(Plugin, LoadStepFillsNamesTagsAndRecord) {
  LoadedProbe probe({18, 2, 7, nullptr, nullptr, nullptr, nullptr});
  ASSERT_TRUE(probe.loaded);
  const Plugin& plugin = probe.plugin;
  EXPECT_EQ(plugin.names().shortName, "arx-vyk-toxicity");
  EXPECT_EQ(plugin.names().fullName, "qmx-be-arx-vyk-toxicity");
  EXPECT_EQ(plugin.names().type.name, "backend");
  EXPECT_EQ(plugin.apiTags(), (std::vector<std::string>{"Plugins", "Plugin arx-vyk-toxicity"}));
  EXPECT_EQ(VersionText(plugin.coreVersion()), "18.2.7");
  EXPECT_EQ(probe.plugin.registerCalls, 1);
  EXPECT_EQ(probe.record.major, 18u);
  EXPECT_EQ(probe.record.minor, 0u);
  EXPECT_EQ(probe.record.patch, 0u);
  EXPECT_EQ(probe.record.context, &probe.plugin);
  EXPECT_EQ(probe.record.entryTable, &plugin.entryTable());
  EXPECT_EQ(probe.record.description, &plugin.descriptionBlock());
  EXPECT_STREQ(probe.record.shortName, "arx-vyk-toxicity");
}

TEST(Plugin, RefusedLoadRunsNoFeatureHookAndLogsTheReport) {
  DebuggerCapture capture;
  LoadedProbe probe({19, 0, 0, nullptr, nullptr, nullptr, nullptr});
  EXPECT_FALSE(probe.loaded);
  EXPECT_EQ(probe.plugin.registerCalls, 0);
  EXPECT_EQ(probe.record.major, 19u);
  EXPECT_EQ(probe.record.context, nullptr);
  EXPECT_NE(capture.text().find("Assertion failed!\n\nExpression: ALE-EECF0606"), std::string::npos);
  EXPECT_NE(capture.text().find("arx-vyk-toxicity which supports plugin API 18.0.0 is not compatible "
                                "with core's plugin API 19.0.0"),
            std::string::npos)
      << capture.text();
}

TEST(Plugin, InitializeBuildsTheUserAgentFromTheCoreVersion) {
  struct Case {
    PluginLoadRecord core;
    const char* userAgent;
  };
  const Case cases[] = {
      {{18, 0, 0, nullptr, nullptr, nullptr, nullptr}, "ZarnClient/18.0.0 (arx-vyk-toxicity)"},
      {{18, 4, 2, nullptr, nullptr, nullptr, nullptr}, "ZarnClient/18.4.2 (arx-vyk-toxicity)"},
  };
  for (const Case& c : cases) {
    LoadedProbe probe(c.core);
    ASSERT_TRUE(probe.loaded);
    HostApi api = SubscribingApi();
    HostContext host{&api, 77};
    EXPECT_TRUE(probe.plugin.Initialize(&host));
    EXPECT_EQ(probe.plugin.userAgent(), c.userAgent);
    EXPECT_EQ(probe.plugin.pluginHandle(), 77u);
    EXPECT_EQ(probe.plugin.hostContext(), &host);
  }
  LoadedProbe refusing({18, 0, 0, nullptr, nullptr, nullptr, nullptr});
  refusing.plugin.initializeResult = false;
  HostApi api = SubscribingApi();
  HostContext host{&api, 1};
  EXPECT_EQ(refusing.plugin.entryTable().Initialize(&refusing.plugin, &host), 0)
      << "Initialize returns OnInitialized's result";
}

}  // namespace
}  // namespace Zarn
