#include "remoting/remoting.h"

#include <cerrno>
#include <cstdlib>

#include "binding/host_value.h"
#include "binding/message_format.h"
#include "formats/sniff.h"

namespace Vexa {
namespace {

// The binding messages, word for word: clients match on them.
constexpr std::string_view kUnknownArgument = "Unknown argument '%1' for '%2'.";
constexpr std::string_view kInvalidLocation = "Argument '%1' for '%2' was specified in an invalid location.";
constexpr std::string_view kNoElements = "Argument '%1' for '%2' has no elements or fields.";
constexpr std::string_view kExpectedValue = "Expected value for argument '%1'.";
constexpr std::string_view kIndexFormat = "Index %1 is in an incorrect format";
constexpr std::string_view kIndexRange = "Index %1 is out of range";
constexpr std::string_view kIndexBudget = "Index %1 is too large for one request";
constexpr std::string_view kUnsupportedBody = "Unsupported body content type";
constexpr std::string_view kExtraMessagePack = "Extra MessgePack data found in body";
constexpr std::string_view kCannotDeserialize = "Couldn't deserialize %1 value for parameter '%2' of '%3': %4";
constexpr const char* kInvalidFunction = "Invalid function";

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::span<const std::uint8_t> Bytes(const void* data, std::size_t length) {
  return std::span(static_cast<const std::uint8_t*>(data), length);
}

RemotingMethod MethodFromCode(std::uint32_t code) {
  return code >= 1 && code <= 8 ? static_cast<RemotingMethod>(code) : RemotingMethod::None;
}

ArgumentLocation LocationOf(const RouteInfo& route, std::size_t index) {
  return index < route.locations.size() ? route.locations[index] : ArgumentLocation::Any;
}

const char* FunctionName(const BindingFunctionDescriptor& function) { return function.name.c_str(); }

// The argument types whose value has parts that a key's sub-path
// ("list.2", "extra.skin") can reach; every other type is one scalar.
bool IsContainer(BindingTypeCode code) {
  return code == BindingTypeCode::Object || code == BindingTypeCode::Vector || code == BindingTypeCode::Struct ||
         code == BindingTypeCode::Map;
}

// The block that a response's texts and stream live in until the core
// releases the response; the response's stream handle points at it.
struct ResponseBlock {
  std::string error;
  std::string contentType;
  RemotingHeaders headerTexts;
  std::vector<HostHeader> headers;
  std::shared_ptr<RemotingBodyStream> stream;
};

std::uint8_t ReadStream(void* handle, void* buffer, std::uint32_t* count, std::uint8_t* more) {
  auto* block = static_cast<ResponseBlock*>(handle);
  bool next = false;
  if (!block || !block->stream || !count) return 0;
  const bool ok = block->stream->Read(buffer, count, &next);
  if (more) *more = next ? 1 : 0;
  return ok ? 1 : 0;
}

void CloseStream(void* handle) {
  if (auto* block = static_cast<ResponseBlock*>(handle)) block->stream.reset();
}

void ReleaseResponse(RemotingResponse* response) {
  if (!response) return;
  HostValue body = response->body;
  ReleaseHostValue(body);
  response->body = HostValue{};
  delete static_cast<ResponseBlock*>(response->stream);
  response->stream = nullptr;
}

void WriteResponse(RemotingResponse* response, RemotingResult& result, const BindingRegistry& registry) {
  auto* block = new ResponseBlock;
  block->contentType = std::move(result.contentType);
  block->headerTexts = std::move(result.headers);
  for (const auto& [name, value] : block->headerTexts) block->headers.push_back({name.c_str(), value.c_str()});
  block->stream = std::move(result.stream);
  if (!result.value.IsValid()) {
    block->error = std::string(result.value.FailureMessage());
    response->error = block->error.c_str();
  } else {
    HostValue body{};
    BindingToHostValue(result.value, body, &registry);
    response->body = body;
  }
  response->flag = result.flag;
  response->format = result.format >= 1 && result.format <= 3 ? result.format : 0;
  response->status = result.status;
  response->contentType = block->contentType.c_str();
  response->headers = block->headers.empty() ? nullptr : block->headers.data();
  response->headerCount = static_cast<std::uint32_t>(block->headers.size());
  if (block->stream) {
    response->streamRead = &ReadStream;
    response->streamClose = &CloseStream;
    response->streamSizeHint = block->stream->SizeHint();
  }
  response->stream = block;
  response->release = &ReleaseResponse;
}

}  // namespace

// ---- Routes ---------------------------------------------------------------

bool MatchRoutes(const std::vector<RouteInfo*>& routes, RequestContext& context) {
  // The query is not part of the path: a literal route matches with one.
  const std::string_view path = std::string_view(context.path).substr(0, context.path.find('?'));
  std::vector<std::string_view> captures;
  RouteInfo* kept = nullptr;
  std::map<std::string, std::string> keptParameters;
  std::size_t keptLength = 0;
  for (RouteInfo* route : routes) {
    if (!route || !route->matcher) continue;
    const bool methodMatches = route->method == RemotingMethod::None ||
                               (route->method == context.method && route->customMethod == context.customMethod);
    if (!methodMatches || !route->matcher->Match(path, captures)) continue;
    std::map<std::string, std::string> parameters;
    std::size_t length = 0;
    const auto& names = route->matcher->Regex().parameters;
    for (std::size_t i = 0; i < captures.size() && i < names.size(); ++i) {
      std::string decoded = PercentDecode(captures[i]);
      length += decoded.size();
      parameters.insert_or_assign(names[i].name, std::move(decoded));
    }
    if (!kept || length < keptLength) {
      kept = route;
      keptParameters = std::move(parameters);
      keptLength = length;
    }
    if (kept->matcher->Regex().parameters.empty()) break;
  }
  if (!kept) return false;
  context.route = kept;
  context.function = kept->function;
  context.parameters = std::move(keptParameters);
  return true;
}

RouteBuilder& RouteBuilder::PathArgument(std::string_view name, std::string_view description) {
  return Name(name, description, ArgumentLocation::Path);
}
RouteBuilder& RouteBuilder::BodyArgument(std::string_view name, std::string_view description) {
  return Name(name, description, ArgumentLocation::Body);
}
RouteBuilder& RouteBuilder::Argument(std::string_view name, std::string_view description) {
  return Name(name, description, ArgumentLocation::Any);
}

RouteBuilder& RouteBuilder::Name(std::string_view name, std::string_view description, ArgumentLocation location) {
  const std::size_t index = next_++;
  if (index >= route_.function->arguments.size()) return *this;  // more names than parameters
  remoting_.UpdateFunction(route_, [&](BindingFunctionDescriptor& function) {
    BindingArgumentDescriptor& argument = function.arguments[index];
    argument.name = std::string(name);
    argument.nameHash = Fnv1a32(name);
    argument.description = std::string(description);
  });
  if (route_.locations.size() <= index) route_.locations.resize(index + 1, ArgumentLocation::Any);
  route_.locations[index] = location;
  return *this;
}

RouteInfo& Remoting::FindOrCreate(const BindingFunctionDescriptor& function, bool* created) {
  const std::uint32_t hash = Fnv1a32(function.name);
  std::lock_guard lock(mutex_);
  // Keyed by the name's hash; the name itself decides, so two names that
  // share a hash stay two functions.
  const auto [first, last] = routes_.equal_range(hash);
  for (auto it = first; it != last; ++it) {
    if (it->second->function->name == function.name) {
      *created = false;
      return *it->second;
    }
  }
  registry_.RegisterFunction(function);
  auto route = std::make_unique<RouteInfo>();
  route->owner = this;
  route->function = registry_.FindFunction(function.name);
  route->locations.assign(function.arguments.size(), ArgumentLocation::Any);
  RouteInfo& stored = *routes_.emplace(hash, std::move(route))->second;
  order_.push_back(&stored);
  *created = true;
  return stored;
}

void Remoting::SetTemplate(RouteInfo& route, RemotingMethod method, std::string_view pathTemplate) {
  if (pathTemplate.size() > 1 && pathTemplate.back() == '/') pathTemplate.remove_suffix(1);
  route.pathTemplate = std::string(pathTemplate);
  route.method = method;
  route.customMethod.clear();
  route.matcher = std::make_unique<PathMatcher>(route.pathTemplate);
}

void Remoting::UpdateFunction(RouteInfo& route, const std::function<void(BindingFunctionDescriptor&)>& change) {
  BindingFunctionDescriptor copy = *route.function;
  change(copy);
  // The registry keeps the entry in place, so the route's pointer stays.
  registry_.RegisterFunction(std::move(copy));
  route.function = registry_.FindFunction(route.function->name);
}

RouteInfo* Remoting::FindRoute(std::string_view functionName) {
  std::lock_guard lock(mutex_);
  const auto [first, last] = routes_.equal_range(Fnv1a32(functionName));
  for (auto it = first; it != last; ++it)
    if (it->second->function->name == functionName) return it->second.get();
  return nullptr;
}

void Remoting::Dispatch(void* context, RemotingResponse* response, const RemotingRequest* request) {
  if (!response) return;
  auto* route = static_cast<RouteInfo*>(context);
  RequestContext match;
  if (request) {
    match.method = MethodFromCode(request->method);
    match.path = request->url ? request->url : "";
    if (match.method == RemotingMethod::Custom && request->customMethod) match.customMethod = request->customMethod;
  }
  if (!request || !route || !MatchRoutes({route}, match)) {
    response->status = 404;
    response->error = kInvalidFunction;
    return;
  }
  // Nothing may unwind into the core: a handler or a conversion that throws
  // (memory exhaustion, a length beyond what a tree holds) is a failure.
  try {
    route->owner->Invoke(response, request, match);
  } catch (...) {
    if (response->release) response->release(response);
    *response = RemotingResponse{};
    response->status = 500;
    response->error = kInternalErrorMessage.data();
  }
}

// ---- Binding ----------------------------------------------------------------

ArgumentBinder::ArgumentBinder(BindingProperty& result, std::vector<BindingProperty>& arguments,
                               const BindingFunctionDescriptor& function, const RouteInfo& route,
                               std::string_view contentType)
    : result_(result), arguments_(arguments), function_(function), route_(route), contentType_(contentType) {
  for (std::size_t i = 0; i < function.arguments.size() && i < arguments.size(); ++i)
    indexByName_.emplace(function.arguments[i].name, i);
}

void ArgumentBinder::BindArguments(const RemotingTextMap& query, const RemotingTextMap& path,
                                   const RemotingTextMap& headers) {
  for (std::size_t i = 0; i < function_.arguments.size() && i < arguments_.size(); ++i) {
    const BindingArgumentDescriptor& argument = function_.arguments[i];
    if (argument.type.code == BindingTypeCode::Bool && !argument.optional && arguments_[i].IsEmpty())
      arguments_[i].SetBool(false);
  }
  const std::pair<const RemotingTextMap*, ArgumentLocation> sources[] = {
      {&headers, ArgumentLocation::Header}, {&path, ArgumentLocation::Path}, {&query, ArgumentLocation::Query}};
  for (const auto& [source, location] : sources) {
    for (const auto& [key, value] : *source) {
      if (!result_.IsValid()) return;
      BindArgumentValue(key, value, location);
    }
  }
}

void ArgumentBinder::BindArgumentValue(std::string_view key, std::string_view value, ArgumentLocation location) {
  const std::size_t dot = key.find('.');
  const std::string name(key.substr(0, dot));
  const std::size_t index = Locate(name, location);
  if (index == std::string::npos) return;
  BindingNode* target = &arguments_[index];
  if (dot != std::string_view::npos) {
    if (!IsContainer(function_.arguments[index].type.code))
      return Fail(Format(kNoElements, name.c_str(), FunctionName(function_)));
    target = Descend(*target, key.substr(dot + 1));
    if (!target) return;
  } else if (value.empty()) {
    return BindBare(*target, index);
  }
  DecodeValue(*target, value, index);
}

std::size_t ArgumentBinder::Locate(const std::string& name, ArgumentLocation location) {
  const auto found = indexByName_.find(name);
  if (found == indexByName_.end()) {
    Fail(Format(kUnknownArgument, name.c_str(), FunctionName(function_)));
    return std::string::npos;
  }
  const ArgumentLocation declared = LocationOf(route_, found->second);
  if (declared != ArgumentLocation::Any && declared != location) {
    Fail(Format(kInvalidLocation, name.c_str(), FunctionName(function_)));
    return std::string::npos;
  }
  return found->second;
}

BindingNode* ArgumentBinder::Descend(BindingNode& root, std::string_view subPath) {
  BindingNode* target = &root;
  for (;;) {
    const std::size_t end = std::min(subPath.find('.'), subPath.size());
    const std::string_view segment = subPath.substr(0, end);
    const bool isIndex = !segment.empty() && segment[0] >= '0' && segment[0] <= '9';
    target = isIndex ? Element(*target, segment) : &target->Field(segment);
    if (!target || end == subPath.size()) return target;
    subPath.remove_prefix(end + 1);
  }
}

BindingNode* ArgumentBinder::Element(BindingNode& node, std::string_view segment) {
  const std::string text(segment);  // strtoull reads up to a terminator
  char* stop = nullptr;
  errno = 0;
  const unsigned long long number = std::strtoull(text.c_str(), &stop, 0);
  if (stop != text.c_str() + text.size()) {
    Fail(Format(kIndexFormat, text.c_str()));
    return nullptr;
  }
  if (errno == ERANGE || number >= (1ull << 31)) {
    Fail(Format(kIndexRange, text.c_str()));
    return nullptr;
  }
  // Growth is paid for before the collection grows; a node that is not yet
  // a collection starts empty.
  const std::uint64_t size = node.GetKind() == BindingKind::Collection ? node.Size() : 0;
  if (number >= size) {
    const std::uint64_t growth = number + 1 - size;
    if (growth > elementsLeft_) {
      Fail(Format(kIndexBudget, text.c_str()));
      return nullptr;
    }
    elementsLeft_ -= growth;
  }
  return &node.At(static_cast<std::uint32_t>(number));
}

void ArgumentBinder::BindBare(BindingNode& target, std::size_t index) {
  switch (function_.arguments[index].type.code) {
    case BindingTypeCode::Bool:
      return target.SetBool(true);
    case BindingTypeCode::Object:
    case BindingTypeCode::Struct:
      return target.MakeStructure();
    case BindingTypeCode::Vector:
      return target.MakeCollection();
    default:
      return Fail(Format(kExpectedValue, function_.arguments[index].name.c_str()));
  }
}

void ArgumentBinder::DecodeValue(BindingNode& target, std::string_view text, std::size_t index) {
  const BindingTypeCode code = function_.arguments[index].type.code;
  const bool structured =
      code == BindingTypeCode::Object || code == BindingTypeCode::Vector || code == BindingTypeCode::Struct;
  const auto bytes = Bytes(text.data(), text.size());
  const Codec codec = ValueCodec(contentType_, bytes, structured);
  if (codec == Codec::Text) return target.SetString(text);
  if (codec == Codec::Blob) return target.SetBlob(bytes);
  const BindingProperty parsed = ParseWith(codec, bytes);
  if (!parsed.IsValid()) {
    return Fail(Format(kCannotDeserialize, CodecName(codec), function_.arguments[index].name.c_str(),
                       FunctionName(function_), parsed.FailureMessage()));
  }
  target = parsed;
}

void ArgumentBinder::BindPrebound(const HostNamedValue* values, std::uint32_t count, std::size_t pathParameterCount) {
  for (std::uint32_t i = 0; values && i < count && result_.IsValid(); ++i) {
    const HostNamedValue& pair = values[i];
    std::size_t index = function_.arguments.size();
    std::string label;
    if (pair.name) {
      label = pair.name;
      for (std::size_t a = 0; a < function_.arguments.size(); ++a)
        if (function_.arguments[a].name == label) index = a;
    } else {
      index = pathParameterCount + i;
      label = std::to_string(index);
    }
    if (index >= function_.arguments.size() || index >= arguments_.size())
      return Fail(Format(kUnknownArgument, label.c_str(), FunctionName(function_)));
    std::string error;
    if (!HostValueToBinding(pair.value, arguments_[index], function_.arguments[index].name, error)) Fail(error);
  }
}

void ArgumentBinder::BindBody(const void* body, std::uint32_t length) {
  if (!result_.IsValid() || !body) return;
  std::size_t index = 0;
  while (index < route_.locations.size() && route_.locations[index] != ArgumentLocation::Body) ++index;
  if (index >= function_.arguments.size() || index >= arguments_.size()) return;  // the body is not read
  const Codec codec = BodyCodec(contentType_);
  if (codec == Codec::Unsupported) return Fail(kUnsupportedBody);
  std::size_t consumed = 0;
  BindingProperty parsed = ParseWith(codec, Bytes(body, length), &consumed);
  if (!parsed.IsValid()) return Fail(parsed.FailureMessage());
  if (codec == Codec::MessagePack && consumed < length) return Fail(kExtraMessagePack);
  arguments_[index] = std::move(parsed);
}

void BindArguments(BindingProperty& result, std::vector<BindingProperty>& arguments,
                   const BindingFunctionDescriptor& function, const RouteInfo& route, const RemotingTextMap& query,
                   const RemotingTextMap& path, const RemotingTextMap& headers) {
  ArgumentBinder(result, arguments, function, route).BindArguments(query, path, headers);
}

// ---- Invoke -----------------------------------------------------------------

namespace {

// The request's headers that name an argument allowed to come from a header
// (the argument's name in lower case), under the argument's own name.
RemotingTextMap HeaderArguments(const RemotingRequest& request, const BindingFunctionDescriptor& function,
                                const RouteInfo& route) {
  RemotingTextMap headers;
  if (!request.headers || !request.headerCount) return headers;
  RemotingTextMap all;
  for (std::uint32_t i = 0; i < request.headerCount; ++i) {
    const HostHeader& header = request.headers[i];
    if (header.name) all.insert_or_assign(header.name, header.value ? header.value : "");
  }
  for (std::size_t i = 0; i < function.arguments.size(); ++i) {
    const ArgumentLocation location = LocationOf(route, i);
    if (location != ArgumentLocation::Any && location != ArgumentLocation::Header) continue;
    std::string lower = function.arguments[i].name;
    for (char& c : lower) c = Lower(c);
    if (const auto it = all.find(lower); it != all.end()) headers[function.arguments[i].name] = it->second;
  }
  return headers;
}

// The query arguments: the text after the path's first "?".
RemotingTextMap QueryArguments(std::string_view path) {
  const std::size_t mark = path.find('?');
  return mark == std::string_view::npos ? RemotingTextMap() : ParseQueryString(path.substr(mark + 1));
}

// Calls the handler when binding succeeded and converts its answer into
// `result`; returns the answer for the caller to release, or null.
void* CallHandler(RouteInfo& route, RemotingResult& result, std::vector<BindingProperty>& arguments,
                  uintptr_t requestWord) {
  if (!result.value.IsValid() || !route.handler) return nullptr;
  void* answer = route.handler->Call(result, arguments, requestWord);
  if (answer && result.value.IsValid()) route.handler->Convert(result, nullptr, answer, requestWord);
  return answer;
}

}  // namespace

void Remoting::Invoke(RemotingResponse* response, const RemotingRequest* request, RequestContext& context) {
  RouteInfo& route = *context.route;
  const BindingFunctionDescriptor& function = *context.function;
  RemotingResult result;
  std::vector<BindingProperty> arguments(function.arguments.size());
  ArgumentBinder binder(result.value, arguments, function, route, request->contentType ? request->contentType : "");
  binder.BindArguments(QueryArguments(context.path), context.parameters, HeaderArguments(*request, function, route));
  binder.BindPrebound(request->args, request->argCount, context.parameters.size());
  binder.BindBody(request->body, request->bodyLength);
  void* answer = CallHandler(route, result, arguments, request->requestWord);
  WriteResponse(response, result, registry_);
  if (answer) route.handler->Release(answer);
}

}  // namespace Vexa
