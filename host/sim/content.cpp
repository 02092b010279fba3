#include "sim/content.h"

#include "sim/json.h"

namespace TovSim {
namespace {

bool Owned(int64_t id) { return id >= 1 && id <= 25; }
bool Rented(int64_t id) { return id >= 26 && id <= 28; }
bool FreeToPlay(int64_t id) { return id >= 29 && id <= 32; }

}  // namespace

bool IsChampion(int64_t championId) { return championId >= kFirstChampion && championId <= kLastChampion; }

bool IsSpell(int64_t spellId) { return spellId >= kFirstSpell && spellId <= kLastSpell; }

bool LocalMayPlay(int64_t championId, bool freeChampionsAllowed) {
  return Owned(championId) || Rented(championId) || (freeChampionsAllowed && FreeToPlay(championId));
}

const std::vector<int>& BattleTrainingChampions() {
  static const std::vector<int> kChampions{22, 86};
  return kChampions;
}

std::string InventoryJson() {
  JsonWriter json;
  json.BeginArray();
  const auto entry = [&](int id, bool freeToPlay, bool owned, bool rented) {
    json.BeginObject().Key("id").Int(id).Key("freeToPlay").Bool(freeToPlay);
    json.Key("ownership").BeginObject().Key("owned").Bool(owned).Key("freeToPlayReward").Bool(false);
    json.Key("rental").BeginObject().Key("rented").Bool(rented).EndObject();
    json.EndObject().EndObject();
  };
  for (int id = kFirstChampion; id <= kLastChampion; ++id) entry(id, FreeToPlay(id), Owned(id), Rented(id));
  entry(-1, false, true, false);
  return json.EndArray().Text();
}

}  // namespace TovSim
