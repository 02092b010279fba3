// The runtime over the core stand-in, on the core's virtual clock: the
// plug-in's monotonic clock follows the core's, so firing times are exact.
#include "runtime/app_module.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "binding/registration.h"
#include "core/core.h"
#include "os/fake_env.h"
#include "runtime/fatal.h"
#include "runtime/plugin_module.h"
#include "runtime/service_proxy.h"
#include "runtime/test_support.h"

namespace Vexa {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using TovHost::Reply;

struct Champion {
  std::int64_t id = 0;
  std::string name;
};
struct Team {
  std::vector<Champion> members;
  Champion captain;
  std::string tag;
};
struct Unregistered {
  int x = 0;
};

TovHost::LcdsReply Lcds(std::string typeName, std::string body, std::string error = "", int32_t status = 200) {
  TovHost::LcdsReply reply;
  reply.typeName = std::move(typeName);
  reply.bodyJson = std::move(body);
  reply.error = std::move(error);
  reply.status = status;
  return reply;
}

class TestPlugin final : public PluginModule {
 public:
  // Lets a test hand the plug-in responses that JSON cannot express.
  std::function<bool(RemotingResponse*, const RemotingRequest*)> intercept;
  void Request(RemotingResponse* response, const RemotingRequest* request) override {
    if (!intercept || !intercept(response, request)) PluginModule::Request(response, request);
  }
};

class Runtime : public ::testing::Test {
 protected:
  Runtime() : env_(core), scoped_(&env_) {
    PluginHandshake record{18, 0, 0, nullptr, nullptr, nullptr, nullptr};
    plugin.Handshake(&record, "tov-vover-orevid-aredez");
    RegisterStruct<Champion>(plugin.Registry(), "Champion").Field("id", &Champion::id).Field("name", &Champion::name);
    RegisterStruct<Team>(plugin.Registry(), "Team")
        .Field("members", &Team::members)
        .Field("captain", &Team::captain)
        .Field("tag", &Team::tag);
    plugin.RegisterLcdsClass<Champion>("com.example.Champion");
    plugin.RegisterLcdsClass<Team>("com.example.Team");
    context_ = core.Context();
    EXPECT_EQ(plugin.Init(&context_), 1);
  }
  ~Runtime() override {
    if (!plugin.Stopping()) plugin.Stop();
  }

  std::vector<std::string> EventNames() const {
    std::vector<std::string> names;
    for (const auto& event : core.Events()) names.push_back(event.name);
    return names;
  }
  std::vector<std::string> Urls() const {
    std::vector<std::string> urls;
    for (const auto& request : core.Requests()) urls.push_back(request.url);
    return urls;
  }

  TovHost::Core core;
  CoreClockEnv env_;
  Os::ScopedEnv scoped_;
  CoreContext context_{};
  TestPlugin plugin;
};

TEST(Names, EventNamesAndPatterns) {
  const struct {
    const char* uri;
    const char* name;
  } names[] = {
      {"/tov-gameflow/v1/session", "OnJsonApiEvent_tov-gameflow_v1_session"},
      {"/tov-gameflow/v1/session/event", "OnJsonApiEvent_tov-gameflow_v1_session"},
      {"//tov-gameflow//v1/session/", "OnJsonApiEvent_tov-gameflow_v1_session"},
      {"tov-login/v1/session", "OnJsonApiEvent_tov-login_v1_session"},
      {"/a", "OnJsonApiEvent_a"},
      {"", "OnJsonApiEvent"},
      {"/tov-platform-config/v1/namespaces/ClientSystemStates/freeToPlayChampionsForNewPlayersMaxLevel",
       "OnJsonApiEvent_tov-platform-config_v1_namespaces_ClientSystemStates_"
       "freeToPlayChampionsForNewPlayersMaxLevel"},
      {"/tov-platform-config/v1/namespaces/A/b/c/d", "OnJsonApiEvent_tov-platform-config_v1_namespaces_A_b"},
  };
  for (const auto& row : names) EXPECT_EQ(EventNameForUri(row.uri), row.name) << row.uri;

  const struct {
    const char* pattern;
    const char* uri;
    bool matches;
  } patterns[] = {
      {"/a/*/c", "/a/b/c", true},   {"/a/*/c", "/a/bb/c", true}, {"/a/*/c", "/a//c", true},
      {"/a/*/c", "/a/b/x/c", false}, {"/a/*", "/a/b", true},     {"/a/*", "/a/", false},
      {"/a/*", "/a/b/", false},      {"/a", "/a", true},         {"/a", "/ab", false},
      {"*", "", false},              {"/*/*", "/x/y", true},     {"/a/*b", "/a/xb", false},
  };
  for (const auto& row : patterns)
    EXPECT_EQ(UriMatchesPattern(row.pattern, row.uri), row.matches) << row.pattern << " on " << row.uri;
  EXPECT_EQ(LcdsEventName("com.vexagames.platform.game.GameDTO"), "OnLcdsEvent_com_vexagames_platform_game_GameDTO");
}

// ---- Waiting and time -------------------------------------------------------

TEST_F(Runtime, AwaitPumpsOnlyUntilReady) {
  std::promise<MaybeType<Failure, int>> ready;
  ready.set_value(7);
  EXPECT_EQ(plugin.Await(ready.get_future()).Value(), 7);
  EXPECT_EQ(core.Waits().beginWait + core.Waits().pump + core.Waits().endWait, 0);

  std::promise<MaybeType<Failure, int>> later;
  core.onPump = [&](int pump) {
    if (pump == 3) later.set_value(Failure("gone", 503));
  };
  const auto result = plugin.Await(later.get_future());
  ASSERT_TRUE(result.IsFailure());
  EXPECT_EQ(result.Error().Status(), 503);
  EXPECT_EQ(core.Waits().beginWait, 1);
  EXPECT_EQ(core.Waits().pump, 3);
  EXPECT_EQ(core.Waits().endWait, 1);
  EXPECT_THAT(core.WaitLabels().back(), ::testing::StartsWith("Wait: future<"));
  EXPECT_THAT(core.WaitLabels().back(), HasSubstr("MaybeType"));

  plugin.Yield();
  EXPECT_EQ(core.WaitLabels().back(), "Wait: yield");
  EXPECT_EQ(core.Waits().pump, 4);
  EXPECT_EQ(core.WaitDepth(), 0);
  EXPECT_TRUE(core.Misuse().empty());
}

TEST(AwaitDeathTest, AFutureWithoutStateEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // Before Init, so that the report goes to the standard error stream.
  const auto awaitWithoutState = [] {
    TestPlugin plugin;
    PluginHandshake record{18, 0, 0, nullptr, nullptr, nullptr, nullptr};
    plugin.Handshake(&record, "tov-vover-orevid-aredez");
    (void)plugin.Await(std::future<MaybeType<Failure, int>>());
  };
  EXPECT_EXIT(awaitWithoutState(), ::testing::ExitedWithCode(kFatalExitStatus),
              "Caught std::future_error in AppModule::Await: \\(3\\) (.|\n)*Expression: ALE-6D828C10");
}

TEST_F(Runtime, ScheduledCallbacksRunOnceAndStaleContextsAreIgnored) {
  int runs = 0;
  const auto base = core.Scheduled().size();
  EXPECT_EQ(plugin.Schedule("one", [&] { ++runs; }, MonotonicNanos() + 1500000000), 1u);
  EXPECT_EQ(plugin.Schedule("two", [&] { ++runs; }, 0), 2u);  // in the past
  ASSERT_EQ(core.Scheduled().size(), base + 2);
  EXPECT_EQ(core.Scheduled()[base].label, "one");
  EXPECT_DOUBLE_EQ(core.Scheduled()[base].delaySeconds, 1.5);
  EXPECT_EQ(core.Scheduled()[base + 1].delaySeconds, 0.0);
  core.RunOnce();
  EXPECT_EQ(runs, 1);
  core.AdvanceTime(2);
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(plugin.ScheduledCount(), 0u);

  // A core that fires again, or fires after Shutdown, reaches nothing.
  core.Fire(core.Scheduled()[base]);
  plugin.Schedule("after", [&] { ++runs; }, 0);
  plugin.Shutdown();
  core.RunOnce();
  core.Fire(core.Scheduled().back());
  EXPECT_EQ(runs, 2);
}

TEST_F(Runtime, TimersRepeatAndRestartSupersedes) {
  std::vector<double> fired;
  plugin.StartTimer("phase", 5, [&] { fired.push_back(core.Now()); });
  core.AdvanceTime(1);
  plugin.StartTimer("phase", 2, [&] { fired.push_back(100 + core.Now()); });
  core.AdvanceTime(6.5);  // up to 7.5: runs at 3, 5, 7; the first schedule's run at 5 does nothing
  EXPECT_THAT(fired, ElementsAre(103, 105, 107));
  EXPECT_EQ(core.Scheduled()[core.Scheduled().size() - 1].label, "Timer: phase");

  // A callable that restarts its own timer: the restart is the live one.
  std::vector<double> self;
  plugin.StartTimer("self", 1, [&] {
    self.push_back(core.Now());
    if (self.size() == 1) plugin.StartTimer("self", 3, [&] { self.push_back(core.Now()); });
  });
  const double start = core.Now();
  core.AdvanceTime(7.5);
  ASSERT_EQ(self.size(), 3u);
  EXPECT_DOUBLE_EQ(self[1] - start, 4);
  EXPECT_DOUBLE_EQ(self[2] - start, 7);
  plugin.Shutdown();
  const auto runs = fired.size();
  core.AdvanceTime(10);
  EXPECT_EQ(self.size(), 3u);
  EXPECT_EQ(fired.size(), runs);
}

TEST_F(Runtime, TimersStopRunOnceAndOutliveThrowingRuns) {
  std::vector<std::string> runs;
  const auto at = [&](const char* what) { runs.push_back(what + std::to_string(std::lround(core.Now()))); };
  plugin.StartOneShotTimer("show", 2, [&] { at("show@"); });
  plugin.StartOneShotTimer("again", 1, [&] {
    at("again@");
    if (runs.size() < 3) plugin.StartOneShotTimer("again", 1, [&] { at("again@"); });
  });
  plugin.StartTimer("phase", 1, [&] {
    at("phase@");
    if (core.Now() > 2.5) plugin.StopTimer("phase");  // from inside its own run
  });
  plugin.StartTimer("boom", 4, [&] {
    at("boom@");
    throw std::runtime_error("bad");
  });
  plugin.StartTimer("stopped", 1, [&] { at("stopped@"); });
  EXPECT_TRUE(plugin.StopTimer("stopped"));
  EXPECT_FALSE(plugin.StopTimer("stopped"));
  EXPECT_FALSE(plugin.StopTimer("never started"));
  core.AdvanceTime(10.5);
  EXPECT_THAT(runs, ElementsAre("again@1", "phase@1", "show@2", "again@2", "phase@2", "phase@3", "boom@4",
                                "boom@8"));
  EXPECT_FALSE(plugin.HasTimer("show"));
  EXPECT_FALSE(plugin.HasTimer("phase"));
  EXPECT_TRUE(plugin.HasTimer("boom"));
  EXPECT_EQ(plugin.ScheduledCount(), 1u);  // only boom's next run; stopped runs were withdrawn
  EXPECT_EQ(core.Logs().back().message, "tov-vover-orevid-aredez: Timer: boom failed: bad");
  EXPECT_EQ(core.Logs().back().level, 2);
}

// ---- Requests -----------------------------------------------------------------

TEST_F(Runtime, RequestFailuresCarryTheirTexts) {
  // An argument that cannot be converted never reaches the core.
  const auto notSent = plugin.CheckedRequest(RemotingMethod::Post, "/x", Unregistered{});
  ASSERT_TRUE(notSent.IsFailure());
  EXPECT_EQ(notSent.Error().Status(), 400);
  EXPECT_EQ(notSent.Error().Message(),
            "Request not sent: Error converting parameters for POST /x: Couldn't convert native value because it's an "
            "unregistered structure.");
  EXPECT_TRUE(core.Requests().empty());

  core.OnRequest(2, "/x", [](const TovHost::RequestRecord&) { return Reply::Failure(404, "no such thing"); });
  const auto missing = plugin.TypedRequest<BindingProperty>(RemotingMethod::Get, "/x");
  ASSERT_TRUE(missing.IsFailure());
  EXPECT_EQ(missing.Error().Status(), 404);
  EXPECT_EQ(missing.Error().Message(), "Error response for GET /x: no such thing");

  core.OnRequest(2, "/n", [](const TovHost::RequestRecord&) { return Reply::Json(R"("seven")"); });
  const auto wrongType = plugin.TypedRequest<std::int32_t>(RemotingMethod::Get, "/n");
  ASSERT_TRUE(wrongType.IsFailure());
  EXPECT_EQ(wrongType.Error().Status(), 0);
  EXPECT_THAT(wrongType.Error().Message(), ::testing::StartsWith("Error converting response for GET /n: "));

  // A body value of a kind the boundary does not know.
  HostObjectEntry entry{"bad", HostValue{11, {}}, 0};
  plugin.intercept = [&](RemotingResponse* response, const RemotingRequest*) {
    response->body.kind = HostValueKind_Object;
    response->body.u.object = {&entry, 1};
    return true;
  };
  const auto badKind = plugin.TypedRequest<BindingProperty>(RemotingMethod::Get, "/k");
  ASSERT_TRUE(badKind.IsFailure());
  EXPECT_THAT(badKind.Error().Message(), ::testing::StartsWith("Error converting response for GET /k: Couldn't assign "));
  plugin.intercept = nullptr;

  // Arguments travel positionally, as converted values.
  core.OnRequest(6, "/echo", [](const TovHost::RequestRecord& r) { return Reply::Json(r.args[1]); });
  Champion sent{3, "Ahri"};
  const auto echoed = plugin.TypedRequest<Champion>(RemotingMethod::Post, "/echo", "first", sent);
  ASSERT_TRUE(echoed.HasValue()) << echoed.Error().Message();
  EXPECT_EQ(echoed.Value().name, "Ahri");
  EXPECT_THAT(core.Requests().back().args, ElementsAre(R"("first")", R"({"id":3,"name":"Ahri"})"));
  EXPECT_EQ(core.Requests().back().requestWord, core.Handle());
}

TEST_F(Runtime, StreamedBodies) {
  const std::string full(4096, ' ');
  const struct {
    const char* what;
    Reply reply;
    const char* error;  // null: success
    int pumps;
  } rows[] = {
      {"4096 then nothing", Reply::Stream({full, ""}), nullptr, 0},
      {"split value with a pause", Reply::Stream({"[1,", "", "2]"}), nullptr, 2},
      {"read fails", [] { auto r = Reply::Stream({"[1"}); r.streamFailsAtEnd = true; return r; }(),
       "Error reading streamed response for GET /s: Stream read error", 1},
      {"not JSON", Reply::Stream({"{"}), "Error reading streamed response for GET /s: Error: ", 0},
      {"absurd size hint", Reply::Stream({"[]"}, 0xFFFFFFFFu), nullptr, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    core.OnRequest(2, "/s", [&](const TovHost::RequestRecord&) { return row.reply; });
    const int pumps = core.Waits().pump, closed = core.StreamsClosed();
    const auto result = plugin.TypedRequest<BindingProperty>(RemotingMethod::Get, "/s");
    EXPECT_EQ(core.StreamsClosed(), closed + 1);
    EXPECT_EQ(core.Waits().pump - pumps, row.pumps);
    if (row.error) {
      ASSERT_TRUE(result.IsFailure());
      EXPECT_THAT(result.Error().Message(), ::testing::StartsWith(row.error));
    } else {
      EXPECT_TRUE(result.HasValue()) << result.Error().Message();
    }
  }
  EXPECT_EQ(core.StreamsOpened(), core.StreamsClosed());
}

// ---- Resource events -----------------------------------------------------------

TEST_F(Runtime, SubscriptionsAreCountedPerEventName) {
  plugin.Subscribe("/tov-gameflow/v1/session");
  plugin.Subscribe("/tov-gameflow/v1/session/event");
  EXPECT_EQ(plugin.SubscriptionCount("OnJsonApiEvent_tov-gameflow_v1_session"), 2u);
  EXPECT_TRUE(core.HasHandler("OnJsonApiEvent_tov-gameflow_v1_session"));
  plugin.Unsubscribe("/tov-gameflow/v1/session");
  EXPECT_TRUE(core.HasHandler("OnJsonApiEvent_tov-gameflow_v1_session"));
  plugin.Unsubscribe("/tov-gameflow/v1/session/event");
  EXPECT_FALSE(core.HasHandler("OnJsonApiEvent_tov-gameflow_v1_session"));
  plugin.Unsubscribe("/tov-gameflow/v1/session");  // one too many
  EXPECT_EQ(plugin.SubscriptionCount("OnJsonApiEvent_tov-gameflow_v1_session"), 0u);
  plugin.Subscribe("/tov-gameflow/v1/session");
  EXPECT_EQ(plugin.SubscriptionCount("OnJsonApiEvent_tov-gameflow_v1_session"), 1u);
}

TEST_F(Runtime, ObserversGetTheCurrentValueAndEveryChange) {
  core.SetResource("/tov-login/v1/session", R"({"id":1,"name":"first"})");
  core.RunOnce();  // nobody listens yet
  std::vector<std::string> seen;
  plugin.Observe<Champion>("/tov-login/v1/session", [&](const std::string& uri, PluginResourceEventType type,
                                                        const Champion& value) {
    seen.push_back(uri + " " + std::to_string(static_cast<int>(type)) + " " + value.name);
  });
  plugin.Observe<BindingProperty>("/tov-missing/v1/x", [&](const std::string& uri, PluginResourceEventType,
                                                           const BindingProperty&) { seen.push_back(uri); });
  plugin.Observe<BindingProperty>("/tov-login/v1/*", [&](const std::string& uri, PluginResourceEventType type,
                                                         const BindingProperty&) {
    seen.push_back("pattern " + uri + " " + std::to_string(static_cast<int>(type)));
  });
  EXPECT_THAT(seen, ElementsAre("/tov-login/v1/session 0 first"));  // the GET; the missing one gets nothing

  seen.clear();
  core.SetResource("/tov-login/v1/session", R"({"id":1,"name":"second"})");
  core.PushEvent("OnJsonApiEvent_tov-login_v1_session",
                 R"({"uri":"tov-login/v1/session","eventType":"Update","data":{"name":"no slash"}})");
  core.PushEvent("OnJsonApiEvent_tov-login_v1_session",
                 R"({"uri":"/tov-login/v1/session","eventType":"Update","data":{"name":7}})");  // wrong shape
  core.PushEvent("OnJsonApiEvent_tov-login_v1_session", R"([1,2])");                             // not an event
  core.DeleteResource("/tov-login/v1/session");
  core.RunOnce();
  EXPECT_THAT(seen, ElementsAre("/tov-login/v1/session 1 second", "pattern /tov-login/v1/session 1",
                                "/tov-login/v1/session 1 no slash", "pattern /tov-login/v1/session 1",
                                "pattern /tov-login/v1/session 1", "/tov-login/v1/session 2 ",
                                "pattern /tov-login/v1/session 2"));
}

TEST_F(Runtime, HandlersMayChangeTheTablesDuringADelivery) {
  using Handler = AppModule::ResourceHandler<BindingProperty>;
  int first = 0, replaced = 0, replacement = 0, added = 0;
  const Handler count = [&](const std::string&, PluginResourceEventType, const BindingProperty&) { ++replaced; };
  plugin.Observe<BindingProperty>("/x/v1/r/*", [&](const std::string&, PluginResourceEventType, const BindingProperty&) {
    ++first;
    // Replaces the other matching observer and adds one, mid-walk.
    plugin.Observe<BindingProperty>("/x/v1/*/a", [&](const std::string&, PluginResourceEventType,
                                                     const BindingProperty&) { ++replacement; });
    plugin.Observe<BindingProperty>("/x/*/r/a", [&](const std::string&, PluginResourceEventType,
                                                    const BindingProperty&) { ++added; });
  });
  plugin.Observe<BindingProperty>("/x/v1/*/a", count);
  core.SetResource("/x/v1/r/a", "1");
  core.RunOnce();
  EXPECT_EQ(first, 1);
  // Hash order decides which runs first; a replaced observer never runs
  // after its replacement was stored, and the replacement waits for the
  // next change.
  EXPECT_LE(replaced, 1);
  EXPECT_EQ(replacement, 0);
  EXPECT_EQ(added, 0);  // not in the walk's snapshot

  // A handler that shuts the plug-in down while its table is being walked.
  int after = 0;
  plugin.Observe<BindingProperty>("/x/v1/r/a", [&](const std::string&, PluginResourceEventType type,
                                                   const BindingProperty&) {
    if (type == PluginResourceEventType::Update) plugin.Shutdown();
  });
  plugin.Observe<BindingProperty>("/x/v1/r/*", [&](const std::string&, PluginResourceEventType,
                                                   const BindingProperty&) { ++after; });
  core.SetResource("/x/v1/r/a", "2");
  core.RunOnce();
  EXPECT_EQ(after, 0);
  EXPECT_TRUE(core.Handlers().empty());
  EXPECT_TRUE(core.Misuse().empty()) << core.Misuse().front();
}

TEST_F(Runtime, ExceptionsNeverReachTheCore) {
  int after = 0;
  plugin.Observe<BindingProperty>("/x/v1/throws", [&](const std::string&, PluginResourceEventType,
                                                      const BindingProperty&) { throw std::length_error("too long"); });
  plugin.Schedule("throws", [] { throw 7; }, 0);
  plugin.Schedule("after", [&] { ++after; }, 0);
  core.SetResource("/x/v1/throws", "1");
  core.RunOnce();
  EXPECT_EQ(after, 1);
  EXPECT_EQ(plugin.ScheduledCount(), 0u);
  std::vector<std::string> errors;
  for (const auto& line : core.Logs())
    if (line.level == 2) errors.push_back(line.message);
  EXPECT_THAT(errors, ElementsAre("tov-vover-orevid-aredez: a scheduled callback failed",
                                  "tov-vover-orevid-aredez: OnJsonApiEvent_x_v1_throws failed: too long"));
}

TEST_F(Runtime, PublishingSendsTheDerivedAndTheGeneralEvent) {
  ASSERT_TRUE(plugin.Publish(PluginResourceEventType::Update, "/tov-vover-orevid-aredez/v1/session",
                             Champion{1, "x"}).HasValue());
  ASSERT_TRUE(plugin.PublishDeleted("/tov-vover-orevid-aredez/v1/session").HasValue());
  EXPECT_THAT(EventNames(), ElementsAre("OnJsonApiEvent_tov-vover-orevid-aredez_v1_session", "OnJsonApiEvent",
                                        "OnJsonApiEvent_tov-vover-orevid-aredez_v1_session", "OnJsonApiEvent"));
  EXPECT_EQ(core.Events()[0].payloadJson,
            R"({"data":{"id":1,"name":"x"},"eventType":"Update","uri":"/tov-vover-orevid-aredez/v1/session"})");
  EXPECT_THAT(core.Events()[2].payloadJson, HasSubstr(R"("eventType":"Delete")"));
  EXPECT_TRUE(plugin.Publish(PluginResourceEventType::Update, "/u", Unregistered{}).IsFailure());
  EXPECT_EQ(core.Events().size(), 4u);

  ASSERT_TRUE(plugin.Telemetry().Send("champ-select/ban?x", Champion{2, "y"}).get().HasValue());
  EXPECT_EQ(core.Requests().back().url, "/telemetry/v1/events/champ-select/ban?x");
  EXPECT_EQ(core.Requests().back().method, 6u);
}

// ---- LCDS --------------------------------------------------------------------------

TEST_F(Runtime, LcdsInvokeAnnotatesAndChecksTheClass) {
  std::vector<std::string> args;
  core.SetLcdsHandler("teamService", "get", [&](const std::vector<std::string>& a) {
    args = a;
    return Lcds("com.example.Team", R"({"tag":"T","captain":{"id":9,"name":"C"}})");
  });
  Team team;
  team.members = {Champion{1, "a"}, Champion{2, "b"}};
  team.captain = Champion{3, "c"};
  team.tag = "t";
  const auto result = plugin.Await(plugin.InvokeLcds<Team>("teamService", "get", team, std::int64_t{42}));
  ASSERT_TRUE(result.HasValue()) << result.Error().Message();
  EXPECT_EQ(result.Value().captain.name, "C");
  EXPECT_EQ(core.Waits().pump, 0);  // fulfilled before it was returned
  ASSERT_EQ(args.size(), 2u);
  EXPECT_EQ(args[0],
            R"({"__class":"com.example.Team","captain":{"__class":"com.example.Champion","id":3,"name":"c"},)"
            R"("members":[{"__class":"com.example.Champion","id":1,"name":"a"},)"
            R"({"__class":"com.example.Champion","id":2,"name":"b"}],"tag":"t"})");
  EXPECT_EQ(args[1], "42");
  EXPECT_THAT(core.Requests().back().args[0], "\"teamService\"");

  const struct {
    const char* what;
    TovHost::LcdsReply reply;
    const char* message;
  } rows[] = {
      {"other class", Lcds("com.example.Champion", R"({"id":1})"),
       "Expected 'com.example.Team' as LCDS response for teamService.get, but got 'com.example.Champion'"},
      {"empty body", Lcds("com.example.Team", ""), "Couldn't convert LCDS DTO "},
      {"failed invoke", Lcds("", "", "service down", 503),
       "Error response for POST /tov-login/v1/session/invoke: service down"},
  };
  for (const auto& row : rows) {
    core.SetLcdsHandler("teamService", "get", [&](const std::vector<std::string>&) { return row.reply; });
    const auto failed = plugin.Await(plugin.InvokeLcds<Team>("teamService", "get"));
    ASSERT_TRUE(failed.IsFailure()) << row.what;
    EXPECT_THAT(failed.Error().Message(), ::testing::StartsWith(row.message)) << row.what;
  }
  // A class tied to its type before the type is registered still annotates.
  plugin.RegisterLcdsClass<Unregistered>("com.example.Late");
  RegisterStruct<Unregistered>(plugin.Registry(), "Late").Field("x", &Unregistered::x);
  core.SetLcdsHandler("teamService", "late", [&](const std::vector<std::string>& a) {
    args = a;
    return Lcds("", "");
  });
  ASSERT_TRUE(plugin.InvokeLcdsWithoutResult("teamService", "late", Unregistered{5}).HasValue());
  EXPECT_THAT(args, ElementsAre(R"({"__class":"com.example.Late","x":5})"));

  const auto notSent = plugin.InvokeLcdsWithoutResult("teamService", "set", Champion{}, std::map<int, int>{});
  ASSERT_TRUE(notSent.IsFailure());
  EXPECT_THAT(notSent.Error().Message(), ::testing::StartsWith("Couldn't convert LCDS call parameters: "));
}

TEST_F(Runtime, PushedMessagesRunOnALaterTurn) {
  std::vector<std::string> seen;
  plugin.SubscribeLcds<Champion>("com.example.Champion", [&](const Champion& c) { seen.push_back("old " + c.name); });
  plugin.SubscribeLcds<Champion>("com.example.Champion", [&](const Champion& c) { seen.push_back(c.name); });
  int registrations = 0;
  for (const auto& handler : core.Handlers()) registrations += handler.eventName == "OnLcdsEvent_com_example_Champion";
  EXPECT_EQ(registrations, 1);

  core.PushLcds("com.example.Champion", R"({"id":1,"name":"one"})");
  core.PushLcds("com.example.Champion", R"({"id":"not a number"})");
  core.PushLcds("com.example.Champion", R"({"id":2,"name":"two"})");
  core.PushEvent("OnLcdsEvent_com_example_Champion",
                 R"({"clientId":"","subtopic":"","typeName":"com.example.Other","body":{}})");
  core.RunOnce();  // delivered and scheduled, not yet handled
  EXPECT_TRUE(seen.empty());
  core.RunOnce();
  EXPECT_THAT(seen, ElementsAre("one", "two"));
  EXPECT_EQ(core.Scheduled().back().label, "Event: OnLcdsEvent (com.example.Champion)");
}

// ---- Service proxy --------------------------------------------------------------------

struct Answers {
  std::vector<std::string> texts;
  ServiceProxy::Callback Record() {
    return [this](MaybeType<Failure, PluginServiceProxyResponse> answer) {
      texts.push_back(answer ? "ok " + answer.Value().payload : "failed " + answer.Error().Message());
    };
  }
};

TEST_F(Runtime, ServiceProxyMatchesAnswersToRequests) {
  Answers answers;
  // The answer arrives while the request is still being sent.
  core.OnRequest(6, "/tov-login/v1/service-proxy-method-requests", [&](const TovHost::RequestRecord&) {
    core.DeliverEvent("OnServiceProxyMethodEvent",
                      TovHost::Core::ServiceProxyAnswer("", "wardSkins", "receiveSelectedWardSkin", "7"));
    return Reply::Json("");
  });
  EXPECT_EQ(plugin.Proxy().Request("wardSkins", "requestSelectedWardSkin", Champion{}, "receiveSelectedWardSkin", "",
                                   answers.Record()),
            "");
  EXPECT_THAT(answers.texts, ElementsAre("ok 7"));
  EXPECT_THAT(core.Requests().back().args,
              ElementsAre("\"wardSkins\"", "\"requestSelectedWardSkin\"", "\"receiveSelectedWardSkin\"", "\"\"",
                          std::to_string(core.Handle()), R"("{\"id\":0,\"name\":\"\"}")"));

  // Second request while the first is in flight; then one pass per event.
  core.OnRequest(6, "/tov-login/v1/service-proxy-method-requests",
                 [](const TovHost::RequestRecord&) { return Reply::Json(""); });
  answers.texts.clear();
  ASSERT_EQ(plugin.Proxy().Request("s", "a", 1, "ra", "", answers.Record()), "");
  ASSERT_EQ(plugin.Proxy().Request("s", "b", 1, "rb", "", answers.Record()), "");
  const auto sent = core.Requests().size();
  EXPECT_EQ(plugin.Proxy().Request("s", "a", 1, "ra", "", answers.Record()), "Request already in flight");
  EXPECT_EQ(core.Requests().size(), sent);
  core.PushEvent("OnServiceProxyMethodEvent", TovHost::Core::ServiceProxyAnswer("", "s", "ra", "A"));
  core.PushEvent("OnServiceProxyMethodEvent", TovHost::Core::ServiceProxyAnswer("", "s", "rb", "B"));
  core.RunOnce();
  EXPECT_THAT(answers.texts, ElementsAre("failed Request already in flight", "ok A", "ok B"));

  // A late answer for a request that is gone does not complete the next one.
  core.PushEvent("OnServiceProxyMethodEvent", TovHost::Core::ServiceProxyAnswer("", "s", "ra", "late"));
  core.RunOnce();
  answers.texts.clear();
  ASSERT_EQ(plugin.Proxy().Request("s", "a", 1, "ra", "err", answers.Record()), "");
  EXPECT_TRUE(answers.texts.empty());
  core.PushEvent("OnServiceProxyMethodEvent", TovHost::Core::ServiceProxyAnswer("", "s", "err", "", "500", "broken"));
  core.RunOnce();
  EXPECT_THAT(answers.texts, ElementsAre("failed broken"));

  // Uuid-based: the key is what the post returned.
  answers.texts.clear();
  ASSERT_EQ(plugin.Proxy().Request("s", "u", 1, "", "", answers.Record()), "");
  core.PushEvent("OnServiceProxyUuidEvent", TovHost::Core::ServiceProxyAnswer("uuid-1", "s", "u", "U"));
  core.RunOnce();
  EXPECT_THAT(answers.texts, ElementsAre("ok U"));
  EXPECT_EQ(plugin.Proxy().InFlight(), 0u);
}

TEST_F(Runtime, ServiceProxyDeadlinesAndReentry) {
  Answers answers;
  plugin.Proxy().SetTimeout(10);
  ASSERT_EQ(plugin.Proxy().Request("s", "a", 1, "ra", "", answers.Record()), "");
  core.AdvanceTime(9.5);
  EXPECT_TRUE(answers.texts.empty());
  core.AdvanceTime(1);
  EXPECT_THAT(answers.texts, ElementsAre("failed No answer to service proxy request s.a within 10 seconds"));
  EXPECT_EQ(plugin.Proxy().InFlight(), 0u);

  // A callback that sends the next request does not deadlock.
  answers.texts.clear();
  ASSERT_EQ(plugin.Proxy().Request("s", "a", 1, "ra", "",
                                   [&](MaybeType<Failure, PluginServiceProxyResponse>) {
                                     answers.texts.push_back(
                                         plugin.Proxy().Request("s", "a", 2, "ra", "", answers.Record()));
                                   }),
            "");
  core.PushEvent("OnServiceProxyMethodEvent", TovHost::Core::ServiceProxyAnswer("", "s", "ra", "1"));
  core.RunOnce();
  EXPECT_THAT(answers.texts, ElementsAre(""));
  EXPECT_EQ(plugin.Proxy().InFlight(), 1u);

  core.PushEvent("OnServiceProxyAsyncEvent", TovHost::Core::ServiceProxyAnswer("", "s", "push", "1"));
  core.RunOnce();
  EXPECT_THAT(core.Logs().back().message, HasSubstr("Could not find registered handler for async service proxy event s.push"));

  plugin.Stop();
  const auto sent = core.Requests().size();
  EXPECT_EQ(plugin.Proxy().Request("s", "z", 1, "rz", "", answers.Record()), "Finalizing");
  EXPECT_EQ(core.Requests().size(), sent);
}

// Whatever happens to a request, its waiter wakes with an answer or a reason,
// and an answer completes only the request its key names.
TEST_F(Runtime, ServiceProxyWaitersAlwaysWake) {
  core.OnRequest(6, "/tov-login/v1/service-proxy-method-requests",
                 [](const TovHost::RequestRecord&) { return Reply::Json(""); });
  const auto answer = [&](const char* method, const char* payload, const char* error = "") {
    core.PushEvent("OnServiceProxyMethodEvent",
                   TovHost::Core::ServiceProxyAnswer("", "wardSkins", method, payload, error[0] ? "500" : "", error));
  };
  const auto call = [&](const char* method, const char* reply, const char* errorReply) {
    return plugin.Proxy().Call("wardSkins", method, Champion{}, reply, errorReply);
  };
  const auto text = [](const MaybeType<Failure, BindingProperty>& result) {
    return result ? ToJson(result.Value()) : "failed " + result.Error().Message();
  };

  // An answer delivered on the second pump wakes the await, payload parsed.
  core.onPump = [&](int pump) {
    if (pump == 2) answer("receiveSelectedWardSkin", R"({"selectedWardSkinId":7})");
  };
  EXPECT_EQ(text(plugin.Await(call("requestSelectedWardSkin", "receiveSelectedWardSkin", ""))),
            R"({"selectedWardSkinId":7})");
  EXPECT_EQ(core.Waits().pump, 2);
  EXPECT_EQ(plugin.ScheduledCount(), 0u);  // its deadline went with it
  EXPECT_EQ(core.Logs().back().message,
            "tov-vover-orevid-aredez: Fulfilled service proxy request: wardSkins.receiveSelectedWardSkin");
  core.onPump = nullptr;

  // A request whose error answer shares another request's answer key is
  // sent; each answer goes to the request waiting on its key, an error
  // answer to the oldest request that names it.
  auto select = call("selectWardSkin", "receiveSelectionConfirmation", "receiveWardSkinServiceError");
  auto refused = call("selectWardSkin", "receiveSelectionConfirmation", "");
  auto errors = call("requestSelectedWardSkin", "receiveWardSkinServiceError", "");
  auto other = call("other", "receiveOther", "receiveWardSkinServiceError");
  EXPECT_EQ(text(refused.get()), "failed Request already in flight");
  answer("receiveWardSkinServiceError", "", "");
  answer("receiveOther", "");
  core.RunOnce();
  EXPECT_EQ(text(errors.get()), "");  // an empty payload is an empty value
  EXPECT_EQ(text(other.get()), "");
  answer("receiveWardSkinServiceError", "", "no such skin");
  core.RunOnce();
  EXPECT_EQ(text(select.get()), "failed no such skin");

  const struct {
    const char* what;
    std::function<void()> act;
    const char* result;
  } rows[] = {
      {"payload that is not JSON", [&] { answer("receiveSelectedWardSkin", "{7"); }, "failed Error: Missing a name for object member. at offset 1."},
      {"deadline", [&] { core.AdvanceTime(31); },
       "failed No answer to service proxy request wardSkins.requestSelectedWardSkin within 30 seconds"},
      {"post refused", [&] {},
       "failed Error response for POST /tov-login/v1/service-proxy-method-requests: proxy down"},
      {"shutting down", [&] {}, "failed Finalizing"},
  };
  for (const auto& row : rows) {
    if (std::string(row.what) == "post refused")
      core.OnRequest(6, "/tov-login/v1/service-proxy-method-requests",
                     [](const TovHost::RequestRecord&) { return Reply::Failure(503, "proxy down"); });
    if (std::string(row.what) == "shutting down") plugin.Stop();
    auto future = call("requestSelectedWardSkin", "receiveSelectedWardSkin", "");
    row.act();
    core.RunOnce();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(0)), std::future_status::ready) << row.what;
    EXPECT_THAT(text(future.get()), ::testing::StartsWith(row.result)) << row.what;
  }
}

}  // namespace
}  // namespace Vexa
