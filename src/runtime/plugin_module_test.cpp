#include "runtime/plugin_module.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>
#include <string>
#include <vector>

#include "core/core.h"
#include "logging/logger.h"
#include "runtime/allocator.h"
#include "runtime/fatal.h"
#include "runtime/test_support.h"
#include "runtime/plugin_naming.h"

namespace Vexa {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(Version, CompatibilityRule) {
  const struct {
    uint32_t mine[3], core[3];
    bool compatible;
  } rows[] = {
      {{18, 0, 0}, {18, 0, 0}, true},  {{18, 0, 0}, {18, 3, 0}, true},  {{18, 0, 0}, {18, 0, 7}, true},
      {{18, 0, 0}, {17, 9, 9}, false}, {{18, 0, 0}, {19, 0, 0}, false}, {{18, 2, 5}, {18, 2, 4}, false},
      {{18, 2, 5}, {18, 1, 9}, false}, {{18, 2, 5}, {18, 2, 5}, true},  {{18, 2, 5}, {18, 3, 0}, true},
  };
  for (const auto& row : rows) {
    SemanticVersion mine = VersionOf(row.mine[0], row.mine[1], row.mine[2]);
    SemanticVersion core = VersionOf(row.core[0], row.core[1], row.core[2]);
    EXPECT_EQ(IsCompatible(mine, core), row.compatible) << mine.ToString() << " on core " << core.ToString();
    core.preRelease = "beta";  // the texts are not compared
    EXPECT_EQ(IsCompatible(mine, core), row.compatible);
  }
}

TEST(Naming, FullNamesByKind) {
  const Logging::LoggerApi* logger = Logging::Logger();
  logger->Initialize(logger);
  CaptureTarget capture;
  capture.SetLevel(0);
  capture.Attach();
  const struct {
    PluginKind kind;
    const char* fullName;
    bool logsError;
  } rows[] = {
      {{"backend", ""}, "plx-be-tov-x", false},
      {{"frontend", ""}, "plx-fe-tov-x", false},
      {{"Backend", ""}, "plx-xx-tov-x", true},  // names compare case-sensitively
      {{"backend ", "x"}, "plx-xx-tov-x", true},
  };
  for (const auto& row : rows) {
    capture.lines.clear();
    EXPECT_EQ(GetFullNameFromShortNameAndType("tov-x", row.kind), row.fullName);
    EXPECT_EQ(capture.lines.size(), row.logsError ? 1u : 0u) << row.kind.name;
  }
  capture.lines.clear();
  GetFullNameFromShortNameAndType("tov-x", PluginKind{"sidecar", "beta"});
  EXPECT_THAT(capture.lines,
              ElementsAre("2             Plugin Manager| GetFullNameFromShortNameAndType(\"tov-x\", "
                          "\"sidecar:beta\") called with an unknown type"));
  capture.Detach();
  logger->Shutdown(logger);
  EXPECT_EQ(ApiNameFromShortName("tov-vover-orevid-aredez"), "TovVoverOrevidAredez");
}

// Before Init the core's table is unknown, and after Shutdown nothing may be
// registered on an object that is going away: each is refused with a line.
TEST(Lifetime, CallsOutsideInitAndShutdownAreRefused) {
  LogCapture log;
  PluginModule plugin;
  PluginHandshake record{18, 0, 0, nullptr, nullptr, nullptr, nullptr};
  plugin.Handshake(&record, "tov-vover-orevid-aredez");
  RemotingResponse response{};
  RemotingRequest request{};
  request.url = "/x";
  plugin.Request(&response, &request);
  EXPECT_STREQ(response.error, "The core is not connected");
  EXPECT_TRUE(plugin.CheckedRequest(RemotingMethod::Get, "/x").IsFailure());
  plugin.Pump();
  plugin.BeginWait("w", 0);
  plugin.EndWait();
  plugin.Subscribe("/tov-gameflow/v1/session");
  std::promise<MaybeType<Failure, int>> never;
  const auto awaited = plugin.Await(never.get_future());  // would pump a core that is not there
  ASSERT_TRUE(awaited.IsFailure());
  EXPECT_EQ(awaited.Error().Message(), "The core is not connected");
  EXPECT_THAT(log.capture.lines,
              ElementsAre("2 tov-vover-orevid-aredez: Request before Init refused: the core is not connected",
                          "2 tov-vover-orevid-aredez: Request before Init refused: the core is not connected",
                          "2 tov-vover-orevid-aredez: Pump before Init refused: the core is not connected",
                          "2 tov-vover-orevid-aredez: BeginWait before Init refused: the core is not connected",
                          "2 tov-vover-orevid-aredez: EndWait before Init refused: the core is not connected",
                          "2 tov-vover-orevid-aredez: Subscribe for /tov-gameflow/v1/session before Init refused: "
                          "the core is not connected"));

  TovHost::Core core;
  const CoreContext context = core.Context();
  ASSERT_EQ(plugin.Init(&context), 1);
  log.capture.lines.clear();
  plugin.Stop();
  const auto handlers = core.Handlers().size();
  plugin.Subscribe("/tov-gameflow/v1/session");
  plugin.Observe<BindingProperty>("/tov-login/v1/session", [](auto&&...) {});
  plugin.SubscribeLcds<BindingProperty>("com.example.Pushed", [](const BindingProperty&) {});
  EXPECT_EQ(core.Handlers().size(), handlers);
  EXPECT_EQ(plugin.SubscriptionCount("OnJsonApiEvent_tov-gameflow_v1_session"), 0u);
  EXPECT_THAT(log.capture.lines,
              ElementsAre("2 tov-vover-orevid-aredez: Subscribe for /tov-gameflow/v1/session refused: the plug-in is "
                          "shutting down",
                          "2 tov-vover-orevid-aredez: Observe for /tov-login/v1/session refused: the plug-in is "
                          "shutting down",
                          "2 tov-vover-orevid-aredez: An event handler for OnLcdsEvent_com_example_Pushed refused: the "
                          "plug-in is shutting down"));
}

}  // namespace
}  // namespace Vexa
