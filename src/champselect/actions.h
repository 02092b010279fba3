// Picks and bans by the local player: hovering a champion on its action and
// completing the action, forwarded to the platform (or, in battle training,
// completed here).
#pragma once

#include <cstdint>

#include "champselect/api.h"
#include "champselect/model.h"
#include "remoting/remoting.h"

namespace Vexa {
class AppModule;
}

namespace Vexa::Client::VoverOrevidAredez {

class PlatformState;
class Publisher;
class UxTimers;

class Actions {
 public:
  Actions(AppModule& module, ChampSelectModel& model, Publisher& publisher, PlatformState& platform, UxTimers& uxTimers)
      : module_(module), model_(model), publisher_(publisher), platform_(platform), uxTimers_(uxTimers) {}

  // Route 9: changes the champion of the local player's open action, and
  // completes it when the patch says so.
  RemotingResult PatchAction(std::int64_t id, const Api::ChampSelectAction& patch);
  // Route 10.
  RemotingResult CompleteAction(std::int64_t id);

 private:
  RemotingResult Complete(const Api::ChampSelectAction& snapshot, std::int32_t championId, const SessionWatch& watch);
  // The element of the session's groups with that action id; null when none.
  BindingNode* FindAction(std::int64_t id);
  void ActionDone();

  AppModule& module_;
  ChampSelectModel& model_;
  Publisher& publisher_;
  PlatformState& platform_;
  UxTimers& uxTimers_;
};

}  // namespace Vexa::Client::VoverOrevidAredez
