// The abstract runtime base of a plug-in: the operations it needs from the
// core, and the tables it keeps on the core's behalf.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "tov/plugin_abi.h"

namespace Vexa {

class AppModule {
 public:
  using EventHandler = std::function<void(const HostEvent&)>;

  AppModule() = default;
  AppModule(const AppModule&) = delete;
  AppModule& operator=(const AppModule&) = delete;

  virtual void Subscribe(const char* eventName);
  virtual void Unsubscribe(const char* eventName);
  virtual ~AppModule();
  // Unregisters every event handler from the core and empties the tables.
  virtual void Shutdown();

  // One operation per CoreApi entry 0 to 8, with the same arguments.
  virtual void Request(RemotingResponse* response, const RemotingRequest* request) = 0;
  virtual void Reserved1(uintptr_t a, uintptr_t b) = 0;
  virtual void SendEvent(const HostEvent* event) = 0;
  virtual void RegisterEventHandler(const char* eventName, uintptr_t coreHandle,
                                    HostEventCallback callback, void* context, uint32_t flags) = 0;
  virtual void UnregisterEventHandler(const char* eventName, uintptr_t coreHandle) = 0;
  virtual void ScheduleCallback(const char* label, ScheduledCallback callback, void* context,
                                double delaySeconds, uint32_t reserved) = 0;
  virtual void Pump() = 0;
  virtual void BeginWait(const char* label, uint32_t reserved) = 0;
  virtual void EndWait() = 0;

  uintptr_t CoreHandle() const { return coreHandle_; }
  const std::string& ShortName() const { return shortName_; }
  const std::string& UserAgent() const { return userAgent_; }
  // Names registered with the core, in registration order of first use.
  std::vector<std::string> RegisteredEventNames() const;

 protected:
  // Keeps the three values and registers the service-proxy events.
  void InitializeApp(uintptr_t coreHandle, const std::string& shortName, const std::string& userAgent);

  // Registers `handler` for `eventName` with the core (once per name).
  void AddEventHandler(const std::string& eventName, uint32_t flags, EventHandler handler);

 private:
  static void DeliverEvent(const HostEvent* event);

  uintptr_t coreHandle_ = 0;
  std::string shortName_;
  std::string userAgent_;
  std::map<std::string, EventHandler> eventHandlers_;
  std::map<std::string, int> subscriptionCounts_;
};

}  // namespace Vexa
