// Loads the built plug-in the way the core does: through dlopen and the one
// export, in this process and through the tov-core executable.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/core.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

struct CoreRun {
  int status;
  std::string output;
};

CoreRun RunCore(const std::string& arguments) {
  const std::string command = std::string(TOV_CORE_PATH) + " " + arguments + " 2>&1";
  CoreRun run{-1, ""};
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  std::array<char, 4096> buffer;
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) run.output.append(buffer.data(), n);
  const int raw = pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  return run;
}

TEST(TovCore, DemoShowsHandshakeLogLinesStatsAndShutdown) {
  const CoreRun run = RunCore(std::string("--stats ") + TOV_PLUGIN_PATH);
  EXPECT_EQ(run.status, 0) << run.output;
  for (const char* expected : {
           "core: plugin API 18.0.0, loading ",
           "handshake: plugin API 18.0.0, short name \"tov-vover-orevid-aredez\", 18 functions",
           "Init: succeeded",
           "registered event handler: OnServiceProxyMethodEvent (flags 1)",
           "ALWAYS| tov-vover-orevid-aredez: Initialized (VexaClient/18.0.0 (tov-vover-orevid-aredez)).",
           "memory after Init: live ",
           "ALWAYS| tov-vover-orevid-aredez: Shutting down.",
           "ALWAYS| tov-vover-orevid-aredez: ChampSelect: entering state 'NoSelections'",
           "ALWAYS| tov-vover-orevid-aredez: ChampSelect: exiting state 'ChampSelect'",
           "Shutdown: done, 14 event handlers unregistered, 0 still registered",
       })
    EXPECT_THAT(run.output, HasSubstr(expected));
}

// The client finds the routes by these names, methods and argument places.
TEST(TovCore, ApiListsTheChampionSelectRoutesInTheirOrder) {
  const CoreRun run = RunCore(std::string("api --format epytext ") + TOV_PLUGIN_PATH);
  ASSERT_EQ(run.status, 0) << run.output;
  std::vector<std::string> routes;
  std::istringstream lines(run.output);
  for (std::string line; std::getline(lines, line) && line.rfind("struct ", 0) != 0;) {
    const std::string prefix = "/tov-vover-orevid-aredez/v1/";
    if (const size_t at = line.find(prefix); at != std::string::npos && line[0] != ' ') {
      routes.push_back(line.erase(at, prefix.size()));
    } else if (line.rfind("  @type ", 0) == 0 && !routes.empty()) {
      // "  @type id: int64 (path)" adds "id (path)".
      routes.back().append(" ").append(line, 8, line.find(':') - 8).append(line, line.rfind(" ("));
    }
  }
  EXPECT_THAT(routes,
              ::testing::ElementsAre(
                  "GET implementation-active  (GetTovVoverOrevidAredezV1ImplementationActive)",
                  "GET session  (GetTovVoverOrevidAredezV1Session)",
                  "GET session/trades  (GetTovVoverOrevidAredezV1SessionTrades)",
                  "GET session/trades/{id}  (GetTovVoverOrevidAredezV1SessionTradesById) id (path)",
                  "POST session/trades/{id}/request  (PostTovVoverOrevidAredezV1SessionTradesByIdRequest) id (path)",
                  "POST session/trades/{id}/accept  (PostTovVoverOrevidAredezV1SessionTradesByIdAccept) id (path)",
                  "POST session/trades/{id}/decline  (PostTovVoverOrevidAredezV1SessionTradesByIdDecline) id (path)",
                  "POST session/trades/{id}/cancel  (PostTovVoverOrevidAredezV1SessionTradesByIdCancel) id (path)",
                  "PATCH session/actions/{id}  (PatchTovVoverOrevidAredezV1SessionActionsById) id (path) data (body)",
                  "POST session/actions/{id}/complete  (PostTovVoverOrevidAredezV1SessionActionsByIdComplete) id (path)",
                  "POST session/my-selection/reroll  (PostTovVoverOrevidAredezV1SessionMySelectionReroll)",
                  "POST team-boost/purchase  (PostTovVoverOrevidAredezV1TeamBoostPurchase)",
                  "PATCH session/my-selection  (PatchTovVoverOrevidAredezV1SessionMySelection) selection (body)",
                  "GET session/timer  (GetTovVoverOrevidAredezV1SessionTimer)",
                  "POST battle-training/launch  (PostTovVoverOrevidAredezV1BattleTrainingLaunch)",
                  "GET pickable-champions  (GetTovVoverOrevidAredezV1PickableChampions)",
                  "GET bannable-champions  (GetTovVoverOrevidAredezV1BannableChampions)",
                  "GET team-boost  (GetTovVoverOrevidAredezV1TeamBoost)"));
}

TEST(TovCore, DemoDeliversAResourceUpdateAndAPushedMessage) {
  const CoreRun run = RunCore(std::string("--demo ") + TOV_PLUGIN_PATH);
  EXPECT_EQ(run.status, 0) << run.output;
  // A game back in its lobby: the plug-in leaves champion select and says so.
  for (const char* expected : {
           "registered event handler: OnJsonApiEvent_tov-gameflow_v1_session (flags 0)",
           "registered event handler: OnLcdsEvent_com_vexagames_platform_game_GameDTO (flags 1)",
           "request from the plug-in: GET /tov-gameflow/v1/session",
           "ALWAYS| tov-vover-orevid-aredez: CHAMP_SELECT_EVENT.RETURN_TO_LOBBY",
           "request from the plug-in: POST /tov-gameflow/v1/session/event",
           "event from the plug-in: OnJsonApiEvent_tov-vover-orevid-aredez_v1_implementation-active "
           "{\"data\":false,\"eventType\":\"Update\",\"uri\":\"/tov-vover-orevid-aredez/v1/implementation-active\"}",
       })
    EXPECT_THAT(run.output, HasSubstr(expected));
}

// The built library over the stand-in: what the plug-in subscribes to at
// Init, and that its handlers are gone from the core after Shutdown even
// while the core still holds callbacks that it fires late.
TEST(LoadedPlugin, SubscribesAtInitAndLeavesNothingBehind) {
  TovHost::PluginLibrary library(TOV_PLUGIN_PATH);
  ASSERT_TRUE(library.Loaded()) << library.Error();
  const PluginHandshake record = library.Handshake(18, 0, 0);
  TovHost::Core core;
  const CoreContext context = core.Context();
  core.SetResource("/tov-gameflow/v1/session", R"({"phase":"Lobby"})");
  ASSERT_EQ(record.callbacks->Init(record.plugin, &context), 1);
  ASSERT_FALSE(core.Requests().empty());
  EXPECT_EQ(core.Requests()[0].url, "/tov-gameflow/v1/session");
  EXPECT_EQ(core.Requests()[0].method, 2u);
  EXPECT_TRUE(core.HasHandler("OnJsonApiEvent_tov-gameflow_v1_session"));
  EXPECT_TRUE(core.HasHandler("OnLcdsEvent_com_vexagames_platform_game_GameDTO"));

  core.PushLcds("com.vexagames.platform.game.GameDTO", R"({"id":1})");
  core.RunOnce();  // delivered: the plug-in schedules the handling
  const size_t scheduled = core.Scheduled().size();
  ASSERT_GT(scheduled, 0u);
  const TovHost::ScheduledRecord pending = core.Scheduled().back();
  EXPECT_EQ(pending.label, "Event: OnLcdsEvent (com.vexagames.platform.game.GameDTO)");
  record.callbacks->Shutdown(record.plugin);
  EXPECT_TRUE(core.Handlers().empty());
  core.RunOnce();       // the callback the plug-in left with the core
  core.Fire(pending);  // and once more, as a faulty core would
  EXPECT_TRUE(core.Misuse().empty());
}

TEST(TovCore, IncompatibleCoreVersionsEndTheProcess) {
  for (const char* version : {"17.9.9", "19.0.0", "17.0.0"}) {
    const CoreRun run = RunCore(std::string("--core-version ") + version + " " + TOV_PLUGIN_PATH);
    EXPECT_EQ(run.status, 3) << version << "\n" << run.output;
    EXPECT_THAT(run.output, HasSubstr("Expression: ALE-EECF0606")) << version;
    EXPECT_THAT(run.output, HasSubstr(std::string("is not compatible with core's plugin API ") + version));
    EXPECT_THAT(run.output, Not(HasSubstr("handshake:")));  // the core never sees a result
  }
  EXPECT_EQ(RunCore(std::string("--core-version 18.4.2 ") + TOV_PLUGIN_PATH).status, 0);
  EXPECT_EQ(RunCore("--core-version 18.x " + std::string(TOV_PLUGIN_PATH)).status, 2);
  EXPECT_EQ(RunCore("/nonexistent/plugin.so").status, 1);
}

// The test build's routes, found and called by the core through the
// exported function records.
TEST(LoadedPlugin, CoreRoutesRequestsThroughTheFunctionRecords) {
  TovHost::PluginLibrary library(TOV_TEST_PLUGIN_PATH);
  ASSERT_TRUE(library.Loaded()) << library.Error();
  const PluginHandshake record = library.Handshake(18, 0, 0);
  ASSERT_NE(record.apiDescription, nullptr);
  ASSERT_EQ(record.apiDescription->functionCount, 2u);
  EXPECT_STREQ(record.apiDescription->functions[0].description.name, "GetTovVoverOrevidAredezV1EchoById");
  EXPECT_GT(record.apiDescription->typeCount, 0u);
  TovHost::Core core;
  core.UseApi(record.apiDescription);
  const CoreContext context = core.Context();
  ASSERT_EQ(record.callbacks->Init(record.plugin, &context), 1);

  const struct {
    uint32_t method;
    const char* url;
    std::string body;
    const char* contentType;
    int32_t status;
    const char* answer;  // body JSON, or the failure text
  } rows[] = {
      {2, "/tov-vover-orevid-aredez/v1/echo/7", "", "", 0, R"("7:-")"},
      {2, "/tov-vover-orevid-aredez/v1/echo/7?note=hi%20there", "", "", 0, R"("7:hi there")"},
      {2, "/tov-vover-orevid-aredez/v1/echo/-1", "", "", 404, "No such echo"},
      {2, "/tov-vover-orevid-aredez/v1/echo/7?id=8", "", "", 0,
       "Argument 'id' for 'GetTovVoverOrevidAredezV1EchoById' was specified in an invalid location."},
      {6, "/tov-vover-orevid-aredez/v1/items", R"({"b":[1,2],"a":true})", "application/json", 0,
       R"({"a":true,"b":[1,2]})"},
      {6, "/tov-vover-orevid-aredez/v1/items", "\x81\xa1" "a\x01", "application/x-msgpack", 0, R"({"a":1})"},
      {6, "/tov-vover-orevid-aredez/v1/items", "a: 1", "text/plain", 0, "Unsupported body content type"},
      {2, "/tov-vover-orevid-aredez/v1/nothing", "", "", 404, "No plug-in function for GET /tov-vover-orevid-aredez/v1/nothing"},
  };
  for (const auto& row : rows) {
    const auto result = core.Call(row.method, row.url, row.body, row.contentType);
    EXPECT_EQ(result.status, row.status) << row.url;
    EXPECT_EQ(result.error.empty() ? result.bodyJson : result.error, row.answer) << row.url;
  }
  record.callbacks->Shutdown(record.plugin);
}

TEST(TovCore, RequestAndApiCommands) {
  const std::string plugin = TOV_TEST_PLUGIN_PATH;
  CoreRun run = RunCore("request GET /tov-vover-orevid-aredez/v1/echo/3?note=x " + plugin);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output, "status 0\n\"3:x\"\n");
  run = RunCore("request POST /tov-vover-orevid-aredez/v1/items --body '[1,{\"k\":null}]' " + plugin);
  EXPECT_EQ(run.output, "status 0\n[1,{\"k\":null}]\n");
  run = RunCore("request GET /tov-vover-orevid-aredez/v1/echo/-5 " + plugin);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "status 404\nerror: No such echo\n");
  EXPECT_EQ(RunCore("request FETCH /x " + plugin).status, 2);

  run = RunCore("api " + plugin);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_THAT(run.output, HasSubstr(R"("name": "GetTovVoverOrevidAredezV1EchoById")"));
  EXPECT_THAT(run.output, HasSubstr(R"("path": "/tov-vover-orevid-aredez/v1/echo/{id}")"));
  EXPECT_THAT(run.output, HasSubstr(R"("name": "OnJsonApiEvent")"));
  run = RunCore("api --format epytext " + plugin);
  EXPECT_THAT(run.output, HasSubstr("GET /tov-vover-orevid-aredez/v1/echo/{id}  (GetTovVoverOrevidAredezV1EchoById)\n"
                                    "  @param id: which echo\n  @type id: int64 (path)\n"));
  EXPECT_THAT(run.output, HasSubstr("enum PluginResourceEventType\n  @cvar Create: (0)\n"));
  EXPECT_EQ(RunCore("api --format yaml " + plugin).status, 2);
}

TEST(LoadedPlugin, MemoryStatsWhileAnotherInstanceAllocates) {
  TovHost::PluginLibrary library(TOV_PLUGIN_PATH);
  ASSERT_TRUE(library.Loaded()) << library.Error();
  const PluginHandshake watched = library.Handshake(18, 0, 0);
  ASSERT_NE(watched.callbacks, nullptr);
  TovHost::Core core;
  const CoreContext context = core.Context();
  ASSERT_EQ(watched.callbacks->Init(watched.plugin, &context), 1);

  std::atomic<bool> done{false};
  std::atomic<int> reads{0}, violations{0};
  std::thread reader([&] {
    while (!done.load()) {
      PluginMemoryStats s{};
      watched.callbacks->GetMemoryStats(watched.plugin, &s);
      if (s.frees > s.allocations || s.bytesFreed > s.bytesAllocated || s.reserved[0] || s.reserved[1])
        ++violations;
      ++reads;
    }
  });
  while (reads.load() == 0) std::this_thread::yield();
  for (int i = 0; i < 200; ++i) {
    const PluginHandshake other = library.Handshake(18, 0, 0);
    TovHost::Core otherCore;
    const CoreContext otherContext = otherCore.Context();
    ASSERT_EQ(other.callbacks->Init(other.plugin, &otherContext), 1);
    other.callbacks->Shutdown(other.plugin);
  }
  done.store(true);
  reader.join();
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(violations.load(), 0);

  PluginMemoryStats s{};
  watched.callbacks->GetMemoryStats(watched.plugin, &s);
  EXPECT_GT(s.allocations, 200u);
  EXPECT_GE(s.peakLiveBytes, s.bytesAllocated - s.bytesFreed);
  watched.callbacks->Shutdown(watched.plugin);
}

// Games one after the other: after each, the plug-in holds no more than it
// held before the game began. The first game (game 0) leaves the last game
// stored, as the next message's stale check needs it, and the tables made on
// first use; every later game gives back what it took.
TEST(LoadedPlugin, ConsecutiveGamesLeaveNoMemoryBehind) {
  TovHost::PluginLibrary library(TOV_PLUGIN_PATH);
  ASSERT_TRUE(library.Loaded()) << library.Error();
  const PluginHandshake record = library.Handshake(18, 0, 0);
  TovHost::Core core;
  core.SetResource("/tov-login/v1/session", R"({"state":"SUCCEEDED","summonerId":1001,"accountId":9001,"connected":true})");
  core.SetResource("/tov-champions/v1/inventories/1001/champions-minimal", R"([{"id":1,"ownership":{"owned":true}}])");
  core.SetLcdsHandler("gameService", "setClientReceivedGameMessage",
                      [](const std::vector<std::string>&) { return TovHost::LcdsReply{}; });
  core.SetLcdsHandler("gameService", "getCurrentTimerForGame", [](const std::vector<std::string>&) {
    return TovHost::LcdsReply{"com.vexagames.platform.game.GameTimerDTO",
                              R"({"currentGameState":"CHAMP_SELECT","remainingTimeInMillis":30000})", "", 200};
  });
  core.OnRequest(6, "/tov-login/v1/service-proxy-method-requests", [&](const TovHost::RequestRecord&) {
    core.DeliverEvent("OnServiceProxyMethodEvent",
                      TovHost::Core::ServiceProxyAnswer("", "wardSkins", "receiveSelectedWardSkin",
                                                        R"({"selectedWardSkinId":3})"));
    return TovHost::Reply::Json("");
  });
  core.SetResource("/tov-gameflow/v1/session", R"({"phase":"Lobby"})");
  const CoreContext context = core.Context();
  ASSERT_EQ(record.callbacks->Init(record.plugin, &context), 1);
  core.AdvanceTime(1);
  const auto live = [&] {
    PluginMemoryStats stats{};
    record.callbacks->GetMemoryStats(record.plugin, &stats);
    return static_cast<std::int64_t>(stats.bytesAllocated - stats.bytesFreed);
  };
  for (int game = 0; game <= 3; ++game) {
    const std::int64_t before = live();
    const std::string id = std::to_string(5000000000 + game);
    const std::string teams =
        R"("teamOne":[{"summonerName":"You","summonerInternalName":"you","summonerId":1001,"pickTurn":1},)"
        R"({"summonerName":"Mate","summonerInternalName":"mate","summonerId":1002,"pickTurn":3}],)"
        R"("teamTwo":[{"summonerName":"Them","summonerInternalName":"them","summonerId":2001,"pickTurn":2}],)"
        R"("playerChampionSelections":[{"summonerInternalName":"you","championId":1},)"
        R"({"summonerInternalName":"mate","championId":2},{"summonerInternalName":"them","championId":3}])";
    int lock = 0;
    for (const char* state : {"PRE_CHAMP_SELECT", "CHAMP_SELECT", "CHAMP_SELECT", "POST_CHAMP_SELECT",
                              "START_REQUESTED"}) {
      const std::string turn = std::to_string(++lock);
      core.PushLcds("com.vexagames.platform.game.GameDTO", R"({"id":)" + id + R"(,"gameState":")" + state +
                                                               R"(","optimisticLock":)" + turn + R"(,"pickTurn":)" +
                                                               turn + "," + teams + "}");
      core.AdvanceTime(2);
    }
    core.SetResource("/tov-gameflow/v1/session", R"({"phase":"InProgress","gameClient":{"visible":true}})");
    core.AdvanceTime(60);  // every timer of the game has fired
    core.SetResource("/tov-gameflow/v1/session", R"({"phase":"Lobby","gameClient":{"visible":false}})");
    core.AdvanceTime(1);
    if (game > 0) {
      EXPECT_LE(live() - before, 4096) << "game " << game;
    }
  }
  EXPECT_TRUE(core.Misuse().empty());
  record.callbacks->Shutdown(record.plugin);
}

}  // namespace
