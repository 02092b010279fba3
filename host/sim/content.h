// What the game offers and what the local player owns.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace TovSim {

constexpr int kFirstChampion = 1;
constexpr int kLastChampion = 40;
constexpr int kFirstSpell = 101;
constexpr int kLastSpell = 110;
constexpr int kWalletVp = 500;
constexpr int kBoostPrice = 95;
constexpr int kSelectedWardSkin = 3;
constexpr int kLastWardSkin = 10;
// Every champion has skins 0 to 9; the local player owns 0 to 5 of each.
constexpr int kLastSkinIndex = 9;
constexpr int kLastOwnedSkinIndex = 5;

bool IsChampion(int64_t championId);
bool IsSpell(int64_t spellId);
// Owned 1 to 25, rented 26 to 28, and free to play 29 to 32 where the queue
// allows free champions.
bool LocalMayPlay(int64_t championId, bool freeChampionsAllowed);
// Battle training hands out its own two champions, whatever one owns.
const std::vector<int>& BattleTrainingChampions();
// Skins are champion × 1000 + index.
constexpr int SkinId(int championId, int index) { return championId * 1000 + index; }

// The champion inventory resource: the 40 champions, and one entry with
// id -1 that nobody may ever pick or ban.
std::string InventoryJson();

}  // namespace TovSim
