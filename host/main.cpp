// tov-core: loads a plug-in the way the client's core does, and shows what
// crosses the boundary.
//
//   tov-core [--core-version X.Y.Z] [--stats] [--run SECONDS] [--demo] PLUGIN.so
//   tov-core request METHOD PATH [--body TEXT] [--content-type TYPE] PLUGIN.so
//   tov-core api [--format full|epytext|openapi] PLUGIN.so
//   tov-core --sim SCENARIO [--seed N] [--autoplay] [--steps FILE] [--trace FILE] [--until SECONDS] [--real-time]
//                           [--games N] [--serve [ADDRESS:PORT]] [--console DIR] PLUGIN.so
//   tov-core --replay TRACE PLUGIN.so
//
// --demo plays a short scene on the core's side: the match flow's session
// resource appears and changes, and the platform pushes a game message.
// --sim plays a whole simulated game against the plug-in (host/sim); with
// --serve, in real time and over HTTP for a browser (host/bridge).
// --replay plays a trace recorded by --sim back to a plug-in and checks that
// it does the same (host/replay).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bridge/openapi.h"
#include "core/api_text.h"
#include "core/core.h"
#include "replay/replay_command.h"
#include "sim/sim_command.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: tov-core [--core-version X.Y.Z] [--stats] [--run SECONDS] [--demo] PLUGIN.so\n"
               "       tov-core request METHOD PATH [--body TEXT] [--content-type TYPE] PLUGIN.so\n"
               "       tov-core api [--format full|epytext|openapi] PLUGIN.so\n"
               "       %s\n"
               "       %s\n",
               TovSim::kSimUsage, TovReplay::kReplayUsage);
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

// One request to the plug-in, the answer on standard output: exit 0 when a
// function answered without failure.
int SendRequest(TovHost::Core& core, const std::string& method, const std::string& path, const std::string& body,
                const std::string& contentType) {
  const uint32_t code = TovHost::MethodCode(method);
  if (code == 0) {
    std::fprintf(stderr, "tov-core: unknown method %s\n", method.c_str());
    return 2;
  }
  const TovHost::Core::CallResult result = core.Call(code, path, body, contentType);
  std::printf("status %d\n", result.status);
  if (!result.error.empty()) {
    std::printf("error: %s\n", result.error.c_str());
    return 1;
  }
  std::printf("%s\n", result.bodyJson.c_str());
  return 0;
}

enum class Mode { Run, Request, Api };

struct Options {
  Mode mode = Mode::Run;
  std::string plugin;
  uint32_t major = 0, minor = 0, patch = 0;
  bool stats = false, demo = false;
  double runSeconds = 0;
  std::string method, requestPath, body, contentType = "application/json", format = "full";
};

// False for arguments that make no command.
bool ParseOptions(int argc, char** argv, Options& options) {
  int first = 1;
  if (argc > 1 && std::strcmp(argv[1], "api") == 0) {
    options.mode = Mode::Api;
    first = 2;
  } else if (argc > 3 && std::strcmp(argv[1], "request") == 0) {
    options.mode = Mode::Request;
    options.method = argv[2];
    options.requestPath = argv[3];
    first = 4;
  }
  std::string versionText = "18.0.0";
  for (int i = first; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (options.mode == Mode::Request && arg == "--body" && hasValue) {
      options.body = argv[++i];
    } else if (options.mode == Mode::Request && arg == "--content-type" && hasValue) {
      options.contentType = argv[++i];
    } else if (options.mode == Mode::Api && arg == "--format" && hasValue) {
      options.format = argv[++i];
      if (options.format != "full" && options.format != "epytext" && options.format != "openapi") return false;
    } else if (arg == "--core-version" && hasValue) {
      versionText = argv[++i];
    } else if (arg == "--demo") {
      options.demo = true;
    } else if (arg == "--stats") {
      options.stats = true;
    } else if (arg == "--run" && hasValue) {
      options.runSeconds = std::atof(argv[++i]);
    } else if (!arg.empty() && arg[0] != '-' && options.plugin.empty()) {
      options.plugin = arg;
    } else {
      return false;
    }
  }
  return !options.plugin.empty() &&
         TovHost::ParseVersion(versionText, &options.major, &options.minor, &options.patch);
}

// The library loaded and its handshake answered; when that fails, why is on
// standard error and `record.callbacks` is null.
struct LoadedPlugin {
  LoadedPlugin(const Options& options, bool announce) : library(options.plugin) {
    if (!library.Loaded()) {
      std::fprintf(stderr, "tov-core: %s\n", library.Error().c_str());
      return;
    }
    if (announce)
      std::printf("core: plugin API %u.%u.%u, loading %s\n", options.major, options.minor, options.patch,
                  options.plugin.c_str());
    record = library.Handshake(options.major, options.minor, options.patch);
    if (!record.callbacks || !record.plugin || !record.apiDescription) {
      std::fprintf(stderr, "tov-core: the plug-in returned no callbacks\n");
      record.callbacks = nullptr;
    }
  }
  bool Ok() const { return record.callbacks != nullptr; }
  bool Init(TovHost::Core& core) {
    core.UseApi(record.apiDescription);
    context = core.Context();
    return record.callbacks->Init(record.plugin, &context) != 0;
  }
  void Shutdown() { record.callbacks->Shutdown(record.plugin); }

  TovHost::PluginLibrary library;
  PluginHandshake record{};
  CoreContext context{};
};

// `request` and `api`: one answer on standard output.
int RunCommand(const Options& options) {
  LoadedPlugin loaded(options, false);
  if (!loaded.Ok()) return 1;
  TovHost::Core core(TovHost::ClockMode::Virtual);
  // Initialised like in a real core, so that its log lines go to the core.
  int status = 0;
  if (!loaded.Init(core)) {
    std::fprintf(stderr, "tov-core: Init failed\n");
    status = 1;
  } else if (options.mode == Mode::Api) {
    const ApiDescription& api = *loaded.record.apiDescription;
    const PluginHandshake& r = loaded.record;
    const std::string version = std::to_string(r.major) + "." + std::to_string(r.minor) + "." + std::to_string(r.patch);
    const std::string text = options.format == "full"      ? TovHost::ApiAsJson(api)
                             : options.format == "openapi" ? TovBridge::OpenApiJson(api, version)
                                                           : TovHost::ApiAsEpytext(api);
    std::fputs(text.c_str(), stdout);
  } else {
    core.RunOnce();
    status = SendRequest(core, options.method, options.requestPath, options.body, options.contentType);
  }
  loaded.Shutdown();
  return status;
}

// The plug-in's life shown step by step, on real time.
int RunScene(const Options& options) {
  LoadedPlugin loaded(options, true);
  if (!loaded.Ok()) return 1;
  const PluginHandshake& record = loaded.record;
  std::printf("handshake: plugin API %u.%u.%u, short name \"%s\", %u functions\n", record.major, record.minor,
              record.patch, record.shortName ? record.shortName : "", record.apiDescription->functionCount);
  TovHost::Core core(TovHost::ClockMode::Real);
  core.onLog = [](const TovHost::LogLine& line) {
    std::printf("%s| %s\n", TovHost::LevelName(line.level), line.message.c_str());
  };
  const bool ok = loaded.Init(core);
  std::printf("Init: %s\n", ok ? "succeeded" : "failed");
  for (const auto& handler : core.Handlers())
    std::printf("registered event handler: %s (flags %u)\n", handler.eventName.c_str(), handler.flags);
  if (options.demo) PlayDemo(core);
  if (options.runSeconds > 0) core.AdvanceTime(options.runSeconds);
  if (options.stats) PrintStats("after Init", record.callbacks, record.plugin);
  loaded.Shutdown();
  std::printf("Shutdown: done, %zu event handlers unregistered, %zu still registered\n", core.Unregistered().size(),
              core.Handlers().size());
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--sim") == 0) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    return TovSim::RunSimCommand(argc, argv);
  }
  if (argc > 1 && std::strcmp(argv[1], "--replay") == 0) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    return TovReplay::RunReplayCommand(argc, argv);
  }
  Options options;
  if (!ParseOptions(argc, argv, options)) return Usage();
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  return options.mode == Mode::Run ? RunScene(options) : RunCommand(options);
}
