// Drafts played one after another on one loaded plug-in, as
// `tov-core --sim draft --games N` plays them: games per second, and the
// plug-in's live memory after game 1, 10, 100 and 1000 (a leak shows as a
// curve that keeps rising). Beside it, the same drafts each on a freshly
// loaded plug-in: what loading, Init and Shutdown add to a game.
//
// While a game runs this process's clocks are the game's virtual clock, so
// the timings are wall time read before and after the games.
#include <benchmark/benchmark.h>

#include <string>

#include "sim/scenario.h"
#include "sim/simulation.h"
#include "sim/soak.h"

namespace {

void GamesOnOnePlugin(benchmark::State& state) {
  const int games = static_cast<int>(state.range(0));
  for (auto _ : state) {
    TovSim::SoakOptions options;
    options.scenario = "draft";
    options.games = games;
    std::string failure;
    const auto outcome = TovSim::PlayGames(TOV_PLUGIN_PATH, options, [&](const TovSim::GameReport& report) {
      if (report.number == 1 || report.number == 10 || report.number == 100 || report.number == 1000)
        state.counters["live_after_" + std::to_string(report.number)] = static_cast<double>(report.liveBytes);
    }, &failure);
    if (outcome == TovSim::Simulation::Outcome::PluginFailed) state.SkipWithError(failure.c_str());
  }
  state.counters["games_per_s"] = benchmark::Counter(static_cast<double>(games) * static_cast<double>(state.iterations()),
                                                     benchmark::Counter::kIsRate);
}
BENCHMARK(GamesOnOnePlugin)->Arg(1000)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void GamesEachOnAFreshPlugin(benchmark::State& state) {
  const int games = static_cast<int>(state.range(0));
  for (auto _ : state) {
    for (int number = 1; number <= games; ++number) {
      TovSim::Scenario scenario;
      TovSim::BuiltInScenario("draft", static_cast<uint64_t>(number), &scenario);
      TovSim::Simulation simulation(std::move(scenario));
      if (simulation.Run(TOV_PLUGIN_PATH) == TovSim::Simulation::Outcome::PluginFailed)
        state.SkipWithError(simulation.Failure().c_str());
    }
  }
  state.counters["games_per_s"] = benchmark::Counter(static_cast<double>(games) * static_cast<double>(state.iterations()),
                                                     benchmark::Counter::kIsRate);
}
BENCHMARK(GamesEachOnAFreshPlugin)->Arg(100)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
