// The team boost: while finalizing, in a queue that offers it, any player may
// buy their whole team the use of every skin of the team's champions. The
// price comes out of the buyer's wallet at once; the team hears of the
// purchase a moment later, as the platform's stores settle it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "sim/content.h"
#include "sim/fault_plan.h"
#include "sim/scheduler.h"
#include "sim/trace.h"

namespace TovSim {

class Game;
class Match;

inline constexpr const char* kTeamSkinRentalClass = "com.vexagames.platform.game.TeamSkinRentalDTO";

class BoostDesk {
 public:
  static constexpr const char* kCurrency = "VP";
  static constexpr int kIpReward = 15;
  static constexpr int kIpRewardForPurchaser = 30;
  // From the purchase to the message that tells the team.
  static constexpr Micros kUnlockDelay = Seconds(1);
  // What the local player's wallet holds when the plan says it cannot pay.
  static constexpr int kShortWallet = kBoostPrice - 1;

  BoostDesk(Scheduler& scheduler, const FaultPlan& plan, Trace& trace)
      : scheduler_(scheduler), plan_(plan), trace_(trace) {}

  // The offer as the seat's team sees it now, as a TeamSkinRentalDTO in
  // `json`: "" when there is one, else why not.
  std::string Offer(const Game& game, int seat, const std::string& currency, std::string* json) const;
  // The seat buys the boost for its team: "" when done, else why refused
  // (nothing is paid then).
  std::string Purchase(Match& match, int seat, const std::string& currency);
  int Balance(uint64_t summonerId) const;

  // kUnlockDelay after a purchase, while the game is still finalizing: the
  // unlocked offer, for the buyer's team.
  std::function<void(const Game&, int team, const std::string& dtoJson)> onUnlocked;

 private:
  struct Unlock {
    std::string buyer;       // display name
    std::vector<int> skins;  // as they were when bought
  };
  std::string WhyNot(const Game& game, int seat, const std::string& currency) const;
  std::string Json(const Game& game, int team) const;

  Scheduler& scheduler_;
  const FaultPlan& plan_;
  Trace& trace_;
  std::map<std::pair<uint64_t, int>, Unlock> unlocked_;  // by game id and team
  std::map<uint64_t, int> spent_;                        // by summoner id
};

// Every skin of the team's champions but their base skins, team order.
std::vector<int> TeamSkins(const Game& game, int team);

}  // namespace TovSim
