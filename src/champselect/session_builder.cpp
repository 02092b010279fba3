#include "champselect/session_builder.h"

#include <string>

#include "champselect/battle_training.h"
#include "champselect/chat_room.h"
#include "champselect/platform_state.h"
#include "champselect/publisher.h"
#include "champselect/session_teams.h"
#include "champselect/team_boost.h"
#include "champselect/trades.h"
#include "champselect/ux_timers.h"
#include "logging/logger.h"
#include "runtime/app_module.h"
#include "runtime/service_proxy.h"

namespace Vexa::Client::VoverOrevidAredez {
namespace {

// Every line this part writes.
constexpr const char* kWardSkinFailed = "%s: Failed to request selected ward skin: %s";
constexpr const char* kWardSkinInvalid = "%s: Invalid ward skin payload";
constexpr const char* kDeleting = "%s: Deleting Champ Select Session.";
constexpr const char* kNotOnTeam = "%s: %s";
constexpr const char* kNotOnTeamText = "Player is not on a team, cannot generate chat room data";

constexpr std::int32_t kMyTeamOneId = 100;
constexpr std::int32_t kMyTeamTwoId = 200;
constexpr std::int64_t kTradeIdOffset = 100;

Api::ChampSelectPlayerSelection* FindSummoner(std::vector<Api::ChampSelectPlayerSelection>& team,
                                              std::uint64_t summonerId) {
  if (summonerId == 0) return nullptr;
  for (auto& member : team)
    if (member.summonerId == summonerId) return &member;
  return nullptr;
}

bool ChampionsChanged(const std::vector<Api::ChampSelectPlayerSelection>& before,
                      const std::vector<Api::ChampSelectPlayerSelection>& after) {
  if (before.size() != after.size()) return true;
  for (std::size_t i = 0; i < before.size(); ++i)
    if (before[i].championId != after[i].championId) return true;
  return false;
}

}  // namespace

std::string SessionBuilder::NextSessionId() { return std::to_string(sessionCounter_++); }

void SessionBuilder::BeginSession() {
  ChampSelectModel& model = p_.model;
  (void)p_.module.InvokeLcdsWithoutResult("gameService", "setClientReceivedGameMessage", model.currentGame.id,
                                          "CHAMP_SELECT_CLIENT");
  model.session = Api::ChampSelectSession{};
  model.session.id = NextSessionId();
  model.session.allowBattleBoost = p_.platform.BattleBoostAllowed();
  if (p_.platform.IsBattleTraining()) {
    model.session.timer.phase = std::string(LCDS::TimerPhases::kBanPick);
    model.session.timer.isInfinite = true;
    p_.battleTraining.Begin();
  }
  p_.publisher.ImplementationActive(true);
  p_.publisher.Session(PluginResourceEventType::Create);
  p_.publisher.PickableChampions(p_.platform, PluginResourceEventType::Create);
  p_.publisher.BannableChampions(p_.platform, PluginResourceEventType::Create);
  p_.platform.PostGameflowEvent("GAMEFLOW_EVENT.ENTERED_CHAMP_SELECT");
  p_.trades.ForgetPendingTrade();
  p_.trades.ClearDeclinedTrades();
  actions_.Reset();
  model.previousPickTurn = 0;
  RequestSelectedWardSkin();
  // The wait above let the core run: the session may have ended meanwhile.
  if (model.HasSession()) UpdateSession();
}

void SessionBuilder::RequestSelectedWardSkin() {
  BindingProperty payload;
  payload.MakeStructure();
  auto answer = p_.module.Await(p_.module.Proxy().Call("wardSkins", "requestSelectedWardSkin", payload,
                                                       "receiveSelectedWardSkin", "", kWardSkinTimeoutSeconds));
  if (!answer) {
    Logging::Log(Logging::kError, Logging::kGroupDbg, kWardSkinFailed, kShortName, answer.Error().Message().c_str());
    return;
  }
  if (!answer.Value().HasField("selectedWardSkinId")) {
    Logging::Log(Logging::kError, Logging::kGroupDbg, kWardSkinInvalid, kShortName);
    return;
  }
  selectedWardSkinId_ = answer.Value().Find("selectedWardSkinId").GetInteger();
}

void SessionBuilder::UpdateSession() {
  ChampSelectModel& model = p_.model;
  // Only a live session is rebuilt: after its Delete nothing may bring it
  // back (START_REQUESTED may follow GAME_STARTED).
  if (!model.HasSession()) return;
  Api::ChampSelectSession& session = model.session;
  const auto before = model.FindLocalPlayer();
  BuiltTeams teams = BuildTeams(model.currentGame, model.localSummonerId, p_.platform.IsCustomGame());
  std::vector<Api::ChampSelectPlayerSelection> oldMyTeam = std::move(session.myTeam);

  // The local player's team is "my team"; a spectator watches teamOne's side.
  const bool inTeamTwo = !FindSummoner(teams.teamOne, model.localSummonerId) &&
                         FindSummoner(teams.teamTwo, model.localSummonerId);
  const std::int32_t myTeamId = inTeamTwo ? kMyTeamTwoId : kMyTeamOneId;
  session.myTeam = std::move(inTeamTwo ? teams.teamTwo : teams.teamOne);
  session.theirTeam = std::move(inTeamTwo ? teams.teamOne : teams.teamTwo);
  Api::ChampSelectPlayerSelection* me = FindSummoner(session.myTeam, model.localSummonerId);
  if (me) me->wardSkinId = selectedWardSkinId_;
  session.isSpectating = me == nullptr;
  // Spells of the other side are not for a custom game's players to see.
  if (p_.platform.IsCustomGame() && session.localPlayerCellId != -1) {
    for (auto& member : session.theirTeam) member.spell1Id = member.spell2Id = 0;
  }
  if (me) {
    session.localPlayerCellId = me->cellId;
    if (before && before->championId != me->championId) p_.trades.ClearDeclinedTrades();
  }
  p_.trades.DetectSwap(session.myTeam);
  if (session.trades.empty()) {
    for (const auto& member : session.myTeam) {
      if (member.cellId == session.localPlayerCellId) continue;
      session.trades.push_back({member.cellId + kTradeIdOffset, member.cellId, Api::ChampSelectTradeState::INVALID});
    }
  }
  if (me && ChampionsChanged(oldMyTeam, session.myTeam)) p_.trades.RefreshPotentialTraders();

  const int turnsBegun = actions_.Build(
      session.actions, {model.currentGame, session.myTeam, session.theirTeam, session.localPlayerCellId,
                        model.previousPickTurn, p_.platform.IsBattleTraining(), p_.platform.BattleTrainingCompleted()});
  for (int i = 0; i < turnsBegun; ++i) p_.uxTimers.ShowNow();

  session.bans.myTeamBans.clear();
  session.bans.theirTeamBans.clear();
  for (const LCDS::BannedChampion& ban : model.currentGame.bannedChampions)
    (ban.teamId == myTeamId ? session.bans.myTeamBans : session.bans.theirTeamBans).push_back(ban.championId);
  session.bans.numBans = p_.platform.MaxAllowableBans();
  p_.publisher.Session(PluginResourceEventType::Update);
}

void SessionBuilder::EndSession() {
  Logging::Log(Logging::kAlways, Logging::kGroupDbg, kDeleting, kShortName);
  p_.uxTimers.Reset();
  p_.model.session = Api::ChampSelectSession{};
  p_.teamBoost.Drop();
  p_.publisher.DeleteSessionResources();
  p_.publisher.ImplementationActive(false);
  p_.battleTraining.End();
}

void SessionBuilder::FillChatRoomDetails() {
  const LCDS::GameDTO& game = p_.model.currentGame;
  Api::ChampSelectChatRoomDetails& details = p_.model.session.chatDetails;
  if (!game.roomName.empty()) {
    details.chatRoomName = game.roomName;
    details.chatRoomPassword = game.roomPassword;
    return;
  }
  if (game.name.empty()) return;
  const auto local = p_.model.FindLocalPlayer();
  if (!local) {
    Logging::Log(Logging::kWarn, Logging::kGroupDbg, kNotOnTeam, kShortName, kNotOnTeamText);
    return;
  }
  const std::string side = local->team == 1 ? "c1" : "c2";
  std::string name = DerivedChatRoomName(game.name + "_" + side, side);
  if (name.empty()) return;
  details.chatRoomName = std::move(name);
  details.chatRoomPassword = game.roomPassword;
}

void SessionBuilder::BeginSpectatorSession() {
  p_.model.session = Api::ChampSelectSession{};
  p_.model.session.id = NextSessionId();
  p_.publisher.ImplementationActive(true);
  p_.publisher.Session(PluginResourceEventType::Create);
}

}  // namespace Vexa::Client::VoverOrevidAredez
