// Many drafts in a row on one loaded plug-in: whatever one game leaves
// behind in the plug-in would grow from game to game.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "sim/soak.h"

namespace {

// After its first game the plug-in keeps the last game it saw and its
// first-use tables; from then on every game gives back what it took, so the
// live bytes after each stay within a small band. (The counts are the
// plug-in's own allocator's, the same under AddressSanitizer.)
TEST(Soak, TwentyDraftsOnOnePluginKeepTheirMemoryLevel) {
  TovSim::SoakOptions options;
  options.scenario = "draft";
  options.games = 20;
  std::vector<TovSim::GameReport> reports;
  std::string failure;
  ASSERT_EQ(TovSim::PlayGames(TOV_PLUGIN_PATH, options,
                              [&](const TovSim::GameReport& report) { reports.push_back(report); }, &failure),
            TovSim::Simulation::Outcome::Ended)
      << failure;
  ASSERT_EQ(reports.size(), 20u);
  const auto level = static_cast<int64_t>(reports.front().liveBytes);
  double lastEnd = 0;
  for (const TovSim::GameReport& report : reports) {
    EXPECT_EQ(report.outcome, TovSim::Simulation::Outcome::Ended) << TovSim::Describe(report);
    EXPECT_EQ(report.seed, static_cast<uint64_t>(report.number));
    EXPECT_GT(report.endedAt, lastEnd) << "the clock runs on from game to game";
    lastEnd = report.endedAt;
    EXPECT_LE(std::abs(static_cast<int64_t>(report.liveBytes) - level), 4096) << TovSim::Describe(report);
  }
}

}  // namespace
