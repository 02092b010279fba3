// The GameDTO the platform sends one client: the game as that client may see
// it.
#pragma once

#include <string>

#include "sim/game.h"

namespace TovSim {

inline constexpr const char* kGameDtoClass = "com.vexagames.platform.game.GameDTO";

struct DtoView {
  int viewerTeam = 1;  // the receiving player's team; 0 for a spectator
  // The opponents' pickTurn and pickMode are left out.
  bool hideOpponentTurns = false;
  // A dodger is removed from their team list (and from the status string)
  // instead of being shown as '0'. Never both: the status positions index
  // the list as sent.
  bool dropDodgers = false;
};

// The GameDTO as compact JSON, every object with its platform "__class".
std::string GameDtoJson(const Game& game, const DtoView& view);

}  // namespace TovSim
