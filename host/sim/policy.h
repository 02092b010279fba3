// How a seat plays. The match tells a seat's policy when its turns begin;
// the policy acts through its SeatDesk, later, on the simulation's clock.
// The local player's policy is one of these too, so it can be swapped for
// one that plays through the plug-in's routes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/game.h"
#include "sim/random.h"
#include "sim/trade_desk.h"

namespace TovSim {

class Match;

// What one seat sees of its match and may do in it.
class SeatDesk {
 public:
  SeatDesk(Match& match, int seat, uint64_t seed) : match_(match), seat_(seat), random_(seed) {}

  int SeatNumber() const { return seat_; }
  const Game& GameNow() const;
  const Seat& Me() const { return GameNow().At(seat_); }
  Random& Rng() { return random_; }
  // Runs `act` after `delay`, unless the game has ended by then.
  void After(Micros delay, std::function<void(SeatDesk&)> act);

  // Each returns "" when done, else the platform's reason for refusing.
  std::string Ban(int championId);
  std::string Hover(int championId);
  std::string LockIn();
  std::string Spells(int spell1, int spell2);
  std::string Skin(int skinIndex);
  std::string Quit();
  std::string Reroll();
  void Preset(int championId);
  // Offers the seat's champion for the one `seat` holds now.
  std::string OfferTrade(int seat);
  std::string AcceptTrade(const TradeContract& offer);
  std::string DismissTrade();
  // The seat's open offer, made or received; null when none.
  const TradeContract* PendingTrade() const;
  std::string BuyBoost();

 private:
  Match& match_;
  int seat_;
  Random random_;
};

class Policy {
 public:
  virtual ~Policy() = default;
  virtual const char* Name() const = 0;
  virtual void OnSetup(SeatDesk&) {}      // before the game's first message
  virtual void OnGameBegins(SeatDesk&) {}  // right after it
  virtual void OnBanTurn(SeatDesk&) {}
  virtual void OnPickTurn(SeatDesk&) {}
  virtual void OnPostPhase(SeatDesk&) {}
  // A trade contract message sent to the seat.
  virtual void OnContract(SeatDesk&, const TradeContract&) {}
};

// What a HumanBot does while finalizing beyond its spells and skin, as a
// scenario plans it (times in seconds into the phase; 0: never).
struct BotPlan {
  double offerToLocalAt = 0;  // offers a trade to the local player
  double offerAt = 0;         // offers a trade to the seat `offerTo`
  int offerTo = -1;
  bool ignoresOffers = false;  // looked away: offers to it run out
  bool boostBuyer = false;     // buys the team boost, at a seeded time
};

// A person: thinks 2 to 8 s, hovers the best champion the platform accepts,
// locks 1 to 6 s later; bans the top of its list that is neither banned nor
// hovered by its own team; changes spells and skin once while finalizing,
// and in a reroll queue may reroll first. Offered a trade, it answers 1 to
// 4 s later: yes when the offered champion ranks above its own in its list.
// It withdraws its own offer after 10 s unanswered, now and then offers one
// to a team-mate on its own, and does what its plan adds.
class HumanBot final : public Policy {
 public:
  static constexpr Micros kPatience = Seconds(10);

  explicit HumanBot(BotPlan plan = {}) : plan_(plan) {}
  const char* Name() const override { return "HumanBot"; }
  void OnSetup(SeatDesk& desk) override;
  void OnBanTurn(SeatDesk& desk) override;
  void OnPickTurn(SeatDesk& desk) override;
  void OnPostPhase(SeatDesk& desk) override;
  void OnContract(SeatDesk& desk, const TradeContract& contract) override;
  // Whether it would rather play `championId` than `over`.
  bool Prefers(int championId, int over) const { return Rank(championId) < Rank(over); }

 private:
  void HoverBest(SeatDesk& desk);
  // Where the champion stands in its list: lower is better.
  size_t Rank(int championId) const;
  void OfferToAMate(SeatDesk& desk);
  BotPlan plan_;
  std::vector<int> preferences_, banList_;
};

// An AI bot of a bot queue: its champion is there from the first message.
class AiBot final : public Policy {
 public:
  const char* Name() const override { return "AiBot"; }
  void OnSetup(SeatDesk& desk) override;
};

// Never acts: its turns run out.
class Afk final : public Policy {
 public:
  const char* Name() const override { return "Afk"; }
};

// Leaves the game `quitAfter` after it began.
class Dodger final : public Policy {
 public:
  explicit Dodger(Micros quitAfter) : quitAfter_(quitAfter) {}
  const char* Name() const override { return "Dodger"; }
  void OnGameBegins(SeatDesk& desk) override;

 private:
  Micros quitAfter_;
};

// The local player's choices: the ban and the picks it tries first (then
// the first the platform accepts), and what it does while finalizing.
struct LocalScript {
  int ban = 33;
  std::vector<int> picks{7, 12, 3};
  // Played on the platform's side: fixed delays. Through the plug-in, the
  // client thinks for seeded times instead.
  Micros banDelay = Seconds(4);
  Micros hoverDelay = Seconds(5);
  Micros lockDelay = Seconds(3);
  // Through the plug-in, while finalizing: rerolls asked for one after the
  // other, then one change of spells, skin and ward skin.
  int rerolls = 0;
  int spell1 = 104;
  int spell2 = 107;
  int skinIndex = 2;
  int64_t wardSkinId = 5;
  // Battle training: launch once the pick is completed; without, the game
  // waits until the plug-in's own timers leave it.
  bool launch = true;
  // Trades while finalizing. Through the plug-in: one offer at `tradeAt`
  // into the phase (0: none), to the mate whose champion it likes best;
  // offered to a busy mate, it tries once more a little later.
  Micros tradeAt = 0;
  // An offer received: accepted or declined. The client answers this many
  // offers and leaves later ones to run out, as a player who looked away.
  bool acceptOffers = true;
  int offersAnswered = 1 << 30;
  // Withdraws its own offer if still unanswered this long after making it
  // (0: never).
  Micros cancelAfter = 0;
  // Buys the team boost once the plug-in shows it, still locked.
  bool buyBoost = false;
};

// The local player's seat when its client plays through the plug-in's
// routes: the platform only hears that client's calls.
class LocalThroughPlugin final : public Policy {
 public:
  const char* Name() const override { return "LocalThroughPlugin"; }
};

class LocalOnPlatform final : public Policy {
 public:
  explicit LocalOnPlatform(LocalScript script) : script_(std::move(script)) {}
  const char* Name() const override { return "LocalOnPlatform"; }
  void OnBanTurn(SeatDesk& desk) override;
  void OnPickTurn(SeatDesk& desk) override;
  // Answers an offer 2 s later as scripted.
  void OnContract(SeatDesk& desk, const TradeContract& contract) override;

 private:
  LocalScript script_;
};

}  // namespace TovSim
