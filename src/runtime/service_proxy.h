// Requests to the back-end services behind the login plug-in's service
// proxy. A request is posted, and its answer arrives later as a core event —
// possibly while the post is still being sent, which is why answers wait in
// a pending table until a request for their key is stored.
//
// Every request's callback runs once: with the answer, with the failure of
// an error answer or of the deadline, or at once with the reason the request
// was refused. So a waiter on a request always wakes, unless Shutdown empties
// the tables first.
//
// An answer carries no request id, only its key (service and answer method,
// or the uuid). Two things keep a stale answer from completing the wrong
// request: an answer only completes a request that started before the answer
// arrived, and a request that gets no answer by its deadline on the core's
// clock fails and leaves the table. A late answer that arrives after a new
// request with the same key started cannot be told apart and completes it.
// Callbacks run after the tables' mutex is released, so a callback may issue
// the next request.
#pragma once

#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "binding/conversion.h"
#include "binding/failure.h"
#include "binding/type_identity.h"
#include "formats/json.h"
#include "runtime/runtime_types.h"

namespace Vexa {

class AppModule;

class ServiceProxy {
 public:
  using Answer = MaybeType<Failure, PluginServiceProxyResponse>;
  // The answer, or why there is none: the answer came under the error
  // answer method (its `error` text), the deadline passed, or the request
  // was refused.
  using Callback = std::function<void(Answer)>;
  using AsyncHandler = std::function<void(const PluginServiceProxyResponse&)>;
  static constexpr double kDefaultTimeoutSeconds = 30.0;
  // Unmatched answers kept at most; the oldest goes first.
  static constexpr std::size_t kMaxPending = 256;

  explicit ServiceProxy(AppModule& module) : module_(module) {}

  // Empty on success, otherwise why nothing was sent (the callback has then
  // been called with that reason). With an empty `answerMethod` the request
  // is uuid-based. A `timeoutSeconds` of 0 takes the proxy's deadline.
  template <typename P>
  std::string Request(const std::string& service, const std::string& method, const P& payload,
                      const std::string& answerMethod, const std::string& errorAnswerMethod, Callback callback,
                      double timeoutSeconds = 0);
  // The same, for awaiting: the answer's payload parsed as JSON (an empty
  // payload is an empty value), or the failure.
  template <typename P>
  std::future<MaybeType<Failure, BindingProperty>> Call(const std::string& service, const std::string& method,
                                                        const P& payload, const std::string& answerMethod,
                                                        const std::string& errorAnswerMethod,
                                                        double timeoutSeconds = 0);

  void OnMethodAnswer(const PluginServiceProxyResponse& answer);
  void OnUuidAnswer(const PluginServiceProxyResponse& answer);
  void OnAsyncAnswer(const PluginServiceProxyResponse& answer);
  void SetAsyncHandler(const std::string& key, AsyncHandler handler);
  void SetTimeout(double seconds) { timeoutSeconds_ = seconds; }
  void Clear();
  std::size_t InFlight() const;
  std::size_t Pending() const;

 private:
  struct InFlightEntry {
    std::uint64_t serial = 0;
    std::uint64_t started = 0;  // sequence number taken before the post
    std::shared_ptr<Callback> callback;
    std::string label;
    std::string errorKey;  // empty without an error answer method
    std::uint64_t deadline = 0;  // the scheduled callback that expires it
    double timeoutSeconds = 0;
  };
  struct PendingAnswer {
    std::uint64_t arrived = 0;
    PluginServiceProxyResponse answer;
  };

  std::string Send(const std::string& service, const std::string& method, const std::string& payloadJson,
                   const std::string& answerMethod, const std::string& errorAnswerMethod, Callback callback,
                   double timeoutSeconds);
  static std::string Refuse(std::string reason, const Callback& callback);
  void StoreAnswer(const std::string& key, const PluginServiceProxyResponse& answer);
  // The request an answer under `key` completes: the one waiting on that key,
  // else the oldest whose error answer has that key. Null when none.
  std::map<std::string, InFlightEntry>::iterator FindRequest(const std::string& key, bool* errorAnswer);
  // Fulfils at most one in-flight request.
  void Match();
  void Expire(const std::string& key, std::uint64_t serial);

  AppModule& module_;
  mutable std::mutex mutex_;
  std::map<std::string, InFlightEntry> inFlight_;  // by answer key
  std::map<std::string, PendingAnswer> pending_;
  std::map<std::string, std::shared_ptr<AsyncHandler>> asyncHandlers_;
  std::uint64_t sequence_ = 0;
  std::uint64_t nextSerial_ = 1;
  double timeoutSeconds_ = kDefaultTimeoutSeconds;
};

const BindingRegistry& RegistryOf(const AppModule& module);
bool ModuleStopping(const AppModule& module);
MaybeType<Failure, BindingProperty> ParsedPayload(MaybeType<Failure, PluginServiceProxyResponse> answer);

template <typename P>
std::string ServiceProxy::Request(const std::string& service, const std::string& method, const P& payload,
                                  const std::string& answerMethod, const std::string& errorAnswerMethod,
                                  Callback callback, double timeoutSeconds) {
  if (ModuleStopping(module_)) return Refuse("Finalizing", callback);
  const BindingRegistry& registry = RegistryOf(module_);
  const BindingProperty converted = ToBinding(payload, registry);
  if (!converted.IsValid()) {
    return Refuse(
        FormatNamed("Failed to convert type {type} to BindingProperty for serialization", StaticType::Name<P>()).text,
        callback);
  }
  return Send(service, method, ToJson(converted, &registry), answerMethod, errorAnswerMethod, std::move(callback),
              timeoutSeconds > 0 ? timeoutSeconds : timeoutSeconds_);
}

template <typename P>
std::future<MaybeType<Failure, BindingProperty>> ServiceProxy::Call(const std::string& service,
                                                                    const std::string& method, const P& payload,
                                                                    const std::string& answerMethod,
                                                                    const std::string& errorAnswerMethod,
                                                                    double timeoutSeconds) {
  auto promise = std::make_shared<std::promise<MaybeType<Failure, BindingProperty>>>();
  auto future = promise->get_future();
  (void)Request(service, method, payload, answerMethod, errorAnswerMethod,
                [promise](Answer answer) { promise->set_value(ParsedPayload(std::move(answer))); }, timeoutSeconds);
  return future;
}

}  // namespace Vexa
