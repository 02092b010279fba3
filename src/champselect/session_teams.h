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

// A participant's "summonerId"; 0 when it has none (or it is not a number).
std::uint64_t SummonerIdOf(const BindingNode& participant);
// Whether a member of `team` is `summonerId`; never for 0, which is nobody.
bool HasSummoner(const std::vector<BindingProperty>& team, std::uint64_t summonerId);

}  // namespace Vexa::Client::VoverOrevidAredez
