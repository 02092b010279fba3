#include "sim/roster.h"

#include <cctype>

namespace TovSim {
namespace {

Player Person(const std::string& name, uint64_t summonerId, uint64_t uniqueId) {
  return Player{name, InternalName(name), summonerId, -1, "", uniqueId};
}

std::vector<Player> Mates(const std::string& first, uint64_t firstId) {
  static const char* const kMates[] = {"Mate Two", "Mate Three", "Mate Four", "Mate Five"};
  std::vector<Player> team{Person(first, firstId, 77001)};
  for (int i = 0; i < 4; ++i) team.push_back(Person(kMates[i], 1002 + i, 77002 + i));
  return team;
}

std::vector<Player> Rivals() {
  static const char* const kRivals[] = {"Rival One", "Rival Two", "Rival Three", "Rival Four", "Rival Five"};
  std::vector<Player> team;
  for (int i = 0; i < 5; ++i) team.push_back(Person(kRivals[i], 2001 + i, 77006 + i));
  return team;
}

std::vector<Player> Bots(const std::string& name, int count) {
  std::vector<Player> bots;
  for (int i = 1; i <= count; ++i) {
    const std::string full = name + std::to_string(i);
    bots.push_back(Player{full, InternalName(full), 0, 0, "EASY", 0});
  }
  return bots;
}

}  // namespace

const std::vector<uint64_t>& PartyMembers() {
  static const std::vector<uint64_t> kParty{1001, 1002, 1003};
  return kParty;
}

std::string InternalName(const std::string& displayName) {
  std::string name;
  for (char c : displayName)
    if (c != ' ') name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

Roster StandardRoster(int localTeam) {
  Roster roster{Mates("You", kLocalSummonerId), Rivals()};
  if (localTeam == 2) std::swap(roster.teamOne, roster.teamTwo);
  return roster;
}

Roster BotRoster() { return Roster{Mates("You", kLocalSummonerId), Bots("Easy Bot ", 5)}; }

Roster TrainingRoster() {
  Roster roster{{Person("You", kLocalSummonerId, 77001)}, Bots("Easy Bot ", 5)};
  for (Player& ally : Bots("Ally Bot ", 4)) roster.teamOne.push_back(ally);
  return roster;
}

Roster SpectatedRoster() { return Roster{Mates("Friend Six", 1006), Rivals()}; }

}  // namespace TovSim
