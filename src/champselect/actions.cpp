#include "champselect/actions.h"

#include "champselect/platform_state.h"
#include "champselect/publisher.h"
#include "champselect/session_actions.h"
#include "champselect/ux_timers.h"
#include "logging/logger.h"
#include "runtime/app_module.h"

namespace Vexa::Client::VoverOrevidAredez {
namespace {

// Every answer and line of the action commands.
constexpr const char* kNoSuchAction = "ChampSelect: the action you are trying to PATCH cannot be found";
constexpr const char* kAlreadyCompleted = "Action already completed";
constexpr const char* kNotYours = "Cannot complete someone elses action";
constexpr const char* kNoChampion = "Cannot complete an action with no champion";
constexpr const char* kOtherType = "Cannot complete an action of this type.";
constexpr const char* kNotInChampSelect = "Not in Champ Select";
constexpr const char* kShowUxOff = "%s: Action completed, setting show ux to false.";

}  // namespace

BindingNode* Actions::FindAction(std::int64_t id) {
  for (BindingProperty& group : model_.session.actions)
    for (BindingNode& action : group.Elements())
      if (action.Find("id").GetInteger() == id) return &action;
  return nullptr;
}

RemotingResult Actions::CompleteAction(std::int64_t id) {
  // The battle-training flag is set only by a completion that succeeds.
  Api::ChampSelectAction patch;
  patch.completed = true;
  return PatchAction(id, patch);
}

RemotingResult Actions::PatchAction(std::int64_t id, const Api::ChampSelectAction& patch) {
  const BindingNode* found = FindAction(id);
  if (!found) return RemotingResult::NotFound(kNoSuchAction);
  const Api::ChampSelectAction snapshot = ReadAction(*found);
  if (snapshot.completed) return RemotingResult::Failed(400, kAlreadyCompleted);
  if (snapshot.actorCellId != model_.session.localPlayerCellId) return RemotingResult::Failed(400, kNotYours);

  const SessionWatch watch(model_);
  if (patch.championId != 0 && patch.championId != snapshot.championId &&
      (snapshot.type == "pick" || snapshot.type == "ban")) {
    if (snapshot.type == "pick") {
      auto hovered = module_.InvokeLcdsWithoutResult("gameService", "selectChampion", patch.championId);
      // The call let the core run: a newer game may have rebuilt the
      // session, or ended it.
      if (watch.Lost()) return RemotingResult::NotFound(kNotInChampSelect);
      if (!hovered) return RemotingResult::FromFailure(hovered.Error());
    }
    if (BindingNode* action = FindAction(id)) action->Field("championId").SetSigned(patch.championId);
    publisher_.Session(PluginResourceEventType::Update);
  }
  if (!patch.completed) return RemotingResult::Success();
  return Complete(snapshot, patch.championId, watch);
}

RemotingResult Actions::Complete(const Api::ChampSelectAction& snapshot, std::int32_t championId,
                                 const SessionWatch& watch) {
  if (snapshot.championId == 0 && championId == 0) return RemotingResult::Failed(400, kNoChampion);
  if (snapshot.type == "pick" && platform_.IsBattleTraining()) {
    // Battle training completes its pick here; no platform call locks it.
    if (BindingNode* action = FindAction(snapshot.id)) action->Field("completed").SetBool(true);
    platform_.SetBattleTrainingCompleted(true);
    model_.session.timer.phase = std::string(LCDS::TimerPhases::kFinalization);
    ActionDone();
    publisher_.Session(PluginResourceEventType::Update);
    return RemotingResult::Success();
  }
  if (snapshot.type != "pick" && snapshot.type != "ban") return RemotingResult::InternalError(kOtherType);
  // A pick is locked by the platform, and the session changes when its next
  // game says so.
  const auto done = snapshot.type == "pick"
                        ? module_.InvokeLcdsWithoutResult("gameService", "championSelectCompleted")
                        : module_.InvokeLcdsWithoutResult("gameService", "banChampion",
                                                          championId != 0 ? championId : snapshot.championId);
  if (watch.Lost()) return RemotingResult::NotFound(kNotInChampSelect);
  if (!done) return RemotingResult::FromFailure(done.Error());
  ActionDone();
  return RemotingResult::Success();
}

void Actions::ActionDone() {
  // Only a completion that went through makes the reminder unneeded.
  if (!uxTimers_.ShowUx()) return;
  uxTimers_.CancelShow();
  Logging::Log(Logging::kAlways, Logging::kGroupDbg, kShowUxOff, kShortName);
}

}  // namespace Vexa::Client::VoverOrevidAredez
