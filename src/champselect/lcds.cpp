#include "champselect/lcds.h"

#include "binding/registration.h"
#include "runtime/app_module.h"

namespace Vexa::Client::VoverOrevidAredez::LCDS {

void RegisterLcdsTypes(AppModule& module) {
  BindingRegistry& registry = module.Registry();
  RegisterEnum<PickModes>(registry, "PickModes")
      .Value("IN_PROGRESS", PickModes::IN_PROGRESS)
      .Value("DONE", PickModes::DONE)
      .Value("NOT_PICKING", PickModes::NOT_PICKING);

  RegisterStruct<TradeContractDTO>(registry, "ChampSelectLcdsTradeContractDTO")
      .Field("requesterInternalSummonerName", &TradeContractDTO::requesterInternalSummonerName)
      .Field("responderInternalSummonerName", &TradeContractDTO::responderInternalSummonerName)
      .Field("requesterChampionId", &TradeContractDTO::requesterChampionId)
      .Field("responderChampionId", &TradeContractDTO::responderChampionId)
      .Field("state", &TradeContractDTO::state);
  module.RegisterLcdsClass<TradeContractDTO>(std::string(Classes::kTradeContractDTO));

  RegisterStruct<PotentialTradersDTO>(registry, "ChampSelectLcdsPotentialTradersDTO")
      .Field("potentialTraders", &PotentialTradersDTO::potentialTraders);
  module.RegisterLcdsClass<PotentialTradersDTO>("com.vexagames.platform.trade.api.contract.PotentialTradersDTO");

  RegisterStruct<PlayerParticipant>(registry, "ChampSelectLcdsPlayerParticipant")
      .Field("summonerName", &PlayerParticipant::summonerName)
      .Field("summonerInternalName", &PlayerParticipant::summonerInternalName)
      .Field("summonerId", &PlayerParticipant::summonerId)
      .Field("pickMode", &PlayerParticipant::pickMode)
      .Field("pickTurn", &PlayerParticipant::pickTurn);
  module.RegisterLcdsClass<PlayerParticipant>("com.vexagames.platform.game.PlayerParticipant");

  RegisterStruct<ObfuscatedParticipant>(registry, "ChampSelectLcdsObfuscatedParticipant")
      .Field("gameUniqueId", &ObfuscatedParticipant::gameUniqueId);
  module.RegisterLcdsClass<ObfuscatedParticipant>("com.vexagames.platform.game.ObfuscatedParticipant");

  RegisterStruct<PlayerChampionSelectionDTO>(registry, "ChampSelectLcdsPlayerChampionSelectionDTO")
      .Field("summonerInternalName", &PlayerChampionSelectionDTO::summonerInternalName)
      .Field("championId", &PlayerChampionSelectionDTO::championId)
      .Field("selectedSkinIndex", &PlayerChampionSelectionDTO::selectedSkinIndex)
      .Field("spell1Id", &PlayerChampionSelectionDTO::spell1Id)
      .Field("spell2Id", &PlayerChampionSelectionDTO::spell2Id);
  module.RegisterLcdsClass<PlayerChampionSelectionDTO>("com.vexagames.platform.game.PlayerChampionSelectionDTO");

  RegisterStruct<BannedChampion>(registry, "BannedChampion")
      .Field("championId", &BannedChampion::championId)
      .Field("teamId", &BannedChampion::teamId)
      .Field("pickTurn", &BannedChampion::pickTurn);
  module.RegisterLcdsClass<BannedChampion>("com.vexagames.platform.game.BannedChampion");

  RegisterStruct<GameDTO>(registry, "ChampSelectLcdsGameDTO")
      .Field("id", &GameDTO::id)
      .Field("gameState", &GameDTO::gameState)
      .Field("queueTypeName", &GameDTO::queueTypeName)
      .Field("roomName", &GameDTO::roomName)
      .Field("roomPassword", &GameDTO::roomPassword)
      .Field("name", &GameDTO::name)
      .Field("playerChampionSelections", &GameDTO::playerChampionSelections)
      .Field("bannedChampions", &GameDTO::bannedChampions)
      .Field("teamOne", &GameDTO::teamOne)
      .Field("teamTwo", &GameDTO::teamTwo)
      .Field("statusOfParticipants", &GameDTO::statusOfParticipants)
      .Field("optimisticLock", &GameDTO::optimisticLock)
      .Field("pickTurn", &GameDTO::pickTurn)
      .Field("spectatorDelay", &GameDTO::spectatorDelay)
      .Field("gameMutators", &GameDTO::gameMutators);
  module.RegisterLcdsClass<GameDTO>(std::string(Classes::kGameDTO));

  RegisterStruct<PointSummary>(registry, "ChampSelectLcdsPointSummary")
      .Field("pointsToNextRoll", &PointSummary::pointsToNextRoll)
      .Field("currentPoints", &PointSummary::currentPoints)
      .Field("numberOfRolls", &PointSummary::numberOfRolls)
      .Field("maxRolls", &PointSummary::maxRolls)
      .Field("pointsCostToRoll", &PointSummary::pointsCostToRoll);
  module.RegisterLcdsClass<PointSummary>("com.vexagames.platform.reroll.pojo.PointSummary");

  RegisterStruct<RollResult>(registry, "ChampSelectLcdsRollResult")
      .Field("championId", &RollResult::championId)
      .Field("pointSummary", &RollResult::pointSummary);
  module.RegisterLcdsClass<RollResult>("com.vexagames.platform.reroll.pojo.RollResult");

  RegisterStruct<GameTimerDTO>(registry, "ChampSelectLcdsGameTimerDTO")
      .Field("currentGameState", &GameTimerDTO::currentGameState)
      .Field("remainingTimeInMillis", &GameTimerDTO::remainingTimeInMillis);
  module.RegisterLcdsClass<GameTimerDTO>("com.vexagames.platform.game.GameTimerDTO");

  RegisterStruct<TeamSkinRentalDTO>(registry, "BoostTeamSkinRentalDTO")
      .Field("summonerName", &TeamSkinRentalDTO::summonerName)
      .Field("skinUnlockMode", &TeamSkinRentalDTO::skinUnlockMode)
      .Field("price", &TeamSkinRentalDTO::price)
      .Field("ipReward", &TeamSkinRentalDTO::ipReward)
      .Field("ipRewardForPurchaser", &TeamSkinRentalDTO::ipRewardForPurchaser)
      .Field("availableSkins", &TeamSkinRentalDTO::availableSkins)
      .Field("unlocked", &TeamSkinRentalDTO::unlocked);
  module.RegisterLcdsClass<TeamSkinRentalDTO>(std::string(Classes::kTeamSkinRentalDTO));
}

}  // namespace Vexa::Client::VoverOrevidAredez::LCDS
