#include "runtime/app_module.h"

#include <cstring>

#include <vector>

#include "logging/logger.h"
#include "runtime/service_proxy.h"

namespace Vexa {

bool UriMatchesPattern(std::string_view pattern, std::string_view uri) {
  std::size_t p = 0, u = 0;
  while (p < pattern.size() && u < uri.size()) {
    if (pattern[p] != '*') {
      if (pattern[p] != uri[u]) return false;
      ++p, ++u;
    } else if (uri[u] != '/') {
      if (++u == uri.size()) ++p;
    } else {
      ++p;
    }
  }
  return p == pattern.size() && u == uri.size();
}

AppModule::AppModule() = default;
AppModule::~AppModule() { ForgetTickets(); }

void AppModule::InitializeApp(uintptr_t coreHandle, const std::string& shortName, const std::string& userAgent) {
  coreHandle_ = coreHandle;
  shortName_ = shortName;
  userAgent_ = userAgent;
  initialized_ = true;
  telemetry_ = std::make_unique<TelemetrySender>(*this);
  serviceProxy_ = std::make_unique<ServiceProxy>(*this);
  AddEventHandler<PluginServiceProxyResponse>(
      "OnServiceProxyUuidEvent", 1, [this](PluginServiceProxyResponse& answer) { serviceProxy_->OnUuidAnswer(answer); });
  AddEventHandler<PluginServiceProxyResponse>("OnServiceProxyMethodEvent", 1, [this](PluginServiceProxyResponse& answer) {
    serviceProxy_->OnMethodAnswer(answer);
  });
  AddEventHandler<PluginServiceProxyResponse>(
      "OnServiceProxyAsyncEvent", 1, [this](PluginServiceProxyResponse& answer) { serviceProxy_->OnAsyncAnswer(answer); });
}

bool AppModule::Refused(const char* operation, const std::string& name) const {
  if (IsStopping()) {
    Logging::Log(Logging::kError, Logging::kGroupDbg, "%s: %s for %s refused: the plug-in is shutting down",
                 shortName_.c_str(), operation, name.c_str());
    return true;
  }
  if (!initialized_) {
    Logging::Log(Logging::kError, Logging::kGroupDbg, "%s: %s for %s before Init refused: the core is not connected",
                 shortName_.c_str(), operation, name.c_str());
    return true;
  }
  return false;
}

// The event's data stays the core's value: each observer converts it into
// its own type on its own.
struct AppModule::ResourceEventHandler final : AppModule::EventHandlerEntry {
  void Handle(AppModule& module, const HostEvent& event) override {
    std::string error;
    if (!HostValueConvertible(event.payload, "<result>", error)) return;
    const HostValueInput payload(event.payload);
    PluginResourceEvent resource;
    BindingProperty result;
    StructFromBinding(result, payload, "<result>", &resource,
                      module.registry_->FindType(TypeIdentity::Of<PluginResourceEvent>()), *module.registry_, "data");
    if (!result.IsValid()) return;
    DeliveredValue data(payload.Find("data"));
    module.DispatchResource(resource, data);
  }
};

void AppModule::Subscribe(const std::string& uri) {
  if (Refused("Subscribe", uri)) return;
  const std::string name = EventNameForUri(uri);
  if (++subscriptionCounts_[name] != 1) return;
  InstallEventHandler(name, 0, std::make_shared<ResourceEventHandler>());
}

void AppModule::Unsubscribe(const std::string& uri) {
  const std::string name = EventNameForUri(uri);
  const auto it = subscriptionCounts_.find(name);
  if (it == subscriptionCounts_.end()) return;  // never subscribed: nothing to give back
  if (--it->second != 0) return;
  subscriptionCounts_.erase(it);
  UnregisterEventHandler(name.c_str(), coreHandle_);
  eventHandlers_.erase(name);
}

std::uint32_t AppModule::SubscriptionCount(const std::string& eventName) const {
  const auto it = subscriptionCounts_.find(eventName);
  return it == subscriptionCounts_.end() ? 0 : it->second;
}

void AppModule::Shutdown() {
  SetStopping();
  // Moved out first: an unregistration that re-enters must not see a table
  // that is being walked.
  const auto handlers = std::move(eventHandlers_);
  eventHandlers_.clear();
  for (const auto& entry : handlers) UnregisterEventHandler(entry.first.c_str(), coreHandle_);
  subscriptionCounts_.clear();
  exactObservers_.clear();
  patternObservers_.clear();
  lcdsHandlers_.clear();
  timers_.clear();
  ForgetTickets();
  if (serviceProxy_) serviceProxy_->Clear();
}

std::vector<std::string> AppModule::RegisteredEventNames() const {
  std::vector<std::string> names;
  for (const auto& entry : eventHandlers_) names.push_back(entry.first);
  return names;
}

void AppModule::AddObserver(const std::string& uri, ResourceObserver observer) {
  if (uri.find('*') != std::string::npos)
    patternObservers_[uri] = std::move(observer);
  else
    exactObservers_[uri] = std::move(observer);
}

void AppModule::DeliverEvent(const HostEvent* event) {
  if (!event || !event->name || !event->context) return;
  auto* self = static_cast<AppModule*>(event->context);
  const auto it = self->eventHandlers_.find(event->name);
  if (it == self->eventHandlers_.end()) return;
  // The handler may replace or unregister itself; keep it alive for this call.
  const std::shared_ptr<EventHandlerEntry> handler = it->second;
  try {
    handler->Handle(*self, *event);
  } catch (...) {
    HandlerFailed(self->shortName_, event->name);  // never unwinds into the core
  }
}

void AppModule::InstallEventHandler(const std::string& eventName, uint32_t flags,
                                    std::shared_ptr<EventHandlerEntry> entry) {
  eventHandlers_[eventName] = std::move(entry);
  RegisterEventHandler(eventName.c_str(), coreHandle_, &AppModule::DeliverEvent, this, flags);
}

void AppModule::DispatchResource(PluginResourceEvent& event, DeliveredValue& data) {
  if (event.uri.empty() || event.uri.front() != '/') event.uri.insert(event.uri.begin(), '/');
  if (const auto it = exactObservers_.find(event.uri); it != exactObservers_.end()) {
    const ResourceObserver observer = it->second;
    (*observer)(event, data);
  }
  // An observer may add, replace or (through Shutdown) remove observers:
  // walk a snapshot and call only those still stored under their pattern.
  std::vector<std::pair<std::string, ResourceObserver>> matching;
  for (const auto& [pattern, observer] : patternObservers_)
    if (UriMatchesPattern(pattern, event.uri)) matching.emplace_back(pattern, observer);
  for (const auto& [pattern, observer] : matching) {
    const auto it = patternObservers_.find(pattern);
    if (it != patternObservers_.end() && it->second == observer) (*observer)(event, data);
  }
}

AppModule::Result<void> AppModule::PublishDeleted(const std::string& uri) {
  BindingProperty event;
  ResourceEventFields(event, PluginResourceEventType::Delete, uri);
  return SendResourceTree("OnJsonApiEvent", uri, event, 0);
}

AppModule::Result<void> AppModule::SendResourceEvent(const std::string& eventName, const PluginResourceEvent& payload,
                                                     uintptr_t context) {
  const BindingProperty tree = ToBinding(payload, *registry_);
  if (!tree.IsValid()) return Failure(std::string(tree.FailureMessage()));
  return SendResourceTree(eventName, payload.uri, tree, context);
}

BindingNode& AppModule::ResourceEventFields(BindingProperty& event, PluginResourceEventType type,
                                            const std::string& uri) {
  event.MakeStructure();
  event.Field("uri").SetString(uri);
  event.Field("eventType").SetEnum(EnumValue{static_cast<std::int32_t>(type), &TypeIdentity::Of<PluginResourceEventType>()});
  return event.Field("data");
}

AppModule::Result<void> AppModule::SendResourceTree(const std::string& eventName, const std::string& uri,
                                                    const BindingNode& tree, uintptr_t context) {
  // One value serves both events, its texts borrowed from the tree: the core
  // copies what it keeps before SendEvent returns.
  HostValueArena arena;
  HostValue value{};
  BindingToHostValue(tree, value, registry_, HostValueTexts::Borrowed, &arena);
  SendBoth(eventName, uri, value, context);
  return {};
}

AppModule::Result<void> AppModule::SendResourceData(const std::string& eventName, PluginResourceEventType type,
                                                    const std::string& uri, const HostValue& data,
                                                    uintptr_t context) {
  // The fields in name order, as a tree of the event would hold them.
  HostObjectEntry entries[3] = {};
  HostValueArena unused;  // a text and an enum need no arrays
  BindingProperty result;
  HostValue eventType{}, uriText{};
  NativeConversion<PluginResourceEventType>::ToHost(eventType, unused, result, type, nullptr, *registry_);
  NativeConversion<std::string>::ToHost(uriText, unused, result, uri, nullptr, *registry_);
  entries[0].key = "data";
  entries[0].value = data;
  entries[1].key = "eventType";
  entries[1].value = eventType;
  entries[2].key = "uri";
  entries[2].value = uriText;
  HostValue event{};
  event.kind = HostValueKind_Object;
  event.u.object.entries = entries;
  event.u.object.count = 3;
  SendBoth(eventName, uri, event, context);
  return {};
}

void AppModule::SendBoth(const std::string& eventName, const std::string& uri, const HostValue& value,
                         uintptr_t context) {
  const std::string derived = EventNameForUri(uri);
  HostEvent event{derived.c_str(), value, reinterpret_cast<void*>(context)};
  SendEvent(&event);
  if (eventName != derived) {
    event.name = eventName.c_str();
    SendEvent(&event);
  }
}

}  // namespace Vexa
