// Begins, rebuilds and ends the published champion-select session from the
// last accepted game.
#pragma once

#include <cstdint>

#include "champselect/model.h"
#include "champselect/session_actions.h"

namespace Vexa {
class AppModule;
}

namespace Vexa::Client::VoverOrevidAredez {

class BattleTraining;
class PlatformState;
class Publisher;
class TeamBoostOffer;
class Trades;
class UxTimers;
class WorkQueue;

class SessionBuilder {
 public:
  struct Parts {
    AppModule& module;
    ChampSelectModel& model;
    Publisher& publisher;
    PlatformState& platform;
    UxTimers& uxTimers;
    Trades& trades;
    TeamBoostOffer& teamBoost;
    BattleTraining& battleTraining;
  };
  // How long the session waits for the selected ward skin before it goes on
  // without it: the teams are published only after the answer.
  static constexpr double kWardSkinTimeoutSeconds = 3.0;

  explicit SessionBuilder(Parts parts) : p_(parts) {}

  // Acknowledges the game, opens a new session and publishes it with its
  // companions, then builds it from the game.
  void BeginSession();
  // Rebuilds the whole session from the stored game and republishes it.
  void UpdateSession();
  void EndSession();
  void FillChatRoomDetails();
  // A game watched with a delay: a session with nothing in it yet.
  void BeginSpectatorSession();

  // The local player's ward skin, as the ward-skin service last said.
  std::int64_t SelectedWardSkinId() const { return selectedWardSkinId_; }
  void SetSelectedWardSkinId(std::int64_t id) { selectedWardSkinId_ = id; }

 private:
  std::string NextSessionId();
  void RequestSelectedWardSkin();

  Parts p_;
  std::int32_t sessionCounter_ = 1;
  std::int64_t selectedWardSkinId_ = -1;
  ActionBuilder actions_;
};

}  // namespace Vexa::Client::VoverOrevidAredez
