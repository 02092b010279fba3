#include "core/core.h"

#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <thread>

#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "binding/base64.h"
#include "runtime/event_names.h"

namespace TovHost {
namespace {

constexpr uint32_t kGet = 2;
constexpr uint32_t kPost = 6;

// Iterative so that nesting depth costs heap, not stack.
constexpr unsigned kParseFlags =
    rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag | rapidjson::kParseNanAndInfFlag;

// A plug-in that keeps rescheduling itself with no delay would hold virtual
// time still for ever; past this many turns at one instant AdvanceTime gives
// up on the instant and reports it instead of hanging the test.
constexpr int kTurnsPerInstant = 100000;

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

double RealSeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

rapidjson::SizeType JsonSize(size_t size) { return static_cast<rapidjson::SizeType>(size); }

void WriteText(JsonWriter& writer, const std::string& text) { writer.String(text.data(), JsonSize(text.size())); }

// Scripted JSON goes in unchecked; a typo shows up when the text is parsed
// for delivery or for a response.
void WriteJson(JsonWriter& writer, const std::string& json) {
  if (json.empty()) {
    writer.Null();
  } else {
    writer.RawValue(json.data(), json.size(), rapidjson::kObjectType);
  }
}

std::string Written(const rapidjson::StringBuffer& buffer) { return std::string(buffer.GetString(), buffer.GetSize()); }

char* CopyText(const char* text, size_t length) {
  char* copy = new char[length + 1];
  if (length) std::memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

// The reader's events, built into an owned tree. Open containers collect
// their members on a heap stack and become blocks when they close, so the
// blocks get their final sizes and depth never reaches the call stack.
class TreeBuilder {
 public:
  TreeBuilder() = default;
  TreeBuilder(const TreeBuilder&) = delete;
  TreeBuilder& operator=(const TreeBuilder&) = delete;
  ~TreeBuilder() {
    // Only a failed parse leaves anything here.
    for (Frame& frame : open_) {
      for (HostValue& item : frame.items) FreeHostValue(&item);
      for (const HostObjectEntry& entry : frame.entries) {
        delete[] entry.key;
        HostValue value = entry.value;
        FreeHostValue(&value);
      }
      delete[] frame.key;
    }
    FreeHostValue(&root_);
  }

  // Hands the finished tree over.
  HostValue Take() {
    const HostValue root = root_;
    root_ = HostValue{};
    return root;
  }

  bool Null() { return Add(HostValue{}); }
  bool Bool(bool value) {
    HostValue v{};
    v.kind = HostValueKind_Bool;
    v.u.boolean = value ? 1 : 0;
    return Add(v);
  }
  bool Int(int value) { return Int64(value); }
  bool Uint(unsigned value) { return Int64(value); }
  bool Int64(int64_t value) {
    HostValue v{};
    v.kind = HostValueKind_Int64;
    v.u.int64 = value;
    return Add(v);
  }
  bool Uint64(uint64_t value) {
    if (value <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return Int64(static_cast<int64_t>(value));
    HostValue v{};
    v.kind = HostValueKind_UInt64;
    v.u.uint64 = value;
    return Add(v);
  }
  bool Double(double value) {
    HostValue v{};
    v.kind = HostValueKind_Double;
    v.u.number = value;
    return Add(v);
  }
  bool RawNumber(const char*, rapidjson::SizeType, bool) { return false; }  // not requested
  bool String(const char* text, rapidjson::SizeType length, bool) {
    HostValue v{};
    v.kind = HostValueKind_String;
    v.u.string.data = CopyText(text, length);
    v.u.string.length = length;
    return Add(v);
  }
  bool StartObject() {
    open_.push_back(Frame{true, {}, {}, nullptr});
    return true;
  }
  bool Key(const char* text, rapidjson::SizeType length, bool) {
    open_.back().key = CopyText(text, length);
    return true;
  }
  bool EndObject(rapidjson::SizeType) { return Close(); }
  bool StartArray() {
    open_.push_back(Frame{false, {}, {}, nullptr});
    return true;
  }
  bool EndArray(rapidjson::SizeType) { return Close(); }

 private:
  // The innermost container becomes a value of its parent.
  bool Close() {
    Frame& frame = open_.back();
    HostValue v{};
    if (frame.object) {
      v.kind = HostValueKind_Object;
      v.u.object.entries = CopyOut(frame.entries, v.u.object.count);
    } else {
      v.kind = HostValueKind_Array;
      v.u.array.items = CopyOut(frame.items, v.u.array.count);
    }
    open_.pop_back();
    return Add(v);
  }

  // A closed container's children, as the array the value owns.
  template <typename Item>
  static Item* CopyOut(const std::vector<Item>& children, uint32_t& count) {
    count = static_cast<uint32_t>(children.size());
    if (children.empty()) return nullptr;
    Item* array = new Item[children.size()];
    std::copy(children.begin(), children.end(), array);
    return array;
  }

  struct Frame {
    bool object;
    std::vector<HostValue> items;
    std::vector<HostObjectEntry> entries;
    char* key;  // the member name read, waiting for its value
  };

  bool Add(const HostValue& value) {
    if (open_.empty()) {
      root_ = value;
      return true;
    }
    Frame& frame = open_.back();
    if (!frame.object) {
      frame.items.push_back(value);
      return true;
    }
    HostObjectEntry entry{};
    entry.key = frame.key;
    entry.value = value;
    entry.keyOwned = 1;
    frame.key = nullptr;
    frame.entries.push_back(entry);
    return true;
  }

  std::vector<Frame> open_;
  HostValue root_{};
};

void ReleaseBody(RemotingResponse* response) {
  HostValue body = response->body;
  FreeHostValue(&body);
  response->body = HostValue{};
}

// The text of a JSON string value; false for any other JSON.
bool JsonText(const std::string& json, std::string* out) {
  HostValue value{};
  if (!HostValueFromJson(json, &value)) return false;
  const bool isText = value.kind == HostValueKind_String;
  if (isText) out->assign(value.u.string.data, value.u.string.length);
  FreeHostValue(&value);
  return isText;
}

}  // namespace

const char* LevelName(int32_t level) {
  static const char* const names[] = {"  OKAY", "  WARN", " ERROR", "ALWAYS"};
  return level >= 0 && level < 4 ? names[level] : "     ?";
}

const char* MethodName(uint32_t method) {
  static const char* const names[] = {"", "DELETE", "GET", "HEAD", "OPTIONS", "PATCH", "POST", "PUT", "CUSTOM"};
  return method < 9 ? names[method] : "";
}

bool HostValueFromJson(const std::string& json, HostValue* out) {
  *out = HostValue{};
  TreeBuilder builder;
  rapidjson::MemoryStream stream(json.data(), json.size());
  rapidjson::Reader reader;
  if (reader.Parse<kParseFlags>(stream, builder).IsError()) return false;
  *out = builder.Take();
  return true;
}

void FreeHostValue(HostValue* value) {
  if (!value) return;
  // Children are copied out before their block goes, so each block is freed
  // as soon as it has been read and depth never reaches the call stack.
  std::vector<HostValue> pending{*value};
  *value = HostValue{};
  while (!pending.empty()) {
    const HostValue v = pending.back();
    pending.pop_back();
    switch (v.kind) {
      case HostValueKind_String:
        delete[] v.u.string.data;
        break;
      case HostValueKind_Bytes:
        // Byte blocks are made as new uint8_t[].
        delete[] static_cast<const uint8_t*>(v.u.bytes.data);
        break;
      case HostValueKind_Array:
        for (uint32_t i = 0; v.u.array.items && i < v.u.array.count; ++i) pending.push_back(v.u.array.items[i]);
        delete[] v.u.array.items;
        break;
      case HostValueKind_Object:
        for (uint32_t i = 0; v.u.object.entries && i < v.u.object.count; ++i) {
          if (v.u.object.entries[i].keyOwned) delete[] v.u.object.entries[i].key;
          const HostValue child = v.u.object.entries[i].value;
          pending.push_back(child);
        }
        delete[] v.u.object.entries;
        break;
      default:
        break;
    }
  }
}

std::string HostValueToJson(const HostValue& value) {
  rapidjson::StringBuffer buffer;
  JsonWriter writer(buffer);
  // Open containers, each a copy of its value (an entry's value sits
  // unaligned in its packed entry) and the index of the next member.
  struct Frame {
    HostValue container;
    uint32_t next;
  };
  std::vector<Frame> open;
  auto write = [&](const HostValue& v) {
    switch (v.kind) {
      case HostValueKind_Null:
        writer.Null();
        break;
      case HostValueKind_Bool:
        writer.Bool(v.u.boolean != 0);
        break;
      case HostValueKind_Int64:
        writer.Int64(v.u.int64);
        break;
      case HostValueKind_UInt64:
        writer.Uint64(v.u.uint64);
        break;
      case HostValueKind_Double:
        if (std::isfinite(v.u.number)) {
          writer.Double(v.u.number);
        } else {
          writer.Null();
        }
        break;
      case HostValueKind_BorrowedString:
      case HostValueKind_String:
        writer.String(v.u.string.data ? v.u.string.data : "", v.u.string.data ? v.u.string.length : 0);
        break;
      case HostValueKind_BorrowedBytes:
      case HostValueKind_Bytes:
        WriteText(writer, Vexa::Base64(v.u.bytes.data, v.u.bytes.data ? v.u.bytes.size : 0));
        break;
      case HostValueKind_Array:
        writer.StartArray();
        open.push_back(Frame{v, 0});
        break;
      case HostValueKind_Object:
        writer.StartObject();
        open.push_back(Frame{v, 0});
        break;
      default:
        WriteText(writer, "<kind " + std::to_string(v.kind) + ">");
        break;
    }
  };
  write(value);
  while (!open.empty()) {
    Frame& frame = open.back();
    const HostValue& c = frame.container;
    if (c.kind == HostValueKind_Array) {
      if (!c.u.array.items || frame.next >= c.u.array.count) {
        writer.EndArray();
        open.pop_back();
        continue;
      }
      const HostValue child = c.u.array.items[frame.next++];
      write(child);  // may grow `open`: `frame` is not used after this
    } else {
      if (!c.u.object.entries || frame.next >= c.u.object.count) {
        writer.EndObject();
        open.pop_back();
        continue;
      }
      const HostObjectEntry& entry = c.u.object.entries[frame.next++];
      const char* key = entry.key ? entry.key : "";
      writer.Key(key, JsonSize(std::strlen(key)));
      const HostValue child = entry.value;
      write(child);
    }
  }
  return Written(buffer);
}

Reply Reply::Json(std::string json, int32_t status) {
  Reply reply;
  reply.status = status;
  reply.bodyJson = std::move(json);
  return reply;
}

Reply Reply::Failure(int32_t status, std::string text) {
  Reply reply;
  reply.status = status;
  reply.error = std::move(text);
  return reply;
}

Reply Reply::Stream(std::vector<std::string> chunks, uint32_t sizeHint) {
  Reply reply;
  reply.stream = true;
  reply.chunks = std::move(chunks);
  reply.streamSizeHint = sizeHint;
  return reply;
}

struct Core::Stream {
  std::vector<std::string> chunks;
  size_t index = 0;   // the chunk being read
  size_t offset = 0;  // bytes of it already delivered
  bool failsAtEnd = false;
  Core* core = nullptr;

  static uint8_t Read(void* stream, void* buffer, uint32_t* count, uint8_t* more) {
    auto* self = static_cast<Stream*>(stream);
    if (!self || !count || !more) return 0;
    const uint32_t room = *count;
    *count = 0;
    if (self->index >= self->chunks.size()) {
      *more = 0;
      return self->failsAtEnd ? 0 : 1;
    }
    const std::string& chunk = self->chunks[self->index];
    const size_t n = std::min<size_t>(room, chunk.size() - self->offset);
    if (n > 0) {
      if (!buffer) return 0;
      std::memcpy(buffer, chunk.data() + self->offset, n);
    }
    self->offset += n;
    if (self->offset == chunk.size()) {
      ++self->index;
      self->offset = 0;
    }
    *count = static_cast<uint32_t>(n);
    // A failing stream promises more past its last chunk, so that the reader
    // comes back and meets the failure.
    *more = self->index < self->chunks.size() || self->failsAtEnd ? 1 : 0;
    return 1;
  }

  static void Close(void* stream) {
    auto* self = static_cast<Stream*>(stream);
    if (!self) return;
    Core& core = *self->core;
    ++core.streamsClosed_;
    std::erase(core.openStreams_, self);
    delete self;
  }
};

Core::Core(ClockMode mode, uintptr_t handle)
    : state_{CoreApi{&Core::Request, &Core::Reserved1, &Core::SendEvent, &Core::RegisterEventHandler,
                     &Core::UnregisterEventHandler, &Core::ScheduleCallback, &Core::Pump, &Core::BeginWait,
                     &Core::EndWait, &Core::Log},
             this},
      handle_(handle),
      mode_(mode),
      realStart_(RealSeconds()) {}

Core::~Core() {
  // A plug-in that never closed its streams is seen in the counts; the
  // blocks still go, so that leak checks point at the plug-in's own leaks.
  for (Stream* stream : openStreams_) delete stream;
}

Core& Core::From(const CoreApi* api) {
  // The table is the first member of the state, so its address is the state's.
  return *reinterpret_cast<const State*>(api)->self;
}

double Core::Now() const { return mode_ == ClockMode::Virtual ? virtualNow_ : RealSeconds() - realStart_; }

void Core::AdvanceTime(double seconds) {
  if (!(seconds > 0)) seconds = 0;
  AdvanceTo(Now() + seconds);
}

void Core::MoveClockTo(double when) {
  if (mode_ == ClockMode::Virtual) {
    virtualNow_ = std::max(virtualNow_, when);
  } else if (when > Now()) {
    std::this_thread::sleep_for(std::chrono::duration<double>(when - Now()));
  }
}

double Core::NextDue() const {
  return queue_.empty() ? std::numeric_limits<double>::infinity() : queue_.begin()->first.first;
}

void Core::AdvanceTo(double target) {
  if (!(target >= Now())) target = Now();
  double instant = Now();
  int turnsAtInstant = 0;
  while (!queue_.empty() && queue_.begin()->first.first <= target) {
    MoveClockTo(queue_.begin()->first.first);
    if (Now() != instant) {
      instant = Now();
      turnsAtInstant = 0;
    } else if (++turnsAtInstant > kTurnsPerInstant) {
      misuse_.push_back("AdvanceTime: callbacks keep rescheduling themselves at " + std::to_string(instant) + " s");
      break;
    }
    RunOnce();
  }
  MoveClockTo(target);
  RunOnce();
}

void Core::RunOnce() {
  // Work added during the turn waits for a later one, even when a handler
  // pumps a nested turn meanwhile.
  const double now = Now();
  const uint64_t callbackLimit = scheduleSequence_;
  const uint64_t eventLimit = eventsQueued_;
  for (;;) {
    auto it = queue_.begin();
    while (it != queue_.end() && it->first.first <= now && it->first.second >= callbackLimit) ++it;
    if (it == queue_.end() || it->first.first > now) break;
    const size_t index = it->second;
    queue_.erase(it);
    history_[index].ran = true;
    // The callback may schedule more, which moves history_.
    const ScheduledCallback callback = history_[index].callback;
    void* const context = history_[index].context;
    callback(context);
  }
  while (eventsTaken_ < eventLimit && !pendingEvents_.empty()) {
    QueuedEvent event = std::move(pendingEvents_.front());
    pendingEvents_.pop_front();
    ++eventsTaken_;
    Deliver(event.name, event.payloadJson);
  }
}

void Core::QueueEvent(std::string name, std::string payloadJson) {
  pendingEvents_.push_back(QueuedEvent{std::move(name), std::move(payloadJson)});
  ++eventsQueued_;
}

void Core::SetResource(const std::string& uri, const std::string& json) {
  StoreResource(uri, json, resources_.count(uri) != 0 ? "Update" : "Create");
}

void Core::UpdateResource(const std::string& uri, const std::string& json) { StoreResource(uri, json, "Update"); }

std::string Core::ResourcePayload(const std::string& uri, const std::string& json, const char* eventType) {
  rapidjson::StringBuffer buffer;
  JsonWriter writer(buffer);
  writer.StartObject();
  writer.Key("uri");
  WriteText(writer, uri);
  writer.Key("eventType");
  writer.String(eventType);
  writer.Key("data");
  WriteJson(writer, json);
  writer.EndObject();
  return Written(buffer);
}

void Core::StoreResource(const std::string& uri, const std::string& json, const char* eventType) {
  resources_[uri] = json;
  QueueEvent(Vexa::EventNameForUri(uri), ResourcePayload(uri, json, eventType));
}

void Core::DeleteResource(const std::string& uri) {
  resources_.erase(uri);
  QueueEvent(Vexa::EventNameForUri(uri), ResourcePayload(uri, "", "Delete"));
}

void Core::DeliverResource(const std::string& uri, const std::string& json, const std::string& eventType) {
  if (eventType == "Delete") {
    resources_.erase(uri);
  } else {
    resources_[uri] = json;
  }
  Deliver(Vexa::EventNameForUri(uri), ResourcePayload(uri, eventType == "Delete" ? "" : json, eventType.c_str()));
}

void Core::PushLcds(const std::string& className, const std::string& bodyJson) {
  const std::string name = Vexa::LcdsEventName(className);
  rapidjson::StringBuffer buffer;
  JsonWriter writer(buffer);
  writer.StartObject();
  writer.Key("clientId");
  writer.String("client");
  writer.Key("subtopic");
  writer.String("");
  writer.Key("typeName");
  WriteText(writer, className);
  writer.Key("body");
  WriteJson(writer, bodyJson);
  writer.EndObject();
  QueueEvent(name, Written(buffer));
}

void Core::PushEvent(const std::string& name, const std::string& payloadJson) { QueueEvent(name, payloadJson); }

void Core::DeliverEvent(const std::string& name, const std::string& payloadJson) { Deliver(name, payloadJson); }

std::string Core::ServiceProxyAnswer(const std::string& uuid, const std::string& service, const std::string& method,
                                     const std::string& payload, const std::string& status,
                                     const std::string& error) {
  rapidjson::StringBuffer buffer;
  JsonWriter writer(buffer);
  writer.StartObject();
  const std::pair<const char*, const std::string*> fields[] = {{"uuid", &uuid},       {"serviceName", &service},
                                                               {"methodName", &method}, {"payload", &payload},
                                                               {"status", &status},   {"error", &error}};
  for (const auto& [key, text] : fields) {
    writer.Key(key);
    WriteText(writer, *text);
  }
  writer.EndObject();
  return Written(buffer);
}

void Core::OnRequest(uint32_t method, const std::string& url, RequestHandler handler) {
  requestHandlers_[{method, url}] = std::move(handler);
}

void Core::SetLcdsHandler(const std::string& destination, const std::string& method, LcdsHandler handler) {
  lcdsHandlers_[{destination, method}] = std::move(handler);
}

void Core::ForgetServices() {
  requestHandlers_.clear();
  lcdsHandlers_.clear();
}

void Core::ForgetRecords() {
  requests_.clear();
  events_.clear();
  logs_.clear();
  waitLabels_.clear();
  unregistered_.clear();
}

bool Core::HasHandler(const std::string& eventName) const {
  return std::any_of(handlers_.begin(), handlers_.end(),
                     [&](const EventHandlerRecord& h) { return h.eventName == eventName; });
}

void Core::Fire(const ScheduledRecord& record) {
  if (record.callback) record.callback(record.context);
}

Reply Core::Serve(const RequestRecord& request) {
  if (auto it = requestHandlers_.find({request.method, request.url}); it != requestHandlers_.end()) {
    // The handler may replace itself while it runs.
    const RequestHandler handler = it->second;
    return handler(request);
  }
  const std::string path = request.url.substr(0, request.url.find('?'));
  if (request.method == kGet) {
    auto it = resources_.find(request.url);
    if (it == resources_.end()) it = resources_.find(path);
    if (it != resources_.end()) return Reply::Json(it->second);
  }
  if (request.method == kPost) {
    if (path == "/tov-login/v1/session/invoke") return ServeLcdsInvoke(request);
    if (path == "/tov-login/v1/service-proxy-method-requests") return Reply::Json("");
    if (path == "/tov-login/v1/service-proxy-uuid-requests")
      return Reply::Json("\"uuid-" + std::to_string(nextUuid_++) + "\"");
    if (path.starts_with("/telemetry/v1/events/")) return Reply::Json("");
  }
  return Reply::Failure(404, std::string("No resource at ") + MethodName(request.method) + " " + request.url);
}

Reply Core::ServeLcdsInvoke(const RequestRecord& request) {
  std::string destination, method;
  HostValue callArgs{};
  if (request.args.size() < 3 || !JsonText(request.args[0], &destination) || !JsonText(request.args[1], &method) ||
      !HostValueFromJson(request.args[2], &callArgs) || callArgs.kind != HostValueKind_Array) {
    FreeHostValue(&callArgs);
    return Reply::Failure(400, "Malformed LCDS invoke: expected a destination, a method and an array of arguments");
  }
  std::vector<std::string> args;
  for (uint32_t i = 0; i < callArgs.u.array.count; ++i) args.push_back(HostValueToJson(callArgs.u.array.items[i]));
  FreeHostValue(&callArgs);

  const auto it = lcdsHandlers_.find({destination, method});
  if (it == lcdsHandlers_.end()) return Reply::Failure(404, "No LCDS handler for " + destination + "." + method);
  const LcdsHandler handler = it->second;
  const LcdsReply answer = handler(args);
  if (!answer.error.empty()) return Reply::Failure(answer.status, answer.error);
  rapidjson::StringBuffer buffer;
  JsonWriter writer(buffer);
  writer.StartObject();
  writer.Key("typeName");
  WriteText(writer, answer.typeName);
  writer.Key("body");
  WriteJson(writer, answer.bodyJson);
  writer.EndObject();
  return Reply::Json(Written(buffer), answer.status);
}

void Core::Fill(RemotingResponse* response, const Reply& reply) {
  response->status = reply.status;
  auto fail = [&](const std::string& text) {
    texts_.push_back(text);
    response->error = texts_.back().c_str();
  };
  if (!reply.error.empty()) {
    fail(reply.error);
    return;
  }
  if (reply.stream) {
    auto* stream = new Stream{reply.chunks, 0, 0, reply.streamFailsAtEnd, this};
    openStreams_.push_back(stream);
    ++streamsOpened_;
    response->stream = stream;
    response->streamRead = &Stream::Read;
    response->streamClose = &Stream::Close;
    response->streamSizeHint = reply.streamSizeHint;
    return;
  }
  HostValue body{};
  if (!HostValueFromJson(reply.bodyJson.empty() ? "null" : reply.bodyJson, &body)) {
    misuse_.push_back("A scripted reply is not JSON: " + reply.bodyJson);
    response->status = 500;
    fail("The scripted reply is not JSON");
    return;
  }
  response->body = body;
  response->release = &ReleaseBody;
}

void Core::Deliver(const std::string& name, const std::string& payloadJson) {
  std::vector<EventHandlerRecord> targets;
  for (const EventHandlerRecord& h : handlers_)
    if (h.eventName == name) targets.push_back(h);
  if (targets.empty()) return;
  HostValue payload{};
  if (!HostValueFromJson(payloadJson.empty() ? "null" : payloadJson, &payload)) {
    misuse_.push_back("The payload of event " + name + " is not JSON: " + payloadJson);
    return;
  }
  if (onDeliver) onDeliver(name, payloadJson);
  for (const EventHandlerRecord& target : targets) {
    // Handlers re-enter the core; one unregistered (or replaced) by an
    // earlier one is not called any more.
    const bool current = std::any_of(handlers_.begin(), handlers_.end(), [&](const EventHandlerRecord& h) {
      return h.eventName == name && h.coreHandle == target.coreHandle && h.callback == target.callback &&
             h.context == target.context;
    });
    if (!current) continue;
    const HostEvent event{name.c_str(), payload, target.context};
    target.callback(&event);
  }
  FreeHostValue(&payload);
}

void Core::Request(const CoreApi* api, RemotingResponse* response, const RemotingRequest* request) {
  Core& core = From(api);
  if (!response || !request) {
    core.misuse_.push_back("Request without a response or a request");
    return;
  }
  RequestRecord record;
  record.method = request->method;
  record.url = request->url ? request->url : "";
  for (uint32_t i = 0; request->args && i < request->argCount; ++i)
    record.args.push_back(HostValueToJson(request->args[i].value));
  record.requestWord = request->requestWord;
  if (request->body && request->bodyLength)
    record.body.assign(static_cast<const char*>(request->body), request->bodyLength);
  if (request->contentType) record.contentType = request->contentType;
  core.requests_.push_back(record);
  if (core.onRequest) core.onRequest(record);
  // Served from a copy: a handler may cause more requests, which move requests_.
  const Reply reply = core.onServe ? core.onServe(record) : core.Serve(record);
  if (core.onReply) core.onReply(record, reply);
  core.Fill(response, reply);
}

void Core::Reserved1(const CoreApi* api, uintptr_t, uintptr_t) {
  From(api).misuse_.push_back("Reserved1 called");
}

void Core::SendEvent(const CoreApi* api, const HostEvent* event) {
  Core& core = From(api);
  if (!event || !event->name) {
    core.misuse_.push_back("SendEvent without an event name");
    return;
  }
  SentEvent sent{event->name, HostValueToJson(event->payload), reinterpret_cast<uintptr_t>(event->context)};
  core.QueueEvent(sent.name, sent.payloadJson);
  core.events_.push_back(std::move(sent));
  if (core.onSend) core.onSend(core.events_.back());
}

void Core::RegisterEventHandler(const CoreApi* api, const char* eventName, uintptr_t coreHandle,
                                HostEventCallback callback, void* context, uint32_t flags) {
  Core& core = From(api);
  if (!eventName || !callback) {
    core.misuse_.push_back(std::string("RegisterEventHandler without a name or a callback: ") +
                           (eventName ? eventName : "(null)"));
    return;
  }
  for (EventHandlerRecord& h : core.handlers_) {
    if (h.eventName == eventName && h.coreHandle == coreHandle) {
      h.callback = callback;
      h.context = context;
      h.flags = flags;
      return;
    }
  }
  core.handlers_.push_back(EventHandlerRecord{eventName, coreHandle, callback, context, flags});
}

void Core::UnregisterEventHandler(const CoreApi* api, const char* eventName, uintptr_t coreHandle) {
  Core& core = From(api);
  const std::string name = eventName ? eventName : "";
  core.unregistered_.push_back(name);
  const size_t removed = std::erase_if(core.handlers_, [&](const EventHandlerRecord& h) {
    return h.eventName == name && h.coreHandle == coreHandle;
  });
  if (removed == 0) core.misuse_.push_back("UnregisterEventHandler for " + name + ", which has no handler");
}

void Core::ScheduleCallback(const CoreApi* api, const char* label, ScheduledCallback callback, void* context,
                            double delaySeconds, uint32_t) {
  Core& core = From(api);
  if (!callback) {
    core.misuse_.push_back(std::string("ScheduleCallback without a callback: ") + (label ? label : "(null)"));
    return;
  }
  if (!(delaySeconds > 0)) delaySeconds = 0;  // NaN and negatives run on the next turn
  const double dueAt = core.Now() + delaySeconds;
  core.history_.push_back(ScheduledRecord{label ? label : "", callback, context, delaySeconds, dueAt, false});
  core.queue_.emplace(std::make_pair(dueAt, core.scheduleSequence_++), core.history_.size() - 1);
}

void Core::Pump(const CoreApi* api) {
  Core& core = From(api);
  ++core.waits_.pump;
  if (core.onPump) core.onPump(core.waits_.pump);
  core.RunOnce();
}

void Core::BeginWait(const CoreApi* api, const char* label, uint32_t) {
  Core& core = From(api);
  ++core.waits_.beginWait;
  ++core.waitDepth_;
  core.waitLabels_.push_back(label ? label : "");
}

void Core::EndWait(const CoreApi* api) {
  Core& core = From(api);
  if (core.waitDepth_ == 0) {
    core.misuse_.push_back("EndWait without BeginWait");
    return;
  }
  --core.waitDepth_;
  ++core.waits_.endWait;
}

void Core::Log(const CoreApi* api, int32_t level, const char* message) {
  Core& core = From(api);
  core.logs_.push_back(LogLine{level, message ? message : ""});
  if (core.onLog) core.onLog(core.logs_.back());
}

PluginLibrary::PluginLibrary(const std::string& path) {
  // A plug-in carries its own C++ runtime, whose static buffers live as long
  // as its mapping: keep the code mapped for the rest of the process.
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!handle_) {
    const char* why = dlerror();
    error_ = why ? why : "cannot load " + path;
    return;
  }
  entry_ = reinterpret_cast<TovPluginEntry>(dlsym(handle_, TOV_PLUGIN_ENTRY_NAME));
  if (!entry_) error_ = path + " does not export " TOV_PLUGIN_ENTRY_NAME;
}

PluginLibrary::~PluginLibrary() {
  if (handle_) dlclose(handle_);
}

PluginHandshake PluginLibrary::Handshake(uint32_t major, uint32_t minor, uint32_t patch) const {
  PluginHandshake record{};
  record.major = major;
  record.minor = minor;
  record.patch = patch;
  if (entry_) entry_(&record);
  return record;
}

bool ParseVersion(const std::string& text, uint32_t* major, uint32_t* minor, uint32_t* patch) {
  unsigned a = 0, b = 0, c = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%u.%u.%u%c", &a, &b, &c, &tail) != 3) return false;
  *major = a;
  *minor = b;
  *patch = c;
  return true;
}

}  // namespace TovHost
