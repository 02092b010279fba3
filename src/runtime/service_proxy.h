// Requests to the back-end services behind the login plug-in's service
// proxy. A request is posted, and its answer arrives later as a core event —
// possibly while the post is still being sent, which is why answers wait in
// a pending table until a request for their key is stored.
//
// Two things keep a stale answer from completing the wrong request: every
// request and answer takes a number from one sequence, and an answer only
// completes a request that started before the answer arrived; and a request
// that gets no answer by its deadline on the core's clock fails and leaves
// the table. Callbacks run after the tables' mutex is released, so a
// callback may issue the next request.
#pragma once

#include <cstdint>
#include <functional>
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
  // The answer, or why there is none: the answer came under the error
  // answer method (its `error` text), or the deadline passed.
  using Callback = std::function<void(MaybeType<Failure, PluginServiceProxyResponse>)>;
  using AsyncHandler = std::function<void(const PluginServiceProxyResponse&)>;
  static constexpr double kDefaultTimeoutSeconds = 30.0;
  // Unmatched answers kept at most; the oldest goes first.
  static constexpr std::size_t kMaxPending = 256;

  explicit ServiceProxy(AppModule& module) : module_(module) {}

  // Empty on success, otherwise why nothing was sent. With an empty
  // `answerMethod` the request is uuid-based.
  template <typename P>
  std::string Request(const std::string& service, const std::string& method, const P& payload,
                      const std::string& answerMethod, const std::string& errorAnswerMethod, Callback callback);

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
    std::string otherKey;  // the error answer's key, or the main key for that entry
    bool errorAnswer = false;
  };
  struct PendingAnswer {
    std::uint64_t arrived = 0;
    PluginServiceProxyResponse answer;
  };

  std::string Send(const std::string& service, const std::string& method, const std::string& payloadJson,
                   const std::string& answerMethod, const std::string& errorAnswerMethod, Callback callback);
  void StoreAnswer(const std::string& key, const PluginServiceProxyResponse& answer);
  // Fulfils at most one in-flight request.
  void Match();
  void Expire(const std::string& key, std::uint64_t serial);
  void EraseInFlight(const std::string& key);

  AppModule& module_;
  mutable std::mutex mutex_;
  std::map<std::string, InFlightEntry> inFlight_;
  std::map<std::string, PendingAnswer> pending_;
  std::map<std::string, std::shared_ptr<AsyncHandler>> asyncHandlers_;
  std::uint64_t sequence_ = 0;
  std::uint64_t nextSerial_ = 1;
  double timeoutSeconds_ = kDefaultTimeoutSeconds;
};

const BindingRegistry& RegistryOf(const AppModule& module);
bool ModuleStopping(const AppModule& module);

template <typename P>
std::string ServiceProxy::Request(const std::string& service, const std::string& method, const P& payload,
                                  const std::string& answerMethod, const std::string& errorAnswerMethod,
                                  Callback callback) {
  if (ModuleStopping(module_)) return "Finalizing";
  const BindingRegistry& registry = RegistryOf(module_);
  const BindingProperty converted = ToBinding(payload, registry);
  if (!converted.IsValid())
    return FormatNamed("Failed to convert type {type} to BindingProperty for serialization", StaticType::Name<P>()).text;
  return Send(service, method, ToJson(converted, &registry), answerMethod, errorAnswerMethod, std::move(callback));
}

}  // namespace Vexa
