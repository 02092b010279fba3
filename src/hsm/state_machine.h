// A small hierarchical state machine. States form a tree of static tables
// built once; the machine holds only a pointer to the current state. An event
// is looked up in the current state first, then in each ancestor in turn.
//
//   using Machine = Vexa::Hsm::StateMachine<Plugin, std::string>;
//   extern const Machine::StateType kIdle, kBusy;
//   const Machine::StateType kRoot{"Root", nullptr, LogEntry, LogExit, {{}, &kIdle}, {}};
//   const Machine::StateType kIdle{"Idle", &kRoot, LogEntry, LogExit, {}, {{"GO", &kBusy, Begin}}};
//   const Machine::StateType kBusy{"Busy", &kRoot, LogEntry, LogExit, {}, {{"DONE", &kIdle, End}}};
//
// Dispatch runs to completion: an event raised while a transition is under
// way (from a callback, or from a host loop that a callback pumps while it
// waits) is queued and dispatched only after the whole transition is done,
// so no event ever acts on a half-finished transition. One thread at a time;
// the machine holds no lock.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace Vexa::Hsm {

template <typename Owner, typename EventType>
class StateMachine;
template <typename Owner, typename EventType>
struct State;

template <typename Owner, typename EventType>
struct Transition {
  using Machine = StateMachine<Owner, EventType>;
  EventType event{};
  const State<Owner, EventType>* target = nullptr;  // null: internal transition
  void (*action)(const Machine&) = nullptr;
};

template <typename Owner, typename EventType>
struct State {
  using Machine = StateMachine<Owner, EventType>;
  std::string name{};
  const State* parent = nullptr;
  void (*onEnter)(const Machine&) = nullptr;
  void (*onExit)(const Machine&) = nullptr;
  Transition<Owner, EventType> initial{};                   // event empty; target = initial child or null
  std::vector<Transition<Owner, EventType>> transitions{};  // searched in order
};

// The three reports, fully formatted. Kept out of the template so that every
// machine words them the same way.
std::string UnhandledEventMessage(const std::string& machine, const std::string& event, const std::string& state);
std::string UnrelatedStatesMessage(const std::string& machine, const std::string& from, const std::string& to,
                                   const std::string& event);
std::string InitialNotDescendantMessage(const std::string& machine, const std::string& from, const std::string& to);

template <typename Owner, typename EventType>
class StateMachine {
 public:
  using StateType = State<Owner, EventType>;
  using TransitionType = Transition<Owner, EventType>;
  using Callback = void (*)(const StateMachine&);

  // Nothing runs here; `root` is current until Start. The formatter renders
  // events in reports ("n/a" when empty).
  StateMachine(Owner* owner, std::string name, const StateType* root,
               std::function<std::string(const EventType&)> eventToString)
      : owner_(owner), name_(std::move(name)), root_(root), current_(root), eventToString_(std::move(eventToString)) {}

  // A copy would share the owner and, taken mid-run, carry half a transition
  // and its queue; a machine stays where its owner built it.
  StateMachine(const StateMachine&) = delete;
  StateMachine& operator=(const StateMachine&) = delete;

  // Enters the root and descends its chain of initial children. Call once, or
  // again after Stop. Events raised by its callbacks are dispatched at its end.
  void Start();

  // Exits every state from the current one up to and including the root;
  // afterwards there is no current state. Queued events are discarded, and so
  // are events raised by the exit callbacks. Called from a callback, it also
  // ends the transition in progress: nothing more of it runs.
  void Stop();

  // True when this event took a transition (internal or external). False when
  // no state handled it, when the transition was invalid, or when a dispatch
  // was already under way: the event is then queued and dispatched, in
  // arrival order, once the outermost dispatch (or Start) has finished. A
  // queued event's result goes to no one; its reports still reach the hook.
  bool ProcessEvent(const EventType& event);

  // While an exit runs, the state being exited; while an action runs, the
  // lowest common ancestor of source and target; while an entry runs, the
  // state being entered. Null after Stop.
  const StateType* Current() const { return current_; }
  Owner& GetOwner() const { return *owner_; }
  const std::string& Name() const { return name_; }

  // Receives each report, fully formatted. By default reports go nowhere.
  void SetDiagnostic(std::function<void(const std::string& message)> hook) { diagnostic_ = std::move(hook); }

 private:
  // Marks a run (a dispatch or Start) in progress. Only the outermost run
  // clears the mark, and it does so even when a callback throws, so that one
  // failed callback does not leave every later event stuck in the queue.
  class RunGuard {
   public:
    explicit RunGuard(StateMachine& machine) : machine_(machine), outermost_(!machine.running_) {
      machine_.running_ = true;
    }
    ~RunGuard() {
      if (!outermost_) return;
      machine_.running_ = false;
      machine_.queue_.clear();
    }
    RunGuard(const RunGuard&) = delete;
    RunGuard& operator=(const RunGuard&) = delete;
    bool Outermost() const { return outermost_; }

   private:
    StateMachine& machine_;
    bool outermost_;
  };

  bool Dispatch(const EventType& event);
  bool Perform(const TransitionType& transition, const EventType& event);
  void TakeInitialTransition(const StateType* state);
  void DrainQueue();
  bool Call(Callback callback);
  std::string Render(const EventType& event) const { return eventToString_ ? eventToString_(event) : "n/a"; }

  Owner* owner_;
  std::string name_;
  const StateType* root_;
  const StateType* current_;
  std::function<std::string(const EventType&)> eventToString_;
  std::function<void(const std::string&)> diagnostic_;
  bool running_ = false;
  std::deque<EventType> queue_;
  // Counts Stop calls, so that a transition can tell that a callback stopped
  // the machine under it.
  unsigned long stops_ = 0;
};

template <typename Owner, typename EventType>
void StateMachine<Owner, EventType>::Start() {
  if (!root_) return;
  RunGuard run(*this);
  current_ = root_;
  if (!Call(root_->onEnter)) return;
  TakeInitialTransition(root_);
  if (run.Outermost()) DrainQueue();
}

template <typename Owner, typename EventType>
void StateMachine<Owner, EventType>::Stop() {
  ++stops_;
  // Exit callbacks may raise events; with no state left to take them they
  // are queued and dropped below.
  RunGuard run(*this);
  while (current_) {
    const StateType* state = current_;
    if (!Call(state->onExit)) return;  // a nested Stop has finished the job
    current_ = state->parent;
  }
  queue_.clear();
}

template <typename Owner, typename EventType>
bool StateMachine<Owner, EventType>::ProcessEvent(const EventType& event) {
  RunGuard run(*this);
  if (!run.Outermost()) {
    queue_.push_back(event);
    return false;
  }
  const bool taken = Dispatch(event);
  DrainQueue();
  return taken;
}

template <typename Owner, typename EventType>
void StateMachine<Owner, EventType>::DrainQueue() {
  while (!queue_.empty()) {
    const EventType event = std::move(queue_.front());
    queue_.pop_front();
    Dispatch(event);
  }
}

template <typename Owner, typename EventType>
bool StateMachine<Owner, EventType>::Dispatch(const EventType& event) {
  for (const StateType* state = current_; state; state = state->parent) {
    for (const TransitionType& transition : state->transitions) {
      if (transition.event == event) return Perform(transition, event);
    }
  }
  if (diagnostic_) diagnostic_(UnhandledEventMessage(name_, Render(event), current_ ? current_->name : "n/a"));
  return false;
}

template <typename Owner, typename EventType>
bool StateMachine<Owner, EventType>::Perform(const TransitionType& transition, const EventType& event) {
  const StateType* target = transition.target;
  if (!target || target == current_) {
    Call(transition.action);
    return true;
  }
  std::vector<const StateType*> exits;
  for (const StateType* state = current_; state; state = state->parent) exits.push_back(state);
  std::vector<const StateType*> entries;
  for (const StateType* state = target; state; state = state->parent) entries.push_back(state);
  if (exits.back() != entries.back()) {
    if (diagnostic_) diagnostic_(UnrelatedStatesMessage(name_, current_->name, target->name, Render(event)));
    return false;
  }
  // The lowest common ancestor and everything above it stay as they are.
  while (!exits.empty() && !entries.empty() && exits.back() == entries.back()) {
    exits.pop_back();
    entries.pop_back();
  }
  for (const StateType* state : exits) {
    if (!Call(state->onExit)) return true;
    current_ = state->parent;
  }
  if (!Call(transition.action)) return true;
  for (auto state = entries.rbegin(); state != entries.rend(); ++state) {
    current_ = *state;
    if (!Call(current_->onEnter)) return true;
  }
  if (!entries.empty()) TakeInitialTransition(current_);
  return true;
}

template <typename Owner, typename EventType>
void StateMachine<Owner, EventType>::TakeInitialTransition(const StateType* state) {
  const StateType* target = state->initial.target;
  if (!target) return;
  for (const StateType* ancestor = target->parent; ancestor; ancestor = ancestor->parent) {
    // Entering the target takes its own initial transition in turn, so a
    // chain of initial children is descended to its end.
    if (ancestor == state) {
      Perform(state->initial, state->initial.event);
      return;
    }
  }
  if (diagnostic_) diagnostic_(InitialNotDescendantMessage(name_, state->name, target->name));
}

// Runs a callback if there is one. False when the callback stopped the
// machine: what remains of the transition must not run on a stopped machine.
template <typename Owner, typename EventType>
bool StateMachine<Owner, EventType>::Call(Callback callback) {
  if (!callback) return true;
  const unsigned long stops = stops_;
  callback(*this);
  return stops_ == stops;
}

}  // namespace Vexa::Hsm
