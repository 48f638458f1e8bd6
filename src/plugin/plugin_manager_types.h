// The plugin-manager records that the core's event payloads convert into,
// and their registration in the plugin's registry.
#pragma once

#include <cstdint>
#include <string>

#include "binding/static_type.h"
#include "values/binding_property.h"

namespace Zarn {

class BindingRegistry;

namespace Client {

enum PluginManagerState : int32_t { NotReady = 0, PluginsInitialized = 1 };

struct PluginManagerResource {
  PluginManagerState state = NotReady;
};

enum PluginResourceEventType : int32_t { Create = 0, Update = 1, Delete = 2 };

struct PluginResourceEvent {
  std::string uri;
  PluginResourceEventType eventType = Create;
  BindingProperty data;
};

namespace AppModule {

struct PluginLcdsEvent {
  std::string clientId;
  std::string subtopic;
  std::string typeName;
  BindingProperty body;
};

struct PluginLcdsResponse {
  std::string typeName;
  BindingProperty body;
};

struct PluginServiceProxyResponse {
  std::string uuid;
  std::string serviceName;
  std::string methodName;
  std::string payload;
  std::string status;
  std::string error;
};

}  // namespace AppModule
}  // namespace Client

// A resource of the core's REST API; only its identity is used.
struct Resource {};

ZARN_TYPE_SPELLING(Client::PluginManagerState, "enum Zarn::Client::PluginManagerState");
ZARN_TYPE_SPELLING(Client::PluginManagerResource, "struct Zarn::Client::PluginManagerResource");
ZARN_TYPE_SPELLING(Client::PluginResourceEventType, "enum Zarn::Client::PluginResourceEventType");
ZARN_TYPE_SPELLING(Client::PluginResourceEvent, "struct Zarn::Client::PluginResourceEvent");
ZARN_TYPE_SPELLING(Client::AppModule::PluginLcdsEvent, "struct Zarn::Client::AppModule::PluginLcdsEvent");
ZARN_TYPE_SPELLING(Client::AppModule::PluginLcdsResponse, "struct Zarn::Client::AppModule::PluginLcdsResponse");
ZARN_TYPE_SPELLING(Client::AppModule::PluginServiceProxyResponse,
                   "struct Zarn::Client::AppModule::PluginServiceProxyResponse");
ZARN_TYPE_SPELLING(Resource, "struct Zarn::Resource");

// Registers the plugin-manager types and events, each tagged "zclient";
// names already registered keep their first registration.
void RegisterPluginManagerTypes(BindingRegistry& registry);

}  // namespace Zarn
