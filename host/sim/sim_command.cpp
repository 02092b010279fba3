#include "sim/sim_command.h"

#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "bridge/bridge.h"
#include "sim/simulation.h"
#include "sim/soak.h"

namespace TovSim {
namespace {

struct SimOptions {
  std::string scenario;
  uint64_t seed = 1;
  std::vector<Step> steps;
  std::string tracePath;
  double until = std::numeric_limits<double>::infinity();
  bool realTime = false;
  bool autoplay = false;
  std::string plugin;
  int games = 0;  // --games: that many games on one plug-in, a line each
  bool serve = false;
  TovBridge::BridgeOptions bridge;
};

int Bad(const std::string& why) {
  std::fprintf(stderr, "tov-core: %s\nusage: %s\n", why.c_str(), kSimUsage);
  return 2;
}

bool ReadFile(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream content;
  content << in.rdbuf();
  *text = content.str();
  return true;
}

bool ParseSeed(const char* text, uint64_t* seed) {
  if (!*text || *text == '-' || *text == '+') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0') return false;
  *seed = value;
  return true;
}

bool ParseSeconds(const char* text, double* seconds) {
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(value) || value < 0) return false;
  *seconds = value;
  return true;
}

bool ParseListenAddress(const char* text, std::string* address, int* port);

// "" when the arguments make a run, else why not.
std::string Parse(int argc, char** argv, SimOptions* options) {
  if (argc < 3) return "--sim needs a scenario";
  options->scenario = argv[2];
  Scenario probe;
  if (!BuiltInScenario(options->scenario, 1, &probe)) {
    std::string names;
    for (const std::string& name : ScenarioNames()) names += (names.empty() ? "" : ", ") + name;
    return "unknown scenario \"" + options->scenario + "\" (one of " + names + ")";
  }
  for (int i = 3; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--seed") {
      if (!hasValue || !ParseSeed(argv[++i], &options->seed)) return "--seed needs a whole number, 0 or more";
    } else if (arg == "--until") {
      if (!hasValue || !ParseSeconds(argv[++i], &options->until)) return "--until needs a number of seconds, 0 or more";
    } else if (arg == "--trace") {
      if (!hasValue) return "--trace needs a file";
      options->tracePath = argv[++i];
    } else if (arg == "--steps") {
      if (!hasValue) return "--steps needs a file";
      const std::string path = argv[++i];
      std::string text, error;
      if (!ReadFile(path, &text)) return "cannot read the steps file " + path;
      if (!ParseSteps(text, &options->steps, &error)) return path + ": " + error;
    } else if (arg == "--games") {
      uint64_t games = 0;
      if (!hasValue || !ParseSeed(argv[++i], &games) || games == 0 || games > 1000000)
        return "--games needs a number of games, 1 to 1000000";
      options->games = static_cast<int>(games);
    } else if (arg == "--serve") {
      options->serve = true;
      // The address is optional: the next argument is one only in its form.
      if (hasValue && ParseListenAddress(argv[i + 1], &options->bridge.address, &options->bridge.port)) ++i;
    } else if (arg == "--console") {
      if (!hasValue) return "--console needs a directory";
      options->bridge.consoleDir = argv[++i];
    } else if (arg == "--max-connections" || arg == "--max-subscribers") {
      // Not in the usage: caps a test sets low to see them hold.
      uint64_t cap = 0;
      if (!hasValue || !ParseSeed(argv[++i], &cap) || cap == 0 || cap > 100000)
        return arg + " needs a number, 1 to 100000";
      (arg == "--max-connections" ? options->bridge.maxConnections : options->bridge.maxSubscribers) = cap;
    } else if (arg == "--real-time") {
      options->realTime = true;
    } else if (arg == "--autoplay") {
      options->autoplay = true;
    } else if (!arg.empty() && arg[0] != '-' && options->plugin.empty()) {
      options->plugin = arg;
    } else {
      return "unexpected argument " + arg;
    }
  }
  if (options->plugin.empty()) return "no plug-in given";
  if (options->games > 0 && std::isfinite(options->until)) return "--until and --games do not go together";
  if (options->serve && options->games > 0) return "--serve and --games do not go together";
  if (options->serve) options->realTime = true;
  if (options->bridge.consoleDir.empty()) options->bridge.consoleDir = TOV_CONSOLE_DIR;
  struct stat info{};
  if (stat(options->plugin.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return "no plug-in file at " + options->plugin;
  return "";
}

bool ParseListenAddress(const char* text, std::string* address, int* port) {
  return TovBridge::ParseListenAddress(text, address, port);
}

// --games: a line per game instead of the timeline.
int PlayGames(const SimOptions& options, FILE* traceFile) {
  SoakOptions soak{options.scenario, options.seed, options.games, options.steps, options.realTime, traceFile};
  std::string failure;
  const Simulation::Outcome outcome = TovSim::PlayGames(
      options.plugin, soak, [](const GameReport& report) { std::printf("%s\n", Describe(report).c_str()); }, &failure);
  if (traceFile) std::fclose(traceFile);
  if (outcome != Simulation::Outcome::PluginFailed) return 0;
  std::fprintf(stderr, "tov-core: %s\n", failure.c_str());
  return 1;
}

// --serve: the bridge, listening before the game begins, and a thread that
// turns SIGINT and SIGTERM into its stop (a signal handler could not wake
// the threads that wait on it).
class Served {
 public:
  explicit Served(const TovBridge::BridgeOptions& options) : bridge(options) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    // Blocked before any thread starts, so every thread inherits the mask
    // and only the waiting thread below takes them.
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    if (const std::string why = bridge.Bind(); !why.empty()) {
      std::fprintf(stderr, "tov-core: %s\n", why.c_str());
      return;
    }
    ok_ = true;
    bridge.Start();
    waiter_ = std::thread([this, signals] {
      int signal = 0;
      while (sigwait(&signals, &signal) != 0) {
      }
      bridge.Stop();
    });
    std::printf("tov-core: serving %s\n", bridge.Url().c_str());
    std::fflush(stdout);
  }
  ~Served() {
    bridge.Stop();
    if (waiter_.joinable()) {
      pthread_kill(waiter_.native_handle(), SIGTERM);
      waiter_.join();
    }
  }
  bool Ok() const { return ok_; }

  TovBridge::Bridge bridge;

 private:
  bool ok_ = false;
  std::thread waiter_;
};

// The child: plays the game; its exit status is the run's, unless the
// plug-in ends the process first.
int Play(const SimOptions& options) {
  FILE* traceFile = nullptr;
  if (!options.tracePath.empty()) {
    traceFile = std::fopen(options.tracePath.c_str(), "w");
    if (!traceFile) {
      std::fprintf(stderr, "tov-core: cannot write the trace file %s\n", options.tracePath.c_str());
      return 2;
    }
  }
  if (options.games > 0) return PlayGames(options, traceFile);
  Scenario scenario;
  BuiltInScenario(options.scenario, options.seed, &scenario);
  if (options.autoplay) Autoplay(scenario);
  std::unique_ptr<Served> served;
  if (options.serve) {
    served = std::make_unique<Served>(options.bridge);
    if (!served->Ok()) return 1;
  }
  int status = 0;
  {
    Simulation simulation(std::move(scenario), options.steps, options.realTime);
    if (served) {
      simulation.Admit(&served->bridge);
      // What comes over HTTP shows in the timeline like the local client's
      // requests, as "http" lines.
      served->bridge.onAnswered = [&simulation](const TovBridge::CallRequest& request,
                                                const TovHost::Core::CallResult& result) {
        const std::string method = TovHost::MethodName(request.method);
        // Short text bodies are shown; MessagePack and large ones are not.
        const bool shown = !request.body.empty() && request.body.size() <= 200 &&
                           std::all_of(request.body.begin(), request.body.end(),
                                       [](char c) { return static_cast<unsigned char>(c) >= 0x20; });
        simulation.GetTrace().Note("http", method + " " + request.url + (shown ? " " + request.body : ""));
        simulation.GetTrace().Answer(method, request.url, result);
      };
      if (!options.autoplay) simulation.LeaveLocalPlayerToVisitor();
    }
    simulation.GetTrace().WriteTo(traceFile, traceFile ? nullptr : stdout);
    const Simulation::Outcome outcome = simulation.Run(options.plugin, options.until);
    if (outcome == Simulation::Outcome::PluginFailed) {
      std::fprintf(stderr, "tov-core: %s\n", simulation.Failure().c_str());
      status = 1;
    } else {
      std::printf("tov-core: scenario %s, seed %llu: %s at %.3f s\n", options.scenario.c_str(),
                  static_cast<unsigned long long>(options.seed),
                  outcome == Simulation::Outcome::Ended ? "ran to its end" : "stopped", simulation.Now());
    }
  }
  if (traceFile) std::fclose(traceFile);
  return status;
}

volatile sig_atomic_t gameProcess = 0;

// SIGINT and SIGTERM are the served game's signal to end well: the child
// that plays it hears them too.
void PassOn(int signal) {
  if (gameProcess > 0) kill(static_cast<pid_t>(gameProcess), signal);
}

}  // namespace

int RunSimCommand(int argc, char** argv) {
  SimOptions options;
  if (const std::string why = Parse(argc, argv, &options); !why.empty()) return Bad(why);
  std::fflush(nullptr);
  const pid_t parent = getpid();
  const pid_t child = fork();
  if (child < 0) {
    std::fprintf(stderr, "tov-core: cannot start the game: %s\n", std::strerror(errno));
    return 1;
  }
  if (child == 0) {
    // A game left without its parent would go on serving, or playing, for
    // nobody.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) std::_Exit(1);
    const int status = Play(options);
    std::fflush(nullptr);
    std::exit(status);
  }
  if (options.serve) {
    gameProcess = child;
    struct sigaction action{};
    action.sa_handler = PassOn;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return 1;
  }
  if (WIFSIGNALED(status)) {
    std::fprintf(stderr, "tov-core: the game ended by signal %d (%s)\n", WTERMSIG(status), strsignal(WTERMSIG(status)));
    return 1;
  }
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 1;
  if (code == 0 || code == 2) return code;
  if (code != 1) std::fprintf(stderr, "tov-core: the plug-in ended the process with status %d\n", code);
  return 1;
}

}  // namespace TovSim
