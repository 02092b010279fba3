#include "runtime/plugin_module.h"

#include <algorithm>
#include <mutex>

#include "binding/api_help.h"
#include "binding/message_format.h"
#include "logging/logger.h"
#include "runtime/allocator.h"
#include "runtime/fatal.h"
#include "runtime/plugin_naming.h"
#include "runtime/runtime_types.h"

namespace Vexa {
namespace {

// Initialised plug-in objects of this module, so that when the one whose log
// target forwards to the core goes away, a survivor can take over.
std::mutex g_liveMutex;
std::vector<PluginModule*> g_live;

uint8_t InitEntry(void* plugin, const CoreContext* context) noexcept {
  if (!plugin || !context || !context->api) return 0;
  try {
    return static_cast<PluginModule*>(plugin)->Init(context);
  } catch (...) {
    Logging::Log(Logging::kError, Logging::kGroupDbg, "%s: Init failed with an exception",
                 static_cast<PluginModule*>(plugin)->Naming().shortName.c_str());
    return 0;
  }
}

void ShutdownEntry(void* plugin) noexcept {
  if (!plugin) return;
  auto* module = static_cast<PluginModule*>(plugin);
  try {
    module->Stop();
  } catch (...) {
    // Destruction below still releases everything the plug-in holds.
  }
  module->~PluginModule();
  Memory::Free(module);
}

void GetMemoryStatsEntry(void* plugin, PluginMemoryStats* out) noexcept {
  if (plugin && out) static_cast<PluginModule*>(plugin)->GetMemoryStats(out);
}

}  // namespace

PluginModule::PluginModule() : callbacks_{InitEntry, ShutdownEntry, GetMemoryStatsEntry} {
  SetRegistry(&registry_);
  const Logging::LoggerApi* logger = Logging::Logger();
  logger->Initialize(logger);
}

PluginModule::~PluginModule() {
  {
    std::lock_guard lock(g_liveMutex);
    g_live.erase(std::remove(g_live.begin(), g_live.end(), this), g_live.end());
  }
  ReleaseLogTarget();
  const Logging::LoggerApi* logger = Logging::Logger();
  logger->Shutdown(logger);
}

void PluginModule::Handshake(PluginHandshake* record, const char* shortName) {
  const SemanticVersion mine = VersionOf(kPluginApiMajor, kPluginApiMinor, kPluginApiPatch);
  const SemanticVersion core = VersionOf(record->major, record->minor, record->patch);
  if (!IsCompatible(mine, core)) {
    char text[512];
    FormatTo(text, sizeof text, "%1 which supports plugin API %2 is not compatible with core's plugin API %3",
             shortName, mine, core);
    Logging::Log(Logging::kError, Logging::kGroupDbg, "%s", text);
    FatalReport("ALE-EECF0606");
  }
  coreVersion_ = core;
  const PluginKind backend{"backend", ""};
  naming_ = PluginNaming{GetFullNameFromShortNameAndType(shortName, backend), shortName, backend};
  SetShortName(naming_.shortName);
  logCategories_ = {"Plugins", "Plugin " + naming_.shortName};
  routeNamespace_ = ApiNameFromShortName(naming_.shortName);
  RegisterBuiltinTypes(registry_);
  RegisterRuntimeTypes(registry_);
  RegisterRoutes();
  apiDescription_ = remoting_.Export();

  record->major = mine.major;
  record->minor = mine.minor;
  record->patch = mine.patch;
  record->callbacks = &callbacks_;
  record->plugin = this;
  record->shortName = naming_.shortName.c_str();
  record->apiDescription = apiDescription_;
}

uint8_t PluginModule::Init(const CoreContext* context) {
  context_ = context;
  InstallLogTarget();
  {
    std::lock_guard lock(g_liveMutex);
    g_live.push_back(this);
  }
  const std::string userAgent = "VexaClient/" + coreVersion_.ToString() + " (" + naming_.shortName + ")";
  InitializeApp(context->coreHandle, naming_.shortName, userAgent);
  return Initialize() ? 1 : 0;
}

void PluginModule::InstallLogTarget() {
  const Logging::LoggerApi* logger = Logging::Logger();
  if (logger->FindTarget(logger, "PluginLogTarget")) return;
  logger->DetachTarget(logger, logger->StdOutTarget(logger));
  logger->DetachTarget(logger, logger->StdErrTarget(logger));
  logger->DetachTarget(logger, logger->DebuggerTarget(logger));
  logger->SetMinimumLevel(logger, 0);
  logger->SetMutedGroups(logger, Logging::kGroupXtr);
  logTarget_ = std::make_unique<PluginLogTarget>(context_->api);
  logTarget_->SetLevel(logger->GetMinimumLevel(logger));
  logTarget_->SetGroups(0, 0);
  logTarget_->SetLinePattern("#D| #L| #G| #M");
  logTarget_->Attach();
}

void PluginModule::ReleaseLogTarget() {
  if (!logTarget_) return;
  const bool forwarding = logTarget_->IsAttached();
  logTarget_.reset();  // detaches before the table goes away
  if (!forwarding) return;
  std::lock_guard lock(g_liveMutex);
  if (!g_live.empty()) g_live.front()->InstallLogTarget();
}

void PluginModule::GetMemoryStats(PluginMemoryStats* out) const { Memory::ProcessCounters().Read(out); }

void PluginModule::Stop() {
  SetStopping();
  Shutdown();
}

bool PluginModule::Connected(const char* operation) const {
  if (Api()) return true;
  Logging::Log(Logging::kError, Logging::kGroupDbg, "%s: %s before Init refused: the core is not connected",
               naming_.shortName.c_str(), operation);
  return false;
}

void PluginModule::Request(RemotingResponse* response, const RemotingRequest* request) {
  if (!Connected("Request")) {
    response->error = "The core is not connected";  // static text: the response has no release
    return;
  }
  Api()->Request(Api(), response, request);
}
void PluginModule::Reserved1(uintptr_t a, uintptr_t b) {
  if (Connected("Reserved1")) Api()->Reserved1(Api(), a, b);
}
void PluginModule::SendEvent(const HostEvent* event) {
  if (Connected("SendEvent")) Api()->SendEvent(Api(), event);
}
void PluginModule::RegisterEventHandler(const char* eventName, uintptr_t coreHandle,
                                        HostEventCallback callback, void* context, uint32_t flags) {
  if (Connected("RegisterEventHandler"))
    Api()->RegisterEventHandler(Api(), eventName, coreHandle, callback, context, flags);
}
void PluginModule::UnregisterEventHandler(const char* eventName, uintptr_t coreHandle) {
  if (Connected("UnregisterEventHandler")) Api()->UnregisterEventHandler(Api(), eventName, coreHandle);
}
void PluginModule::ScheduleCallback(const char* label, ScheduledCallback callback, void* context,
                                    double delaySeconds, uint32_t reserved) {
  if (Connected("ScheduleCallback")) Api()->ScheduleCallback(Api(), label, callback, context, delaySeconds, reserved);
}
void PluginModule::Pump() {
  if (Connected("Pump")) Api()->Pump(Api());
}
void PluginModule::BeginWait(const char* label, uint32_t reserved) {
  if (Connected("BeginWait")) Api()->BeginWait(Api(), label, reserved);
}
void PluginModule::EndWait() {
  if (Connected("EndWait")) Api()->EndWait(Api());
}

}  // namespace Vexa
