// The abstract runtime base of a plug-in: the operations it needs from the
// core, and the tables it keeps on the core's behalf — waiting and timers,
// requests, resource and LCDS events, the service proxy and telemetry.
//
// Everything runs inside calls that the core makes, and re-entrantly while a
// wait pumps the core's loop: a handler may subscribe, observe, publish or
// restart a timer from inside a delivery. Every walk over a table therefore
// runs over a snapshot and looks each entry up again before calling it, and
// every callable is kept alive by a shared pointer for the length of its call.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "binding/conversion.h"
#include "binding/delivered_value.h"
#include "binding/failure.h"
#include "binding/host_value.h"
#include "binding/property.h"
#include "binding/registration.h"
#include "binding/registry.h"
#include "binding/type_identity.h"
#include "formats/json.h"
#include "remoting/method.h"
#include "runtime/event_names.h"
#include "runtime/runtime_types.h"
#include "tov/plugin_abi.h"

namespace Vexa {

class ServiceProxy;
class TelemetrySender;

// "*" stands for a run of characters other than "/", empty only in front of
// a "/".
bool UriMatchesPattern(std::string_view pattern, std::string_view uri);

// Nanoseconds on the monotonic clock of the platform layer.
std::uint64_t MonotonicNanos();

class AppModule {
 public:
  template <typename T>
  using Result = MaybeType<Failure, T>;
  template <typename T>
  using ResourceHandler = std::function<void(const std::string& uri, PluginResourceEventType type, const T& value)>;

  AppModule();
  AppModule(const AppModule&) = delete;
  AppModule& operator=(const AppModule&) = delete;

  // Reference-counted per event name; the first registers with the core.
  virtual void Subscribe(const std::string& uri);
  // The last unregisters; one without a Subscribe does nothing.
  virtual void Unsubscribe(const std::string& uri);
  virtual ~AppModule();
  // Unregisters every event handler from the core and empties the tables.
  virtual void Shutdown();

  // One operation per CoreApi entry 0 to 8, with the same arguments.
  virtual void Request(RemotingResponse* response, const RemotingRequest* request) = 0;
  virtual void Reserved1(uintptr_t a, uintptr_t b) = 0;
  virtual void SendEvent(const HostEvent* event) = 0;
  virtual void RegisterEventHandler(const char* eventName, uintptr_t coreHandle,
                                    HostEventCallback callback, void* context, uint32_t flags) = 0;
  virtual void UnregisterEventHandler(const char* eventName, uintptr_t coreHandle) = 0;
  virtual void ScheduleCallback(const char* label, ScheduledCallback callback, void* context,
                                double delaySeconds, uint32_t reserved) = 0;
  virtual void Pump() = 0;
  virtual void BeginWait(const char* label, uint32_t reserved) = 0;
  virtual void EndWait() = 0;

  uintptr_t CoreHandle() const { return coreHandle_; }
  const std::string& ShortName() const { return shortName_; }
  const std::string& UserAgent() const { return userAgent_; }
  bool IsStopping() const { return stopping_.load(); }
  BindingRegistry& Registry() { return *registry_; }
  const BindingRegistry& Registry() const { return *registry_; }
  // Names registered with the core, in name order.
  std::vector<std::string> RegisteredEventNames() const;
  std::uint32_t SubscriptionCount(const std::string& eventName) const;

  // ---- Waiting and time ------------------------------------------------
  // Pumps the core until the future is ready; most futures of the runtime
  // are ready when returned, and then the core is not called at all.
  template <typename T>
  Result<T> Await(std::future<Result<T>> future);
  // Lets the core run one turn.
  void Yield();
  // Runs `callable` once at `deadline` (monotonic nanoseconds) or on the
  // next turn when that has passed; returns the callback's id.
  std::uint64_t Schedule(std::string_view label, std::function<void()> callable, std::uint64_t deadline);
  // Withdraws a scheduled callback that has not run yet; unknown ids and
  // callbacks that already ran are ignored.
  void Cancel(std::uint64_t id);
  // Starts or restarts the named timer: `callable` runs every `interval`
  // seconds, measured from the start of each run, until restarted, stopped
  // or Shutdown. A run that throws is logged and the timer goes on.
  void StartTimer(const std::string& name, double intervalSeconds, std::function<void()> callable);
  // Starts or restarts the named timer for one run after `delaySeconds`;
  // the timer is gone when that run begins, so the run may start it again.
  void StartOneShotTimer(const std::string& name, double delaySeconds, std::function<void()> callable);
  // Removes the named timer and withdraws its pending run; false when there
  // was none.
  bool StopTimer(const std::string& name);
  bool HasTimer(const std::string& name) const { return timers_.count(name) != 0; }
  std::size_t ScheduledCount() const;

  // ---- Requests --------------------------------------------------------
  // The caller owns and releases `response`.
  template <typename... Args>
  Result<void> RawRequest(RemotingMethod method, std::string_view url, RemotingResponse& response,
                          const Args&... args);
  template <typename... Args>
  Result<void> CheckedRequest(RemotingMethod method, std::string_view url, const Args&... args);
  template <typename T, typename... Args>
  Result<T> TypedRequest(RemotingMethod method, std::string_view url, const Args&... args);

  // ---- Resource events -------------------------------------------------
  // Delivers the current value at once (exact URIs) and every later change.
  template <typename T>
  void Observe(const std::string& uri, ResourceHandler<T> handler);
  template <typename T>
  Result<void> Publish(PluginResourceEventType type, const std::string& uri, const T& value);
  Result<void> PublishDeleted(const std::string& uri);
  // Sends the event under the URI's own name, and under `eventName` too when
  // that differs.
  Result<void> SendResourceEvent(const std::string& eventName, const PluginResourceEvent& payload,
                                 uintptr_t context);
  // The same for an event already built as a tree.
  Result<void> SendResourceTree(const std::string& eventName, const std::string& uri, const BindingNode& tree,
                                uintptr_t context);
  // The same for an event of `type` on `uri` whose data is already the
  // core's value.
  Result<void> SendResourceData(const std::string& eventName, PluginResourceEventType type, const std::string& uri,
                                const HostValue& data, uintptr_t context);
  // Registers `handler` for events of `eventName` whose payload converts to
  // Payload; a later handler for the name replaces it.
  template <typename Payload>
  void AddEventHandler(const std::string& eventName, uint32_t flags, std::function<void(Payload&)> handler);

  // ---- LCDS ------------------------------------------------------------
  // Ties a DTO type to its platform class name.
  template <typename T>
  void RegisterLcdsClass(const std::string& className);
  template <typename T, typename... Args>
  std::future<Result<T>> InvokeLcds(const std::string& destination, const std::string& method, const Args&... args);
  template <typename... Args>
  Result<void> InvokeLcdsWithoutResult(const std::string& destination, const std::string& method,
                                       const Args&... args);
  template <typename T>
  // The handler receives the converted message to keep: it may move from it.
  void SubscribeLcds(const std::string& className, std::function<void(T&&)> handler);

  // ---- Service proxy and telemetry ---------------------------------------
  ServiceProxy& Proxy() { return *serviceProxy_; }
  TelemetrySender& Telemetry() { return *telemetry_; }

 protected:
  // Keeps the three values, creates the telemetry sender and registers the
  // service-proxy events.
  void InitializeApp(uintptr_t coreHandle, const std::string& shortName, const std::string& userAgent);
  void SetRegistry(BindingRegistry* registry) { registry_ = registry; }
  // Known from the handshake on, so lines written before Init carry it.
  void SetShortName(const std::string& shortName) { shortName_ = shortName; }
  void SetStopping() { stopping_.store(true); }
  // True, with an ERROR line, before Init (the core is not known yet) and
  // once Shutdown has begun (nothing may register on an object that is going
  // away).
  bool Refused(const char* operation, const std::string& name) const;

 private:
  friend class ServiceProxy;

  // A registered event handler; converts the payload to its own type.
  struct EventHandlerEntry {
    virtual ~EventHandlerEntry() = default;
    virtual void Handle(AppModule& module, const HostEvent& event) = 0;
  };
  template <typename Payload>
  struct TypedEventHandler;
  struct ResourceEventHandler;
  struct ScheduledRecord {
    std::uintptr_t ticket;  // what the core holds as the callback's context
    std::function<void()> callable;
  };
  struct Timer {
    double interval = 0;
    bool repeats = true;
    std::uint64_t deadline = 0;
    std::uint64_t generation = 0;
    std::uint64_t scheduled = 0;  // the id of its pending run
    std::shared_ptr<std::function<void()>> callable;
  };
  // Takes the event's data apart from the event: while the core delivers
  // it, each observer reads it straight from the core's value.
  using ResourceObserver = std::shared_ptr<std::function<void(const PluginResourceEvent&, DeliveredValue& data)>>;
  // Takes the event by reference: the handler may move what it converts out.
  using LcdsHandler = std::shared_ptr<std::function<void(PluginLcdsEvent&)>>;

  // The core's delivery callback for every handler.
  static void DeliverEvent(const HostEvent* event);
  static void Trampoline(void* context);
  static void HandlerFailed(const std::string& shortName, const char* what) noexcept;
  // A pushed message that does not convert is dropped, with a line.
  void DroppedLcds(const char* typeName, const BindingNode& body) const;
  void RunScheduled(std::uint64_t id);
  // Empties the scheduled-callback table and withdraws its tickets.
  void ForgetTickets();
  void ArmTimer(const std::string& name, double seconds, bool repeats, std::function<void()> callable);
  void ScheduleTimer(const std::string& name, Timer& timer);
  void FireTimer(const std::string& name, std::uint64_t generation);
  void InstallEventHandler(const std::string& eventName, uint32_t flags, std::shared_ptr<EventHandlerEntry> entry);
  void DispatchResource(PluginResourceEvent& event, DeliveredValue& data);
  // Sends `value` under the URI's own event name and under `eventName`.
  void SendBoth(const std::string& eventName, const std::string& uri, const HostValue& value, uintptr_t context);
  void AddObserver(const std::string& uri, ResourceObserver observer);
  void DispatchLcds(PluginLcdsEvent& event);
  // Makes `event` a PluginResourceEvent with its URI and type; returns its
  // "data" field to be filled.
  static BindingNode& ResourceEventFields(BindingProperty& event, PluginResourceEventType type, const std::string& uri);
  void AddLcdsHandler(const std::string& className, LcdsHandler handler);
  const std::string* LcdsClassOf(std::uint32_t typeId) const;
  // Sets "__class" on every object of a registered DTO type inside `node`.
  void AnnotateLcds(BindingNode& node, const TypeIdentifier& type) const;
  // The call arguments as one collection, each annotated with its class.
  template <typename... Args>
  Result<BindingProperty> LcdsArguments(const Args&... args) const;
  Result<BindingProperty> ConvertLcdsArguments(std::vector<BindingProperty> values,
                                               std::vector<TypeIdentifier> types) const;
  // Sends one call. On success `body` holds the answer's body, read from
  // `response`, which the caller releases after reading.
  Result<void> CallLcds(const std::string& destination, const std::string& method, BindingProperty arguments,
                        const TypeIdentity& resultType, RemotingResponse& response, DeliveredValue& body);
  // Gives the core's response back when a reading of it is done.
  struct ResponseRelease {
    RemotingResponse& response;
    ~ResponseRelease() {
      if (response.release) response.release(&response);
    }
  };
  // Converts each argument, or says which failed.
  template <typename... Args>
  bool ToHostValues(std::vector<HostValue>& out, HostValueArena& arena, std::string& error, const Args&... args) const;
  Result<void> SendRequest(RemotingMethod method, std::string_view url, std::vector<HostValue>& args,
                           RemotingResponse& response, const std::string& conversionError);
  // Reads the body (stream or value) of a successful response.
  Result<BindingProperty> ResponseBody(RemotingMethod method, std::string_view url, RemotingResponse& response);
  // A whole body converted straight into T, with the messages of its tree.
  template <typename T>
  Result<T> ResponseValue(RemotingMethod method, std::string_view url, const HostValue& body);
  template <typename T>
  static std::future<Result<T>> Ready(Result<T> value);
  [[noreturn]] static void AwaitFailed(const std::future_error& error);
  void BeginAwait(const char* typeName);

  uintptr_t coreHandle_ = 0;
  std::string shortName_;
  std::string userAgent_;
  std::atomic<bool> stopping_{false};
  bool initialized_ = false;  // InitializeApp ran: the core can be called
  BindingRegistry* registry_ = nullptr;

  std::map<std::string, std::shared_ptr<EventHandlerEntry>> eventHandlers_;
  std::map<std::string, std::uint32_t> subscriptionCounts_;
  std::map<std::string, ResourceObserver> exactObservers_;
  std::unordered_map<std::string, ResourceObserver> patternObservers_;

  mutable std::mutex scheduledMutex_;
  std::map<std::uint64_t, ScheduledRecord> scheduled_;
  std::uint64_t nextScheduledId_ = 1;
  std::map<std::string, Timer> timers_;

  std::unordered_map<std::uint32_t, std::string> lcdsClassByTypeId_;
  std::map<std::string, LcdsHandler> lcdsHandlers_;

  std::unique_ptr<ServiceProxy> serviceProxy_;
  std::unique_ptr<TelemetrySender> telemetry_;
};

// Posts "/telemetry/v1/events/" and the event name with the data.
class TelemetrySender {
 public:
  explicit TelemetrySender(AppModule& module) : module_(module) {}
  template <typename T>
  std::future<MaybeType<Failure, void>> Send(const std::string& eventName, const T& data) {
    std::promise<MaybeType<Failure, void>> promise;
    promise.set_value(module_.CheckedRequest(RemotingMethod::Post, "/telemetry/v1/events/" + eventName, data));
    return promise.get_future();
  }

 private:
  AppModule& module_;
};

// ---- Template definitions -------------------------------------------------

namespace Detail {
// Texts given as literals travel as std::string.
template <typename T>
decltype(auto) RequestArgument(const T& value) {
  if constexpr (std::is_convertible_v<const T&, std::string_view> && !std::is_same_v<T, std::string>)
    return std::string(std::string_view(value));
  else
    return (value);
}
}  // namespace Detail

template <typename T>
std::future<AppModule::Result<T>> AppModule::Ready(Result<T> value) {
  std::promise<Result<T>> promise;
  promise.set_value(std::move(value));
  return promise.get_future();
}

template <typename T>
AppModule::Result<T> AppModule::Await(std::future<Result<T>> future) {
  try {
    bool waiting = false;
    while (future.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
      if (!initialized_) return Failure("The core is not connected");  // nothing could ever pump
      if (!waiting) {
        BeginAwait(StaticType::Name<Result<T>>());
        waiting = true;
      }
      Pump();
    }
    if (waiting) EndWait();
    return future.get();
  } catch (const std::future_error& error) {
    AwaitFailed(error);
  }
}

template <typename... Args>
bool AppModule::ToHostValues(std::vector<HostValue>& out, HostValueArena& arena, std::string& error,
                             const Args&... args) const {
  // Written straight from the arguments, which outlive the request.
  const auto append = [&](const auto& arg) {
    using Arg = std::remove_cvref_t<decltype(arg)>;
    if (!error.empty()) return;
    HostValue host{};
    if constexpr (std::is_convertible_v<const Arg&, std::string_view> && !std::is_same_v<Arg, std::string>) {
      const std::string_view text(arg);
      if (text.size() > 0xFFFFFFFFu) throw std::length_error("string too long");
      host.kind = HostValueKind_BorrowedString;
      host.u.string.data = text.data();
      host.u.string.length = static_cast<std::uint32_t>(text.size());
    } else {
      BindingProperty result;
      NativeConversion<Arg>::ToHost(host, arena, result, arg, nullptr, *registry_);
      if (!result.IsValid()) {
        error = std::string(result.FailureMessage());
        return;
      }
    }
    out.push_back(host);
  };
  out.reserve(sizeof...(Args));
  (append(args), ...);
  (void)append;  // unused without arguments
  return error.empty();
}

template <typename... Args>
AppModule::Result<void> AppModule::RawRequest(RemotingMethod method, std::string_view url,
                                              RemotingResponse& response, const Args&... args) {
  std::vector<HostValue> values;
  HostValueArena arena;
  std::string error;
  ToHostValues(values, arena, error, args...);
  return SendRequest(method, url, values, response, error);
}

template <typename... Args>
AppModule::Result<void> AppModule::CheckedRequest(RemotingMethod method, std::string_view url, const Args&... args) {
  RemotingResponse response{};
  Result<void> result = RawRequest(method, url, response, args...);
  if (response.release) response.release(&response);
  return result;
}

template <typename T, typename... Args>
AppModule::Result<T> AppModule::TypedRequest(RemotingMethod method, std::string_view url, const Args&... args) {
  RemotingResponse response{};
  Result<void> sent = RawRequest(method, url, response, args...);
  if (!sent) {
    if (response.release) response.release(&response);
    return std::move(sent).Error();
  }
  if constexpr (!std::is_same_v<T, BindingProperty>) {
    // A whole body converts straight from the core's value; a streamed one
    // through its tree.
    if (!response.streamRead) {
      Result<T> value = ResponseValue<T>(method, url, response.body);
      if (response.release) response.release(&response);
      return value;
    }
  }
  Result<BindingProperty> body = ResponseBody(method, url, response);
  if (response.release) response.release(&response);
  if (!body) return std::move(body).Error();
  if constexpr (std::is_same_v<T, BindingProperty>) {
    return std::move(body).Value();
  } else {
    BindingProperty result;
    T value = FromBinding<T>(result, body.Value(), "<result>", *registry_);
    if (!result.IsValid()) {
      return Failure::Named(0, "Error converting response for {method} {url}: {error}", MethodName(method), url,
                            result.FailureMessage());
    }
    return value;
  }
}

template <typename T>
AppModule::Result<T> AppModule::ResponseValue(RemotingMethod method, std::string_view url, const HostValue& body) {
  std::string error;
  if (!HostValueConvertible(body, "<result>", error))
    return Failure::Named(0, "Error converting response for {method} {url}: {error}", MethodName(method), url, error);
  BindingProperty result;
  T value = FromBinding<T>(result, HostValueInput(body), "<result>", *registry_);
  if (!result.IsValid()) {
    return Failure::Named(0, "Error converting response for {method} {url}: {error}", MethodName(method), url,
                          result.FailureMessage());
  }
  return value;
}

// Payloads convert straight from the core's value; a payload of the wrong
// shape is dropped.
template <typename Payload>
struct AppModule::TypedEventHandler final : AppModule::EventHandlerEntry {
  explicit TypedEventHandler(std::function<void(Payload&)> f) : handler(std::move(f)) {}
  void Handle(AppModule& module, const HostEvent& event) override {
    std::string error;
    if (!HostValueConvertible(event.payload, "<result>", error)) return;
    BindingProperty result;
    Payload payload = FromBinding<Payload>(result, HostValueInput(event.payload), "<result>", *module.registry_);
    if (!result.IsValid()) return;
    handler(payload);
  }
  std::function<void(Payload&)> handler;
};

template <typename Payload>
void AppModule::AddEventHandler(const std::string& eventName, uint32_t flags,
                                std::function<void(Payload&)> handler) {
  if (Refused("An event handler", eventName)) return;
  InstallEventHandler(eventName, flags, std::make_shared<TypedEventHandler<Payload>>(std::move(handler)));
}

template <typename T>
void AppModule::Observe(const std::string& uri, ResourceHandler<T> handler) {
  if (Refused("Observe", uri)) return;
  auto wrapper = std::make_shared<std::function<void(const PluginResourceEvent&, DeliveredValue&)>>(
      [registry = registry_, handler = std::move(handler)](const PluginResourceEvent& event, DeliveredValue& data) {
        if (event.eventType == PluginResourceEventType::Delete) return handler(event.uri, event.eventType, T{});
        if constexpr (std::is_same_v<T, BindingProperty>) {
          (void)registry;
          handler(event.uri, event.eventType, data.Tree());
        } else {
          BindingProperty result;
          const T value = data.Convert<T>(result, "<value>", *registry);
          if (result.IsValid()) handler(event.uri, event.eventType, value);
        }
      });
  AddObserver(uri, wrapper);
  Subscribe(uri);
  if (uri.find('*') != std::string::npos) return;
  Result<BindingProperty> current = TypedRequest<BindingProperty>(RemotingMethod::Get, uri);
  if (!current) return;
  const PluginResourceEvent event{uri, PluginResourceEventType::Create, {}};
  DeliveredValue data(std::move(current).Value());
  (*wrapper)(event, data);
}

template <typename T>
AppModule::Result<void> AppModule::Publish(PluginResourceEventType type, const std::string& uri, const T& value) {
  // The value is written straight as the core's value, borrowing its texts:
  // the core copies what it keeps before SendEvent returns.
  HostValueArena arena;
  BindingProperty result;
  HostValue data{};
  NativeConversion<T>::ToHost(data, arena, result, value, nullptr, *registry_);
  if (!result.IsValid()) return Failure(std::string(result.FailureMessage()));
  return SendResourceData("OnJsonApiEvent", type, uri, data, 0);
}

template <typename T>
void AppModule::RegisterLcdsClass(const std::string& className) {
  // Keyed by identity, so the struct may be registered before or after.
  lcdsClassByTypeId_[TypeIdentity::Of<T>().Id()] = className;
}

template <typename... Args>
AppModule::Result<BindingProperty> AppModule::LcdsArguments(const Args&... args) const {
  std::vector<BindingProperty> values;
  values.reserve(sizeof...(Args));
  (values.push_back(ToBinding(Detail::RequestArgument(args), *registry_)), ...);
  std::vector<TypeIdentifier> types{TypeIdentifierFor<std::remove_cvref_t<decltype(Detail::RequestArgument(args))>>(
      *registry_)...};
  return ConvertLcdsArguments(std::move(values), std::move(types));
}

template <typename T, typename... Args>
std::future<AppModule::Result<T>> AppModule::InvokeLcds(const std::string& destination, const std::string& method,
                                                        const Args&... args) {
  Result<BindingProperty> arguments = LcdsArguments(args...);
  if (!arguments) return Ready<T>(std::move(arguments).Error());
  RemotingResponse response{};
  const ResponseRelease release{response};
  DeliveredValue body;
  Result<void> called =
      CallLcds(destination, method, std::move(arguments).Value(), TypeIdentity::Of<T>(), response, body);
  if (!called) return Ready<T>(std::move(called).Error());
  if constexpr (std::is_same_v<T, BindingProperty>) {
    return Ready<T>(std::move(body.Tree()));
  } else {
    BindingProperty result;
    T value = body.Convert<T>(result, "<result>", *registry_);
    if (!result.IsValid()) {
      return Ready<T>(Failure::Named(0, "Couldn't convert LCDS DTO {name} to C++ from {json}", StaticType::Name<T>(),
                                     ToJson(body.Tree(), registry_)));
    }
    return Ready<T>(std::move(value));
  }
}

template <typename... Args>
AppModule::Result<void> AppModule::InvokeLcdsWithoutResult(const std::string& destination, const std::string& method,
                                                           const Args&... args) {
  Result<BindingProperty> arguments = LcdsArguments(args...);
  if (!arguments) return std::move(arguments).Error();
  return CheckedRequest(RemotingMethod::Post, "/tov-login/v1/session/invoke", destination, method,
                        arguments.Value());
}

template <typename T>
void AppModule::SubscribeLcds(const std::string& className, std::function<void(T&&)> handler) {
  AddLcdsHandler(className, std::make_shared<std::function<void(PluginLcdsEvent&)>>(
                                [this, handler = std::move(handler)](PluginLcdsEvent& event) {
                                  if constexpr (std::is_same_v<T, BindingProperty>) {
                                    (void)this;
                                    handler(std::move(event.body));
                                  } else {
                                    BindingProperty result;
                                    T value = FromBinding<T>(result, event.body, "<value>", *registry_);
                                    if (result.IsValid()) return handler(std::move(value));
                                    DroppedLcds(StaticType::Name<T>(), event.body);
                                  }
                                }));
}

}  // namespace Vexa
