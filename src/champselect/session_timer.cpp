#include "champselect/session_timer.h"

#include <cmath>
#include <string>

namespace Vexa::Client::VoverOrevidAredez {
namespace {

// The client shows whole seconds computed in single precision; keep its
// rounding so both agree on the edges.
std::int32_t Seconds(std::int64_t milliseconds) {
  return static_cast<std::int32_t>(std::floor(static_cast<float>(milliseconds) * 0.001f));
}

}  // namespace

void SetSessionTimer(Api::ChampSelectTimer& timer, std::string_view phase, std::int64_t remainingMs,
                     std::uint64_t nowEpochMs) {
  timer.lastRemainingMs = remainingMs;
  timer.lastUpdateEpochMs = nowEpochMs;
  timer.internalNowInEpochMs = nowEpochMs;
  timer.timeLeftInPhase = remainingMs;
  timer.adjustedTimeLeftInPhase = remainingMs - 3000 < 0 ? 0 : remainingMs - 3000;
  timer.timeLeftInPhaseInSec = Seconds(timer.timeLeftInPhase);
  timer.adjustedTimeLeftInPhaseInSec = Seconds(timer.adjustedTimeLeftInPhase);
  if (timer.phase == phase) {
    if (timer.totalTimeInPhase == 0) timer.totalTimeInPhase = remainingMs;
  } else {
    timer.totalTimeInPhase = remainingMs;
    timer.phase = std::string(phase);
  }
}

}  // namespace Vexa::Client::VoverOrevidAredez
