#include "bridge/bridge.h"

#include <limits.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "bridge/connection_pool.h"
#include "bridge/msgpack_writer.h"
#include "bridge/openapi.h"
#include "bridge/request_rules.h"

namespace TovBridge {
namespace {

constexpr const char* kPluginPrefix = "/tov-vover-orevid-aredez/";
// Requests to the plug-in are routed by the core's own matcher, not by the
// HTTP server's regular expressions, whose matching recurses once per byte
// of the path. The server is handed this fixed path instead (the original
// stays in the request's target).
constexpr const char* kPluginRoute = "/\x7fplug-in";
constexpr const char* kJson = "application/json";
constexpr const char* kMessagePack = "application/x-msgpack";
// A console file is small; anything larger is not one of ours.
constexpr std::streamsize kMaxConsoleFile = 16 << 20;

std::string JsonError(const std::string& text) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.StartObject();
  writer.Key("error");
  writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

// A JSON value in the form the client asked for.
void SetJson(httplib::Response& response, const std::string& json, bool messagePack) {
  std::string packed;
  if (messagePack && JsonToMessagePack(json, &packed)) {
    response.set_content(packed, kMessagePack);
  } else {
    response.set_content(json, kJson);
  }
}

void Fail(httplib::Response& response, int status, const std::string& text, bool messagePack = false) {
  response.status = status;
  SetJson(response, JsonError(text), messagePack);
}

bool WantsMessagePack(const httplib::Request& request) {
  return TovBridge::WantsMessagePack(request.get_header_value("Accept"));
}

// What an HTTP answer must not carry over from the plug-in's headers: the
// framing is the server's, and cross-origin access is never granted.
bool KeepHeader(const std::string& name) {
  static const char* const kDropped[] = {"content-type", "content-length", "transfer-encoding", "connection",
                                         "keep-alive"};
  std::string lower(name);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower.rfind("access-control-", 0) == 0) return false;
  for (const char* dropped : kDropped)
    if (lower == dropped) return false;
  for (const char c : name)
    if (static_cast<unsigned char>(c) <= 0x20 || c == ':') return false;
  return true;
}

bool IsJsonType(const std::string& contentType) {
  return contentType.empty() || contentType.rfind(kJson, 0) == 0;
}

// The answer to a plug-in route: its status (0 is success) and body, or its
// failure with the plug-in's own text.
void Answer(const TovHost::Core::CallResult& result, bool messagePack, httplib::Response& response) {
  for (const auto& [name, value] : result.headers)
    if (KeepHeader(name) && value.find_first_of("\r\n") == std::string::npos) response.set_header(name, value);
  if (!result.routed || !result.error.empty()) {
    const int status = !result.routed ? 404 : result.status >= 400 && result.status <= 599 ? result.status : 500;
    Fail(response, status, result.error, messagePack);
    return;
  }
  response.status = result.status >= 200 && result.status <= 299 ? result.status : 200;
  if (result.bodyJson.empty() || (result.bodyJson == "null" && IsJsonType(result.contentType))) {
    response.status = 204;  // success with nothing to say
    return;
  }
  if (!IsJsonType(result.contentType)) {
    response.set_content(result.bodyJson, result.contentType);  // a streamed answer, as the plug-in typed it
    return;
  }
  SetJson(response, result.bodyJson, messagePack);
}

std::string StatusText(int status) {
  switch (status) {
    case 400: return "Bad request";
    case 404: return "Not found";
    case 405: return "Method not allowed";
    case 413: return "Request body is larger than the limit";
    case 414: return "Request line is too long";
    case 416: return "Range not satisfiable";
    case 503: return "Service unavailable";
    default: return "HTTP status " + std::to_string(status);
  }
}

}  // namespace

bool ParseListenAddress(const std::string& text, std::string* address, int* port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size() || text.size() - colon > 6) return false;
  std::string host = text.substr(0, colon);
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']') return false;
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string::npos) {
    return false;  // an IPv6 address needs its brackets
  }
  int value = 0;
  for (size_t i = colon + 1; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  if (value > 65535) return false;
  *address = host;
  *port = value;
  return true;
}

Bridge::Bridge(BridgeOptions options)
    : options_(std::move(options)),
      hub_(EventHub::Limits{options_.maxSubscribers, EventHub::Limits{}.maxQueuedFrames,
                            EventHub::Limits{}.maxQueuedBytes}) {
  const size_t maxConnections = options_.maxConnections;
  server_.new_task_queue = [maxConnections] { return new ConnectionPool(maxConnections); };
  const auto io = static_cast<time_t>(options_.ioTimeout.count());
  server_.set_read_timeout(io, 0);
  server_.set_write_timeout(io, 0);
  // Short: an idle kept-alive connection holds a thread, and the server
  // only notices a stop between two of them.
  server_.set_keep_alive_timeout(2);
  server_.set_keep_alive_max_count(100);
  server_.set_payload_max_length(options_.maxBodyBytes);
  server_.set_tcp_nodelay(true);
  server_.set_pre_routing_handler(
      [this](const httplib::Request& request, httplib::Response& response) { return Route(request, response); });
  const auto plugin = [this](const httplib::Request& request, httplib::Response& response) {
    CallPlugin(request, response);
  };
  server_.Get(kPluginRoute, plugin);
  server_.Post(kPluginRoute, plugin);
  server_.Put(kPluginRoute, plugin);
  server_.Patch(kPluginRoute, plugin);
  server_.Delete(kPluginRoute, plugin);
  // Failures the server answers itself (413, 414, 400, …) get a JSON body
  // like every other failure; ours have one already.
  server_.set_error_handler(httplib::Server::HandlerWithResponse(
      [](const httplib::Request& request, httplib::Response& response) {
        if (!response.body.empty() || response.status < 400) return httplib::Server::HandlerResponse::Unhandled;
        std::string text = StatusText(response.status);
        if (response.status == 404)
          text = "No resource at " + request.method + " " + request.target.substr(0, request.target.find('?'));
        SetJson(response, JsonError(text), WantsMessagePack(request));
        return httplib::Server::HandlerResponse::Handled;
      }));
  server_.set_exception_handler([](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
    Fail(response, 500, "Internal error in the bridge");
  });
}

Bridge::~Bridge() {
  Stop();
  if (serving_.joinable()) serving_.join();
}

std::string Bridge::Bind() {
  errno = 0;
  if (options_.port == 0) {
    port_ = server_.bind_to_any_port(options_.address);
    if (port_ > 0) return "";
  } else if (server_.bind_to_port(options_.address, options_.port)) {
    port_ = options_.port;
    return "";
  }
  return "cannot listen on " + options_.address + ":" + std::to_string(options_.port) +
         (errno ? std::string(": ") + std::strerror(errno) : "");
}

std::string Bridge::Url() const {
  const bool ipv6 = options_.address.find(':') != std::string::npos;
  return "http://" + (ipv6 ? "[" + options_.address + "]" : options_.address) + ":" + std::to_string(port_) + "/";
}

void Bridge::Start() {
  serving_ = std::thread([this] { server_.listen_after_bind(); });
}

void Bridge::Stop() {
  std::call_once(stopOnce_, [this] {
    leaving_ = true;
    queue_.Close();
    hub_.Close();
    server_.stop();
  });
}

// ---- The loop thread ------------------------------------------------------------

void Bridge::OnEvent(const TovHost::SentEvent& event) { hub_.Publish(event.name, event.payloadJson); }

bool Bridge::RunOne(TovHost::Core& core) {
  if (core.PluginApi()) {
    std::lock_guard lock(apiMutex_);
    if (apiJson_.empty()) apiJson_ = OpenApiJson(*core.PluginApi());
  }
  return queue_.RunOne([this, &core](const CallRequest& request) {
    TovHost::Core::CallResult result =
        core.Call(request.method, request.url, request.body, request.contentType, request.headers);
    if (onAnswered) onAnswered(request, result);
    return result;
  });
}

void Bridge::Await(double seconds) { queue_.Await(seconds); }

// ---- HTTP threads -----------------------------------------------------------------

httplib::Server::HandlerResponse Bridge::Route(const httplib::Request& request, httplib::Response& response) {
  using Handled = httplib::Server::HandlerResponse;
  const bool messagePack = WantsMessagePack(request);
  if (ConnectionPool::OverCapacity()) {
    response.set_header("Connection", "close");
    Fail(response, 503, "Too many connections; try again later", messagePack);
    return Handled::Handled;
  }
  if (!HostAllowed(request.get_header_value("Host"), options_.address, request.local_addr, port_)) {
    Fail(response, 403, "Host not allowed: use localhost or " + options_.address, messagePack);
    return Handled::Handled;
  }
  response.set_header("X-Content-Type-Options", "nosniff");
  if (request.path.rfind(kPluginPrefix, 0) == 0) {
    // The request is the server's own object, handed to us as const only
    // by convention; the path it routes on becomes the plug-in's route.
    auto& routed = const_cast<httplib::Request&>(request);
    routed.path = kPluginRoute;
    // A request with neither a length nor chunks has no body (RFC 9112
    // 6.3); the server would otherwise read one until the client closes.
    if (!routed.has_header("Content-Length") && !routed.has_header("Transfer-Encoding"))
      routed.set_header("Content-Length", "0");
    return Handled::Unhandled;
  }
  if (request.path == kPluginRoute) {  // only ever reached through the rewrite above
    Fail(response, 404, "No resource at " + request.method + " " + request.path, messagePack);
    return Handled::Handled;
  }
  if (request.method == "GET" && request.path == "/events") {
    StreamEvents(response);
  } else if (request.method == "GET" && request.path == "/openapi.json") {
    ServeApiDescription(response);
  } else if (request.method == "GET") {
    ServeConsole(request, response);
  } else {
    Fail(response, 404, "No resource at " + request.method + " " + request.path, messagePack);
  }
  return Handled::Handled;
}

void Bridge::CallPlugin(const httplib::Request& request, httplib::Response& response) {
  const bool messagePack = WantsMessagePack(request);
  CallRequest call;
  call.method = TovHost::MethodCode(request.method == "HEAD" ? "GET" : request.method);
  call.url = request.target;
  call.body = request.body;
  // Without a content type a body is read as JSON, as the core's own
  // requests are.
  call.contentType = request.has_header("Content-Type") ? request.get_header_value("Content-Type") : kJson;
  for (const auto& [name, value] : request.headers) {
    // The server's own notes about the connection are not the client's headers.
    if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT") continue;
    call.headers.emplace_back(name, value);
  }
  TovHost::Core::CallResult result;
  switch (queue_.Submit(std::move(call), options_.callTimeout, &result)) {
    case CallQueue::Refusal::None:
      Answer(result, messagePack, response);
      return;
    case CallQueue::Refusal::TimedOut:
      Fail(response, 503,
           "The core did not take the request within " + std::to_string(options_.callTimeout.count()) +
               " ms; nothing was done",
           messagePack);
      return;
    case CallQueue::Refusal::Full:
      Fail(response, 503, "Too many requests wait for the core; nothing was done", messagePack);
      return;
    case CallQueue::Refusal::Closed:
      Fail(response, 503, "The bridge is shutting down; nothing was done", messagePack);
      return;
  }
}

void Bridge::StreamEvents(httplib::Response& response) {
  std::shared_ptr<EventHub::Subscriber> subscriber = hub_.Subscribe();
  if (!subscriber) {
    Fail(response, 503, "Too many event subscribers; try again later");
    return;
  }
  response.set_header("Cache-Control", "no-cache");
  const auto keepAlive = std::chrono::duration_cast<std::chrono::milliseconds>(options_.keepAliveComment);
  auto first = std::make_shared<bool>(true);
  response.set_chunked_content_provider(
      "text/event-stream",
      [subscriber, keepAlive, first](size_t, httplib::DataSink& sink) {
        std::string out;
        if (*first) {
          *first = false;
          out = "retry: 1000\n\n";  // a dropped client comes back after a second
        }
        switch (subscriber->Take(keepAlive, &out)) {
          case EventHub::Subscriber::Next::Frames:
            return sink.write(out.data(), out.size());
          case EventHub::Subscriber::Next::Idle:
            out += ": keep-alive\n\n";
            return sink.write(out.data(), out.size());
          case EventHub::Subscriber::Next::Closed:
            break;
        }
        if (subscriber->Dropped()) return false;  // cut off: the client sees the stream break
        if (!out.empty()) sink.write(out.data(), out.size());
        sink.done();
        return true;
      },
      [this, subscriber](bool) { hub_.Unsubscribe(subscriber); });
}

void Bridge::ServeApiDescription(httplib::Response& response) {
  std::lock_guard lock(apiMutex_);
  if (apiJson_.empty()) {
    Fail(response, 503, "The plug-in is not loaded yet");
    return;
  }
  response.set_content(apiJson_, kJson);
}

void Bridge::ServeConsole(const httplib::Request& request, httplib::Response& response) {
  const std::string file = ConsoleFile(request.path);
  const auto notFound = [&] { Fail(response, 404, "No resource at GET " + request.path); };
  if (file.empty() || options_.consoleDir.empty()) return notFound();
  // A link inside the console directory must not lead out of it.
  char root[PATH_MAX], target[PATH_MAX];
  const std::string path = options_.consoleDir + "/" + file;
  if (!realpath(options_.consoleDir.c_str(), root) || !realpath(path.c_str(), target)) return notFound();
  const std::string rootText = std::string(root) + "/";
  if (std::string(target).rfind(rootText, 0) != 0) return notFound();
  struct stat info{};
  if (stat(target, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxConsoleFile) return notFound();
  std::ifstream in(target, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  if (!in.good() && !in.eof()) return Fail(response, 500, "Cannot read " + file);
  // Served from the sources: an edit shows on the next load.
  response.set_header("Cache-Control", "no-cache");
  response.set_content(content.str(), ContentTypeOf(file));
}

}  // namespace TovBridge
