#include "runtime/app_module.h"

#include <vector>

namespace Vexa {

AppModule::~AppModule() = default;

void AppModule::Subscribe(const char* eventName) { ++subscriptionCounts_[eventName]; }

void AppModule::Unsubscribe(const char* eventName) {
  auto it = subscriptionCounts_.find(eventName);
  if (it != subscriptionCounts_.end() && --it->second <= 0) subscriptionCounts_.erase(it);
}

void AppModule::Shutdown() {
  for (const auto& [name, handler] : eventHandlers_) UnregisterEventHandler(name.c_str(), coreHandle_);
  eventHandlers_.clear();
  subscriptionCounts_.clear();
}

std::vector<std::string> AppModule::RegisteredEventNames() const {
  std::vector<std::string> names;
  for (const auto& entry : eventHandlers_) names.push_back(entry.first);
  return names;
}

void AppModule::InitializeApp(uintptr_t coreHandle, const std::string& shortName,
                              const std::string& userAgent) {
  coreHandle_ = coreHandle;
  shortName_ = shortName;
  userAgent_ = userAgent;
  // Answers of the service proxy arrive as these events; the matching of
  // answers to requests hangs off them.
  for (const char* name : {"OnServiceProxyUuidEvent", "OnServiceProxyMethodEvent", "OnServiceProxyAsyncEvent"})
    AddEventHandler(name, 1, [](const HostEvent&) {});
}

void AppModule::AddEventHandler(const std::string& eventName, uint32_t flags, EventHandler handler) {
  auto [it, added] = eventHandlers_.try_emplace(eventName, std::move(handler));
  if (added) RegisterEventHandler(it->first.c_str(), coreHandle_, &AppModule::DeliverEvent, this, flags);
}

void AppModule::DeliverEvent(const HostEvent* event) {
  if (!event || !event->name || !event->context) return;
  auto* self = static_cast<AppModule*>(event->context);
  auto it = self->eventHandlers_.find(event->name);
  if (it == self->eventHandlers_.end()) return;
  // A handler may unregister itself; keep it alive for this call.
  EventHandler handler = it->second;
  handler(*event);
}

}  // namespace Vexa
