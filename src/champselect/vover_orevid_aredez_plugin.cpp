#include "champselect/vover_orevid_aredez_plugin.h"

#include <cstring>
#include <new>

#include "champselect/api.h"
#include "champselect/champ_select.h"
#include "champselect/lcds.h"
#include "champselect/routes.h"
#include "logging/logger.h"
#include "logging/trace.h"
#include "runtime/allocator.h"

namespace Vexa::Client::VoverOrevidAredez {

VoverOrevidAredezPlugin::VoverOrevidAredezPlugin() : champSelect_(std::make_unique<ChampSelect>(*this, *this)) {}

VoverOrevidAredezPlugin::~VoverOrevidAredezPlugin() = default;

void VoverOrevidAredezPlugin::RegisterRoutes() {
  Api::RegisterApiTypes(Registry());
  LCDS::RegisterLcdsTypes(*this);
  RegisterChampSelectRoutes(Routes(), *champSelect_);
}

bool VoverOrevidAredezPlugin::Initialize() {
  Logging::Log(Logging::kAlways, Logging::kGroupDbg, "%s: Initialized (%s).", kShortName, UserAgent().c_str());
  champSelect_->Start();
  return true;
}

void VoverOrevidAredezPlugin::Shutdown() {
  Logging::Log(Logging::kAlways, Logging::kGroupDbg, "%s: Shutting down.", kShortName);
  champSelect_->Stop();
  PluginModule::Shutdown();
}

}  // namespace Vexa::Client::VoverOrevidAredez

using Vexa::Client::VoverOrevidAredez::VoverOrevidAredezPlugin;

extern "C" void load_tov_champ_select_legacy(PluginHandshake* record) noexcept {
  namespace Logging = Vexa::Logging;
  if (!record) {
    Logging::Log(Logging::kError, Logging::kGroupDbg, "%s: load_tov_champ_select_legacy called without a handshake record",
                 Vexa::Client::VoverOrevidAredez::kShortName);
    return;
  }
  void* storage = Vexa::Memory::Allocate(sizeof(VoverOrevidAredezPlugin));
  if (!storage) {
    Logging::Log(Logging::kError, Logging::kGroupDbg, "%s: out of memory creating the plugin",
                 Vexa::Client::VoverOrevidAredez::kShortName);
    record->callbacks = nullptr;
    record->plugin = nullptr;
    return;
  }
  std::memset(storage, 0, sizeof(VoverOrevidAredezPlugin));
  VoverOrevidAredezPlugin* plugin = nullptr;
  try {
    plugin = new (storage) VoverOrevidAredezPlugin();
    plugin->Handshake(record, Vexa::Client::VoverOrevidAredez::kShortName);
  } catch (...) {
    if (plugin) plugin->~VoverOrevidAredezPlugin();
    Vexa::Memory::Free(storage);
    record->callbacks = nullptr;
    record->plugin = nullptr;
    record->shortName = nullptr;
    record->apiDescription = nullptr;
  }
}

namespace {
// The trace providers register while the module's static data is set up.
[[maybe_unused]] const Vexa::Logging::TraceModule& g_trace = Vexa::Logging::ProcessTrace();
}  // namespace
