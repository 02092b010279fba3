// Champion trades between team-mates while picks are final. The platform
// runs the protocol and reports every change of a trade as a pushed
// contract; the plug-in shows one trade per team-mate in the session and
// keeps the one trade that may be pending, with the local player on either
// side of it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "champselect/api.h"
#include "champselect/lcds.h"
#include "champselect/model.h"
#include "remoting/remoting.h"

namespace Vexa {
class AppModule;
}

namespace Vexa::Client::VoverOrevidAredez {

class PlatformState;
class Publisher;

class Trades {
 public:
  Trades(AppModule& module, ChampSelectModel& model, Publisher& publisher, const PlatformState& platform,
         std::function<bool(std::string_view)> raiseEvent)
      : module_(module), model_(model), publisher_(publisher), platform_(platform), raiseEvent_(std::move(raiseEvent)) {}

  // Asks the platform whom the local player may trade with and shows those
  // team-mates' trades AVAILABLE (unless declined for the champion they
  // still hold), everyone else's INVALID. The pending trade keeps its
  // state. Does not publish: every caller does.
  void RefreshPotentialTraders();
  // A new session: no trade is pending and none was declined.
  void ForgetPendingTrade();
  void ClearDeclinedTrades() { declined_.clear(); }
  // A pending trade whose two champions have changed hands is done.
  void DetectSwap(const std::vector<Api::ChampSelectPlayerSelection>& myTeam);

  // Route 5: offers the team-mate of the trade the local player's champion.
  RemotingTypedResult<Api::ChampSelectTradeContract> RequestTrade(std::int64_t tradeId);
  // Routes 6 to 8: accepts, or declines or cancels (the same), the pending trade.
  RemotingResult AnswerTrade(std::int64_t tradeId, bool accept);
  // A contract pushed by the platform.
  void OnTradeContract(const LCDS::TradeContractDTO& contract);

  // The pending trade's session id; 0 when none is pending.
  std::int64_t PendingTradeId() const { return pendingId_; }

 private:
  std::int64_t CellOf(const std::string& internalName) const;
  // The team-mate at the cell; null when none is there.
  const Api::ChampSelectPlayerSelection* PlayerAt(std::int64_t cellId) const;
  Api::ChampSelectTradeContract* TradeById(std::int64_t id);
  Api::ChampSelectTradeContract* TradeByCell(std::int64_t cellId);
  bool HasPending() const { return !pending_.state.empty(); }

  AppModule& module_;
  ChampSelectModel& model_;
  Publisher& publisher_;
  const PlatformState& platform_;
  std::function<bool(std::string_view)> raiseEvent_;

  std::int64_t pendingId_ = 0;
  LCDS::TradeContractDTO pending_;
  // A responder's internal name and the champion they held when they
  // declined: asking again is pointless until that champion changes.
  std::map<std::string, std::int32_t> declined_;
};

}  // namespace Vexa::Client::VoverOrevidAredez
