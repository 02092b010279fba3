#include "champselect/publisher.h"

#include "champselect/platform_state.h"
#include "runtime/app_module.h"

namespace Vexa::Client::VoverOrevidAredez {

void Publisher::Session(PluginResourceEventType type) {
  if (!model_.HasSession()) return;
  (void)module_.Publish(type, Paths::kSession, model_.session);
}

void Publisher::ImplementationActive(bool active) {
  (void)module_.Publish(PluginResourceEventType::Update, Paths::kImplementationActive, active);
}

void Publisher::PickableChampions(const PlatformState& platform, PluginResourceEventType type) {
  if (auto pickable = platform.GetPickableChampions()) (void)module_.Publish(type, Paths::kPickableChampions, pickable.Value());
}

void Publisher::BannableChampions(const PlatformState& platform, PluginResourceEventType type) {
  if (auto bannable = platform.GetBannableChampions()) (void)module_.Publish(type, Paths::kBannableChampions, bannable.Value());
}

void Publisher::TeamBoost(const Api::TeamBoost& boost, PluginResourceEventType type) {
  if (model_.HasSession()) (void)module_.Publish(type, Paths::kTeamBoost, boost);
}

void Publisher::DeleteSessionResources() {
  for (const char* path : {Paths::kSession, Paths::kPickableChampions, Paths::kBannableChampions, Paths::kTeamBoost})
    (void)module_.PublishDeleted(path);
}

}  // namespace Vexa::Client::VoverOrevidAredez
