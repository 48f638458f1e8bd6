// PluginCore: the abstract core of every plugin. It owns the tables of event
// handlers, subscribes host events and JSON-API resource events, receives
// service-proxy answers, calls the core's API and implements Shutdown; the
// operations that need the host are pure and implemented by Plugin against
// the host's function table.
//
// The JSON-API handler tables, the event-callback table and the
// subscription counts are not locked: the core delivers no event while
// subscriptions change or while Shutdown runs. The service-proxy tables are
// guarded by the service-proxy lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "binding/binding_registry.h"
#include "http/http_method.h"
#include "plugin/abi.h"
#include "plugin/core_api.h"
#include "plugin/plugin_manager_types.h"

namespace Zarn {

class BindingRegistry;
class PluginCore;

struct HostEvent;

// Handlers receive an event's payload converted into its native record.
using ResourceEventHandler = std::function<void(const Client::PluginResourceEvent& event)>;
using ServiceProxyHandler = std::function<void(const Client::AppModule::PluginServiceProxyResponse& response)>;

// What the event-callback table holds for one host event name: the handler
// of the callback it was subscribed with (the other one is empty). Held
// through a shared pointer so that replacing an entry releases the previous
// handler, and so that a handler that replaces its own entry lives until it
// returns.
struct HostEventHandler {
  ResourceEventHandler onResourceEvent;
  ServiceProxyHandler onServiceProxyResponse;
};

class PluginCore {
 public:
  PluginCore();
  PluginCore(const PluginCore&) = delete;
  PluginCore& operator=(const PluginCore&) = delete;

  // Reference-counted subscriptions to the JSON-API resource events of
  // path (named by JsonApiEventName). The first subscription of a name
  // subscribes it at the core (flag 0) with a handler that passes each event
  // to DispatchJsonApiEvent; the unsubscription that brings the count back
  // to 0 unsubscribes it and drops its handler. Unsubscribing a name that
  // has no subscription does nothing.
  virtual void SubscribeJsonApiEvent(const std::string& path);
  virtual void UnsubscribeJsonApiEvent(const std::string& path);

  virtual ~PluginCore();

  // Unsubscribes every host event in the event-callback table (without
  // looking at the host's answers) and clears every handler table.
  virtual void Shutdown();

  // Forwarders to the host's function table (entries 0-8); arguments pass
  // through unchanged and results come back uninterpreted. Only called after
  // Initialize has stored the host context.
  virtual uint32_t CallApi(HostApiResponse* response, const HostApiRequest* request) = 0;
  virtual uint32_t SendHttpRequest(HostHttpResponse* response, const HostHttpRequest* request) = 0;
  virtual uint32_t ForwardEntry2(uint32_t value) = 0;
  virtual uint32_t Subscribe(const char* eventName, uint32_t pluginHandle, HostEventCallback callback,
                             void* userData, uint32_t flag) = 0;
  virtual uint32_t Unsubscribe(const char* eventName, uint32_t pluginHandle) = 0;
  virtual uint32_t ForwardEntry5(uint32_t a, uint32_t b, uint32_t c, uint64_t d, uint32_t e) = 0;
  virtual uint32_t ForwardEntry6() = 0;
  virtual uint32_t ForwardEntry7(const std::string& text, uint32_t value) = 0;
  virtual uint32_t ForwardEntry8() = 0;

  // Keeps handler as the event-callback table's entry for name (releasing a
  // handler that was there) and subscribes name at the core, on every call,
  // with the resource-event or the service-proxy callback, this object as
  // user data, and flag.
  void SubscribeHostEvent(const std::string& name, ResourceEventHandler handler, uint32_t flag);
  void SubscribeServiceProxyEvent(const std::string& name, ServiceProxyHandler handler, uint32_t flag);

  // Calls the exact-path handler of event's uri (a "/" is put in front when
  // it has none), then every pattern handler whose pattern matches it
  // (MatchPathPattern), in the table's order.
  void DispatchJsonApiEvent(const Client::PluginResourceEvent& event);

  // Service-proxy answers addressed by uuid, and by service and method
  // ("<serviceName>.<methodName>"): parked under their key (replacing an
  // earlier one), then FulfilPendingRequest.
  void OnUuidResponse(const Client::AppModule::PluginServiceProxyResponse& response);
  void OnMethodResponse(const Client::AppModule::PluginServiceProxyResponse& response);
  // An asynchronous message: goes to the async handler of
  // "<serviceName>.<methodName>", or is logged (ERROR, DBG) when there is none.
  void OnAsyncMessage(const Client::AppModule::PluginServiceProxyResponse& response);
  // Hands the first parked response (in table order) whose key has a
  // pending request to that request's handler, logs it (ALWAYS, DBG) and
  // removes the key from both tables. At most one request per call.
  void FulfilPendingRequest();

  // Calls the core's API: payload (the record at payload, of the registered
  // type type) goes as the only parameter. A payload that does not convert
  // gives failed, status 400 and "Request not sent: Error converting
  // parameters for <method> <path>: <error>", and the core is not called; an
  // error text in the core's answer gives failed, the answer's status and
  // "Error response for <method> <path>: <text>". Blocks during CallApi.
  ApiCallResult CallCoreApi(int32_t method, const std::string& path, const void* payload, const BindingType* type);
  template <typename T>
  ApiCallResult CallCoreApi(int32_t method, const std::string& path, const T& payload) {
    const BindingType* type =
        conversionContext_ != nullptr ? conversionContext_->FindTypeById(StaticType::HashCode<T>()) : nullptr;
    return CallCoreApi(method, path, &payload, type);
  }

  // The sender of the current connection; null before the first one.
  const TelemetrySender* telemetry() const { return telemetrySender_.get(); }

  uint32_t pluginHandle() const { return pluginHandle_; }
  const std::string& userAgent() const { return userAgent_; }
  bool shuttingDown() const { return shuttingDown_; }
  void SetShuttingDown() { shuttingDown_ = true; }

 protected:
  // Connection to the core: keeps the plugin handle and the user agent,
  // replaces the telemetry sender and subscribes the three service-proxy
  // events (uuid, method, async; flag 1).
  void Connect(uint32_t pluginHandle, std::string userAgent);

  // JSON-API handlers taking the events of an exact resource path, and of
  // path patterns with "*". Nothing here adds to them: a feature class
  // fills them and subscribes the paths.
  std::unordered_map<std::string, ResourceEventHandler> pathHandlers_;
  std::unordered_map<std::string, ResourceEventHandler> patternHandlers_;
  // The registry whose types event payloads convert into.
  const BindingRegistry* conversionContext_ = nullptr;

 private:
  uint32_t pluginHandle_ = 0;
  std::string userAgent_;
  std::unique_ptr<TelemetrySender> telemetrySender_;

 protected:
  std::unordered_map<std::string, std::shared_ptr<HostEventHandler>> eventCallbacks_;
  std::unordered_map<std::string, int32_t> subscriptionCounts_;
  // Guarded by serviceProxyLock_: service-proxy requests waiting for their
  // answer, by key (a uuid or "<service>.<method>"); handlers of
  // asynchronous messages by "<service>.<method>"; and the latest answer of
  // each key that no request waits for yet. Handlers run with the lock held
  // and must not reach back into these tables.
  std::unordered_map<std::string, ServiceProxyHandler> pendingRequests_;
  std::unordered_map<std::string, ServiceProxyHandler> asyncHandlers_;
  std::unordered_map<std::string, Client::AppModule::PluginServiceProxyResponse> parkedResponses_;
  std::mutex serviceProxyLock_;

 private:
  // The callbacks given to Subscribe. They find the plugin through the
  // event's user data and its handler by the event's name, convert the
  // payload (as "<result>") into the handler's record and call it; an
  // unknown name or a payload that does not convert is dropped. Nothing is
  // reported to the core and nothing escapes.
  static void PLUGIN_CALL ResourceEventCallback(const HostEvent* event) noexcept;
  static void PLUGIN_CALL ServiceProxyEventCallback(const HostEvent* event) noexcept;

  bool shuttingDown_ = false;
};

template <typename T>
ReadyFuture<ApiCallResult> TelemetrySender::SendTelemetry(const std::string& eventName, const T& payload) const {
  ReadyPromise<ApiCallResult> promise;
  promise.set_value(plugin_->CallCoreApi(static_cast<int32_t>(HttpMethod::Post), "/telemetry/v1/events/" + eventName, payload));
  return promise.get_future();
}

}  // namespace Zarn
