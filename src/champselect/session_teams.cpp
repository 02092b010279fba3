#include "champselect/session_teams.h"

#include <algorithm>
#include <limits>
#include <string>


namespace Vexa::Client::VoverOrevidAredez {
namespace {

// A participant as the platform describes it; missing or wrongly typed keys
// read as absent.
struct Participant {
  std::string summonerName;
  std::string summonerInternalName;
  std::uint64_t summonerId = 0;
  std::int32_t pickMode = 0;
  std::int32_t pickTurn = 0;
  bool hasPickTurn = false;
  std::int64_t botSkillLevel = -1;
  bool obfuscated = false;
};

bool IsNumber(const BindingNode& node) {
  const BindingKind kind = node.GetKind();
  return kind == BindingKind::Signed || kind == BindingKind::Unsigned || kind == BindingKind::Float;
}

std::int32_t ToInt32(std::int64_t value) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                            std::numeric_limits<std::int32_t>::max()));
}

Participant ReadParticipant(const BindingNode& value) {
  Participant p;
  if (value.GetKind() != BindingKind::Structure) return p;
  p.obfuscated = value.HasField("gameUniqueId");
  if (!p.obfuscated) p.summonerName = std::string(value.Find("summonerName").GetString());
  p.summonerInternalName = std::string(value.Find("summonerInternalName").GetString());
  p.summonerId = SummonerIdOf(value);
  if (const BindingNode& mode = value.Find("pickMode"); IsNumber(mode)) p.pickMode = ToInt32(mode.GetInteger());
  if (const BindingNode& turn = value.Find("pickTurn"); IsNumber(turn)) {
    p.pickTurn = ToInt32(turn.GetInteger());
    p.hasPickTurn = true;
  }
  if (const BindingNode& level = value.Find("botSkillLevel"); IsNumber(level)) p.botSkillLevel = level.GetInteger();
  return p;
}

const LCDS::PlayerChampionSelectionDTO* FindSelection(const LCDS::GameDTO& game, const Participant& participant) {
  // A hidden player has no selection of its own, whatever its entry says.
  if (participant.obfuscated) return nullptr;
  for (const auto& selection : game.playerChampionSelections)
    if (selection.summonerInternalName == participant.summonerInternalName) return &selection;
  return nullptr;
}

Api::ChampSelectPlayerSelection MakeSelection(const LCDS::GameDTO& game, const Participant& participant,
                                              std::int64_t cellId, std::int32_t team, bool isCustomGame) {
  Api::ChampSelectPlayerSelection selection;
  selection.cellId = cellId;
  selection.team = team;
  selection.pickMode = participant.pickMode;
  selection.pickTurn = participant.pickTurn;
  selection.playerType = participant.botSkillLevel != -1 ? "BOT" : "PLAYER";
  const LCDS::PlayerChampionSelectionDTO* chosen = FindSelection(game, participant);
  if (!chosen) {
    if (isCustomGame) selection.displayName = participant.summonerName;
    return selection;
  }
  selection.summonerId = participant.summonerId;
  selection.displayName = participant.summonerName;
  selection.summonerInternalName = participant.summonerInternalName;
  selection.championId = chosen->championId;
  selection.selectedSkinId =
      ToInt32(std::int64_t{chosen->championId} * 1000 + std::int64_t{chosen->selectedSkinIndex});
  // Widened with their sign, as the platform's 32-bit ids are.
  selection.spell1Id = static_cast<std::uint64_t>(std::int64_t{chosen->spell1Id});
  selection.spell2Id = static_cast<std::uint64_t>(std::int64_t{chosen->spell2Id});
  return selection;
}

}  // namespace

std::uint64_t SummonerIdOf(const BindingNode& participant) {
  const BindingNode& id = participant.Find("summonerId");
  return IsNumber(id) ? id.GetUnsignedInteger() : 0;
}

bool HasSummoner(const std::vector<BindingProperty>& team, std::uint64_t summonerId) {
  if (summonerId == 0) return false;
  return std::any_of(team.begin(), team.end(),
                     [&](const BindingProperty& member) { return SummonerIdOf(member) == summonerId; });
}

BuiltTeams BuildTeams(const LCDS::GameDTO& game, std::uint64_t localSummonerId, bool isCustomGame) {
  const bool twoFirst = HasSummoner(game.teamTwo, localSummonerId);
  const std::vector<BindingProperty>& first = twoFirst ? game.teamTwo : game.teamOne;
  const std::vector<BindingProperty>& second = twoFirst ? game.teamOne : game.teamTwo;
  const std::int32_t firstTeam = twoFirst ? 2 : 1;
  const std::int32_t secondTeam = twoFirst ? 1 : 2;

  BuiltTeams built;
  auto& firstOut = twoFirst ? built.teamTwo : built.teamOne;
  auto& secondOut = twoFirst ? built.teamOne : built.teamTwo;
  std::int64_t cell = 0;
  bool firstHasTurn = false;
  for (const BindingProperty& value : first) {
    const Participant participant = ReadParticipant(value);
    firstHasTurn = firstHasTurn || participant.pickTurn != 0;
    firstOut.push_back(MakeSelection(game, participant, cell++, firstTeam, isCustomGame));
  }
  const bool picking = game.gameState == LCDS::GameStates::kChampSelect;
  const bool banning = game.gameState == LCDS::GameStates::kPreChampSelect;
  for (std::size_t i = 0; i < second.size(); ++i) {
    // Hidden opponents may not say their turn: it is the current one when
    // they are picking, and the first ban belongs to the other team's first
    // member when nobody on this side has a turn yet.
    Participant participant = ReadParticipant(second[i]);
    const bool pickingNow = picking && (participant.pickMode == 1 || participant.pickMode == 2);
    const bool firstBanner = banning && !firstHasTurn && i == 0;
    if (!participant.hasPickTurn && (pickingNow || firstBanner)) participant.pickTurn = game.pickTurn;
    secondOut.push_back(MakeSelection(game, participant, cell++, secondTeam, isCustomGame));
  }
  return built;
}

}  // namespace Vexa::Client::VoverOrevidAredez
