// The platform's services the plug-in calls over LCDS: "gameService" and
// "lcdsRerollService", answered from the platform's games ("gameService"'s
// team boost calls from its boost desk). A player's call
// acts for the local player (the client the call comes from) and is held to
// the same rules as every other seat's actions.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <rapidjson/document.h>

namespace TovSim {

class Game;
class Match;
class Platform;

// One answer to an LCDS call: a result (typeName and body, both empty for a
// call without a result) or a failure.
struct LcdsAnswer {
  std::string typeName;
  std::string bodyJson;
  std::string error;
  int status = 200;

  static LcdsAnswer Result(std::string typeName, std::string bodyJson) {
    return LcdsAnswer{std::move(typeName), std::move(bodyJson), "", 200};
  }
  static LcdsAnswer None() { return LcdsAnswer{}; }
  static LcdsAnswer Failure(std::string text, int status = 500) { return LcdsAnswer{"", "", std::move(text), status}; }
};

class GameService {
 public:
  explicit GameService(Platform& platform) : platform_(platform) {}

  // `args` is the call's argument array; a call this service does not have
  // fails with "Unknown service call".
  LcdsAnswer Call(const std::string& method, const rapidjson::Value& args);

 private:
  LcdsAnswer Acknowledge(const rapidjson::Value& args);
  LcdsAnswer CurrentTimer();
  LcdsAnswer GetGame(const rapidjson::Value& args);
  LcdsAnswer InProgressGame();
  LcdsAnswer TeamBoost(const rapidjson::Value& args);
  LcdsAnswer UnlockTeamBoost(const rapidjson::Value& args);
  // Reads `count` whole-number arguments, then does `action` as the local
  // player's seat in its match.
  LcdsAnswer AsCaller(const rapidjson::Value& args, size_t count,
                      const std::function<std::string(Game&, int seat, const std::vector<int64_t>&)>& action);

  Platform& platform_;
};

class RerollService {
 public:
  explicit RerollService(Platform& platform) : platform_(platform) {}
  LcdsAnswer Call(const std::string& method, const rapidjson::Value& args);

 private:
  LcdsAnswer Roll();

  Platform& platform_;
};

}  // namespace TovSim
