#include "sim/fault_plan.h"

namespace TovSim {

const CallFault* FaultPlan::ForCall(const std::string& key) {
  const int count = ++callCounts_[key];
  for (const CallFault& fault : calls)
    if (fault.call == key && (count == fault.nth || (fault.always && count >= fault.nth))) return &fault;
  return nullptr;
}

const ProxyFault* FaultPlan::ForProxy(const std::string& method) const {
  for (const ProxyFault& fault : proxy)
    if (fault.method == method) return &fault;
  return nullptr;
}

std::vector<PushFault::Kind> FaultPlan::ForPush(int push) const {
  std::vector<PushFault::Kind> kinds;
  for (const PushFault& fault : pushes)
    if (fault.push == push) kinds.push_back(fault.kind);
  return kinds;
}

std::vector<PushFault::Kind> FaultPlan::ForContract(int push) const {
  std::vector<PushFault::Kind> kinds;
  for (const PushFault& fault : contracts)
    if (fault.push == push) kinds.push_back(fault.kind);
  return kinds;
}

bool FaultPlan::HoldsPush(int push) const {
  for (const Injection& injection : injections)
    if (injection.heldPush == push) return true;
  return false;
}

}  // namespace TovSim
