// One pushed game of a ten-player champion select in mid-pick, from the
// core's event to the republished session, through the built plug-in over a
// minimal core whose services cost next to nothing: what the plug-in itself
// spends per message. Beside it, the parts of that work measured alone in
// this process: the bare conversion of the payload to the platform's DTO,
// and one rebuild of the session with its publication.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "binding/host_value.h"
#include "champselect/champ_select.h"
#include "champselect/lcds.h"
#include "champselect/vover_orevid_aredez_plugin.h"
#include "core/core.h"
#include "tov/plugin_abi.h"

namespace {

using namespace Vexa;
using namespace Vexa::Client::VoverOrevidAredez;

std::string Participant(int i, bool mine) {
  const std::string id = std::to_string(mine ? 1001 + i : 2001 + i);
  const int turn = i == 0 ? 1 : (i + 1) / 2 + 1;
  return R"({"__class":"com.vexagames.platform.game.PlayerParticipant","summonerName":"Player )" + id +
         R"(","summonerInternalName":"player)" + id + R"(","summonerId":)" + id +
         R"(,"pickMode":)" + std::to_string(turn < 3 ? 2 : turn == 3 ? 1 : 0) + R"(,"pickTurn":)" +
         std::to_string(turn) + "}";
}

// A draft in its third pick turn: six bans made, four players locked.
std::string GameJson() {
  std::string one, two, selections;
  for (int i = 0; i < 5; ++i) {
    if (i) {
      one += ',';
      two += ',';
    }
    one += Participant(i, true);
    two += Participant(i, false);
    for (const int base : {1001, 2001}) {
      if (!selections.empty()) selections += ',';
      selections += R"({"summonerInternalName":"player)";
      selections += std::to_string(base + i);
      selections += R"(","championId":)";
      selections += std::to_string(base % 100 + i);
      selections += R"(,"selectedSkinIndex":1,"spell1Id":104,"spell2Id":107})";
    }
  }
  return R"({"id":5000000001,"gameState":"CHAMP_SELECT","queueTypeName":"RANKED_SOLO_5x5","name":"Game 1",)"
         R"("roomName":"","roomPassword":"","optimisticLock":20,"pickTurn":3,"spectatorDelay":0,)"
         R"("statusOfParticipants":"1111111111","gameMutators":[],)"
         R"("bannedChampions":[{"championId":30,"teamId":100,"pickTurn":1},{"championId":31,"teamId":200,"pickTurn":2},)"
         R"({"championId":32,"teamId":100,"pickTurn":3},{"championId":33,"teamId":200,"pickTurn":4},)"
         R"({"championId":34,"teamId":100,"pickTurn":5},{"championId":35,"teamId":200,"pickTurn":6}],)"
         R"("teamOne":[)" + one + R"(],"teamTwo":[)" + two + R"(],"playerChampionSelections":[)" + selections + "]}";
}

// ---- A core that answers at once and keeps nothing --------------------------

struct MinimalCore {
  CoreApi api{};  // first: the plug-in passes the table's address back
  HostEventCallback gameCallback = nullptr;
  void* gameContext = nullptr;
  std::vector<std::pair<ScheduledCallback, void*>> due;
  std::size_t events = 0;
  HostValue timerReply{};

  static MinimalCore& From(const CoreApi* api) { return *reinterpret_cast<MinimalCore*>(const_cast<CoreApi*>(api)); }

  MinimalCore() {
    api.Request = [](const CoreApi* a, RemotingResponse* response, const RemotingRequest* request) {
      // Only the timer query has an answer; every other request succeeds empty.
      if (request->argCount >= 2 && request->args[1].value.kind == HostValueKind_String &&
          std::string_view(request->args[1].value.u.string.data, request->args[1].value.u.string.length) ==
              "getCurrentTimerForGame")
        response->body = From(a).timerReply;
    };
    api.Reserved1 = [](const CoreApi*, uintptr_t, uintptr_t) {};
    api.SendEvent = [](const CoreApi* a, const HostEvent*) { ++From(a).events; };
    api.RegisterEventHandler = [](const CoreApi* a, const char* name, uintptr_t, HostEventCallback callback,
                                  void* context, uint32_t) {
      if (std::strcmp(name, "OnLcdsEvent_com_vexagames_platform_game_GameDTO") == 0) {
        From(a).gameCallback = callback;
        From(a).gameContext = context;
      }
    };
    api.UnregisterEventHandler = [](const CoreApi*, const char*, uintptr_t) {};
    api.ScheduleCallback = [](const CoreApi* a, const char*, ScheduledCallback callback, void* context, double,
                              uint32_t) { From(a).due.emplace_back(callback, context); };
    api.Pump = [](const CoreApi* a) { From(a).RunDue(); };
    api.BeginWait = [](const CoreApi*, const char*, uint32_t) {};
    api.EndWait = [](const CoreApi*) {};
    api.Log = [](const CoreApi*, int32_t, const char*) {};
    TovHost::HostValueFromJson(
        R"({"typeName":"com.vexagames.platform.game.GameTimerDTO",)"
        R"("body":{"currentGameState":"CHAMP_SELECT","remainingTimeInMillis":24999.5}})",
        &timerReply);
  }
  ~MinimalCore() { TovHost::FreeHostValue(&timerReply); }

  void RunDue() {
    std::vector<std::pair<ScheduledCallback, void*>> now;
    now.swap(due);
    for (auto [callback, context] : now) callback(context);
  }
};

// The pushed message's payload, with its lock counting up so that no copy is
// stale.
struct PushedGame {
  HostValue payload{};
  HostValue* lock = nullptr;

  PushedGame() {
    TovHost::HostValueFromJson(R"({"clientId":"sim","subtopic":"game",)"
                               R"("typeName":"com.vexagames.platform.game.GameDTO","body":)" + GameJson() + "}",
                               &payload);
    lock = Find(Find(&payload, "body"), "optimisticLock");
  }
  ~PushedGame() { TovHost::FreeHostValue(&payload); }
  static HostValue* Find(HostValue* object, const char* key) {
    for (uint32_t i = 0; i < object->u.object.count; ++i)
      if (std::strcmp(object->u.object.entries[i].key, key) == 0) return &object->u.object.entries[i].value;
    return nullptr;
  }
};

void BM_PushedGameToPublishedSession(benchmark::State& state) {
  TovHost::PluginLibrary library(TOV_PLUGIN_PATH);
  if (!library.Loaded()) return state.SkipWithError(library.Error().c_str());
  const PluginHandshake record = library.Handshake(18, 0, 0);
  MinimalCore core;
  const CoreContext context{&core.api, 0xC0DE};
  record.callbacks->Init(record.plugin, &context);
  PushedGame game;
  const HostEvent event{"OnLcdsEvent_com_vexagames_platform_game_GameDTO", game.payload, core.gameContext};
  const auto push = [&] {
    ++game.lock->u.int64;
    core.gameCallback(&event);
    core.RunDue();
  };
  push();  // begins the session
  PluginMemoryStats stats{};
  for (auto _ : state) push();
  record.callbacks->GetMemoryStats(record.plugin, &stats);
  state.counters["live_KiB_in_session"] = static_cast<double>(stats.bytesAllocated - stats.bytesFreed) / 1024;
  state.counters["events_per_message"] =
      benchmark::Counter(static_cast<double>(core.events), benchmark::Counter::kAvgIterations);
  record.callbacks->Shutdown(record.plugin);
}
BENCHMARK(BM_PushedGameToPublishedSession)->Unit(benchmark::kMicrosecond);

// ---- The parts, inside this process, over the same minimal core -----------

struct InProcess {
  MinimalCore core;
  VoverOrevidAredezPlugin plugin;
  CoreContext context{&core.api, 0xC0DE};
  PushedGame game;
  InProcess() {
    PluginHandshake record{18, 0, 0, nullptr, nullptr, nullptr, nullptr};
    plugin.Handshake(&record, "tov-vover-orevid-aredez");
    plugin.Init(&context);
    // A session in mid-pick, as the message above leaves it.
    const HostEvent event{"OnLcdsEvent_com_vexagames_platform_game_GameDTO", game.payload, core.gameContext};
    core.gameCallback(&event);
    core.RunDue();
  }
  ~InProcess() { plugin.Stop(); }
};

void BM_GameConversionOnly(benchmark::State& state) {
  InProcess in;
  const HostValue& body = *PushedGame::Find(&in.game.payload, "body");
  for (auto _ : state) {
    BindingProperty tree, result;
    std::string error;
    HostValueToBinding(body, tree, "<value>", error);
    benchmark::DoNotOptimize(FromBinding<LCDS::GameDTO>(result, tree, "<value>", in.plugin.Registry()));
  }
}
BENCHMARK(BM_GameConversionOnly)->Unit(benchmark::kMicrosecond);

void BM_SessionRebuildWithPublication(benchmark::State& state) {
  InProcess in;
  for (auto _ : state) in.plugin.Flow().UpdateSession();
}
BENCHMARK(BM_SessionRebuildWithPublication)->Unit(benchmark::kMicrosecond);

void BM_SessionPublicationOnly(benchmark::State& state) {
  InProcess in;
  const Api::ChampSelectSession& session = in.plugin.Flow().Model().session;
  for (auto _ : state)
    benchmark::DoNotOptimize(in.plugin.Publish(PluginResourceEventType::Update, Paths::kSession, session));
}
BENCHMARK(BM_SessionPublicationOnly)->Unit(benchmark::kMicrosecond);

// ---- Commands through Dispatch, over the core stand-in ---------------------

struct CommandBench {
  TovHost::Core core;
  VoverOrevidAredezPlugin plugin;
  CoreContext context{};
  CommandBench() {
    // Player 1004 is in the running third turn: its pick is open.
    core.SetResource("/tov-login/v1/session", R"({"state":"SUCCEEDED","summonerId":1004,"accountId":9004})");
    for (const char* method : {"setClientReceivedGameMessage", "selectChampion", "championSelectCompleted"})
      core.SetLcdsHandler("gameService", method, [](const std::vector<std::string>&) { return TovHost::LcdsReply{}; });
    core.OnRequest(6, "/tov-login/v1/service-proxy-method-requests", [this](const TovHost::RequestRecord&) {
      core.DeliverEvent("OnServiceProxyMethodEvent",
                        TovHost::Core::ServiceProxyAnswer("", "wardSkins", "receiveSelectedWardSkin", "{}"));
      return TovHost::Reply::Json("");
    });
    PluginHandshake record{18, 0, 0, nullptr, nullptr, nullptr, nullptr};
    plugin.Handshake(&record, "tov-vover-orevid-aredez");
    core.UseApi(record.apiDescription);
    context = core.Context();
    plugin.Init(&context);
    core.PushLcds("com.vexagames.platform.game.GameDTO", GameJson());
    core.RunOnce();
    core.RunOnce();
  }
  ~CommandBench() { plugin.Stop(); }
  // The local player's open pick in the game above.
  std::int64_t LocalAction() {
    for (const BindingProperty& group : plugin.Flow().Model().session.actions)
      for (const BindingNode& action : group.Elements())
        if (action.Find("actorCellId").GetInteger() == plugin.Flow().Model().session.localPlayerCellId)
          return action.Find("id").GetInteger();
    return 0;
  }
};

void BM_HoverThroughDispatch(benchmark::State& state) {
  CommandBench bench;
  const std::string path = "/tov-vover-orevid-aredez/v1/session/actions/" + std::to_string(bench.LocalAction());
  int champion = 0;
  if (!bench.core.Call(5, path, R"({"championId":39})").error.empty()) return state.SkipWithError("no open action");
  for (auto _ : state) {
    // A champion other than the hovered one, so every request calls the platform.
    const auto result = bench.core.Call(5, path, "{\"championId\":" + std::to_string(40 + (++champion & 1)) + "}");
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BM_HoverThroughDispatch)->Unit(benchmark::kMicrosecond);

void BM_CompleteThroughDispatch(benchmark::State& state) {
  CommandBench bench;
  const std::string path =
      "/tov-vover-orevid-aredez/v1/session/actions/" + std::to_string(bench.LocalAction()) + "/complete";
  bench.core.Call(5, path.substr(0, path.size() - 9), R"({"championId":40})");
  if (!bench.core.Call(6, path).error.empty()) return state.SkipWithError("the completion failed");
  for (auto _ : state) benchmark::DoNotOptimize(bench.core.Call(6, path));
}
BENCHMARK(BM_CompleteThroughDispatch)->Unit(benchmark::kMicrosecond);

// The platform call alone, as the commands make it, through the same stand-in.
void BM_PlatformRoundTripOnly(benchmark::State& state) {
  CommandBench bench;
  for (auto _ : state)
    benchmark::DoNotOptimize(bench.plugin.InvokeLcdsWithoutResult("gameService", "selectChampion", 40));
}
BENCHMARK(BM_PlatformRoundTripOnly)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
