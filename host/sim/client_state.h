// The other plug-ins of the client as far as the champion select reads them:
// the match flow, login, summoner, player status, platform configuration,
// champion inventory, battle training and delayed launch; and the posts the
// match flow accepts, with its reactions.
#pragma once

#include <string>
#include <vector>

#include "core/core.h"
#include "sim/fault_plan.h"
#include "sim/game.h"
#include "sim/scheduler.h"
#include "sim/trace.h"

namespace TovSim {

namespace Uri {
inline constexpr const char* kGameflow = "/tov-gameflow/v1/session";
inline constexpr const char* kBattleTraining = "/tov-gameflow/v1/battle-training";
inline constexpr const char* kNewPlayerMaxLevel =
    "/tov-platform-config/v1/namespaces/ClientSystemStates/freeToPlayChampionsForNewPlayersMaxLevel";
inline constexpr const char* kNewPlayerChampions =
    "/tov-platform-config/v1/namespaces/ClientSystemStates/freeToPlayChampionForNewPlayersIdList";
inline constexpr const char* kLogin = "/tov-login/v1/session";
inline constexpr const char* kDelayedLaunch = "/tov-gameflow/v1/spectate/delayed-launch";
inline constexpr const char* kSummoner = "/tov-summoner/v1/current-summoner";
inline constexpr const char* kPlayerStatus = "/tov-gameflow/v1/gameflow-metadata/player-status";
inline constexpr const char* kInventory = "/tov-champions/v1/inventories/1001/champions-minimal";
}  // namespace Uri

struct ClientSetup {
  int summonerLevel = 30;
  bool customLobby = false;
  bool battleTraining = false;
  // The new-player champion list published as something other than a list.
  bool newPlayerListNotCollection = false;
  // No login session at the start: it arrives later (TimedAction LoginRestore).
  bool loginLate = false;
};

// One post the plug-in made to the match flow or the client.
struct ClientPost {
  double t;
  std::string url;
  std::string body;  // the event text, or the body / arguments as JSON
};

class ClientState {
 public:
  ClientState(TovHost::Core& core, Scheduler& scheduler, FaultPlan& plan, Trace& trace, ClientSetup setup)
      : core_(core), scheduler_(scheduler), plan_(plan), trace_(trace), setup_(setup) {}

  // The starting values and the post handlers.
  void Install();

  // ---- The match flow --------------------------------------------------
  // A game was found: the queue's rules, with phase "ChampSelect", as an
  // Update (subscribers ignore a Create).
  void QueuePopped(const Game& game);
  // "GameStart", and 5 s later "InProgress" with the game client running
  // and visible.
  void GameStarting();
  void SetPhase(const std::string& phase);
  void SetVisible(bool visible);
  const std::string& Phase() const { return phase_; }

  // ---- Other resources ---------------------------------------------------
  void SetLoginConnected(bool connected);
  void DeleteLogin();
  void RestoreLogin();
  void SetBattleTraining(bool present);
  bool BattleTraining() const { return battleTraining_; }
  void DelayedLaunch(uint64_t gameId, const std::string& gameJson, int64_t reconnectDelay);

  const std::vector<ClientPost>& Posts() const { return posts_; }

 private:
  TovHost::Reply OnPost(const TovHost::RequestRecord& request);
  void PublishGameflow();
  std::string LoginJson(bool connected) const;

  TovHost::Core& core_;
  Scheduler& scheduler_;
  FaultPlan& plan_;
  Trace& trace_;
  ClientSetup setup_;
  std::string phase_ = "Lobby";
  bool running_ = false;
  bool visible_ = false;
  uint64_t gameId_ = 0;
  QueueRules rules_;
  bool hasRules_ = false;
  bool battleTraining_ = false;
  std::vector<ClientPost> posts_;
};

}  // namespace TovSim
