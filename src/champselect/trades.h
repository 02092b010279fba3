// Champion trades between teammates. The trade phase is not followed yet:
// these are the points where the session building and the state machine
// hand over to it, and they do nothing until it exists.
#pragma once

#include <vector>

#include "champselect/api.h"

namespace Vexa::Client::VoverOrevidAredez {

class Trades {
 public:
  // Asks the platform whom the local player may trade with.
  void RefreshPotentialTraders() {}
  // A new session: no trade is pending and none was declined.
  void ForgetPendingTrade() {}
  void ClearDeclinedTrades() {}
  // A pending trade whose two champions have changed hands is done.
  void DetectSwap(const std::vector<Api::ChampSelectPlayerSelection>& /*myTeam*/) {}
};

// The team boost offer of the trade phase; not followed yet either.
class TeamBoostOffer {
 public:
  void InitTeamBoost() {}
  void Drop() {}
};

}  // namespace Vexa::Client::VoverOrevidAredez
