// The cost of one log message against the floor it is built on: a plain
// snprintf of the same message into a stack buffer. A dropped message should
// cost a small fraction of the floor (it is filtered before formatting); a
// written one costs the floor plus the time stamp and the dispatch.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include "logging/log_target.h"
#include "logging/logger.h"

namespace {

using namespace Vexa::Logging;

constexpr const char* kFormat = "%s: Subscribing to event: %s";
constexpr const char* kName = "tov-vover-orevid-aredez";
constexpr const char* kEvent = "OnJsonApiEvent_lol-champ-select_v1_session";

// Takes the record and drops it: what remains is the logger's own cost.
class NullTarget final : public LogTarget {
 public:
  const char* GetName() const override { return "NullTarget"; }
  bool Write(const LogRecord& record) override {
    benchmark::DoNotOptimize(record.message);
    return true;
  }
};

// Formats the line with the default pattern and drops it, as a real target
// would before its output call.
class FormattingNullTarget final : public LogTarget {
 public:
  const char* GetName() const override { return "FormattingNullTarget"; }
  bool Write(const LogRecord& record) override {
    char line[kLineBufferSize];
    benchmark::DoNotOptimize(FormatLine(record, line, sizeof line));
    return true;
  }
};

void BM_SnprintfFloor(benchmark::State& state) {
  char message[kLineBufferSize];
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::snprintf(message, sizeof message, kFormat, kName, kEvent));
    benchmark::ClobberMemory();
  }
}

void BM_LogFilteredByLevel(benchmark::State& state) {
  for (auto _ : state) Log(kOkay, kGroupDbg, kFormat, kName, kEvent);
}

void BM_LogFilteredByMutedGroup(benchmark::State& state) {
  for (auto _ : state) Log(kAlways, kGroupXtr, kFormat, kName, kEvent);
}

template <typename Target>
void RunWritten(benchmark::State& state) {
  Target target;
  target.Attach();
  for (auto _ : state) Log(kAlways, kGroupDbg, kFormat, kName, kEvent);
  target.Detach();
}

void BM_LogWrittenToNullTarget(benchmark::State& state) { RunWritten<NullTarget>(state); }
void BM_LogWrittenAndFormattedLine(benchmark::State& state) { RunWritten<FormattingNullTarget>(state); }

BENCHMARK(BM_SnprintfFloor);
BENCHMARK(BM_LogFilteredByLevel);
BENCHMARK(BM_LogFilteredByMutedGroup);
BENCHMARK(BM_LogWrittenToNullTarget);
BENCHMARK(BM_LogWrittenAndFormattedLine);

// Prints each result as a ratio to the snprintf floor after the usual table.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    // Single runs, or the median when repetitions are asked for.
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && run.repetitions <= 1)
        nanoseconds_[run.run_name.function_name] = run.GetAdjustedCPUTime();
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
        nanoseconds_[run.run_name.function_name] = run.GetAdjustedCPUTime();
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const auto floor = nanoseconds_.find("BM_SnprintfFloor");
    if (floor == nanoseconds_.end() || floor->second <= 0) return;
    std::printf("\nRatio to the snprintf floor (%.1f ns):\n", floor->second);
    for (const auto& [name, ns] : nanoseconds_)
      std::printf("  %-32s %8.1f ns  %6.3fx\n", name.c_str(), ns, ns / floor->second);
  }

 private:
  std::map<std::string, double> nanoseconds_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const LoggerApi* logger = Logger();
  logger->Initialize(logger);
  // Only the benchmark's own targets: nothing reaches the terminal.
  logger->DetachTarget(logger, logger->StdErrTarget(logger));
  logger->DetachTarget(logger, logger->DebuggerTarget(logger));
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  logger->Shutdown(logger);
  benchmark::Shutdown();
  return 0;
}
