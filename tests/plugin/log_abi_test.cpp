// The real shared library's logging as the core sees it: before Initialize
// its reports go to the standard error stream; after it they reach the
// core's Log entry as bare texts, and nothing else; after Shutdown the
// library's logging is back to its initial state.
//
// The library's only messages are reports at ERROR in group "DBG"; the one
// the core can provoke from outside is the incompatible-core report of a
// second, refused handshake with the same library.
#include <gtest/gtest.h>

#include <string>

#include "plugin/fake_core.h"

namespace {

using namespace Zarn::AbiTest;

constexpr char kReport[] = "Assertion failed!\n\nExpression: ALE-EECF0606";

// Runs a handshake that the library refuses and returns what it wrote to
// the standard error stream meanwhile.
std::string RefusedHandshake() {
  testing::internal::CaptureStderr();
  { LoadedPlugin refused(19, 0, 0); }
  return testing::internal::GetCapturedStderr();
}

TEST(LogAbi, ReportsReachTheCoreOnlyWhileInitialized) {
  FakeCore core;
  LoadedPlugin plugin(18, 0, 0);
  ASSERT_NE(plugin.context(), nullptr);

  EXPECT_NE(RefusedHandshake().find(kReport), std::string::npos) << "before Initialize: stderr";
  EXPECT_TRUE(core.logs.empty()) << "the core is not known yet";

  HostContextBytes host(core, 3);
  ASSERT_EQ(plugin.Initialize(host), 1);
  EXPECT_EQ(RefusedHandshake(), "") << "after Initialize nothing goes to stderr";
  ASSERT_EQ(core.logs.size(), 2u);
  EXPECT_EQ(core.logs[0].level, 2) << "ERROR";
  EXPECT_EQ(core.logs[0].message, kReport) << "the bare report, no line pattern, no line feed";
  EXPECT_EQ(core.logs[1].level, 2);
  EXPECT_EQ(core.logs[1].message,
            "arx-vyk-toxicity which supports plugin API 18.0.0 is not compatible with core's "
            "plugin API 19.0.0");

  // A second Initialize finds the target installed and adds none.
  core.logs.clear();
  ASSERT_EQ(plugin.Initialize(host), 1);
  RefusedHandshake();
  EXPECT_EQ(core.logs.size(), 2u) << "one target, one call per message";

  plugin.Shutdown();
  core.logs.clear();
  EXPECT_NE(RefusedHandshake().find(kReport), std::string::npos) << "after Shutdown: stderr again";
  EXPECT_TRUE(core.logs.empty()) << "the plugin's target went with the plugin";
}

}  // namespace
