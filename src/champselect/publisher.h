// Everything the champion select publishes goes out here, so that nothing
// is published for a session that no longer exists.
#pragma once

#include "champselect/model.h"
#include "runtime/runtime_types.h"

namespace Vexa {
class AppModule;
}

namespace Vexa::Client::VoverOrevidAredez {

class PlatformState;

class Publisher {
 public:
  Publisher(AppModule& module, const ChampSelectModel& model) : module_(module), model_(model) {}

  // The whole session; nothing while there is no session (an Update after
  // the Delete would bring a finished session back to the client).
  void Session(PluginResourceEventType type);
  void ImplementationActive(bool active);
  // The lists, when they can be computed (the summoner is logged in).
  void PickableChampions(const PlatformState& platform, PluginResourceEventType type);
  void BannableChampions(const PlatformState& platform, PluginResourceEventType type);
  // The team boost offer, which lives and dies with the session.
  void TeamBoost(const Api::TeamBoost& boost, PluginResourceEventType type);
  // The session and its three companions.
  void DeleteSessionResources();

 private:
  AppModule& module_;
  const ChampSelectModel& model_;
};

}  // namespace Vexa::Client::VoverOrevidAredez
