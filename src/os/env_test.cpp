#include "os/env.h"

#include <gtest/gtest.h>

#include <cstring>

#include "os/fake_env.h"

namespace Vexa::Os {

TEST(Env, FileNamePartTakesTextAfterLastSlash) {
  const struct {
    const char* path;
    const char* name;
  } rows[] = {{"/usr/bin/tov-core", "tov-core"}, {"tov-core", "tov-core"}, {"/a/b/", ""}, {"", ""}};
  for (const auto& row : rows) EXPECT_STREQ(FileNamePart(row.path), row.name) << row.path;
}

TEST(Env, PosixServicesAnswer) {
  Env& env = Env::Posix();
  uint64_t a = env.PerformanceCounter();
  uint64_t b = env.PerformanceCounter();
  EXPECT_LE(a, b);
  EXPECT_GT(env.PerformanceFrequency(), 0u);
  LocalTime t = env.Now();
  EXPECT_GE(t.year, 2000);
  EXPECT_TRUE(t.month >= 1 && t.month <= 12);
  EXPECT_TRUE(t.millisecond >= 0 && t.millisecond < 1000);
  // 2020-01-01 and 2100-01-01: milliseconds, not seconds or microseconds.
  EXPECT_GT(env.UnixTimeMillis(), 1577836800000);
  EXPECT_LT(env.UnixTimeMillis(), 4102444800000);
  char path[8];  // far too small: must truncate, never overflow
  ASSERT_TRUE(env.ExecutablePath(path, sizeof path));
  EXPECT_EQ(std::strlen(path), sizeof path - 1);
  MemoryStatus status;
  ASSERT_TRUE(env.QueryMemoryStatus(&status));
  EXPECT_GT(status.totalPhysicalBytes, 0u);
  EXPECT_GT(status.workingSetBytes, 0u);
  void* region = env.MapRegion(65536);
  ASSERT_NE(region, nullptr);
  static_cast<char*>(region)[65535] = 1;
  env.UnmapRegion(region, 65536);
}

TEST(Env, InstalledFakeIsCurrentUntilRestored) {
  FakeEnv fake;
  {
    ScopedEnv scope(&fake);
    EXPECT_EQ(&Env::Current(), &fake);
  }
  EXPECT_EQ(&Env::Current(), &Env::Posix());
}

}  // namespace Vexa::Os
