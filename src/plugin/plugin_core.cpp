// Lifecycle of the plugin core, host event subscriptions and delivery, and
// calls to the core's API.
#include "plugin/plugin_core.h"

#include <cstring>
#include <vector>

#include "log/log.h"
#include "plugin/host_events.h"
#include "plugin/memory.h"
#include "util/format.h"
#include "values/record_conversion.h"

namespace Zarn {

namespace {

using Client::PluginResourceEvent;
using Client::AppModule::PluginServiceProxyResponse;

constexpr std::string_view kPayloadName = "<result>";

// Converts the event's payload into a native record of type T through the
// registry. False when either step refuses it.
template <typename T>
bool ConvertPayload(const HostEvent& event, const BindingRegistry& registry, T& record) {
  HostResult status{};
  BindingProperty value;
  const bool converted = FromHostValue(status, value, event.payload, kPayloadName);
  ReleaseHostValue(status.value);
  Memory::Free(status.errorText);
  if (!converted) return false;
  BindingResult assigned;
  AssignRecord(assigned, record, value, kPayloadName, registry);
  return assigned.Succeeded();
}

// The handler entry of the event's name, or null.
std::shared_ptr<HostEventHandler> FindHandler(
    const HostEvent& event, const std::unordered_map<std::string, std::shared_ptr<HostEventHandler>>& table) {
  auto found = table.find(event.name);
  if (found == table.end()) return nullptr;
  return found->second;  // a copy: the entry may be replaced while it runs
}

std::string MethodKey(const PluginServiceProxyResponse& response) {
  return Format("%1.%2", response.serviceName, response.methodName);
}

}  // namespace

PluginCore::PluginCore() = default;
PluginCore::~PluginCore() = default;

void PluginCore::Connect(uint32_t pluginHandle, std::string userAgent) {
  pluginHandle_ = pluginHandle;
  userAgent_ = std::move(userAgent);
  telemetrySender_ = std::make_unique<TelemetrySender>(*this);
  SubscribeServiceProxyEvent(
      "OnServiceProxyUuidEvent", [this](const PluginServiceProxyResponse& response) { OnUuidResponse(response); }, 1);
  SubscribeServiceProxyEvent(
      "OnServiceProxyMethodEvent", [this](const PluginServiceProxyResponse& response) { OnMethodResponse(response); },
      1);
  SubscribeServiceProxyEvent(
      "OnServiceProxyAsyncEvent", [this](const PluginServiceProxyResponse& response) { OnAsyncMessage(response); }, 1);
}

void PluginCore::Shutdown() {
  for (const auto& entry : eventCallbacks_) Unsubscribe(entry.first.c_str(), pluginHandle_);
  eventCallbacks_.clear();
  subscriptionCounts_.clear();
  {
    std::lock_guard<std::mutex> hold(serviceProxyLock_);
    pendingRequests_.clear();
    asyncHandlers_.clear();
    parkedResponses_.clear();
  }
  pathHandlers_.clear();
  patternHandlers_.clear();
}

void PluginCore::SubscribeHostEvent(const std::string& name, ResourceEventHandler handler, uint32_t flag) {
  auto entry = std::make_shared<HostEventHandler>();
  entry->onResourceEvent = std::move(handler);
  eventCallbacks_[name] = std::move(entry);
  Subscribe(name.c_str(), pluginHandle_, ResourceEventCallback, this, flag);
}

void PluginCore::SubscribeServiceProxyEvent(const std::string& name, ServiceProxyHandler handler, uint32_t flag) {
  auto entry = std::make_shared<HostEventHandler>();
  entry->onServiceProxyResponse = std::move(handler);
  eventCallbacks_[name] = std::move(entry);
  Subscribe(name.c_str(), pluginHandle_, ServiceProxyEventCallback, this, flag);
}

void PluginCore::SubscribeJsonApiEvent(const std::string& path) {
  const std::string name = JsonApiEventName(path);
  if (++subscriptionCounts_[name] == 1) {
    SubscribeHostEvent(name, [this](const PluginResourceEvent& event) { DispatchJsonApiEvent(event); }, 0);
  }
}

void PluginCore::UnsubscribeJsonApiEvent(const std::string& path) {
  const std::string name = JsonApiEventName(path);
  auto count = subscriptionCounts_.find(name);
  if (count == subscriptionCounts_.end() || count->second <= 0) return;
  if (--count->second == 0) {
    Unsubscribe(name.c_str(), pluginHandle_);
    eventCallbacks_.erase(name);
  }
}

void PluginCore::DispatchJsonApiEvent(const PluginResourceEvent& event) {
  std::string path = event.uri;
  if (path.empty() || path.front() != '/') path.insert(path.begin(), '/');
  auto exact = pathHandlers_.find(path);
  if (exact != pathHandlers_.end()) {
    const ResourceEventHandler handler = exact->second;
    handler(event);
  }
  // The matching handlers are collected first, so that a handler that
  // changes the table does not pull it from under the walk.
  std::vector<ResourceEventHandler> matching;
  for (const auto& entry : patternHandlers_) {
    if (MatchPathPattern(entry.first, path)) matching.push_back(entry.second);
  }
  for (const ResourceEventHandler& handler : matching) handler(event);
}

void PLUGIN_CALL PluginCore::ResourceEventCallback(const HostEvent* event) noexcept {
  try {
    if (event == nullptr || event->name == nullptr || event->userData == nullptr) return;
    PluginCore* plugin = static_cast<PluginCore*>(event->userData);
    std::shared_ptr<HostEventHandler> handler = FindHandler(*event, plugin->eventCallbacks_);
    if (handler == nullptr || !handler->onResourceEvent || plugin->conversionContext_ == nullptr) return;
    PluginResourceEvent record;
    if (!ConvertPayload(*event, *plugin->conversionContext_, record)) return;
    handler->onResourceEvent(record);
  } catch (...) {
    // A handler's failure stays inside the plugin; the core is told nothing.
  }
}

void PLUGIN_CALL PluginCore::ServiceProxyEventCallback(const HostEvent* event) noexcept {
  try {
    if (event == nullptr || event->name == nullptr || event->userData == nullptr) return;
    PluginCore* plugin = static_cast<PluginCore*>(event->userData);
    std::shared_ptr<HostEventHandler> handler = FindHandler(*event, plugin->eventCallbacks_);
    if (handler == nullptr || !handler->onServiceProxyResponse || plugin->conversionContext_ == nullptr) return;
    PluginServiceProxyResponse record;
    if (!ConvertPayload(*event, *plugin->conversionContext_, record)) return;
    handler->onServiceProxyResponse(record);
  } catch (...) {
    // As above.
  }
}

void PluginCore::OnUuidResponse(const PluginServiceProxyResponse& response) {
  {
    std::lock_guard<std::mutex> hold(serviceProxyLock_);
    parkedResponses_[response.uuid] = response;
  }
  FulfilPendingRequest();
}

void PluginCore::OnMethodResponse(const PluginServiceProxyResponse& response) {
  const std::string key = MethodKey(response);
  {
    std::lock_guard<std::mutex> hold(serviceProxyLock_);
    parkedResponses_[key] = response;
  }
  FulfilPendingRequest();
}

void PluginCore::OnAsyncMessage(const PluginServiceProxyResponse& response) {
  const std::string key = MethodKey(response);
  std::lock_guard<std::mutex> hold(serviceProxyLock_);
  auto found = asyncHandlers_.find(key);
  if (found != asyncHandlers_.end()) {
    found->second(response);
  } else {
    LogMessage(LogLevel::Error, kLogGroupDbg, "Could not find registered handler for async service proxy event %s",
               key.c_str());
  }
}

void PluginCore::FulfilPendingRequest() {
  std::lock_guard<std::mutex> hold(serviceProxyLock_);
  for (auto parked = parkedResponses_.begin(); parked != parkedResponses_.end(); ++parked) {
    auto pending = pendingRequests_.find(parked->first);
    if (pending == pendingRequests_.end()) continue;
    // Both entries leave their tables before the handler runs: a one-shot
    // handler is called once, even if it fails.
    const std::string key = parked->first;
    const ServiceProxyHandler handler = std::move(pending->second);
    const PluginServiceProxyResponse response = std::move(parked->second);
    pendingRequests_.erase(pending);
    parkedResponses_.erase(parked);
    handler(response);
    LogMessage(LogLevel::Always, kLogGroupDbg, "Fulfilled service proxy request: %s", key.c_str());
    return;
  }
}

ApiCallResult PluginCore::CallCoreApi(int32_t method, const std::string& path, const void* payload,
                                      const BindingType* type) {
  const std::string methodName = HttpMethodName(HttpMethodFromCode(method));

  // Released after the call whatever happens: the parameters' values, then
  // the core's answer through its cleanup function.
  struct Exchange {
    HostApiResponse response;
    HostApiParameter parameter;
    Exchange() noexcept {
      std::memset(&response, 0, sizeof response);
      std::memset(&parameter, 0, sizeof parameter);
    }
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;
    ~Exchange() {
      ReleaseHostValue(parameter.value);
      if (response.cleanup != nullptr) response.cleanup(&response);
    }
  } exchange;

  BindingResult converted;
  std::string conversionError;
  if (conversionContext_ == nullptr || type == nullptr) {
    conversionError = "Couldn't convert native value because it's an unregistered structure.";
  } else {
    StoreRecord(converted, payload, type, *conversionContext_);
    if (!converted.Succeeded()) {
      conversionError = std::string(converted.Error());
    } else if (!ToHostValue(exchange.parameter.value, converted, conversionContext_)) {
      conversionError = "memory ran out";  // a partial payload is not sent
    }
  }
  ApiCallResult result;
  if (!conversionError.empty()) {
    result.failed = true;
    result.status = 400;
    result.message = Format("Request not sent: Error converting parameters for %1 %2: %3", methodName, path,
                            conversionError);
    return result;
  }

  HostApiRequest request;
  std::memset(&request, 0, sizeof request);
  request.method = static_cast<int32_t>(HttpMethodFromCode(method));
  request.path = path.c_str();
  request.parameters = &exchange.parameter;
  request.parameterCount = 1;
  request.pluginHandle = pluginHandle_;
  CallApi(&exchange.response, &request);

  if (exchange.response.errorText != nullptr) {
    result.failed = true;
    result.status = exchange.response.status;
    result.message = Format("Error response for %1 %2: %3", methodName, path, exchange.response.errorText);
  }
  return result;
}

}  // namespace Zarn
