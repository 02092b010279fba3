#include "hsm/state_machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace Vexa::Hsm {
namespace {

struct Recorder;
using Machine = StateMachine<Recorder, std::string>;
using S = Machine::StateType;
using Trace = std::vector<std::string>;

// The owner: collects the trace and tells each callback what else to do,
// keyed by the callback's label.
struct Recorder {
  Machine* machine = nullptr;
  Trace trace;
  std::map<std::string, std::vector<std::string>> raises;
  std::string stopsAt;
  std::string throwsAt;
};

std::string CurrentName(const Machine& machine) { return machine.Current() ? machine.Current()->name : "null"; }

// A label as a template argument, so that every callback of the tables
// below is a plain function that knows who it is without asking the machine.
template <std::size_t N>
struct Label {
  constexpr Label(const char (&text)[N]) { std::copy_n(text, N, this->text); }
  char text[N]{};
};

// Notes "label@current state", then raises, stops or throws as told.
template <Label kLabel>
void Note(const Machine& machine) {
  Recorder& recorder = machine.GetOwner();
  const std::string label = kLabel.text;
  recorder.trace.push_back(label + "@" + CurrentName(machine));
  for (const std::string& event : recorder.raises[label]) {
    const bool taken = recorder.machine->ProcessEvent(event);
    recorder.trace.push_back("raise " + event + (taken ? " taken" : " queued"));
  }
  if (recorder.stopsAt == label) recorder.machine->Stop();
  if (recorder.throwsAt == label) throw std::runtime_error(label);
}

// Root [A]
//   A [A1]
//     A1 [A11]
//       A11
//     A2 [A21]
//       A21
//   B [B1]
//     B1
//     B2
//   Bad [A2, which is not below it]
// Other: a second root
// GCC 12 at -O2 and above takes the cleanup path of these constant tables
// strings for a use of uninitialised memory; it is not one.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
extern const S kRoot, kA, kA1, kA11, kA2, kA21, kB, kB1, kB2, kBad, kOther;

const S kRoot{"Root",
              nullptr,
              Note<"enter Root">,
              Note<"exit Root">,
              {{}, &kA, Note<"initial Root">},
              {{"toB", &kB, Note<"toB">},
               {"ping", nullptr, Note<"ping">},
               {"toOther", &kOther, Note<"toOther">},
               {"toBad", &kBad, Note<"toBad">}}};
const S kA{"A", &kRoot, Note<"enter A">, Note<"exit A">, {{}, &kA1, Note<"initial A">},
           {{"shared", &kA2, Note<"A.shared">}}};
const S kA1{"A1", &kA, Note<"enter A1">, Note<"exit A1">, {{}, &kA11, Note<"initial A1">}, {}};
const S kA11{"A11",
             &kA1,
             Note<"enter A11">,
             Note<"exit A11">,
             {},
             {{"shared", &kB2, Note<"A11.shared">},
              {"twice", nullptr, Note<"A11.twice1">},
              {"twice", nullptr, Note<"A11.twice2">},
              {"self", &kA11, Note<"self">},
              {"toA2", &kA2, Note<"toA2">},
              {"up", &kA, Note<"up">}}};
const S kA2{"A2", &kA, Note<"enter A2">, Note<"exit A2">, {{}, &kA21, Note<"initial A2">}, {}};
const S kA21{"A21", &kA2, Note<"enter A21">, Note<"exit A21">, {}, {}};
const S kB{"B", &kRoot, Note<"enter B">, Note<"exit B">, {{}, &kB1, Note<"initial B">}, {}};
const S kB1{"B1", &kB, Note<"enter B1">, Note<"exit B1">, {}, {{"toB2", &kB2, Note<"toB2">}}};
const S kB2{"B2", &kB, Note<"enter B2">, Note<"exit B2">, {}, {{"home", &kRoot, Note<"home">}}};
const S kBad{"Bad", &kRoot, Note<"enter Bad">, Note<"exit Bad">, {{}, &kA2, Note<"initial Bad">}, {}};
const S kOther{"Other", nullptr, Note<"enter Other">, Note<"exit Other">};

const Trace kStartTrace{"enter Root@Root", "initial Root@Root", "enter A@A",   "initial A@A",
                        "enter A1@A1",     "initial A1@A1",     "enter A11@A11"};

struct Rig {
  Rig() {
    recorder.machine = &machine;
    machine.SetDiagnostic([this](const std::string& message) { messages.push_back(message); });
  }
  Recorder recorder;
  Machine machine{&recorder, "Test", &kRoot, [](const std::string& event) { return event; }};
  std::vector<std::string> messages;
};

TEST(StateMachineTest, StartEntersTheRootThenEachInitialChild) {
  Rig rig;
  EXPECT_EQ(rig.machine.Current(), &kRoot);
  EXPECT_EQ(rig.recorder.trace, Trace{});

  rig.machine.Start();
  EXPECT_EQ(rig.recorder.trace, kStartTrace);
  EXPECT_EQ(rig.machine.Current(), &kA11);
}

TEST(StateMachineTest, EachEventLeavesItsWholeTrace) {
  const struct {
    const char* what;
    std::vector<std::string> path;  // from A11, where Start ends
    std::string event;
    bool taken;
    Trace trace;
    std::string current;
    std::vector<std::string> messages;
  } rows[] = {
      {"the leaf's record beats its parent's; entering B2 directly skips B's initial child", {}, "shared", true,
       {"exit A11@A11", "exit A1@A1", "exit A@A", "A11.shared@Root", "enter B@B", "enter B2@B2"}, "B2", {}},
      {"an ancestor handles what the leaf does not, here with the leaf's parent as target", {"toA2"}, "shared",
       true, {"exit A21@A21", "A.shared@A2"}, "A2", {}},
      {"records are searched in list order", {}, "twice", true, {"A11.twice1@A11"}, "A11", {}},
      {"a record whose target is its own state is internal", {}, "self", true, {"self@A11"}, "A11", {}},
      {"an ancestor's internal record leaves the leaf current", {}, "ping", true, {"ping@A11"}, "A11", {}},
      {"from a grandchild to its parent's sibling, then down that sibling's initial chain", {}, "toA2", true,
       {"exit A11@A11", "exit A1@A1", "toA2@A", "enter A2@A2", "initial A2@A2", "enter A21@A21"}, "A21", {}},
      {"to an ancestor: exits up to it, no initial transition", {}, "up", true,
       {"exit A11@A11", "exit A1@A1", "up@A"}, "A", {}},
      {"from a state left resting above its initial child", {"up"}, "toB", true,
       {"exit A@A", "toB@Root", "enter B@B", "initial B@B", "enter B1@B1"}, "B1", {}},
      {"to the root", {"toB", "toB2"}, "home", true, {"exit B2@B2", "exit B@B", "home@Root"}, "Root", {}},
      {"no state handles it", {}, "nobody", false, {}, "A11",
       {"State machine 'Test': Event 'nobody' is not handled by state 'A11', or its ancestors. The event will be "
        "ignored."}},
      {"the event's own name decides, byte for byte", {}, "Ping", false, {}, "A11",
       {"State machine 'Test': Event 'Ping' is not handled by state 'A11', or its ancestors. The event will be "
        "ignored."}},
      {"a target in another tree runs no callback", {}, "toOther", false, {}, "A11",
       {"State machine 'Test': The transition from state 'A11' to state 'Other' on event 'toOther' is invalid "
        "because the states do not share a common ancestry. The event will be ignored."}},
      {"an initial child that is not a descendant leaves its state current", {}, "toBad", true,
       {"exit A11@A11", "exit A1@A1", "exit A@A", "toBad@Root", "enter Bad@Bad"}, "Bad",
       {"State machine 'Test': The initial transition from state 'Bad' to state 'A2' is invalid because the target "
        "state is not a descendant. The transition will be ignored"}},
  };
  for (const auto& row : rows) {
    Rig rig;
    rig.machine.Start();
    for (const std::string& event : row.path) ASSERT_TRUE(rig.machine.ProcessEvent(event)) << row.what;
    rig.recorder.trace.clear();

    EXPECT_EQ(rig.machine.ProcessEvent(row.event), row.taken) << row.what;
    EXPECT_EQ(rig.recorder.trace, row.trace) << row.what;
    EXPECT_EQ(CurrentName(rig.machine), row.current) << row.what;
    EXPECT_EQ(rig.messages, row.messages) << row.what;
  }
}

TEST(StateMachineTest, EventsRaisedDuringATransitionRunAfterIt) {
  const struct {
    const char* what;
    std::map<std::string, std::vector<std::string>> raises;
    std::string stopsAt;
    std::string event;  // empty: the trace of Start
    Trace trace;
    std::string current;
  } rows[] = {
      {"an action's two events, in the order raised",
       {{"toA2", {"ping", "toB"}}},
       "",
       "toA2",
       {"exit A11@A11", "exit A1@A1", "toA2@A", "raise ping queued", "raise toB queued", "enter A2@A2",
        "initial A2@A2", "enter A21@A21", "ping@A21", "exit A21@A21", "exit A2@A2", "exit A@A", "toB@Root",
        "enter B@B", "initial B@B", "enter B1@B1"},
       "B1"},
      {"an event raised while the queue drains joins its end",
       {{"toA2", {"ping", "toB"}}, {"ping", {"toB2"}}},
       "",
       "toA2",
       {"exit A11@A11", "exit A1@A1", "toA2@A", "raise ping queued", "raise toB queued", "enter A2@A2",
        "initial A2@A2", "enter A21@A21", "ping@A21", "raise toB2 queued", "exit A21@A21", "exit A2@A2",
        "exit A@A", "toB@Root", "enter B@B", "initial B@B", "enter B1@B1", "exit B1@B1", "toB2@B", "enter B2@B2"},
       "B2"},
      {"an entry's event waits for the initial chain below it",
       {{"enter B", {"toB2"}}},
       "",
       "toB",
       {"exit A11@A11", "exit A1@A1", "exit A@A", "toB@Root", "enter B@B", "raise toB2 queued", "initial B@B",
        "enter B1@B1", "exit B1@B1", "toB2@B", "enter B2@B2"},
       "B2"},
      {"an entry's event during Start waits for the end of Start",
       {{"enter A1", {"ping"}}},
       "",
       "",
       {"enter Root@Root", "initial Root@Root", "enter A@A", "initial A@A", "enter A1@A1", "raise ping queued",
        "initial A1@A1", "enter A11@A11", "ping@A11"},
       "A11"},
      {"Stop from an action ends the transition and drops the queue",
       {{"toA2", {"ping"}}},
       "toA2",
       "toA2",
       {"exit A11@A11", "exit A1@A1", "toA2@A", "raise ping queued", "exit A@A", "exit Root@Root"},
       "null"},
      {"Stop from a queued event's entry drops the rest of the queue",
       {{"toA2", {"toB", "ping"}}},
       "enter B",
       "toA2",
       {"exit A11@A11", "exit A1@A1", "toA2@A", "raise toB queued", "raise ping queued", "enter A2@A2",
        "initial A2@A2", "enter A21@A21", "exit A21@A21", "exit A2@A2", "exit A@A", "toB@Root", "enter B@B",
        "exit B@B", "exit Root@Root"},
       "null"},
  };
  for (const auto& row : rows) {
    Rig rig;
    const auto arm = [&] {
      rig.recorder.raises = row.raises;
      rig.recorder.stopsAt = row.stopsAt;
    };
    if (row.event.empty()) {
      arm();
      rig.machine.Start();
    } else {
      rig.machine.Start();
      rig.recorder.trace.clear();
      arm();
      EXPECT_TRUE(rig.machine.ProcessEvent(row.event)) << row.what;
    }
    EXPECT_EQ(rig.recorder.trace, row.trace) << row.what;
    EXPECT_EQ(CurrentName(rig.machine), row.current) << row.what;
    EXPECT_EQ(rig.messages, std::vector<std::string>{}) << row.what;
  }
}

TEST(StateMachineTest, StopExitsFromTheCurrentStateToTheRootAndStartsAfresh) {
  Rig rig;
  rig.machine.Start();
  ASSERT_TRUE(rig.machine.ProcessEvent("toA2"));
  rig.recorder.trace.clear();
  rig.recorder.raises["exit A"] = {"toB"};

  rig.machine.Stop();
  EXPECT_EQ(rig.recorder.trace,
            (Trace{"exit A21@A21", "exit A2@A2", "exit A@A", "raise toB queued", "exit Root@Root"}));
  EXPECT_EQ(rig.machine.Current(), nullptr);

  // The event raised on the way out was dropped, not dispatched now or later.
  rig.recorder.raises.clear();
  rig.recorder.trace.clear();
  rig.machine.Start();
  EXPECT_EQ(rig.recorder.trace, kStartTrace);
  EXPECT_EQ(rig.messages, std::vector<std::string>{});
}

TEST(StateMachineTest, AThrowingCallbackLeavesTheMachineTakingEvents) {
  Rig rig;
  rig.machine.Start();
  rig.recorder.raises["toA2"] = {"ping"};
  rig.recorder.throwsAt = "toA2";
  EXPECT_THROW(rig.machine.ProcessEvent("toA2"), std::runtime_error);

  // Stuck in the middle (the exits ran), but not stuck queuing; the failed
  // run's queued event went with it.
  rig.recorder.raises.clear();
  rig.recorder.throwsAt.clear();
  rig.recorder.trace.clear();
  EXPECT_TRUE(rig.machine.ProcessEvent("ping"));
  EXPECT_EQ(rig.recorder.trace, Trace{"ping@A"});
}

enum class Signal { Go, Halt };
struct Nobody {};

TEST(StateMachineTest, ReportsSayNAForAMissingFormatterOrState) {
  using Plain = StateMachine<Nobody, Signal>;
  const Plain::StateType lone{"Lone", nullptr, nullptr, nullptr, {}, {{Signal::Go}}};
  Nobody nobody;
  Plain machine(&nobody, "Plain", &lone, nullptr);
  std::vector<std::string> messages;
  machine.SetDiagnostic([&](const std::string& message) { messages.push_back(message); });
  machine.Start();

  EXPECT_TRUE(machine.ProcessEvent(Signal::Go));
  EXPECT_FALSE(machine.ProcessEvent(Signal::Halt));
  machine.Stop();
  EXPECT_FALSE(machine.ProcessEvent(Signal::Go));
  EXPECT_EQ(messages,
            (std::vector<std::string>{
                "State machine 'Plain': Event 'n/a' is not handled by state 'Lone', or its ancestors. The event will "
                "be ignored.",
                "State machine 'Plain': Event 'n/a' is not handled by state 'n/a', or its ancestors. The event will "
                "be ignored."}));
}

}  // namespace
}  // namespace Vexa::Hsm
