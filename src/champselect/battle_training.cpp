#include "champselect/battle_training.h"

#include "champselect/platform_state.h"
#include "champselect/publisher.h"
#include "champselect/session_timer.h"
#include "champselect/work_queue.h"
#include "logging/logger.h"
#include "os/env.h"
#include "runtime/app_module.h"

namespace Vexa::Client::VoverOrevidAredez {
namespace {

// Every answer and line of battle training.
constexpr const char* kNotInTraining = "Not in battle training";
constexpr const char* kQuitFailed = "%s: Failed to leave battle training game: %s";

constexpr std::int64_t kLastMinuteShownMs = 60000;

}  // namespace

void BattleTraining::Begin() {
  launched_ = false;
  const std::string sessionId = model_.session.id;
  module_.StartOneShotTimer(kTimerName, kChoosingSeconds,
                            [this, sessionId] { work_.Post([this, sessionId] { OnChoosingOver(sessionId); }); });
}

void BattleTraining::End() { module_.StopTimer(kTimerName); }

bool BattleTraining::Current(const std::string& sessionId) const {
  return model_.HasSession() && model_.session.id == sessionId && platform_.IsBattleTraining() && !launched_;
}

void BattleTraining::OnChoosingOver(const std::string& sessionId) {
  if (!Current(sessionId)) return;
  const std::int64_t now = Os::Env::Current().UnixTimeMillis();
  SetSessionTimer(model_.session.timer, LCDS::TimerPhases::kBanPick, kLastMinuteShownMs,
                  now > 0 ? static_cast<std::uint64_t>(now) : 0);
  publisher_.Session(PluginResourceEventType::Update);
  module_.StartOneShotTimer(kTimerName, kLastMinuteSeconds, [this, sessionId] {
    work_.Post([this, sessionId] { OnBattleTrainingTimeout(sessionId); });
  });
}

void BattleTraining::OnBattleTrainingTimeout(const std::string& sessionId) {
  if (!Current(sessionId)) return;
  auto quit = module_.InvokeLcdsWithoutResult("gameService", "quitGame");
  if (!quit) Logging::Log(Logging::kWarn, Logging::kGroupDbg, kQuitFailed, kShortName, quit.Error().Message().c_str());
  raiseEvent_(LCDS::Events::kTerminated);  // logged as it is raised
  (void)module_.CheckedRequest(RemotingMethod::Post, "/tov-gameflow/v1/battle-training/stop");
}

RemotingResult BattleTraining::Launch() {
  if (!platform_.IsBattleTraining()) return RemotingResult::NotFound(kNotInTraining);
  auto launched = module_.InvokeLcdsWithoutResult("gameService", "championSelectCompleted");
  if (!launched) return RemotingResult::FromFailure(launched.Error());
  launched_ = true;
  return RemotingResult::Success();
}

}  // namespace Vexa::Client::VoverOrevidAredez
