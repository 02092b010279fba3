// The "wardSkins" service behind the service proxy: requests arrive as
// POST "/tov-login/v1/service-proxy-method-requests", answers go out later as
// "OnServiceProxyMethodEvent" events.
#pragma once

#include <string>
#include <vector>

#include "core/core.h"
#include "sim/content.h"
#include "sim/fault_plan.h"
#include "sim/scheduler.h"
#include "sim/trace.h"

namespace TovSim {

class WardSkins {
 public:
  WardSkins(TovHost::Core& core, Scheduler& scheduler, FaultPlan& plan, Trace& trace)
      : core_(core), scheduler_(scheduler), plan_(plan), trace_(trace) {}

  void Install();
  // The plug-in pumped: answers held for a number of pumps count down.
  void OnPump();
  // An answer is waiting for pumps: the plug-in's wait must not be cut short
  // by moving the clock.
  bool HoldingForPumps() const { return !held_.empty(); }

 private:
  struct ProxyAnswer {
    std::string method;   // the answer method
    std::string payload;  // JSON text
    std::string error;
    int64_t selects = -1;  // the ward skin a confirmed selection makes current
  };
  struct Held {
    int pumpsLeft;
    std::string eventPayload;
  };
  TovHost::Reply Serve(const TovHost::RequestRecord& request);
  // What the service answers to `method` with `payload`; false when it has
  // no such method.
  bool Handle(const std::string& method, const std::string& payload, ProxyAnswer* out) const;
  void Send(const ProxyAnswer& answer, const ProxyFault* fault);

  TovHost::Core& core_;
  Scheduler& scheduler_;
  FaultPlan& plan_;
  Trace& trace_;
  std::vector<Held> held_;
  int64_t selected_ = kSelectedWardSkin;
};

}  // namespace TovSim
