#include "sim/random.h"

#include <cstddef>
#include <utility>

namespace TovSim {
namespace {

// splitmix64's finaliser: every input bit reaches every output bit.
uint64_t Mix(uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

}  // namespace

uint64_t Random::Next() { return Mix(state_ += 0x9E3779B97F4A7C15ull); }

int64_t Random::Between(int64_t low, int64_t high) {
  if (high <= low) return low;
  const uint64_t span = static_cast<uint64_t>(high - low) + 1;
  // Rejection keeps every value equally likely, whatever the span.
  const uint64_t limit = UINT64_MAX - UINT64_MAX % span;
  uint64_t draw;
  do {
    draw = Next();
  } while (draw >= limit);
  return low + static_cast<int64_t>(draw % span);
}

std::vector<int> Random::Shuffled(std::vector<int> values) {
  for (size_t i = values.size(); i > 1; --i) std::swap(values[i - 1], values[static_cast<size_t>(Between(0, int64_t(i) - 1))]);
  return values;
}

uint64_t SeatSeed(uint64_t scenarioSeed, int gameOrdinal, int seat) {
  return Mix(Mix(scenarioSeed) ^ (static_cast<uint64_t>(gameOrdinal) << 32 | static_cast<uint32_t>(seat)));
}

}  // namespace TovSim
