// The legacy game platform: its games and matches, the calls it answers on
// "/tov-login/v1/session/invoke", and the messages it pushes to the local
// client.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/core.h"
#include "sim/boost_desk.h"
#include "sim/fault_plan.h"
#include "sim/game_dto.h"
#include "sim/game_service.h"
#include "sim/match.h"
#include "sim/push_queue.h"
#include "sim/reroll_bank.h"
#include "sim/trade_desk.h"
#include "sim/trace.h"

namespace TovSim {

class Platform {
 public:
  static constexpr uint64_t kFirstGameId = 5000000001;

  // `view` holds the knobs of what the local client is sent; its viewer
  // team is found per game.
  Platform(TovHost::Core& core, Scheduler& scheduler, FaultPlan& plan, PushQueue& pushes, Trace& trace, DtoView view);

  // Serves the LCDS calls from now on.
  void Install();

  // A new match with the next game id; every change of its game is pushed.
  Match& NewMatch(const QueueRules& rules, const Roster& roster, std::vector<std::unique_ptr<Policy>> policies,
                  uint64_t scenarioSeed, MatchTiming timing, int64_t spectatorDelay);
  // A game the local player is not in and that is not played here, only
  // known (a game to spectate).
  Game& AddGame(std::unique_ptr<Game> game);
  uint64_t NextGameId() const { return nextGameId_; }
  // Game ids from `next` on, for a platform that follows an earlier one.
  void ContinueIdsFrom(uint64_t next) { nextGameId_ = next; }

  Game* FindGame(uint64_t id);
  // The latest game the local player is seated in, and its match: where the
  // local client's calls act.
  const Game* LocalGame() const;
  Match* LocalMatch();
  RerollBank& Rerolls() { return rerolls_; }
  BoostDesk& Boosts() { return boosts_; }
  // The game as the local client is sent it.
  std::string DtoFor(const Game& game) const;
  Micros Now() const { return scheduler_.Now(); }

  void Acknowledge(uint64_t gameId, const std::string& what);
  // "5000000001 CHAMP_SELECT_CLIENT", one per acknowledgement.
  const std::vector<std::string>& Acknowledgements() const { return acknowledgements_; }

  // The local client's connection: while it is down, pushes are lost and
  // calls fail.
  void SetConnected(bool connected) { pushes_.SetConnected(connected); }

  std::function<void(const Game&)> onQueuePop;
  std::function<void(const Game&, GameState previous)> onState;

 private:
  TovHost::Reply Invoke(const TovHost::RequestRecord& request);
  void Pushed(const Game& game, const std::string& what);
  // A trade contract message: to the local client when it is one of `to`.
  void Contracted(const Game& game, const TradeContract& contract, const std::vector<int>& to, const std::string& note);
  void BoostUnlocked(const Game& game, int team, const std::string& dtoJson);

  TovHost::Core& core_;
  Scheduler& scheduler_;
  FaultPlan& plan_;
  PushQueue& pushes_;
  Trace& trace_;
  DtoView view_;
  GameService gameService_;
  RerollService rerollService_;
  TradeService tradeService_;
  RerollBank rerolls_;
  BoostDesk boosts_;
  uint64_t nextGameId_ = kFirstGameId;
  std::vector<std::unique_ptr<Match>> matches_;
  std::vector<std::unique_ptr<Game>> otherGames_;
  uint64_t localGameId_ = 0;
  std::vector<std::string> acknowledgements_;
};

}  // namespace TovSim
