// Who plays: the ten seats of a match, as the platform knows them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace TovSim {

constexpr uint64_t kLocalSummonerId = 1001;
constexpr uint64_t kLocalAccountId = 9001;
// The local player's party: the first three of team one.
const std::vector<uint64_t>& PartyMembers();

struct Player {
  std::string name;
  std::string internalName;
  uint64_t summonerId = 0;  // 0 for an AI bot, which has none
  int botSkillLevel = -1;   // -1: a person
  std::string botSkillLevelName;
  uint64_t gameUniqueId = 0;  // what an obfuscated view shows instead of the player

  bool IsBot() const { return botSkillLevel >= 0; }
  bool IsLocal() const { return summonerId == kLocalSummonerId; }
};

struct Roster {
  std::vector<Player> teamOne;
  std::vector<Player> teamTwo;
};

// The display name lower-cased with its spaces removed.
std::string InternalName(const std::string& displayName);

// "You" and four mates against five rivals; the local player's side is team
// one or, with localTeam 2, team two.
Roster StandardRoster(int localTeam = 1);
// You and four mates against five AI bots.
Roster BotRoster();
// Battle training: You and four AI bots against five.
Roster TrainingRoster();
// A game the local player only watches: a friend holds their seat.
Roster SpectatedRoster();

}  // namespace TovSim
