#include "sim/boost_desk.h"

#include "sim/json.h"
#include "sim/match.h"
#include "sim/refusals.h"

namespace TovSim {

std::vector<int> TeamSkins(const Game& game, int team) {
  std::vector<int> skins;
  for (const Seat& seat : game.Seats()) {
    if (seat.team != team || !seat.present || seat.selection.championId == 0) continue;
    for (int index = 1; index <= kLastSkinIndex; ++index) skins.push_back(SkinId(seat.selection.championId, index));
  }
  return skins;
}

int BoostDesk::Balance(uint64_t summonerId) const {
  const int wallet = summonerId == kLocalSummonerId && plan_.desks.walletShort ? kShortWallet : kWalletVp;
  const auto spent = spent_.find(summonerId);
  return wallet - (spent == spent_.end() ? 0 : spent->second);
}

std::string BoostDesk::WhyNot(const Game& game, int seat, const std::string& currency) const {
  if (currency != kCurrency) return Refusal::kUnknownCurrency;
  if (!game.Rules().battleBoost) return Refusal::kNoBoost;
  if (game.State() != GameState::PostChampSelect || seat < 0 || !game.At(seat).present) return Refusal::kNotFinalizing;
  return "";
}

std::string BoostDesk::Json(const Game& game, int team) const {
  const auto found = unlocked_.find({game.Id(), team});
  const bool unlocked = found != unlocked_.end();
  JsonWriter json;
  json.BeginObject().Key("__class").String(kTeamSkinRentalClass);
  json.Key("summonerName").String(unlocked ? found->second.buyer : "").Key("skinUnlockMode").String("TEAM");
  json.Key("price").Int(kBoostPrice).Key("ipReward").Int(kIpReward).Key("ipRewardForPurchaser").Int(kIpRewardForPurchaser);
  json.Key("availableSkins").BeginArray();
  for (int skin : unlocked ? found->second.skins : TeamSkins(game, team)) json.Int(skin);
  json.EndArray().Key("unlocked").Bool(unlocked).EndObject();
  return json.Text();
}

std::string BoostDesk::Offer(const Game& game, int seat, const std::string& currency, std::string* json) const {
  if (std::string refused = WhyNot(game, seat, currency); !refused.empty()) return refused;
  *json = Json(game, game.At(seat).team);
  return "";
}

std::string BoostDesk::Purchase(Match& match, int seat, const std::string& currency) {
  Game& game = match.MutableGame();
  std::string refused = WhyNot(game, seat, currency);
  const Player& buyer = game.At(seat).player;
  const int team = game.At(seat).team;
  if (refused.empty() && unlocked_.count({game.Id(), team})) refused = Refusal::kBoostUnlocked;
  if (refused.empty() && Balance(buyer.summonerId) < kBoostPrice) refused = Refusal::kInsufficientFunds;
  if (!refused.empty()) {
    trace_.Note("boost", buyer.name + " may not buy the team boost: " + refused);
    return refused;
  }
  spent_[buyer.summonerId] += kBoostPrice;
  Unlock& unlock = unlocked_[{game.Id(), team}];
  unlock.buyer = buyer.name;
  unlock.skins = TeamSkins(game, team);
  game.UnlockSkins(team, unlock.skins);
  trace_.Note("boost", buyer.name + " buys the team boost for " + std::to_string(kBoostPrice) + " " + kCurrency +
                           " (" + std::to_string(Balance(buyer.summonerId)) + " left): " +
                           std::to_string(unlock.skins.size()) + " skins unlocked for the team");
  const Game* bought = &game;
  scheduler_.After(kUnlockDelay, [this, bought, team] {
    // A game that has moved on has nobody left to tell.
    if (bought->State() == GameState::PostChampSelect && onUnlocked) onUnlocked(*bought, team, Json(*bought, team));
  });
  return "";
}

}  // namespace TovSim
