#include "sim/policy.h"

#include <algorithm>
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
std::string SeatDesk::OfferTrade(int seat) {
  const Seat& other = GameNow().At(seat);
  return match_.Trades().Offer(seat_, other.player.internalName, other.selection.championId);
}
std::string SeatDesk::AcceptTrade(const TradeContract& offer) {
  const TradeContract copy = offer;  // the desk closes the offer it names
  return match_.Trades().Accept(seat_, GameNow().At(copy.requester).player.internalName, copy.requesterChampion);
}
std::string SeatDesk::DismissTrade() { return match_.Trades().Dismiss(seat_); }
const TradeContract* SeatDesk::PendingTrade() const { return match_.Trades().PendingOf(seat_); }
std::string SeatDesk::BuyBoost() { return match_.BuyBoost(seat_); }

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
  if (plan_.boostBuyer) desk.After(Think(desk, 2000, 25000), [](SeatDesk& d) { d.BuyBoost(); });
  if (!desk.GameNow().Rules().allowTrades) return;
  if (plan_.offerToLocalAt > 0)
    desk.After(ToMicros(plan_.offerToLocalAt), [](SeatDesk& d) {
      if (const int local = d.GameNow().SeatOf(kLocalSummonerId); local >= 0) d.OfferTrade(local);
    });
  if (plan_.offerAt > 0 && plan_.offerTo >= 0)
    desk.After(ToMicros(plan_.offerAt), [to = plan_.offerTo](SeatDesk& d) { d.OfferTrade(to); });
  // Now and then a person asks a team-mate for their champion unprompted.
  if (desk.Rng().Between(1, 8) == 1) desk.After(Think(desk, 2000, 20000), [this](SeatDesk& d) { OfferToAMate(d); });
}

size_t HumanBot::Rank(int championId) const {
  return static_cast<size_t>(std::find(preferences_.begin(), preferences_.end(), championId) - preferences_.begin());
}

void HumanBot::OfferToAMate(SeatDesk& desk) {
  const Game& game = desk.GameNow();
  int best = -1;
  for (const Seat& seat : game.Seats()) {
    const int other = static_cast<int>(&seat - game.Seats().data());
    // The local player is offered trades only where a scenario plans it.
    if (seat.player.IsLocal() || !game.MayTrade(desk.SeatNumber(), other)) continue;
    if (!Prefers(seat.selection.championId, desk.Me().selection.championId)) continue;
    if (best < 0 || Rank(seat.selection.championId) < Rank(game.At(best).selection.championId)) best = other;
  }
  if (best >= 0) desk.OfferTrade(best);
}

void HumanBot::OnContract(SeatDesk& desk, const TradeContract& contract) {
  if (contract.state != "PENDING") return;
  const uint64_t offer = contract.offer;
  const auto stillOpen = [offer](SeatDesk& d) {
    const TradeContract* pending = d.PendingTrade();
    return pending && pending->offer == offer ? pending : nullptr;
  };
  if (contract.requester == desk.SeatNumber()) {
    desk.After(kPatience, [stillOpen](SeatDesk& d) {
      if (stillOpen(d)) d.DismissTrade();
    });
    return;
  }
  if (plan_.ignoresOffers) return;
  desk.After(Think(desk, 1000, 4000), [this, stillOpen](SeatDesk& d) {
    const TradeContract* pending = stillOpen(d);
    if (!pending) return;  // withdrawn meanwhile
    if (Prefers(pending->requesterChampion, d.Me().selection.championId)) {
      d.AcceptTrade(*pending);
    } else {
      d.DismissTrade();
    }
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

void LocalOnPlatform::OnContract(SeatDesk& desk, const TradeContract& contract) {
  if (contract.state != "PENDING" || contract.responder != desk.SeatNumber()) return;
  desk.After(Seconds(2), [this, offer = contract.offer](SeatDesk& d) {
    const TradeContract* pending = d.PendingTrade();
    if (!pending || pending->offer != offer) return;
    if (script_.acceptOffers) {
      d.AcceptTrade(*pending);
    } else {
      d.DismissTrade();
    }
  });
}

}  // namespace TovSim
