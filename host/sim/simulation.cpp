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

// The scenario's times are from the start of its game.
void StartAt(double start, Scenario& scenario, std::vector<Step>& steps) {
  scenario.openAt += start;
  for (TimedAction& action : scenario.timeline)
    if (action.after.empty()) action.at += start;
  for (Injection& injection : scenario.faults.injections) injection.armAt += start;
  for (Step& step : steps) step.at += start;
}

}  // namespace

Simulation::Host::Host(bool realTime)
    : realTime(realTime), core(realTime ? TovHost::ClockMode::Real : TovHost::ClockMode::Virtual), clock(core) {}

Simulation::Host::~Host() {
  if (initialised) record.callbacks->Shutdown(record.plugin);
  clock.Deactivate();
}

Simulation::Simulation(Scenario scenario, Host& host, std::vector<Step> steps)
    : Simulation(std::move(scenario), std::move(steps), host.realTime, &host) {
  StartAt(core_.Now(), scenario_, steps_);
}

Simulation::Simulation(Scenario scenario, std::vector<Step> steps, bool realTime)
    : Simulation(std::move(scenario), std::move(steps), realTime, nullptr) {}

Simulation::Simulation(Scenario scenario, std::vector<Step> steps, bool realTime, Host* host)
    : scenario_(std::move(scenario)),
      steps_(std::move(steps)),
      realTime_(realTime),
      ownHost_(host ? nullptr : std::make_unique<Host>(realTime)),
      host_(host ? *host : *ownHost_),
      core_(host_.core),
      clock_(host_.clock),
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
  platform_.ContinueIdsFrom(host_.nextGameId);
}

bool Simulation::YouPlay() const { return youAct_ && scenario_.localPlay == LocalPlay::ThroughPlugin; }

Simulation::~Simulation() {
  if (ownHost_ && host_.initialised) {
    host_.initialised = false;
    host_.record.callbacks->Shutdown(host_.record.plugin);
  }
  Unhook();
  if (ownHost_) {
    clock_.Deactivate();
  } else {
    // The next game's services take their places, and what this game's
    // trace has seen need not be kept for a thousand games.
    core_.ForgetServices();
    core_.ForgetRecords();
  }
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
    if (visitor_) visitor_->OnEvent(event);
  };
  core_.onDeliver = [this](const std::string& name, const std::string& payload) { trace_.Push(name, payload); };
  core_.onReply = [this](const TovHost::RequestRecord&, const TovHost::Reply& reply) { trace_.Reply(reply); };
  core_.onCall = [this](uint32_t method, const std::string& url, const std::string& body, const std::string& contentType,
                        const std::vector<std::pair<std::string, std::string>>& headers) {
    trace_.Call(TovHost::MethodName(method), url, body, contentType, headers);
  };
  core_.onPump = [this](int) { OnPump(); };
}

void Simulation::Unhook() {
  core_.onLog = nullptr;
  core_.onRequest = nullptr;
  core_.onSend = nullptr;
  core_.onDeliver = nullptr;
  core_.onReply = nullptr;
  core_.onCall = nullptr;
  core_.onPump = nullptr;
}

bool Simulation::Load(const std::string& pluginPath) {
  host_.library = std::make_unique<TovHost::PluginLibrary>(pluginPath);
  if (!host_.library->Loaded()) {
    failure_ = host_.library->Error();
    return false;
  }
  PluginHandshake& record = host_.record;
  record = host_.library->Handshake(18, 0, 0);
  if (!record.callbacks || !record.plugin || !record.apiDescription) {
    failure_ = "the plug-in returned no callbacks";
    return false;
  }
  core_.UseApi(record.apiDescription);
  host_.context = core_.Context();
  if (!record.callbacks->Init(record.plugin, &host_.context)) {
    failure_ = "the plug-in's Init failed";
    record.callbacks->Shutdown(record.plugin);
    return false;
  }
  host_.initialised = true;
  return true;
}

Simulation::Outcome Simulation::Run(const std::string& pluginPath, double until, bool shutDown) {
  until_ = until;
  // A plug-in loaded by an earlier game listens already: what this game's
  // client sets up reaches it, and the trace shows it.
  const bool loaded = host_.initialised;
  if (loaded) Hook();
  client_.Install();
  wardSkins_.Install();
  platform_.Install();
  // Nobody listens yet: the plug-in reads the starting values when it
  // subscribes, so their first events must not reach it a second time.
  core_.RunOnce();
  if (!loaded) {
    // Before the library is loaded, so even its start-up reads the game's time.
    if (!realTime_) clock_.Activate();
    Hook();
    if (!Load(pluginPath)) {
      Unhook();
      if (ownHost_) clock_.Deactivate();
      return Outcome::PluginFailed;
    }
    trace_.Note("core", "plug-in loaded and initialised");
  }
  director_.Begin();
  const Outcome outcome = Play();
  host_.nextGameId = platform_.NextGameId();
  if (shutDown) ShutDown();
  Unhook();
  if (ownHost_) clock_.Deactivate();
  return outcome;
}

void Simulation::ShutDown() {
  if (!host_.initialised) return;
  Hook();
  host_.initialised = false;
  trace_.Shutdown();
  host_.record.callbacks->Shutdown(host_.record.plugin);
  trace_.Note("core", "plug-in shut down");
  trace_.End();
  Unhook();
}

Simulation::Outcome Simulation::Play() {
  for (;;) {
    RunDue();
    Settle();
    // Here, between turns, the plug-in is not inside any call: the only
    // place a visitor's request may go in. One at a time, so the game's own
    // work due meanwhile is not starved by a busy visitor.
    if (visitor_ && visitor_->RunOne(core_)) continue;
    if (visitor_ && visitor_->Leaving()) return director_.Ended() ? Outcome::Ended : Outcome::Stopped;
    if (director_.Ended() && !visitor_) return Outcome::Ended;
    const double next = NextTime();
    if (next > until_) {
      core_.AdvanceTo(until_);
      RunDue();
      Settle();
      trace_.Note("scenario", "stopped: the clock reached the end set for it");
      return Outcome::Stopped;
    }
    if (visitor_) {
      // Sleeps in the visitor rather than in the core, so that a request
      // wakes the loop at once.
      visitor_->Await(next - core_.Now());
      core_.AdvanceTo(std::min(next, core_.Now()));
      continue;
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
  trace_.End();
  std::fflush(nullptr);
  std::_Exit(pastUntil ? 0 : 1);
}

}  // namespace TovSim
