#include "sim/scheduler.h"

#include <cmath>

namespace TovSim {

Micros ToMicros(double seconds) {
  if (!(seconds > -9e12)) return 0;
  if (seconds >= 9e12) return kNever;
  return static_cast<Micros>(std::llround(seconds * 1e6));
}

double ToSeconds(Micros micros) { return static_cast<double>(micros) / 1e6; }

void Scheduler::At(Micros when, std::function<void()> work) {
  items_.emplace(std::make_pair(when, sequence_++), std::move(work));
}

bool Scheduler::RunOne() {
  if (items_.empty() || items_.begin()->first.first > Now()) return false;
  std::function<void()> work = std::move(items_.begin()->second);
  items_.erase(items_.begin());
  work();
  return true;
}

}  // namespace TovSim
