#include "sim/game_service.h"

#include <algorithm>
#include <limits>

#include "sim/json.h"
#include "sim/platform.h"
#include "sim/refusals.h"
#include "sim/roster.h"

namespace TovSim {
namespace {

constexpr const char* kTimerClass = "com.vexagames.platform.game.GameTimerDTO";
constexpr const char* kInProgressClass = "com.vexagames.platform.game.InProgressGameInfo";
constexpr const char* kRollResultClass = "com.vexagames.platform.reroll.pojo.RollResult";
constexpr const char* kPointSummaryClass = "com.vexagames.platform.reroll.pojo.PointSummary";
// The remaining time is taken as the answer leaves the server, a tenth of a
// millisecond after the call came in: what the plug-in reads is never whole.
constexpr double kAnswerLatencyMillis = 0.1;

bool TimedState(GameState state) {
  return state == GameState::PreChampSelect || state == GameState::ChampSelect ||
         state == GameState::PostChampSelect;
}

// A whole number as the plug-in may send it, Int64 or UInt64; one too large
// for Int64 becomes the largest, which no rule accepts.
bool ReadWhole(const rapidjson::Value& value, int64_t* out) {
  if (ReadInt(value, out)) return true;
  if (!value.IsUint64()) return false;
  *out = std::numeric_limits<int64_t>::max();
  return true;
}

std::string TimerJson(const char* state, double remainingMillis) {
  return JsonWriter()
      .BeginObject()
      .Key("__class").String(kTimerClass)
      .Key("currentGameState").String(state)
      .Key("remainingTimeInMillis").Double(remainingMillis)
      .EndObject()
      .Text();
}

}  // namespace

LcdsAnswer GameService::Call(const std::string& method, const rapidjson::Value& args) {
  using Values = std::vector<int64_t>;
  if (method == "setClientReceivedGameMessage") return Acknowledge(args);
  if (method == "getCurrentTimerForGame") return CurrentTimer();
  if (method == "getGame") return GetGame(args);
  if (method == "retrieveInProgressGameInfo") return InProgressGame();
  if (method == "selectChampion")
    return AsCaller(args, 1, [](Game& g, int seat, const Values& v) { return g.Hover(seat, v[0]); });
  if (method == "banChampion")
    return AsCaller(args, 1, [](Game& g, int seat, const Values& v) { return g.BanChampion(seat, v[0]); });
  if (method == "championSelectCompleted")
    return AsCaller(args, 0, [](Game& g, int seat, const Values&) { return g.LockIn(seat); });
  if (method == "selectSpells")
    return AsCaller(args, 2, [](Game& g, int seat, const Values& v) { return g.ChangeSpells(seat, v[0], v[1]); });
  if (method == "selectChampionSkin")
    return AsCaller(args, 2, [](Game& g, int seat, const Values& v) { return g.ChangeSkin(seat, v[0], v[1]); });
  if (method == "quitGame") return AsCaller(args, 0, [](Game& g, int seat, const Values&) { return g.Quit(seat); });
  if (method == "initializeTeamSkinRental") return TeamBoost(args);
  if (method == "unlockSkinsForTeam") return UnlockTeamBoost(args);
  return LcdsAnswer::Failure(Refusal::kUnknownCall);
}

LcdsAnswer GameService::AsCaller(const rapidjson::Value& args, size_t count,
                                 const std::function<std::string(Game&, int, const std::vector<int64_t>&)>& action) {
  std::vector<int64_t> values(count);
  if (!args.IsArray() || args.Size() < count) return LcdsAnswer::Failure(Refusal::kInvalidArguments);
  for (size_t i = 0; i < count; ++i)
    if (!ReadWhole(args[static_cast<rapidjson::SizeType>(i)], &values[i]))
      return LcdsAnswer::Failure(Refusal::kInvalidArguments);
  Match* match = platform_.LocalMatch();
  const int seat = match ? match->GameNow().SeatOf(kLocalSummonerId) : -1;
  if (seat < 0) return LcdsAnswer::Failure(Refusal::kNotInGame);
  const std::string refused = match->Act([&](Game& game) { return action(game, seat, values); });
  return refused.empty() ? LcdsAnswer::None() : LcdsAnswer::Failure(refused);
}

LcdsAnswer GameService::Acknowledge(const rapidjson::Value& args) {
  uint64_t gameId = 0;
  if (!args.IsArray() || args.Size() < 2 || !ReadUint(args[0], &gameId) || !args[1].IsString())
    return LcdsAnswer::Failure(Refusal::kInvalidArguments);
  platform_.Acknowledge(gameId, args[1].GetString());
  return LcdsAnswer::None();
}

LcdsAnswer GameService::CurrentTimer() {
  const Game* game = platform_.LocalGame();
  if (!game) return LcdsAnswer::Failure(Refusal::kGameNotFound);
  // A phase without a time limit has no timer: the platform answers an empty
  // one, which the plug-in reads as nothing to show.
  if (TimedState(game->State()) && game->Deadline() == kNever) return LcdsAnswer::Result(kTimerClass, TimerJson("", 0));
  double remaining = 0;
  if (TimedState(game->State())) {
    const Micros left = game->Deadline() - platform_.Now();
    remaining = std::max(0.0, static_cast<double>(left) / 1000.0 - kAnswerLatencyMillis);
  }
  return LcdsAnswer::Result(kTimerClass, TimerJson(StateName(game->State()), remaining));
}

LcdsAnswer GameService::GetGame(const rapidjson::Value& args) {
  uint64_t gameId = 0;
  if (!args.IsArray() || args.Size() < 1 || !ReadUint(args[0], &gameId))
    return LcdsAnswer::Failure(Refusal::kInvalidArguments);
  const Game* game = platform_.FindGame(gameId);
  if (!game) return LcdsAnswer::Failure(Refusal::kGameNotFound);
  return LcdsAnswer::Result(kGameDtoClass, platform_.DtoFor(*game));
}

LcdsAnswer GameService::InProgressGame() {
  const Game* game = platform_.LocalGame();
  if (!game || game->State() == GameState::Terminated) return LcdsAnswer::Failure(Refusal::kNoGameInProgress);
  const std::string body = JsonWriter().BeginObject().Key("game").Raw(platform_.DtoFor(*game)).EndObject().Text();
  return LcdsAnswer::Result(kInProgressClass, body);
}

LcdsAnswer GameService::TeamBoost(const rapidjson::Value& args) {
  if (!args.IsArray() || args.Size() < 1 || !args[0].IsString()) return LcdsAnswer::Failure(Refusal::kInvalidArguments);
  const Match* match = platform_.LocalMatch();
  const int seat = match ? match->GameNow().SeatOf(kLocalSummonerId) : -1;
  if (seat < 0) return LcdsAnswer::Failure(Refusal::kNotInGame);
  std::string dto;
  if (std::string refused = platform_.Boosts().Offer(match->GameNow(), seat, args[0].GetString(), &dto); !refused.empty())
    return LcdsAnswer::Failure(refused);
  return LcdsAnswer::Result(kTeamSkinRentalClass, dto);
}

LcdsAnswer GameService::UnlockTeamBoost(const rapidjson::Value& args) {
  if (!args.IsArray() || args.Size() < 1 || !args[0].IsString()) return LcdsAnswer::Failure(Refusal::kInvalidArguments);
  Match* match = platform_.LocalMatch();
  const int seat = match ? match->GameNow().SeatOf(kLocalSummonerId) : -1;
  if (seat < 0) return LcdsAnswer::Failure(Refusal::kNotInGame);
  const std::string refused = platform_.Boosts().Purchase(*match, seat, args[0].GetString());
  return refused.empty() ? LcdsAnswer::None() : LcdsAnswer::Failure(refused);
}

LcdsAnswer RerollService::Call(const std::string& method, const rapidjson::Value&) {
  if (method == "roll") return Roll();
  return LcdsAnswer::Failure(Refusal::kUnknownCall);
}

LcdsAnswer RerollService::Roll() {
  Match* match = platform_.LocalMatch();
  const int seat = match ? match->GameNow().SeatOf(kLocalSummonerId) : -1;
  if (seat < 0) return LcdsAnswer::Failure(Refusal::kNotInGame);
  if (std::string refused = match->Reroll(seat); !refused.empty()) return LcdsAnswer::Failure(refused);
  const PointSummary points = platform_.Rerolls().Summary(kLocalSummonerId);
  JsonWriter json;
  json.BeginObject().Key("__class").String(kRollResultClass);
  json.Key("championId").Int(match->GameNow().At(seat).selection.championId);
  json.Key("pointSummary").BeginObject().Key("__class").String(kPointSummaryClass);
  json.Key("pointsToNextRoll").Int(points.pointsToNextRoll).Key("currentPoints").Int(points.currentPoints);
  json.Key("numberOfRolls").Int(points.numberOfRolls).Key("maxRolls").Int(points.maxRolls);
  json.Key("pointsCostToRoll").Int(points.pointsCostToRoll).EndObject();
  return LcdsAnswer::Result(kRollResultClass, json.EndObject().Text());
}

}  // namespace TovSim
