#include "champselect/session_actions.h"

#include <algorithm>

#include "champselect/model.h"
#include "logging/logger.h"

namespace Vexa::Client::VoverOrevidAredez {
namespace {

constexpr const char* kSkippedTurn = "%s: Player %lld skipped their turn.";
constexpr const char* kTurnOutOfRange = "%s: Player %lld has pick turn %d, outside 1 to %d; no action for it.";

// Turns a game can have; a larger number from the platform would only grow
// the group table.
constexpr std::int32_t kMaxPickTurn = 64;

bool IsBot(const Api::ChampSelectPlayerSelection& player) { return player.playerType == "BOT"; }

// Whether some completed ban action of any group shows `championId`. An
// open ban only hovers its champion: the ban that the platform then records
// is that action's own, not one already shown.
bool BanShown(const std::vector<BindingProperty>& actions, std::int32_t championId) {
  for (const BindingProperty& group : actions)
    for (const BindingNode& node : group.Elements())
      if (node.Find("type").GetString() == "ban" && node.Find("completed").GetBool() &&
          node.Find("championId").GetInteger() == championId)
        return true;
  return false;
}

// The champion of the last ban (made in `pickTurn`, or any turn) that no ban
// action shows yet; 0 when there is none.
std::int32_t UnshownBan(const std::vector<BindingProperty>& actions, const LCDS::GameDTO& game,
                        const std::int32_t* pickTurn) {
  for (auto it = game.bannedChampions.rbegin(); it != game.bannedChampions.rend(); ++it) {
    if (pickTurn && it->pickTurn != *pickTurn) continue;
    if (!BanShown(actions, it->championId)) return it->championId;
  }
  return 0;
}

bool IsBanned(const LCDS::GameDTO& game, std::int32_t championId) {
  return std::any_of(game.bannedChampions.begin(), game.bannedChampions.end(),
                     [&](const LCDS::BannedChampion& ban) { return ban.championId == championId; });
}

}  // namespace

Api::ChampSelectAction ReadAction(const BindingNode& node) {
  Api::ChampSelectAction action;
  action.id = node.Find("id").GetInteger();
  action.actorCellId = node.Find("actorCellId").GetInteger();
  action.championId = static_cast<std::int32_t>(node.Find("championId").GetInteger());
  action.type = std::string(node.Find("type").GetString());
  action.completed = node.Find("completed").GetBool();
  action.pickTurn = static_cast<std::int32_t>(node.Find("pickTurn").GetInteger());
  return action;
}

void WriteAction(BindingNode& node, const Api::ChampSelectAction& action) {
  node.Field("id").SetSigned(action.id);
  node.Field("actorCellId").SetSigned(action.actorCellId);
  node.Field("championId").SetSigned(action.championId);
  node.Field("type").SetString(action.type);
  node.Field("completed").SetBool(action.completed);
  node.Field("pickTurn").SetSigned(action.pickTurn);
}

void ActionBuilder::Reset() {
  nextActionId_ = 1;
  turnGroups_.clear();
  actionsPhase_.clear();
}

int ActionBuilder::Build(std::vector<BindingProperty>& actions, const Inputs& in) {
  const LCDS::GameDTO& game = in.game;
  if (actionsPhase_ != game.gameState) {
    CloseOpenActions(actions, game);
    turnGroups_.clear();
    actionsPhase_ = game.gameState;
  }
  std::string type;
  if (game.gameState == LCDS::GameStates::kPreChampSelect) type = "ban";
  else if (game.gameState == LCDS::GameStates::kChampSelect) type = "pick";
  else return 0;

  std::vector<Api::ChampSelectPlayerSelection> players = in.myTeam;
  players.insert(players.end(), in.theirTeam.begin(), in.theirTeam.end());
  std::stable_sort(players.begin(), players.end(),
                   [](const auto& a, const auto& b) { return a.pickTurn < b.pickTurn; });
  MarkSkippedTurns(actions, players);

  // Bots act once, in the first build: they arrive with their champions.
  const bool botsDone = !actions.empty();
  int turnsBegun = 0;
  for (const Api::ChampSelectPlayerSelection& player : players) {
    const bool bot = IsBot(player);
    if (bot ? botsDone : player.pickTurn == 0) continue;
    const std::int32_t key = bot ? 1 : player.pickTurn;
    if (key < 1 || key > kMaxPickTurn) {
      Logging::Log(Logging::kWarn, Logging::kGroupDbg, kTurnOutOfRange, kShortName,
                   static_cast<long long>(player.cellId), key, kMaxPickTurn);
      continue;
    }
    if (turnGroups_.size() <= static_cast<std::size_t>(key)) turnGroups_.resize(key + 1, kNoGroup);
    if (turnGroups_[key] == kNoGroup) {
      turnGroups_[key] = static_cast<std::uint32_t>(actions.size());
      actions.emplace_back().MakeCollection();
    }
    if (Upsert(actions, turnGroups_[key], player, bot ? "pick" : type, in)) ++turnsBegun;
  }
  return turnsBegun;
}

void ActionBuilder::MarkSkippedTurns(std::vector<BindingProperty>& actions,
                                     const std::vector<Api::ChampSelectPlayerSelection>& players) {
  for (const std::uint32_t group : turnGroups_) {
    if (group == kNoGroup || group >= actions.size()) continue;
    for (BindingNode& node : actions[group].Elements()) {
      Api::ChampSelectAction action = ReadAction(node);
      if (action.type != "ban" || action.completed) continue;
      const auto player = std::find_if(players.begin(), players.end(),
                                       [&](const auto& p) { return p.cellId == action.actorCellId; });
      if (player == players.end() || (player->pickTurn != 0 && player->pickTurn <= action.pickTurn)) continue;
      Logging::Log(Logging::kAlways, Logging::kGroupDbg, kSkippedTurn, kShortName,
                   static_cast<long long>(action.actorCellId));
      action.championId = 0;
      action.completed = true;
      WriteAction(node, action);
    }
  }
}

bool ActionBuilder::Upsert(std::vector<BindingProperty>& actions, std::uint32_t group,
                           const Api::ChampSelectPlayerSelection& player, const std::string& type, const Inputs& in) {
  const LCDS::GameDTO& game = in.game;
  BindingNode* node = nullptr;
  for (BindingNode& candidate : actions[group].Elements())
    if (candidate.Find("actorCellId").GetInteger() == player.cellId) {
      node = &candidate;
      break;
    }
  Api::ChampSelectAction action;
  if (node) {
    action = ReadAction(*node);
  } else {
    action.pickTurn = game.pickTurn;
  }
  const Api::ChampSelectAction before = action;
  if (action.id == 0) action.id = nextActionId_++;
  action.actorCellId = player.cellId;
  if (type == "ban") {
    const std::int32_t shown = game.gameState == LCDS::GameStates::kPreChampSelect
                                   ? UnshownBan(actions, game, &player.pickTurn)
                                   : 0;
    if (shown != 0) {
      action.championId = shown;
      action.completed = true;
    } else if (!action.completed && player.pickTurn < game.pickTurn) {
      action.championId = 0;
      action.completed = true;
    }
  } else {
    action.championId = player.championId;
    if (in.battleTraining) {
      action.completed = in.battleTrainingCompleted || IsBot(player);
    } else {
      action.completed = action.completed || player.pickMode == 2 ||
                         (player.pickTurn != 0 && player.pickTurn < game.pickTurn) || IsBot(player);
    }
  }
  action.type = type;
  const bool turnBegun = !action.completed && player.cellId == in.localPlayerCellId &&
                         player.pickTurn == game.pickTurn && in.previousPickTurn != game.pickTurn;
  // Appended only now: the searches above must not see a half-made action.
  // Most messages change no action: the tree is written only for a change.
  if (!node) node = &actions[group].At(actions[group].Size());
  else if (action == before) return turnBegun;
  WriteAction(*node, action);
  return turnBegun;
}

void ActionBuilder::CloseOpenActions(std::vector<BindingProperty>& actions, const LCDS::GameDTO& game) {
  for (const std::uint32_t group : turnGroups_) {
    if (group == kNoGroup || group >= actions.size()) continue;
    for (BindingNode& node : actions[group].Elements()) {
      Api::ChampSelectAction action = ReadAction(node);
      if (action.completed) continue;
      if (action.type == "ban") {
        if (!IsBanned(game, action.championId)) action.championId = 0;
        if (action.championId == 0) action.championId = UnshownBan(actions, game, nullptr);
      }
      action.completed = true;
      WriteAction(node, action);
    }
  }
}

}  // namespace Vexa::Client::VoverOrevidAredez
