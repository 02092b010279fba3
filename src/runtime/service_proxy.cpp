#include "runtime/service_proxy.h"

#include <vector>

#include "binding/message_format.h"
#include "logging/logger.h"
#include "runtime/app_module.h"

namespace Vexa {

const BindingRegistry& RegistryOf(const AppModule& module) { return module.Registry(); }
bool ModuleStopping(const AppModule& module) { return module.IsStopping(); }

MaybeType<Failure, BindingProperty> ParsedPayload(MaybeType<Failure, PluginServiceProxyResponse> answer) {
  if (!answer) return std::move(answer).Error();
  const std::string& payload = answer.Value().payload;
  if (payload.empty()) return BindingProperty();
  BindingProperty value = ParseJson(payload);
  if (!value.IsValid()) return Failure(std::string(value.FailureMessage()));
  return value;
}

std::string ServiceProxy::Refuse(std::string reason, const Callback& callback) {
  if (callback) callback(Failure(reason));
  return reason;
}

std::string ServiceProxy::Send(const std::string& service, const std::string& method, const std::string& payloadJson,
                               const std::string& answerMethod, const std::string& errorAnswerMethod,
                               Callback callback, double timeoutSeconds) {
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
      if (inFlight_.count(key)) {
        Logging::Log(Logging::kError, Logging::kGroupDbg,
                     "%s: Could not invoke service proxy as request is already in flight", name);
        return Refuse("Request already in flight", callback);
      }
      started = ++sequence_;
    }
    auto sent = module_.CheckedRequest(RemotingMethod::Post, "/tov-login/v1/service-proxy-method-requests", service,
                                       method, answerMethod, errorAnswerMethod, handle, payloadJson);
    if (!sent) return Refuse(sent.Error().Message(), callback);
  } else {
    {
      std::lock_guard lock(mutex_);
      started = ++sequence_;
    }
    auto uuid = module_.TypedRequest<std::string>(RemotingMethod::Post, "/tov-login/v1/service-proxy-uuid-requests",
                                                  service, method, handle, payloadJson);
    if (!uuid) return Refuse(uuid.Error().Message(), callback);
    key = std::move(uuid).Value();
  }
  Logging::Log(Logging::kAlways, Logging::kGroupDbg, "%s: Started service proxy request: %s (%s)", name, label.c_str(),
               key.c_str());
  std::uint64_t serial;
  std::shared_ptr<Callback> replaced;  // a uuid the core gave out twice; that request can no longer be told apart
  std::uint64_t replacedDeadline = 0;
  {
    std::lock_guard lock(mutex_);
    serial = nextSerial_++;
    InFlightEntry& entry = inFlight_[key];
    replaced = std::move(entry.callback);
    replacedDeadline = entry.deadline;
    entry = InFlightEntry{serial, started, std::make_shared<Callback>(std::move(callback)), label, errorKey, 0,
                          timeoutSeconds};
  }
  if (replaced) {
    module_.Cancel(replacedDeadline);
    (*replaced)(Failure("Request replaced by another with the same key " + key));
  }
  const std::uint64_t deadline =
      module_.Schedule(Format("Service proxy deadline: %1", label.c_str()), [this, key, serial] { Expire(key, serial); },
                       MonotonicNanos() + static_cast<std::uint64_t>(timeoutSeconds * 1e9));
  {
    std::lock_guard lock(mutex_);
    if (const auto it = inFlight_.find(key); it != inFlight_.end() && it->second.serial == serial)
      it->second.deadline = deadline;
  }
  Match();
  return {};
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

std::map<std::string, ServiceProxy::InFlightEntry>::iterator ServiceProxy::FindRequest(const std::string& key,
                                                                                      bool* errorAnswer) {
  *errorAnswer = false;
  if (const auto it = inFlight_.find(key); it != inFlight_.end()) return it;
  auto oldest = inFlight_.end();
  for (auto it = inFlight_.begin(); it != inFlight_.end(); ++it)
    if (it->second.errorKey == key && (oldest == inFlight_.end() || it->second.serial < oldest->second.serial))
      oldest = it;
  *errorAnswer = oldest != inFlight_.end();
  return oldest;
}

void ServiceProxy::Match() {
  InFlightEntry request;
  std::string key;
  bool errorAnswer = false;
  PluginServiceProxyResponse answer;
  {
    std::lock_guard lock(mutex_);
    for (auto it = pending_.begin(); it != pending_.end();) {
      const auto found = FindRequest(it->first, &errorAnswer);
      if (found == inFlight_.end()) {
        ++it;
        continue;
      }
      if (it->second.arrived < found->second.started) {
        // Arrived before this request was sent: an answer to one that is gone.
        it = pending_.erase(it);
        continue;
      }
      key = it->first;
      request = std::move(found->second);
      answer = std::move(it->second.answer);
      pending_.erase(it);
      inFlight_.erase(found);
      break;
    }
  }
  if (!request.callback) return;
  module_.Cancel(request.deadline);
  if (errorAnswer)
    (*request.callback)(Failure(answer.error));
  else
    (*request.callback)(std::move(answer));
  Logging::Log(Logging::kAlways, Logging::kGroupDbg, "%s: Fulfilled service proxy request: %s",
               module_.ShortName().c_str(), key.c_str());
}

void ServiceProxy::Expire(const std::string& key, std::uint64_t serial) {
  InFlightEntry request;
  {
    std::lock_guard lock(mutex_);
    const auto it = inFlight_.find(key);
    if (it == inFlight_.end() || it->second.serial != serial) return;
    request = std::move(it->second);
    inFlight_.erase(it);
  }
  Logging::Log(Logging::kWarn, Logging::kGroupDbg, "%s: Service proxy request got no answer in time: %s (%s)",
               module_.ShortName().c_str(), request.label.c_str(), key.c_str());
  (*request.callback)(Failure::Named(0, "No answer to service proxy request {label} within {seconds} seconds",
                                     request.label, request.timeoutSeconds));
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
  return inFlight_.size();
}

std::size_t ServiceProxy::Pending() const {
  std::lock_guard lock(mutex_);
  return pending_.size();
}

}  // namespace Vexa
