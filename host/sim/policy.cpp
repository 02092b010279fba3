#include "sim/policy.h"

#include <numeric>

#include "sim/content.h"
#include "sim/match.h"

namespace TovSim {
namespace {

std::vector<int> AllChampions() {
  std::vector<int> ids(kLastChampion - kFirstChampion + 1);
  std::iota(ids.begin(), ids.end(), kFirstChampion);
  return ids;
}

Micros Think(SeatDesk& desk, int lowMillis, int highMillis) { return Millis(desk.Rng().Between(lowMillis, highMillis)); }

bool HoveredByTeam(const Game& game, int team, int championId) {
  for (const Seat& seat : game.Seats())
    if (seat.team == team && seat.selection.championId == championId) return true;
  return false;
}

}  // namespace

const Game& SeatDesk::GameNow() const { return match_.GameNow(); }

void SeatDesk::After(Micros delay, std::function<void(SeatDesk&)> act) {
  match_.Later(delay, [this, act = std::move(act)] {
    if (!GameNow().Ended()) act(*this);
  });
}

std::string SeatDesk::Ban(int championId) { return match_.Act([&](Game& g) { return g.BanChampion(seat_, championId); }); }
std::string SeatDesk::Hover(int championId) { return match_.Act([&](Game& g) { return g.Hover(seat_, championId); }); }
std::string SeatDesk::LockIn() { return match_.Act([&](Game& g) { return g.LockIn(seat_); }); }
std::string SeatDesk::Spells(int spell1, int spell2) {
  return match_.Act([&](Game& g) { return g.ChangeSpells(seat_, spell1, spell2); });
}
std::string SeatDesk::Skin(int skinIndex) {
  const int championId = Me().selection.championId;
  return match_.Act([&](Game& g) { return g.ChangeSkin(seat_, championId, SkinId(championId, skinIndex)); });
}
std::string SeatDesk::Quit() { return match_.Act([&](Game& g) { return g.Quit(seat_); }); }
std::string SeatDesk::Reroll() { return match_.Reroll(seat_); }
void SeatDesk::Preset(int championId) { match_.Preset(seat_, championId); }

void HumanBot::OnSetup(SeatDesk& desk) {
  preferences_ = desk.Rng().Shuffled(AllChampions());
  banList_ = desk.Rng().Shuffled(AllChampions());
}

void HumanBot::OnBanTurn(SeatDesk& desk) {
  desk.After(Think(desk, 2000, 8000), [this](SeatDesk& d) {
    for (int championId : banList_) {
      if (HoveredByTeam(d.GameNow(), d.Me().team, championId)) continue;
      if (d.Ban(championId).empty()) return;
    }
  });
}

void HumanBot::HoverBest(SeatDesk& desk) {
  // The platform refuses what is banned or taken; the next choice is tried.
  for (int championId : preferences_)
    if (desk.Hover(championId).empty()) return;
}

void HumanBot::OnPickTurn(SeatDesk& desk) {
  desk.After(Think(desk, 2000, 8000), [this](SeatDesk& d) {
    HoverBest(d);
    d.After(Think(d, 1000, 6000), [this](SeatDesk& later) {
      if (later.Me().selection.championId == 0) HoverBest(later);
      later.LockIn();
    });
  });
}

void HumanBot::OnPostPhase(SeatDesk& desk) {
  if (desk.GameNow().Rules().rerolls && desk.Rng().Between(0, 1) == 1)
    desk.After(Think(desk, 1000, 3000), [](SeatDesk& d) { d.Reroll(); });
  desk.After(Think(desk, 3000, 20000), [](SeatDesk& d) {
    const int first = static_cast<int>(d.Rng().Between(kFirstSpell, kLastSpell));
    int second = static_cast<int>(d.Rng().Between(kFirstSpell, kLastSpell - 1));
    if (second >= first) ++second;
    d.Spells(first, second);
    d.Skin(static_cast<int>(d.Rng().Between(1, 3)));
  });
}

void AiBot::OnSetup(SeatDesk& desk) {
  // From the end of the list, away from what people usually take.
  for (int championId : desk.Rng().Shuffled({33, 34, 35, 36, 37, 38, 39, 40})) {
    if (HoveredByTeam(desk.GameNow(), desk.Me().team, championId)) continue;
    desk.Preset(championId);
    return;
  }
}

void Dodger::OnGameBegins(SeatDesk& desk) {
  desk.After(quitAfter_, [](SeatDesk& d) { d.Quit(); });
}

void LocalOnPlatform::OnBanTurn(SeatDesk& desk) {
  desk.After(script_.banDelay, [this](SeatDesk& d) {
    if (d.Ban(script_.ban).empty()) return;
    for (int championId : AllChampions())
      if (d.Ban(championId).empty()) return;
  });
}

void LocalOnPlatform::OnPickTurn(SeatDesk& desk) {
  desk.After(script_.hoverDelay, [this](SeatDesk& d) {
    bool hovered = false;
    for (int championId : script_.picks)
      if ((hovered = d.Hover(championId).empty())) break;
    for (int championId = kFirstChampion; !hovered && championId <= kLastChampion; ++championId)
      hovered = d.Hover(championId).empty();
    d.After(script_.lockDelay, [](SeatDesk& later) { later.LockIn(); });
  });
}

}  // namespace TovSim
