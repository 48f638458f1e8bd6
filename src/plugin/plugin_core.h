// PluginCore: the abstract core of every plugin. It owns the tables of event
// handlers and implements Shutdown; the operations that need the host are
// pure and implemented by Plugin against the host's function table.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "plugin/abi.h"

namespace Zarn {

class BindingRegistry;
class PluginCore;

// What the event-callback table holds for one host event name: receives the
// events of that name. Held through a shared pointer so that replacing an
// entry releases the previous handler.
class HostEventHandler {
 public:
  virtual ~HostEventHandler() = default;
  virtual void Deliver(PluginCore& plugin, const HostEventRecord& event) = 0;
};

class PluginCore {
 public:
  PluginCore();
  PluginCore(const PluginCore&) = delete;
  PluginCore& operator=(const PluginCore&) = delete;
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

  uint32_t pluginHandle() const { return pluginHandle_; }
  const std::string& userAgent() const { return userAgent_; }
  bool shuttingDown() const { return shuttingDown_; }
  void SetShuttingDown() { shuttingDown_ = true; }

 protected:
  // Connection to the core: keeps the plugin handle and the user agent.
  void Connect(uint32_t pluginHandle, std::string userAgent);

  // The registry whose types event payloads convert into.
  const BindingRegistry* conversionContext_ = nullptr;
  std::unordered_map<std::string, std::shared_ptr<HostEventHandler>> eventCallbacks_;
  std::unordered_map<std::string, int32_t> subscriptionCounts_;

 private:
  uint32_t pluginHandle_ = 0;
  std::string userAgent_;
  bool shuttingDown_ = false;
};

}  // namespace Zarn
