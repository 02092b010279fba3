// A whole simulated game with a plug-in: the core stand-in, the platform, the
// client's other plug-ins and the players, on one clock, with everything
// that crosses the plug-in's boundary written to the trace.
//
//   TovSim::Scenario scenario;
//   TovSim::BuiltInScenario("draft", 1, &scenario);
//   TovSim::Simulation sim(scenario);
//   sim.GetTrace().Keep(true);
//   sim.Run("build/plx-be-tov-vover-orevid-aredez.so");
#pragma once

#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "core/core.h"
#include "sim/client_state.h"
#include "sim/clock.h"
#include "sim/director.h"
#include "sim/injector.h"
#include "sim/local_client.h"
#include "sim/platform.h"
#include "sim/push_queue.h"
#include "sim/scenario.h"
#include "sim/scheduler.h"
#include "sim/steps.h"
#include "sim/trace.h"
#include "sim/visitor.h"
#include "sim/ward_skins.h"

namespace TovSim {

class Simulation {
 public:
  enum class Outcome {
    Ended,         // the scenario ran to its end
    Stopped,       // the clock reached `until` first
    PluginFailed,  // the plug-in did not load, shake hands or initialise
  };

  // The core, its clock and the loaded plug-in: what carries on from one
  // game to the next when several are played on one plug-in.
  struct Host {
    explicit Host(bool realTime);
    ~Host();
    const bool realTime;
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    TovHost::Core core;
    Clock clock;
    std::unique_ptr<TovHost::PluginLibrary> library;
    PluginHandshake record{};
    CoreContext context{};
    bool initialised = false;
    // Each game's platform is new, but the plug-in remembers games: ids
    // carry on.
    uint64_t nextGameId = Platform::kFirstGameId;
  };

  explicit Simulation(Scenario scenario, std::vector<Step> steps = {}, bool realTime = false);
  // The next game on a host that earlier games were played on: the
  // platform, the client and the players are new and the scenario's times
  // (and the steps') count from now; the plug-in, its timers and the clock
  // carry on.
  Simulation(Scenario scenario, Host& host, std::vector<Step> steps = {});
  ~Simulation();
  Simulation(const Simulation&) = delete;
  Simulation& operator=(const Simulation&) = delete;

  // Loads the plug-in (unless the host has it already), plays the scenario
  // until it ends (or the clock reaches `until` seconds) and, if `shutDown`,
  // shuts the plug-in down.
  Outcome Run(const std::string& pluginPath, double until = std::numeric_limits<double>::infinity(),
              bool shutDown = true);
  // Shuts down a plug-in that Run left loaded, as the end of the trace.
  void ShutDown();
  // Why the plug-in failed.
  const std::string& Failure() const { return failure_; }

  // Lets a visitor call the plug-in between the game's turns (before Run;
  // real time only). The game then goes on until the visitor leaves, also
  // after its scenario has ended.
  void Admit(Visitor* visitor) { visitor_ = visitor; }
  // The local client reads what the plug-in publishes but never acts: the
  // visitor plays the local player.
  void LeaveLocalPlayerToVisitor() { youAct_ = false; }

  // When the plug-in waits and nothing that could end its wait will ever
  // happen (or only after `until`). It is deep inside the plug-in's call, so
  // by default the process ends: status 0 past `until`, else 1.
  std::function<void(bool pastUntil)> onStuck;

  Trace& GetTrace() { return trace_; }
  TovHost::Core& Core() { return core_; }
  Platform& GetPlatform() { return platform_; }
  ClientState& Client() { return client_; }
  const Scenario& GetScenario() const { return scenario_; }
  double Now() const { return core_.Now(); }

 private:
  Simulation(Scenario scenario, std::vector<Step> steps, bool realTime, Host* host);
  bool Load(const std::string& pluginPath);
  Outcome Play();
  // Everything on the platform's timeline and every step due by now.
  void RunDue();
  // The core's turns at this instant, until nothing is left for now.
  void Settle();
  double NextTime() const;
  void OnPump();
  void Hook();
  void Unhook();
  bool YouPlay() const;

  Scenario scenario_;
  std::vector<Step> steps_;
  size_t nextStep_ = 0;
  bool realTime_;
  double until_ = std::numeric_limits<double>::infinity();
  int idlePumps_ = 0;
  std::string failure_;
  Visitor* visitor_ = nullptr;
  bool youAct_ = true;

  std::unique_ptr<Host> ownHost_;
  Host& host_;
  TovHost::Core& core_;
  Clock& clock_;
  Trace trace_;
  Scheduler scheduler_;
  Injector injector_;
  PushQueue pushes_;
  Platform platform_;
  ClientState client_;
  WardSkins wardSkins_;
  Director director_;
  LocalClient you_;
};

}  // namespace TovSim
