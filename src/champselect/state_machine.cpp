#include "champselect/state_machine.h"

#include "champselect/champ_select.h"
#include "champselect/lcds.h"
#include "champselect/vover_orevid_aredez_plugin.h"
#include "logging/logger.h"

namespace Vexa::Client::VoverOrevidAredez {
namespace {

using State = ChampSelectMachine::StateType;
using Transition = ChampSelectMachine::TransitionType;
namespace Ev = LCDS::Events;

void Entering(const ChampSelectMachine& machine) {
  Logging::Log(Logging::kAlways, Logging::kGroupDbg, "%s: ChampSelect: entering state '%s'", kShortName,
               machine.Current()->name.c_str());
}

void Exiting(const ChampSelectMachine& machine) {
  Logging::Log(Logging::kAlways, Logging::kGroupDbg, "%s: ChampSelect: exiting state '%s'", kShortName,
               machine.Current()->name.c_str());
}

ChampSelect& Of(const ChampSelectMachine& machine) { return machine.GetOwner().Flow(); }

void UpdateSession(const ChampSelectMachine& m) { Of(m).UpdateSession(); }
void EndSession(const ChampSelectMachine& m) { Of(m).EndSession(); }
void QuitToLobby(const ChampSelectMachine& m) { Of(m).QuitToLobby(); }
void BeginChampSelect(const ChampSelectMachine& m) { Of(m).BeginChampSelect(); }
void BeginChampSelectLate(const ChampSelectMachine& m) { Of(m).BeginChampSelectLate(); }
void EnterTradePhase(const ChampSelectMachine& m) { Of(m).EnterTradePhase(); }
void UpdateBans(const ChampSelectMachine& m) { Of(m).UpdateBans(); }

Transition On(std::string_view event, const State* target, void (*action)(const ChampSelectMachine&)) {
  return Transition{std::string(event), target, action};
}

// The states refer to each other, so they are built together, in place.
struct StateTable {
  State root, notSelecting, noSelections, doneSelecting, selecting, selectingBans, selectingChamps, selectingTrades;

  StateTable() {
    const auto state = [](State& s, const char* name, const State* parent, const State* initial) {
      s.name = name;
      s.parent = parent;
      s.onEnter = Entering;
      s.onExit = Exiting;
      s.initial.target = initial;
    };
    state(root, "ChampSelect", nullptr, &notSelecting);
    state(notSelecting, "NotSelecting", &root, &noSelections);
    state(noSelections, "NoSelections", &notSelecting, nullptr);
    state(doneSelecting, "DoneSelecting", &notSelecting, nullptr);
    state(selecting, "Selecting", &root, &selectingBans);
    state(selectingBans, "SelectingBans", &selecting, nullptr);
    state(selectingChamps, "SelectingChamps", &selecting, nullptr);
    state(selectingTrades, "SelectingTrades", &selecting, nullptr);

    noSelections.transitions = {
        On(Ev::kPreChampSelect, &selecting, BeginChampSelect),
        On(Ev::kChampSelect, &selectingChamps, BeginChampSelect),
        On(Ev::kPostChampSelect, &selectingTrades, BeginChampSelectLate),
        On(Ev::kStartRequested, nullptr, UpdateSession),
        On(Ev::kGameStarted, nullptr, EndSession),
        On(Ev::kTerminated, nullptr, EndSession),
        On(Ev::kReturnToLobby, nullptr, QuitToLobby),
    };
    doneSelecting.transitions = {On(Ev::kStartRequested, &noSelections, UpdateSession)};
    selecting.transitions = {
        On(Ev::kSpellSelected, nullptr, UpdateSession),
        On(Ev::kMasteryPageSelected, nullptr, UpdateSession),
        On(Ev::kPreChampSelect, &selectingBans, UpdateSession),
        On(Ev::kChampSelect, &selectingChamps, UpdateSession),
        On(Ev::kPostChampSelect, &selectingTrades, EnterTradePhase),
        On(Ev::kLockinChoices, &doneSelecting, UpdateSession),
        On(Ev::kStartRequested, &noSelections, UpdateSession),
        On(Ev::kTerminated, &notSelecting, EndSession),
        On(Ev::kReturnToLobby, &notSelecting, QuitToLobby),
    };
    selectingBans.transitions = {
        On(Ev::kPreChampSelect, nullptr, UpdateBans),
        On(Ev::kChampSelect, nullptr, UpdateBans),
    };
    selectingChamps.transitions = {
        On(Ev::kChampSelect, nullptr, UpdateSession),
        On(Ev::kChampionSelected, nullptr, UpdateSession),
        On(Ev::kSkinSelected, nullptr, UpdateSession),
    };
    selectingTrades.transitions = {
        On(Ev::kChampSelect, nullptr, UpdateSession),
        On(Ev::kPostChampSelect, nullptr, UpdateSession),
        On(Ev::kSkinSelected, nullptr, UpdateSession),
    };
  }
  StateTable(const StateTable&) = delete;
  StateTable& operator=(const StateTable&) = delete;
};

}  // namespace

const ChampSelectMachine::StateType& ChampSelectRoot() {
  static const StateTable table;
  return table.root;
}

}  // namespace Vexa::Client::VoverOrevidAredez
