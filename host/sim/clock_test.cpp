// A library loaded the way the plug-in is reads the simulation's clocks
// through clock_gettime, exactly, and the real ones once it is over.
#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "sim/clock.h"

namespace TovSim {
namespace {

using Probe = void (*)(timespec*, timespec*);

bool Before(const timespec& a, const timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec <= b.tv_nsec);
}

TEST(Clock, ALoadedLibraryReadsTheGameTimeExactly) {
  void* library = dlopen(TOV_CLOCK_PROBE_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  const auto probe = reinterpret_cast<Probe>(dlsym(library, "tov_probe_clocks"));
  ASSERT_NE(probe, nullptr);

  TovHost::Core core;
  Clock clock(core);
  clock.Activate();
  const struct {
    double at;
    double shift;  // of the wall clock alone
    timespec monotonic;
    timespec wall;
  } rows[] = {
      {0, 0, {0, 0}, {Clock::kEpochSeconds, 0}},
      {12.345678, 0, {12, 345678000}, {Clock::kEpochSeconds + 12, 345678000}},
      {3600.000001, 0, {3600, 1000}, {Clock::kEpochSeconds + 3600, 1000}},
      {3600.000001, -7200, {3600, 1000}, {Clock::kEpochSeconds - 3600, 1000}},
  };
  for (const auto& row : rows) {
    core.MoveClockTo(row.at);
    clock.ShiftWallClock(row.shift);
    timespec monotonic{}, wall{};
    probe(&monotonic, &wall);
    EXPECT_EQ(monotonic.tv_sec, row.monotonic.tv_sec) << row.at;
    EXPECT_EQ(monotonic.tv_nsec, row.monotonic.tv_nsec) << row.at;
    EXPECT_EQ(wall.tv_sec, row.wall.tv_sec) << row.at;
    EXPECT_EQ(wall.tv_nsec, row.wall.tv_nsec) << row.at;
  }

  // Once the game is over the library reads the machine's clock again.
  clock.Deactivate();
  timespec before{}, read{}, wall{}, after{};
  syscall(SYS_clock_gettime, CLOCK_MONOTONIC, &before);
  probe(&read, &wall);
  syscall(SYS_clock_gettime, CLOCK_MONOTONIC, &after);
  EXPECT_TRUE(Before(before, read) && Before(read, after));
  EXPECT_GT(wall.tv_sec, 1600000000);
  dlclose(library);
}

}  // namespace
}  // namespace TovSim
