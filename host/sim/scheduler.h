// The platform's own timeline: what the simulated servers and players do
// next, in whole microseconds of the simulation's clock. Items due at the
// same time run in the order they were scheduled, so one seed gives one order.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <utility>

namespace TovSim {

using Micros = int64_t;
constexpr Micros kNever = std::numeric_limits<Micros>::max();

Micros ToMicros(double seconds);
double ToSeconds(Micros micros);
constexpr Micros Seconds(double seconds) { return static_cast<Micros>(seconds * 1e6); }
constexpr Micros Millis(int64_t millis) { return millis * 1000; }

class Scheduler {
 public:
  explicit Scheduler(std::function<Micros()> now) : now_(std::move(now)) {}

  Micros Now() const { return now_(); }
  void At(Micros when, std::function<void()> work);
  void After(Micros delay, std::function<void()> work) { At(Now() + delay, std::move(work)); }
  // When the earliest item is due; kNever when nothing is scheduled.
  Micros NextDue() const { return items_.empty() ? kNever : items_.begin()->first.first; }
  // Runs the earliest item if it is due by now (it is removed first, so it
  // may schedule more, and a nested run never repeats it); false if none.
  bool RunOne();
  void Clear() { items_.clear(); }

 private:
  std::function<Micros()> now_;
  std::map<std::pair<Micros, uint64_t>, std::function<void()>> items_;
  uint64_t sequence_ = 0;
};

}  // namespace TovSim
