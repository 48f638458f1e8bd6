// The plugin base: forwarders, names, the load step and Initialize.
#include "plugin/plugin.h"

#include "log/assertion.h"
#include "log/log.h"
#include "log/log_target.h"
#include "plugin/memory.h"
#include "plugin/plugin_log_target.h"
#include "plugin/plugin_loader.h"
#include "plugin/plugin_manager_types.h"
#include "remoting/remoting_registry.h"
#include "util/format.h"

namespace Zarn {

const char kBackendPluginType[] = "backend";
const char kFrontendPluginType[] = "frontend";

std::string PluginTypeText(const PluginType& type) { return type.name + ":" + type.detail; }

std::string GetFullNameFromShortNameAndType(const std::string& shortName, const PluginType& type) {
  const char* prefix = "qmx-xx-";
  if (type.name == kBackendPluginType) {
    prefix = "qmx-be-";
  } else if (type.name == kFrontendPluginType) {
    prefix = "qmx-fe-";
  } else {
    const std::string message =
        Format("GetFullNameFromShortNameAndType(\"%1\", \"%2\") called with an unknown type",
               shortName, PluginTypeText(type));
    LogMessage(LogLevel::Error, kLogGroupDbg, "            Plugin Manager| %s", message.c_str());
  }
  return prefix + shortName;
}

LogReference::LogReference() noexcept { LogAddRef(); }
LogReference::~LogReference() { LogRelease(); }

Plugin::Plugin() : registry_(std::make_unique<RemotingRegistry>()) {
  entryTable_ = {EntryInitialize, EntryShutdown, Memory::GetMemoryStatistics};
}

Plugin::~Plugin() = default;

void Plugin::ReplaceLogTarget(std::unique_ptr<LogTarget> target) noexcept {
  logTarget_ = std::move(target);
}

uint32_t Plugin::CallApi(HostApiResponse* response, const HostApiRequest* request) {
  return api()->CallApi(api(), response, request);
}
uint32_t Plugin::SendHttpRequest(HostHttpResponse* response, const HostHttpRequest* request) {
  return api()->SendHttpRequest(api(), response, request);
}
uint32_t Plugin::ForwardEntry2(uint32_t value) { return api()->Entry2(api(), value); }
uint32_t Plugin::Subscribe(const char* eventName, uint32_t pluginHandle, HostEventCallback callback,
                           void* userData, uint32_t flag) {
  return api()->Subscribe(api(), eventName, pluginHandle, callback, userData, flag);
}
uint32_t Plugin::Unsubscribe(const char* eventName, uint32_t pluginHandle) {
  return api()->Unsubscribe(api(), eventName, pluginHandle);
}
uint32_t Plugin::ForwardEntry5(uint32_t a, uint32_t b, uint32_t c, uint64_t d, uint32_t e) {
  return api()->Entry5(api(), a, b, c, d, e);
}
uint32_t Plugin::ForwardEntry6() { return api()->Entry6(api()); }
uint32_t Plugin::ForwardEntry7(const std::string& text, uint32_t value) {
  return api()->Entry7(api(), text.c_str(), value);
}
uint32_t Plugin::ForwardEntry8() { return api()->Entry8(api()); }

HttpResponse Plugin::SendRequest(const HttpRequest& request) {
  return SendHttpExchange(request, userAgent(), [this](HostHttpResponse* response, const HostHttpRequest* raw) {
    return SendHttpRequest(response, raw);
  });
}
HttpResponse Plugin::Get(const std::string& url, int32_t option, const HttpHeaders& headers) {
  return SendRequest(MakeGetRequest(url, option, headers));
}

void Plugin::RegisterApi() {}
bool Plugin::OnInitialized() { return true; }

bool Plugin::Load(PluginLoadRecord* record, const char* shortName) {
  PluginApiVersion core;
  core.major = record->major;
  core.minor = record->minor;
  core.patch = record->patch;
  const PluginApiVersion own = PluginVersion();
  if (!IsCompatible(own, core)) {
    ReportAssertion("ALE-EECF0606", "", "", 0, "");
    const std::string message =
        Format("%1 which supports plugin API %2 is not compatible with core's plugin API %3",
               shortName, own, core);
    LogMessage(LogLevel::Error, kLogGroupDbg, "%s", message.c_str());
    return false;
  }
  coreVersion_ = core;

  names_.shortName = shortName;
  names_.type = {kBackendPluginType, ""};
  names_.fullName = GetFullNameFromShortNameAndType(names_.shortName, names_.type);
  apiTags_ = {"Plugins", "Plugin " + names_.shortName};

  RegisterPluginManagerTypes(*registry_);
  conversionContext_ = registry_.get();
  RegisterApi();
  descriptionBlock_ = registry_->PublishRoutes();

  record->major = own.major;
  record->minor = own.minor;
  record->patch = own.patch;
  record->entryTable = &entryTable_;
  record->context = this;
  record->shortName = names_.shortName.c_str();
  record->description = &descriptionBlock_;
  return true;
}

bool Plugin::Initialize(HostContext* host) {
  hostContext_ = host;
  InstallPluginLogTarget(*this);
  Connect(host->pluginHandle, Format("ZarnClient/%1 (%2)", coreVersion_, names_.shortName));
  return OnInitialized();
}

}  // namespace Zarn
