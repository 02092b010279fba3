// Many games in a row on one loaded plug-in (tov-core --sim … --games N):
// what one game leaves behind in the plug-in shows as memory that grows
// from game to game.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "sim/simulation.h"
#include "sim/steps.h"

namespace TovSim {

struct GameReport {
  int number = 0;  // from 1
  uint64_t seed = 0;
  Simulation::Outcome outcome = Simulation::Outcome::Ended;
  double endedAt = 0;  // on the clock that runs on through all the games
  // The plug-in's own count (GetMemoryStats) after the game.
  uint64_t liveBytes = 0;
  uint64_t liveBlocks = 0;
};

struct SoakOptions {
  std::string scenario;
  uint64_t firstSeed = 1;
  int games = 1;
  std::vector<Step> steps;  // each game's, from its start
  bool realTime = false;
  FILE* trace = nullptr;  // every game's JSON lines, one after the other
};

// Plays the scenario's games with seeds firstSeed, firstSeed + 1, … and
// reports each as it ends; stops early when the plug-in fails (the
// failure's text in `failure`). The outcome of the last game played.
Simulation::Outcome PlayGames(const std::string& pluginPath, const SoakOptions& options,
                              const std::function<void(const GameReport&)>& onGame, std::string* failure = nullptr);

// "game 3, seed 3: ran to its end at 393.000 s; plug-in live 195432 bytes in 1210 blocks"
std::string Describe(const GameReport& report);

}  // namespace TovSim
