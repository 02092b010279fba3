// What the other plug-ins of the client tell the champion select: the queue's
// rules and the game client's visibility (gameflow), who the local summoner
// is and whether the connection came back (login), the summoner's level, the
// lobby, the champion inventory, battle training, spectating and the
// new-player configuration. Also what is computed from them: the pickable
// and bannable champions, reconnect recovery, dodge reports and the gameflow
// posts.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "binding/failure.h"
#include "champselect/api.h"
#include "champselect/lcds.h"
#include "champselect/model.h"
#include "runtime/runtime_types.h"

namespace Vexa {
class AppModule;
}

namespace Vexa::Client::VoverOrevidAredez {

class WorkQueue;

class PlatformState {
 public:
  struct Hooks {
    // Raises a state-machine event (logged and dispatched).
    std::function<bool(std::string_view event)> raiseEvent;
    // Hands a game to the pushed-game handling.
    std::function<void(LCDS::GameDTO game)> handleGame;
    // Starts a session for a game watched with a delay.
    std::function<void()> beginSpectatorSession;
  };

  PlatformState(AppModule& module, ChampSelectModel& model, WorkQueue& work, Hooks hooks);

  // The resource subscriptions, in their order; every change runs as a
  // champion-select work item.
  void Subscribe();

  MaybeType<Failure, Api::ChampSelectPickableChampions> GetPickableChampions() const;
  MaybeType<Failure, Api::ChampSelectBannableChampions> GetBannableChampions() const;
  // After a reconnect during a session: fetch the game again, or end the
  // session as dodged by the party when the platform no longer has it.
  void RecoverGame();
  // Before a TERMINATED game is stored: who dodged, party or stranger.
  void ReportDodge(const LCDS::GameDTO& incoming);
  void PostGameflowEvent(const char* event);

  std::int32_t MaxAllowableBans() const { return maxAllowableBans_; }
  bool AllowTrades() const { return allowTrades_; }
  bool BattleBoostAllowed() const { return battleBoostAllowed_; }
  bool IsCustomGame() const { return isCustomGame_; }
  bool IsBattleTraining() const { return isBattleTraining_; }
  bool BattleTrainingCompleted() const { return battleTrainingCompleted_; }
  void SetBattleTrainingCompleted(bool completed) { battleTrainingCompleted_ = completed; }

 private:
  template <typename T>
  void Follow(const char* uri, void (PlatformState::*handler)(PluginResourceEventType, const T&));
  void OnGameflowSession(PluginResourceEventType type, const Api::GameflowSession& value);
  void OnBattleTraining(PluginResourceEventType type, const bool& value);
  void OnNewPlayerMaxLevel(PluginResourceEventType type, const BindingProperty& value);
  void OnNewPlayerChampionList(PluginResourceEventType type, const BindingProperty& value);
  void OnLoginSession(PluginResourceEventType type, const Api::LoginSession& value);
  void OnChampionInventory(PluginResourceEventType type, const std::vector<Api::CollectionsChampion>& value);
  void OnDelayedLaunch(PluginResourceEventType type, const BindingProperty& value);
  void OnCurrentSummoner(PluginResourceEventType type, const Api::Summoner& value);
  void OnPlayerStatus(PluginResourceEventType type, const Api::PlayerStatus& value);
  // The dodge candidates of the local player's team, in order.
  std::vector<std::uint64_t> DodgeCandidates(const LCDS::GameDTO& incoming) const;

  AppModule& module_;
  ChampSelectModel& model_;
  WorkQueue& work_;
  Hooks hooks_;

  bool allowTrades_ = false;
  bool areFreeChampionsAllowed_ = false;
  bool battleBoostAllowed_ = false;
  std::int32_t maxAllowableBans_ = 0;
  bool gameClientVisible_ = false;
  bool isBattleTraining_ = false;
  bool battleTrainingCompleted_ = false;
  std::uint32_t summonerLevel_ = 0;
  std::int32_t newPlayerMaxLevel_ = 0;
  std::vector<std::int32_t> newPlayerChampionIds_;
  std::vector<Api::CollectionsChampion> ownedChampions_;
  std::optional<Api::LobbyStatus> currentLobbyStatus_;
  std::optional<Api::LobbyStatus> lastQueuedLobbyStatus_;
  bool isCustomGame_ = false;
  bool loggedIn_ = false;
  bool connected_ = false;
};

}  // namespace Vexa::Client::VoverOrevidAredez
