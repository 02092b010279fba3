#include "sim/game_dto.h"

#include "sim/json.h"

namespace TovSim {
namespace {

constexpr const char* kPlayerClass = "com.vexagames.platform.game.PlayerParticipant";
constexpr const char* kBotClass = "com.vexagames.platform.game.BotParticipant";
constexpr const char* kHiddenClass = "com.vexagames.platform.game.ObfuscatedParticipant";
constexpr const char* kSelectionClass = "com.vexagames.platform.game.PlayerChampionSelectionDTO";
constexpr const char* kBanClass = "com.vexagames.platform.game.BannedChampion";

bool Listed(const Game& game, const Seat& seat, const DtoView& view) {
  if (seat.present) return true;
  // Whoever left a lobby is no longer in it.
  return !view.dropDodgers && game.State() != GameState::TeamSelect;
}

// The viewer's opponents, in a game that hides them, are only shown as
// obfuscated participants.
bool Hidden(const Game& game, const Seat& seat, const DtoView& view) {
  return game.Rules().hideOpponents && view.viewerTeam != 0 && seat.team != view.viewerTeam;
}

void WriteParticipant(JsonWriter& json, const Game& game, const Seat& seat, const DtoView& view) {
  json.BeginObject();
  if (Hidden(game, seat, view)) {
    json.Key("__class").String(kHiddenClass).Key("gameUniqueId").Uint(seat.player.gameUniqueId);
    json.EndObject();
    return;
  }
  const Player& p = seat.player;
  const bool showTurns = !(view.hideOpponentTurns && view.viewerTeam != 0 && seat.team != view.viewerTeam);
  json.Key("__class").String(p.IsBot() ? kBotClass : kPlayerClass);
  json.Key("summonerName").String(p.name).Key("summonerInternalName").String(p.internalName);
  if (p.IsBot()) {
    json.Key("botSkillLevel").Int(p.botSkillLevel).Key("botSkillLevelName").String(p.botSkillLevelName);
  } else {
    json.Key("summonerId").Uint(p.summonerId);
    if (showTurns) json.Key("pickMode").Int(seat.pickMode);
  }
  if (showTurns) json.Key("pickTurn").Int(seat.pickTurn);
  json.EndObject();
}

void WriteTeam(JsonWriter& json, const Game& game, int team, const DtoView& view) {
  json.BeginArray();
  for (const Seat& seat : game.Seats())
    if (seat.team == team && Listed(game, seat, view)) WriteParticipant(json, game, seat, view);
  json.EndArray();
}

void WriteSelections(JsonWriter& json, const Game& game, const DtoView& view) {
  json.BeginArray();
  for (const Seat& seat : game.Seats()) {
    if (!Listed(game, seat, view) || Hidden(game, seat, view)) continue;
    const Selection& s = seat.selection;
    json.BeginObject().Key("__class").String(kSelectionClass);
    json.Key("summonerInternalName").String(seat.player.internalName).Key("championId").Int(s.championId);
    json.Key("selectedSkinIndex").Int(s.skinIndex).Key("spell1Id").Int(s.spell1).Key("spell2Id").Int(s.spell2);
    json.EndObject();
  }
  json.EndArray();
}

// One character per listed participant, team one first: '1' present, '0' gone.
std::string Status(const Game& game, const DtoView& view) {
  std::string status;
  for (int team = 1; team <= 2; ++team)
    for (const Seat& seat : game.Seats())
      if (seat.team == team && Listed(game, seat, view)) status += seat.present ? '1' : '0';
  return status;
}

}  // namespace

std::string GameDtoJson(const Game& game, const DtoView& view) {
  JsonWriter json;
  json.BeginObject().Key("__class").String(kGameDtoClass);
  json.Key("id").Uint(game.Id()).Key("gameState").String(StateName(game.State()));
  json.Key("queueTypeName").String(game.Rules().queueTypeName);
  json.Key("roomName").String(game.RoomName()).Key("roomPassword").String(game.RoomPassword());
  json.Key("name").String(game.Name());
  json.Key("playerChampionSelections");
  WriteSelections(json, game, view);
  json.Key("bannedChampions").BeginArray();
  for (const Ban& ban : game.Bans()) {
    json.BeginObject().Key("__class").String(kBanClass).Key("championId").Int(ban.championId);
    json.Key("teamId").Int(ban.teamId).Key("pickTurn").Int(ban.pickTurn).EndObject();
  }
  json.EndArray();
  json.Key("teamOne");
  WriteTeam(json, game, 1, view);
  json.Key("teamTwo");
  WriteTeam(json, game, 2, view);
  json.Key("statusOfParticipants").String(Status(game, view));
  json.Key("optimisticLock").Int(game.OptimisticLock()).Key("pickTurn").Int(game.PickTurn());
  json.Key("spectatorDelay").Int(game.SpectatorDelay());
  json.Key("gameMutators").BeginArray().EndArray();
  return json.EndObject().Text();
}

}  // namespace TovSim
