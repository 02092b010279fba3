// The session's action list: one group of pick or ban actions per turn,
// kept across the messages of a phase so that action ids stay stable and a
// turn that passed shows what happened in it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "champselect/api.h"
#include "champselect/lcds.h"

namespace Vexa::Client::VoverOrevidAredez {

// An action of the session's groups as a native value, and back.
Api::ChampSelectAction ReadAction(const BindingNode& node);
void WriteAction(BindingNode& node, const Api::ChampSelectAction& action);

class ActionBuilder {
 public:
  struct Inputs {
    const LCDS::GameDTO& game;
    const std::vector<Api::ChampSelectPlayerSelection>& myTeam;
    const std::vector<Api::ChampSelectPlayerSelection>& theirTeam;
    std::int64_t localPlayerCellId;
    std::int32_t previousPickTurn;
    bool battleTraining;
    bool battleTrainingCompleted;
  };

  // A new session numbers its actions from 1 again.
  void Reset();
  // Brings `actions` up to date with the game. Returns how many of the local
  // player's own turns have just begun (the client window should be shown
  // for each).
  int Build(std::vector<BindingProperty>& actions, const Inputs& in);

 private:
  static constexpr std::uint32_t kNoGroup = 0xFFFFFFFF;

  void CloseOpenActions(std::vector<BindingProperty>& actions, const LCDS::GameDTO& game);
  void MarkSkippedTurns(std::vector<BindingProperty>& actions,
                        const std::vector<Api::ChampSelectPlayerSelection>& players);
  // Returns true when this is the local player's turn that has just begun.
  bool Upsert(std::vector<BindingProperty>& actions, std::uint32_t group, const Api::ChampSelectPlayerSelection& player,
              const std::string& type, const Inputs& in);

  std::int32_t nextActionId_ = 1;
  std::vector<std::uint32_t> turnGroups_;  // index into the actions per turn
  std::string actionsPhase_;
};

}  // namespace Vexa::Client::VoverOrevidAredez
