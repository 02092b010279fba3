// Plays a scenario on the platform and the client: opens the game, follows
// it to its end (the game starts, the lobby, a requeue), runs the timeline,
// and says when the scenario is over.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "sim/client_state.h"
#include "sim/clock.h"
#include "sim/injector.h"
#include "sim/platform.h"
#include "sim/scenario.h"
#include "sim/trace.h"

namespace TovSim {

class Director {
 public:
  Director(const Scenario& scenario, Platform& platform, ClientState& client, Injector& injector, Scheduler& scheduler,
           Clock& clock, Trace& trace);

  // Schedules the opening, the timeline and the plan's timed injections.
  void Begin();
  bool Ended() const { return ended_; }

  // A game of the plan is about to begin.
  std::function<void(const GamePlan&)> onGameStart;

 private:
  void StartGame(const GamePlan& plan);
  void Spectate();
  void OnState(const Game& game, GameState previous);
  void Run(const TimedAction& action);
  void EndIn(double seconds, const std::string& why);

  const Scenario& scenario_;
  Platform& platform_;
  ClientState& client_;
  Injector& injector_;
  Scheduler& scheduler_;
  Clock& clock_;
  Trace& trace_;
  bool requeued_ = false;
  bool ended_ = false;
  std::vector<bool> anchored_;  // timeline actions already scheduled
  int gamesStarted_ = 0;
  uint64_t firstGameId_ = 0;  // the timeline follows the first game
};

}  // namespace TovSim
