// The platform's messages to the local client, on their way through the
// fault plan: numbered, and dropped, doubled, followed by a stale or foreign
// copy, held for an injection, or lost while the client is disconnected.
#pragma once

#include <string>
#include <vector>

#include "core/core.h"
#include "sim/fault_plan.h"
#include "sim/injector.h"
#include "sim/trace.h"

namespace TovSim {

class PushQueue {
 public:
  PushQueue(TovHost::Core& core, const FaultPlan& plan, Injector& injector, Trace& trace)
      : core_(core), plan_(plan), injector_(injector), trace_(trace) {}

  // One GameDTO push (bodyJson is the GameDTO).
  void SendGame(const std::string& bodyJson);
  // One trade contract push, numbered apart from the games.
  void SendContract(const std::string& bodyJson);
  // Any other message of the platform, as it is.
  void SendMessage(const std::string& className, const std::string& bodyJson);
  // The platform's "OnLcdsEvent_" payload of a message.
  static std::string Payload(const std::string& className, const std::string& bodyJson);

  // While disconnected every push is lost, as the platform's channel is.
  void SetConnected(bool connected) { connected_ = connected; }
  bool Connected() const { return connected_; }
  int GamePushes() const { return static_cast<int>(bodies_.size()); }

 private:
  void Queue(const std::string& bodyJson);

  TovHost::Core& core_;
  const FaultPlan& plan_;
  Injector& injector_;
  Trace& trace_;
  bool connected_ = true;
  std::vector<std::string> bodies_;  // every GameDTO sent, for stale copies
  int contracts_ = 0;
};

}  // namespace TovSim
