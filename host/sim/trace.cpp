#include "sim/trace.h"

#include <cstdlib>

#include "sim/json.h"

namespace TovSim {
namespace {

constexpr size_t kTimelineWidth = 200;

std::string Cut(std::string text, size_t width = kTimelineWidth) {
  if (text.size() > width) text = text.substr(0, width - 3) + "...";
  return text;
}

// Any JSON text as compact JSON (so a line stays one line); text that is not
// JSON becomes a JSON string; nothing becomes null.
std::string Compact(const std::string& text) {
  if (text.empty()) return "null";
  std::string compact;
  return CompactJson(text, &compact) ? compact : Quoted(text);
}

const char* EventTypeName(int64_t type) {
  static const char* const kNames[] = {"Create", "Update", "Delete"};
  return type >= 0 && type < 3 ? kNames[type] : nullptr;
}

// A resource event's payload with its event type by name, whatever form the
// plug-in gave it in.
std::string EventPayload(const std::string& payloadJson) {
  rapidjson::Document document = ParseJson(payloadJson);
  if (document.HasParseError() || !document.IsObject() || !document.HasMember("eventType") ||
      !document["eventType"].IsInt64())
    return Compact(payloadJson);
  if (const char* name = EventTypeName(document["eventType"].GetInt64()))
    document["eventType"].SetString(rapidjson::StringRef(name));
  return ToJson(document);
}

std::string Member(const rapidjson::Value& object, const char* key) {
  if (!object.IsObject() || !object.HasMember(key)) return "";
  const rapidjson::Value& value = object[key];
  return value.IsString() ? std::string(value.GetString(), value.GetStringLength()) : ToJson(value);
}

// A pushed event as one short line: what a reader of the timeline needs.
std::string PushSummary(const std::string& name, const std::string& payloadJson) {
  const rapidjson::Document payload = ParseJson(payloadJson);
  if (payload.HasParseError() || !payload.IsObject()) return name;
  if (payload.HasMember("typeName") && payload.HasMember("body")) {
    const rapidjson::Value& body = payload["body"];
    std::string text = Member(payload, "typeName");
    text = text.substr(text.rfind('.') + 1);
    if (text == "GameDTO")
      return "GameDTO " + Member(body, "id") + " lock " + Member(body, "optimisticLock") + " " +
             Member(body, "gameState") + " turn " + Member(body, "pickTurn") + " status " +
             Member(body, "statusOfParticipants");
    return Cut(text + " " + ToJson(body));
  }
  if (payload.HasMember("serviceName"))
    return Cut(Member(payload, "serviceName") + "." + Member(payload, "methodName") + " " +
               Member(payload, "payload") + (Member(payload, "error").empty() ? "" : " error " + Member(payload, "error")));
  return Cut(Member(payload, "eventType") + " " + Member(payload, "uri") + " " + Member(payload, "data"));
}

// A number exactly: the shortest text that reads back as the same double.
std::string Number(double value) { return JsonWriter().Double(value).Text(); }

}  // namespace

std::string CallKey(const TovHost::RequestRecord& request) {
  const std::string path = request.url.substr(0, request.url.find('?'));
  if ((path == "/tov-login/v1/session/invoke" || path == "/tov-login/v1/service-proxy-method-requests") &&
      request.args.size() >= 2) {
    const rapidjson::Document destination = ParseJson(request.args[0]);
    const rapidjson::Document method = ParseJson(request.args[1]);
    if (destination.IsString() && method.IsString())
      return std::string(destination.GetString()) + "." + method.GetString();
  }
  return path;
}

std::string Trace::Time() const {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", now_());
  return text;
}

void Trace::Line(const std::string& kind, const std::string& fields) {
  if (!jsonLines_ && !keep_ && !sink_) return;
  std::string line = "{\"t\":" + Time() + ",\"kind\":\"" + kind + "\"" + (fields.empty() ? "" : ",") + fields + "}";
  if (sink_) sink_(line);
  if (jsonLines_) {
    std::fputs(line.c_str(), jsonLines_);
    std::fputc('\n', jsonLines_);
    std::fflush(jsonLines_);
  }
  if (keep_) lines_.push_back(std::move(line));
}

void Trace::Timeline(const char* who, const std::string& text) {
  if (!timeline_) return;
  std::fprintf(timeline_, "%9s  %-9s %s\n", Time().c_str(), who, text.c_str());
  std::fflush(timeline_);
}

void Trace::Request(const TovHost::RequestRecord& request) {
  std::string args = "[";
  for (size_t i = 0; i < request.args.size(); ++i) args += (i ? "," : "") + request.args[i];
  args += "]";
  const std::string method = TovHost::MethodName(request.method);
  Line("request", "\"method\":" + Quoted(method) + ",\"url\":" + Quoted(request.url) + ",\"args\":" + args +
                      ",\"body\":" + Compact(request.body));
  if (!timeline_) return;
  // A platform call by its service and method, with its own arguments (an
  // invoke's third, a service-proxy request's payload, the sixth).
  const std::string key = CallKey(request);
  const bool call = key != request.url.substr(0, request.url.find('?'));
  const size_t own = request.args.size() > 5 ? 5 : 2;
  const std::string detail = call ? key + " " + (own < request.args.size() ? request.args[own] : "")
                                  : method + " " + request.url + (request.body.empty() ? "" : " " + request.body) +
                                        (request.args.empty() ? "" : " " + args);
  Timeline("plug-in", "asks " + Cut(detail));
}

void Trace::Event(const TovHost::SentEvent& event) {
  const std::string payload = EventPayload(event.payloadJson);
  Line("event", "\"name\":" + Quoted(event.name) + ",\"payload\":" + payload);
  // Every resource event also goes out under "OnJsonApiEvent"; once is enough
  // for a reader.
  if (event.name != "OnJsonApiEvent") Timeline("plug-in", "publishes " + PushSummary(event.name, payload));
}

void Trace::Input(const std::string& kind, const std::string& fields) {
  const double now = now_();
  if (std::strtod(Time().c_str(), nullptr) != now) Line("clock", "\"at\":" + Number(now));
  Line(kind, fields);
}

void Trace::Push(const std::string& name, const std::string& payloadJson) {
  Input("push", "\"name\":" + Quoted(name) + ",\"payload\":" + Compact(payloadJson));
  Timeline("core", "delivers " + PushSummary(name, payloadJson));
}

void Trace::Log(const TovHost::LogLine& line) {
  Line("log", "\"level\":" + std::to_string(line.level) + ",\"message\":" + Quoted(line.message));
  Timeline("log", std::string(TovHost::LevelName(line.level)) + " " + Cut(line.message));
}

void Trace::Answer(const std::string& method, const std::string& path, const TovHost::Core::CallResult& result) {
  const std::string body = !result.error.empty() ? Quoted(result.error) : Compact(result.bodyJson);
  Line("answer", "\"method\":" + Quoted(method) + ",\"path\":" + Quoted(path) +
                     ",\"status\":" + std::to_string(result.status) + ",\"body\":" + body);
  Timeline("plug-in", "answers " + method + " " + path + ": " + std::to_string(result.status) + " " + Cut(body));
}

void Trace::Reply(const TovHost::Reply& reply) {
  std::string fields = "\"status\":" + std::to_string(reply.status);
  if (!reply.error.empty()) {
    fields += ",\"error\":" + Quoted(reply.error);
  } else if (reply.stream) {
    fields += ",\"chunks\":[";
    for (size_t i = 0; i < reply.chunks.size(); ++i) fields.append(i ? "," : "").append(Quoted(reply.chunks[i]));
    fields.append("],\"sizeHint\":").append(std::to_string(reply.streamSizeHint));
    fields.append(",\"failsAtEnd\":").append(reply.streamFailsAtEnd ? "true" : "false");
  } else if (std::string body; reply.bodyJson.empty() || CompactJson(reply.bodyJson, &body)) {
    fields += ",\"body\":" + (reply.bodyJson.empty() ? std::string("null") : body);
  } else {
    fields += ",\"bodyText\":" + Quoted(reply.bodyJson);
  }
  Line("reply", fields);
}

void Trace::Call(const std::string& method, const std::string& path, const std::string& body,
                 const std::string& contentType, const std::vector<std::pair<std::string, std::string>>& headers) {
  std::string fields = "\"method\":" + Quoted(method) + ",\"path\":" + Quoted(path) + ",\"body\":" + Quoted(body) +
                       ",\"contentType\":" + Quoted(contentType);
  if (!headers.empty()) {
    std::string list;
    for (const auto& [name, value] : headers) list += (list.empty() ? "[" : ",[") + Quoted(name) + "," + Quoted(value) + "]";
    fields += ",\"headers\":[" + list + "]";
  }
  Input("call", fields);
}

void Trace::ClockJump(double seconds) {
  Input("clock", "\"jump\":" + Number(seconds));
  Timeline("clock", "the machine sleeps " + std::to_string(seconds) + " s");
}

void Trace::WallClockShift(double seconds) {
  Input("clock", "\"wallShift\":" + Number(seconds));
  Timeline("clock", "the wall clock is stepped by " + std::to_string(seconds) + " s");
}

void Trace::Shutdown() { Input("shutdown", ""); }

void Trace::End() { Line("end", ""); }

void Trace::Note(const char* who, const std::string& text) { Timeline(who, text); }

}  // namespace TovSim
