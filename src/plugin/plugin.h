// Plugin: the framework class bound to the host. It forwards to the host's
// function table, holds what the load step and Initialize set up (names, API
// tags, registry, host context, entry table, description block) and gives
// feature classes their two hooks, RegisterApi and OnInitialized.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "binding/host_description.h"
#include "http/http_client.h"
#include "plugin/abi.h"
#include "plugin/plugin_core.h"
#include "plugin/plugin_version.h"

namespace Zarn {

class LogTarget;
class RemotingRegistry;

// One reference on the process-wide logging system, for as long as the
// holder lives: the last one to go destroys the log manager.
class LogReference {
 public:
  LogReference() noexcept;
  LogReference(const LogReference&) = delete;
  LogReference& operator=(const LogReference&) = delete;
  ~LogReference();
};

// A plugin type: its name and a second text, empty for both predefined types.
struct PluginType {
  std::string name;
  std::string detail;
};
extern const char kBackendPluginType[];   // "backend"
extern const char kFrontendPluginType[];  // "frontend"

struct PluginNames {
  std::string fullName;
  std::string shortName;
  PluginType type;
};

// "qmx-be-" + shortName for "backend", "qmx-fe-" for "frontend" (exact,
// case-sensitive); any other type logs an error and gives "qmx-xx-".
std::string GetFullNameFromShortNameAndType(const std::string& shortName, const PluginType& type);

// A plugin type as messages show it: name, ":", second text.
std::string PluginTypeText(const PluginType& type);

class Plugin : public PluginCore {
 public:
  Plugin();
  ~Plugin() override;

  uint32_t CallApi(HostApiResponse* response, const HostApiRequest* request) override;
  uint32_t SendHttpRequest(HostHttpResponse* response, const HostHttpRequest* request) override;
  uint32_t ForwardEntry2(uint32_t value) override;
  uint32_t Subscribe(const char* eventName, uint32_t pluginHandle, HostEventCallback callback,
                     void* userData, uint32_t flag) override;
  uint32_t Unsubscribe(const char* eventName, uint32_t pluginHandle) override;
  uint32_t ForwardEntry5(uint32_t a, uint32_t b, uint32_t c, uint64_t d, uint32_t e) override;
  uint32_t ForwardEntry6() override;
  uint32_t ForwardEntry7(const std::string& text, uint32_t value) override;
  uint32_t ForwardEntry8() override;

  // Called by the load step after the names, tags and plugin-manager types;
  // feature classes register their routes here.
  virtual void RegisterApi();
  // Called last by Initialize; its result is Initialize's.
  virtual bool OnInitialized();

  // Sends request to the core through SendHttpRequest with this plugin's
  // user agent (unless the request names one) and returns the decoded
  // answer; see SendHttpExchange. Blocks until the core has answered.
  HttpResponse SendRequest(const HttpRequest& request);
  // SendRequest of a GET of url with a copy of headers, an empty body, the
  // given option and flag true.
  HttpResponse Get(const std::string& url, int32_t option, const HttpHeaders& headers = {});

  // The load step (see plugin_loader.h). Returns false, changing nothing in
  // the record, when the core's version is not compatible.
  bool Load(PluginLoadRecord* record, const char* shortName);
  // The Initialize entry's work: host context, log target, user agent,
  // connection, OnInitialized.
  bool Initialize(HostContext* host);

  // Makes target the plugin's log target, destroying the previous one.
  void ReplaceLogTarget(std::unique_ptr<LogTarget> target) noexcept;

  const PluginApiVersion& coreVersion() const { return coreVersion_; }
  const PluginNames& names() const { return names_; }
  const std::vector<std::string>& apiTags() const { return apiTags_; }
  RemotingRegistry& registry() { return *registry_; }
  HostContext* hostContext() const { return hostContext_; }
  const PluginEntryTable& entryTable() const { return entryTable_; }
  const HostApiDescriptionBlock& descriptionBlock() const { return descriptionBlock_; }
  LogTarget* logTarget() const { return logTarget_.get(); }

 private:
  HostApi* api() const { return hostContext_->api; }

  // Members go in reverse order: registry, tags, names, log target, core
  // version, and last the logging reference, whose release may destroy the
  // log manager.
  LogReference logReference_;
  PluginApiVersion coreVersion_;
  std::unique_ptr<LogTarget> logTarget_;  // the plugin log target, once installed
  PluginNames names_;
  std::vector<std::string> apiTags_;
  std::unique_ptr<RemotingRegistry> registry_;
  HostContext* hostContext_ = nullptr;
  PluginEntryTable entryTable_{};
  HostApiDescriptionBlock descriptionBlock_{};
};

}  // namespace Zarn
