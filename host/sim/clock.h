// The time of a simulated game: the core stand-in's clock, which the
// simulator advances, and the plug-in's view of it. The plug-in reads time
// only through clock_gettime; while a clock is active, this executable's own
// clock_gettime (which the plug-in's calls bind to) answers from it, so every
// delay the plug-in computes is exact and a seed gives byte-identical traces.
#pragma once

#include <time.h>

#include <cstdint>

#include "core/core.h"
#include "sim/scheduler.h"

namespace TovSim {

class Clock {
 public:
  // 2026-12-07T09:00:00Z: what the wall clock reads at virtual time 0.
  static constexpr int64_t kEpochSeconds = 1796634000;

  explicit Clock(TovHost::Core& core) : core_(core) {}
  ~Clock() { Deactivate(); }
  Clock(const Clock&) = delete;
  Clock& operator=(const Clock&) = delete;

  double Seconds() const { return core_.Now(); }
  Micros Now() const { return ToMicros(core_.Now()); }

  // From now on clock_gettime answers from this clock: CLOCK_MONOTONIC (and
  // its variants) the virtual seconds, CLOCK_REALTIME the epoch plus them.
  // One clock at a time; a later Activate takes over.
  void Activate();
  // The real clocks again (if this clock was the active one).
  void Deactivate();
  bool Active() const;

  // Every clock leaps forward, as when the machine sleeps: what fell due
  // meanwhile runs late, all at once.
  void Jump(double seconds) { core_.MoveClockTo(core_.Now() + seconds); }
  // Steps the wall clock alone, as a time service correcting it would; the
  // monotonic clock never goes back.
  void ShiftWallClock(double seconds) { wallShift_ += seconds; }

  timespec Monotonic() const;
  timespec Wall() const;

 private:
  TovHost::Core& core_;
  double wallShift_ = 0;
};

}  // namespace TovSim
