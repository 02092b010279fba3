// tov-core: loads a plug-in the way the client's core does, and shows what
// crosses the boundary.
//
//   tov-core [--core-version X.Y.Z] [--stats] [--run SECONDS] [--demo] PLUGIN.so
//
// --demo plays a short scene on the core's side: the match flow's session
// resource appears and changes, and the platform pushes a game message.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/core.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: tov-core [--core-version X.Y.Z] [--stats] [--run SECONDS] [--demo] PLUGIN.so\n");
  return 2;
}

void PrintStats(const char* when, const PluginCallbacks* callbacks, void* plugin) {
  PluginMemoryStats stats{};
  callbacks->GetMemoryStats(plugin, &stats);
  std::printf("memory %s: live %llu bytes in %llu blocks (peak %llu bytes in %llu blocks); "
              "allocated %llu bytes in %llu blocks, freed %llu bytes in %llu blocks\n",
              when, static_cast<unsigned long long>(stats.bytesAllocated - stats.bytesFreed),
              static_cast<unsigned long long>(stats.allocations - stats.frees),
              static_cast<unsigned long long>(stats.peakLiveBytes),
              static_cast<unsigned long long>(stats.peakLiveAllocations),
              static_cast<unsigned long long>(stats.bytesAllocated),
              static_cast<unsigned long long>(stats.allocations),
              static_cast<unsigned long long>(stats.bytesFreed), static_cast<unsigned long long>(stats.frees));
}

void PlayDemo(TovHost::Core& core) {
  std::printf("demo: the match flow enters champion select\n");
  core.SetResource("/tov-gameflow/v1/session", R"({"phase":"ChampSelect","gameData":{"gameId":4242}})");
  core.AdvanceTime(0.5);
  std::printf("demo: the platform pushes the game\n");
  core.PushLcds("com.vexagames.platform.game.GameDTO", R"({"id":4242,"gameState":"TEAM_SELECT"})");
  core.AdvanceTime(0.5);
  std::printf("demo: the match flow moves on\n");
  core.SetResource("/tov-gameflow/v1/session", R"({"phase":"InProgress","gameData":{"gameId":4242}})");
  core.AdvanceTime(0.5);
  for (const auto& request : core.Requests())
    std::printf("request from the plug-in: %s %s\n", TovHost::MethodName(request.method), request.url.c_str());
  for (const auto& event : core.Events())
    std::printf("event from the plug-in: %s %s\n", event.name.c_str(), event.payloadJson.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::string versionText = "18.0.0", path;
  bool stats = false, demo = false;
  double runSeconds = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--core-version" && i + 1 < argc) {
      versionText = argv[++i];
    } else if (arg == "--demo") {
      demo = true;
    } else if (arg == "--stats") {
      stats = true;
    } else if (arg == "--run" && i + 1 < argc) {
      runSeconds = std::atof(argv[++i]);
    } else if (!arg.empty() && arg[0] != '-' && path.empty()) {
      path = arg;
    } else {
      return Usage();
    }
  }
  uint32_t major = 0, minor = 0, patch = 0;
  if (path.empty() || !TovHost::ParseVersion(versionText, &major, &minor, &patch)) return Usage();
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  TovHost::PluginLibrary library(path);
  if (!library.Loaded()) {
    std::fprintf(stderr, "tov-core: %s\n", library.Error().c_str());
    return 1;
  }
  std::printf("core: plugin API %u.%u.%u, loading %s\n", major, minor, patch, path.c_str());
  const PluginHandshake record = library.Handshake(major, minor, patch);
  if (!record.callbacks || !record.plugin) {
    std::fprintf(stderr, "tov-core: the plug-in returned no callbacks\n");
    return 1;
  }
  std::printf("handshake: plugin API %u.%u.%u, short name \"%s\", %u functions\n", record.major, record.minor,
              record.patch, record.shortName ? record.shortName : "",
              record.apiDescription ? record.apiDescription->functionCount : 0);

  TovHost::Core core(TovHost::ClockMode::Real);
  core.onLog = [](const TovHost::LogLine& line) {
    std::printf("%s| %s\n", TovHost::LevelName(line.level), line.message.c_str());
  };
  const CoreContext context = core.Context();
  const uint8_t ok = record.callbacks->Init(record.plugin, &context);
  std::printf("Init: %s\n", ok ? "succeeded" : "failed");
  for (const auto& handler : core.Handlers())
    std::printf("registered event handler: %s (flags %u)\n", handler.eventName.c_str(), handler.flags);
  if (demo) PlayDemo(core);
  if (runSeconds > 0) core.AdvanceTime(runSeconds);
  if (stats) PrintStats("after Init", record.callbacks, record.plugin);

  record.callbacks->Shutdown(record.plugin);
  std::printf("Shutdown: done, %zu event handlers unregistered, %zu still registered\n",
              core.Unregistered().size(), core.Handlers().size());
  return ok ? 0 : 1;
}
