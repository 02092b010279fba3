// The platform's reroll points: each roll costs a fixed amount, and points
// are banked for at most a fixed number of rolls.
#pragma once

#include <cstdint>
#include <map>

namespace TovSim {

struct PointSummary {
  int pointsToNextRoll = 0;
  int currentPoints = 0;
  int numberOfRolls = 0;  // rolls the points pay for now
  int maxRolls = 0;
  int pointsCostToRoll = 0;
};

class RerollBank {
 public:
  static constexpr int kCostToRoll = 250;
  static constexpr int kMaxRolls = 2;

  // Points beyond what pays for kMaxRolls rolls are lost.
  void Deposit(uint64_t summonerId, int points);
  // Takes one roll's cost; false, taking nothing, when there is not enough.
  bool Spend(uint64_t summonerId);
  PointSummary Summary(uint64_t summonerId) const;

 private:
  std::map<uint64_t, int> points_;
};

}  // namespace TovSim
