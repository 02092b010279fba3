// The runtime's own vocabulary: the types through which the core describes
// plug-in state and delivers resource, LCDS and service-proxy events.
#pragma once

#include <cstdint>
#include <string>

#include "binding/property.h"
#include "binding/registry.h"
#include "binding/type_identity.h"

namespace Vexa {

enum class PluginManagerState : std::int32_t { NotReady = 0, PluginsInitialized = 1 };

struct PluginManagerResource {
  PluginManagerState state = PluginManagerState::NotReady;
};

enum class PluginResourceEventType : std::int32_t { Create = 0, Update = 1, Delete = 2 };

struct PluginResourceEvent {
  std::string uri;
  PluginResourceEventType eventType = PluginResourceEventType::Create;
  BindingProperty data;
};

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

// Peers know these three by their identity.
template <>
inline constexpr std::uint32_t kFixedTypeId<PluginManagerResource> = 0xFA58397C;
template <>
inline constexpr std::uint32_t kFixedTypeId<PluginLcdsResponse> = 0xF4476A4F;
template <>
inline constexpr std::uint32_t kFixedTypeId<PluginResourceEvent> = 0xA54F35FD;

// The types under "vclient", then the five events, in that order.
void RegisterRuntimeTypes(BindingRegistry& registry);

}  // namespace Vexa
