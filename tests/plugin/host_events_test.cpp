// Host events in process: JSON-API event names and path patterns,
// reference-counted subscriptions, delivery of converted payloads to exact
// and pattern handlers, service-proxy answers, and calls to the core's API
// with telemetry, all against a fake core that keeps the subscriptions it
// is given and delivers event records to their callbacks.
#include "plugin/host_events.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "log/log.h"
#include "plugin/core_api.h"
#include "plugin/fake_core.h"
#include "plugin/memory.h"
#include "plugin/plugin.h"

namespace Zarn {

// A record the registry does not describe.
struct UnregisteredPayload {
  int32_t value = 0;
};
ZARN_TYPE_SPELLING(UnregisteredPayload, "struct Zarn::UnregisteredPayload");

namespace {

using AbiTest::FakeCore;
using AbiTest::HostStructure;
using Client::PluginResourceEvent;
using Client::AppModule::PluginServiceProxyResponse;

TEST(JsonApiEventName, KeepsThreeSegmentsOrFiveForPlatformConfig) {
  struct Case {
    const char* path;
    const char* name;
  };
  const Case cases[] = {
      {"/example/v1/items/extra", "OnJsonApiEvent_example_v1_items"},
      {"/a/b", "OnJsonApiEvent_a_b"},
      {"a/b", "OnJsonApiEvent_a_b"},
      {"//a///b//", "OnJsonApiEvent_a_b"},
      {"", "OnJsonApiEvent"},
      {"/", "OnJsonApiEvent"},
      {"///", "OnJsonApiEvent"},
      {"/arx-platform-config/v1/namespaces/A/B/C", "OnJsonApiEvent_arx-platform-config_v1_namespaces_A_B"},
      {"/arx-platform-config", "OnJsonApiEvent_arx-platform-config"},
      // Only the first segment selects the longer limit, and only exactly.
      {"/x/arx-platform-config/v1/namespaces/A", "OnJsonApiEvent_x_arx-platform-config_v1"},
      {"/arx-platform-configs/v1/namespaces/A/B", "OnJsonApiEvent_arx-platform-configs_v1_namespaces"},
      {"/Arx-platform-config/v1/namespaces/A/B", "OnJsonApiEvent_Arx-platform-config_v1_namespaces"},
  };
  for (const Case& c : cases) EXPECT_EQ(JsonApiEventName(c.path), c.name) << c.path;
}

TEST(MatchPathPattern, StarMatchesOneRunInsideASegment) {
  struct Case {
    const char* pattern;
    const char* path;
    bool matches;
  };
  const Case cases[] = {
      {"/a/*", "/a/b", true},      {"/a/*", "/a/bcd", true},     {"/a/*", "/a/b/c", false},
      {"/a/*", "/a/", false},      {"/a/*/c", "/a/b/c", true},   {"/a/*/c", "/a//c", true},
      {"/a/*/c", "/a/b/d", false}, {"/a/*x", "/a/bx", false},    {"/a/b", "/a/b", true},
      {"/a/b", "/a/bc", false},    {"/a/bc", "/a/b", false},     {"", "", true},
      {"*", "", false},            {"", "/", false},             {"/*/*/c", "/a/b/c", true},
      {"/*", "/", false},          {"/a/*/", "/a/b/", true},     {"/a/*/", "/a/b", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchPathPattern(c.pattern, c.path), c.matches) << c.pattern << " on " << c.path;
  }
}

// A feature class that fills the handler tables, as the framework leaves
// to its features, and records what its handlers receive.
class EventPlugin : public Plugin {
 public:
  std::vector<std::string> seen;

  void AddPathHandler(const std::string& path, const std::string& label) { pathHandlers_[path] = Recorder(label); }
  void AddPatternHandler(const std::string& pattern, const std::string& label) {
    patternHandlers_[pattern] = Recorder(label);
  }
  void AddPendingRequest(const std::string& key, const std::string& label) {
    std::lock_guard<std::mutex> hold(serviceProxyLock_);
    pendingRequests_[key] = ProxyRecorder(label);
  }
  void AddAsyncHandler(const std::string& key, const std::string& label) {
    std::lock_guard<std::mutex> hold(serviceProxyLock_);
    asyncHandlers_[key] = ProxyRecorder(label);
  }
  std::vector<std::string> Parked() {
    std::lock_guard<std::mutex> hold(serviceProxyLock_);
    std::vector<std::string> keys;
    for (const auto& entry : parkedResponses_) keys.push_back(entry.first + "=" + entry.second.payload);
    std::sort(keys.begin(), keys.end());
    return keys;
  }
  size_t PendingCount() {
    std::lock_guard<std::mutex> hold(serviceProxyLock_);
    return pendingRequests_.size();
  }
  // A path handler that ends its own subscription while it runs, and a
  // pattern handler that empties the pattern table.
  void AddSelfUnsubscribingHandler(const std::string& path) {
    pathHandlers_[path] = [this, path](const PluginResourceEvent& event) {
      UnsubscribeJsonApiEvent(path);
      seen.push_back("unsubscribed by " + event.uri);
    };
  }
  void AddTableClearingPattern(const std::string& pattern) {
    patternHandlers_[pattern] = [this](const PluginResourceEvent&) {
      patternHandlers_.clear();
      seen.push_back("cleared");
    };
  }
  size_t HandlerTableSizes() const { return pathHandlers_.size() + patternHandlers_.size() + eventCallbacks_.size(); }

 private:
  ResourceEventHandler Recorder(const std::string& label) {
    return [this, label](const PluginResourceEvent& event) {
      seen.push_back(label + " " + event.uri + " " + std::to_string(event.eventType) + " " +
                     std::to_string(event.data.Size()));
    };
  }
  ServiceProxyHandler ProxyRecorder(const std::string& label) {
    return [this, label](const PluginServiceProxyResponse& response) {
      seen.push_back(label + " " + response.uuid + " " + response.serviceName + "." + response.methodName + " " +
                     response.payload + " " + response.status + " " + response.error);
    };
  }
};

class HostEventsTest : public testing::Test {
 protected:
  void SetUp() override {
    LogAddRef();  // start from a fresh log manager
    LogRelease();
    PluginLoadRecord record{18, 0, 0, nullptr, nullptr, nullptr, nullptr};
    ASSERT_TRUE(plugin_.Load(&record, "arx-vyk-toxicity"));
    ASSERT_TRUE(plugin_.Initialize(&host_));
    core_.calls.clear();
    core_.logs.clear();
  }

  // A PluginResourceEvent payload: uri, eventType as its enumerator's name,
  // and data, a structure of one member.
  HostValue ResourceEvent(const std::string& uri, const std::string& eventType) {
    data_ = HostStructure();
    data_.Text("id", "7");
    dataValue_ = data_.Value();
    event_ = HostStructure();
    event_.Text("uri", uri).Text("eventType", eventType).Value("data", dataValue_);
    return event_.Value();
  }
  HostValue ProxyResponse(const std::string& uuid, const std::string& service, const std::string& method,
                          const std::string& payload) {
    event_ = HostStructure();
    event_.Text("uuid", uuid)
        .Text("serviceName", service)
        .Text("methodName", method)
        .Text("payload", payload)
        .Text("status", "200")
        .Text("error", "");
    return event_.Value();
  }
  int UnsubscribeCalls(const std::string& name) const {
    return static_cast<int>(std::count(core_.calls.begin(), core_.calls.end(), "Unsubscribe " + name));
  }

  FakeCore core_;
  HostContext host_{&core_.api, 0x77};
  EventPlugin plugin_;
  HostStructure data_;
  HostValue dataValue_{};
  HostStructure event_;
};

TEST_F(HostEventsTest, ConnectionSubscribesTheServiceProxyEvents) {
  FakeCore fresh;
  HostContext host{&fresh.api, 0x55};
  EventPlugin plugin;
  PluginLoadRecord record{18, 0, 0, nullptr, nullptr, nullptr, nullptr};
  ASSERT_TRUE(plugin.Load(&record, "arx-vyk-toxicity"));
  ASSERT_TRUE(plugin.Initialize(&host));
  const char* names[] = {"OnServiceProxyUuidEvent", "OnServiceProxyMethodEvent", "OnServiceProxyAsyncEvent"};
  ASSERT_EQ(fresh.subscriptions.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(names[i]);
    EXPECT_EQ(fresh.subscriptions[i].name, names[i]);
    EXPECT_EQ(fresh.subscriptions[i].pluginHandle, 0x55u);
    EXPECT_EQ(fresh.subscriptions[i].flag, 1u);
    EXPECT_EQ(fresh.subscriptions[i].userData, static_cast<PluginCore*>(&plugin));
    EXPECT_NE(fresh.subscriptions[i].callback, nullptr);
  }
  EXPECT_NE(plugin.telemetry(), nullptr);
}

TEST_F(HostEventsTest, JsonApiSubscriptionsAreReferenceCounted) {
  const std::string name = "OnJsonApiEvent_a_b";
  plugin_.SubscribeJsonApiEvent("/a/b");
  plugin_.SubscribeJsonApiEvent("a/b");  // the same event name
  EXPECT_EQ(core_.calls, (std::vector<std::string>{"Subscribe " + name}));
  ASSERT_EQ(core_.subscriptions.size(), 4u);
  const FakeCore::Subscription& subscription = core_.subscriptions.back();
  EXPECT_EQ(subscription.flag, 0u);
  EXPECT_EQ(subscription.pluginHandle, 0x77u);
  EXPECT_EQ(subscription.userData, static_cast<PluginCore*>(&plugin_));
  EXPECT_NE(subscription.callback, core_.subscriptions[0].callback) << "resource events have their own callback";

  plugin_.UnsubscribeJsonApiEvent("/a/b");
  EXPECT_EQ(UnsubscribeCalls(name), 0) << "one subscription is left";
  EXPECT_NE(core_.Active(name), nullptr);
  plugin_.UnsubscribeJsonApiEvent("/a/b");
  EXPECT_EQ(UnsubscribeCalls(name), 1);
  EXPECT_EQ(core_.Active(name), nullptr);
  plugin_.UnsubscribeJsonApiEvent("/a/b");
  plugin_.UnsubscribeJsonApiEvent("/never/subscribed");
  EXPECT_EQ(core_.calls.size(), 2u) << "nothing left to unsubscribe";

  plugin_.SubscribeJsonApiEvent("/a/b/c/d");  // counted from 0 again; c/d cut off
  EXPECT_EQ(core_.calls.back(), "Subscribe OnJsonApiEvent_a_b_c");
}

TEST_F(HostEventsTest, ResourceEventsReachTheExactAndEveryMatchingPatternHandler) {
  plugin_.AddPathHandler("/v1/x", "exact");
  plugin_.AddPathHandler("/v1/y", "other path");
  plugin_.AddPatternHandler("/v1/*", "pattern v1");
  plugin_.AddPatternHandler("/*/x", "pattern x");
  plugin_.AddPatternHandler("/v2/*", "pattern v2");
  plugin_.SubscribeJsonApiEvent("/v1/x");

  ASSERT_TRUE(core_.Deliver("OnJsonApiEvent_v1_x", ResourceEvent("v1/x", "Update")));
  ASSERT_EQ(plugin_.seen.size(), 3u);
  EXPECT_EQ(plugin_.seen[0], "exact v1/x 1 1") << "the exact handler first, with the converted record";
  std::vector<std::string> patterns(plugin_.seen.begin() + 1, plugin_.seen.end());
  std::sort(patterns.begin(), patterns.end());
  EXPECT_EQ(patterns, (std::vector<std::string>{"pattern v1 v1/x 1 1", "pattern x v1/x 1 1"}));

  plugin_.seen.clear();
  plugin_.SubscribeJsonApiEvent("/v1/z");
  ASSERT_TRUE(core_.Deliver("OnJsonApiEvent_v1_z", ResourceEvent("/v1/z", "Delete")));
  EXPECT_EQ(plugin_.seen, (std::vector<std::string>{"pattern v1 /v1/z 2 1"})) << "patterns only";
}

// The event's handler entry and the pattern table stay valid while the
// handlers that change them run (under ASan a use after free shows here).
TEST_F(HostEventsTest, HandlersMayChangeTheTablesTheyWereFoundIn) {
  plugin_.AddSelfUnsubscribingHandler("/v1/x");
  plugin_.AddTableClearingPattern("/v1/*");
  plugin_.AddPatternHandler("/*/x", "pattern x");
  plugin_.SubscribeJsonApiEvent("/v1/x");
  ASSERT_TRUE(core_.Deliver("OnJsonApiEvent_v1_x", ResourceEvent("/v1/x", "Create")));
  ASSERT_EQ(plugin_.seen.size(), 3u);
  EXPECT_EQ(plugin_.seen[0], "unsubscribed by /v1/x");
  EXPECT_EQ(core_.calls.back(), "Unsubscribe OnJsonApiEvent_v1_x");
  EXPECT_EQ(core_.Active("OnJsonApiEvent_v1_x"), nullptr);
}

TEST_F(HostEventsTest, PayloadsThatDoNotConvertReachNoHandler) {
  plugin_.AddPatternHandler("/*", "any");
  plugin_.SubscribeJsonApiEvent("/v1");
  plugin_.AddAsyncHandler("Foo.Bar", "async");

  HostValue unknownKind{};
  unknownKind.kind = 11;
  HostValue text{};
  text.kind = 5;
  text.text = {"/v1", 3};
  HostStructure unknownEnumerator;
  unknownEnumerator.Text("uri", "/v1").Text("eventType", "Sideways").Value("data", HostValue{});
  HostStructure badMember;
  badMember.Text("uri", "/v1").Text("eventType", "Create").Value("data", unknownKind);
  HostValue list{};
  list.kind = 9;  // an empty collection
  HostStructure listUuid;
  listUuid.Value("uuid", list).Text("serviceName", "Foo").Text("methodName", "Bar");
  struct Case {
    const char* label;
    HostValue payload;
    bool asResourceEvent;  // also delivered as each kind of event
    bool asServiceProxyAnswer;
  };
  const Case cases[] = {
      {"kind outside the table", unknownKind, true, true},
      {"empty payload", HostValue{}, true, true},
      {"a text, not a structure", text, true, true},
      {"an enumerator the type lacks", unknownEnumerator.Value(), true, false},
      {"a member of an unknown kind", badMember.Value(), true, true},
      {"a collection for a text member", listUuid.Value(), false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    if (c.asResourceEvent) {
      ASSERT_TRUE(core_.Deliver("OnJsonApiEvent_v1", c.payload));
    }
    if (c.asServiceProxyAnswer) {
      ASSERT_TRUE(core_.Deliver("OnServiceProxyAsyncEvent", c.payload));
    }
    EXPECT_TRUE(plugin_.seen.empty());
    EXPECT_TRUE(core_.logs.empty()) << "dropped silently";
  }
  // The same tables take a payload that converts.
  ASSERT_TRUE(core_.Deliver("OnJsonApiEvent_v1", ResourceEvent("/v1", "Create")));
  EXPECT_EQ(plugin_.seen, (std::vector<std::string>{"any /v1 0 1"}));
}

TEST_F(HostEventsTest, ServiceProxyAnswersAreParkedUntilARequestWaits) {
  // Two answers for one uuid before anyone waits: the later one stays.
  ASSERT_TRUE(core_.Deliver("OnServiceProxyUuidEvent", ProxyResponse("u-1", "Svc", "Get", "first")));
  ASSERT_TRUE(core_.Deliver("OnServiceProxyUuidEvent", ProxyResponse("u-1", "Svc", "Get", "second")));
  EXPECT_EQ(plugin_.Parked(), (std::vector<std::string>{"u-1=second"}));
  EXPECT_TRUE(core_.logs.empty());

  plugin_.AddPendingRequest("u-1", "by uuid");
  plugin_.FulfilPendingRequest();
  EXPECT_EQ(plugin_.seen, (std::vector<std::string>{"by uuid u-1 Svc.Get second 200 "}));
  ASSERT_EQ(core_.logs.size(), 1u);
  EXPECT_EQ(core_.logs[0].level, 3) << "ALWAYS";
  EXPECT_EQ(core_.logs[0].message, "Fulfilled service proxy request: u-1");
  EXPECT_TRUE(plugin_.Parked().empty());
  EXPECT_EQ(plugin_.PendingCount(), 0u);
  plugin_.FulfilPendingRequest();
  EXPECT_EQ(plugin_.seen.size(), 1u) << "a one-shot handler runs once";

  // A request waiting by service and method gets the method answer at once.
  plugin_.seen.clear();
  core_.logs.clear();
  plugin_.AddPendingRequest("Foo.Bar", "by method");
  ASSERT_TRUE(core_.Deliver("OnServiceProxyMethodEvent", ProxyResponse("", "Foo", "Bar", "answer")));
  EXPECT_EQ(plugin_.seen, (std::vector<std::string>{"by method  Foo.Bar answer 200 "}));
  ASSERT_EQ(core_.logs.size(), 1u);
  EXPECT_EQ(core_.logs[0].message, "Fulfilled service proxy request: Foo.Bar");
  EXPECT_TRUE(plugin_.Parked().empty());
  EXPECT_EQ(plugin_.PendingCount(), 0u);

  // The next answer for the same key waits, since nobody asks any more.
  ASSERT_TRUE(core_.Deliver("OnServiceProxyMethodEvent", ProxyResponse("", "Foo", "Bar", "late")));
  EXPECT_EQ(plugin_.seen.size(), 1u);
  EXPECT_EQ(plugin_.Parked(), (std::vector<std::string>{"Foo.Bar=late"}));

  // One request per call: two keys ready at once take two calls.
  plugin_.seen.clear();
  ASSERT_TRUE(core_.Deliver("OnServiceProxyUuidEvent", ProxyResponse("u-2", "Svc", "Get", "two")));
  plugin_.AddPendingRequest("Foo.Bar", "late waiter");
  plugin_.AddPendingRequest("u-2", "uuid waiter");
  plugin_.FulfilPendingRequest();
  EXPECT_EQ(plugin_.seen.size(), 1u);
  plugin_.FulfilPendingRequest();
  EXPECT_EQ(plugin_.seen.size(), 2u);
  EXPECT_TRUE(plugin_.Parked().empty());
}

TEST_F(HostEventsTest, AsyncMessagesGoToTheirHandlerOrAreLogged) {
  plugin_.AddAsyncHandler("Foo.Baz", "async");
  ASSERT_TRUE(core_.Deliver("OnServiceProxyAsyncEvent", ProxyResponse("", "Foo", "Baz", "pushed")));
  EXPECT_EQ(plugin_.seen, (std::vector<std::string>{"async  Foo.Baz pushed 200 "}));
  EXPECT_TRUE(core_.logs.empty());
  ASSERT_TRUE(core_.Deliver("OnServiceProxyAsyncEvent", ProxyResponse("", "Foo", "Baz", "again")));
  EXPECT_EQ(plugin_.seen.size(), 2u) << "a standing handler stays";

  ASSERT_TRUE(core_.Deliver("OnServiceProxyAsyncEvent", ProxyResponse("", "Foo", "Bar", "pushed")));
  ASSERT_EQ(core_.logs.size(), 1u);
  EXPECT_EQ(core_.logs[0].level, 2) << "ERROR";
  EXPECT_EQ(core_.logs[0].message, "Could not find registered handler for async service proxy event Foo.Bar");
  EXPECT_TRUE(plugin_.Parked().empty()) << "asynchronous messages are not parked";
}

TEST_F(HostEventsTest, ShutdownUnsubscribesEveryNameOnceAndEmptiesTheTables) {
  plugin_.SubscribeJsonApiEvent("/a/b");
  plugin_.SubscribeJsonApiEvent("/a/b");
  plugin_.SubscribeJsonApiEvent("/c");
  plugin_.AddPathHandler("/a/b", "exact");
  plugin_.AddPatternHandler("/*", "any");
  plugin_.AddPendingRequest("u-9", "waiting");
  ASSERT_TRUE(core_.Deliver("OnServiceProxyUuidEvent", ProxyResponse("u-8", "Svc", "Get", "parked")));
  core_.calls.clear();

  plugin_.Shutdown();
  const char* names[] = {"OnJsonApiEvent_a_b", "OnJsonApiEvent_c", "OnServiceProxyUuidEvent",
                         "OnServiceProxyMethodEvent", "OnServiceProxyAsyncEvent"};
  for (const char* name : names) EXPECT_EQ(UnsubscribeCalls(name), 1) << name;
  EXPECT_EQ(core_.calls.size(), 5u);
  EXPECT_TRUE(core_.active.empty());
  EXPECT_EQ(plugin_.HandlerTableSizes(), 0u);
  EXPECT_EQ(plugin_.PendingCount(), 0u);
  EXPECT_TRUE(plugin_.Parked().empty());

  // Counts went too: a new subscription reaches the core again.
  plugin_.SubscribeJsonApiEvent("/a/b");
  EXPECT_EQ(core_.calls.back(), "Subscribe OnJsonApiEvent_a_b");
}


// Forgets what the fake core recorded, giving its memory back, so that the
// library's counters show only what the call itself kept.
void ForgetCalls(FakeCore& core) {
  core.calls.clear();
  core.calls.shrink_to_fit();
  core.apiCalls.clear();
  core.apiCalls.shrink_to_fit();
  core.logs.clear();
  core.logs.shrink_to_fit();
}

uint64_t LiveBytes() {
  const Memory::Counters counters = Memory::ReadCounters();
  return counters.bytesAllocated - counters.bytesFreed;
}

TEST_F(HostEventsTest, TelemetryIsPostedWithTheConvertedPayload) {
  ASSERT_NE(plugin_.telemetry(), nullptr);
  const Client::PluginManagerResource payload{Client::PluginsInitialized};
  const ReadyFuture<ApiCallResult> future = plugin_.telemetry()->SendTelemetry("startup", payload);
  ASSERT_TRUE(future.valid());
  future.wait();
  EXPECT_FALSE(future.get().failed);
  EXPECT_EQ(future.get().status, 0);
  EXPECT_EQ(future.get().message, "");
  ASSERT_EQ(core_.apiCalls.size(), 1u);
  const FakeCore::ApiCall& call = core_.apiCalls[0];
  EXPECT_EQ(call.method, 6) << "POST";
  EXPECT_EQ(call.path, "/telemetry/v1/events/startup");
  EXPECT_EQ(call.parameterCount, 1u);
  EXPECT_EQ(call.parameter, "{\"state\":\"PluginsInitialized\"}") << "enumerations travel by name";
  EXPECT_EQ(call.pluginHandle, 0x77u);
  EXPECT_TRUE(call.requestZeroesClear);
  EXPECT_TRUE(call.responseZeroed);
  EXPECT_EQ(core_.cleanups, 1);
  EXPECT_EQ(core_.cleanupOfOtherRecords, 0) << "cleanup gets the record the core filled";
}

TEST_F(HostEventsTest, CoreApiFailuresBecomeResults) {
  const Client::PluginManagerResource payload{Client::NotReady};
  core_.apiErrorText = "No such resource";
  core_.apiStatus = 404;
  const ApiCallResult refused = plugin_.telemetry()->SendTelemetry("startup", payload).get();
  EXPECT_TRUE(refused.failed);
  EXPECT_EQ(refused.status, 404);
  EXPECT_EQ(refused.message, "Error response for POST /telemetry/v1/events/startup: No such resource");
  EXPECT_EQ(core_.cleanups, 1);

  const ApiCallResult unconverted = plugin_.telemetry()->SendTelemetry("startup", UnregisteredPayload{}).get();
  EXPECT_TRUE(unconverted.failed);
  EXPECT_EQ(unconverted.status, 400);
  EXPECT_EQ(unconverted.message,
            "Request not sent: Error converting parameters for POST /telemetry/v1/events/startup: Couldn't "
            "convert native value because it's an unregistered structure.");
  EXPECT_EQ(core_.apiCalls.size(), 1u) << "the core is not called";
  EXPECT_EQ(core_.cleanups, 1);

  // The method's name in the messages, and the code the core receives.
  struct Case {
    int32_t method;
    int32_t sent;
    const char* message;
  };
  const Case cases[] = {
      {1, 1, "Error response for DELETE /r: No such resource"},
      {2, 2, "Error response for GET /r: No such resource"},
      {7, 7, "Error response for PUT /r: No such resource"},
      {99, 0, "Error response for  /r: No such resource"},
  };
  for (const Case& c : cases) {
    const ApiCallResult result = plugin_.CallCoreApi(c.method, "/r", payload);
    EXPECT_EQ(result.message, c.message);
    EXPECT_EQ(core_.apiCalls.back().method, c.sent) << c.message;
  }
}

TEST_F(HostEventsTest, CoreApiCallsGiveBackWhatTheyAllocate) {
  const Client::PluginManagerResource payload{Client::PluginsInitialized};
  struct Case {
    const char* label;
    const char* errorText;
  };
  const Case cases[] = {{"success", nullptr}, {"core error", "Gone"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    core_.apiErrorText = c.errorText;
    core_.apiStatus = c.errorText ? 410 : 0;
    ForgetCalls(core_);
    const uint64_t before = LiveBytes();
    { const ApiCallResult result = plugin_.CallCoreApi(6, "/telemetry/v1/events/a-name-beyond-short-strings", payload); }
    ForgetCalls(core_);
    EXPECT_EQ(LiveBytes(), before) << "the parameter's host value was not released";
  }
  ForgetCalls(core_);
  const uint64_t before = LiveBytes();
  { const ApiCallResult result = plugin_.CallCoreApi(6, "/x", UnregisteredPayload{}); }
  EXPECT_EQ(LiveBytes(), before) << "a refused payload keeps nothing";
}

}  // namespace
}  // namespace Zarn
