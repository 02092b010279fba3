#include "sim/clock.h"

#include <dlfcn.h>

#include <atomic>
#include <cmath>

namespace TovSim {
namespace {

std::atomic<const Clock*> g_active{nullptr};

// Whole seconds (rounded down, so negatives too) and nanoseconds.
timespec Split(double seconds) {
  if (!std::isfinite(seconds)) return timespec{0, 0};
  double whole = std::floor(seconds);
  long nanos = std::lround((seconds - whole) * 1e9);
  if (nanos >= 1000000000L) {
    whole += 1;
    nanos -= 1000000000L;
  }
  return timespec{static_cast<time_t>(whole), nanos};
}

using ClockGettime = int (*)(clockid_t, timespec*);

ClockGettime RealClockGettime() {
  static std::atomic<ClockGettime> real{nullptr};
  ClockGettime found = real.load(std::memory_order_acquire);
  if (!found) {
    found = reinterpret_cast<ClockGettime>(dlsym(RTLD_NEXT, "clock_gettime"));
    real.store(found, std::memory_order_release);
  }
  return found;
}

bool IsMonotonic(clockid_t id) {
  return id == CLOCK_MONOTONIC || id == CLOCK_MONOTONIC_RAW || id == CLOCK_MONOTONIC_COARSE || id == CLOCK_BOOTTIME;
}

bool IsWall(clockid_t id) { return id == CLOCK_REALTIME || id == CLOCK_REALTIME_COARSE; }

}  // namespace

void Clock::Activate() { g_active.store(this, std::memory_order_release); }

void Clock::Deactivate() {
  const Clock* self = this;
  g_active.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
}

bool Clock::Active() const { return g_active.load(std::memory_order_acquire) == this; }

timespec Clock::Monotonic() const { return Split(Seconds()); }

timespec Clock::Wall() const {
  // Split before adding the epoch: near 1.8e9 a double has no nanoseconds left.
  timespec ts = Split(Seconds() + wallShift_);
  ts.tv_sec += kEpochSeconds;
  return ts;
}

}  // namespace TovSim

// Exported from every executable that hosts a simulation (see the link
// options of tov_sim), so a loaded plug-in's calls bind here instead of to
// the C library's. Default visibility, or the linker could not export it.
extern "C" __attribute__((visibility("default"))) int clock_gettime(clockid_t id, timespec* ts) noexcept {
  if (const TovSim::Clock* clock = TovSim::g_active.load(std::memory_order_acquire); clock) {
    if (TovSim::IsMonotonic(id)) {
      *ts = clock->Monotonic();
      return 0;
    }
    if (TovSim::IsWall(id)) {
      *ts = clock->Wall();
      return 0;
    }
  }
  const TovSim::ClockGettime real = TovSim::RealClockGettime();
  return real ? real(id, ts) : -1;
}
