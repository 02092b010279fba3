#include "sim/trade_desk.h"

#include <algorithm>

#include "sim/json.h"
#include "sim/match.h"
#include "sim/platform.h"
#include "sim/refusals.h"

namespace TovSim {

std::string ContractJson(const Game& game, const TradeContract& contract) {
  return JsonWriter()
      .BeginObject()
      .Key("__class").String(kTradeContractClass)
      .Key("requesterInternalSummonerName").String(game.At(contract.requester).player.internalName)
      .Key("responderInternalSummonerName").String(game.At(contract.responder).player.internalName)
      .Key("requesterChampionId").Int(contract.requesterChampion)
      .Key("responderChampionId").Int(contract.responderChampion)
      .Key("state").String(contract.state)
      .EndObject()
      .Text();
}

std::string TradeDesk::Name(int seat) const { return match_.GameNow().At(seat).player.name; }

std::vector<int> TradeDesk::PotentialTraders(int seat) const {
  std::vector<int> traders;
  const Game& game = match_.GameNow();
  if (!game.Rules().allowTrades) return traders;
  for (int other = 0; other < static_cast<int>(game.Seats().size()); ++other)
    if (game.MayTrade(seat, other)) traders.push_back(other);
  return traders;
}

const TradeContract* TradeDesk::PendingOf(int seat) const {
  for (const TradeContract& contract : open_)
    if (contract.requester == seat || contract.responder == seat) return &contract;
  return nullptr;
}

std::string TradeDesk::WhyNot(int seat) const {
  const Game& game = match_.GameNow();
  if (!game.Rules().allowTrades) return Refusal::kNoTrades;
  if (game.State() != GameState::PostChampSelect || seat < 0 || !game.At(seat).present) return Refusal::kNotFinalizing;
  return "";
}

int TradeDesk::MateNamed(int seat, const std::string& internalName) const {
  const Game& game = match_.GameNow();
  for (const Seat& s : game.Seats())
    if (s.team == game.At(seat).team && s.present && s.player.internalName == internalName && &s != &game.At(seat))
      return static_cast<int>(&s - game.Seats().data());
  return -1;
}

std::string TradeDesk::Offer(int seat, const std::string& responderName, int64_t championId) {
  if (std::string refused = WhyNot(seat); !refused.empty()) return refused;
  const Game& game = match_.GameNow();
  const int responder = MateNamed(seat, responderName);
  if (responder < 0) return Refusal::kNotATeamMate;
  if (championId != game.At(responder).selection.championId) return Refusal::kNotTheirChampion;
  if (!game.MayTrade(seat, responder)) return Refusal::kCannotTrade;
  if (PendingOf(seat)) return Refusal::kAlreadyTrading;
  if (const TradeContract* ongoing = PendingOf(responder)) {
    TradeContract busy = *ongoing;
    busy.state = "BUSY";
    Send(busy, {seat},
         "an offer from " + Name(seat) + " to " + Name(responder) + " is turned away: " + Name(busy.requester) +
             " and " + Name(busy.responder) + " are trading, BUSY");
    return "";
  }
  TradeContract contract;
  contract.offer = ++offers_;
  contract.requester = seat;
  contract.responder = responder;
  contract.requesterChampion = game.At(seat).selection.championId;
  contract.responderChampion = game.At(responder).selection.championId;
  contract.state = "PENDING";
  open_.push_back(contract);
  Send(contract, {seat, responder},
       Name(seat) + " offers " + std::to_string(contract.requesterChampion) + " to " + Name(responder) + " for " +
           std::to_string(contract.responderChampion) + ", PENDING");
  const uint64_t offer = contract.offer;
  match_.Later(kUnanswered, [this, offer] {
    Close(offer, "CANCELED", "nobody answered in time: the platform withdraws the offer");
  });
  return "";
}

std::string TradeDesk::Accept(int seat, const std::string& requesterName, int64_t championId) {
  if (std::string refused = WhyNot(seat); !refused.empty()) return refused;
  const int requester = MateNamed(seat, requesterName);
  const TradeContract* pending = PendingOf(seat);
  if (requester < 0 || !pending || pending->responder != seat || pending->requester != requester)
    return Refusal::kNoOffer;
  if (championId != pending->requesterChampion) return Refusal::kNotTheirChampion;
  const Game& game = match_.GameNow();
  // What was offered must still be what each holds.
  if (game.At(requester).selection.championId != pending->requesterChampion ||
      game.At(seat).selection.championId != pending->responderChampion || !game.MayTrade(seat, requester))
    return Refusal::kCannotTrade;
  TradeContract accepted = *pending;
  accepted.state = "ACCEPTED";
  open_.erase(open_.begin() + (pending - open_.data()));
  const auto swap = [&] {
    return match_.Act([&](Game& g) { return g.SwapChampions(accepted.requester, accepted.responder); });
  };
  const std::string note = Name(seat) + " accepts " + Name(requester) + "'s offer, ACCEPTED";
  if (knobs_ && knobs_->gameBeforeAccepted) {
    swap();
    Send(accepted, {accepted.requester, accepted.responder}, note + " (after the game)");
  } else {
    Send(accepted, {accepted.requester, accepted.responder}, note);
    swap();
  }
  return "";
}

std::string TradeDesk::Dismiss(int seat) {
  const TradeContract* pending = PendingOf(seat);
  if (!pending) return Refusal::kNothingPending;
  const bool own = pending->requester == seat;
  Close(pending->offer, own ? "CANCELED" : "DECLINED",
        Name(seat) + (own ? " withdraws the offer" : " declines the offer"));
  return "";
}

void TradeDesk::Close(uint64_t offer, const char* state, const std::string& note) {
  const auto found = std::find_if(open_.begin(), open_.end(), [&](const TradeContract& c) { return c.offer == offer; });
  if (found == open_.end()) return;
  TradeContract closed = *found;
  closed.state = state;
  open_.erase(found);
  Send(closed, {closed.requester, closed.responder},
       Name(closed.requester) + " and " + Name(closed.responder) + ": " + note + ", " + state);
}

void TradeDesk::ChampionChanged(int seat) {
  if (const TradeContract* pending = PendingOf(seat))
    Close(pending->offer, "CANCELED", Name(seat) + "'s champion changed: the platform withdraws the offer");
}

void TradeDesk::End() { open_.clear(); }

void TradeDesk::Send(const TradeContract& contract, const std::vector<int>& to, const std::string& note) {
  if (onMessage) onMessage(contract, to, note);
}

// ---- The local player's calls ----------------------------------------------------

LcdsAnswer TradeService::Call(const std::string& method, const rapidjson::Value& args) {
  if (method == "getPotentialTraders") return PotentialTraders();
  if (method == "attemptTrade") return Attempt(args);
  if (method == "dismissTrade") return Dismiss();
  return LcdsAnswer::Failure(Refusal::kUnknownCall);
}

LcdsAnswer TradeService::PotentialTraders() {
  Match* match = platform_.LocalMatch();
  const int seat = match ? match->GameNow().SeatOf(kLocalSummonerId) : -1;
  if (seat < 0) return LcdsAnswer::Failure(Refusal::kNotInGame);
  // Outside finalization nobody can trade: the answer says so with an empty
  // list, as it would for a team that cannot swap anything.
  JsonWriter json;
  json.BeginObject().Key("__class").String(kPotentialTradersClass).Key("potentialTraders").BeginArray();
  for (int mate : match->Trades().PotentialTraders(seat)) json.String(match->GameNow().At(mate).player.internalName);
  json.EndArray().EndObject();
  return LcdsAnswer::Result(kPotentialTradersClass, json.Text());
}

LcdsAnswer TradeService::Attempt(const rapidjson::Value& args) {
  int64_t championId = 0;
  if (!args.IsArray() || args.Size() < 3 || !args[0].IsString() || !ReadInt(args[1], &championId) || !args[2].IsBool())
    return LcdsAnswer::Failure(Refusal::kInvalidArguments);
  Match* match = platform_.LocalMatch();
  const int seat = match ? match->GameNow().SeatOf(kLocalSummonerId) : -1;
  if (seat < 0) return LcdsAnswer::Failure(Refusal::kNotInGame);
  const std::string name = args[0].GetString();
  const std::string refused = args[2].GetBool() ? match->Trades().Accept(seat, name, championId)
                                                : match->Trades().Offer(seat, name, championId);
  return refused.empty() ? LcdsAnswer::None() : LcdsAnswer::Failure(refused);
}

LcdsAnswer TradeService::Dismiss() {
  Match* match = platform_.LocalMatch();
  const int seat = match ? match->GameNow().SeatOf(kLocalSummonerId) : -1;
  if (seat < 0) return LcdsAnswer::Failure(Refusal::kNotInGame);
  const std::string refused = match->Trades().Dismiss(seat);
  return refused.empty() ? LcdsAnswer::None() : LcdsAnswer::Failure(refused);
}

}  // namespace TovSim
