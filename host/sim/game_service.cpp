#include "sim/game_service.h"

#include <algorithm>

#include "sim/json.h"
#include "sim/platform.h"

namespace TovSim {
namespace {

constexpr const char* kTimerClass = "com.vexagames.platform.game.GameTimerDTO";
constexpr const char* kInProgressClass = "com.vexagames.platform.game.InProgressGameInfo";
// The remaining time is taken as the answer leaves the server, a tenth of a
// millisecond after the call came in: what the plug-in reads is never whole.
constexpr double kAnswerLatencyMillis = 0.1;

bool TimedState(GameState state) {
  return state == GameState::PreChampSelect || state == GameState::ChampSelect ||
         state == GameState::PostChampSelect;
}

}  // namespace

LcdsAnswer GameService::Call(const std::string& method, const rapidjson::Value& args) {
  if (method == "setClientReceivedGameMessage") return Acknowledge(args);
  if (method == "getCurrentTimerForGame") return CurrentTimer();
  if (method == "getGame") return GetGame(args);
  if (method == "retrieveInProgressGameInfo") return InProgressGame();
  return LcdsAnswer::Failure(kUnknownCall);
}

LcdsAnswer GameService::Acknowledge(const rapidjson::Value& args) {
  uint64_t gameId = 0;
  if (!args.IsArray() || args.Size() < 2 || !ReadUint(args[0], &gameId) || !args[1].IsString())
    return LcdsAnswer::Failure("Invalid arguments");
  platform_.Acknowledge(gameId, args[1].GetString());
  return LcdsAnswer::None();
}

LcdsAnswer GameService::CurrentTimer() {
  const Game* game = platform_.LocalGame();
  if (!game) return LcdsAnswer::Failure("Game not found");
  double remaining = 0;
  if (TimedState(game->State())) {
    const Micros left = game->Deadline() - platform_.Now();
    remaining = std::max(0.0, static_cast<double>(left) / 1000.0 - kAnswerLatencyMillis);
  }
  const std::string body = JsonWriter()
                               .BeginObject()
                               .Key("__class").String(kTimerClass)
                               .Key("currentGameState").String(StateName(game->State()))
                               .Key("remainingTimeInMillis").Double(remaining)
                               .EndObject()
                               .Text();
  return LcdsAnswer::Result(kTimerClass, body);
}

LcdsAnswer GameService::GetGame(const rapidjson::Value& args) {
  uint64_t gameId = 0;
  if (!args.IsArray() || args.Size() < 1 || !ReadUint(args[0], &gameId)) return LcdsAnswer::Failure("Invalid arguments");
  const Game* game = platform_.FindGame(gameId);
  if (!game) return LcdsAnswer::Failure("Game not found");
  return LcdsAnswer::Result(kGameDtoClass, platform_.DtoFor(*game));
}

LcdsAnswer GameService::InProgressGame() {
  const Game* game = platform_.LocalGame();
  if (!game || game->State() == GameState::Terminated) return LcdsAnswer::Failure("No game in progress");
  const std::string body = JsonWriter().BeginObject().Key("game").Raw(platform_.DtoFor(*game)).EndObject().Text();
  return LcdsAnswer::Result(kInProgressClass, body);
}

}  // namespace TovSim
