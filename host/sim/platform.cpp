#include "sim/platform.h"

#include <algorithm>
#include <cstdio>

#include "sim/json.h"
#include "sim/refusals.h"

namespace TovSim {
namespace {

constexpr uint32_t kPost = 6;

// `chunks` > 0: the same text as a stream of that many pieces.
TovHost::Reply ToReply(const LcdsAnswer& answer, int chunks = 0) {
  if (!answer.error.empty()) return TovHost::Reply::Failure(answer.status, answer.error);
  // A call without a result answers an empty response: no type, null body.
  const std::string text =
      JsonWriter().BeginObject().Key("typeName").String(answer.typeName).Key("body").Raw(answer.bodyJson).EndObject().Text();
  if (chunks <= 0) return TovHost::Reply::Json(text, answer.status);
  std::vector<std::string> pieces;
  const size_t size = (text.size() + static_cast<size_t>(chunks) - 1) / static_cast<size_t>(chunks);
  for (size_t at = 0; at < text.size(); at += size) pieces.push_back(text.substr(at, size));
  TovHost::Reply reply = TovHost::Reply::Stream(std::move(pieces), static_cast<uint32_t>(text.size()));
  reply.status = answer.status;
  return reply;
}

}  // namespace

Platform::Platform(TovHost::Core& core, Scheduler& scheduler, FaultPlan& plan, PushQueue& pushes, Trace& trace,
                   DtoView view)
    : core_(core),
      scheduler_(scheduler),
      plan_(plan),
      pushes_(pushes),
      trace_(trace),
      view_(view),
      gameService_(*this),
      rerollService_(*this),
      tradeService_(*this),
      boosts_(scheduler, plan, trace) {
  boosts_.onUnlocked = [this](const Game& game, int team, const std::string& dto) { BoostUnlocked(game, team, dto); };
}

void Platform::Install() {
  core_.OnRequest(kPost, "/tov-login/v1/session/invoke", [this](const TovHost::RequestRecord& r) { return Invoke(r); });
}

Match& Platform::NewMatch(const QueueRules& rules, const Roster& roster, std::vector<std::unique_ptr<Policy>> policies,
                          uint64_t scenarioSeed, MatchTiming timing, int64_t spectatorDelay) {
  const int ordinal = static_cast<int>(matches_.size()) + 1;
  Game game(nextGameId_++, rules, roster);
  game.onChange = [this](const Game& g, const std::string& what) { Pushed(g, what); };
  matches_.push_back(std::make_unique<Match>(scheduler_, std::move(game), std::move(policies), scenarioSeed, ordinal,
                                             timing, spectatorDelay));
  Match& match = *matches_.back();
  match.onQueuePop = [this](const Game& g) {
    if (onQueuePop) onQueuePop(g);
  };
  match.onState = [this](const Game& g, GameState previous) {
    if (onState) onState(g, previous);
  };
  match.onClock = [this](const std::string& what, Micros length) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s", ToSeconds(length));
    trace_.Note("timer", what + ", " + (length == kNever ? "no time limit" : seconds));
  };
  match.UseRerollBank(&rerolls_);
  match.UseBoostDesk(&boosts_);
  match.Trades().UseKnobs(&plan_.desks);
  match.onContract = [this](const Game& g, const TradeContract& contract, const std::vector<int>& to,
                            const std::string& note) { Contracted(g, contract, to, note); };
  if (match.GameNow().SeatOf(kLocalSummonerId) >= 0) localGameId_ = match.GameNow().Id();
  return match;
}

Game& Platform::AddGame(std::unique_ptr<Game> game) {
  nextGameId_ = std::max(nextGameId_, game->Id() + 1);
  otherGames_.push_back(std::move(game));
  return *otherGames_.back();
}

Game* Platform::FindGame(uint64_t id) {
  for (auto& match : matches_)
    if (match->GameNow().Id() == id) return &match->MutableGame();
  for (auto& game : otherGames_)
    if (game->Id() == id) return game.get();
  return nullptr;
}

const Game* Platform::LocalGame() const {
  for (const auto& match : matches_)
    if (match->GameNow().Id() == localGameId_) return &match->GameNow();
  return nullptr;
}

Match* Platform::LocalMatch() {
  for (auto& match : matches_)
    if (match->GameNow().Id() == localGameId_) return match.get();
  return nullptr;
}

std::string Platform::DtoFor(const Game& game) const {
  DtoView view = view_;
  const int seat = game.SeatOf(kLocalSummonerId);
  view.viewerTeam = seat >= 0 ? game.At(seat).team : 0;
  return GameDtoJson(game, view);
}

void Platform::Acknowledge(uint64_t gameId, const std::string& what) {
  acknowledgements_.push_back(std::to_string(gameId) + " " + what);
}

void Platform::Pushed(const Game& game, const std::string& what) {
  std::string line = std::to_string(game.Id()) + " lock " + std::to_string(game.OptimisticLock()) + " " +
                     StateName(game.State()) + " turn " + std::to_string(game.PickTurn()) + ": " + what;
  trace_.Note("game", line);
  if (game.SeatOf(kLocalSummonerId) >= 0) pushes_.SendGame(DtoFor(game));
}

void Platform::Contracted(const Game& game, const TradeContract& contract, const std::vector<int>& to,
                          const std::string& note) {
  trace_.Note("trade", note);
  const int local = game.SeatOf(kLocalSummonerId);
  if (local < 0) return;
  const bool toLocal = std::find(to.begin(), to.end(), local) != to.end();
  const bool others = contract.requester != local && contract.responder != local &&
                      game.At(contract.requester).team == game.At(local).team;
  if (!toLocal && !(others && plan_.desks.othersContracts)) return;
  if (!toLocal) trace_.Note("fault", "a contract between two other players sent to the local client");
  pushes_.SendContract(ContractJson(game, contract));
}

void Platform::BoostUnlocked(const Game& game, int team, const std::string& dtoJson) {
  const int local = game.SeatOf(kLocalSummonerId);
  if (local < 0 || game.At(local).team != team) return;
  trace_.Note("boost", "the team is told the boost is unlocked");
  pushes_.SendMessage(kTeamSkinRentalClass, dtoJson);
}

TovHost::Reply Platform::Invoke(const TovHost::RequestRecord& request) {
  const std::string key = CallKey(request);
  const rapidjson::Document args = ParseJson(request.args.size() > 2 ? request.args[2] : "");
  if (key.find('.') == std::string::npos || !args.IsArray())
    return TovHost::Reply::Failure(400, "Malformed LCDS invoke: expected a destination, a method and an array of arguments");
  const CallFault* fault = plan_.ForCall(key);
  if (fault && fault->kind == CallFault::Kind::Fail) {
    trace_.Note("fault", key + " fails: " + fault->text);
    return TovHost::Reply::Failure(fault->status, fault->text);
  }
  if (!pushes_.Connected()) return TovHost::Reply::Failure(503, "Not connected to the platform");
  const std::string destination = key.substr(0, key.find('.'));
  const std::string method = key.substr(key.find('.') + 1);
  LcdsAnswer answer = destination == "gameService"                ? gameService_.Call(method, args)
                      : destination == "lcdsRerollService"        ? rerollService_.Call(method, args)
                      : destination == "lcdsChampionTradeService" ? tradeService_.Call(method, args)
                                                                  : LcdsAnswer::Failure(Refusal::kUnknownCall);
  if (fault && answer.error.empty()) {
    trace_.Note("fault", key + " answered wrongly");
    if (fault->kind == CallFault::Kind::WrongType) answer.typeName = fault->typeName;
    if (fault->kind == CallFault::Kind::EmptyBody) answer.bodyJson.clear();
    if (fault->kind == CallFault::Kind::Body) answer.bodyJson = fault->body;
  }
  return ToReply(answer, fault && fault->kind == CallFault::Kind::Chunked ? fault->chunks : 0);
}

}  // namespace TovSim
