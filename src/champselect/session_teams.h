// Cells and player selections from the platform's two team lists.
#pragma once

#include <cstdint>
#include <vector>

#include "champselect/api.h"
#include "champselect/lcds.h"

namespace Vexa::Client::VoverOrevidAredez {

struct BuiltTeams {
  std::vector<Api::ChampSelectPlayerSelection> teamOne;  // from GameDTO.teamOne
  std::vector<Api::ChampSelectPlayerSelection> teamTwo;
};

// The local player's team is numbered first: its members get cells 0 to n-1
// in list order, the other team's follow. `team` stays 1 for teamOne and 2
// for teamTwo whatever the order. A participant may be of any shape; one
// that is not an object reads as having none of its keys.
BuiltTeams BuildTeams(const LCDS::GameDTO& game, std::uint64_t localSummonerId, bool isCustomGame);

}  // namespace Vexa::Client::VoverOrevidAredez
