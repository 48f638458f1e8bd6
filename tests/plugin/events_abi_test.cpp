// The real shared library's host events as the core sees them: the
// service-proxy subscriptions of the connection, event records delivered to
// the callbacks it gave, and Shutdown taking every subscription back.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "plugin/fake_core.h"

namespace {

using namespace Zarn::AbiTest;

const char* const kServiceProxyEvents[] = {"OnServiceProxyUuidEvent", "OnServiceProxyMethodEvent",
                                           "OnServiceProxyAsyncEvent"};

Zarn::HostValue ProxyAnswer(HostStructure& storage, const char* uuid, const char* service, const char* method) {
  storage.Text("uuid", uuid)
      .Text("serviceName", service)
      .Text("methodName", method)
      .Text("payload", "{}")
      .Text("status", "200")
      .Text("error", "");
  return storage.Value();
}

TEST(EventsAbi, ConnectionSubscribesTheServiceProxyEventsWithFlag1) {
  FakeCore core;
  LoadedPlugin plugin(18, 0, 0);
  HostContextBytes host(core, 0xBEEF);
  ASSERT_EQ(plugin.Initialize(host), 1);
  ASSERT_EQ(core.subscriptions.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(kServiceProxyEvents[i]);
    const FakeCore::Subscription& subscription = core.subscriptions[i];
    EXPECT_EQ(subscription.name, kServiceProxyEvents[i]) << "in this order";
    EXPECT_EQ(subscription.pluginHandle, 0xBEEFu);
    EXPECT_EQ(subscription.flag, 1u);
    EXPECT_EQ(subscription.userData, plugin.context()) << "the plugin object";
    EXPECT_EQ(subscription.callback, core.subscriptions[0].callback) << "one callback for service-proxy events";
  }
  plugin.Shutdown();
}

TEST(EventsAbi, DeliveredEventsReachTheirHandlersOrAreDropped) {
  FakeCore core;
  LoadedPlugin plugin(18, 0, 0);
  HostContextBytes host(core, 9);
  ASSERT_EQ(plugin.Initialize(host), 1);
  core.logs.clear();

  // An asynchronous message that no handler takes is logged through the
  // plugin's log target.
  HostStructure async;
  ASSERT_TRUE(core.Deliver("OnServiceProxyAsyncEvent", ProxyAnswer(async, "", "Foo", "Bar")));
  ASSERT_EQ(core.logs.size(), 1u);
  EXPECT_EQ(core.logs[0].level, 2) << "ERROR";
  EXPECT_EQ(core.logs[0].message, "Could not find registered handler for async service proxy event Foo.Bar");

  // Answers without a waiting request are kept quietly; payloads that do
  // not convert are dropped quietly.
  core.logs.clear();
  HostStructure uuid;
  HostStructure method;
  ASSERT_TRUE(core.Deliver("OnServiceProxyUuidEvent", ProxyAnswer(uuid, "u-1", "Svc", "Get")));
  ASSERT_TRUE(core.Deliver("OnServiceProxyMethodEvent", ProxyAnswer(method, "", "Svc", "Get")));
  Zarn::HostValue unknownKind{};
  unknownKind.kind = 42;
  for (const char* name : kServiceProxyEvents) {
    ASSERT_TRUE(core.Deliver(name, unknownKind));
    ASSERT_TRUE(core.Deliver(name, Zarn::HostValue{}));
  }
  EXPECT_TRUE(core.logs.empty());
  plugin.Shutdown();
}

TEST(EventsAbi, ShutdownUnsubscribesEveryNameOnceAndKeepsNothing) {
  FakeCore core;
  LoadedPlugin probe(18, 0, 0);  // reads the library's counters throughout
  const Counters before = ReadCounters(probe);
  {
    LoadedPlugin plugin(18, 0, 0);
    HostContextBytes host(core, 4);
    ASSERT_EQ(plugin.Initialize(host), 1);
    ASSERT_EQ(plugin.Initialize(host), 1);  // a second connection subscribes anew, replacing the handlers
    HostStructure parked;
    ASSERT_TRUE(core.Deliver("OnServiceProxyUuidEvent", ProxyAnswer(parked, "kept-until-shutdown", "S", "M")));
    core.calls.clear();
    plugin.Shutdown();
  }
  std::vector<std::string> unsubscribed = core.calls;
  std::sort(unsubscribed.begin(), unsubscribed.end());
  std::vector<std::string> expected;
  for (const char* name : kServiceProxyEvents) expected.push_back(std::string("Unsubscribe ") + name);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(unsubscribed, expected);
  EXPECT_TRUE(core.active.empty());
  EXPECT_EQ(ReadCounters(probe).live(), before.live()) << "parked answers and handlers went with the plugin";
  probe.Shutdown();
}

}  // namespace
