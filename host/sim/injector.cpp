#include "sim/injector.h"

namespace TovSim {

Injector::Injector(TovHost::Core& core, const FaultPlan& plan, Trace& trace)
    : core_(core), plan_(plan), trace_(trace), resourceArmed_(plan.injections.size(), false) {}

void Injector::Hold(int number, std::string eventName, std::string payloadJson) {
  for (const Injection& injection : plan_.injections)
    if (injection.heldPush == number) armed_.push_back(Armed{&injection, std::move(eventName), std::move(payloadJson)});
}

void Injector::Arm(double now) {
  for (size_t i = 0; i < plan_.injections.size(); ++i) {
    const Injection& injection = plan_.injections[i];
    if (resourceArmed_[i] || injection.heldPush != 0 || injection.uri.empty() || now < injection.armAt) continue;
    resourceArmed_[i] = true;
    armed_.push_back(Armed{&injection, "", ""});
  }
}

void Injector::OnRequest(const std::string& callKey) { Count(Injection::Inside::Request, callKey); }

void Injector::OnPump() { Count(Injection::Inside::Pump, ""); }

bool Injector::CountingPumps() const {
  for (const Armed& armed : armed_)
    if (!armed.done && armed.injection->inside == Injection::Inside::Pump) return true;
  return false;
}

void Injector::Count(Injection::Inside inside, const std::string& callKey) {
  // By index: a delivery may make the plug-in call again and arm more.
  for (size_t i = 0; i < armed_.size(); ++i) {
    if (armed_[i].done || armed_[i].injection->inside != inside) continue;
    if (inside == Injection::Inside::Request && armed_[i].injection->match != callKey) continue;
    if (++armed_[i].seen < armed_[i].injection->nth) continue;
    armed_[i].done = true;
    const Injection& injection = *armed_[i].injection;
    const char* where = inside == Injection::Inside::Pump ? "inside a pump" : "inside the request";
    if (injection.heldPush != 0) {
      trace_.Note("fault", "held push " + std::to_string(injection.heldPush) + " delivered " + where);
      const std::string name = armed_[i].eventName, payload = armed_[i].payloadJson;
      core_.DeliverEvent(name, payload);
    } else {
      trace_.Note("fault", injection.eventType + " " + injection.uri + " delivered " + where);
      core_.DeliverResource(injection.uri, injection.json, injection.eventType);
    }
  }
}

}  // namespace TovSim
