#include "sim/director.h"

#include <numeric>

#include "sim/content.h"
#include "sim/game_dto.h"
#include "sim/random.h"

namespace TovSim {

Director::Director(const Scenario& scenario, Platform& platform, ClientState& client, Injector& injector,
                   Scheduler& scheduler, Clock& clock, Trace& trace)
    : scenario_(scenario),
      platform_(platform),
      client_(client),
      injector_(injector),
      scheduler_(scheduler),
      clock_(clock),
      trace_(trace),
      anchored_(scenario.timeline.size(), false) {
  platform_.onQueuePop = [this](const Game& game) { client_.QueuePopped(game); };
  platform_.onState = [this](const Game& game, GameState previous) { OnState(game, previous); };
}

void Director::Begin() {
  trace_.Note("scenario", scenario_.name + ", seed " + std::to_string(scenario_.seed));
  firstGameId_ = platform_.NextGameId();
  scheduler_.At(ToMicros(scenario_.openAt), [this] {
    if (scenario_.opening == Opening::Spectate) {
      Spectate();
    } else {
      StartGame(scenario_.game);
    }
  });
  for (size_t i = 0; i < scenario_.timeline.size(); ++i) {
    if (!scenario_.timeline[i].after.empty()) continue;
    anchored_[i] = true;
    scheduler_.At(ToMicros(scenario_.timeline[i].at), [this, i] { Run(scenario_.timeline[i]); });
  }
  for (const Injection& injection : scenario_.faults.injections)
    if (injection.heldPush == 0) scheduler_.At(ToMicros(injection.armAt), [this] { injector_.Arm(clock_.Seconds()); });
}

void Director::StartGame(const GamePlan& plan) {
  ++gamesStarted_;
  if (plan.rerollPoints > 0)
    for (const auto* team : {&plan.roster.teamOne, &plan.roster.teamTwo})
      for (const Player& player : *team)
        if (!player.IsBot()) platform_.Rerolls().Deposit(player.summonerId, plan.rerollPoints);
  if (onGameStart) onGameStart(plan);
  Match& match = platform_.NewMatch(plan.rules, plan.roster, PoliciesOf(plan, scenario_.localPlay), scenario_.seed,
                                    scenario_.timing, plan.spectatorDelay);
  match.Start();
}

void Director::Spectate() {
  // The watched game was played elsewhere: only its final state is known.
  const GamePlan& plan = scenario_.game;
  auto game = std::make_unique<Game>(platform_.NextGameId(), plan.rules, plan.roster);
  Random random(SeatSeed(scenario_.seed, 0, 0));
  std::vector<int> champions(kLastChampion);
  std::iota(champions.begin(), champions.end(), kFirstChampion);
  champions = random.Shuffled(champions);
  size_t next = 0;
  game->BeginBans();
  while (!game->Actors().empty()) game->BanChampion(game->Actors().front(), champions[next++]);
  game->BeginPicks();
  while (!game->Actors().empty()) {
    for (int seat : game->Actors()) {
      game->Hover(seat, champions[next++]);
      game->LockIn(seat);
    }
  }
  game->BeginPost();
  game->RequestStart(scenario_.reconnectDelay);
  Game& watched = platform_.AddGame(std::move(game));
  client_.DelayedLaunch(watched.Id(), platform_.DtoFor(watched), scenario_.reconnectDelay);
  scheduler_.After(Seconds(static_cast<double>(scenario_.reconnectDelay)), [this] {
    client_.GameStarting();
    EndIn(5 + scenario_.endAfterInProgress, "the watched game is on");
  });
}

void Director::OnState(const Game& game, GameState previous) {
  if (game.Id() == firstGameId_) {
    for (size_t i = 0; i < scenario_.timeline.size(); ++i) {
      if (anchored_[i] || scenario_.timeline[i].after != StateName(game.State())) continue;
      anchored_[i] = true;
      scheduler_.After(ToMicros(scenario_.timeline[i].at), [this, i] { Run(scenario_.timeline[i]); });
    }
  }
  switch (game.State()) {
    case GameState::StartRequested:
      client_.GameStarting();
      EndIn(5 + scenario_.endAfterInProgress, "the game is on");
      break;
    case GameState::Terminated:
      if (scenario_.requeue && !requeued_) {
        requeued_ = true;
        trace_.Note("scenario", "requeue after the dodge");
        scheduler_.After(Seconds(2), [this] { client_.SetPhase("Matchmaking"); });
        scheduler_.After(Seconds(7), [this] { StartGame(*scenario_.requeue); });
      } else if (game.Rules().battleTraining) {
        // Leaving a training is the client's own doing: it stops the
        // training with the match flow itself.
        EndIn(scenario_.endAfterLobby, "the training was left");
      } else {
        scheduler_.After(Seconds(2), [this] {
          if (client_.Phase() != "Lobby") client_.SetPhase("Lobby");
        });
        EndIn(scenario_.endAfterLobby, "back in the lobby after the dodge");
      }
      break;
    case GameState::TeamSelect:
      if (previous != GameState::TeamSelect) {
        scheduler_.After(Seconds(1), [this] {
          if (client_.Phase() != "Lobby") client_.SetPhase("Lobby");
        });
        EndIn(scenario_.endAfterLobby, "back in the custom lobby");
      }
      break;
    default:
      break;
  }
}

void Director::Run(const TimedAction& action) {
  using Kind = TimedAction::Kind;
  switch (action.kind) {
    case Kind::LoginConnected:
      platform_.SetConnected(true);
      client_.SetLoginConnected(true);
      break;
    case Kind::LoginDisconnected:
      platform_.SetConnected(false);
      client_.SetLoginConnected(false);
      break;
    case Kind::LoginDelete:
      client_.DeleteLogin();
      break;
    case Kind::LoginRestore:
      client_.RestoreLogin();
      break;
    case Kind::GameflowPhase:
      client_.SetPhase(action.text);
      break;
    case Kind::Visible:
      client_.SetVisible(action.flag);
      break;
    case Kind::BattleTraining:
      client_.SetBattleTraining(action.flag);
      break;
    case Kind::ClockJump:
      trace_.ClockJump(action.amount);
      clock_.Jump(action.amount);
      break;
    case Kind::WallClockShift:
      trace_.WallClockShift(action.amount);
      clock_.ShiftWallClock(action.amount);
      break;
    case Kind::End:
      EndIn(0, "the timeline ends it");
      break;
  }
}

void Director::EndIn(double seconds, const std::string& why) {
  scheduler_.After(ToMicros(seconds), [this, why] {
    if (ended_) return;
    trace_.Note("scenario", "ends: " + why);
    ended_ = true;
  });
}

}  // namespace TovSim
