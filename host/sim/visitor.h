// Someone outside the game who calls the plug-in as well, such as the HTTP
// bridge: a person at a browser, or any HTTP client. The simulation's loop
// runs its requests one at a time at the top of a turn, never inside one of
// the plug-in's own waits, exactly as it runs the local client's, so the
// plug-in is only ever called from the loop's thread.
#pragma once

#include "core/core.h"

namespace TovSim {

class Visitor {
 public:
  virtual ~Visitor() = default;
  // Every event the plug-in sends, on the loop's thread, as it is sent.
  virtual void OnEvent(const TovHost::SentEvent& event) = 0;
  // Sends the oldest waiting request to the plug-in through `core`; false
  // when none waits.
  virtual bool RunOne(TovHost::Core& core) = 0;
  // Blocks for up to `seconds` of real time; returns early when a request
  // comes in or the visitor leaves.
  virtual void Await(double seconds) = 0;
  // Until it leaves, the loop goes on after the scenario has ended, so the
  // plug-in keeps answering.
  virtual bool Leaving() const = 0;
};

}  // namespace TovSim
