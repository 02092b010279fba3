// The legacy platform's data-transfer objects as the plug-in reads and sends
// them, and the fixed texts it compares platform values against. Only the
// fields listed are read or written; other keys of a message are ignored,
// and a missing field keeps its default.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "binding/property.h"

namespace Vexa {
class AppModule;
}

namespace Vexa::Client::VoverOrevidAredez::LCDS {

struct TradeContractDTO {
  std::string requesterInternalSummonerName;
  std::string responderInternalSummonerName;
  std::int32_t requesterChampionId = 0;
  std::int32_t responderChampionId = 0;
  std::string state;
};

struct PotentialTradersDTO {
  std::vector<std::string> potentialTraders;
};

struct PlayerParticipant {
  std::string summonerName;
  std::string summonerInternalName;
  std::uint64_t summonerId = 0;
  std::int32_t pickMode = 0;
  std::int32_t pickTurn = 0;
};

struct ObfuscatedParticipant {
  std::uint64_t gameUniqueId = 0;
};

struct PlayerChampionSelectionDTO {
  std::string summonerInternalName;
  std::int32_t championId = 0;
  std::int32_t selectedSkinIndex = 0;
  std::int32_t spell1Id = 0;
  std::int32_t spell2Id = 0;
};

struct BannedChampion {
  std::int32_t championId = 0;
  std::int32_t teamId = 0;
  std::int32_t pickTurn = 0;
};

struct GameDTO {
  std::uint64_t id = 0;
  std::string gameState;
  std::string queueTypeName;
  std::string roomName;
  std::string roomPassword;
  std::string name;
  std::vector<PlayerChampionSelectionDTO> playerChampionSelections;
  std::vector<BannedChampion> bannedChampions;
  // Participants of mixed kinds (players, hidden players, bots): kept as
  // they arrived, read key by key.
  std::vector<BindingProperty> teamOne;
  std::vector<BindingProperty> teamTwo;
  std::string statusOfParticipants;
  std::int64_t optimisticLock = 0;
  std::int32_t pickTurn = 0;
  std::int64_t spectatorDelay = 0;
  std::vector<std::string> gameMutators;
};

struct PointSummary {
  std::int32_t pointsToNextRoll = 0;
  std::int32_t currentPoints = 0;
  std::int32_t numberOfRolls = 0;
  std::int32_t maxRolls = 0;
  std::int32_t pointsCostToRoll = 0;
};

struct RollResult {
  std::int32_t championId = 0;
  PointSummary pointSummary;
};

struct GameTimerDTO {
  std::string currentGameState;
  double remainingTimeInMillis = 0;
};

struct TeamSkinRentalDTO {
  std::string summonerName;
  std::string skinUnlockMode;
  std::int64_t price = 0;
  std::int64_t ipReward = 0;
  std::int64_t ipRewardForPurchaser = 0;
  std::vector<std::int64_t> availableSkins;
  bool unlocked = false;
};

enum class PickModes : std::int32_t { NOT_PICKING = 0, IN_PROGRESS = 1, DONE = 2 };

// Values of GameDTO.gameState and GameTimerDTO.currentGameState.
namespace GameStates {
inline constexpr std::string_view kTeamSelect = "TEAM_SELECT";
inline constexpr std::string_view kPreChampSelect = "PRE_CHAMP_SELECT";
inline constexpr std::string_view kChampSelect = "CHAMP_SELECT";
inline constexpr std::string_view kPostChampSelect = "POST_CHAMP_SELECT";
inline constexpr std::string_view kStartRequested = "START_REQUESTED";
inline constexpr std::string_view kTerminated = "TERMINATED";
}  // namespace GameStates

// The phases of the published timer.
namespace TimerPhases {
inline constexpr std::string_view kBanPick = "BAN_PICK";
inline constexpr std::string_view kFinalization = "FINALIZATION";
inline constexpr std::string_view kGameStarting = "GAME_STARTING";
}  // namespace TimerPhases

// Values of TradeContractDTO.state.
namespace TradeStates {
inline constexpr std::string_view kPending = "PENDING";
inline constexpr std::string_view kCanceled = "CANCELED";
inline constexpr std::string_view kDeclined = "DECLINED";
inline constexpr std::string_view kBusy = "BUSY";
inline constexpr std::string_view kAccepted = "ACCEPTED";
inline constexpr std::string_view kError = "ERROR";
}  // namespace TradeStates

// The events of the champion-select state machine.
namespace Events {
inline constexpr std::string_view kPreChampSelect = "CHAMP_SELECT_EVENT.PRE_CHAMP_SELECT";
inline constexpr std::string_view kChampSelect = "CHAMP_SELECT_EVENT.CHAMP_SELECT";
inline constexpr std::string_view kPostChampSelect = "CHAMP_SELECT_EVENT.POST_CHAMP_SELECT";
inline constexpr std::string_view kStartRequested = "CHAMP_SELECT_EVENT.START_REQUESTED";
inline constexpr std::string_view kGameStarted = "CHAMP_SELECT_EVENT.GAME_STARTED";
inline constexpr std::string_view kTerminated = "CHAMP_SELECT_EVENT.TERMINATED";
inline constexpr std::string_view kReturnToLobby = "CHAMP_SELECT_EVENT.RETURN_TO_LOBBY";
inline constexpr std::string_view kLockinChoices = "CHAMP_SELECT_EVENT.LOCKIN_CHOICES";
inline constexpr std::string_view kSpellSelected = "CHAMP_SELECT_EVENT.SPELL_SELECTED";
inline constexpr std::string_view kMasteryPageSelected = "CHAMP_SELECT_EVENT.MASTERY_PAGE_SELECTED";
inline constexpr std::string_view kChampionSelected = "CHAMP_SELECT_EVENT.CHAMPION_SELECTED";
inline constexpr std::string_view kSkinSelected = "CHAMP_SELECT_EVENT.SKIN_SELECTED";
inline constexpr std::string_view kTradeRequested = "CHAMP_SELECT_EVENT.TRADE_REQUESTED";
inline constexpr std::string_view kTradeOffered = "CHAMP_SELECT_EVENT.TRADE_OFFERED";
inline constexpr std::string_view kTradeAccepted = "CHAMP_SELECT_EVENT.TRADE_ACCEPTED";
inline constexpr std::string_view kTradeImplicitlyAccepted = "CHAMP_SELECT_EVENT.TRADE_IMPLICITLY_ACCEPTED";
inline constexpr std::string_view kTradeRefused = "CHAMP_SELECT_EVENT.TRADE_REFUSED";
inline constexpr std::string_view kTradeCanceled = "CHAMP_SELECT_EVENT.TRADE_CANCELED";
inline constexpr std::string_view kTradeDismissed = "CHAMP_SELECT_EVENT.TRADE_DISMISSED";
inline constexpr std::string_view kTradeErrored = "CHAMP_SELECT_EVENT.TRADE_ERRORED";
}  // namespace Events

// Platform class names of the pushed messages the plug-in follows.
namespace Classes {
inline constexpr std::string_view kGameDTO = "com.vexagames.platform.game.GameDTO";
inline constexpr std::string_view kTradeContractDTO = "com.vexagames.platform.trade.api.contract.TradeContractDTO";
inline constexpr std::string_view kTeamSkinRentalDTO = "com.vexagames.platform.game.TeamSkinRentalDTO";
}  // namespace Classes

// Registers every DTO with the module's registry and ties each to its
// platform class name.
void RegisterLcdsTypes(AppModule& module);

}  // namespace Vexa::Client::VoverOrevidAredez::LCDS
