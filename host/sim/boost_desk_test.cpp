// The team boost as the local player's client buys it and a mate does: the
// offer, the purchase and its message a second later, the refusals, and
// the skins it unlocks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sim/platform_bench.h"

namespace TovSim {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr const char* kBoostEvent = "OnLcdsEvent_com_vexagames_platform_game_TeamSkinRentalDTO";

struct Shop : Table {
  Listener told;
  Shop() { Listen(kBoostEvent, &told); }
  std::string Buys(const char* name) { return match->BuyBoost(SeatNamed(name)); }
  // What the local client was told of the boost by now.
  std::vector<std::string> Told() {
    while (core.PendingEvents() > 0) core.RunOnce();
    return told.payloads;
  }
};

// Each call at a moment, after what happened first: its answer, the wallet
// after it, and the message the team gets one second later (none before).
TEST(BoostDesk, OfferAndPurchase) {
  using Step = std::function<void(Shop&)>;
  const Step nothing = [](Shop&) {};
  const struct {
    const char* what;
    Moment moment;
    Step before;
    const char* call;
    const char* args;
    const char* error;
    const char* body;  // a part of the answer
    int wallet;        // the local player's, after
    const char* told;  // a part of the message a second later; "" none
    bool walletShort = false;
  } rows[] = {
      {"the offer", Moment::Finalization, nothing, "initializeTeamSkinRental", R"(["VP"])", "",
       R"({"typeName":"com.vexagames.platform.game.TeamSkinRentalDTO","body":{"__class":"com.vexagames.platform.game.TeamSkinRentalDTO","summonerName":"","skinUnlockMode":"TEAM","price":95,"ipReward":15,"ipRewardForPurchaser":30,"availableSkins":[7001,7002,7003,7004,7005,7006,7007,7008,7009,)",
       500, ""},
      {"the offer, bought by a mate", Moment::Finalization, [](Shop& s) { EXPECT_EQ(s.Buys("Mate Two"), ""); },
       "initializeTeamSkinRental", R"(["VP"])", "", R"("summonerName":"Mate Two",)", 500,
       R"("summonerName":"Mate Two",)"},
      {"another currency", Moment::Finalization, nothing, "initializeTeamSkinRental", R"(["GC"])", "Unknown currency",
       "", 500, ""},
      {"no currency", Moment::Finalization, nothing, "initializeTeamSkinRental", "[]", "Invalid arguments", "", 500, ""},
      {"the offer while picking", Moment::PickTurn, nothing, "initializeTeamSkinRental", R"(["VP"])",
       "Not in finalization", "", 500, ""},
      {"the offer in a queue without", Moment::BotFinalization, nothing, "initializeTeamSkinRental", R"(["VP"])",
       "Team boost is not available in this queue", "", 500, ""},
      {"a purchase", Moment::Finalization, nothing, "unlockSkinsForTeam", R"(["VP"])", "", "", 405,
       R"("summonerName":"You","skinUnlockMode":"TEAM","price":95,"ipReward":15,"ipRewardForPurchaser":30,"availableSkins":[7001,)"},
      {"a purchase from a wallet that cannot pay", Moment::Finalization, nothing, "unlockSkinsForTeam", R"(["VP"])",
       "Insufficient funds to unlock the team boost", "", 94, "", true},
      {"a second purchase", Moment::Finalization,
       [](Shop& s) {
         EXPECT_EQ(s.Invoke("gameService", "unlockSkinsForTeam", R"(["VP"])").error, "");
         s.RunUntil(s.core.Now() + 2);
         s.Told();
         s.told.payloads.clear();
       },
       "unlockSkinsForTeam", R"(["VP"])", "Team boost already unlocked", "", 405, ""},
      {"a purchase after a mate's", Moment::Finalization, [](Shop& s) { EXPECT_EQ(s.Buys("Mate Two"), ""); },
       "unlockSkinsForTeam", R"(["VP"])", "Team boost already unlocked", "", 500, R"("summonerName":"Mate Two",)"},
      {"a purchase after a rival's", Moment::Finalization, [](Shop& s) { EXPECT_EQ(s.Buys("Rival One"), ""); },
       "unlockSkinsForTeam", R"(["VP"])", "", "", 405, R"("summonerName":"You",)"},
      {"a purchase as finalization ends", Moment::Finalization,
       [](Shop& s) { s.RunUntil(ToSeconds(s.match->GameNow().Deadline()) - 0.5); }, "unlockSkinsForTeam",
       R"(["VP"])", "", "", 405, ""},
      {"a purchase in a queue without", Moment::BotFinalization, nothing, "unlockSkinsForTeam", R"(["VP"])",
       "Team boost is not available in this queue", "", 500, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Shop shop;
    shop.plan.desks.walletShort = row.walletShort;
    shop.Reach(row.moment);
    row.before(shop);
    const size_t toldBefore = shop.Told().size();
    const Answer answer = shop.Invoke("gameService", row.call, row.args);
    EXPECT_EQ(answer.error, row.error);
    EXPECT_THAT(answer.body, HasSubstr(row.body));
    EXPECT_EQ(shop.platform.Boosts().Balance(kLocalSummonerId), row.wallet);
    const double now = shop.core.Now();
    shop.RunUntil(now + 0.999);
    EXPECT_EQ(shop.Told().size(), toldBefore);
    shop.RunUntil(now + 1);
    if (row.told[0]) {
      ASSERT_FALSE(shop.Told().empty());
      EXPECT_THAT(shop.Told().back(), HasSubstr(row.told));
      EXPECT_THAT(shop.Told().back(), HasSubstr(R"("unlocked":true})"));
      EXPECT_THAT(shop.Told().back(), HasSubstr(R"("typeName":"com.vexagames.platform.game.TeamSkinRentalDTO")"));
    } else {
      EXPECT_THAT(shop.Told(), IsEmpty());
    }
  }
}

// The boost's skins become the local player's to wear once a mate bought
// it; skins beyond a champion's stay refused.
TEST(BoostDesk, UnlockedSkinsBecomeSelectable) {
  Shop shop;
  shop.Reach(Moment::Finalization);
  const auto skin = [&](const char* args) { return shop.Invoke("gameService", "selectChampionSkin", args).error; };
  EXPECT_EQ(skin("[7,7007]"), "Skin not owned");
  EXPECT_EQ(shop.Buys("Rival One"), "");
  EXPECT_EQ(skin("[7,7007]"), "Skin not owned");
  EXPECT_EQ(shop.Buys("Mate Three"), "");
  EXPECT_EQ(skin("[7,7007]"), "");
  EXPECT_EQ(skin("[7,7009]"), "");
  EXPECT_EQ(skin("[7,7010]"), "Skin does not belong to the champion");
  EXPECT_THAT(shop.platform.DtoFor(shop.match->GameNow()),
              HasSubstr(R"("summonerInternalName":"you","championId":7,"selectedSkinIndex":9,)"));
}

// A HumanBot planned as the buyer buys the boost at a seeded time while
// finalizing, and the local client is told.
TEST(BoostDesk, APlannedMateBuysIt) {
  Scenario scenario;
  BuiltInScenario("draft", 1, &scenario);
  scenario.game.seats[2].bot.boostBuyer = true;
  Bench bench;
  Listener told;
  bench.Listen(kBoostEvent, &told);
  Match& match = bench.Start(scenario.game, LocalPlay::OnPlatform);
  bench.RunUntil(600);
  while (bench.core.PendingEvents() > 0) bench.core.RunOnce();
  EXPECT_EQ(match.GameNow().State(), GameState::StartRequested);
  ASSERT_EQ(told.payloads.size(), 1u);
  EXPECT_THAT(told.payloads[0], HasSubstr(R"("summonerName":"Mate Three",)"));
  EXPECT_EQ(bench.platform.Boosts().Balance(1003), kWalletVp - kBoostPrice);
}

}  // namespace
}  // namespace TovSim
