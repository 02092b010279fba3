// A scenario: the games to play, who plays them and how, what the client
// shows, what happens when, and the faults. The built-in scenarios are
// defined in code, so the simulator needs no files at run time.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "sim/client_state.h"
#include "sim/fault_plan.h"
#include "sim/game.h"
#include "sim/game_dto.h"
#include "sim/match.h"
#include "sim/policy.h"
#include "sim/roster.h"

namespace TovSim {

enum class PolicyKind { Local, Human, Ai, Afk, Dodger };

// How the local player plays: as the client does, through the plug-in's
// routes (reading what the plug-in publishes), or scripted on the
// platform's side, for tests that need the platform to act for it.
enum class LocalPlay { ThroughPlugin, OnPlatform };

struct SeatPlan {
  PolicyKind kind = PolicyKind::Human;
  double quitAfter = 0;  // a Dodger's time in the game, in seconds
  BotPlan bot{};         // a HumanBot's trades and boost
};

struct GamePlan {
  QueueRules rules;
  Roster roster;
  std::vector<SeatPlan> seats;  // by seat: team one, then team two
  LocalScript local;
  int64_t spectatorDelay = 0;
  // Reroll points each person of the roster has when the game begins.
  int rerollPoints = 0;
};

// Something that happens at a time: `at` seconds after the start, or after
// the first game first entered the state named in `after`.
struct TimedAction {
  enum class Kind {
    LoginConnected,     // login Update, connected true (and the platform's channel back)
    LoginDisconnected,  // login Update, connected false (and the platform's channel down)
    LoginDelete,
    LoginRestore,
    GameflowPhase,  // `text` is the phase
    Visible,        // `flag`
    BattleTraining,  // `flag`: Create true / Delete
    ClockJump,       // the machine sleeps `amount` seconds: every clock leaps
    WallClockShift,  // the wall clock alone is stepped by `amount` seconds
    End,
  };
  Kind kind = Kind::End;
  double at = 0;
  std::string after;
  std::string text;
  double amount = 0;
  bool flag = false;
};

enum class Opening {
  QueuePop,  // the local player's game is found and played
  Spectate,  // the local player watches a game that starts with a delay
};

struct Scenario {
  std::string name;
  uint64_t seed = 1;
  Opening opening = Opening::QueuePop;
  LocalPlay localPlay = LocalPlay::ThroughPlugin;
  double openAt = 1.0;
  GamePlan game;
  // After a dodge, the next game is found automatically; none: back to the lobby.
  std::optional<GamePlan> requeue;
  int64_t reconnectDelay = 180;  // spectating
  MatchTiming timing;
  DtoView view;
  ClientSetup client;
  std::vector<TimedAction> timeline;
  FaultPlan faults;
  double endAfterInProgress = 2;
  double endAfterLobby = 5;
};

const std::vector<std::string>& ScenarioNames();
// The local player plays through the plug-in and uses every feature its
// games offer: besides its bans, picks, spells, skin and ward skin, one
// trade offer and the team boost.
void Autoplay(Scenario& scenario);
// False for a name that is not built in.
bool BuiltInScenario(const std::string& name, uint64_t seed, Scenario* out);

// Everyone playing as a person would: the local player as `LocalPlay`
// says, AI bots as bots, the others as HumanBots.
std::vector<SeatPlan> SeatsFor(const Roster& roster);
// The policies of a plan, one per seat.
std::vector<std::unique_ptr<Policy>> PoliciesOf(const GamePlan& plan, LocalPlay localPlay = LocalPlay::ThroughPlugin);

}  // namespace TovSim
