#include "core/core.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

namespace TovHost {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// What a plug-in sees of a response once it has read it.
struct Answer {
  int32_t status;
  std::string error;
  std::string body;
};

// Calls the table as a plug-in would.
RemotingResponse Send(Core& core, uint32_t method, const std::string& url,
                      const std::vector<HostNamedValue>& args = {}) {
  RemotingRequest request{};
  request.method = method;
  request.url = url.c_str();
  request.args = args.data();
  request.argCount = static_cast<uint32_t>(args.size());
  request.requestWord = core.Handle();
  RemotingResponse response{};
  core.Api()->Request(core.Api(), &response, &request);
  return response;
}

// The same, with arguments given as JSON and owned by the caller, as a
// plug-in's are; the response is read and released.
Answer Call(Core& core, uint32_t method, const std::string& url, const std::vector<std::string>& args = {}) {
  std::vector<HostNamedValue> named(args.size());
  for (size_t i = 0; i < args.size(); ++i) EXPECT_TRUE(HostValueFromJson(args[i], &named[i].value)) << args[i];
  RemotingResponse response = Send(core, method, url, named);
  const HostValue body = response.body;
  Answer answer{response.status, response.error ? response.error : "", HostValueToJson(body)};
  if (response.release) response.release(&response);
  for (HostNamedValue& arg : named) FreeHostValue(&arg.value);
  return answer;
}

// Records every delivery as "name payload", into the registration's context.
struct Deliveries {
  std::vector<std::string> seen;
  static void Record(const HostEvent* event) {
    static_cast<Deliveries*>(event->context)->seen.push_back(std::string(event->name) + " " +
                                                             HostValueToJson(event->payload));
  }
};

void Listen(Core& core, const std::string& name, Deliveries* into) {
  core.Api()->RegisterEventHandler(core.Api(), name.c_str(), core.Handle(), &Deliveries::Record, into, 0);
}

TEST(HostValueJson, RoundTripsThroughOwnedTrees) {
  const struct {
    const char* in;
    const char* out;
    uint32_t kind;
  } rows[] = {
      {"null", "null", HostValueKind_Null},
      {" { \"a\" : [ 1, -2, 3.5 ], \"b\": {\"c\":\"d\"}, \"e\":{}, \"f\":[] } ",
       R"({"a":[1,-2,3.5],"b":{"c":"d"},"e":{},"f":[]})", HostValueKind_Object},
      {"[true,false,null]", "[true,false,null]", HostValueKind_Array},
      {R"("\u00e9\ud83d\ude00")", "\"\xC3\xA9\xF0\x9F\x98\x80\"", HostValueKind_String},
      {R"("a\u0000b\"\\\n\u001f")", R"("a\u0000b\"\\\n\u001F")", HostValueKind_String},
      {"9223372036854775807", "9223372036854775807", HostValueKind_Int64},
      {"-9223372036854775808", "-9223372036854775808", HostValueKind_Int64},
      {"9223372036854775808", "9223372036854775808", HostValueKind_UInt64},
      {"18446744073709551615", "18446744073709551615", HostValueKind_UInt64},
      {"1.0", "1.0", HostValueKind_Double},
      {"-0.25e2", "-25.0", HostValueKind_Double},
  };
  for (const auto& row : rows) {
    HostValue value{};
    ASSERT_TRUE(HostValueFromJson(row.in, &value)) << row.in;
    EXPECT_EQ(value.kind, row.kind) << row.in;
    EXPECT_EQ(HostValueToJson(value), row.out) << row.in;
    FreeHostValue(&value);
    EXPECT_EQ(value.kind, HostValueKind_Null);
  }

  // Texts a plug-in may read as C strings: NUL-terminated, keys owned.
  HostValue object{};
  ASSERT_TRUE(HostValueFromJson(R"({"key":"text"})", &object));
  ASSERT_EQ(object.u.object.count, 1u);
  EXPECT_STREQ(object.u.object.entries[0].key, "key");
  EXPECT_EQ(object.u.object.entries[0].keyOwned, 1);
  const HostValue text = object.u.object.entries[0].value;
  EXPECT_EQ(text.u.string.length, 4u);
  EXPECT_EQ(text.u.string.data[4], '\0');
  FreeHostValue(&object);

  for (const char* bad : {"", "[1,", R"({"a"})", "[1] 2", R"("\x")", "nul", "01", "\"\xFF\"", "{1:2}"}) {
    HostValue value{};
    value.kind = HostValueKind_Bool;
    EXPECT_FALSE(HostValueFromJson(bad, &value)) << bad;
    EXPECT_EQ(value.kind, HostValueKind_Null) << bad;
  }
}

TEST(HostValueJson, WritesEveryKindAPlugInMaySend) {
  static const char nulInside[] = {'a', '\0', 'b'};
  static const unsigned char bytes[] = {'f', 'o', 'o', 'b', 0xFF, 0xFE};
  // Texts and byte blocks share a layout but not a union member.
  auto borrowed = [](uint32_t kind, const void* data, uint32_t length) {
    HostValue v{};
    v.kind = kind;
    if (kind == HostValueKind_BorrowedString || kind == HostValueKind_String)
      v.u.string = {static_cast<const char*>(data), length};
    else
      v.u.bytes = {data, length};
    return v;
  };
  auto number = [](double d) {
    HostValue v{};
    v.kind = HostValueKind_Double;
    v.u.number = d;
    return v;
  };
  const struct {
    HostValue value;
    const char* json;
  } rows[] = {
      {borrowed(HostValueKind_BorrowedString, nulInside, 3), R"("a\u0000b")"},
      {borrowed(HostValueKind_BorrowedString, "abc", 2), R"("ab")"},  // by length, not to the NUL
      {borrowed(HostValueKind_BorrowedBytes, bytes, 1), R"("Zg==")"},
      {borrowed(HostValueKind_BorrowedBytes, bytes, 2), R"("Zm8=")"},
      {borrowed(HostValueKind_Bytes, bytes, 6), R"("Zm9vYv/+")"},
      {number(std::nan("")), "null"},
      {number(-HUGE_VAL), "null"},
      {borrowed(42, nullptr, 0), R"("<kind 42>")"},
  };
  for (const auto& row : rows) EXPECT_EQ(HostValueToJson(row.value), row.json) << row.json;
}

TEST(HostValueJson, HundredThousandDeepTreesNeitherCrashNorLeak) {
  constexpr int kDepth = 100000;
  const struct {
    std::string open, leaf, close;
  } shapes[] = {{"[", "", "]"}, {R"({"k":)", "null", "}"}};
  for (const auto& shape : shapes) {
    std::string json;
    for (int i = 0; i < kDepth; ++i) json += shape.open;
    json += shape.leaf;
    for (int i = 0; i < kDepth; ++i) json += shape.close;
    HostValue value{};
    ASSERT_TRUE(HostValueFromJson(json, &value)) << shape.open;
    EXPECT_EQ(HostValueToJson(value), json) << shape.open;
    FreeHostValue(&value);
  }
}

TEST(CoreRequests, RoutesToHandlersResourcesAndBuiltInServices) {
  Core core;
  core.SetResource("/tov-gameflow/v1/session", R"({"phase":"Lobby"})");
  core.SetResource("/tov-champ-select/v1/session", R"({"stored":true})");
  core.OnRequest(2, "/tov-champ-select/v1/session", [](const RequestRecord&) { return Reply::Json("1"); });
  core.OnRequest(2, "/tov-champ-select/v1/session", [](const RequestRecord& r) {
    return Reply::Json("\"" + r.url + " from the later handler\"", 201);
  });
  std::vector<std::string> lcdsArgs;
  core.SetLcdsHandler("gameService", "ping", [&](const std::vector<std::string>& args) {
    lcdsArgs = args;
    return LcdsReply{"com.vexa.Pong", R"({"n":1})", "", 200};
  });
  core.SetLcdsHandler("gameService", "boom",
                      [](const std::vector<std::string>&) { return LcdsReply{"", "", "Service down", 503}; });
  const std::string invoke = "/tov-login/v1/session/invoke";
  const struct {
    uint32_t method;
    std::string url;
    std::vector<std::string> args;
    int32_t status;
    std::string error, body;
  } rows[] = {
      {2, "/tov-gameflow/v1/session", {}, 200, "", R"({"phase":"Lobby"})"},
      {2, "/tov-gameflow/v1/missing", {}, 404, "No resource at GET /tov-gameflow/v1/missing", "null"},
      {7, "/tov-gameflow/v1/session", {}, 404, "No resource at PUT /tov-gameflow/v1/session", "null"},
      {2, "/tov-champ-select/v1/session", {}, 201, "", R"("/tov-champ-select/v1/session from the later handler")"},
      {6, invoke, {R"("gameService")", R"("ping")", R"([1,"two",{"x":null}])"}, 200, "",
       R"({"typeName":"com.vexa.Pong","body":{"n":1}})"},
      {6, invoke, {R"("gameService")", R"("boom")", "[]"}, 503, "Service down", "null"},
      {6, invoke, {R"("gameService")", R"("nope")", "[]"}, 404, "No LCDS handler for gameService.nope", "null"},
      {6, invoke, {R"("gameService")"}, 400,
       "Malformed LCDS invoke: expected a destination, a method and an array of arguments", "null"},
      {6, "/tov-login/v1/service-proxy-uuid-requests", {}, 200, "", R"("uuid-1")"},
      {6, "/tov-login/v1/service-proxy-uuid-requests", {}, 200, "", R"("uuid-2")"},
      {6, "/tov-login/v1/service-proxy-method-requests", {R"({"a":1})"}, 200, "", "null"},
      {6, "/telemetry/v1/events/champ_select", {}, 200, "", "null"},
      {6, "/telemetry/v1/other", {}, 404, "No resource at POST /telemetry/v1/other", "null"},
  };
  for (const auto& row : rows) {
    const Answer answer = Call(core, row.method, row.url, row.args);
    EXPECT_EQ(answer.status, row.status) << row.url;
    EXPECT_EQ(answer.error, row.error) << row.url;
    EXPECT_EQ(answer.body, row.body) << row.url;
  }
  EXPECT_THAT(lcdsArgs, ElementsAre("1", R"("two")", R"({"x":null})"));
  ASSERT_EQ(core.Requests().size(), std::size(rows));
  EXPECT_EQ(core.Requests()[4].url, invoke);
  EXPECT_THAT(core.Requests()[4].args, ElementsAre(R"("gameService")", R"("ping")", R"([1,"two",{"x":null}])"));
  EXPECT_EQ(core.Requests()[4].requestWord, core.Handle());

  core.DeleteResource("/tov-gameflow/v1/session");
  EXPECT_EQ(Call(core, 2, "/tov-gameflow/v1/session").status, 404);
}

TEST(CoreRequests, StreamsServeChunksOverReadsAndCountCloses) {
  struct ReadResult {
    uint8_t ok;
    std::string bytes;
    uint8_t more;
    bool operator==(const ReadResult&) const = default;
  };
  const struct {
    std::vector<std::string> chunks;
    bool failsAtEnd;
    uint32_t buffer;
    std::vector<ReadResult> reads;
  } rows[] = {
      {{"hello world"}, false, 4, {{1, "hell", 1}, {1, "o wo", 1}, {1, "rld", 0}}},
      {{"ab", "", "c"}, false, 8, {{1, "ab", 1}, {1, "", 1}, {1, "c", 0}}},
      {{"ab"}, true, 8, {{1, "ab", 1}, {0, "", 0}}},
      {{}, false, 8, {{1, "", 0}}},
  };
  Core core;
  int opened = 0;
  for (const auto& row : rows) {
    Reply reply = Reply::Stream(row.chunks, 11);
    reply.streamFailsAtEnd = row.failsAtEnd;
    reply.status = 206;
    core.OnRequest(2, "/stream", [reply](const RequestRecord&) { return reply; });
    const RemotingResponse response = Send(core, 2, "/stream");
    const RemotingStreamRead read = response.streamRead;
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(int32_t{response.status}, 206);
    EXPECT_EQ(uint32_t{response.streamSizeHint}, 11u);
    EXPECT_EQ(core.StreamsOpened(), ++opened);
    std::vector<ReadResult> reads;
    for (size_t i = 0; i < row.reads.size(); ++i) {
      std::string buffer(row.buffer, '\0');
      uint32_t count = row.buffer;
      uint8_t more = 7;
      const uint8_t ok = read(response.stream, buffer.data(), &count, &more);
      reads.push_back({ok, buffer.substr(0, count), more});
    }
    EXPECT_EQ(reads, row.reads) << row.chunks.size() << " chunks";
    response.streamClose(response.stream);
    EXPECT_EQ(core.StreamsClosed(), opened);
  }
  // One left open: the counts show it, and the core still frees it.
  Send(core, 2, "/stream");
  EXPECT_EQ(core.StreamsOpened(), core.StreamsClosed() + 1);
}

// A callback that notes when it ran and may schedule a follow-up.
struct Task {
  Core* core;
  std::vector<std::string>* ran;
  std::string name;
  Task* next = nullptr;
  double nextDelay = 0;

  static void Run(void* context) {
    auto* task = static_cast<Task*>(context);
    std::ostringstream line;
    line << task->name << "@" << task->core->Now();
    task->ran->push_back(line.str());
    if (task->next)
      task->core->Api()->ScheduleCallback(task->core->Api(), task->next->name.c_str(), &Task::Run, task->next,
                                          task->nextDelay, 0);
  }
};

TEST(CoreLoop, RunsDueCallbacksInOrderAtTheirVirtualTimes) {
  Core core;
  std::vector<std::string> ran;
  Task late{&core, &ran, "late"};
  Task a{&core, &ran, "a"}, b{&core, &ran, "b"}, c{&core, &ran, "c", &late, 0.25};
  Task zero{&core, &ran, "zero"}, nan{&core, &ran, "nan"}, negative{&core, &ran, "negative"};
  const std::pair<Task*, double> schedule[] = {
      {&a, 2}, {&b, 1}, {&c, 1}, {&zero, 0}, {&nan, std::nan("")}, {&negative, -5}};
  for (const auto& [task, delay] : schedule)
    core.Api()->ScheduleCallback(core.Api(), task->name.c_str(), &Task::Run, task, delay, 0);
  core.AdvanceTime(3);
  EXPECT_THAT(ran, ElementsAre("zero@0", "nan@0", "negative@0", "b@1", "c@1", "late@1.25", "a@2"));
  EXPECT_EQ(core.Now(), 3);
  EXPECT_EQ(core.PendingCallbacks(), 0u);
  ASSERT_EQ(core.Scheduled().size(), 7u);
  EXPECT_EQ(core.Scheduled()[4].delaySeconds, 0);
  EXPECT_EQ(core.Scheduled()[6].dueAt, 1.25);
  for (const ScheduledRecord& record : core.Scheduled()) EXPECT_TRUE(record.ran) << record.label;

  core.Fire(core.Scheduled()[0]);  // a stale context, called again
  EXPECT_EQ(ran.back(), "a@3");
}

TEST(CoreLoop, WorkAddedDuringATurnWaitsForTheNext) {
  Core core;
  std::vector<std::string> ran;
  Task second{&core, &ran, "second"};
  Task first{&core, &ran, "first", &second, 0};
  core.Api()->ScheduleCallback(core.Api(), "first", &Task::Run, &first, 0, 0);

  // A handler of "ping" sends "pong", which its handler sees a turn later.
  Deliveries deliveries;
  Listen(core, "pong", &deliveries);
  core.Api()->RegisterEventHandler(
      core.Api(), "ping", 1,
      [](const HostEvent* event) {
        auto* core = static_cast<Core*>(event->context);
        const HostEvent pong{"pong", event->payload, reinterpret_cast<void*>(uintptr_t{9})};
        core->Api()->SendEvent(core->Api(), &pong);
      },
      &core, 1);
  core.PushEvent("ping", "[1]");
  core.PushEvent("nobody-listens", "{}");

  core.RunOnce();
  EXPECT_THAT(ran, ElementsAre("first@0"));
  EXPECT_THAT(deliveries.seen, IsEmpty());
  EXPECT_EQ(core.PendingCallbacks(), 1u);
  core.RunOnce();
  EXPECT_THAT(ran, ElementsAre("first@0", "second@0"));
  EXPECT_THAT(deliveries.seen, ElementsAre("pong [1]"));
  ASSERT_EQ(core.Events().size(), 1u);
  EXPECT_EQ(core.Events()[0].name, "pong");
  EXPECT_EQ(core.Events()[0].payloadJson, "[1]");
  EXPECT_EQ(core.Events()[0].context, 9u);
}

TEST(CoreEvents, HandlerThatUnregistersAnotherDuringDeliveryStopsIt) {
  Core core;
  Deliveries first, second, replaced;
  struct Unregistering {
    Core* core;
    Deliveries* into;
  } unregistering{&core, &first};
  const CoreApi* api = core.Api();
  api->RegisterEventHandler(api, "E", 2, &Deliveries::Record, &replaced, 0);
  api->RegisterEventHandler(api, "E", 1,
                            [](const HostEvent* event) {
                              auto* self = static_cast<Unregistering*>(event->context);
                              self->into->seen.push_back("unregistering");
                              self->core->Api()->UnregisterEventHandler(self->core->Api(), "E", 3);
                            },
                            &unregistering, 0);
  api->RegisterEventHandler(api, "E", 3, &Deliveries::Record, &second, 0);
  api->RegisterEventHandler(api, "E", 2, &Deliveries::Record, &first, 1);  // replaces the first one
  ASSERT_EQ(core.Handlers().size(), 3u);
  EXPECT_EQ(core.Handlers()[0].flags, 1u);

  core.DeliverEvent("E", R"({"n":1})");
  EXPECT_THAT(first.seen, ElementsAre(R"(E {"n":1})", "unregistering"));
  EXPECT_THAT(second.seen, IsEmpty());
  EXPECT_THAT(replaced.seen, IsEmpty());
  EXPECT_THAT(core.Unregistered(), ElementsAre("E"));
  EXPECT_FALSE(core.HasHandler("F"));
  EXPECT_THAT(core.Misuse(), IsEmpty());
  api->UnregisterEventHandler(api, "F", 1);
  EXPECT_EQ(core.Misuse().size(), 1u);
}

TEST(CoreEvents, ScriptedChangesReachTheHandlersOfTheirEventNames) {
  Core core;
  Deliveries seen;
  for (const char* name : {"OnJsonApiEvent_tov-gameflow_v1_session", "OnJsonApiEvent_tov-chat_v1",
                           "OnJsonApiEvent_tov-platform-config_v1_namespaces_a_b", "OnLcdsEvent_com_vexa_GameDTO"})
    Listen(core, name, &seen);
  core.SetResource("/tov-gameflow/v1/session/event", R"({"a":1})");
  core.SetResource("/tov-gameflow/v1/session/event", "[]");
  core.DeleteResource("/tov-gameflow/v1/session/event");
  core.SetResource("//tov-chat//v1", "2");
  core.SetResource("/tov-platform-config/v1/namespaces/a/b/c", "3");
  core.PushLcds("com.vexa.GameDTO", R"({"id":7})");
  core.RunOnce();
  EXPECT_THAT(
      seen.seen,
      ElementsAre(
          R"(OnJsonApiEvent_tov-gameflow_v1_session {"uri":"/tov-gameflow/v1/session/event","eventType":"Create","data":{"a":1}})",
          R"(OnJsonApiEvent_tov-gameflow_v1_session {"uri":"/tov-gameflow/v1/session/event","eventType":"Update","data":[]})",
          R"(OnJsonApiEvent_tov-gameflow_v1_session {"uri":"/tov-gameflow/v1/session/event","eventType":"Delete","data":null})",
          R"(OnJsonApiEvent_tov-chat_v1 {"uri":"//tov-chat//v1","eventType":"Create","data":2})",
          R"(OnJsonApiEvent_tov-platform-config_v1_namespaces_a_b {"uri":"/tov-platform-config/v1/namespaces/a/b/c","eventType":"Create","data":3})",
          R"(OnLcdsEvent_com_vexa_GameDTO {"clientId":"client","subtopic":"","typeName":"com.vexa.GameDTO","body":{"id":7}})"));

  EXPECT_EQ(Core::ServiceProxyAnswer("u-1", "svc", "get", R"({"q":"a\b"})", "500", "bad \"x\""),
            R"({"uuid":"u-1","serviceName":"svc","methodName":"get","payload":"{\"q\":\"a\\b\"}",)"
            R"("status":"500","error":"bad \"x\""})");

  // A typo in scripted JSON is reported, not delivered.
  core.PushEvent("OnJsonApiEvent_tov-chat_v1", "{oops");
  core.RunOnce();
  EXPECT_EQ(seen.seen.size(), 6u);
  EXPECT_EQ(core.Misuse().size(), 1u);
}

// What a simulation needs to drive the core from outside: the plug-in's
// traffic as it happens, resources that always update or arrive at once, and
// when the loop has work next.
TEST(CoreEvents, HooksExplicitUpdatesAndTheNextDueTime) {
  Core core;
  std::vector<std::string> seen;
  core.onRequest = [&](const RequestRecord& r) { seen.push_back("request " + r.url + " " + r.body + " " + r.contentType); };
  core.onSend = [&](const SentEvent& e) { seen.push_back("send " + e.name); };
  core.onDeliver = [&](const std::string& name, const std::string&) { seen.push_back("deliver " + name); };
  Deliveries deliveries;
  Listen(core, "OnJsonApiEvent_tov-login_v1_session", &deliveries);

  const std::string body = R"({"a":1})";
  RemotingRequest request{};
  request.method = 6;
  request.url = "/nowhere";
  request.body = body.data();
  request.bodyLength = static_cast<uint32_t>(body.size());
  request.contentType = "application/json";
  RemotingResponse response{};
  core.Api()->Request(core.Api(), &response, &request);
  const int32_t status = response.status;  // packed: read by value
  EXPECT_EQ(status, 404);
  HostEvent sent{"OnJsonApiEvent_elsewhere", HostValue{}, nullptr};
  core.Api()->SendEvent(core.Api(), &sent);

  core.UpdateResource("/tov-login/v1/session", R"({"n":1})");  // new, yet an Update
  EXPECT_TRUE(deliveries.seen.empty());
  EXPECT_EQ(core.PendingEvents(), 2u);
  core.RunOnce();
  core.DeliverResource("/tov-login/v1/session", R"({"n":2})", "Update");  // inside this call
  EXPECT_THAT(deliveries.seen, ElementsAre(R"(OnJsonApiEvent_tov-login_v1_session {"uri":"/tov-login/v1/session","eventType":"Update","data":{"n":1}})",
                                           R"(OnJsonApiEvent_tov-login_v1_session {"uri":"/tov-login/v1/session","eventType":"Update","data":{"n":2}})"));
  EXPECT_EQ(Call(core, 2, "/tov-login/v1/session").body, R"({"n":2})");
  core.DeliverResource("/tov-login/v1/session", "", "Delete");
  EXPECT_EQ(Call(core, 2, "/tov-login/v1/session").status, 404);
  // The event the plug-in sent reaches nobody: no delivery to trace.
  EXPECT_THAT(seen, ElementsAre("request /nowhere {\"a\":1} application/json", "send OnJsonApiEvent_elsewhere",
                                "deliver OnJsonApiEvent_tov-login_v1_session",
                                "deliver OnJsonApiEvent_tov-login_v1_session", "request /tov-login/v1/session  ",
                                "deliver OnJsonApiEvent_tov-login_v1_session", "request /tov-login/v1/session  "));

  EXPECT_TRUE(std::isinf(core.NextDue()));
  std::vector<std::string> ran;
  Task task{&core, &ran, "t"};
  core.Api()->ScheduleCallback(core.Api(), "t", &Task::Run, &task, 2.5, 0);
  EXPECT_EQ(core.NextDue(), 2.5);
  core.MoveClockTo(1);  // the clock alone
  EXPECT_EQ(core.Now(), 1);
  EXPECT_EQ(core.NextDue(), 2.5);
  core.AdvanceTo(2.5);
  EXPECT_THAT(ran, ElementsAre("t@2.5"));
  EXPECT_TRUE(std::isinf(core.NextDue()));

  // Doubles a JSON text cannot hold, for scripts that hand them to a plug-in.
  HostValue value{};
  ASSERT_TRUE(HostValueFromJson("[NaN,Infinity,-Infinity]", &value));
  EXPECT_TRUE(std::isnan(value.u.array.items[0].u.number));
  EXPECT_TRUE(std::isinf(value.u.array.items[1].u.number));
  FreeHostValue(&value);
}

}  // namespace
}  // namespace TovHost
