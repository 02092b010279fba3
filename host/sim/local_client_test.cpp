// The local player's client on its own: what it sends, given what a plug-in
// publishes. The plug-in here is a fake behind the real function records,
// which answers as scripted and may publish while it answers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <map>

#include "sim/json.h"
#include "sim/local_client.h"

namespace TovSim {
namespace {

using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

constexpr const char* kSessionUri = "/tov-vover-orevid-aredez/v1/session";
constexpr const char* kPickableUri = "/tov-vover-orevid-aredez/v1/pickable-champions";
constexpr const char* kBannableUri = "/tov-vover-orevid-aredez/v1/bannable-champions";
constexpr const char* kActions = "/tov-vover-orevid-aredez/v1/session/actions/";

class FakePlugin {
 public:
  // The routes of the client's requests; any of them may be left out.
  explicit FakePlugin(const std::vector<std::pair<uint32_t, std::string>>& routes) {
    for (const auto& [method, path] : routes) {
      templates_.push_back("/tov-vover-orevid-aredez/v1/" + path);
      PluginFunctionRecord record{};
      record.description.context = this;
      record.dispatch = &FakePlugin::Dispatch;
      record.method = method;
      records_.push_back(record);
    }
    for (size_t i = 0; i < records_.size(); ++i) records_[i].pathTemplate = templates_[i].c_str();
    api_.functions = records_.data();
    api_.functionCount = static_cast<uint32_t>(records_.size());
  }
  const ApiDescription* Api() const { return &api_; }

  std::vector<std::string> seen;  // "METHOD path body"
  // Failure texts to answer, in turn, to "METHOD path".
  std::map<std::string, std::deque<std::string>> refusals;
  // Runs inside each request, as the plug-in's own publications do.
  std::function<void(const std::string& methodAndPath)> onRequest;

 private:
  static void Dispatch(void* context, RemotingResponse* response, const RemotingRequest* request) {
    auto& self = *static_cast<FakePlugin*>(context);
    const std::string key = std::string(TovHost::MethodName(request->method)) + " " + request->url;
    self.seen.push_back(key + (request->body ? " " + std::string(static_cast<const char*>(request->body), request->bodyLength) : ""));
    if (self.onRequest) self.onRequest(key);
    std::deque<std::string>& refused = self.refusals[key];
    response->status = 200;
    if (refused.empty()) return;
    self.texts_.push_back(refused.front());
    refused.pop_front();
    response->status = 500;
    response->error = self.texts_.back().c_str();
  }

  std::vector<std::string> templates_;
  std::vector<PluginFunctionRecord> records_;
  ApiDescription api_{};
  std::deque<std::string> texts_;
};

constexpr uint32_t kPatch = 5, kPost = 6;
const std::vector<std::pair<uint32_t, std::string>> kAllRoutes = {
    {kPatch, "session/actions/{id}"},       {kPost, "session/actions/{id}/complete"}, {kPatch, "session/my-selection"},
    {kPost, "session/my-selection/reroll"}, {kPost, "battle-training/launch"},
    {kPost, "session/trades/{id}/request"}, {kPost, "session/trades/{id}/accept"},
    {kPost, "session/trades/{id}/decline"}, {kPost, "session/trades/{id}/cancel"},
    {kPost, "team-boost/purchase"},
};

// A session as the plug-in publishes it, with the parts the client reads.
std::string Session(const std::string& actions, const char* phase = "BAN_PICK", int myChampion = 0,
                    const char* theirBans = "[]", int64_t localCell = 0) {
  return JsonWriter()
      .BeginObject()
      .Key("localPlayerCellId").Int(localCell)
      .Key("actions").Raw(actions)
      .Key("myTeam").Raw(R"([{"cellId":0,"championId":)" + std::to_string(myChampion) +
                         R"(,"spell1Id":101,"spell2Id":102},{"cellId":1,"championId":12}])")
      .Key("theirTeam").Raw(R"([{"cellId":5,"championId":0}])")
      .Key("bans").Raw(std::string(R"({"myTeamBans":[],"theirTeamBans":)") + theirBans + "}")
      .Key("timer").Raw(std::string(R"({"phase":")") + phase + R"("})")
      .EndObject()
      .Text();
}

// A session while finalizing: the local player (cell 0) holds 7, its mates
// in cells 1 and 2 hold 12 and 15; `trades` as the plug-in shows them.
std::string Finalizing(const std::string& trades) {
  return JsonWriter()
      .BeginObject()
      .Key("localPlayerCellId").Int(0)
      .Key("actions").Raw("[]")
      .Key("myTeam").Raw(R"([{"cellId":0,"championId":7},{"cellId":1,"championId":12},{"cellId":2,"championId":15}])")
      .Key("theirTeam").Raw("[]")
      .Key("trades").Raw(trades)
      .Key("timer").Raw(R"({"phase":"FINALIZATION"})")
      .EndObject()
      .Text();
}

std::string Trades(const char* first, const char* second) {
  return std::string(R"([{"id":101,"cellId":1,"state":)") + first + R"(},{"id":102,"cellId":2,"state":)" + second +
         "}]";
}

std::string Action(int64_t id, int64_t cell, const char* type, bool completed = false, int championId = 0) {
  return JsonWriter()
      .BeginObject()
      .Key("id").Int(id).Key("actorCellId").Int(cell).Key("championId").Int(championId)
      .Key("type").String(type).Key("completed").Bool(completed).Key("pickTurn").Int(1)
      .EndObject()
      .Text();
}

struct ClientBench {
  explicit ClientBench(const std::vector<std::pair<uint32_t, std::string>>& routes = kAllRoutes) : plugin(routes) {
    core.UseApi(plugin.Api());
    trace.Keep(true);
  }

  void Publish(const char* uri, const char* eventType, const std::string& data = "") {
    const std::string payload = JsonWriter()
                                    .BeginObject()
                                    .Key("uri").String(uri)
                                    .Key("eventType").String(eventType)
                                    .Key("data").Raw(data)
                                    .EndObject()
                                    .Text();
    const std::string path = std::string(uri).substr(std::string("/tov-vover-orevid-aredez/v1/").size());
    you.OnEvent(TovHost::SentEvent{"OnJsonApiEvent_tov-vover-orevid-aredez_v1_" + path, payload});
  }
  void RunFor(double seconds) {
    const double until = core.Now() + seconds;
    while (scheduler.NextDue() != kNever && ToSeconds(scheduler.NextDue()) <= until) {
      core.MoveClockTo(ToSeconds(scheduler.NextDue()));
      scheduler.RunOne();
    }
    core.MoveClockTo(until);
  }
  int Answers() const {
    int count = 0;
    for (const std::string& line : trace.Lines()) count += line.find(R"("kind":"answer")") != std::string::npos;
    return count;
  }

  FakePlugin plugin;
  TovHost::Core core;
  Trace trace{[this] { return core.Now(); }};
  Scheduler scheduler{[this] { return ToMicros(core.Now()); }};
  FaultPlan plan;
  ClientState client{core, scheduler, plan, trace, ClientSetup{}};
  LocalClient you{core, scheduler, trace, client, 1};
};

// What the client sends for what it is shown: its own open action only,
// what the plug-in offers, another champion after a refusal, nothing once
// the session is gone or a route is missing; while finalizing, its rerolls
// and then its selection for the champion it holds by then; in battle
// training, the launch once its pick is done.
TEST(LocalClient, SendsTheRoutesForWhatThePluginShows) {
  const std::string banTurn = "[[" + Action(1, 0, "ban") + "]]";
  const std::string pickTurn = "[[" + Action(1, 0, "ban", true, 33) + "],[" + Action(2, 0, "pick") + "]]";
  const std::string complete = std::string(kActions) + "1/complete";
  const struct {
    const char* what;
    bool routes;  // the plug-in has the routes
    std::function<void(ClientBench&)> play;
    std::vector<std::string> seen;  // by the plug-in, in order
    int answers;                    // in the trace
  } rows[] = {
      {"its ban turn", true,
       [&](ClientBench& b) { b.Publish(kSessionUri, "Create", Session(banTurn)); },
       {std::string("PATCH ") + kActions + R"(1 {"championId":33})", "POST " + complete}, 2},
      {"only what may still be banned, and no mate's champion", true,
       [&](ClientBench& b) {
         b.Publish(kBannableUri, "Create", R"({"championIds":[12,13,14]})");
         b.Publish(kSessionUri, "Create", Session(banTurn, "BAN_PICK", 0, "[14]"));
       },
       {std::string("PATCH ") + kActions + R"(1 {"championId":13})", "POST " + complete}, 2},
      {"a turn that is not its own yet", true,
       [&](ClientBench& b) {
         b.Publish(kSessionUri, "Create", Session("[[" + Action(1, 5, "ban") + "],[" + Action(2, 0, "ban") + "]]"));
       },
       {}, 0},
      {"watching", true,
       [&](ClientBench& b) { b.Publish(kSessionUri, "Create", Session(banTurn, "BAN_PICK", 0, "[]", -1)); }, {}, 0},
      {"a pick refused by the platform", true,
       [&](ClientBench& b) {
         b.plugin.refusals[std::string("PATCH ") + kActions + "2"].push_back("Champion already taken");
         b.Publish(kPickableUri, "Create", R"({"championIds":[7,12,15]})");
         b.Publish(kSessionUri, "Create", Session(pickTurn, "BAN_PICK"));
       },
       // 12 is a mate's.
       {std::string("PATCH ") + kActions + R"(2 {"championId":7})", std::string("PATCH ") + kActions + R"(2 {"championId":15})",
        std::string("POST ") + kActions + "2/complete"},
       3},
      {"a route the plug-in lacks", false,
       [&](ClientBench& b) {
         b.Publish(kSessionUri, "Create", Session(banTurn));
         b.RunFor(40);
         b.Publish(kSessionUri, "Update", Session(pickTurn));
       },
       {}, 1},
      {"the session ends before it moves", true,
       [&](ClientBench& b) {
         b.Publish(kSessionUri, "Create", Session(banTurn));
         b.Publish(kSessionUri, "Delete");
       },
       {}, 0},
      {"finalizing: rerolls, then the selection", true,
       [&](ClientBench& b) {
         LocalScript script;
         script.rerolls = 2;
         b.you.Play(script);
         b.plugin.onRequest = [&b](const std::string& request) {
           if (request.ends_with("/reroll")) b.Publish(kSessionUri, "Update", Session("[]", "FINALIZATION", 9));
         };
         b.Publish(kSessionUri, "Create", Session("[]", "FINALIZATION", 7));
       },
       {"POST /tov-vover-orevid-aredez/v1/session/my-selection/reroll",
        "POST /tov-vover-orevid-aredez/v1/session/my-selection/reroll",
        R"(PATCH /tov-vover-orevid-aredez/v1/session/my-selection {"spell1Id":104,"spell2Id":107,"selectedSkinId":9002,"wardSkinId":5})"},
       3},
      {"battle training: the launch once the pick is done", true,
       [&](ClientBench& b) {
         b.client.SetBattleTraining(true);
         b.plugin.onRequest = [&b](const std::string& request) {
           if (request.ends_with("/complete"))
             b.Publish(kSessionUri, "Update", Session("[[" + Action(1, 0, "pick", true, 22) + "]]", "FINALIZATION", 22));
         };
         b.Publish(kPickableUri, "Create", R"({"championIds":[22,86]})");
         b.Publish(kSessionUri, "Create", Session("[[" + Action(1, 0, "pick") + "]]"));
       },
       {std::string("PATCH ") + kActions + R"(1 {"championId":22})", "POST " + complete,
        "POST /tov-vover-orevid-aredez/v1/battle-training/launch"},
       3},
      {"battle training without a launch", true,
       [&](ClientBench& b) {
         LocalScript script;
         script.launch = false;
         b.you.Play(script);
         b.client.SetBattleTraining(true);
         b.Publish(kSessionUri, "Create", Session("[[" + Action(1, 0, "pick", true, 22) + "]]", "FINALIZATION", 22));
       },
       {}, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    ClientBench bench(row.routes ? kAllRoutes : std::vector<std::pair<uint32_t, std::string>>{});
    row.play(bench);
    bench.RunFor(60);
    EXPECT_THAT(bench.plugin.seen, ElementsAreArray(row.seen));
    EXPECT_EQ(bench.Answers(), row.answers);
    EXPECT_FALSE(bench.you.HasDeferred());
  }
}

// While finalizing, as scripted: one offer to an available mate (once more
// after a busy one), answers to the offers it gets up to a number, its own
// offer withdrawn when unanswered, the boost bought while it is locked; the
// trade states read by name or by number.
TEST(LocalClient, TradesAndTheBoostAsScripted) {
  const std::string trades = "/tov-vover-orevid-aredez/v1/session/trades/";
  const std::string purchase = "POST /tov-vover-orevid-aredez/v1/team-boost/purchase";
  const auto script = [](auto change) {
    LocalScript s;
    change(s);
    return s;
  };
  const LocalScript offers = script([](LocalScript& s) { s.tradeAt = Seconds(3); });
  const struct {
    const char* what;
    LocalScript script;
    std::function<void(ClientBench&)> play;
    std::vector<std::string> seen;  // trade and boost requests, in order
  } rows[] = {
      {"an offer to the one available mate", offers,
       [](ClientBench& b) { b.Publish(kSessionUri, "Create", Finalizing(Trades(R"("INVALID")", R"("AVAILABLE")"))); },
       {"POST " + trades + "102/request"}},
      {"no offer unless scripted", LocalScript{},
       [](ClientBench& b) { b.Publish(kSessionUri, "Create", Finalizing(Trades(R"("AVAILABLE")", R"("AVAILABLE")"))); },
       {}},
      {"a busy mate: once more, and no more", offers,
       [](ClientBench& b) {
         b.plugin.onRequest = [&b](const std::string&) {
           for (const char* state : {R"("SENT")", R"("BUSY")", R"("AVAILABLE")"})
             b.Publish(kSessionUri, "Update", Finalizing(Trades(R"("INVALID")", state)));
         };
         b.Publish(kSessionUri, "Create", Finalizing(Trades(R"("INVALID")", R"("AVAILABLE")")));
       },
       {"POST " + trades + "102/request", "POST " + trades + "102/request"}},
      {"an offer received, accepted (states by number)", LocalScript{},
       [](ClientBench& b) { b.Publish(kSessionUri, "Create", Finalizing(Trades("4", "1"))); },
       {"POST " + trades + "101/accept"}},
      {"declined, and the next offer left to run out",
       script([](LocalScript& s) {
         s.acceptOffers = false;
         s.offersAnswered = 1;
       }),
       [](ClientBench& b) {
         b.Publish(kSessionUri, "Create", Finalizing(Trades(R"("RECEIVED")", R"("AVAILABLE")")));
         b.RunFor(5);
         b.Publish(kSessionUri, "Update", Finalizing(Trades(R"("INVALID")", R"("AVAILABLE")")));
         b.Publish(kSessionUri, "Update", Finalizing(Trades(R"("INVALID")", R"("RECEIVED")")));
       },
       {"POST " + trades + "101/decline"}},
      {"its own offer withdrawn while unanswered",
       script([](LocalScript& s) {
         s.tradeAt = Seconds(3);
         s.cancelAfter = Seconds(4);
       }),
       [](ClientBench& b) {
         b.plugin.onRequest = [&b](const std::string& request) {
           if (request.ends_with("/request")) b.Publish(kSessionUri, "Update", Finalizing(Trades(R"("INVALID")", R"("SENT")")));
         };
         b.Publish(kSessionUri, "Create", Finalizing(Trades(R"("INVALID")", R"("AVAILABLE")")));
       },
       {"POST " + trades + "102/request", "POST " + trades + "102/cancel"}},
      {"the boost, shown locked", script([](LocalScript& s) { s.buyBoost = true; }),
       [](ClientBench& b) {
         b.Publish(kSessionUri, "Create", Finalizing("[]"));
         b.Publish("/tov-vover-orevid-aredez/v1/team-boost", "Create", R"({"unlocked":false,"price":95})");
       },
       {purchase}},
      {"the boost, bought by a mate first", script([](LocalScript& s) { s.buyBoost = true; }),
       [](ClientBench& b) {
         b.Publish("/tov-vover-orevid-aredez/v1/team-boost", "Create", R"({"unlocked":false,"price":95})");
         b.Publish(kSessionUri, "Create", Finalizing("[]"));
         b.Publish("/tov-vover-orevid-aredez/v1/team-boost", "Update", R"({"unlocked":true,"summonerName":"Mate Two"})");
       },
       {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    ClientBench bench;
    bench.you.Play(row.script);
    row.play(bench);
    bench.RunFor(60);
    std::vector<std::string> seen;
    for (const std::string& request : bench.plugin.seen)
      if (request.find("/trades/") != std::string::npos || request.find("team-boost") != std::string::npos)
        seen.push_back(request);
    EXPECT_THAT(seen, ElementsAreArray(row.seen));
  }
}

// The core serves one request at a time: a move due while the plug-in
// waits inside another goes once the wait is over, and not before.
TEST(LocalClient, AMoveDueDuringThePluginsWaitGoesAfterIt) {
  ClientBench bench;
  bench.Publish(kSessionUri, "Create", Session("[[" + Action(1, 0, "ban") + "]]"));
  bench.core.Api()->BeginWait(bench.core.Api(), "plug-in", 0);
  bench.RunFor(60);
  EXPECT_THAT(bench.plugin.seen, IsEmpty());
  EXPECT_TRUE(bench.you.HasDeferred());
  bench.core.Api()->EndWait(bench.core.Api());
  while (bench.you.RunDeferred()) {
  }
  EXPECT_EQ(bench.plugin.seen.size(), 1u);
}

}  // namespace
}  // namespace TovSim
