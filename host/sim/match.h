// One match played through time: the phases and turns of its Game with their
// deadlines, the seats' policies told when to act, and what happens when a
// deadline passes.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "sim/boost_desk.h"
#include "sim/game.h"
#include "sim/policy.h"
#include "sim/random.h"
#include "sim/reroll_bank.h"
#include "sim/scheduler.h"
#include "sim/trade_desk.h"

namespace TovSim {

struct MatchTiming {
  Micros banTurn = Seconds(30);
  Micros pickTurn = Seconds(30);
  Micros blindPick = Seconds(60);  // the one turn of a blind pick
  Micros finalization = Seconds(30);
  Micros phaseChange = Seconds(1);  // between the last action of a phase and the next phase
  Micros lobby = Seconds(5);        // a custom lobby, before its owner starts
};

class Match {
 public:
  // `policies` has one entry per seat of the game, in seat order.
  Match(Scheduler& scheduler, Game game, std::vector<std::unique_ptr<Policy>> policies, uint64_t scenarioSeed,
        int ordinal, MatchTiming timing, int64_t spectatorDelay);
  Match(const Match&) = delete;
  Match& operator=(const Match&) = delete;

  const Game& GameNow() const { return game_; }
  Game& MutableGame() { return game_; }
  int Ordinal() const { return ordinal_; }

  // Opens the game: a custom game's lobby first, else straight to selection.
  void Start();

  // The game is about to send its first selection message: the client's
  // match flow must know the queue's rules by then.
  std::function<void(const Game&)> onQueuePop;
  // The game entered a new state (called after its message went out).
  std::function<void(const Game&, GameState previous)> onState;
  // A deadline was set: what runs until then, and for how long (kNever: it
  // runs without a time limit).
  std::function<void(const std::string& what, Micros length)> onClock;

  // Every trade contract message: the seats it goes to (their policies have
  // been told) and a line for the timeline.
  std::function<void(const Game&, const TradeContract&, const std::vector<int>& to, const std::string& note)>
      onContract;

  // Where the players' reroll points are kept; without one nobody has any.
  void UseRerollBank(RerollBank* bank) { bank_ = bank; }
  // Where the team boost is sold; without one there is none.
  void UseBoostDesk(BoostDesk* boosts) { boosts_ = boosts; }
  TradeDesk& Trades() { return trades_; }

  // One action of a seat, then whatever it set going: for the seat desks and
  // for the calls the local player's client makes.
  std::string Act(const std::function<std::string(Game&)>& action);
  // The seat pays for a reroll and is handed a champion drawn by the
  // platform: "" when done, else why refused (nothing is paid then).
  std::string Reroll(int seat);
  std::string BuyBoost(int seat);
  void Preset(int seat, int championId) { game_.PresetChampion(seat, championId); }
  void Later(Micros delay, std::function<void()> work) { scheduler_.After(delay, std::move(work)); }

 private:
  void BeginSelection();
  // A random queue: every person gets a champion before the first message.
  void HandOutChampions();
  // Looks at the game after a change: a new state or turn starts its clock
  // and tells the seats to act.
  void Progress();
  void StartTurn();
  // Runs `work` `length` from now unless another turn or phase has begun by
  // then; the game's timer shows that deadline.
  void AtDeadline(const std::string& what, Micros length, std::function<void()> work);
  // kNever for a turn without a time limit.
  Micros TurnLength() const;
  Policy& PolicyOf(int seat) { return *policies_[static_cast<size_t>(seat)]; }
  SeatDesk& DeskOf(int seat) { return *desks_[static_cast<size_t>(seat)]; }

  Scheduler& scheduler_;
  Game game_;
  std::vector<std::unique_ptr<Policy>> policies_;
  std::vector<std::unique_ptr<SeatDesk>> desks_;
  int ordinal_;
  Random random_;  // the platform's own draws in this match
  RerollBank* bank_ = nullptr;
  BoostDesk* boosts_ = nullptr;
  TradeDesk trades_{*this};
  MatchTiming timing_;
  int64_t spectatorDelay_;
  GameState seenState_ = GameState::TeamSelect;
  int seenTurn_ = 0;
  uint64_t clockSerial_ = 0;  // which deadline is the live one
  bool begun_ = false;
};

}  // namespace TovSim
