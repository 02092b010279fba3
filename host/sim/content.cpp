#include "sim/content.h"

#include "sim/json.h"

namespace TovSim {

bool IsChampion(int championId) { return championId >= kFirstChampion && championId <= kLastChampion; }

bool IsSpell(int spellId) { return spellId >= kFirstSpell && spellId <= kLastSpell; }

bool LocalMayPlay(int championId) { return championId >= 1 && championId <= 32; }

std::string InventoryJson() {
  JsonWriter json;
  json.BeginArray();
  const auto entry = [&](int id, bool freeToPlay, bool owned, bool rented) {
    json.BeginObject().Key("id").Int(id).Key("freeToPlay").Bool(freeToPlay);
    json.Key("ownership").BeginObject().Key("owned").Bool(owned).Key("freeToPlayReward").Bool(false);
    json.Key("rental").BeginObject().Key("rented").Bool(rented).EndObject();
    json.EndObject().EndObject();
  };
  for (int id = kFirstChampion; id <= kLastChampion; ++id)
    entry(id, id >= 29 && id <= 32, id <= 25, id >= 26 && id <= 28);
  entry(-1, false, true, false);
  return json.EndArray().Text();
}

}  // namespace TovSim
