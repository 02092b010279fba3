// The types the plug-in publishes to the client (the session and its
// companions) and the native forms of the other plug-ins' resources it
// reads. Members without a registered field are the plug-in's own
// bookkeeping and are never published.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "binding/property.h"
#include "binding/registry.h"

namespace Vexa::Client::VoverOrevidAredez::Api {

// ---- Published ----------------------------------------------------------

struct ChampSelectPlayerSelection {
  std::int64_t cellId = 0;
  std::string displayName;
  std::int32_t championId = 0;
  std::int32_t selectedSkinId = 0;
  std::int64_t wardSkinId = -1;
  std::uint64_t spell1Id = 0;
  std::uint64_t spell2Id = 0;
  std::int32_t team = 0;
  std::string assignedPosition;
  std::int32_t championPickIntent = 0;
  std::string playerType;
  std::uint64_t summonerId = 0;
  // Not published.
  std::string summonerInternalName;
  std::int32_t pickMode = 0;
  std::int32_t pickTurn = 0;
};

struct ChampSelectMySelection {
  std::optional<std::int32_t> selectedSkinId;
  std::optional<std::uint64_t> spell1Id;
  std::optional<std::uint64_t> spell2Id;
  std::optional<std::int64_t> wardSkinId;
};

struct ChampSelectTimer {
  std::int64_t timeLeftInPhase = 0;
  std::int64_t adjustedTimeLeftInPhase = 0;
  std::int32_t timeLeftInPhaseInSec = 0;
  std::int32_t adjustedTimeLeftInPhaseInSec = 0;
  std::int64_t totalTimeInPhase = 0;
  std::string phase;
  bool isInfinite = false;
  // Not published: the last update's remaining milliseconds and wall time.
  std::int64_t lastRemainingMs = 0;
  std::uint64_t lastUpdateEpochMs = 0;
  std::uint64_t internalNowInEpochMs = 0;
};

struct ChampSelectChatRoomDetails {
  std::string chatRoomName;
  std::optional<std::string> chatRoomPassword;
};

enum class ChampSelectTradeState : std::int32_t { AVAILABLE = 1, BUSY = 2, INVALID = 3, RECEIVED = 4, SENT = 5 };

struct ChampSelectTradeContract {
  std::int64_t id = 0;
  std::int64_t cellId = 0;
  ChampSelectTradeState state = ChampSelectTradeState::INVALID;
};

struct ChampSelectAction {
  std::int64_t id = 0;
  std::int64_t actorCellId = 0;
  std::int32_t championId = 0;
  std::string type;
  bool completed = false;
  std::int32_t pickTurn = 0;

  friend bool operator==(const ChampSelectAction&, const ChampSelectAction&) = default;
};

struct ChampSelectBannedChampions {
  std::vector<std::int32_t> myTeamBans;
  std::vector<std::int32_t> theirTeamBans;
  std::int32_t numBans = 0;
};

struct ChampSelectSession {
  // Not published: non-empty exactly while a session exists.
  std::string id;
  ChampSelectTimer timer;
  ChampSelectChatRoomDetails chatDetails;
  std::vector<ChampSelectPlayerSelection> myTeam;
  std::vector<ChampSelectPlayerSelection> theirTeam;
  std::vector<ChampSelectTradeContract> trades;
  // One array of action objects (the keys of ChampSelectAction) per turn.
  std::vector<BindingProperty> actions;
  ChampSelectBannedChampions bans;
  std::int64_t localPlayerCellId = -1;
  bool isSpectating = false;
  bool allowSkinSelection = true;
  bool allowBattleBoost = false;
  bool allowRerolling = false;
  std::uint32_t rerollsRemaining = 0;
};

struct ChampSelectPickableChampions {
  std::vector<std::int32_t> championIds;
};

struct ChampSelectBannableChampions {
  std::vector<std::int32_t> championIds;
};

struct TeamBoost {
  std::string summonerName;
  std::string skinUnlockMode;
  std::int64_t price = 0;
  std::int64_t ipReward = 0;
  std::int64_t ipRewardForPurchaser = 0;
  std::vector<std::int64_t> availableSkins;
  bool unlocked = false;
};

// ---- Read from other plug-ins --------------------------------------------

struct CollectionsRental {
  bool rented = false;
};

struct CollectionsOwnership {
  bool freeToPlayReward = false;
  bool owned = false;
  CollectionsRental rental;
};

struct CollectionsChampion {
  bool freeToPlay = false;
  std::int32_t id = 0;
  CollectionsOwnership ownership;
};

struct LobbyStatus {
  std::int32_t queueId = 0;
  bool isCustom = false;
  bool isLeader = false;
  bool isSpectator = false;
  bool allowedPlayAgain = false;
  std::vector<std::uint64_t> memberSummonerIds;
};

struct PlayerStatus {
  std::optional<LobbyStatus> currentLobbyStatus;
  std::optional<LobbyStatus> lastQueuedLobbyStatus;
};

enum class LoginSessionStates : std::int32_t { IN_PROGRESS = 0, SUCCEEDED = 1, LOGGING_OUT = 2, ERROR = 3 };

struct LoginSession {
  LoginSessionStates state = LoginSessionStates::IN_PROGRESS;
  std::uint64_t summonerId = 0;
  std::uint64_t accountId = 0;
  bool connected = false;
};

struct Summoner {
  std::uint32_t summonerLevel = 0;
};

struct QueueGameTypeConfig {
  std::int32_t maxAllowableBans = 0;
  bool allowTrades = false;
  bool battleBoost = false;
};

struct Queue {
  QueueGameTypeConfig gameTypeConfig;
  bool areFreeChampionsAllowed = false;
};

enum class GameflowPhase : std::int32_t {
  None = 0,
  Lobby = 1,
  Matchmaking = 2,
  CheckedIntoTournament = 3,
  ReadyCheck = 4,
  ChampSelect = 5,
  GameStart = 6,
  FailedToLaunch = 7,
  InProgress = 8,
  Reconnect = 9,
  WaitingForStats = 10,
  PreEndOfGame = 11,
  EndOfGame = 12,
  TerminatedInError = 13,
};

enum class GameflowGameDodgeState : std::int32_t {
  Invalid = 48,
  PartyDodged = 49,
  StrangerDodged = 50,
  TournamentDodged = 51,
};

struct GameflowGameDodge {
  GameflowGameDodgeState state = GameflowGameDodgeState::Invalid;
  std::vector<std::uint64_t> dodgeIds;
};

struct GameflowGameClient {
  bool running = false;
  bool visible = false;
};

struct GameflowGameData {
  Queue queue;
};

struct GameflowSession {
  GameflowPhase phase = GameflowPhase::None;
  GameflowGameClient gameClient;
  GameflowGameData gameData;
};

// Registers the published and the consumed types, in that order.
void RegisterApiTypes(BindingRegistry& registry);

}  // namespace Vexa::Client::VoverOrevidAredez::Api
