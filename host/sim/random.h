// Seeded randomness for the simulated players. The generator and its draws
// are our own: the standard library's distributions differ between
// implementations, and a seed must give the same game everywhere.
#pragma once

#include <cstdint>
#include <vector>

namespace TovSim {

class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}

  uint64_t Next();
  // A whole number in [low, high]; low when high < low.
  int64_t Between(int64_t low, int64_t high);
  // The same values in an order drawn from this generator.
  std::vector<int> Shuffled(std::vector<int> values);

 private:
  uint64_t state_;
};

// The seed of one seat in one game of a scenario: different for every seat
// and game, and a function of the scenario's seed alone.
uint64_t SeatSeed(uint64_t scenarioSeed, int gameOrdinal, int seat);

}  // namespace TovSim
