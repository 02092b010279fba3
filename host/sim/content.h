// What the game offers and what the local player owns.
#pragma once

#include <string>

namespace TovSim {

constexpr int kFirstChampion = 1;
constexpr int kLastChampion = 40;
constexpr int kFirstSpell = 101;
constexpr int kLastSpell = 110;
constexpr int kWalletVp = 500;
constexpr int kBoostPrice = 95;
constexpr int kSelectedWardSkin = 3;

bool IsChampion(int championId);
bool IsSpell(int spellId);
// Owned 1 to 25, rented 26 to 28, free to play 29 to 32.
bool LocalMayPlay(int championId);
// Skins are champion × 1000 + index.
constexpr int SkinId(int championId, int index) { return championId * 1000 + index; }

// The champion inventory resource: the 40 champions, and one entry with
// id -1 that nobody may ever pick or ban.
std::string InventoryJson();

}  // namespace TovSim
