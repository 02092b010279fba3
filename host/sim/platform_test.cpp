// The platform's services as a plug-in calls them through the core: the
// answers, their faults, the ward-skin service's delivery knobs and the
// push faults.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <optional>

#include "sim/clock.h"
#include "sim/json.h"
#include "sim/platform.h"
#include "sim/scenario.h"
#include "sim/ward_skins.h"

namespace TovSim {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

constexpr uint32_t kPost = 6;

struct Answer {
  int32_t status;
  std::string error;
  std::string body;
  double timer = 0;  // remainingTimeInMillis, read from the value itself (NaN survives)
  int reads = 0;     // of a streamed body
};

// Collects what the core delivers to one event name.
struct Listener {
  std::vector<std::string> payloads;
  static void Record(const HostEvent* event) {
    static_cast<Listener*>(event->context)->payloads.push_back(TovHost::HostValueToJson(event->payload));
  }
};

// A member's value, copied out: entries are packed, their values unaligned.
std::optional<HostValue> Find(const HostValue& object, const char* key) {
  if (object.kind != HostValueKind_Object) return std::nullopt;
  for (uint32_t i = 0; i < object.u.object.count; ++i) {
    const HostObjectEntry& entry = object.u.object.entries[i];
    const char* name = entry.key;
    if (std::string(name) != key) continue;
    const HostValue value = entry.value;
    return value;
  }
  return std::nullopt;
}

CallFault Fault(const char* call, int nth, bool always, CallFault::Kind kind, int status = 500, const char* text = "",
                std::string body = "") {
  CallFault fault;
  fault.call = call;
  fault.nth = nth;
  fault.always = always;
  fault.kind = kind;
  fault.status = status;
  fault.text = text;
  fault.body = std::move(body);
  return fault;
}

ProxyFault Proxy(ProxyFault::Kind kind, int amount = 0, const char* text = "") {
  ProxyFault fault;
  fault.method = "requestSelectedWardSkin";
  fault.kind = kind;
  fault.amount = amount;
  fault.text = text;
  return fault;
}

// A platform and its services on a core, without a plug-in: the test calls
// the core as a plug-in would.
struct Bench {
  TovHost::Core core;
  Clock clock{core};
  Trace trace{[this] { return core.Now(); }};
  Scheduler scheduler{[this] { return clock.Now(); }};
  FaultPlan plan;
  Injector injector{core, plan, trace};
  PushQueue pushes{core, plan, injector, trace};
  Platform platform{core, scheduler, plan, pushes, trace, DtoView{}};
  WardSkins wardSkins{core, scheduler, plan, trace};

  Bench() {
    platform.Install();
    wardSkins.Install();
  }

  void StartDraft() {
    Scenario scenario;
    BuiltInScenario("draft", 1, &scenario);
    platform.NewMatch(scenario.game.rules, scenario.game.roster, PoliciesOf(scenario.game), 1, MatchTiming{}, 0).Start();
  }
  // Runs the platform until `seconds` on the clock.
  void RunUntil(double seconds) {
    while (scheduler.NextDue() != kNever && ToSeconds(scheduler.NextDue()) <= seconds) {
      core.MoveClockTo(ToSeconds(scheduler.NextDue()));
      scheduler.RunOne();
    }
    core.MoveClockTo(seconds);
  }
  void Listen(const std::string& name, Listener* into) {
    core.Api()->RegisterEventHandler(core.Api(), name.c_str(), core.Handle(), &Listener::Record, into, 1);
  }

  Answer Post(const std::string& url, const std::vector<std::string>& args) {
    std::vector<HostNamedValue> named(args.size());
    for (size_t i = 0; i < args.size(); ++i) {
      EXPECT_TRUE(TovHost::HostValueFromJson(args[i], &named[i].value)) << args[i];
    }
    RemotingRequest request{};
    request.method = kPost;
    request.url = url.c_str();
    request.args = named.data();
    request.argCount = static_cast<uint32_t>(named.size());
    RemotingResponse response{};
    core.Api()->Request(core.Api(), &response, &request);
    Answer answer{response.status, response.error ? response.error : "", TovHost::HostValueToJson(response.body)};
    if (response.streamRead) {
      answer.body.clear();
      char buffer[4096];
      uint8_t more = 1;
      for (uint32_t count = sizeof buffer; more && response.streamRead(response.stream, buffer, &count, &more);
           count = sizeof buffer, ++answer.reads)
        answer.body.append(buffer, count);
      response.streamClose(response.stream);
    }
    const HostValue responseBody = response.body;
    if (const std::optional<HostValue> body = Find(responseBody, "body"))
      if (const std::optional<HostValue> timer = Find(*body, "remainingTimeInMillis"); timer && timer->kind == HostValueKind_Double)
        answer.timer = timer->u.number;
    if (response.release) response.release(&response);
    for (HostNamedValue& arg : named) TovHost::FreeHostValue(&arg.value);
    return answer;
  }
  Answer Invoke(const std::string& destination, const std::string& method, const std::string& args = "[]") {
    return Post("/tov-login/v1/session/invoke", {Quoted(destination), Quoted(method), args});
  }
  Answer WardSkinRequest(const std::string& method, const std::string& payload = "{}") {
    return Post("/tov-login/v1/service-proxy-method-requests",
                {R"("wardSkins")", Quoted(method), R"("receiveSelectedWardSkin")", R"("")", "49374", Quoted(payload)});
  }
};

TEST(GameService, AnswersTheCallsOfThisVersion) {
  Bench bench;
  bench.StartDraft();
  bench.RunUntil(0);

  // Right after the turn began: 30 s less the answer's transit, a fraction.
  Answer timer = bench.Invoke("gameService", "getCurrentTimerForGame");
  EXPECT_THAT(timer.body, HasSubstr(R"("typeName":"com.vexagames.platform.game.GameTimerDTO")"));
  EXPECT_THAT(timer.body, HasSubstr(R"("currentGameState":"PRE_CHAMP_SELECT")"));
  EXPECT_DOUBLE_EQ(timer.timer, 29999.9);
  bench.RunUntil(1.2345);
  EXPECT_DOUBLE_EQ(bench.Invoke("gameService", "getCurrentTimerForGame").timer, 28765.4);

  const struct {
    const char* destination;
    const char* method;
    const char* args;
    int32_t status;
    const char* error;
    const char* body;
  } rows[] = {
      {"gameService", "setClientReceivedGameMessage", R"([5000000001,"CHAMP_SELECT_CLIENT"])", 200, "",
       R"({"typeName":"","body":null})"},
      {"gameService", "getGame", "[5000000001]", 200, "", R"("typeName":"com.vexagames.platform.game.GameDTO")"},
      {"gameService", "getGame", "[5000000002]", 500, "Game not found", ""},
      {"gameService", "getGame", R"(["5000000001"])", 500, "Invalid arguments", ""},
      {"gameService", "retrieveInProgressGameInfo", "[]", 200, "",
       R"({"typeName":"com.vexagames.platform.game.InProgressGameInfo","body":{"game":{"__class":"com.vexagames.platform.game.GameDTO","id":5000000001)"},
      {"gameService", "banChampion", "[7]", 500, "Unknown service call", ""},
      {"lcdsRerollService", "roll", "[]", 500, "Unknown service call", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.destination) + "." + row.method + " " + row.args);
    const Answer answer = bench.Invoke(row.destination, row.method, row.args);
    EXPECT_EQ(answer.status, row.status);
    EXPECT_EQ(answer.error, row.error);
    EXPECT_THAT(answer.body, HasSubstr(row.body));
  }
  EXPECT_THAT(bench.platform.Acknowledgements(), ElementsAre("5000000001 CHAMP_SELECT_CLIENT"));
}

TEST(GameService, InjectedCallFaults) {
  using Kind = CallFault::Kind;
  const struct {
    const char* what;
    CallFault fault;
    // Three calls of getCurrentTimerForGame in a row: each answer's status,
    // then a part of each body or failure text.
    std::vector<int32_t> statuses;
    std::vector<std::string> parts;
  } rows[] = {
      {"fails once", Fault("gameService.getCurrentTimerForGame", 1, false, Kind::Fail, 503, "down"), {503, 200, 200},
       {"down", "29999.9", "29999.9"}},
      {"fails from the second on", Fault("gameService.getCurrentTimerForGame", 2, true, Kind::Fail, 500, "gone"),
       {200, 500, 500}, {"29999.9", "gone", "gone"}},
      {"wrong type", Fault("gameService.getCurrentTimerForGame", 1, false, Kind::WrongType), {200, 200, 200},
       {"com.vexagames.platform.game.Unexpected", "GameTimerDTO", "GameTimerDTO"}},
      {"empty body", Fault("gameService.getCurrentTimerForGame", 2, false, Kind::EmptyBody), {200, 200, 200},
       {"29999.9", R"("body":null)", "29999.9"}},
      {"streamed", Fault("gameService.getCurrentTimerForGame", 1, false, Kind::Chunked), {200, 200, 200},
       {R"("remainingTimeInMillis":29999.9})", "29999.9", "29999.9"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Bench bench;
    bench.plan.calls.push_back(row.fault);
    bench.StartDraft();
    bench.RunUntil(0);
    for (size_t i = 0; i < 3; ++i) {
      const Answer answer = bench.Invoke("gameService", "getCurrentTimerForGame");
      EXPECT_EQ(answer.status, row.statuses[i]) << i;
      EXPECT_THAT(answer.error.empty() ? answer.body : answer.error, HasSubstr(row.parts[i])) << i;
    }
  }

  // A streamed answer comes in its pieces, one read each.
  {
    Bench bench;
    bench.plan.calls.push_back(Fault("gameService.getGame", 1, false, Kind::Chunked));
    bench.StartDraft();
    const Answer streamed = bench.Invoke("gameService", "getGame", "[5000000001]");
    EXPECT_EQ(streamed.reads, 3);
    std::string whole;
    EXPECT_TRUE(CompactJson(streamed.body, &whole)) << streamed.body;
    EXPECT_THAT(whole, HasSubstr(R"("id":5000000001)"));
  }

  // Doubles a JSON text cannot carry reach the plug-in as doubles.
  for (const char* value : {"NaN", "Infinity", "-Infinity", "-5.5", "1e300"}) {
    Bench bench;
    bench.plan.calls.push_back(
        Fault("gameService.getCurrentTimerForGame", 1, false, Kind::Body, 500, "",
              std::string(R"({"currentGameState":"CHAMP_SELECT","remainingTimeInMillis":)") + value + "}"));
    bench.StartDraft();
    const double expected = std::strtod(value, nullptr);
    const double got = bench.Invoke("gameService", "getCurrentTimerForGame").timer;
    EXPECT_TRUE(std::isnan(expected) ? std::isnan(got) : got == expected) << value;
  }
}

TEST(WardSkins, AnswersAndTheirDeliveryKnobs) {
  using Kind = ProxyFault::Kind;
  const struct {
    const char* what;
    std::optional<ProxyFault> fault;
    size_t insideRequest;       // answers delivered before the request returned
    std::vector<size_t> pumps;  // answers delivered after each of four pumps
    const char* part;           // of the last answer
  } rows[] = {
      {"answers on the next turn", std::nullopt, 0, {1, 1, 1, 1}, R"(\"selectedWardSkinId\":3)"},
      {"held 3 pumps", Proxy(Kind::HoldPumps, 3), 0, {0, 0, 1, 1}, "selectedWardSkinId"},
      {"inside the post", Proxy(Kind::InsidePost), 1, {1, 1, 1, 1}, "selectedWardSkinId"},
      {"never", Proxy(Kind::Never), 0, {0, 0, 0, 0}, ""},
      {"twice", Proxy(Kind::Duplicate), 0, {2, 2, 2, 2}, "selectedWardSkinId"},
      {"field missing", Proxy(Kind::MissingField), 0, {1, 1, 1, 1}, R"("payload":"{}")"},
      {"another value", Proxy(Kind::OtherValue, 7), 0, {1, 1, 1, 1}, R"(\"selectedWardSkinId\":7)"},
      {"error answer", Proxy(Kind::Error, 0, "no skins today"), 0, {1, 1, 1, 1},
       R"("methodName":"receiveWardSkinServiceError","payload":"{\"error\":\"no skins today\"}","status":"500","error":"no skins today")"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Bench bench;
    if (row.fault) bench.plan.proxy.push_back(*row.fault);
    Listener answers;
    bench.Listen("OnServiceProxyMethodEvent", &answers);
    const Answer sent = bench.WardSkinRequest("requestSelectedWardSkin");
    EXPECT_EQ(sent.status, 200);
    EXPECT_EQ(answers.payloads.size(), row.insideRequest);
    std::vector<size_t> seen;
    for (int pump = 0; pump < 4; ++pump) {
      bench.wardSkins.OnPump();
      bench.core.Api()->Pump(bench.core.Api());
      seen.push_back(answers.payloads.size());
    }
    EXPECT_THAT(seen, ElementsAreArray(row.pumps));
    if (!answers.payloads.empty()) {
      EXPECT_THAT(answers.payloads.back(), HasSubstr(row.part));
    }
  }

  Bench bench;
  Listener answers;
  bench.Listen("OnServiceProxyMethodEvent", &answers);
  bench.WardSkinRequest("selectWardSkin", R"({"wardSkinId":11})");
  bench.core.RunOnce();
  ASSERT_EQ(answers.payloads.size(), 1u);
  EXPECT_THAT(answers.payloads[0], HasSubstr(R"("methodName":"receiveWardSkinServiceError")"));
  EXPECT_EQ(bench.WardSkinRequest("noSuchMethod").status, 404);
}

TEST(PushQueue, FaultsOnTheSecondPush) {
  using Kind = PushFault::Kind;
  const struct {
    const char* what;
    std::optional<Kind> fault;
    bool disconnected;
    std::vector<std::string> delivered;  // "id:lock" of each GameDTO that arrived
  } rows[] = {
      {"none", std::nullopt, false, {"5000000001:1", "5000000001:2", "5000000001:3"}},
      {"drop", Kind::Drop, false, {"5000000001:1", "5000000001:3"}},
      {"duplicate", Kind::Duplicate, false, {"5000000001:1", "5000000001:2", "5000000001:2", "5000000001:3"}},
      {"stale", Kind::Stale, false, {"5000000001:1", "5000000001:2", "5000000001:1", "5000000001:3"}},
      {"other game", Kind::OtherGame, false, {"5000000001:1", "5000000001:2", "5000001001:2", "5000000001:3"}},
      {"disconnected", std::nullopt, true, {"5000000001:1"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Bench bench;
    if (row.fault) bench.plan.pushes.push_back(PushFault{2, *row.fault});
    Listener games;
    bench.Listen("OnLcdsEvent_com_vexagames_platform_game_GameDTO", &games);
    bench.StartDraft();
    bench.core.RunOnce();
    if (row.disconnected) bench.platform.SetConnected(false);
    while (bench.pushes.GamePushes() < 3) {
      bench.core.MoveClockTo(ToSeconds(bench.scheduler.NextDue()));
      bench.scheduler.RunOne();
    }
    bench.core.RunOnce();
    std::vector<std::string> delivered;
    for (const std::string& payload : games.payloads) {
      const rapidjson::Document event = ParseJson(payload);
      delivered.push_back(std::to_string(event["body"]["id"].GetUint64()) + ":" +
                          std::to_string(event["body"]["optimisticLock"].GetInt64()));
      EXPECT_STREQ(event["clientId"].GetString(), "sim");
    }
    EXPECT_EQ(delivered, row.delivered);
  }
}

}  // namespace
}  // namespace TovSim
