#include "sim/soak.h"

namespace TovSim {

Simulation::Outcome PlayGames(const std::string& pluginPath, const SoakOptions& options,
                              const std::function<void(const GameReport&)>& onGame, std::string* failure) {
  Simulation::Host host(options.realTime);
  Simulation::Outcome outcome = Simulation::Outcome::Ended;
  for (int number = 1; number <= options.games; ++number) {
    const uint64_t seed = options.firstSeed + static_cast<uint64_t>(number - 1);
    Scenario scenario;
    if (!BuiltInScenario(options.scenario, seed, &scenario)) {
      if (failure) *failure = "unknown scenario " + options.scenario;
      return Simulation::Outcome::PluginFailed;
    }
    Simulation game(std::move(scenario), host, options.steps);
    game.GetTrace().WriteTo(options.trace, nullptr);
    outcome = game.Run(pluginPath, std::numeric_limits<double>::infinity(), false);
    if (outcome == Simulation::Outcome::PluginFailed) {
      if (failure) *failure = game.Failure();
      return outcome;
    }
    PluginMemoryStats stats{};
    host.record.callbacks->GetMemoryStats(host.record.plugin, &stats);
    onGame(GameReport{number, seed, outcome, game.Now(), stats.bytesAllocated - stats.bytesFreed,
                      stats.allocations - stats.frees});
    if (number == options.games) game.ShutDown();
  }
  return outcome;
}

std::string Describe(const GameReport& report) {
  char text[200];
  std::snprintf(text, sizeof text, "game %d, seed %llu: %s at %.3f s; plug-in live %llu bytes in %llu blocks",
                report.number, static_cast<unsigned long long>(report.seed),
                report.outcome == Simulation::Outcome::Ended ? "ran to its end" : "stopped", report.endedAt,
                static_cast<unsigned long long>(report.liveBytes), static_cast<unsigned long long>(report.liveBlocks));
  return text;
}

}  // namespace TovSim
