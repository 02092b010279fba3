#include "runtime/runtime_types.h"

#include "binding/registration.h"

namespace Vexa {

void RegisterRuntimeTypes(BindingRegistry& registry) {
  constexpr const char* kNamespace = "vclient";
  RegisterEnum<PluginManagerState>(registry, "PluginManagerState")
      .Namespace(kNamespace)
      .Value("NotReady", PluginManagerState::NotReady)
      .Value("PluginsInitialized", PluginManagerState::PluginsInitialized);
  RegisterStruct<PluginManagerResource>(registry, "PluginManagerResource")
      .Namespace(kNamespace)
      .Field("state", &PluginManagerResource::state);
  RegisterEnum<PluginResourceEventType>(registry, "PluginResourceEventType")
      .Namespace(kNamespace)
      .Value("Create", PluginResourceEventType::Create)
      .Value("Update", PluginResourceEventType::Update)
      .Value("Delete", PluginResourceEventType::Delete);
  RegisterStruct<PluginResourceEvent>(registry, "PluginResourceEvent")
      .Namespace(kNamespace)
      .Field("uri", &PluginResourceEvent::uri)
      .Field("eventType", &PluginResourceEvent::eventType)
      .Field("data", &PluginResourceEvent::data);
  RegisterStruct<PluginLcdsEvent>(registry, "PluginLcdsEvent")
      .Namespace(kNamespace)
      .Field("clientId", &PluginLcdsEvent::clientId)
      .Field("subtopic", &PluginLcdsEvent::subtopic)
      .Field("typeName", &PluginLcdsEvent::typeName)
      .Field("body", &PluginLcdsEvent::body);
  RegisterStruct<PluginLcdsResponse>(registry, "PluginLcdsResponse")
      .Namespace(kNamespace)
      .Field("typeName", &PluginLcdsResponse::typeName)
      .Field("body", &PluginLcdsResponse::body);
  RegisterStruct<PluginServiceProxyResponse>(registry, "PluginServiceProxyResponse")
      .Namespace(kNamespace)
      .Field("uuid", &PluginServiceProxyResponse::uuid)
      .Field("serviceName", &PluginServiceProxyResponse::serviceName)
      .Field("methodName", &PluginServiceProxyResponse::methodName)
      .Field("payload", &PluginServiceProxyResponse::payload)
      .Field("status", &PluginServiceProxyResponse::status)
      .Field("error", &PluginServiceProxyResponse::error);

  const struct {
    const char* name;
    TypeIdentifier payload;
    const char* description;
  } events[] = {
      {"OnJsonApiEvent", TypeIdentifierFor<PluginResourceEvent>(registry), "Fired when a resource is changed."},
      {"OnLcdsEvent", TypeIdentifierFor<PluginLcdsEvent>(registry),
       "Fired when a message is received over the LCDS connection."},
      {"OnServiceProxyUuidEvent", TypeIdentifierFor<PluginServiceProxyResponse>(registry),
       "Fired when a uuid-based service proxy message is received."},
      {"OnServiceProxyMethodEvent", TypeIdentifierFor<PluginServiceProxyResponse>(registry),
       "Fired when a method-based service proxy message is received."},
      {"OnServiceProxyAsyncEvent", TypeIdentifierFor<PluginServiceProxyResponse>(registry),
       "Fired when an async service proxy message is received."},
  };
  for (const auto& event : events) (void)registry.RegisterEvent(event.name, event.payload, event.description);
}

}  // namespace Vexa
