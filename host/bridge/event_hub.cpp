#include "bridge/event_hub.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>

namespace TovBridge {
namespace {

constexpr const char* kEventTypes[] = {"Create", "Update", "Delete"};
// The generic event every resource change is also sent under; the specific
// name ("OnJsonApiEvent_<uri>") is the one a late subscriber is shown.
constexpr const char* kGenericEvent = "OnJsonApiEvent";
constexpr const char* kPrefix = "/tov-vover-orevid-aredez/v1/";

std::string Compact(const rapidjson::Value& value) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  value.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

// A resource event's type by name; "" when it is none of the three.
std::string EventTypeName(const rapidjson::Value& type) {
  if (type.IsString()) {
    const std::string name = type.GetString();
    for (const char* known : kEventTypes)
      if (name == known) return name;
    return "";
  }
  if (type.IsInt64() && type.GetInt64() >= 0 && type.GetInt64() < 3) return kEventTypes[type.GetInt64()];
  return "";
}

std::string ResourceEvent(const std::string& uri, const char* eventType, const std::string& dataJson) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.StartObject();
  writer.Key("uri");
  writer.String(uri.data(), static_cast<rapidjson::SizeType>(uri.size()));
  writer.Key("eventType");
  writer.String(eventType);
  writer.Key("data");
  writer.RawValue(dataJson.data(), dataJson.size(), rapidjson::kObjectType);
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace

std::string SseFrame(const std::string& name, const std::string& dataJson, uint64_t id) {
  std::string frame;
  frame.reserve(dataJson.size() + name.size() + 40);
  if (id != 0) frame += "id: " + std::to_string(id) + "\n";
  frame += "event: " + name + "\ndata: " + dataJson + "\n\n";
  return frame;
}

namespace {

void NameEventType(rapidjson::Document& payload) {
  if (!payload.IsObject() || !payload.HasMember("uri") || !payload.HasMember("eventType")) return;
  const std::string type = EventTypeName(payload["eventType"]);
  if (!type.empty())
    payload["eventType"].SetString(type.data(), static_cast<rapidjson::SizeType>(type.size()), payload.GetAllocator());
}

}  // namespace

std::string StreamPayload(const std::string& payloadJson) {
  rapidjson::Document payload;
  payload.Parse<rapidjson::kParseIterativeFlag>(payloadJson.data(), payloadJson.size());
  if (payload.HasParseError()) return "";
  NameEventType(payload);
  return Compact(payload);
}

// ---- Subscriber -------------------------------------------------------------

bool EventHub::Subscriber::Push(const std::shared_ptr<const std::string>& frame, const Limits& limits) {
  std::lock_guard lock(mutex_);
  if (dropped_ || closed_) return false;
  if (frames_.size() + 1 > limits.maxQueuedFrames || bytes_ + frame->size() > limits.maxQueuedBytes) {
    // Its reader is not keeping up: the stream ends rather than grows. A
    // client that reconnects starts again from the current state.
    dropped_ = true;
    frames_.clear();
    bytes_ = 0;
    ready_.notify_all();
    return false;
  }
  frames_.push_back(frame);
  bytes_ += frame->size();
  ready_.notify_all();
  return true;
}

EventHub::Subscriber::Next EventHub::Subscriber::Take(std::chrono::milliseconds timeout, std::string* out) {
  std::unique_lock lock(mutex_);
  ready_.wait_for(lock, timeout, [&] { return !frames_.empty() || dropped_ || closed_; });
  if (dropped_) return Next::Closed;
  if (frames_.empty()) return closed_ ? Next::Closed : Next::Idle;
  // What was queued before a close still goes out.
  for (const auto& frame : frames_) out->append(*frame);
  frames_.clear();
  bytes_ = 0;
  return Next::Frames;
}

bool EventHub::Subscriber::Dropped() const {
  std::lock_guard lock(mutex_);
  return dropped_;
}

// ---- Hub ------------------------------------------------------------------

void EventHub::Publish(const std::string& name, const std::string& payloadJson) {
  rapidjson::Document payload;
  payload.Parse<rapidjson::kParseIterativeFlag>(payloadJson.data(), payloadJson.size());
  std::string streamed;
  if (payload.HasParseError()) {
    // Not JSON: sent as a JSON string, so the stream's line stays one line.
    rapidjson::Value text(payloadJson.data(), static_cast<rapidjson::SizeType>(payloadJson.size()));
    streamed = Compact(text);
  } else {
    NameEventType(payload);
    streamed = Compact(payload);
  }

  std::lock_guard lock(mutex_);
  if (closed_) return;
  if (!payload.HasParseError() && payload.IsObject() && payload.HasMember("uri") && payload["uri"].IsString() &&
      payload.HasMember("eventType")) {
    const std::string uri = payload["uri"].GetString();
    const std::string type = EventTypeName(payload["eventType"]);
    if (type == "Delete") {
      resources_.erase(uri);
    } else if (!type.empty()) {
      Resource& resource = resources_[uri];
      if (resource.eventName.empty() || name != kGenericEvent) resource.eventName = name;
      resource.dataJson = payload.HasMember("data") ? Compact(payload["data"]) : "null";
    }
  }
  const auto frame = std::make_shared<const std::string>(SseFrame(name, streamed, ++published_));
  std::erase_if(subscribers_, [&](const std::shared_ptr<Subscriber>& subscriber) {
    return !subscriber->Push(frame, limits_);
  });
}

std::vector<std::string> EventHub::Snapshot() const {
  static const char* const kFirst[] = {"session", "session/timer", "pickable-champions", "bannable-champions",
                                       "team-boost"};
  std::map<std::string, Resource> shown = resources_;
  // The timer as the session shows it, under a uri of its own.
  const std::string sessionUri = std::string(kPrefix) + "session";
  if (auto session = shown.find(sessionUri); session != shown.end()) {
    rapidjson::Document data;
    data.Parse<rapidjson::kParseIterativeFlag>(session->second.dataJson.data(), session->second.dataJson.size());
    if (!data.HasParseError() && data.IsObject() && data.HasMember("timer"))
      shown[sessionUri + "/timer"] = Resource{session->second.eventName + "_timer", Compact(data["timer"])};
  }
  std::vector<std::string> frames;
  for (const char* first : kFirst) {
    const auto it = shown.find(std::string(kPrefix) + first);
    if (it == shown.end()) continue;
    frames.push_back(SseFrame(it->second.eventName, ResourceEvent(it->first, "Create", it->second.dataJson), 0));
    shown.erase(it);
  }
  for (const auto& [uri, resource] : shown)
    frames.push_back(SseFrame(resource.eventName, ResourceEvent(uri, "Create", resource.dataJson), 0));
  return frames;
}

std::shared_ptr<EventHub::Subscriber> EventHub::Subscribe() {
  std::lock_guard lock(mutex_);
  if (closed_ || subscribers_.size() >= limits_.maxSubscribers) return nullptr;
  auto subscriber = std::make_shared<Subscriber>();
  // Under the hub's lock: no live event can fall between the state and the
  // first live frame, nor appear in both.
  for (std::string& frame : Snapshot()) subscriber->Push(std::make_shared<const std::string>(std::move(frame)), limits_);
  subscribers_.push_back(subscriber);
  return subscriber;
}

void EventHub::Unsubscribe(const std::shared_ptr<Subscriber>& subscriber) {
  std::lock_guard lock(mutex_);
  std::erase(subscribers_, subscriber);
}

void EventHub::Close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
  for (const auto& subscriber : subscribers_) {
    std::lock_guard inner(subscriber->mutex_);
    subscriber->closed_ = true;
    subscriber->ready_.notify_all();
  }
  subscribers_.clear();
}

size_t EventHub::Subscribers() const {
  std::lock_guard lock(mutex_);
  return subscribers_.size();
}

uint64_t EventHub::Published() const {
  std::lock_guard lock(mutex_);
  return published_;
}

}  // namespace TovBridge
