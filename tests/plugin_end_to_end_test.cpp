// Loads the built plug-in the way the core does: through dlopen and the one
// export, in this process and through the tov-core executable.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "core/core.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

struct CoreRun {
  int status;
  std::string output;
};

CoreRun RunCore(const std::string& arguments) {
  const std::string command = std::string(TOV_CORE_PATH) + " " + arguments + " 2>&1";
  CoreRun run{-1, ""};
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  std::array<char, 4096> buffer;
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) run.output.append(buffer.data(), n);
  const int raw = pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  return run;
}

TEST(TovCore, DemoShowsHandshakeLogLinesStatsAndShutdown) {
  const CoreRun run = RunCore(std::string("--stats ") + TOV_PLUGIN_PATH);
  EXPECT_EQ(run.status, 0) << run.output;
  for (const char* expected : {
           "core: plugin API 18.0.0, loading ",
           "handshake: plugin API 18.0.0, short name \"tov-vover-orevid-aredez\", 0 functions",
           "Init: succeeded",
           "registered event handler: OnServiceProxyMethodEvent (flags 1)",
           "ALWAYS| tov-vover-orevid-aredez: Initialized (VexaClient/18.0.0 (tov-vover-orevid-aredez)).",
           "memory after Init: live ",
           "ALWAYS| tov-vover-orevid-aredez: Shutting down.",
           "Shutdown: done, 3 event handlers unregistered, 0 still registered",
       })
    EXPECT_THAT(run.output, HasSubstr(expected));
}

TEST(TovCore, IncompatibleCoreVersionsEndTheProcess) {
  for (const char* version : {"17.9.9", "19.0.0", "17.0.0"}) {
    const CoreRun run = RunCore(std::string("--core-version ") + version + " " + TOV_PLUGIN_PATH);
    EXPECT_EQ(run.status, 3) << version << "\n" << run.output;
    EXPECT_THAT(run.output, HasSubstr("Expression: ALE-EECF0606")) << version;
    EXPECT_THAT(run.output, HasSubstr(std::string("is not compatible with core's plugin API ") + version));
    EXPECT_THAT(run.output, Not(HasSubstr("handshake:")));  // the core never sees a result
  }
  EXPECT_EQ(RunCore(std::string("--core-version 18.4.2 ") + TOV_PLUGIN_PATH).status, 0);
  EXPECT_EQ(RunCore("--core-version 18.x " + std::string(TOV_PLUGIN_PATH)).status, 2);
  EXPECT_EQ(RunCore("/nonexistent/plugin.so").status, 1);
}

TEST(LoadedPlugin, MemoryStatsWhileAnotherInstanceAllocates) {
  TovHost::PluginLibrary library(TOV_PLUGIN_PATH);
  ASSERT_TRUE(library.Loaded()) << library.Error();
  const PluginHandshake watched = library.Handshake(18, 0, 0);
  ASSERT_NE(watched.callbacks, nullptr);
  TovHost::Core core;
  const CoreContext context = core.Context();
  ASSERT_EQ(watched.callbacks->Init(watched.plugin, &context), 1);

  std::atomic<bool> done{false};
  std::atomic<int> reads{0}, violations{0};
  std::thread reader([&] {
    while (!done.load()) {
      PluginMemoryStats s{};
      watched.callbacks->GetMemoryStats(watched.plugin, &s);
      if (s.frees > s.allocations || s.bytesFreed > s.bytesAllocated || s.reserved[0] || s.reserved[1])
        ++violations;
      ++reads;
    }
  });
  while (reads.load() == 0) std::this_thread::yield();
  for (int i = 0; i < 200; ++i) {
    const PluginHandshake other = library.Handshake(18, 0, 0);
    TovHost::Core otherCore;
    const CoreContext otherContext = otherCore.Context();
    ASSERT_EQ(other.callbacks->Init(other.plugin, &otherContext), 1);
    other.callbacks->Shutdown(other.plugin);
  }
  done.store(true);
  reader.join();
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(violations.load(), 0);

  PluginMemoryStats s{};
  watched.callbacks->GetMemoryStats(watched.plugin, &s);
  EXPECT_GT(s.allocations, 200u);
  EXPECT_GE(s.peakLiveBytes, s.bytesAllocated - s.bytesFreed);
  watched.callbacks->Shutdown(watched.plugin);
}

}  // namespace
