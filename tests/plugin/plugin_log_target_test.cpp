// The plugin log target in process: what Initialize installs, what reaches
// the core's Log, and what the plugin's destruction takes with it.
#include "plugin/plugin_log_target.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/log.h"
#include "platform/debug_output.h"
#include "plugin/memory.h"
#include "plugin/plugin.h"

namespace Zarn {
namespace {

// A core whose Log records its calls; the connection's subscriptions are
// accepted, the other entries are never called.
struct RecordingCore {
  struct Call {
    int32_t level;
    std::string message;
    bool operator==(const Call& other) const {
      return level == other.level && message == other.message;
    }
  };
  HostApi api{};  // first: the table pointer is the core's address
  HostContext host{&api, 5};
  std::vector<Call> calls;
  size_t callCount = 0;
  bool isRecording = true;

  RecordingCore() {
    api.Subscribe = [](HostApi*, const char*, uint32_t, HostEventCallback, void*, uint32_t) -> uint32_t { return 0; };
    api.Unsubscribe = [](HostApi*, const char*, uint32_t) -> uint32_t { return 0; };
    api.Log = [](HostApi* self, int32_t level, const char* message) {
      RecordingCore& core = *reinterpret_cast<RecordingCore*>(self);
      ++core.callCount;
      if (core.isRecording) core.calls.push_back({level, message});
    };
  }
};

struct LoadedPlugin {
  LoadedPlugin() {
    PluginLoadRecord record{18, 0, 0, nullptr, nullptr, nullptr, nullptr};
    loaded = plugin.Load(&record, "arx-vyk-toxicity");
  }
  Plugin plugin;
  bool loaded = false;
};

// Starts each test without a manager left over from an earlier one.
class PluginLogTargetTest : public testing::Test {
 protected:
  void SetUp() override {
    LogAddRef();
    LogRelease();
  }
};

TEST_F(PluginLogTargetTest, InitializeForwardsBareMessagesToTheCore) {
  RecordingCore core;
  LoadedPlugin loaded;
  ASSERT_TRUE(loaded.loaded);
  ASSERT_TRUE(loaded.plugin.Initialize(&core.host));

  struct Case {
    const char* label;
    LogLevel level;
    uint64_t groups;
    bool forwarded;
  };
  const Case cases[] = {
      {"OKAY in DBG", LogLevel::Okay, kLogGroupDbg, true},
      {"XTR is muted", LogLevel::Okay, kLogGroupXtr, false},
      {"XTR beside DBG is muted", LogLevel::Error, kLogGroupDbg | kLogGroupXtr, false},
      {"GEN reaches the core too", LogLevel::Warn, kLogGroupGen, true},
      {"no groups", LogLevel::Always, 0, true},
      {"ERROR", LogLevel::Error, kLogGroupDbg, true},
  };
  std::string debuggerText;
  Platform::SetDebuggerSink(
      [](const char* text, void* user) { *static_cast<std::string*>(user) += text; },
      &debuggerText);
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  for (const Case& c : cases) {
    core.calls.clear();
    LogMessage(c.level, c.groups, "%s #M %d", c.label, 1);
    if (c.forwarded) {
      EXPECT_EQ(core.calls, (std::vector<RecordingCore::Call>{
                                {static_cast<int32_t>(c.level), std::string(c.label) + " #M 1"}}))
          << c.label;
    } else {
      EXPECT_TRUE(core.calls.empty()) << c.label;
    }
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "nothing on the standard error stream";
  Platform::SetDebuggerSink(nullptr, nullptr);
  EXPECT_EQ(debuggerText, "") << "nothing on the debugger output";

  for (LogTargetInterface* builtIn : {StdOutTarget(), StdErrTarget(), DebuggerTarget()}) {
    EXPECT_EQ(builtIn->IsAttached(builtIn), 0) << builtIn->GetName(builtIn);
  }
  EXPECT_EQ(GetMinimumLevel(), 0);
  EXPECT_EQ(GetMutedGroups(), kLogGroupXtr);
  LogTargetInterface* installed = FindTarget("PluginLogTarget");
  ASSERT_NE(installed, nullptr);
  EXPECT_EQ(installed, loaded.plugin.logTarget()->Interface());
  EXPECT_EQ(installed->GetLevel(installed), 0);
  EXPECT_EQ(installed->GetEnabledGroups(installed), 0u);
  EXPECT_EQ(installed->GetMutedGroups(installed), 0u);
  EXPECT_STREQ(installed->GetFormat(installed, nullptr), "#D| #L| #G| #M");
}

TEST_F(PluginLogTargetTest, SecondInstallChangesNothing) {
  RecordingCore core;
  LoadedPlugin loaded;
  ASSERT_TRUE(loaded.plugin.Initialize(&core.host));
  LogTarget* first = loaded.plugin.logTarget();
  SetMinimumLevel(2);
  InstallPluginLogTarget(loaded.plugin);
  EXPECT_EQ(loaded.plugin.logTarget(), first);
  EXPECT_EQ(GetMinimumLevel(), 2) << "the manager's settings are left alone";
  SetMinimumLevel(0);
  LogMessage(LogLevel::Okay, kLogGroupDbg, "once");
  EXPECT_EQ(core.calls, (std::vector<RecordingCore::Call>{{0, "once"}})) << "one target, one call";
}

// A target of that name from elsewhere (another plugin in the process) is
// kept, and this plugin installs none.
TEST_F(PluginLogTargetTest, ExistingTargetOfThatNameIsKept) {
  RecordingCore other;
  LogReference keepManager;
  PluginLogTarget foreign(&other.api);
  foreign.Configure(LogTargetSettings{});
  RecordingCore core;
  LoadedPlugin loaded;
  ASSERT_TRUE(loaded.plugin.Initialize(&core.host));
  EXPECT_EQ(loaded.plugin.logTarget(), nullptr);
  EXPECT_EQ(StdErrTarget()->IsAttached(StdErrTarget()), 1) << "built-in targets untouched";
  EXPECT_EQ(GetMinimumLevel(), 1);
  LogMessage(LogLevel::Warn, kLogGroupDbg | kLogGroupGen, "to the other");
  EXPECT_TRUE(core.calls.empty());
  EXPECT_EQ(other.calls, (std::vector<RecordingCore::Call>{{1, "to the other"}}));
}

TEST_F(PluginLogTargetTest, DestroyingThePluginDetachesItsTarget) {
  RecordingCore core;
  LogReference keepManager;  // the manager outlives the plugin
  {
    LoadedPlugin loaded;
    ASSERT_TRUE(loaded.plugin.Initialize(&core.host));
  }
  EXPECT_EQ(FindTarget("PluginLogTarget"), nullptr);
  LogMessage(LogLevel::Always, kLogGroupDbg, "after the plugin");
  EXPECT_TRUE(core.calls.empty());
}

TEST_F(PluginLogTargetTest, ForwardingAllocatesNothing) {
  RecordingCore core;
  core.isRecording = false;
  LoadedPlugin loaded;
  ASSERT_TRUE(loaded.plugin.Initialize(&core.host));
  LogMessage(LogLevel::Okay, kLogGroupDbg, "warm-up");
  const uint64_t before = Memory::ReadCounters().allocations;
  for (int index = 0; index < 1000; ++index) {
    LogMessage(LogLevel::Okay, kLogGroupDbg, "message %d", index);
    LogMessage(LogLevel::Okay, kLogGroupXtr, "muted %d", index);
  }
  EXPECT_EQ(Memory::ReadCounters().allocations, before);
  EXPECT_EQ(core.callCount, 1001u);
}

TEST_F(PluginLogTargetTest, CoreWithoutLogEntryReceivesNothing) {
  HostApi api{};
  PluginLogTarget target(&api);
  LogEntry entry{};
  entry.message = "dropped";
  EXPECT_TRUE(target.Write(entry));
  PluginLogTarget detachedFromAnyCore(nullptr);
  EXPECT_TRUE(detachedFromAnyCore.Write(entry));
  EXPECT_STREQ(target.GetName(), "PluginLogTarget");
}

}  // namespace
}  // namespace Zarn
