// The runtime's two hot paths through the core stand-in: one resource event
// delivered to a typed observer, and one LCDS invoke round trip, each with a
// ~4 KB payload shaped like a champion-select session.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "binding/host_value.h"
#include "binding/registration.h"
#include "core/core.h"
#include "runtime/plugin_module.h"

namespace {

using namespace Vexa;

struct Player {
  std::int64_t cellId = 0;
  std::int64_t championId = 0;
  std::int64_t summonerId = 0;
  std::int64_t selectedSkinId = 0;
  std::int64_t spell1Id = 0;
  std::int64_t spell2Id = 0;
  std::string assignedPosition;
  std::string displayName;
  std::string playerType;
  std::string pickMode;
};

struct Session {
  std::int64_t gameId = 0;
  std::string phase;
  std::vector<Player> myTeam;
  std::vector<Player> theirTeam;
  std::vector<std::int64_t> bans;
};

std::string PlayerJson(int i) {
  return "{\"cellId\":" + std::to_string(i) + ",\"championId\":" + std::to_string(100 + i) +
         ",\"summonerId\":" + std::to_string(2000000000 + i) + ",\"selectedSkinId\":" + std::to_string(100000 + i) +
         ",\"spell1Id\":4,\"spell2Id\":14,\"assignedPosition\":\"utility\",\"displayName\":\"summoner-number-" +
         std::to_string(i) + "\",\"playerType\":\"PLAYER\",\"pickMode\":\"ALL_RANDOM_PICK_MODE\"}";
}

std::string SessionJson() {
  std::string json = R"({"gameId":4242424242,"phase":"BAN_PICK","myTeam":[)";
  for (int i = 0; i < 20; ++i) {
    if (i == 10) json += R"(],"theirTeam":[)";
    else if (i) json += ',';
    json += PlayerJson(i);
  }
  json += R"(],"bans":[1,2,3,4,5,6,7,8,9,10]})";
  return json;
}

void RegisterTypes(PluginModule& plugin) {
  RegisterStruct<Player>(plugin.Registry(), "Player")
      .Field("cellId", &Player::cellId)
      .Field("championId", &Player::championId)
      .Field("summonerId", &Player::summonerId)
      .Field("selectedSkinId", &Player::selectedSkinId)
      .Field("spell1Id", &Player::spell1Id)
      .Field("spell2Id", &Player::spell2Id)
      .Field("assignedPosition", &Player::assignedPosition)
      .Field("displayName", &Player::displayName)
      .Field("playerType", &Player::playerType)
      .Field("pickMode", &Player::pickMode);
  RegisterStruct<Session>(plugin.Registry(), "Session")
      .Field("gameId", &Session::gameId)
      .Field("phase", &Session::phase)
      .Field("myTeam", &Session::myTeam)
      .Field("theirTeam", &Session::theirTeam)
      .Field("bans", &Session::bans);
  plugin.RegisterLcdsClass<Session>("com.example.Session");
}

class Bench {
 public:
  Bench() {
    PluginHandshake record{18, 0, 0, nullptr, nullptr, nullptr, nullptr};
    plugin.Handshake(&record, "tov-vover-orevid-aredez");
    RegisterTypes(plugin);
    context = core.Context();
    plugin.Init(&context);
  }
  ~Bench() { plugin.Stop(); }

  TovHost::Core core;
  CoreContext context{};
  PluginModule plugin;
};

void BM_ResourceEventToTypedObserver(benchmark::State& state) {
  Bench bench;
  std::int64_t seen = 0;
  bench.plugin.Observe<Session>("/tov-champ-select/v1/session",
                                [&](const std::string&, PluginResourceEventType, const Session& s) { seen += s.gameId; });
  const std::string payload =
      R"({"uri":"/tov-champ-select/v1/session","eventType":"Update","data":)" + SessionJson() + "}";
  HostValue value{};
  TovHost::HostValueFromJson(payload, &value);
  HostEventCallback callback = nullptr;
  void* context = nullptr;
  for (const auto& handler : bench.core.Handlers())
    if (handler.eventName == "OnJsonApiEvent_tov-champ-select_v1_session") callback = handler.callback, context = handler.context;
  const HostEvent event{"OnJsonApiEvent_tov-champ-select_v1_session", value, context};
  for (auto _ : state) callback(&event);
  benchmark::DoNotOptimize(seen);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * payload.size()));
  state.counters["payload_bytes"] = static_cast<double>(payload.size());
  TovHost::FreeHostValue(&value);
}
BENCHMARK(BM_ResourceEventToTypedObserver);

// The conversion alone, HostValue to tree to native: its share of the above.
void BM_ResourceEventConversionOnly(benchmark::State& state) {
  Bench bench;
  const std::string payload =
      R"({"uri":"/tov-champ-select/v1/session","eventType":"Update","data":)" + SessionJson() + "}";
  HostValue value{};
  TovHost::HostValueFromJson(payload, &value);
  for (auto _ : state) {
    BindingProperty tree;
    std::string error;
    HostValueToBinding(value, tree, "<result>", error);
    BindingProperty result;
    auto event = FromBinding<PluginResourceEvent>(result, tree, "<result>", bench.plugin.Registry());
    auto session = FromBinding<Session>(result, event.data, "<value>", bench.plugin.Registry());
    benchmark::DoNotOptimize(session.gameId);
  }
  TovHost::FreeHostValue(&value);
}
BENCHMARK(BM_ResourceEventConversionOnly);

void BM_LcdsInvokeRoundTrip(benchmark::State& state) {
  Bench bench;
  const std::string answer = SessionJson();
  bench.core.SetLcdsHandler("gameService", "getSession", [&](const std::vector<std::string>&) {
    TovHost::LcdsReply reply;
    reply.typeName = "com.example.Session";
    reply.bodyJson = answer;
    return reply;
  });
  std::int64_t sum = 0;
  for (auto _ : state) {
    auto result = bench.plugin.Await(bench.plugin.InvokeLcds<Session>("gameService", "getSession", std::int64_t{7}));
    sum += result.Value().gameId;
  }
  benchmark::DoNotOptimize(sum);
  state.counters["answer_bytes"] = static_cast<double>(answer.size());
}
BENCHMARK(BM_LcdsInvokeRoundTrip);

// What the stand-in itself spends per invoke: the answer built from JSON
// and freed again.
void BM_LcdsInvokeCoreSideOnly(benchmark::State& state) {
  const std::string answer = R"({"typeName":"com.example.Session","body":)" + SessionJson() + "}";
  for (auto _ : state) {
    HostValue value{};
    TovHost::HostValueFromJson(answer, &value);
    benchmark::DoNotOptimize(value.u.object.count);
    TovHost::FreeHostValue(&value);
  }
}
BENCHMARK(BM_LcdsInvokeCoreSideOnly);

// The plug-in's side alone: a core whose every answer is ready made, so the
// time is the call's arguments, the request and the answer's conversion.
struct ReadyCore {
  CoreApi api{};  // first: the plug-in passes the table's address back
  HostValue reply{};

  ReadyCore() {
    api.Request = [](const CoreApi* a, RemotingResponse* response, const RemotingRequest*) {
      response->body = reinterpret_cast<const ReadyCore*>(a)->reply;
    };
    api.Reserved1 = [](const CoreApi*, uintptr_t, uintptr_t) {};
    api.SendEvent = [](const CoreApi*, const HostEvent*) {};
    api.RegisterEventHandler = [](const CoreApi*, const char*, uintptr_t, HostEventCallback, void*, uint32_t) {};
    api.UnregisterEventHandler = [](const CoreApi*, const char*, uintptr_t) {};
    api.ScheduleCallback = [](const CoreApi*, const char*, ScheduledCallback, void*, double, uint32_t) {};
    api.Pump = [](const CoreApi*) {};
    api.BeginWait = [](const CoreApi*, const char*, uint32_t) {};
    api.EndWait = [](const CoreApi*) {};
    api.Log = [](const CoreApi*, int32_t, const char*) {};
    TovHost::HostValueFromJson(R"({"typeName":"com.example.Session","body":)" + SessionJson() + "}", &reply);
  }
  ~ReadyCore() { TovHost::FreeHostValue(&reply); }
};

void BM_LcdsInvokePluginSideOnly(benchmark::State& state) {
  ReadyCore core;
  PluginModule plugin;
  PluginHandshake record{18, 0, 0, nullptr, nullptr, nullptr, nullptr};
  plugin.Handshake(&record, "tov-vover-orevid-aredez");
  RegisterTypes(plugin);
  const CoreContext context{&core.api, 1};
  plugin.Init(&context);
  std::int64_t sum = 0;
  for (auto _ : state) {
    auto result = plugin.Await(plugin.InvokeLcds<Session>("gameService", "getSession", std::int64_t{7}));
    sum += result.Value().gameId;
  }
  benchmark::DoNotOptimize(sum);
  plugin.Stop();
}
BENCHMARK(BM_LcdsInvokePluginSideOnly);

}  // namespace

BENCHMARK_MAIN();
