#include "champselect/api.h"

#include "binding/registration.h"

namespace Vexa::Client::VoverOrevidAredez::Api {
namespace {

void RegisterSessionTypes(BindingRegistry& registry) {
  using Selection = ChampSelectPlayerSelection;
  RegisterStruct<Selection>(registry, "ChampSelectPlayerSelection")
      .Field("cellId", &Selection::cellId)
      .Field("displayName", &Selection::displayName)
      .Field("championId", &Selection::championId)
      .Field("selectedSkinId", &Selection::selectedSkinId)
      .Field("wardSkinId", &Selection::wardSkinId)
      .Field("spell1Id", &Selection::spell1Id)
      .Field("spell2Id", &Selection::spell2Id)
      .Field("team", &Selection::team)
      .Field("assignedPosition", &Selection::assignedPosition)
      .Field("championPickIntent", &Selection::championPickIntent)
      .Field("playerType", &Selection::playerType)
      .Field("summonerId", &Selection::summonerId);
  RegisterStruct<ChampSelectMySelection>(registry, "ChampSelectMySelection")
      .Field("selectedSkinId", &ChampSelectMySelection::selectedSkinId)
      .Field("spell1Id", &ChampSelectMySelection::spell1Id)
      .Field("spell2Id", &ChampSelectMySelection::spell2Id)
      .Field("wardSkinId", &ChampSelectMySelection::wardSkinId);
  RegisterStruct<ChampSelectTimer>(registry, "ChampSelectTimer")
      .Field("timeLeftInPhase", &ChampSelectTimer::timeLeftInPhase)
      .Field("adjustedTimeLeftInPhase", &ChampSelectTimer::adjustedTimeLeftInPhase)
      .Field("timeLeftInPhaseInSec", &ChampSelectTimer::timeLeftInPhaseInSec)
      .Field("adjustedTimeLeftInPhaseInSec", &ChampSelectTimer::adjustedTimeLeftInPhaseInSec)
      .Field("totalTimeInPhase", &ChampSelectTimer::totalTimeInPhase)
      .Field("phase", &ChampSelectTimer::phase)
      .Field("isInfinite", &ChampSelectTimer::isInfinite)
      .Field("internalNowInEpochMs", &ChampSelectTimer::internalNowInEpochMs);
  RegisterStruct<ChampSelectChatRoomDetails>(registry, "ChampSelectChatRoomDetails")
      .Field("chatRoomName", &ChampSelectChatRoomDetails::chatRoomName)
      .Field("chatRoomPassword", &ChampSelectChatRoomDetails::chatRoomPassword);
  RegisterEnum<ChampSelectTradeState>(registry, "ChampSelectTradeState")
      .Value("AVAILABLE", ChampSelectTradeState::AVAILABLE)
      .Value("BUSY", ChampSelectTradeState::BUSY)
      .Value("INVALID", ChampSelectTradeState::INVALID)
      .Value("RECEIVED", ChampSelectTradeState::RECEIVED)
      .Value("SENT", ChampSelectTradeState::SENT);
  RegisterStruct<ChampSelectTradeContract>(registry, "ChampSelectTradeContract")
      .Field("id", &ChampSelectTradeContract::id)
      .Field("cellId", &ChampSelectTradeContract::cellId)
      .Field("state", &ChampSelectTradeContract::state);
  RegisterStruct<ChampSelectAction>(registry, "ChampSelectAction")
      .Field("id", &ChampSelectAction::id)
      .Field("actorCellId", &ChampSelectAction::actorCellId)
      .Field("championId", &ChampSelectAction::championId)
      .Field("type", &ChampSelectAction::type)
      .Field("completed", &ChampSelectAction::completed)
      .Field("pickTurn", &ChampSelectAction::pickTurn);
  RegisterStruct<ChampSelectBannedChampions>(registry, "ChampSelectBannedChampions")
      .Field("myTeamBans", &ChampSelectBannedChampions::myTeamBans)
      .Field("theirTeamBans", &ChampSelectBannedChampions::theirTeamBans)
      .Field("numBans", &ChampSelectBannedChampions::numBans);
  RegisterStruct<ChampSelectSession>(registry, "ChampSelectSession")
      .Field("timer", &ChampSelectSession::timer)
      .Field("chatDetails", &ChampSelectSession::chatDetails)
      .Field("myTeam", &ChampSelectSession::myTeam)
      .Field("theirTeam", &ChampSelectSession::theirTeam)
      .Field("trades", &ChampSelectSession::trades)
      .Field("actions", &ChampSelectSession::actions)
      .Field("bans", &ChampSelectSession::bans)
      .Field("localPlayerCellId", &ChampSelectSession::localPlayerCellId)
      .Field("isSpectating", &ChampSelectSession::isSpectating)
      .Field("allowSkinSelection", &ChampSelectSession::allowSkinSelection)
      .Field("allowBattleBoost", &ChampSelectSession::allowBattleBoost)
      .Field("allowRerolling", &ChampSelectSession::allowRerolling)
      .Field("rerollsRemaining", &ChampSelectSession::rerollsRemaining);
  RegisterStruct<ChampSelectPickableChampions>(registry, "ChampSelectPickableChampions")
      .Field("championIds", &ChampSelectPickableChampions::championIds);
  RegisterStruct<ChampSelectBannableChampions>(registry, "ChampSelectBannableChampions")
      .Field("championIds", &ChampSelectBannableChampions::championIds);
}

void RegisterConsumedTypes(BindingRegistry& registry) {
  RegisterStruct<CollectionsRental>(registry, "CollectionsRental").Field("rented", &CollectionsRental::rented);
  RegisterStruct<CollectionsOwnership>(registry, "CollectionsOwnership")
      .Field("freeToPlayReward", &CollectionsOwnership::freeToPlayReward)
      .Field("owned", &CollectionsOwnership::owned)
      .Field("rental", &CollectionsOwnership::rental);
  RegisterStruct<CollectionsChampion>(registry, "CollectionsChampion")
      .Field("freeToPlay", &CollectionsChampion::freeToPlay)
      .Field("id", &CollectionsChampion::id)
      .Field("ownership", &CollectionsChampion::ownership);
  RegisterStruct<LobbyStatus>(registry, "LobbyStatus")
      .Field("queueId", &LobbyStatus::queueId)
      .Field("isCustom", &LobbyStatus::isCustom)
      .Field("isLeader", &LobbyStatus::isLeader)
      .Field("isSpectator", &LobbyStatus::isSpectator)
      .Field("allowedPlayAgain", &LobbyStatus::allowedPlayAgain)
      .Field("memberSummonerIds", &LobbyStatus::memberSummonerIds);
  RegisterStruct<PlayerStatus>(registry, "PlayerStatus")
      .Field("currentLobbyStatus", &PlayerStatus::currentLobbyStatus)
      .Field("lastQueuedLobbyStatus", &PlayerStatus::lastQueuedLobbyStatus);
  RegisterEnum<LoginSessionStates>(registry, "LoginSessionStates")
      .Value("IN_PROGRESS", LoginSessionStates::IN_PROGRESS)
      .Value("ERROR", LoginSessionStates::ERROR)
      .Value("SUCCEEDED", LoginSessionStates::SUCCEEDED)
      .Value("LOGGING_OUT", LoginSessionStates::LOGGING_OUT);
  RegisterStruct<LoginSession>(registry, "LoginSession")
      .Field("state", &LoginSession::state)
      .Field("summonerId", &LoginSession::summonerId)
      .Field("accountId", &LoginSession::accountId)
      .Field("connected", &LoginSession::connected);
  RegisterStruct<Summoner>(registry, "Summoner").Field("summonerLevel", &Summoner::summonerLevel);
  RegisterStruct<QueueGameTypeConfig>(registry, "QueueGameTypeConfig")
      .Field("maxAllowableBans", &QueueGameTypeConfig::maxAllowableBans)
      .Field("allowTrades", &QueueGameTypeConfig::allowTrades)
      .Field("battleBoost", &QueueGameTypeConfig::battleBoost);
  RegisterStruct<Queue>(registry, "Queue")
      .Field("gameTypeConfig", &Queue::gameTypeConfig)
      .Field("areFreeChampionsAllowed", &Queue::areFreeChampionsAllowed);
  RegisterEnum<GameflowPhase>(registry, "GameflowPhase")
      .Value("None", GameflowPhase::None)
      .Value("Lobby", GameflowPhase::Lobby)
      .Value("Matchmaking", GameflowPhase::Matchmaking)
      .Value("CheckedIntoTournament", GameflowPhase::CheckedIntoTournament)
      .Value("ReadyCheck", GameflowPhase::ReadyCheck)
      .Value("ChampSelect", GameflowPhase::ChampSelect)
      .Value("GameStart", GameflowPhase::GameStart)
      .Value("FailedToLaunch", GameflowPhase::FailedToLaunch)
      .Value("InProgress", GameflowPhase::InProgress)
      .Value("Reconnect", GameflowPhase::Reconnect)
      .Value("WaitingForStats", GameflowPhase::WaitingForStats)
      .Value("PreEndOfGame", GameflowPhase::PreEndOfGame)
      .Value("EndOfGame", GameflowPhase::EndOfGame)
      .Value("TerminatedInError", GameflowPhase::TerminatedInError);
  RegisterEnum<GameflowGameDodgeState>(registry, "GameflowGameDodgeState")
      .Value("Invalid", GameflowGameDodgeState::Invalid)
      .Value("PartyDodged", GameflowGameDodgeState::PartyDodged)
      .Value("StrangerDodged", GameflowGameDodgeState::StrangerDodged)
      .Value("TournamentDodged", GameflowGameDodgeState::TournamentDodged);
  RegisterStruct<GameflowGameDodge>(registry, "GameflowGameDodge")
      .Field("state", &GameflowGameDodge::state)
      .Field("dodgeIds", &GameflowGameDodge::dodgeIds);
  RegisterStruct<GameflowGameClient>(registry, "GameflowGameClient")
      .Field("running", &GameflowGameClient::running)
      .Field("visible", &GameflowGameClient::visible);
  RegisterStruct<GameflowGameData>(registry, "GameflowGameData").Field("queue", &GameflowGameData::queue);
  RegisterStruct<GameflowSession>(registry, "GameflowSession")
      .Field("phase", &GameflowSession::phase)
      .Field("gameClient", &GameflowSession::gameClient)
      .Field("gameData", &GameflowSession::gameData);
}

}  // namespace

void RegisterApiTypes(BindingRegistry& registry) {
  RegisterSessionTypes(registry);
  RegisterConsumedTypes(registry);
  RegisterStruct<TeamBoost>(registry, "TeamBoost")
      .Field("summonerName", &TeamBoost::summonerName)
      .Field("skinUnlockMode", &TeamBoost::skinUnlockMode)
      .Field("price", &TeamBoost::price)
      .Field("ipReward", &TeamBoost::ipReward)
      .Field("ipRewardForPurchaser", &TeamBoost::ipRewardForPurchaser)
      .Field("availableSkins", &TeamBoost::availableSkins)
      .Field("unlocked", &TeamBoost::unlocked);
}

}  // namespace Vexa::Client::VoverOrevidAredez::Api
