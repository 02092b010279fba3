#include "runtime/vover_orevid_aredez_plugin.h"

#include <cstring>
#include <new>

#include "formats/json.h"
#include "logging/logger.h"
#include "logging/trace.h"
#include "runtime/allocator.h"

namespace Vexa::Client::VoverOrevidAredez {

bool VoverOrevidAredezPlugin::Initialize() {
  Logging::Log(Logging::kAlways, Logging::kGroupDbg, "%s: Initialized (%s).", kShortName, UserAgent().c_str());
  // What the match flow and the platform tell the plug-in, until the
  // champion-select model takes these over.
  Observe<BindingProperty>("/tov-gameflow/v1/session",
                           [](const std::string& uri, PluginResourceEventType type, const BindingProperty& value) {
                             static const char* const kTypes[] = {"Create", "Update", "Delete"};
                             Logging::Log(Logging::kOkay, Logging::kGroupDbg, "%s: %s %s: %s", kShortName,
                                          kTypes[static_cast<int>(type) % 3], uri.c_str(), ToJson(value).c_str());
                           });
  SubscribeLcds<BindingProperty>("com.vexagames.platform.game.GameDTO", [](const BindingProperty& game) {
    Logging::Log(Logging::kOkay, Logging::kGroupDbg, "%s: platform message GameDTO: %s", kShortName,
                 ToJson(game).c_str());
  });
  return true;
}

void VoverOrevidAredezPlugin::Shutdown() {
  Logging::Log(Logging::kAlways, Logging::kGroupDbg, "%s: Shutting down.", kShortName);
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
