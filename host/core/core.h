// The stand-in for the client's core process: serves a CoreApi table to a
// plug-in, keeps the handlers it registers, answers its requests from a
// resource store and scriptable services, and runs a loop over a clock that
// tests advance explicitly (virtual) or that follows real time.
//
// It knows the plug-in only through include/tov/plugin_abi.h. Values cross
// as HostValue trees, which the stand-in builds from and writes to JSON text
// with its own code, so tests script it in JSON:
//
//   core.SetResource("/tov-gameflow/v1/session", R"({"phase":"ChampSelect"})");
//   core.PushLcds("com.vexagames.platform.game.GameDTO", R"({"id":7})");
//   core.AdvanceTime(2.5);
//   EXPECT_EQ(core.Events().back().name, "OnJsonApiEvent");
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tov/plugin_abi.h"

namespace TovHost {

struct LogLine {
  int32_t level;
  std::string message;
};

struct EventHandlerRecord {
  std::string eventName;
  uintptr_t coreHandle;
  HostEventCallback callback;
  void* context;
  uint32_t flags;
};

enum class ClockMode { Virtual, Real };

// "  OKAY", "  WARN", " ERROR", "ALWAYS"; anything else "     ?".
const char* LevelName(int32_t level);
// "DELETE" … "PUT" for 1 to 7, "CUSTOM" for 8, "" otherwise.
const char* MethodName(uint32_t method);

// ---- HostValue and JSON text ---------------------------------------------
// Builds an owned HostValue tree (every kind owned: String, Bytes never,
// Array, Object with owned keys) from JSON text; false on malformed text.
// Whole numbers become Int64 (UInt64 above INT64_MAX), others Double;
// NaN, Infinity and -Infinity are read too, so a script can hand a plug-in
// the doubles a JSON text cannot carry.
bool HostValueFromJson(const std::string& json, HostValue* out);
// Frees a tree made by HostValueFromJson (or any tree of owned kinds whose
// blocks came from the C++ new of this process).
void FreeHostValue(HostValue* value);
// Compact JSON of any HostValue; Bytes as a Base64 text, unknown kinds as
// "<kind N>".
std::string HostValueToJson(const HostValue& value);

// One request the plug-in made.
struct RequestRecord {
  uint32_t method = 0;
  std::string url;
  std::vector<std::string> args;  // each argument value as compact JSON
  uintptr_t requestWord = 0;
  std::string body;  // the body bytes as sent, if any
  std::string contentType;
};

// What a scripted service answers to one request.
struct Reply {
  int32_t status = 200;
  std::string error;     // non-empty: the response's failure text
  std::string bodyJson;  // the body value; empty: Null
  // Stream: the body comes through the stream functions in these chunks,
  // one read each (a chunk larger than the plug-in's buffer is served over
  // several reads); `more` stays set until the last chunk.
  bool stream = false;
  std::vector<std::string> chunks;
  uint32_t streamSizeHint = 0;
  bool streamFailsAtEnd = false;  // after the chunks, read reports failure

  static Reply Json(std::string json, int32_t status = 200);
  static Reply Failure(int32_t status, std::string text);
  static Reply Stream(std::vector<std::string> chunks, uint32_t sizeHint = 0);
};
using RequestHandler = std::function<Reply(const RequestRecord&)>;

// An LCDS service's answer: the platform class of the returned object and
// the object, or a failure of the invoke request.
struct LcdsReply {
  std::string typeName{};
  std::string bodyJson{};  // empty: Null
  std::string error{};     // non-empty: the invoke request fails
  int32_t status = 200;
};
// Called with the invoke's call arguments, each as compact JSON.
using LcdsHandler = std::function<LcdsReply(const std::vector<std::string>& args)>;

// An event the plug-in sent.
struct SentEvent {
  std::string name;
  std::string payloadJson;
  uintptr_t context = 0;
};

// Every ScheduleCallback call, kept after it ran so a test can fire a stale
// context again.
struct ScheduledRecord {
  std::string label;
  ScheduledCallback callback = nullptr;
  void* context = nullptr;
  double delaySeconds = 0;
  double dueAt = 0;  // on the core's clock
  bool ran = false;
};

struct WaitCounts {
  int beginWait = 0;
  int pump = 0;
  int endWait = 0;
};

class Core {
 public:
  explicit Core(ClockMode mode = ClockMode::Virtual, uintptr_t handle = 0xC0DE);
  ~Core();
  Core(const Core&) = delete;
  Core& operator=(const Core&) = delete;

  const CoreApi* Api() const { return &state_.api; }
  uintptr_t Handle() const { return handle_; }
  CoreContext Context() const { return CoreContext{Api(), handle_}; }

  // ---- Clock and loop ----------------------------------------------------
  // Seconds on the core's clock.
  double Now() const;
  // Moves time forward (virtual: jumps from due time to due time; real:
  // sleeps), running a turn at each due time and one at the end.
  void AdvanceTime(double seconds);
  // The same, up to a time on the core's clock rather than a span from now,
  // so a caller that keeps its own timeline lands exactly on its times.
  void AdvanceTo(double when);
  // Moves the clock alone (virtual: to `when` unless it is already later;
  // real: sleeps until then) and runs nothing: for a caller inside a Pump,
  // whose turn follows.
  void MoveClockTo(double when);
  // One turn of the loop: the callbacks due now, in due order (those
  // scheduled during the turn wait for a later one), then the queued events.
  void RunOnce();
  // When the earliest scheduled callback is due; +infinity when none is.
  double NextDue() const;
  // Events queued and not delivered yet.
  size_t PendingEvents() const { return pendingEvents_.size(); }
  // Called at the start of every Pump with its 1-based count, before the turn.
  std::function<void(int pump)> onPump;

  // ---- Scripting ---------------------------------------------------------
  // Stores the resource (GET answers it) and queues its event for the
  // handlers of its event name: eventType "Create" when new, else "Update".
  void SetResource(const std::string& uri, const std::string& json);
  // Stores the resource and queues an "Update" event even when it is new:
  // what another plug-in sends for a value its subscribers must not ignore.
  void UpdateResource(const std::string& uri, const std::string& json);
  // Removes it and queues a "Delete" event with Null data.
  void DeleteResource(const std::string& uri);
  // Stores the resource (removes it for "Delete") and delivers its event at
  // once, inside this call, as the core may do while the plug-in waits.
  void DeliverResource(const std::string& uri, const std::string& json, const std::string& eventType);
  // Queues an "OnLcdsEvent_" event (the class name with "." as "_") whose
  // payload is {clientId, subtopic, typeName, body}.
  void PushLcds(const std::string& className, const std::string& bodyJson);
  // Queues any event; delivered on the next turn to the handlers of `name`.
  void PushEvent(const std::string& name, const std::string& payloadJson);
  // Delivers at once, inside this call (as the core may do during a request).
  void DeliverEvent(const std::string& name, const std::string& payloadJson);
  // A service-proxy answer payload {uuid, serviceName, methodName, payload,
  // status, error}.
  static std::string ServiceProxyAnswer(const std::string& uuid, const std::string& service,
                                        const std::string& method, const std::string& payload,
                                        const std::string& status = "200", const std::string& error = "");
  // Answers requests with this method and URL (exact, query included); a
  // later handler for the same pair replaces the earlier one. Takes
  // precedence over the built-in services.
  void OnRequest(uint32_t method, const std::string& url, RequestHandler handler);
  // Answers "/tov-login/v1/session/invoke" for a destination and method.
  void SetLcdsHandler(const std::string& destination, const std::string& method, LcdsHandler handler);

  // Built in: GET of a stored resource; POST "/tov-login/v1/session/invoke"
  // through the LCDS table; POST "/tov-login/v1/service-proxy-method-requests"
  // (success, no body) and "/tov-login/v1/service-proxy-uuid-requests" (the
  // text "uuid-1", "uuid-2", …); POST "/telemetry/v1/events/…" (success).
  // Anything else: status 404 and "No resource at {METHOD} {url}".

  // ---- What happened -------------------------------------------------------
  const std::vector<RequestRecord>& Requests() const { return requests_; }
  const std::vector<SentEvent>& Events() const { return events_; }
  const std::vector<LogLine>& Logs() const { return logs_; }
  const std::vector<EventHandlerRecord>& Handlers() const { return handlers_; }
  bool HasHandler(const std::string& eventName) const;
  const std::vector<std::string>& Unregistered() const { return unregistered_; }
  const std::vector<ScheduledRecord>& Scheduled() const { return history_; }
  size_t PendingCallbacks() const { return queue_.size(); }
  // Calls a recorded callback again with its context, as a buggy or late
  // core would.
  void Fire(const ScheduledRecord& record);
  const WaitCounts& Waits() const { return waits_; }
  const std::vector<std::string>& WaitLabels() const { return waitLabels_; }
  int WaitDepth() const { return waitDepth_; }
  // Misuse of the table seen so far (EndWait without BeginWait, unknown
  // handler unregistered, …), one text each.
  const std::vector<std::string>& Misuse() const { return misuse_; }
  int StreamsOpened() const { return streamsOpened_; }
  int StreamsClosed() const { return streamsClosed_; }
  // Called for every line the plug-in logs, as it arrives.
  std::function<void(const LogLine&)> onLog;
  // Called for every request the plug-in makes, before it is served.
  std::function<void(const RequestRecord&)> onRequest;
  // Called for every event the plug-in sends, as it arrives.
  std::function<void(const SentEvent&)> onSend;
  // Called for every event about to reach at least one of the plug-in's
  // handlers, before the first of them runs.
  std::function<void(const std::string& name, const std::string& payloadJson)> onDeliver;
  // Called with every answer the core gives to a request of the plug-in,
  // after it is made and before the plug-in sees it.
  std::function<void(const RequestRecord&, const Reply&)> onReply;
  // Called for every request sent to the plug-in through Call, before it is
  // routed.
  std::function<void(uint32_t method, const std::string& url, const std::string& body, const std::string& contentType,
                     const std::vector<std::pair<std::string, std::string>>& headers)>
      onCall;
  // When set, answers every request of the plug-in in place of the scripted
  // handlers and the built-in services: a replay answers from its record.
  std::function<Reply(const RequestRecord&)> onServe;
  // Drops every request and LCDS handler, so that services which end before
  // the core (one game's, when several are played on one plug-in) leave
  // nothing behind that points at them.
  void ForgetServices();
  // Drops the records of requests, events, log lines and waits, for a long
  // run whose hooks saw them as they came.
  void ForgetRecords();

  // ---- Calling the plug-in ---------------------------------------------
  // Takes the function records of a plug-in's API description (from its
  // handshake); they stay the plug-in's and must outlive their use here.
  void UseApi(const ApiDescription* api) { pluginApi_ = api; }
  const ApiDescription* PluginApi() const { return pluginApi_; }
  // The record whose method and path template fit: the core's own small
  // router ("{x}" one segment, "{+x}" the rest; more literal segments win).
  const PluginFunctionRecord* Route(uint32_t method, const std::string& url) const;
  struct CallResult {
    bool routed = false;  // false: no function fits; status 404
    int32_t status = 0;
    std::string error;     // the response's failure text
    std::string bodyJson;  // the body, or the stream's text
    std::string contentType;
    std::vector<std::pair<std::string, std::string>> headers;
  };
  // Sends one request to the plug-in through the fitting record's dispatch.
  CallResult Call(uint32_t method, const std::string& url, const std::string& body = {},
                  const std::string& contentType = "application/json",
                  const std::vector<std::pair<std::string, std::string>>& headers = {});

 private:
  struct State {
    CoreApi api;
    Core* self;
  };
  struct QueuedEvent {
    std::string name;
    std::string payloadJson;
  };
  struct Stream;
  static Core& From(const CoreApi* api);

  static void Request(const CoreApi* api, RemotingResponse* response, const RemotingRequest* request);
  static void Reserved1(const CoreApi* api, uintptr_t a, uintptr_t b);
  static void SendEvent(const CoreApi* api, const HostEvent* event);
  static void RegisterEventHandler(const CoreApi* api, const char* eventName, uintptr_t coreHandle,
                                   HostEventCallback callback, void* context, uint32_t flags);
  static void UnregisterEventHandler(const CoreApi* api, const char* eventName, uintptr_t coreHandle);
  static void ScheduleCallback(const CoreApi* api, const char* label, ScheduledCallback callback,
                               void* context, double delaySeconds, uint32_t reserved);
  static void Pump(const CoreApi* api);
  static void BeginWait(const CoreApi* api, const char* label, uint32_t reserved);
  static void EndWait(const CoreApi* api);
  static void Log(const CoreApi* api, int32_t level, const char* message);

  Reply Serve(const RequestRecord& request);
  Reply ServeLcdsInvoke(const RequestRecord& request);
  void Fill(RemotingResponse* response, const Reply& reply);
  void Deliver(const std::string& name, const std::string& payloadJson);
  void QueueEvent(std::string name, std::string payloadJson);
  void StoreResource(const std::string& uri, const std::string& json, const char* eventType);
  static std::string ResourcePayload(const std::string& uri, const std::string& json, const char* eventType);

  State state_;
  uintptr_t handle_;
  ClockMode mode_;
  double virtualNow_ = 0;
  double realStart_;
  // (due time, sequence) → index into history_
  std::multimap<std::pair<double, uint64_t>, size_t> queue_;
  uint64_t scheduleSequence_ = 0;
  std::vector<ScheduledRecord> history_;
  std::deque<QueuedEvent> pendingEvents_;
  std::map<std::string, std::string> resources_;
  std::map<std::pair<uint32_t, std::string>, RequestHandler> requestHandlers_;
  std::map<std::pair<std::string, std::string>, LcdsHandler> lcdsHandlers_;
  uint64_t nextUuid_ = 1;
  std::vector<RequestRecord> requests_;
  std::vector<SentEvent> events_;
  std::vector<LogLine> logs_;
  std::vector<EventHandlerRecord> handlers_;
  std::vector<std::string> unregistered_;
  std::deque<std::string> texts_;  // failure texts handed out, alive as long as the core
  std::vector<std::string> waitLabels_;
  std::vector<std::string> misuse_;
  WaitCounts waits_;
  int waitDepth_ = 0;
  int streamsOpened_ = 0;
  int streamsClosed_ = 0;
  // Counts of events ever queued and taken, so a turn (even one nested in a
  // pump from a handler) delivers only what was queued before it began.
  uint64_t eventsQueued_ = 0;
  uint64_t eventsTaken_ = 0;
  // Streams handed out and not closed yet; the core frees them when it ends.
  std::vector<Stream*> openStreams_;
  const ApiDescription* pluginApi_ = nullptr;
};

// "GET" and friends to the request method code; 0 when unknown.
uint32_t MethodCode(const std::string& name);

// A plug-in library loaded into this process and the objects made from it.
class PluginLibrary {
 public:
  // Loads the library and finds the export; Error() says why not.
  explicit PluginLibrary(const std::string& path);
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  bool Loaded() const { return entry_ != nullptr; }
  const std::string& Error() const { return error_; }
  // Calls the export with the core's version; the record holds the answer.
  PluginHandshake Handshake(uint32_t major, uint32_t minor, uint32_t patch) const;

 private:
  void* handle_ = nullptr;
  TovPluginEntry entry_ = nullptr;
  std::string error_;
};

// "18.0.0" into three numbers; false when malformed.
bool ParseVersion(const std::string& text, uint32_t* major, uint32_t* minor, uint32_t* patch);

}  // namespace TovHost
