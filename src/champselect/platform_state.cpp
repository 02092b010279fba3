#include "champselect/platform_state.h"

#include <algorithm>
#include <limits>

#include "binding/message_format.h"
#include "champselect/session_teams.h"
#include "champselect/work_queue.h"
#include "formats/json.h"
#include "logging/logger.h"
#include "runtime/app_module.h"

namespace Vexa::Client::VoverOrevidAredez {
namespace {

// Every line this part writes.
constexpr const char* kVisibilityChanged = "%s: Visibility changed.";
constexpr const char* kClientVisible = "%s: Game Client Visible.";
constexpr const char* kNewPlayerList = "%s: Updated new champ player list to: %s";
constexpr const char* kNewPlayerListFailed = "%s: Failed to convert new champ player list: %s";
constexpr const char* kReconnect = "%s: Reconnect detected.";
constexpr const char* kConvertFailed = "%s: Failed to convert %s";
constexpr const char* kInProgressFailed = "%s: Failed to retrieve in progress game info: %s";
constexpr const char* kInProgressNoGame = "%s: In progress game info had no valid game.";
constexpr const char* kGameInfoFailed = "%s: Failed to retrieve game info: %s";
constexpr const char* kDodge = "%s: Detected %s dodge in legacy champ select.";
constexpr const char* kNotLoggedIn = "Summoner is not logged in.";

constexpr const char* kGameflowSession = "/tov-gameflow/v1/session";
constexpr const char* kGameflowEvent = "/tov-gameflow/v1/session/event";
constexpr const char* kGameflowDodge = "/tov-gameflow/v1/session/dodge";

void Info(const char* format, const char* text = "") {
  Logging::Log(Logging::kAlways, Logging::kGroupDbg, format, kShortName, text);
}

bool Changed(PluginResourceEventType type) {
  return type == PluginResourceEventType::Create || type == PluginResourceEventType::Update;
}

// The status characters from `first` that belong to `team`: '0' marks a
// participant who left. A status shorter than the team says nothing of the
// rest; one member missing from the incoming team left as well.
void AppendDodgers(std::vector<std::uint64_t>& out, std::string_view status, std::size_t first,
                   const std::vector<BindingProperty>& incoming, const std::vector<BindingProperty>& stored) {
  const std::size_t available = first < status.size() ? status.size() - first : 0;
  const std::size_t count = std::min(available, incoming.size());
  for (std::size_t i = 0; i < count; ++i)
    if (status[first + i] == '0') out.push_back(SummonerIdOf(incoming[i]));
  for (const BindingProperty& member : stored) {
    const std::uint64_t id = SummonerIdOf(member);
    const bool stayed = std::any_of(incoming.begin(), incoming.end(),
                                    [&](const BindingProperty& other) { return SummonerIdOf(other) == id; });
    if (!stayed) out.push_back(id);
  }
}

}  // namespace

PlatformState::PlatformState(AppModule& module, ChampSelectModel& model, WorkQueue& work, Hooks hooks)
    : module_(module), model_(model), work_(work), hooks_(std::move(hooks)) {}

template <typename T>
void PlatformState::Follow(const char* uri, void (PlatformState::*handler)(PluginResourceEventType, const T&)) {
  module_.Observe<T>(uri, [this, handler](const std::string&, PluginResourceEventType type, const T& value) {
    work_.Post([this, handler, type, value] { (this->*handler)(type, value); });
  });
}

void PlatformState::Subscribe() {
  Follow<Api::GameflowSession>(kGameflowSession, &PlatformState::OnGameflowSession);
  Follow<bool>("/tov-gameflow/v1/battle-training", &PlatformState::OnBattleTraining);
  Follow<BindingProperty>(
      "/tov-platform-config/v1/namespaces/ClientSystemStates/freeToPlayChampionsForNewPlayersMaxLevel",
      &PlatformState::OnNewPlayerMaxLevel);
  Follow<BindingProperty>(
      "/tov-platform-config/v1/namespaces/ClientSystemStates/freeToPlayChampionForNewPlayersIdList",
      &PlatformState::OnNewPlayerChampionList);
  Follow<Api::LoginSession>("/tov-login/v1/session", &PlatformState::OnLoginSession);
  Follow<BindingProperty>("/tov-gameflow/v1/spectate/delayed-launch", &PlatformState::OnDelayedLaunch);
  Follow<Api::Summoner>("/tov-summoner/v1/current-summoner", &PlatformState::OnCurrentSummoner);
  Follow<Api::PlayerStatus>("/tov-gameflow/v1/gameflow-metadata/player-status", &PlatformState::OnPlayerStatus);
}

// ---- Handlers ----------------------------------------------------------------

void PlatformState::OnGameflowSession(PluginResourceEventType type, const Api::GameflowSession& value) {
  if (type == PluginResourceEventType::Delete) {
    maxAllowableBans_ = 0;
    return;
  }
  // The value fetched at subscription arrives as Create, before any queue
  // has popped: only updates carry the rules of a game.
  if (type != PluginResourceEventType::Update) return;
  const Api::QueueGameTypeConfig& config = value.gameData.queue.gameTypeConfig;
  allowTrades_ = config.allowTrades;
  areFreeChampionsAllowed_ = value.gameData.queue.areFreeChampionsAllowed;
  battleBoostAllowed_ = config.battleBoost;
  maxAllowableBans_ = config.maxAllowableBans;
  // Followed between sessions too: a window that closed after the last game
  // must be seen opening for the next one.
  const bool visibilityChanged = value.gameClient.visible != gameClientVisible_;
  gameClientVisible_ = value.gameClient.visible;
  if (!model_.HasSession()) return;
  if (visibilityChanged) {
    Info(kVisibilityChanged);
    if (gameClientVisible_) {
      Info(kClientVisible);
      hooks_.raiseEvent(LCDS::Events::kGameStarted);
    }
  }
  if (value.phase == Api::GameflowPhase::None) hooks_.raiseEvent(LCDS::Events::kReturnToLobby);
}

void PlatformState::OnBattleTraining(PluginResourceEventType type, const bool& value) {
  if (type == PluginResourceEventType::Create) {
    isBattleTraining_ = value;
  } else if (type == PluginResourceEventType::Delete) {
    isBattleTraining_ = false;
    battleTrainingCompleted_ = false;
  }
}

void PlatformState::OnNewPlayerMaxLevel(PluginResourceEventType type, const BindingProperty& value) {
  if (Changed(type)) {
    newPlayerMaxLevel_ = static_cast<std::int32_t>(std::clamp<std::int64_t>(
        value.ToInt64(), std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
  } else if (type == PluginResourceEventType::Delete) {
    newPlayerMaxLevel_ = 0;
  }
}

void PlatformState::OnNewPlayerChampionList(PluginResourceEventType type, const BindingProperty& value) {
  if (type == PluginResourceEventType::Delete) {
    newPlayerChampionIds_.clear();
    return;
  }
  if (!Changed(type)) return;
  BindingProperty result;
  std::vector<std::int32_t> ids =
      FromBinding<std::vector<std::int32_t>>(result, value, "<value>", module_.Registry());
  const std::string text = ToJson(value);
  if (!result.IsValid()) {
    Logging::Log(Logging::kError, Logging::kGroupDbg, kNewPlayerListFailed, kShortName, text.c_str());
    return;
  }
  newPlayerChampionIds_ = std::move(ids);
  Info(kNewPlayerList, text.c_str());
}

void PlatformState::OnLoginSession(PluginResourceEventType type, const Api::LoginSession& value) {
  if (type == PluginResourceEventType::Delete) {
    model_.localSummonerId = 0;
    loggedIn_ = false;
    connected_ = false;
    return;
  }
  if (!Changed(type)) return;
  model_.localSummonerId = value.summonerId;
  const bool success =
      value.state == Api::LoginSessionStates::SUCCEEDED && value.accountId != 0 && value.summonerId != 0;
  if (success && !loggedIn_) {
    Follow<std::vector<Api::CollectionsChampion>>(
        Format("/tov-champions/v1/inventories/%1/champions-minimal", value.summonerId).c_str(),
        &PlatformState::OnChampionInventory);
  }
  loggedIn_ = success;
  const bool reconnected = value.connected && !connected_;
  connected_ = value.connected;
  if (reconnected && model_.HasSession()) {
    Info(kReconnect);
    RecoverGame();
  }
}

void PlatformState::OnChampionInventory(PluginResourceEventType type,
                                        const std::vector<Api::CollectionsChampion>& value) {
  if (Changed(type)) ownedChampions_ = value;
  else if (type == PluginResourceEventType::Delete) ownedChampions_.clear();
}

void PlatformState::OnDelayedLaunch(PluginResourceEventType type, const BindingProperty& value) {
  if (type != PluginResourceEventType::Update) return;
  BindingProperty result;
  LCDS::GameDTO game = FromBinding<LCDS::GameDTO>(result, value.Find("game"), "<value>", module_.Registry());
  if (!result.IsValid()) {
    Logging::Log(Logging::kError, Logging::kGroupDbg, kConvertFailed, kShortName, ToJson(value).c_str());
    return;
  }
  hooks_.beginSpectatorSession();
  game.gameState = std::string(LCDS::GameStates::kStartRequested);
  game.spectatorDelay = value.Find("reconnectDelay").GetInteger();
  hooks_.handleGame(std::move(game));
}

void PlatformState::OnCurrentSummoner(PluginResourceEventType type, const Api::Summoner& value) {
  if (Changed(type)) summonerLevel_ = value.summonerLevel;
  else if (type == PluginResourceEventType::Delete) summonerLevel_ = 0;
}

void PlatformState::OnPlayerStatus(PluginResourceEventType type, const Api::PlayerStatus& value) {
  if (Changed(type)) {
    currentLobbyStatus_ = value.currentLobbyStatus;
    lastQueuedLobbyStatus_ = value.lastQueuedLobbyStatus;
  } else if (type == PluginResourceEventType::Delete) {
    currentLobbyStatus_.reset();
    lastQueuedLobbyStatus_.reset();
  } else {
    return;
  }
  isCustomGame_ = currentLobbyStatus_ && currentLobbyStatus_->isCustom;
}

// ---- Computed ----------------------------------------------------------------

MaybeType<Failure, Api::ChampSelectPickableChampions> PlatformState::GetPickableChampions() const {
  Api::ChampSelectPickableChampions pickable;
  if (isBattleTraining_) {
    pickable.championIds = {22, 86};
    return pickable;
  }
  if (model_.localSummonerId == 0) return Failure(kNotLoggedIn);
  // Compared in 64 bits: a configured maximum may be negative.
  const bool newPlayer = newPlayerMaxLevel_ != 0 && summonerLevel_ != 0 &&
                         std::int64_t{summonerLevel_} <= std::int64_t{newPlayerMaxLevel_};
  if (newPlayer) pickable.championIds = newPlayerChampionIds_;
  for (const Api::CollectionsChampion& champion : ownedChampions_) {
    if (champion.id < 0) continue;
    const Api::CollectionsOwnership& ownership = champion.ownership;
    if ((!newPlayer && champion.freeToPlay && areFreeChampionsAllowed_) || ownership.owned ||
        ownership.freeToPlayReward || ownership.rental.rented)
      pickable.championIds.push_back(champion.id);
  }
  return pickable;
}

MaybeType<Failure, Api::ChampSelectBannableChampions> PlatformState::GetBannableChampions() const {
  if (model_.localSummonerId == 0) return Failure(kNotLoggedIn);
  Api::ChampSelectBannableChampions bannable;
  const auto& bans = model_.currentGame.bannedChampions;
  for (const Api::CollectionsChampion& champion : ownedChampions_) {
    if (champion.id < 0) continue;
    const bool banned = std::any_of(bans.begin(), bans.end(), [&](const auto& ban) { return ban.championId == champion.id; });
    if (!banned) bannable.championIds.push_back(champion.id);
  }
  return bannable;
}

void PlatformState::RecoverGame() {
  const std::string& queue = model_.currentGame.queueTypeName;
  const bool botQueue = queue.empty() || queue == "NONE" || queue == "BOT" || queue == "BOT_3x3" ||
                        std::string_view(queue).ends_with("_BOT");
  std::optional<LCDS::GameDTO> game;
  if (!botQueue) {
    auto info = module_.Await(module_.InvokeLcds<BindingProperty>("gameService", "retrieveInProgressGameInfo"));
    if (!info) {
      Info(kInProgressFailed, info.Error().Message().c_str());
    } else {
      BindingProperty result;
      LCDS::GameDTO found = FromBinding<LCDS::GameDTO>(result, info.Value().Find("game"), "<value>", module_.Registry());
      if (result.IsValid()) game = std::move(found);
      else Logging::Log(Logging::kError, Logging::kGroupDbg, kInProgressNoGame, kShortName);
    }
  } else {
    auto found = module_.Await(module_.InvokeLcds<LCDS::GameDTO>("gameService", "getGame", model_.currentGame.id));
    if (found) game = std::move(found).Value();
    else Info(kGameInfoFailed, found.Error().Message().c_str());
  }
  if (game) return hooks_.handleGame(std::move(*game));
  hooks_.raiseEvent(LCDS::Events::kTerminated);
  (void)module_.CheckedRequest(RemotingMethod::Post, kGameflowDodge,
                               Api::GameflowGameDodge{Api::GameflowGameDodgeState::PartyDodged, {model_.localSummonerId}});
}

std::vector<std::uint64_t> PlatformState::DodgeCandidates(const LCDS::GameDTO& incoming) const {
  std::vector<std::uint64_t> candidates;
  const LCDS::GameDTO& stored = model_.currentGame;
  const std::string_view status = incoming.statusOfParticipants;
  if (HasSummoner(stored.teamOne, model_.localSummonerId)) {
    AppendDodgers(candidates, status, 0, incoming.teamOne, stored.teamOne);
  } else if (HasSummoner(stored.teamTwo, model_.localSummonerId) && incoming.teamOne.size() < status.size()) {
    AppendDodgers(candidates, status, incoming.teamOne.size(), incoming.teamTwo, stored.teamTwo);
  }
  return candidates;
}

void PlatformState::ReportDodge(const LCDS::GameDTO& incoming) {
  if (!model_.HasSession()) return;
  Api::GameflowGameDodge dodge;
  if (lastQueuedLobbyStatus_ && !lastQueuedLobbyStatus_->memberSummonerIds.empty()) {
    const auto& party = lastQueuedLobbyStatus_->memberSummonerIds;
    for (const std::uint64_t candidate : DodgeCandidates(incoming))
      if (std::find(party.begin(), party.end(), candidate) != party.end()) dodge.dodgeIds.push_back(candidate);
  }
  const bool party = !dodge.dodgeIds.empty();
  dodge.state = party ? Api::GameflowGameDodgeState::PartyDodged : Api::GameflowGameDodgeState::StrangerDodged;
  Info(kDodge, party ? "PARTY" : "STRANGER");
  (void)module_.CheckedRequest(RemotingMethod::Post, kGameflowDodge, dodge);
}

void PlatformState::PostGameflowEvent(const char* event) {
  (void)module_.CheckedRequest(RemotingMethod::Post, kGameflowEvent, std::string(event));
}

}  // namespace Vexa::Client::VoverOrevidAredez
