// The platform's champion trades for one match. While finalizing, two
// persons of a team may swap champions: one offers, the other accepts or
// declines, and either side may withdraw. A player has at most one offer
// going, made or received; offering to someone who has one gets their
// ongoing contract back marked BUSY. Every step is a contract message to the
// two players concerned, and the trades end with the phase.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include "sim/fault_plan.h"
#include "sim/game_service.h"
#include "sim/scheduler.h"

namespace TovSim {

class Game;
class Match;
class Platform;

inline constexpr const char* kTradeContractClass = "com.vexagames.platform.trade.api.contract.TradeContractDTO";
inline constexpr const char* kPotentialTradersClass = "com.vexagames.platform.trade.api.contract.PotentialTradersDTO";

struct TradeContract {
  uint64_t offer = 0;  // which offer it belongs to
  int requester = -1;  // seats
  int responder = -1;
  int requesterChampion = 0;
  int responderChampion = 0;
  std::string state;  // PENDING, ACCEPTED, DECLINED, CANCELED or BUSY
};

// The TradeContractDTO as the platform sends it, with its "__class".
std::string ContractJson(const Game& game, const TradeContract& contract);

class TradeDesk {
 public:
  // An offer nobody answers is withdrawn by the platform after this long, so
  // that a player who walked away does not keep two people from trading.
  static constexpr Micros kUnanswered = Seconds(15);

  explicit TradeDesk(Match& match) : match_(match) {}

  // The plan's knobs, read as each trade is settled; none: the usual ways.
  void UseKnobs(const DeskKnobs* knobs) { knobs_ = knobs; }

  // The seat's team-mates it could trade with now, in seat order.
  std::vector<int> PotentialTraders(int seat) const;
  // Each returns "" when done, else why refused (nothing changes then).
  // The seat offers its champion for the one `responder` holds; a busy
  // responder is no refusal: the seat is sent their ongoing contract, BUSY.
  std::string Offer(int seat, const std::string& responder, int64_t championId);
  // The seat accepts the offer `requester` made it for `championId`.
  std::string Accept(int seat, const std::string& requester, int64_t championId);
  // The seat withdraws its offer (CANCELED) or turns down the one it got
  // (DECLINED).
  std::string Dismiss(int seat);
  // The offer the seat made or received that is still open; null if none.
  const TradeContract* PendingOf(int seat) const;
  // The seat's champion changed otherwise (a reroll): its open offer no
  // longer stands, and is withdrawn.
  void ChampionChanged(int seat);
  // The game left finalization: open offers vanish without a message, as
  // there is nobody left to tell.
  void End();

  // Every contract message, the seats it goes to, and a line for the
  // timeline.
  std::function<void(const TradeContract&, const std::vector<int>& to, const std::string& note)> onMessage;

 private:
  std::string WhyNot(int seat) const;
  // The seat of the team-mate with that internal name; -1 when none.
  int MateNamed(int seat, const std::string& internalName) const;
  void Close(uint64_t offer, const char* state, const std::string& note);
  void Send(const TradeContract& contract, const std::vector<int>& to, const std::string& note);
  std::string Name(int seat) const;

  Match& match_;
  const DeskKnobs* knobs_ = nullptr;
  std::vector<TradeContract> open_;
  uint64_t offers_ = 0;
};

// "lcdsChampionTradeService": the local player's client's calls.
class TradeService {
 public:
  explicit TradeService(Platform& platform) : platform_(platform) {}
  LcdsAnswer Call(const std::string& method, const rapidjson::Value& args);

 private:
  LcdsAnswer PotentialTraders();
  LcdsAnswer Attempt(const rapidjson::Value& args);
  LcdsAnswer Dismiss();

  Platform& platform_;
};

}  // namespace TovSim
