// The platform's "gameService": the calls the plug-in makes, answered from
// the platform's games.
#pragma once

#include <string>
#include <vector>

#include <rapidjson/document.h>

namespace TovSim {

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

inline constexpr const char* kUnknownCall = "Unknown service call";

class GameService {
 public:
  explicit GameService(Platform& platform) : platform_(platform) {}

  // `args` is the call's argument array; a call this service does not have
  // fails with kUnknownCall.
  LcdsAnswer Call(const std::string& method, const rapidjson::Value& args);

 private:
  LcdsAnswer Acknowledge(const rapidjson::Value& args);
  LcdsAnswer CurrentTimer();
  LcdsAnswer GetGame(const rapidjson::Value& args);
  LcdsAnswer InProgressGame();

  Platform& platform_;
};

}  // namespace TovSim
