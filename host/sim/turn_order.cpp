#include "sim/turn_order.h"

namespace TovSim {

BannerSlot BannerOfTurn(int turn) { return BannerSlot{turn % 2 == 1 ? 1 : 2, (turn - 1) / 2}; }

int SnakePickTurn(int team, int index) {
  // Turn 1: T1[0]; 2: T2[0..1]; 3: T1[1..2]; 4: T2[2..3]; 5: T1[3..4]; 6: T2[4].
  static const int kTeamOne[] = {1, 3, 3, 5, 5};
  static const int kTeamTwo[] = {2, 2, 4, 4, 6};
  if (index < 0 || index > 4) return 0;
  return team == 1 ? kTeamOne[index] : kTeamTwo[index];
}

}  // namespace TovSim
