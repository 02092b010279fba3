#include "sim/simulation.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace TovSim {
namespace {

// A plug-in that keeps scheduling work for the same instant would hold the
// clock still; past this many turns the instant is left as it is.
constexpr int kTurnsPerInstant = 100000;
// Pumps in a row in which nothing can happen before a wait is declared stuck.
constexpr int kIdlePumps = 10000;

}  // namespace

Simulation::Simulation(Scenario scenario, std::vector<Step> steps, bool realTime)
    : scenario_(std::move(scenario)),
      steps_(std::move(steps)),
      realTime_(realTime),
      core_(realTime ? TovHost::ClockMode::Real : TovHost::ClockMode::Virtual),
      clock_(core_),
      trace_([this] { return core_.Now(); }),
      scheduler_([this] { return clock_.Now(); }),
      injector_(core_, scenario_.faults, trace_),
      pushes_(core_, scenario_.faults, injector_, trace_),
      platform_(core_, scheduler_, scenario_.faults, pushes_, trace_, scenario_.view),
      client_(core_, scheduler_, scenario_.faults, trace_, scenario_.client),
      wardSkins_(core_, scheduler_, scenario_.faults, trace_),
      director_(scenario_, platform_, client_, injector_, scheduler_, clock_, trace_),
      you_(core_, scheduler_, trace_, client_, scenario_.seed) {
  director_.onGameStart = [this](const GamePlan& plan) { you_.Play(plan.local); };
}

bool Simulation::YouPlay() const { return scenario_.localPlay == LocalPlay::ThroughPlugin; }

Simulation::~Simulation() {
  if (initialised_) record_.callbacks->Shutdown(record_.plugin);
  Unhook();
  clock_.Deactivate();
}

void Simulation::Hook() {
  core_.onLog = [this](const TovHost::LogLine& line) { trace_.Log(line); };
  core_.onRequest = [this](const TovHost::RequestRecord& request) {
    trace_.Request(request);
    injector_.OnRequest(CallKey(request));
  };
  core_.onSend = [this](const TovHost::SentEvent& event) {
    trace_.Event(event);
    if (YouPlay()) you_.OnEvent(event);
  };
  core_.onDeliver = [this](const std::string& name, const std::string& payload) { trace_.Push(name, payload); };
  core_.onPump = [this](int) { OnPump(); };
}

void Simulation::Unhook() {
  core_.onLog = nullptr;
  core_.onRequest = nullptr;
  core_.onSend = nullptr;
  core_.onDeliver = nullptr;
  core_.onPump = nullptr;
}

bool Simulation::Load(const std::string& pluginPath) {
  library_ = std::make_unique<TovHost::PluginLibrary>(pluginPath);
  if (!library_->Loaded()) {
    failure_ = library_->Error();
    return false;
  }
  record_ = library_->Handshake(18, 0, 0);
  if (!record_.callbacks || !record_.plugin || !record_.apiDescription) {
    failure_ = "the plug-in returned no callbacks";
    return false;
  }
  core_.UseApi(record_.apiDescription);
  context_ = core_.Context();
  if (!record_.callbacks->Init(record_.plugin, &context_)) {
    failure_ = "the plug-in's Init failed";
    record_.callbacks->Shutdown(record_.plugin);
    return false;
  }
  initialised_ = true;
  return true;
}

Simulation::Outcome Simulation::Run(const std::string& pluginPath, double until) {
  until_ = until;
  client_.Install();
  wardSkins_.Install();
  platform_.Install();
  // Nobody listens yet: the plug-in reads the starting values when it
  // subscribes, so their first events must not reach it a second time.
  core_.RunOnce();
  // Before the library is loaded, so even its start-up reads the game's time.
  if (!realTime_) clock_.Activate();
  Hook();
  if (!Load(pluginPath)) {
    Unhook();
    clock_.Deactivate();
    return Outcome::PluginFailed;
  }
  trace_.Note("core", "plug-in loaded and initialised");
  director_.Begin();
  const Outcome outcome = Play();
  initialised_ = false;
  record_.callbacks->Shutdown(record_.plugin);
  trace_.Note("core", "plug-in shut down");
  Unhook();
  clock_.Deactivate();
  return outcome;
}

Simulation::Outcome Simulation::Play() {
  for (;;) {
    RunDue();
    Settle();
    if (director_.Ended()) return Outcome::Ended;
    const double next = NextTime();
    if (next > until_) {
      core_.AdvanceTo(until_);
      RunDue();
      Settle();
      trace_.Note("scenario", "stopped: the clock reached the end set for it");
      return Outcome::Stopped;
    }
    if (!std::isfinite(next)) return Outcome::Ended;  // nothing will ever happen again
    core_.AdvanceTo(next);
  }
}

void Simulation::RunDue() {
  for (;;) {
    if (scheduler_.RunOne()) continue;
    if (nextStep_ < steps_.size() && ToMicros(steps_[nextStep_].at) <= clock_.Now()) {
      const Step step = steps_[nextStep_++];
      trace_.Note("step", step.method + " " + step.path + (step.body.empty() ? "" : " " + step.body));
      trace_.Answer(step.method, step.path, core_.Call(TovHost::MethodCode(step.method), step.path, step.body, step.contentType));
      continue;
    }
    if (core_.WaitDepth() == 0 && you_.RunDeferred()) continue;
    return;
  }
}

void Simulation::Settle() {
  for (int turns = 0; turns < kTurnsPerInstant && (core_.PendingEvents() > 0 || core_.NextDue() <= core_.Now()); ++turns)
    core_.RunOnce();
}

double Simulation::NextTime() const {
  double next = core_.NextDue();
  if (scheduler_.NextDue() != kNever) next = std::min(next, ToSeconds(scheduler_.NextDue()));
  if (nextStep_ < steps_.size()) next = std::min(next, ToSeconds(ToMicros(steps_[nextStep_].at)));
  // A request held back during the plug-in's wait goes as soon as it ends.
  if (core_.WaitDepth() == 0 && you_.HasDeferred()) next = std::min(next, core_.Now());
  return next;
}

void Simulation::OnPump() {
  // A pump of a real core waits for the next thing to happen; here that
  // means moving the clock to it, unless something is due already.
  injector_.OnPump();
  wardSkins_.OnPump();
  RunDue();
  if (core_.PendingEvents() > 0 || core_.NextDue() <= core_.Now() || injector_.CountingPumps() ||
      wardSkins_.HoldingForPumps()) {
    idlePumps_ = 0;
    return;
  }
  const double next = NextTime();
  if (std::isfinite(next) && next <= until_) {
    core_.MoveClockTo(next);
    RunDue();
    idlePumps_ = 0;
    return;
  }
  if (++idlePumps_ < kIdlePumps) return;
  const bool pastUntil = std::isfinite(next);
  trace_.Note("scenario", pastUntil ? "stopped: the clock reached the end set for it while the plug-in waited"
                                    : "stuck: the plug-in waits for something that will never come");
  if (onStuck) {
    idlePumps_ = 0;
    onStuck(pastUntil);
    return;
  }
  std::fflush(nullptr);
  std::_Exit(pastUntil ? 0 : 1);
}

}  // namespace TovSim
