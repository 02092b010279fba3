// The runtime's host side: the handshake, the PluginCallbacks entries and
// the CoreApi operations of a plug-in.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "binding/registry.h"
#include "binding/semantic_version.h"
#include "remoting/remoting.h"
#include "runtime/app_module.h"
#include "runtime/plugin_log_target.h"
#include "tov/plugin_abi.h"

namespace Vexa {

struct PluginNaming {
  std::string fullName;
  std::string shortName;
  PluginKind kind;
};

class PluginModule : public AppModule {
 public:
  PluginModule();
  ~PluginModule() override;

  // Fills the handshake record; ends the process when the core's plug-in
  // API is incompatible.
  void Handshake(PluginHandshake* record, const char* shortName);
  uint8_t Init(const CoreContext* context);
  void GetMemoryStats(PluginMemoryStats* out) const;
  // Sets the stopping flag and runs the virtual Shutdown; the caller then
  // destroys the object.
  void Stop();

  void Request(RemotingResponse* response, const RemotingRequest* request) override;
  void Reserved1(uintptr_t a, uintptr_t b) override;
  void SendEvent(const HostEvent* event) override;
  void RegisterEventHandler(const char* eventName, uintptr_t coreHandle, HostEventCallback callback,
                            void* context, uint32_t flags) override;
  void UnregisterEventHandler(const char* eventName, uintptr_t coreHandle) override;
  void ScheduleCallback(const char* label, ScheduledCallback callback, void* context,
                        double delaySeconds, uint32_t reserved) override;
  void Pump() override;
  void BeginWait(const char* label, uint32_t reserved) override;
  void EndWait() override;

  // The concrete plug-in registers its routes and API types here.
  virtual void RegisterRoutes() {}
  // The concrete plug-in starts its own work here.
  virtual bool Initialize() { return true; }

  const PluginCallbacks* Callbacks() const { return &callbacks_; }
  const PluginNaming& Naming() const { return naming_; }
  const SemanticVersion& CoreVersion() const { return coreVersion_; }
  const std::string& RouteNamespace() const { return routeNamespace_; }
  const std::vector<std::string>& LogCategories() const { return logCategories_; }
  bool Stopping() const { return IsStopping(); }
  const CoreApi* Api() const { return context_ ? context_->api : nullptr; }
  Remoting& Routes() { return remoting_; }

 private:
  // False, with an ERROR line, before Init: the core's table is not known.
  bool Connected(const char* operation) const;
  void InstallLogTarget();
  void ReleaseLogTarget();

  const CoreContext* context_ = nullptr;
  SemanticVersion coreVersion_;
  PluginNaming naming_;
  std::string routeNamespace_;
  std::vector<std::string> logCategories_;
  std::unique_ptr<PluginLogTarget> logTarget_;
  PluginCallbacks callbacks_;
  // The types, functions and events of the plug-in's API, and its routes.
  BindingRegistry registry_;
  Remoting remoting_{registry_};
  const ApiDescription* apiDescription_ = nullptr;
};

}  // namespace Vexa
