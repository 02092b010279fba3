// The process-wide high-resolution clock behind the #H token: seconds since
// the first time any line asked for it.
#pragma once

#include <cstdint>

namespace Vexa::Logging {

class ProcessClock {
 public:
  // Ticks since the start and ticks per second. The first reading in the
  // process records the start and the frequency.
  struct Reading {
    uint64_t ticks;
    uint64_t frequency;
  };
  static Reading Read();
  static double Seconds();
  // The next reading records a new start (tests only).
  static void Restart();
};

}  // namespace Vexa::Logging
