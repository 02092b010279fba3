// The plug-in's REST-style API: named functions with a route each (method,
// path template, where each argument comes from, a handler), the one entry
// through which the core hands a request to a function, the binding of a
// request's headers, path, query, pre-bound values and body to the
// handler's arguments, and the records that describe it all to the core.
//
//   remoting.AddRoute(RemotingMethod::Get, "/tov-vover-orevid-aredez/v1/session/trades/{id}",
//                     [&](std::int64_t id) { return FindTrade(id); })
//       .PathArgument("id");
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "binding/conversion.h"
#include "binding/failure.h"
#include "binding/fnv1a.h"
#include "binding/property.h"
#include "binding/registration.h"
#include "binding/registry.h"
#include "binding/type_identity.h"
#include "remoting/method.h"
#include "remoting/path.h"
#include "tov/plugin_abi.h"

namespace Vexa {

enum class ArgumentLocation : std::uint32_t { Any = 0, Query = 1, Path = 2, Header = 4, Body = 5 };

using RemotingHeaders = std::vector<std::pair<std::string, std::string>>;

// A response body that the core reads in pieces.
class RemotingBodyStream {
 public:
  virtual ~RemotingBodyStream() = default;
  // On entry *count is the buffer size; on return the bytes placed.
  virtual bool Read(void* buffer, std::uint32_t* count, bool* more) = 0;
  virtual std::uint32_t SizeHint() const { return 0; }
};

// The texts of the standard failures when a route gives none.
inline constexpr std::string_view kNotFoundMessage = "Not found";
inline constexpr std::string_view kInternalErrorMessage = "Internal server error";

// The outcome of one call: a value or a failure, and how to answer.
//
// Routes build their answers with the same five helpers on this and on
// RemotingTypedResult: Success, NotFound (404), InternalError (500),
// Failed (a given status), and FromFailure for a failed platform call.
struct RemotingResult {
  BindingProperty value;  // invalid: the failure and its message
  std::int32_t status = 0;
  std::string contentType;
  RemotingHeaders headers;
  std::shared_ptr<RemotingBodyStream> stream;
  std::uint32_t format = 0;
  std::uint8_t flag = 0;

  // An empty, valid result.
  static RemotingResult Success() { return {}; }
  static RemotingResult NotFound(std::string_view message = {}) {
    return Failed(404, message.empty() ? kNotFoundMessage : message);
  }
  static RemotingResult InternalError(std::string_view message = {}) {
    return Failed(500, message.empty() ? kInternalErrorMessage : message);
  }
  static RemotingResult Failed(std::int32_t status, std::string_view message) {
    RemotingResult result;
    result.status = status;
    result.value.SetFailure(message);
    return result;
  }
  // A call's failure carries no status of its own (0), which is no answer:
  // it is the server's error, with the call's message.
  static RemotingResult FromFailure(const Failure& failure) { return InternalError(failure.Message()); }
  bool Ok() const noexcept { return value.IsValid(); }
};

// A typed answer of a read route.
template <typename T>
struct RemotingTypedResult {
  T value{};
  std::string failure;
  std::int32_t status = 0;
  bool ok = true;
  std::string contentType;
  RemotingHeaders headers;
  std::shared_ptr<RemotingBodyStream> stream;

  RemotingTypedResult() = default;
  RemotingTypedResult(T v) : value(std::move(v)) {}
  static RemotingTypedResult Success(T value = T{}) { return RemotingTypedResult(std::move(value)); }
  static RemotingTypedResult NotFound(std::string_view message = {}) {
    return Failed(404, std::string(message.empty() ? kNotFoundMessage : message));
  }
  static RemotingTypedResult InternalError(std::string_view message = {}) {
    return Failed(500, std::string(message.empty() ? kInternalErrorMessage : message));
  }
  static RemotingTypedResult Failed(std::int32_t status, std::string message) {
    RemotingTypedResult result;
    result.ok = false;
    result.status = status;
    result.failure = std::move(message);
    return result;
  }
  static RemotingTypedResult FromFailure(const Failure& failure) { return InternalError(failure.Message()); }
};

// What the convert step may read about the request (only result types that
// ask for it get it; no handler of this plug-in does).
struct RemotingRequestInfo {
  uintptr_t requestWord = 0;
  std::uint64_t time = 0;
  std::string path;
  RemotingMethod method = RemotingMethod::None;
  std::string customMethod;
  std::map<std::string, std::string> headers;
};

// The callable behind a function, with its argument and result types erased.
class RemotingHandler {
 public:
  virtual ~RemotingHandler() = default;
  // Converts the arguments and calls; null when an argument did not
  // convert (the failure is in `result`).
  virtual void* Call(RemotingResult& result, std::vector<BindingProperty>& arguments, uintptr_t requestWord) = 0;
  virtual void Convert(RemotingResult& result, const RemotingRequestInfo* info, void* response,
                       uintptr_t requestWord) = 0;
  virtual void Release(void* response) noexcept = 0;
  virtual const TypeIdentity& ResultType() const noexcept = 0;
};

class Remoting;

// One per function, for the life of the registry.
struct RouteInfo {
  Remoting* owner = nullptr;
  const BindingFunctionDescriptor* function = nullptr;
  std::unique_ptr<RemotingHandler> handler;
  std::string pathTemplate;
  RemotingMethod method = RemotingMethod::None;
  std::string customMethod;
  std::uint8_t flag = 0;
  std::vector<std::vector<std::string>> textLists;
  std::vector<ArgumentLocation> locations;  // one per argument position
  std::unique_ptr<PathMatcher> matcher;     // compiled when the template is set
};

// One request, as matched.
struct RequestContext {
  RemotingMethod method = RemotingMethod::None;
  std::string customMethod;
  std::string path;  // as the core gave it, query included
  const BindingFunctionDescriptor* function = nullptr;
  RouteInfo* route = nullptr;
  std::map<std::string, std::string> parameters;  // decoded
};

// Picks the route for the context's path and method: the first match, unless
// a later one captured less text in total. False when none matches.
bool MatchRoutes(const std::vector<RouteInfo*>& routes, RequestContext& context);

class RouteBuilder {
 public:
  RouteBuilder(Remoting& remoting, RouteInfo& route) : remoting_(remoting), route_(route) {}
  // Names the next argument and says where it comes from.
  RouteBuilder& PathArgument(std::string_view name, std::string_view description = {});
  RouteBuilder& BodyArgument(std::string_view name, std::string_view description = {});
  // Names the next argument, which may come from anywhere.
  RouteBuilder& Argument(std::string_view name, std::string_view description = {});
  RouteInfo& Route() { return route_; }

 private:
  RouteBuilder& Name(std::string_view name, std::string_view description, ArgumentLocation location);
  Remoting& remoting_;
  RouteInfo& route_;
  std::size_t next_ = 0;
};

namespace Detail {

template <typename R>
struct ResultShape {
  using Value = R;
};
template <typename T>
struct ResultShape<RemotingTypedResult<T>> {
  using Value = T;
};
template <typename T>
struct ResultShape<MaybeType<Failure, T>> {
  using Value = T;
};

template <typename F>
struct CallableTraits : CallableTraits<decltype(&F::operator())> {};
template <typename C, typename R, typename... A>
struct CallableTraits<R (C::*)(A...) const> {
  using Result = R;
  using Arguments = std::tuple<std::decay_t<A>...>;
};
template <typename C, typename R, typename... A>
struct CallableTraits<R (C::*)(A...)> : CallableTraits<R (C::*)(A...) const> {};
template <typename R, typename... A>
struct CallableTraits<R (*)(A...)> {
  using Result = R;
  using Arguments = std::tuple<std::decay_t<A>...>;
};

template <typename R, typename Arguments>
class CallableHandler;

template <typename R, typename... A>
class CallableHandler<R, std::tuple<A...>> final : public RemotingHandler {
 public:
  CallableHandler(std::function<R(A...)> f, const BindingRegistry& registry, const RouteInfo& route)
      : f_(std::move(f)), registry_(registry), route_(route) {}

  void* Call(RemotingResult& result, std::vector<BindingProperty>& arguments, uintptr_t) override {
    std::tuple<A...> values{};
    const bool converted = ConvertAll(result, arguments, values, std::index_sequence_for<A...>());
    if (!converted) return nullptr;
    if constexpr (std::is_void_v<R>) {
      std::apply(f_, std::move(values));
      return new char(0);
    } else {
      return new R(std::apply(f_, std::move(values)));
    }
  }

  void Convert(RemotingResult& result, const RemotingRequestInfo*, void* response, uintptr_t) override {
    if constexpr (!std::is_void_v<R>) Write(result, *static_cast<R*>(response));
  }

  void Release(void* response) noexcept override {
    if constexpr (std::is_void_v<R>) delete static_cast<char*>(response);
    else delete static_cast<R*>(response);
  }

  const TypeIdentity& ResultType() const noexcept override {
    return TypeIdentity::Of<typename ResultShape<R>::Value>();
  }

 private:
  template <std::size_t... I>
  bool ConvertAll(RemotingResult& result, std::vector<BindingProperty>& arguments, std::tuple<A...>& values,
                  std::index_sequence<I...>) const {
    BindingProperty check;
    const auto& descriptor = *route_.function;
    ((check.IsValid() && I < arguments.size()
          ? (void)(std::get<I>(values) = FromBinding<A>(check, arguments[I], descriptor.arguments[I].name, registry_))
          : (void)0),
     ...);
    if (check.IsValid()) return true;
    result.value.SetFailure(check.FailureMessage());
    return false;
  }

  template <typename T>
  void SetValue(RemotingResult& result, const T& value) const {
    if constexpr (std::is_same_v<T, BindingProperty>) result.value = value;
    else result.value = ToBinding(value, registry_);
  }

  void Write(RemotingResult& result, R& response) const {
    if constexpr (std::is_same_v<R, RemotingResult>) {
      result = std::move(response);
    } else if constexpr (std::is_same_v<R, typename ResultShape<R>::Value>) {
      SetValue(result, response);
    } else if constexpr (std::is_same_v<R, MaybeType<Failure, typename ResultShape<R>::Value>>) {
      if (response.HasValue()) return SetValue(result, response.Value());
      const Failure& failure = response.Error();
      result = failure.Status() != 0 ? RemotingResult::Failed(failure.Status(), failure.Message())
                                     : RemotingResult::FromFailure(failure);
    } else {
      result.status = response.status;
      result.contentType = std::move(response.contentType);
      result.headers = std::move(response.headers);
      result.stream = std::move(response.stream);
      if (!response.ok) return result.value.SetFailure(response.failure);
      SetValue(result, response.value);
    }
  }

  std::function<R(A...)> f_;
  const BindingRegistry& registry_;
  const RouteInfo& route_;
};

}  // namespace Detail

class Remoting {
 public:
  explicit Remoting(BindingRegistry& registry);
  ~Remoting();
  Remoting(const Remoting&) = delete;
  Remoting& operator=(const Remoting&) = delete;

  BindingRegistry& Registry() noexcept { return registry_; }

  // Registers the function named after the method and template, or finds
  // it again (its first handler stays).
  template <typename F>
  RouteBuilder AddRoute(RemotingMethod method, std::string_view pathTemplate, F&& handler);
  // Null when no function of that name was routed.
  RouteInfo* FindRoute(std::string_view functionName);

  // The core's entry for one request to the function of `context`.
  static void Dispatch(void* context, RemotingResponse* response, const RemotingRequest* request);
  void Invoke(RemotingResponse* response, const RemotingRequest* request, RequestContext& context);

  // The records the core reads, built on first use and kept: routes added
  // later are not in them.
  const ApiDescription* Export();

 private:
  friend class RouteBuilder;
  struct ExportStorage;

  RouteInfo& FindOrCreate(const BindingFunctionDescriptor& function, bool* created);
  void SetTemplate(RouteInfo& route, RemotingMethod method, std::string_view pathTemplate);
  void UpdateFunction(RouteInfo& route, const std::function<void(BindingFunctionDescriptor&)>& change);

  BindingRegistry& registry_;
  std::mutex mutex_;
  std::unordered_multimap<std::uint32_t, std::unique_ptr<RouteInfo>> routes_;
  std::vector<RouteInfo*> order_;  // registration order
  std::unique_ptr<ExportStorage> export_;
};

// ---- Binding, exposed for tests and tools ----------------------------------

using RemotingTextMap = std::map<std::string, std::string>;

// Binds one request to a function's arguments, source by source, stopping
// at the first failure (left in `result`). One binder serves one request:
// the elements that indices in keys such as "list.3" or "grid.0.7" create
// are counted across every key and source of the request against one
// budget, so a few bytes of query cannot make the plug-in allocate
// gigabytes, however the indices are nested or repeated.
class ArgumentBinder {
 public:
  static constexpr std::uint64_t kMaxIndexedElements = 65536;

  // `contentType` is the body's; it also says how structured values in the
  // path, query and headers are written.
  ArgumentBinder(BindingProperty& result, std::vector<BindingProperty>& arguments,
                 const BindingFunctionDescriptor& function, const RouteInfo& route,
                 std::string_view contentType = {});

  // Required bools start as false; then the header, path and query maps
  // are bound, in that order.
  void BindArguments(const RemotingTextMap& query, const RemotingTextMap& path, const RemotingTextMap& headers);
  // One (key, value) pair: "name", or "name.sub.path" into a list,
  // structure, object or map argument.
  void BindArgumentValue(std::string_view key, std::string_view value, ArgumentLocation location);
  // Values the core bound itself: by name, or unnamed by position after
  // the path parameters.
  void BindPrebound(const HostNamedValue* values, std::uint32_t count, std::size_t pathParameterCount);
  // The body, into the first argument whose location is Body (if any).
  void BindBody(const void* body, std::uint32_t length);

 private:
  // The index of the argument `name` may bind from `location`; npos with the
  // failure set.
  std::size_t Locate(const std::string& name, ArgumentLocation location);
  // The node that `subPath` names below `root` (fields are created, and
  // collections grown within the budget); null with the failure set.
  BindingNode* Descend(BindingNode& root, std::string_view subPath);
  BindingNode* Element(BindingNode& node, std::string_view segment);
  // A key without "=" or a value: true, or an empty structure or list.
  void BindBare(BindingNode& target, std::size_t index);
  // One text by the body's content type, or by its first bytes without one.
  void DecodeValue(BindingNode& target, std::string_view text, std::size_t index);
  void Fail(std::string_view message) { result_.SetFailure(message); }

  BindingProperty& result_;
  std::vector<BindingProperty>& arguments_;
  const BindingFunctionDescriptor& function_;
  const RouteInfo& route_;
  std::string_view contentType_;
  std::map<std::string, std::size_t, std::less<>> indexByName_;
  std::uint64_t elementsLeft_ = kMaxIndexedElements;
};

// One binder over the header, path and query maps, with no body content
// type.
void BindArguments(BindingProperty& result, std::vector<BindingProperty>& arguments,
                   const BindingFunctionDescriptor& function, const RouteInfo& route, const RemotingTextMap& query,
                   const RemotingTextMap& path, const RemotingTextMap& headers);

template <typename F>
RouteBuilder Remoting::AddRoute(RemotingMethod method, std::string_view pathTemplate, F&& handler) {
  using Traits = Detail::CallableTraits<std::decay_t<F>>;
  using R = typename Traits::Result;
  using Arguments = typename Traits::Arguments;
  BindingFunctionDescriptor function;
  function.name = MakeFunctionName(method, pathTemplate);
  [&]<std::size_t... I>(std::index_sequence<I...>) {
    (function.arguments.push_back(
         BindingArgumentDescriptor{{}, 0, {}, Detail::Unwrapped<std::tuple_element_t<I, Arguments>>::kOptional,
                                   TypeIdentifierFor<std::tuple_element_t<I, Arguments>>(registry_)}),
     ...);
  }(std::make_index_sequence<std::tuple_size_v<Arguments>>());
  if constexpr (!std::is_void_v<R>) function.returnType = TypeIdentifierFor<typename Detail::ResultShape<R>::Value>(registry_);
  bool created = false;
  RouteInfo& route = FindOrCreate(function, &created);
  if (created) {
    route.handler = std::make_unique<Detail::CallableHandler<R, Arguments>>(
        std::function(std::forward<F>(handler)), registry_, route);
  }
  SetTemplate(route, method, pathTemplate);
  return RouteBuilder(*this, route);
}

}  // namespace Vexa
