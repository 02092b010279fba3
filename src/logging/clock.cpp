#include "logging/clock.h"

#include <atomic>
#include <mutex>

#include "os/env.h"

namespace Vexa::Logging {
namespace {

std::atomic<bool> g_started{false};
std::atomic<uint64_t> g_start{0};
std::atomic<uint64_t> g_frequency{1};
std::mutex g_startMutex;  // only so that two first readers agree on one start

}  // namespace

ProcessClock::Reading ProcessClock::Read() {
  Os::Env& env = Os::Env::Current();
  if (!g_started.load(std::memory_order_acquire)) {
    std::lock_guard<std::mutex> guard(g_startMutex);
    if (!g_started.load(std::memory_order_relaxed)) {
      const uint64_t frequency = env.PerformanceFrequency();
      g_frequency.store(frequency != 0 ? frequency : 1, std::memory_order_relaxed);
      g_start.store(env.PerformanceCounter(), std::memory_order_relaxed);
      g_started.store(true, std::memory_order_release);
    }
  }
  const uint64_t now = env.PerformanceCounter();
  const uint64_t start = g_start.load(std::memory_order_relaxed);
  // A counter behind the start only happens when a test swaps clocks.
  return Reading{now > start ? now - start : 0, g_frequency.load(std::memory_order_relaxed)};
}

double ProcessClock::Seconds() {
  const Reading reading = Read();
  return double(reading.ticks) / double(reading.frequency);
}

void ProcessClock::Restart() { g_started.store(false, std::memory_order_release); }

}  // namespace Vexa::Logging
