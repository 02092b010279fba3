// One match as the platform keeps it: its state, seats, selections and bans,
// and the rules of every change. Each accepted change raises the optimistic
// lock by one and is reported once through onChange (the platform then
// pushes one GameDTO); a refused action changes nothing and says why.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/roster.h"
#include "sim/scheduler.h"

namespace TovSim {

enum class GameState { TeamSelect, PreChampSelect, ChampSelect, PostChampSelect, StartRequested, Terminated };
const char* StateName(GameState state);

enum class PickOrder {
  Draft,  // the snake over six turns
  Blind,  // everyone on turn 1
};

struct QueueRules {
  std::string queueTypeName = "DRAFT_5x5";
  int bans = 0;  // ban turns before the picks; 0: no ban phase
  PickOrder order = PickOrder::Draft;
  bool hideOpponents = false;  // the other team is shown obfuscated
  bool custom = false;         // a custom lobby: leaving returns everyone to it
  bool allowTrades = true;
  bool battleBoost = true;
  bool freeChampions = true;
  // Every person is handed a random champion with the first message.
  bool randomChampions = false;
  // Points buy another random champion (lcdsRerollService.roll).
  bool rerolls = false;
  // Battle training: no ban phase, a pick without a time limit among the
  // training champions, and the local player's lock-in starts the game.
  bool battleTraining = false;
};

struct Selection {
  int championId = 0;
  int skinIndex = 0;
  int spell1 = 0;
  int spell2 = 0;
};

struct Ban {
  int championId;
  int teamId;  // 100 or 200
  int pickTurn;
};

struct Seat {
  Player player;
  int team = 1;  // 1 or 2
  int index = 0;  // position in its team's list
  int pickTurn = 0;
  int pickMode = 0;  // 0 before its turn, 1 during it, 2 locked in
  bool present = true;  // false once dodged or gone
  Selection selection;
};

class Game {
 public:
  Game(uint64_t id, QueueRules rules, const Roster& roster);

  // ---- What the platform shows ------------------------------------------
  uint64_t Id() const { return id_; }
  const QueueRules& Rules() const { return rules_; }
  GameState State() const { return state_; }
  int64_t OptimisticLock() const { return lock_; }
  int PickTurn() const { return pickTurn_; }
  const std::vector<Seat>& Seats() const { return seats_; }
  const Seat& At(int seat) const { return seats_[static_cast<size_t>(seat)]; }
  int SeatOf(uint64_t summonerId) const;  // -1 when not seated
  const std::vector<Ban>& Bans() const { return bans_; }
  int64_t SpectatorDelay() const { return spectatorDelay_; }
  const std::string& Name() const { return name_; }
  const std::string& RoomName() const { return roomName_; }
  const std::string& RoomPassword() const { return roomPassword_; }
  // The seats that act in the current turn.
  std::vector<int> Actors() const;
  // Turns of the running phase: the bans, or the pick turns.
  int TurnsInPhase() const;
  bool Ended() const { return state_ == GameState::StartRequested || state_ == GameState::Terminated; }

  // The end of the running turn or phase, for the timer the platform answers;
  // kNever while nothing runs against the clock.
  Micros Deadline() const { return deadline_; }
  void SetDeadline(Micros when) { deadline_ = when; }

  // Before the first message: an AI bot arrives with its champion chosen.
  void PresetChampion(int seat, int championId);

  // ---- Phases, each one change --------------------------------------------
  void EnterTeamSelect();
  void BeginBans();
  void BeginPicks();
  void BeginPost();
  void RequestStart(int64_t spectatorDelay);

  // ---- Players' actions: "" when done, else why refused ------------------
  // A done action is one change, except that asking for what already is
  // changes nothing and is no error, as a repeated request must be harmless.
  std::string BanChampion(int seat, int64_t championId);
  std::string Hover(int seat, int64_t championId);
  // Locks the hovered champion in; the turn advances once all its actors
  // have. In battle training it starts the game.
  std::string LockIn(int seat);
  std::string ChangeSpells(int seat, int64_t spell1, int64_t spell2);
  std::string ChangeSkin(int seat, int64_t championId, int64_t skinId);
  // Whether two seats could swap champions now: persons of one team, both
  // still there and holding different champions, each allowed to play the
  // other's.
  bool MayTrade(int seat, int other) const;
  // An agreed trade: the two champions change hands in one change, and each
  // player is back on the champion's base skin.
  std::string SwapChampions(int seat, int other);
  // A bought team boost: the team's players may wear these skins whether or
  // not they own them. The game's message does not show it, so it is no
  // change.
  void UnlockSkins(int team, const std::vector<int>& skinIds);
  // Leaving: a matchmade game is TERMINATED with the seat gone; a custom game
  // goes back to its lobby without them.
  std::string Quit(int seat);
  // The champions the platform may hand the seat, at random or for a
  // reroll: ones it may play that nobody holds and nobody banned.
  std::vector<int> ChampionsToHandOut(int seat) const;
  // Why the seat may not reroll now; "" when it may.
  std::string RerollRefusal(int seat) const;
  std::string Reroll(int seat, int championId);

  // The running turn's deadline passed: a ban turn passes without a ban; in
  // a pick turn every actor with a hovered champion is locked in, and one
  // with none dodges (TERMINATED).
  void ExpireTurn();

  // Called once for every change, after it, with a line saying what changed.
  std::function<void(const Game&, const std::string& what)> onChange;

 private:
  Seat& Mutable(int seat) { return seats_[static_cast<size_t>(seat)]; }
  bool ValidSeat(int seat) const { return seat >= 0 && seat < static_cast<int>(seats_.size()); }
  int SeatAt(int team, int index) const;
  bool Banned(int64_t championId) const;
  bool TakenBy(int64_t championId, int exceptSeat) const;
  bool InPool(int64_t championId) const;
  // Whether the seat's player may play the champion in this queue.
  bool MayPlay(int seat, int64_t championId) const;
  // Why the seat may not pick now; "" when it may.
  std::string PickRefusal(int seat) const;
  bool InSelection() const;
  // After a ban or a completed pick turn: the next turn, revealing its actors.
  void NextTurn();
  void Changed(const std::string& what);
  std::string Named(int seat) const { return At(seat).player.name; }
  bool Unlocked(int team, int64_t skinId) const;

  uint64_t id_;
  QueueRules rules_;
  std::vector<Seat> seats_;  // team one, then team two
  GameState state_ = GameState::TeamSelect;
  int64_t lock_ = 0;
  int pickTurn_ = 0;
  std::vector<Ban> bans_;
  int64_t spectatorDelay_ = 0;
  std::string name_, roomName_, roomPassword_;
  Micros deadline_ = 0;
  std::vector<int> unlockedSkins_[2];  // by team
};

}  // namespace TovSim
