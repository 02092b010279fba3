// Hands chosen events to the plug-in inside its own calls into the core (a
// Request, a Pump), where a real core may deliver them too: the plan's
// injections, armed at their time or when their held push is sent.
#pragma once

#include <string>
#include <vector>

#include "core/core.h"
#include "sim/fault_plan.h"
#include "sim/trace.h"

namespace TovSim {

class Injector {
 public:
  Injector(TovHost::Core& core, const FaultPlan& plan, Trace& trace);

  // The platform held back push `number` for an injection: it is armed now.
  void Hold(int number, std::string eventName, std::string payloadJson);
  // Resource injections whose time has come are armed.
  void Arm(double now);
  // The plug-in's calls into the core.
  void OnRequest(const std::string& callKey);
  void OnPump();
  // An injection is counting pumps: the plug-in's wait must not be cut short
  // by moving the clock.
  bool CountingPumps() const;

 private:
  struct Armed {
    const Injection* injection;
    std::string eventName;  // empty for a resource event
    std::string payloadJson;
    int seen = 0;
    bool done = false;
  };
  void Count(Injection::Inside inside, const std::string& callKey);

  TovHost::Core& core_;
  const FaultPlan& plan_;
  Trace& trace_;
  std::vector<bool> resourceArmed_;
  std::vector<Armed> armed_;
};

}  // namespace TovSim
