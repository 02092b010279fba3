#include "sim/match.h"

#include "sim/refusals.h"

namespace TovSim {

Match::Match(Scheduler& scheduler, Game game, std::vector<std::unique_ptr<Policy>> policies, uint64_t scenarioSeed,
             int ordinal, MatchTiming timing, int64_t spectatorDelay)
    : scheduler_(scheduler),
      game_(std::move(game)),
      policies_(std::move(policies)),
      ordinal_(ordinal),
      // The seat after the last is the platform's own.
      random_(SeatSeed(scenarioSeed, ordinal, static_cast<int>(game_.Seats().size()))),
      timing_(timing),
      spectatorDelay_(spectatorDelay) {
  for (size_t seat = 0; seat < game_.Seats().size(); ++seat) {
    if (seat >= policies_.size()) policies_.push_back(std::make_unique<Afk>());
    desks_.push_back(std::make_unique<SeatDesk>(*this, static_cast<int>(seat),
                                                SeatSeed(scenarioSeed, ordinal, static_cast<int>(seat))));
  }
  for (size_t seat = 0; seat < desks_.size(); ++seat) policies_[seat]->OnSetup(*desks_[seat]);
  trades_.onMessage = [this](const TradeContract& contract, const std::vector<int>& to, const std::string& note) {
    if (onContract) onContract(game_, contract, to, note);
    for (int seat : to) PolicyOf(seat).OnContract(DeskOf(seat), contract);
  };
}

void Match::Start() {
  if (game_.Rules().custom) {
    game_.EnterTeamSelect();
    seenState_ = GameState::TeamSelect;
    scheduler_.After(timing_.lobby, [this] {
      if (game_.State() == GameState::TeamSelect) BeginSelection();
    });
  } else {
    BeginSelection();
  }
}

void Match::HandOutChampions() {
  for (size_t seat = 0; seat < game_.Seats().size(); ++seat) {
    const Seat& s = game_.At(static_cast<int>(seat));
    if (s.player.IsBot() || s.selection.championId != 0) continue;
    const std::vector<int> candidates = game_.ChampionsToHandOut(static_cast<int>(seat));
    if (!candidates.empty())
      game_.PresetChampion(static_cast<int>(seat),
                           candidates[static_cast<size_t>(random_.Between(0, int64_t(candidates.size()) - 1))]);
  }
}

void Match::BeginSelection() {
  if (onQueuePop) onQueuePop(game_);
  if (game_.Rules().randomChampions && game_.OptimisticLock() == 0) HandOutChampions();
  if (game_.Rules().bans > 0) {
    game_.BeginBans();
  } else {
    game_.BeginPicks();
  }
  if (!begun_) {
    begun_ = true;
    for (size_t seat = 0; seat < desks_.size(); ++seat) policies_[seat]->OnGameBegins(*desks_[seat]);
  }
  Progress();
}

std::string Match::Act(const std::function<std::string(Game&)>& action) {
  std::string refused = action(game_);
  if (refused.empty()) Progress();
  return refused;
}

std::string Match::Reroll(int seat) {
  if (std::string refused = game_.RerollRefusal(seat); !refused.empty()) return refused;
  const std::vector<int> candidates = game_.ChampionsToHandOut(seat);
  if (candidates.empty()) return Refusal::kNothingToRoll;
  if (!bank_ || !bank_->Spend(game_.At(seat).player.summonerId)) return Refusal::kNotEnoughPoints;
  const int championId = candidates[static_cast<size_t>(random_.Between(0, int64_t(candidates.size()) - 1))];
  std::string refused = Act([&](Game& g) { return g.Reroll(seat, championId); });
  if (refused.empty()) trades_.ChampionChanged(seat);
  return refused;
}

std::string Match::BuyBoost(int seat) {
  return boosts_ ? boosts_->Purchase(*this, seat, BoostDesk::kCurrency) : Refusal::kNoBoost;
}

Micros Match::TurnLength() const {
  if (game_.Rules().battleTraining) return kNever;
  if (game_.State() == GameState::PreChampSelect) return timing_.banTurn;
  return game_.Rules().order == PickOrder::Blind ? timing_.blindPick : timing_.pickTurn;
}

void Match::AtDeadline(const std::string& what, Micros length, std::function<void()> work) {
  const uint64_t serial = ++clockSerial_;
  if (onClock) onClock(what, length);
  if (length == kNever) {
    game_.SetDeadline(kNever);
    return;
  }
  const Micros when = scheduler_.Now() + length;
  game_.SetDeadline(when);
  scheduler_.At(when, [this, serial, work = std::move(work)] {
    if (serial == clockSerial_) work();
  });
}

void Match::Progress() {
  const GameState previous = seenState_;
  const bool newState = game_.State() != seenState_;
  const bool newTurn = game_.PickTurn() != seenTurn_;
  seenState_ = game_.State();
  seenTurn_ = game_.PickTurn();
  if (!newState && !newTurn) return;
  if (newState && previous == GameState::PostChampSelect) trades_.End();
  switch (game_.State()) {
    case GameState::PreChampSelect:
    case GameState::ChampSelect:
      if (game_.PickTurn() <= game_.TurnsInPhase()) {
        StartTurn();
      } else {
        // Everyone has acted: a short pause, then the next phase.
        const bool bans = game_.State() == GameState::PreChampSelect;
        AtDeadline(bans ? "picks begin" : "finalization begins", timing_.phaseChange, [this, bans] {
          if (bans) {
            game_.BeginPicks();
          } else {
            game_.BeginPost();
          }
          Progress();
        });
      }
      break;
    case GameState::PostChampSelect:
      if (!newState) break;
      AtDeadline("finalization", timing_.finalization, [this] {
        game_.RequestStart(spectatorDelay_);
        Progress();
      });
      for (size_t seat = 0; seat < desks_.size(); ++seat)
        if (game_.At(static_cast<int>(seat)).present) policies_[seat]->OnPostPhase(*desks_[seat]);
      break;
    default:
      ++clockSerial_;  // no deadline runs any more
      break;
  }
  if (newState && onState) onState(game_, previous);
}

void Match::StartTurn() {
  const bool bans = game_.State() == GameState::PreChampSelect;
  std::string who;
  for (int seat : game_.Actors()) who += (who.empty() ? "" : ", ") + game_.At(seat).player.name;
  AtDeadline((bans ? "ban turn " : "pick turn ") + std::to_string(game_.PickTurn()) + ": " + who, TurnLength(), [this] {
    game_.ExpireTurn();
    Progress();
  });
  for (int seat : game_.Actors()) {
    if (bans) {
      PolicyOf(seat).OnBanTurn(DeskOf(seat));
    } else {
      PolicyOf(seat).OnPickTurn(DeskOf(seat));
    }
  }
}

}  // namespace TovSim
