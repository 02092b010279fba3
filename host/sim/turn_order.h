// Who acts in which turn: the only place that knows the order of bans and
// picks.
#pragma once

namespace TovSim {

// The banner of ban turn k (1-based): the teams alternate, team one first,
// each going down its list: T1[0], T2[0], T1[1], T2[1], …
struct BannerSlot {
  int team;   // 1 or 2
  int index;  // position in that team's list
};
BannerSlot BannerOfTurn(int turn);

// Draft picks go in the snake 1-2-2-2-2-1 over six turns: the pick turn of
// the player at `index` of team 1 or 2.
int SnakePickTurn(int team, int index);
constexpr int kDraftPickTurns = 6;

}  // namespace TovSim
