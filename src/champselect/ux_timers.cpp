#include "champselect/ux_timers.h"

#include <cmath>

#include "binding/message_format.h"
#include "binding/saturate.h"
#include "champselect/publisher.h"
#include "champselect/session_timer.h"
#include "champselect/work_queue.h"
#include "logging/logger.h"
#include "os/env.h"
#include "runtime/app_module.h"

namespace Vexa::Client::VoverOrevidAredez {
namespace {

// Every line this part writes.
constexpr const char* kPhaseReset = "%s: Timer phase changed, resetting outstanding timer count to 0.";
constexpr const char* kCreating = "%s: Creating ux timer %s to show for phase %s in %lld ms";
constexpr const char* kTriggered =
    "%s: Ux timer %s triggered: timer phase=%s, current phase=%s, outstanding timers: %u, should show=%s";
constexpr const char* kShowing = "%s: Showing ux timer: %s";

// A timed phase never lasts a day; anything longer (or negative, or not a
// number) is a platform fault, not a deadline.
constexpr std::int64_t kMaxRemainingMs = 24LL * 60 * 60 * 1000;
constexpr std::int64_t kShowBeforeEndMs = 10000;
constexpr std::int64_t kShortestPhaseToArmMs = 15000;

std::int64_t ClampRemaining(double milliseconds) {
  if (!(milliseconds > 0)) return 0;  // NaN too
  return std::min(SaturateToInt64(milliseconds), kMaxRemainingMs);
}

std::string PhaseOf(const std::string& gameState) {
  if (gameState == LCDS::GameStates::kPreChampSelect || gameState == LCDS::GameStates::kChampSelect)
    return std::string(LCDS::TimerPhases::kBanPick);
  if (gameState == LCDS::GameStates::kPostChampSelect) return std::string(LCDS::TimerPhases::kFinalization);
  return {};
}

std::uint64_t NowEpochMs() {
  const std::int64_t now = Os::Env::Current().UnixTimeMillis();
  return now > 0 ? static_cast<std::uint64_t>(now) : 0;
}

}  // namespace

void UxTimers::RefreshTimers() {
  if (!model_.HasSession()) return;
  const LCDS::GameDTO& game = model_.currentGame;
  if (game.gameState == LCDS::GameStates::kStartRequested) {
    // A spectator waits out the broadcast delay; a player starts at once.
    const std::int64_t remaining =
        model_.session.localPlayerCellId == -1 ? ClampRemaining(static_cast<double>(game.spectatorDelay) * 1000.0) : 0;
    SetSessionTimer(model_.session.timer, LCDS::TimerPhases::kGameStarting, remaining, NowEpochMs());
    publisher_.Session(PluginResourceEventType::Update);
    return;
  }
  if (game.gameState != LCDS::GameStates::kChampSelect && game.gameState != LCDS::GameStates::kPostChampSelect &&
      game.gameState != LCDS::GameStates::kPreChampSelect)
    return;
  auto timer = module_.Await(module_.InvokeLcds<LCDS::GameTimerDTO>("gameService", "getCurrentTimerForGame"));
  if (!timer || !model_.HasSession()) return;
  const LCDS::GameTimerDTO& reading = timer.Value();
  if (reading.currentGameState.empty() && reading.remainingTimeInMillis == 0.0) return;
  const std::string phase = PhaseOf(reading.currentGameState);
  const std::int64_t remaining = ClampRemaining(reading.remainingTimeInMillis);
  if (timerPhaseChanged_) {
    timerPhaseChanged_ = false;
    if (phase != model_.session.timer.phase) {
      Logging::Log(Logging::kAlways, Logging::kGroupDbg, kPhaseReset, kShortName);
      outstandingUxTimers_ = 0;
      ++epoch_;
    }
    if (remaining >= kShortestPhaseToArmMs) Arm(phase, remaining);
  }
  SetSessionTimer(model_.session.timer, phase, remaining, NowEpochMs());
  publisher_.Session(PluginResourceEventType::Update);
}

void UxTimers::Arm(const std::string& phase, std::int64_t remainingMs) {
  ++uxTimerSerial_;
  Armed timer{phase, Format("%1.show-ux-%2", kShortName, uxTimerSerial_), model_.session.id, epoch_};
  ++outstandingUxTimers_;
  showUx_ = true;
  const std::int64_t delay = remainingMs - kShowBeforeEndMs;
  Logging::Log(Logging::kAlways, Logging::kGroupDbg, kCreating, kShortName, timer.name.c_str(), phase.c_str(),
               static_cast<long long>(delay));
  module_.StartOneShotTimer(timer.name, static_cast<double>(delay) / 1000.0,
                            [this, timer] { work_.Post([this, timer] { OnUxTimer(timer); }); });
}

void UxTimers::OnUxTimer(const Armed& timer) {
  Logging::Log(Logging::kAlways, Logging::kGroupDbg, kTriggered, kShortName, timer.name.c_str(), timer.phase.c_str(),
               model_.session.timer.phase.c_str(), outstandingUxTimers_, showUx_ ? "true" : "false");
  // A timer of an ended session or of an earlier phase was already
  // forgotten when its count was reset.
  if (timer.phase != model_.session.timer.phase || timer.sessionId != model_.session.id || timer.epoch != epoch_)
    return;
  if (showUx_ && outstandingUxTimers_ == 1) {
    Logging::Log(Logging::kAlways, Logging::kGroupDbg, kShowing, kShortName, timer.name.c_str());
    PostUxShow();
    showUx_ = false;
  }
  if (outstandingUxTimers_ > 0) --outstandingUxTimers_;
}

void UxTimers::ShowNow() {
  PostUxShow();
  timerPhaseChanged_ = true;
}

void UxTimers::Reset() {
  outstandingUxTimers_ = 0;
  showUx_ = false;
  timerPhaseChanged_ = false;
  ++epoch_;
}

void UxTimers::PostUxShow() { (void)module_.CheckedRequest(RemotingMethod::Post, "/vexaclient/ux-show"); }

}  // namespace Vexa::Client::VoverOrevidAredez
