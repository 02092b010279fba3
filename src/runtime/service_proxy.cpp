#include "runtime/service_proxy.h"

#include <vector>

#include "binding/message_format.h"
#include "logging/logger.h"
#include "runtime/app_module.h"

namespace Vexa {

const BindingRegistry& RegistryOf(const AppModule& module) { return module.Registry(); }
bool ModuleStopping(const AppModule& module) { return module.IsStopping(); }

std::string ServiceProxy::Send(const std::string& service, const std::string& method, const std::string& payloadJson,
                               const std::string& answerMethod, const std::string& errorAnswerMethod,
                               Callback callback) {
  const char* name = module_.ShortName().c_str();
  const std::string label = Format("%1.%2", service.c_str(), method.c_str());
  Logging::Log(Logging::kAlways, Logging::kGroupDbg, "%s: Preparing service proxy request: %s", name, label.c_str());
  const auto handle = static_cast<std::uint64_t>(module_.CoreHandle());
  std::uint64_t started;
  std::string key, errorKey;
  if (!answerMethod.empty()) {
    key = Format("%1.%2", service.c_str(), answerMethod.c_str());
    if (!errorAnswerMethod.empty()) errorKey = Format("%1.%2", service.c_str(), errorAnswerMethod.c_str());
    {
      std::lock_guard lock(mutex_);
      if (inFlight_.count(key) || (!errorKey.empty() && inFlight_.count(errorKey))) {
        Logging::Log(Logging::kError, Logging::kGroupDbg,
                     "%s: Could not invoke service proxy as request is already in flight", name);
        return "Request already in flight";
      }
      started = ++sequence_;
    }
    auto sent = module_.CheckedRequest(RemotingMethod::Post, "/tov-login/v1/service-proxy-method-requests", service,
                                       method, answerMethod, errorAnswerMethod, handle, payloadJson);
    if (!sent) return sent.Error().Message();
  } else {
    {
      std::lock_guard lock(mutex_);
      started = ++sequence_;
    }
    auto uuid = module_.TypedRequest<std::string>(RemotingMethod::Post, "/tov-login/v1/service-proxy-uuid-requests",
                                                  service, method, handle, payloadJson);
    if (!uuid) return uuid.Error().Message();
    key = std::move(uuid).Value();
  }
  Logging::Log(Logging::kAlways, Logging::kGroupDbg, "%s: Started service proxy request: %s (%s)", name, label.c_str(),
               key.c_str());
  std::uint64_t serial;
  {
    std::lock_guard lock(mutex_);
    serial = nextSerial_++;
    auto shared = std::make_shared<Callback>(std::move(callback));
    EraseInFlight(key);
    inFlight_[key] = InFlightEntry{serial, started, shared, label, errorKey, false};
    if (!errorKey.empty()) {
      EraseInFlight(errorKey);
      inFlight_[errorKey] = InFlightEntry{serial, started, shared, label, key, true};
    }
  }
  module_.Schedule(
      Format("Service proxy deadline: %1", label.c_str()), [this, key, serial] { Expire(key, serial); },
      MonotonicNanos() + static_cast<std::uint64_t>(timeoutSeconds_ * 1e9));
  Match();
  return {};
}

void ServiceProxy::EraseInFlight(const std::string& key) {
  const auto it = inFlight_.find(key);
  if (it == inFlight_.end()) return;
  const std::string other = it->second.otherKey;
  const std::uint64_t serial = it->second.serial;
  inFlight_.erase(it);
  if (const auto pair = inFlight_.find(other); pair != inFlight_.end() && pair->second.serial == serial)
    inFlight_.erase(pair);
}

void ServiceProxy::StoreAnswer(const std::string& key, const PluginServiceProxyResponse& answer) {
  {
    std::lock_guard lock(mutex_);
    pending_[key] = PendingAnswer{++sequence_, answer};
    if (pending_.size() > kMaxPending) {
      auto oldest = pending_.begin();
      for (auto it = pending_.begin(); it != pending_.end(); ++it)
        if (it->second.arrived < oldest->second.arrived) oldest = it;
      pending_.erase(oldest);
    }
  }
  Match();
}

void ServiceProxy::OnMethodAnswer(const PluginServiceProxyResponse& answer) {
  StoreAnswer(Format("%1.%2", answer.serviceName.c_str(), answer.methodName.c_str()), answer);
}

void ServiceProxy::OnUuidAnswer(const PluginServiceProxyResponse& answer) { StoreAnswer(answer.uuid, answer); }

void ServiceProxy::OnAsyncAnswer(const PluginServiceProxyResponse& answer) {
  const std::string key = Format("%1.%2", answer.serviceName.c_str(), answer.methodName.c_str());
  std::shared_ptr<AsyncHandler> handler;
  {
    std::lock_guard lock(mutex_);
    if (const auto it = asyncHandlers_.find(key); it != asyncHandlers_.end()) handler = it->second;
  }
  if (!handler) {
    Logging::Log(Logging::kError, Logging::kGroupDbg, "%s: Could not find registered handler for async service proxy event %s",
                 module_.ShortName().c_str(), key.c_str());
    return;
  }
  (*handler)(answer);
}

void ServiceProxy::SetAsyncHandler(const std::string& key, AsyncHandler handler) {
  std::lock_guard lock(mutex_);
  asyncHandlers_[key] = std::make_shared<AsyncHandler>(std::move(handler));
}

void ServiceProxy::Match() {
  std::shared_ptr<Callback> callback;
  std::string key;
  bool errorAnswer = false;
  PluginServiceProxyResponse answer;
  {
    std::lock_guard lock(mutex_);
    for (auto it = pending_.begin(); it != pending_.end();) {
      const auto request = inFlight_.find(it->first);
      if (request == inFlight_.end()) {
        ++it;
        continue;
      }
      if (it->second.arrived < request->second.started) {
        // Arrived before this request was sent: an answer to one that is gone.
        it = pending_.erase(it);
        continue;
      }
      key = it->first;
      callback = request->second.callback;
      errorAnswer = request->second.errorAnswer;
      answer = std::move(it->second.answer);
      pending_.erase(it);
      EraseInFlight(key);
      break;
    }
  }
  if (!callback) return;
  Logging::Log(Logging::kAlways, Logging::kGroupDbg, "%s: Fulfilled service proxy request: %s",
               module_.ShortName().c_str(), key.c_str());
  if (errorAnswer)
    (*callback)(Failure(answer.error));
  else
    (*callback)(std::move(answer));
}

void ServiceProxy::Expire(const std::string& key, std::uint64_t serial) {
  std::shared_ptr<Callback> callback;
  std::string label;
  {
    std::lock_guard lock(mutex_);
    const auto it = inFlight_.find(key);
    if (it == inFlight_.end() || it->second.serial != serial) return;
    callback = it->second.callback;
    label = it->second.label;
    EraseInFlight(key);
  }
  Logging::Log(Logging::kWarn, Logging::kGroupDbg, "%s: Service proxy request got no answer in time: %s (%s)",
               module_.ShortName().c_str(), label.c_str(), key.c_str());
  (*callback)(Failure::Named(0, "No answer to service proxy request {label} within {seconds} seconds", label,
                             timeoutSeconds_));
}

void ServiceProxy::Clear() {
  std::map<std::string, InFlightEntry> inFlight;
  std::map<std::string, PendingAnswer> pending;
  std::map<std::string, std::shared_ptr<AsyncHandler>> handlers;
  {
    std::lock_guard lock(mutex_);
    inFlight.swap(inFlight_);
    pending.swap(pending_);
    handlers.swap(asyncHandlers_);
  }
}

std::size_t ServiceProxy::InFlight() const {
  std::lock_guard lock(mutex_);
  std::size_t requests = 0;
  for (const auto& entry : inFlight_) requests += entry.second.errorAnswer ? 0 : 1;
  return requests;
}

std::size_t ServiceProxy::Pending() const {
  std::lock_guard lock(mutex_);
  return pending_.size();
}

}  // namespace Vexa
