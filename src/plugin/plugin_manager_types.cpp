// Registration of the plugin-manager types and events.
#include "plugin/plugin_manager_types.h"

#include "binding/binding_registry.h"

namespace Zarn {

void RegisterPluginManagerTypes(BindingRegistry& registry) {
  using namespace Client;
  using namespace Client::AppModule;
  registry.RegisterType<PluginManagerState>("PluginManagerState")
      .AddEnumerator("NotReady", NotReady)
      .AddEnumerator("PluginsInitialized", PluginsInitialized)
      .AddTag("zclient");
  registry.RegisterType<PluginManagerResource>("PluginManagerResource")
      .AddField("state", &PluginManagerResource::state)
      .AddTag("zclient");
  registry.RegisterType<PluginResourceEventType>("PluginResourceEventType")
      .AddEnumerator("Create", Create)
      .AddEnumerator("Update", Update)
      .AddEnumerator("Delete", Delete)
      .AddTag("zclient");
  registry.RegisterType<PluginResourceEvent>("PluginResourceEvent")
      .AddField("uri", &PluginResourceEvent::uri)
      .AddField("eventType", &PluginResourceEvent::eventType)
      .AddField("data", &PluginResourceEvent::data)
      .AddTag("zclient");
  registry.RegisterType<PluginLcdsEvent>("PluginLcdsEvent")
      .AddField("clientId", &PluginLcdsEvent::clientId)
      .AddField("subtopic", &PluginLcdsEvent::subtopic)
      .AddField("typeName", &PluginLcdsEvent::typeName)
      .AddField("body", &PluginLcdsEvent::body)
      .AddTag("zclient");
  registry.RegisterType<PluginLcdsResponse>("PluginLcdsResponse")
      .AddField("typeName", &PluginLcdsResponse::typeName)
      .AddField("body", &PluginLcdsResponse::body)
      .AddTag("zclient");
  registry.RegisterType<PluginServiceProxyResponse>("PluginServiceProxyResponse")
      .AddField("uuid", &PluginServiceProxyResponse::uuid)
      .AddField("serviceName", &PluginServiceProxyResponse::serviceName)
      .AddField("methodName", &PluginServiceProxyResponse::methodName)
      .AddField("payload", &PluginServiceProxyResponse::payload)
      .AddField("status", &PluginServiceProxyResponse::status)
      .AddField("error", &PluginServiceProxyResponse::error)
      .AddTag("zclient");

  struct EventRow {
    const char* name;
    const StaticTypeId* payload;
    const char* description;
  };
  const EventRow events[] = {
      {"OnJsonApiEvent", StaticType::HashCode<PluginResourceEvent>(), "Fired when a resource is changed."},
      {"OnLcdsEvent", StaticType::HashCode<PluginLcdsEvent>(),
       "Fired when a message is received over the LCDS connection."},
      {"OnServiceProxyUuidEvent", StaticType::HashCode<PluginServiceProxyResponse>(),
       "Fired when a uuid-based service proxy message is received."},
      {"OnServiceProxyMethodEvent", StaticType::HashCode<PluginServiceProxyResponse>(),
       "Fired when a method-based service proxy message is received."},
      {"OnServiceProxyAsyncEvent", StaticType::HashCode<PluginServiceProxyResponse>(),
       "Fired when an async service proxy message is received."},
  };
  for (const EventRow& row : events) {
    registry.RegisterEvent(row.name, registry.FindTypeById(row.payload))
        .SetDescription(row.description)
        .AddTag("zclient");
  }
}

}  // namespace Zarn
