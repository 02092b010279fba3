// Positional message formatting against calling snprintf directly, the floor
// it is built on. Each benchmark also reports heap allocations per message,
// counted by replacing malloc, which must stay 0 for positional formatting.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "binding/message_format.h"

extern "C" void* __libc_malloc(std::size_t size);

namespace {
std::atomic<std::uint64_t> allocations{0};
}  // namespace

// glibc routes its own internal allocations (including those of vsnprintf)
// through an interposed malloc, so this sees every heap allocation.
extern "C" void* malloc(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(size);
}

namespace {

const std::string kMethod = "GET";
const std::string kUrl = "/tov-vover-orevid-aredez/v1/session/actions/12";
const std::string kError = "The remote service did not answer in time";

template <typename F>
void Run(benchmark::State& state, F format) {
  char buffer[Vexa::kMessageBufferSize];
  const std::uint64_t before = allocations.load();
  for (auto _ : state) {
    benchmark::DoNotOptimize(format(buffer));
    benchmark::ClobberMemory();
  }
  state.counters["allocs/msg"] = benchmark::Counter(static_cast<double>(allocations.load() - before) /
                                                    static_cast<double>(state.iterations()));
}

void BM_Texts_Positional(benchmark::State& state) {
  Run(state, [](char* buffer) {
    return Vexa::FormatTo(buffer, Vexa::kMessageBufferSize, "Error response for %1 %2: %3", kMethod, kUrl, kError);
  });
}

void BM_Texts_Snprintf(benchmark::State& state) {
  Run(state, [](char* buffer) {
    return std::snprintf(buffer, Vexa::kMessageBufferSize, "Error response for %s %s: %s", kMethod.c_str(),
                         kUrl.c_str(), kError.c_str());
  });
}

void BM_Mixed_Positional(benchmark::State& state) {
  Run(state, [](char* buffer) {
    return Vexa::FormatTo(buffer, Vexa::kMessageBufferSize, "Error response for %1 %2: %3 (status %4, %5 ms)",
                          kMethod, kUrl, kError, 404, std::int64_t{1234567});
  });
}

void BM_Mixed_Snprintf(benchmark::State& state) {
  Run(state, [](char* buffer) {
    return std::snprintf(buffer, Vexa::kMessageBufferSize, "Error response for %s %s: %s (status %d, %lld ms)",
                         kMethod.c_str(), kUrl.c_str(), kError.c_str(), 404, 1234567LL);
  });
}

void BM_Double_Positional(benchmark::State& state) {
  Run(state, [](char* buffer) {
    return Vexa::FormatTo(buffer, Vexa::kMessageBufferSize, "Timer: %1$.3f s left of %2", 12.3456, 30.0);
  });
}

void BM_Double_Snprintf(benchmark::State& state) {
  Run(state, [](char* buffer) {
    return std::snprintf(buffer, Vexa::kMessageBufferSize, "Timer: %.3f s left of %g", 12.3456, 30.0);
  });
}

void BM_HostileWidth_Positional(benchmark::State& state) {
  Run(state, [](char* buffer) {
    return Vexa::FormatTo(buffer, Vexa::kMessageBufferSize, "%1$999999999.999999999f", 1.5);
  });
}

}  // namespace

BENCHMARK(BM_Texts_Positional);
BENCHMARK(BM_Texts_Snprintf);
BENCHMARK(BM_Mixed_Positional);
BENCHMARK(BM_Mixed_Snprintf);
BENCHMARK(BM_Double_Positional);
BENCHMARK(BM_Double_Snprintf);
BENCHMARK(BM_HostileWidth_Positional);
BENCHMARK_MAIN();
