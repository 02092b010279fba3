#include "sim/reroll_bank.h"

#include <algorithm>

namespace TovSim {

void RerollBank::Deposit(uint64_t summonerId, int points) {
  int& held = points_[summonerId];
  held = std::clamp(held + points, 0, kCostToRoll * kMaxRolls);
}

bool RerollBank::Spend(uint64_t summonerId) {
  const auto found = points_.find(summonerId);
  if (found == points_.end() || found->second < kCostToRoll) return false;
  found->second -= kCostToRoll;
  return true;
}

PointSummary RerollBank::Summary(uint64_t summonerId) const {
  const auto found = points_.find(summonerId);
  PointSummary summary;
  summary.currentPoints = found == points_.end() ? 0 : found->second;
  summary.numberOfRolls = summary.currentPoints / kCostToRoll;
  summary.maxRolls = kMaxRolls;
  summary.pointsCostToRoll = kCostToRoll;
  summary.pointsToNextRoll =
      summary.numberOfRolls >= kMaxRolls ? 0 : kCostToRoll - summary.currentPoints % kCostToRoll;
  return summary;
}

}  // namespace TovSim
