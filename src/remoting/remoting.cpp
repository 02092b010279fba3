#include "remoting/remoting.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>

#include "binding/host_value.h"
#include "binding/message_format.h"
#include "formats/json.h"
#include "formats/msgpack.h"
#include "formats/yaml.h"

namespace Vexa {
namespace {

// One query key may grow a collection by at most this many elements, so a
// request of a few bytes cannot make the plug-in allocate gigabytes.
constexpr std::uint64_t kMaxBoundIndex = 65536;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (Lower(text[i]) != Lower(prefix[i])) return false;
  return true;
}

std::string_view AfterSpaces(std::string_view text) {
  const std::size_t start = text.find_first_not_of(" \t\r\n");
  return start == std::string_view::npos ? std::string_view() : text.substr(start);
}

// Text formats end at their first NUL, and never read past the length.
std::string_view TextUpToNul(const void* data, std::size_t length) {
  const auto* text = static_cast<const char*>(data);
  return std::string_view(text, strnlen(text, length));
}

RemotingMethod MethodFromCode(std::uint32_t code) {
  return code >= 1 && code <= 8 ? static_cast<RemotingMethod>(code) : RemotingMethod::None;
}

BindingTypeCode CodeOf(const BindingFunctionDescriptor& function, std::size_t index) {
  return function.arguments[index].type.code;
}

const char* FunctionName(const BindingFunctionDescriptor& function) { return function.name.c_str(); }

// Decodes one text value into `target`; false with `result` failed.
void DecodeValue(BindingProperty& result, BindingNode& target, std::string_view text, std::string_view contentType,
                 bool structured, const std::string& argument, const BindingFunctionDescriptor& function) {
  const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  const auto first = text.empty() ? 0 : static_cast<std::uint8_t>(text.front());
  // The body's content type says how structured values in the path, query
  // or headers are written; a plain value is text whatever the body is, or
  // a path id "7" would read as the MessagePack byte 0x37.
  if (!structured) return target.SetString(text);
  const bool sniff = contentType.empty();
  const char* codec = nullptr;
  BindingProperty parsed;
  if (StartsWithNoCase(contentType, "application/x-msgpack") ||
      (sniff && !text.empty() && ((first >= 0x80 && first <= 0x9F) || (first >= 0xDC && first <= 0xDF)))) {
    codec = "MessagePack";
    parsed = ParseMessagePack(bytes);
  } else if (StartsWithNoCase(contentType, "application/json") ||
             (sniff && (AfterSpaces(text).starts_with('{') || AfterSpaces(text).starts_with('[')))) {
    codec = "JSON";
    parsed = ParseJson(TextUpToNul(text.data(), text.size()));
  } else if (StartsWithNoCase(contentType, "text/x-yaml") || (sniff && AfterSpaces(text).starts_with("---"))) {
    codec = "YAML";
    parsed = ParseYaml(TextUpToNul(text.data(), text.size()));
  } else if (StartsWithNoCase(contentType, "application/octet-stream")) {
    return target.SetBlob(bytes);
  } else {
    return target.SetString(text);
  }
  if (!parsed.IsValid()) {
    return result.SetFailure(Format("Couldn't deserialize %1 value for parameter '%2' of '%3': %4", codec,
                                    argument.c_str(), FunctionName(function), parsed.FailureMessage()));
  }
  target = parsed;
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
    response->error = "Invalid function";
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
    response->error = "Internal server error";
  }
}

// ---- Binding ----------------------------------------------------------------

void BindArgumentValue(BindingProperty& result, std::vector<BindingProperty>& arguments,
                       const std::map<std::string, std::size_t, std::less<>>& indexByName,
                       const BindingFunctionDescriptor& function, const RouteInfo& route, std::string_view key,
                       std::string_view value, ArgumentLocation location, std::string_view contentType) {
  const std::size_t dot = key.find('.');
  const std::string name(key.substr(0, dot));
  const auto found = indexByName.find(name);
  if (found == indexByName.end())
    return result.SetFailure(Format("Unknown argument '%1' for '%2'.", name.c_str(), FunctionName(function)));
  const std::size_t index = found->second;
  const ArgumentLocation declared = index < route.locations.size() ? route.locations[index] : ArgumentLocation::Any;
  if (declared != ArgumentLocation::Any && declared != location) {
    return result.SetFailure(Format("Argument '%1' for '%2' was specified in an invalid location.", name.c_str(),
                                    FunctionName(function)));
  }
  const BindingTypeCode code = CodeOf(function, index);
  BindingNode* target = &arguments[index];
  if (dot != std::string_view::npos) {
    std::string_view rest = key.substr(dot + 1);
    for (;;) {
      const std::size_t end = std::min(rest.find('.'), rest.size());
      const std::string segment(rest.substr(0, end));
      if (!segment.empty() && segment[0] >= '0' && segment[0] <= '9') {
        char* stop = nullptr;
        errno = 0;
        const unsigned long long number = std::strtoull(segment.c_str(), &stop, 0);
        if (stop != segment.c_str() + segment.size())
          return result.SetFailure(Format("Index %1 is in an incorrect format", segment.c_str()));
        if (errno == ERANGE || number >= (1ull << 31))
          return result.SetFailure(Format("Index %1 is out of range", segment.c_str()));
        if (number >= target->Size() + kMaxBoundIndex && number >= kMaxBoundIndex)
          return result.SetFailure(Format("Index %1 is too large for one request", segment.c_str()));
        target = &target->At(static_cast<std::uint32_t>(number));
      } else {
        target = &target->Field(segment);
      }
      if (end == rest.size()) break;
      rest = rest.substr(end + 1);
    }
  } else if (value.empty()) {
    switch (code) {
      case BindingTypeCode::Bool:
        return target->SetBool(true);
      case BindingTypeCode::Object:
      case BindingTypeCode::Struct:
        return target->MakeStructure();
      case BindingTypeCode::Vector:
        return target->MakeCollection();
      default:
        return result.SetFailure(Format("Expected value for argument '%1'.", name.c_str()));
    }
  }
  const bool structured =
      code == BindingTypeCode::Object || code == BindingTypeCode::Vector || code == BindingTypeCode::Struct;
  DecodeValue(result, *target, value, contentType, structured, name, function);
}

void BindArguments(BindingProperty& result, std::vector<BindingProperty>& arguments,
                   const BindingFunctionDescriptor& function, const RouteInfo& route,
                   const std::map<std::string, std::string>& query, const std::map<std::string, std::string>& path,
                   const std::map<std::string, std::string>& headers, std::string_view contentType) {
  std::map<std::string, std::size_t, std::less<>> indexByName;
  for (std::size_t i = 0; i < function.arguments.size(); ++i) indexByName.emplace(function.arguments[i].name, i);
  for (std::size_t i = 0; i < function.arguments.size() && i < arguments.size(); ++i) {
    const BindingArgumentDescriptor& argument = function.arguments[i];
    if (argument.type.code == BindingTypeCode::Bool && !argument.optional && arguments[i].IsEmpty())
      arguments[i].SetBool(false);
  }
  const std::pair<const std::map<std::string, std::string>*, ArgumentLocation> sources[] = {
      {&headers, ArgumentLocation::Header}, {&path, ArgumentLocation::Path}, {&query, ArgumentLocation::Query}};
  for (const auto& [source, location] : sources) {
    for (const auto& [key, value] : *source) {
      if (!result.IsValid()) return;
      BindArgumentValue(result, arguments, indexByName, function, route, key, value, location, contentType);
    }
  }
}

void BindArguments(BindingProperty& result, std::vector<BindingProperty>& arguments,
                   const BindingFunctionDescriptor& function, const RouteInfo& route,
                   const std::map<std::string, std::string>& query, const std::map<std::string, std::string>& path,
                   const std::map<std::string, std::string>& headers) {
  BindArguments(result, arguments, function, route, query, path, headers, {});
}

void Remoting::Invoke(RemotingResponse* response, const RemotingRequest* request, RequestContext& context) {
  RouteInfo& route = *context.route;
  const BindingFunctionDescriptor& function = *context.function;
  RemotingResult result;
  std::vector<BindingProperty> arguments(function.arguments.size());
  const std::string_view contentType = request->contentType ? request->contentType : "";

  std::map<std::string, std::string> headers;
  if (request->headers && request->headerCount) {
    std::map<std::string, std::string> all;
    for (std::uint32_t i = 0; i < request->headerCount; ++i) {
      const HostHeader& header = request->headers[i];
      if (header.name) all.insert_or_assign(header.name, header.value ? header.value : "");
    }
    for (std::size_t i = 0; i < function.arguments.size(); ++i) {
      const ArgumentLocation location = i < route.locations.size() ? route.locations[i] : ArgumentLocation::Any;
      if (location != ArgumentLocation::Any && location != ArgumentLocation::Header) continue;
      std::string lower = function.arguments[i].name;
      for (char& c : lower) c = Lower(c);
      if (const auto it = all.find(lower); it != all.end()) headers[function.arguments[i].name] = it->second;
    }
  }
  std::map<std::string, std::string> query;
  if (const std::size_t mark = context.path.find('?'); mark != std::string::npos)
    query = ParseQueryString(std::string_view(context.path).substr(mark + 1));
  BindArguments(result.value, arguments, function, route, query, context.parameters, headers, contentType);

  for (std::uint32_t i = 0; request->args && i < request->argCount && result.value.IsValid(); ++i) {
    const HostNamedValue& pair = request->args[i];
    std::size_t index = function.arguments.size();
    std::string label;
    if (pair.name) {
      label = pair.name;
      for (std::size_t a = 0; a < function.arguments.size(); ++a)
        if (function.arguments[a].name == label) index = a;
    } else {
      index = context.parameters.size() + i;
      label = std::to_string(index);
    }
    if (index >= function.arguments.size()) {
      result.value.SetFailure(Format("Unknown argument '%1' for '%2'.", label.c_str(), FunctionName(function)));
      break;
    }
    std::string error;
    if (!HostValueToBinding(pair.value, arguments[index], function.arguments[index].name, error))
      result.value.SetFailure(error);
  }

  if (result.value.IsValid() && request->body) {
    std::size_t bodyIndex = function.arguments.size();
    for (std::size_t i = 0; i < route.locations.size() && bodyIndex == function.arguments.size(); ++i)
      if (route.locations[i] == ArgumentLocation::Body) bodyIndex = i;
    if (bodyIndex < function.arguments.size()) {
      BindingProperty parsed;
      if (StartsWithNoCase(contentType, "application/x-msgpack")) {
        std::size_t consumed = 0;
        parsed = ParseMessagePack(
            std::span(static_cast<const std::uint8_t*>(request->body), request->bodyLength), &consumed);
        if (parsed.IsValid() && consumed < request->bodyLength) parsed.SetFailure("Extra MessgePack data found in body");
      } else if (StartsWithNoCase(contentType, "application/json") ||
                 StartsWithNoCase(contentType, "application/vnd.api+json")) {
        parsed = ParseJson(TextUpToNul(request->body, request->bodyLength));
      } else if (StartsWithNoCase(contentType, "application/x-yaml")) {
        parsed = ParseYaml(TextUpToNul(request->body, request->bodyLength));
      } else {
        parsed.SetFailure("Unsupported body content type");
      }
      if (parsed.IsValid()) arguments[bodyIndex] = std::move(parsed);
      else result.value.SetFailure(parsed.FailureMessage());
    }
  }

  void* answer = nullptr;
  if (result.value.IsValid() && route.handler) {
    answer = route.handler->Call(result, arguments, request->requestWord);
    if (answer && result.value.IsValid()) route.handler->Convert(result, nullptr, answer, request->requestWord);
  }
  WriteResponse(response, result, registry_);
  if (answer) route.handler->Release(answer);
}

}  // namespace Vexa
