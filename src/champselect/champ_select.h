// The champion select as one unit: the shared model, the parts that keep it
// (platform state, session builder, UX timers, trades, team boost), the work
// queue they all run on, and the state machine that the platform's games
// drive. It follows the platform: every pushed game goes through OnGameDTO.
#pragma once

#include <string_view>

#include "champselect/actions.h"
#include "champselect/battle_training.h"
#include "champselect/lcds.h"
#include "champselect/model.h"
#include "champselect/my_selection.h"
#include "champselect/platform_state.h"
#include "champselect/publisher.h"
#include "champselect/session_builder.h"
#include "champselect/state_machine.h"
#include "champselect/team_boost.h"
#include "champselect/trades.h"
#include "champselect/ux_timers.h"
#include "champselect/work_queue.h"

namespace Vexa {
class AppModule;
}

namespace Vexa::Client::VoverOrevidAredez {

class ChampSelect {
 public:
  ChampSelect(VoverOrevidAredezPlugin& plugin, AppModule& module);
  ChampSelect(const ChampSelect&) = delete;
  ChampSelect& operator=(const ChampSelect&) = delete;

  // Enters the machine's first state, then follows the platform's pushed
  // messages and the other plug-ins' resources.
  void Start();
  void Stop();

  // A game from the platform (pushed, recovered after a reconnect, or of a
  // delayed launch): drops a stale or tutorial game, stores it and drives
  // the machine with its state.
  void OnGameDTO(LCDS::GameDTO game);
  // Logs and dispatches an event; an empty name is ignored.
  bool RaiseEvent(std::string_view event);

  // The machine's actions.
  void UpdateSession() { sessions_.UpdateSession(); }
  void EndSession() { sessions_.EndSession(); }
  void QuitToLobby();
  void BeginChampSelect();
  void BeginChampSelectLate();
  void EnterTradePhase();
  void UpdateBans();

  const ChampSelectModel& Model() const { return model_; }
  const PlatformState& Platform() const { return platform_; }
  const UxTimers& Timers() const { return uxTimers_; }
  // The commands of the routes.
  Actions& ActionCommands() { return actions_; }
  MySelection& Selection() { return mySelection_; }
  BattleTraining& Training() { return battleTraining_; }
  Trades& Trading() { return trades_; }
  TeamBoostOffer& Boost() { return teamBoost_; }

 private:
  AppModule& module_;
  ChampSelectModel model_;
  WorkQueue work_;
  Publisher publisher_;
  PlatformState platform_;
  UxTimers uxTimers_;
  Trades trades_;
  TeamBoostOffer teamBoost_;
  BattleTraining battleTraining_;
  SessionBuilder sessions_;
  Actions actions_;
  MySelection mySelection_;
  ChampSelectMachine machine_;
};

}  // namespace Vexa::Client::VoverOrevidAredez
