// The product's entry: the export creates the champion-select plug-in, shakes
// hands with the core and refuses what it cannot serve.
#include "champselect/vover_orevid_aredez_plugin.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/core.h"
#include "logging/logger.h"
#include "runtime/allocator.h"
#include "runtime/fatal.h"
#include "runtime/test_support.h"

namespace Vexa::Client::VoverOrevidAredez {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

PluginHandshake LoadWithCore(uint32_t major, uint32_t minor, uint32_t patch) {
  PluginHandshake record{};
  record.major = major;
  record.minor = minor;
  record.patch = patch;
  load_tov_champ_select_legacy(&record);
  return record;
}

TEST(Handshake, FillsTheRecordAndInitForwardsLogLines) {
  const PluginHandshake record = LoadWithCore(18, 3, 1);
  ASSERT_NE(record.callbacks, nullptr);
  ASSERT_NE(record.plugin, nullptr);
  EXPECT_EQ(record.major, 18u);
  EXPECT_EQ(record.minor, 0u);
  EXPECT_EQ(record.patch, 0u);
  EXPECT_STREQ(record.shortName, "tov-vover-orevid-aredez");
  ASSERT_NE(record.apiDescription, nullptr);
  // The routes themselves are checked through tov-core's api command.
  EXPECT_EQ(record.apiDescription->functionCount, 18u);
  std::vector<std::string> events;
  for (uint32_t i = 0; i < record.apiDescription->eventCount; ++i) events.push_back(record.apiDescription->events[i].name);
  EXPECT_THAT(events, ::testing::UnorderedElementsAre("OnCallback", "OnJsonApiEvent", "OnLcdsEvent",
                                                      "OnServiceProxyUuidEvent", "OnServiceProxyMethodEvent",
                                                      "OnServiceProxyAsyncEvent"));
  std::vector<std::string> types;
  for (uint32_t i = 0; i < record.apiDescription->typeCount; ++i) types.push_back(record.apiDescription->types[i].name);
  EXPECT_THAT(types, ::testing::IsSupersetOf({"BindingHelpFormat", "BindingFullApiHelp", "PluginResourceEvent",
                                              "PluginManagerState"}));
  auto* module = static_cast<PluginModule*>(record.plugin);
  EXPECT_EQ(module->Naming().fullName, "plx-be-tov-vover-orevid-aredez");
  EXPECT_EQ(module->CoreVersion().ToString(), "18.3.1");
  EXPECT_THAT(module->LogCategories(), ElementsAre("Plugins", "Plugin tov-vover-orevid-aredez"));
  EXPECT_EQ(module->RouteNamespace(), "TovVoverOrevidAredez");

  TovHost::Core core;
  const CoreContext context = core.Context();
  EXPECT_EQ(record.callbacks->Init(record.plugin, &context), 1);
  EXPECT_EQ(module->UserAgent(), "VexaClient/18.3.1 (tov-vover-orevid-aredez)");
  std::vector<std::string> registered;
  for (const auto& h : core.Handlers()) {
    registered.push_back(h.eventName);
    EXPECT_EQ(h.coreHandle, core.Handle());
    EXPECT_EQ(h.flags, h.eventName.starts_with("OnJsonApiEvent") ? 0u : 1u) << h.eventName;
    EXPECT_EQ(h.context, record.plugin);
  }
  // The runtime's three, then the champion select's in their order.
  EXPECT_THAT(registered,
              ElementsAre("OnServiceProxyUuidEvent", "OnServiceProxyMethodEvent", "OnServiceProxyAsyncEvent",
                          "OnLcdsEvent_com_vexagames_platform_game_GameDTO",
                          "OnLcdsEvent_com_vexagames_platform_trade_api_contract_TradeContractDTO",
                          "OnLcdsEvent_com_vexagames_platform_game_TeamSkinRentalDTO",
                          "OnJsonApiEvent_tov-gameflow_v1_session", "OnJsonApiEvent_tov-gameflow_v1_battle-training",
                          "OnJsonApiEvent_tov-platform-config_v1_namespaces_ClientSystemStates_"
                          "freeToPlayChampionsForNewPlayersMaxLevel",
                          "OnJsonApiEvent_tov-platform-config_v1_namespaces_ClientSystemStates_"
                          "freeToPlayChampionForNewPlayersIdList",
                          "OnJsonApiEvent_tov-login_v1_session", "OnJsonApiEvent_tov-gameflow_v1_spectate",
                          "OnJsonApiEvent_tov-summoner_v1_current-summoner",
                          "OnJsonApiEvent_tov-gameflow_v1_gameflow-metadata"));

  const Logging::LoggerApi* logger = Logging::Logger();
  EXPECT_NE(logger->FindTarget(logger, "PluginLogTarget"), nullptr);
  EXPECT_FALSE(logger->StdErrTarget(logger)->IsAttached(logger->StdErrTarget(logger)));
  EXPECT_EQ(logger->GetMinimumLevel(logger), 0);
  EXPECT_EQ(logger->GetMutedGroups(logger), Logging::kGroupXtr);
  const size_t before = core.Logs().size();
  Logging::Log(Logging::kOkay, Logging::kGroupNet, "level %d reaches the core", 0);
  Logging::Log(Logging::kAlways, Logging::kGroupXtr, "muted");
  ASSERT_EQ(core.Logs().size(), before + 1);
  EXPECT_EQ(core.Logs().back().level, 0);
  EXPECT_EQ(core.Logs().back().message, "level 0 reaches the core");  // raw message, not the line

  record.callbacks->Shutdown(record.plugin);
  EXPECT_THAT(core.Unregistered(), ::testing::UnorderedElementsAreArray(registered));
  EXPECT_TRUE(core.Handlers().empty());
  EXPECT_EQ(logger->FindTarget(logger, "PluginLogTarget"), nullptr);
}

TEST(Handshake, SecondInstanceSharesTheForwardingTarget) {
  const PluginHandshake first = LoadWithCore(18, 0, 0);
  const PluginHandshake second = LoadWithCore(18, 0, 0);
  ASSERT_NE(first.plugin, second.plugin);
  TovHost::Core core1, core2;
  const CoreContext context1 = core1.Context(), context2 = core2.Context();
  ASSERT_EQ(first.callbacks->Init(first.plugin, &context1), 1);
  const Logging::LoggerApi* logger = Logging::Logger();
  const Logging::LogTargetApi* installed = logger->FindTarget(logger, "PluginLogTarget");
  ASSERT_EQ(second.callbacks->Init(second.plugin, &context2), 1);
  EXPECT_EQ(logger->FindTarget(logger, "PluginLogTarget"), installed);  // left alone

  Logging::Log(Logging::kAlways, Logging::kGroupDbg, "both running");
  EXPECT_EQ(core1.Logs().back().message, "both running");

  // The installer goes first: the survivor takes over forwarding, to its own core.
  first.callbacks->Shutdown(first.plugin);
  Logging::Log(Logging::kAlways, Logging::kGroupDbg, "after the first stopped");
  ASSERT_FALSE(core2.Logs().empty());
  EXPECT_EQ(core2.Logs().back().message, "after the first stopped");
  EXPECT_NE(core1.Logs().back().message, "after the first stopped");
  second.callbacks->Shutdown(second.plugin);
  EXPECT_EQ(logger->FindTarget(logger, "PluginLogTarget"), nullptr);
}

TEST(Handshake, NullRecordIsIgnored) {
  LogCapture log;
  PluginMemoryStats before{}, after{};
  Memory::ProcessCounters().Read(&before);
  load_tov_champ_select_legacy(nullptr);
  Memory::ProcessCounters().Read(&after);
  EXPECT_EQ(after.bytesAllocated - after.bytesFreed, before.bytesAllocated - before.bytesFreed);  // nothing created
  EXPECT_THAT(log.capture.lines,
              ElementsAre("2 tov-vover-orevid-aredez: load_tov_champ_select_legacy called without a handshake record"));
}

TEST(HandshakeDeathTest, IncompatibleCoreEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const struct {
    uint32_t major, minor, patch;
  } rows[] = {{17, 9, 9}, {19, 0, 0}, {0, 0, 0}};
  for (const auto& row : rows) {
    EXPECT_EXIT(LoadWithCore(row.major, row.minor, row.patch), ::testing::ExitedWithCode(kFatalExitStatus),
                "tov-vover-orevid-aredez which supports plugin API 18.0.0 is not compatible with core's plugin API "
                "[0-9.]+(.|\n)*Assertion failed!(.|\n)*Expression: ALE-EECF0606");
  }
}

}  // namespace
}  // namespace Vexa::Client::VoverOrevidAredez
