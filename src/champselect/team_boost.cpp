#include "champselect/team_boost.h"

#include "champselect/platform_state.h"
#include "champselect/publisher.h"
#include "logging/logger.h"
#include "runtime/app_module.h"

namespace Vexa::Client::VoverOrevidAredez {
namespace {

// Every answer and line of the team boost.
constexpr const char* kNoBoost = "No team boost available for this game, or summoner is not in a game.";
constexpr const char* kFetchFailed = "%s";

constexpr const char* kCurrency = "VP";

Api::TeamBoost FromDto(const LCDS::TeamSkinRentalDTO& dto) {
  return Api::TeamBoost{dto.summonerName, dto.skinUnlockMode,  dto.price,   dto.ipReward,
                        dto.ipRewardForPurchaser, dto.availableSkins, dto.unlocked};
}

}  // namespace

void TeamBoostOffer::InitTeamBoost() {
  if (!platform_.BattleBoostAllowed() || boost_ || model_.currentGame.gameState != LCDS::GameStates::kPostChampSelect ||
      model_.session.timer.phase == LCDS::TimerPhases::kFinalization)
    return;
  const SessionWatch watch(model_);
  auto offer = module_.Await(
      module_.InvokeLcds<LCDS::TeamSkinRentalDTO>("gameService", "initializeTeamSkinRental", std::string(kCurrency)));
  if (!offer) {
    Logging::Log(Logging::kError, Logging::kGroupDbg, kFetchFailed, offer.Error().Message().c_str());
    return;
  }
  // An offer for a session that ended during the fetch would bring its
  // deleted resource back.
  if (watch.Lost() || boost_) return;
  boost_ = FromDto(offer.Value());
  publisher_.TeamBoost(*boost_, PluginResourceEventType::Create);
}

void TeamBoostOffer::OnTeamSkinRental(const LCDS::TeamSkinRentalDTO& dto) {
  if (!boost_) return;
  *boost_ = FromDto(dto);
  publisher_.TeamBoost(*boost_, PluginResourceEventType::Update);
}

RemotingTypedResult<Api::TeamBoost> TeamBoostOffer::GetTeamBoost() const {
  using Result = RemotingTypedResult<Api::TeamBoost>;
  return boost_ ? Result::Success(*boost_) : Result::NotFound(kNoBoost);
}

RemotingResult TeamBoostOffer::PurchaseTeamBoost() {
  if (!boost_) return RemotingResult::NotFound(kNoBoost);
  // The unlocked offer itself arrives later as a pushed offer; the call's
  // own answer only tells whether the purchase went through.
  auto bought = module_.InvokeLcdsWithoutResult("gameService", "unlockSkinsForTeam", std::string(kCurrency));
  return bought ? RemotingResult::Success() : RemotingResult::FromFailure(bought.Error());
}

}  // namespace Vexa::Client::VoverOrevidAredez
