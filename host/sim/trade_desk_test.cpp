// The trade desk as the local player's client and the other seats use it:
// its rules and refusals, what the local client is sent and in which order,
// offers running out, and the HumanBots' answers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sim/platform_bench.h"

namespace TovSim {
namespace {

using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

constexpr const char* kContractEvent = "OnLcdsEvent_com_vexagames_platform_trade_api_contract_TradeContractDTO";
constexpr const char* kGameEvent = "OnLcdsEvent_com_vexagames_platform_game_GameDTO";

// Finalizing in a draft (the local player holds 7; the others never act on
// their own), with every contract and game the local client is sent, in
// the order it receives them.
struct Desk : Table {
  Listener received;
  size_t seen = 0;
  int64_t lock = 0;  // of the last game the client had received at the last look

  explicit Desk(Moment moment = Moment::Finalization) {
    Listen(kContractEvent, &received);
    Listen(kGameEvent, &received);
    Reach(moment);
    Since();
  }
  int Seat(const char* name) { return SeatNamed(name); }
  int Champion(const char* name) { return match->GameNow().At(Seat(name)).selection.championId; }
  // A seat's own call to the desk, as its policy makes it.
  std::string Offers(const char* from, const char* to) {
    return match->Trades().Offer(Seat(from), InternalName(to), Champion(to));
  }
  std::string Dismisses(const char* who) { return match->Trades().Dismiss(Seat(who)); }
  std::string Accepts(const char* who, const char* from) {
    return match->Trades().Accept(Seat(who), InternalName(from), Champion(from));
  }
  Answer Attempt(const char* mate, int championId, bool accept) {
    const std::string args = JsonWriter().BeginArray().String(mate).Int(championId).Bool(accept).EndArray().Text();
    return Invoke("lcdsChampionTradeService", "attemptTrade", args);
  }
  // What the local client received since the last look: "game +N" (its lock
  // against the last look's) or "REQUESTER>RESPONDER STATE".
  std::vector<std::string> Since() {
    while (core.PendingEvents() > 0) core.RunOnce();
    std::vector<std::string> out;
    for (; seen < received.payloads.size(); ++seen) {
      const rapidjson::Document event = ParseJson(received.payloads[seen]);
      const rapidjson::Value& body = event["body"];
      if (body.HasMember("optimisticLock")) {
        out.push_back("game +" + std::to_string(body["optimisticLock"].GetInt64() - lock));
      } else {
        out.push_back(std::string(body["requesterInternalSummonerName"].GetString()) + ">" +
                      body["responderInternalSummonerName"].GetString() + " " + body["state"].GetString());
      }
    }
    lock = match ? match->GameNow().OptimisticLock() : 0;
    return out;
  }
};

// Each call of the local player's client, after what the others did first:
// its answer, the contracts and games the client is sent, and whether the
// champions changed hands.
TEST(TradeDesk, TheLocalPlayersCallsFollowTheRules) {
  using Step = std::function<void(Desk&)>;
  const Step nothing = [](Desk&) {};
  const struct {
    const char* what;
    Step before;
    std::function<Answer(Desk&)> call;
    const char* error;
    std::vector<std::string> sent;  // to the local client, by the call
    bool swapped = false;           // You and Mate Two
  } rows[] = {
      {"an offer", nothing, [](Desk& d) { return d.Attempt("matetwo", d.Champion("Mate Two"), false); }, "",
       {"you>matetwo PENDING"}},
      {"an offer for another champion", nothing, [](Desk& d) { return d.Attempt("matetwo", 40, false); },
       "Champion is not the one the summoner holds", {}},
      {"an offer to a rival", nothing, [](Desk& d) { return d.Attempt("rivalone", d.Champion("Rival One"), false); },
       "Summoner is not on your team", {}},
      {"an offer to oneself", nothing, [](Desk& d) { return d.Attempt("you", 7, false); }, "Summoner is not on your team",
       {}},
      {"a second offer", [](Desk& d) { d.Attempt("matetwo", d.Champion("Mate Two"), false); },
       [](Desk& d) { return d.Attempt("matethree", d.Champion("Mate Three"), false); }, "A trade is already in progress",
       {}},
      {"an offer to a busy mate", [](Desk& d) { EXPECT_EQ(d.Offers("Mate Three", "Mate Four"), ""); },
       [](Desk& d) { return d.Attempt("matefour", d.Champion("Mate Four"), false); }, "", {"matethree>matefour BUSY"}},
      {"an offer while offered one", [](Desk& d) { EXPECT_EQ(d.Offers("Mate Three", "You"), ""); },
       [](Desk& d) { return d.Attempt("matetwo", d.Champion("Mate Two"), false); }, "A trade is already in progress",
       {}},
      {"accepting", [](Desk& d) { EXPECT_EQ(d.Offers("Mate Two", "You"), ""); },
       [](Desk& d) { return d.Attempt("matetwo", d.Champion("Mate Two"), true); }, "",
       {"matetwo>you ACCEPTED", "game +1"}, true},
      {"accepting with nothing offered", nothing,
       [](Desk& d) { return d.Attempt("matetwo", d.Champion("Mate Two"), true); }, "No trade offer from this summoner", {}},
      {"accepting another's offer", [](Desk& d) { EXPECT_EQ(d.Offers("Mate Two", "You"), ""); },
       [](Desk& d) { return d.Attempt("matethree", d.Champion("Mate Three"), true); }, "No trade offer from this summoner",
       {}},
      {"accepting its own offer", [](Desk& d) { d.Attempt("matetwo", d.Champion("Mate Two"), false); },
       [](Desk& d) { return d.Attempt("matetwo", d.Champion("Mate Two"), true); }, "No trade offer from this summoner",
       {}},
      {"accepting for another champion", [](Desk& d) { EXPECT_EQ(d.Offers("Mate Two", "You"), ""); },
       [](Desk& d) { return d.Attempt("matetwo", 40, true); }, "Champion is not the one the summoner holds", {}},
      {"declining", [](Desk& d) { EXPECT_EQ(d.Offers("Mate Two", "You"), ""); },
       [](Desk& d) { return d.Invoke("lcdsChampionTradeService", "dismissTrade"); }, "", {"matetwo>you DECLINED"}},
      {"withdrawing", [](Desk& d) { d.Attempt("matetwo", d.Champion("Mate Two"), false); },
       [](Desk& d) { return d.Invoke("lcdsChampionTradeService", "dismissTrade"); }, "", {"you>matetwo CANCELED"}},
      {"dismissing nothing", nothing, [](Desk& d) { return d.Invoke("lcdsChampionTradeService", "dismissTrade"); },
       "No pending trade", {}},
      {"dismissing what the mate withdrew",
       [](Desk& d) {
         EXPECT_EQ(d.Offers("Mate Two", "You"), "");
         EXPECT_EQ(d.Dismisses("Mate Two"), "");
       },
       [](Desk& d) { return d.Invoke("lcdsChampionTradeService", "dismissTrade"); }, "No pending trade", {}},
      {"the others' trades", [](Desk& d) { EXPECT_EQ(d.Offers("Mate Three", "Mate Four"), ""); },
       [](Desk& d) { return d.Attempt("matetwo", d.Champion("Mate Two"), false); }, "", {"you>matetwo PENDING"}},
      {"arguments that are not a name, a number and a flag", nothing,
       [](Desk& d) { return d.Invoke("lcdsChampionTradeService", "attemptTrade", "[7,7,false]"); }, "Invalid arguments",
       {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Desk desk;
    const int mine = desk.Champion("You");
    const int theirs = desk.Champion("Mate Two");
    row.before(desk);
    desk.Since();
    const Answer answer = row.call(desk);
    EXPECT_EQ(answer.error, row.error);
    EXPECT_EQ(answer.status, row.error[0] ? 500 : 200);
    EXPECT_THAT(desk.Since(), ElementsAreArray(row.sent));
    EXPECT_EQ(desk.Champion("You"), row.swapped ? theirs : mine);
    EXPECT_EQ(desk.Champion("Mate Two"), row.swapped ? mine : theirs);
  }
}

// Who may trade: the team-mates, while finalizing, in a queue with trades;
// outside finalization nobody, which is an empty list and no failure.
TEST(TradeDesk, PotentialTradersAndWhenTradesAreRefused) {
  const struct {
    Moment moment;
    const char* call;
    const char* error;
    const char* body;
  } rows[] = {
      {Moment::Finalization, "getPotentialTraders", "",
       R"({"__class":"com.vexagames.platform.trade.api.contract.PotentialTradersDTO","potentialTraders":["matetwo","matethree","matefour","matefive"]})"},
      {Moment::PickTurn, "getPotentialTraders", "", R"("potentialTraders":[]})"},
      {Moment::BotFinalization, "getPotentialTraders", "", R"("potentialTraders":[]})"},
      {Moment::PickTurn, "attemptTrade", "Not in finalization", ""},
      {Moment::BotFinalization, "attemptTrade", "Trades are not allowed in this queue", ""},
      {Moment::Finalization, "tradeEverything", "Unknown service call", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.call) + " at moment " + std::to_string(static_cast<int>(row.moment)));
    Desk desk(row.moment);
    const Answer answer = desk.Invoke("lcdsChampionTradeService", row.call, R"(["matetwo",1,false])");
    EXPECT_EQ(answer.error, row.error);
    EXPECT_THAT(answer.body, HasSubstr(row.body));
  }

  // A mate holding a champion the local player may not play (33) is no
  // potential trader, and an offer to them is refused.
  Desk desk(Moment::AfterMyPick);
  while (desk.match->GameNow().State() == GameState::ChampSelect) {
    const std::vector<int> actors = desk.match->GameNow().Actors();
    if (actors.empty()) desk.RunUntil(ToSeconds(desk.scheduler.NextDue()));
    for (int seat : actors) {
      for (int id = seat == desk.Seat("Mate Three") ? 33 : kFirstChampion; id <= kLastChampion; ++id)
        if (desk.match->Act([&](Game& g) { return g.Hover(seat, id); }).empty()) break;
      desk.match->Act([&](Game& g) { return g.LockIn(seat); });
    }
  }
  desk.RunTo(GameState::PostChampSelect);
  EXPECT_THAT(desk.Invoke("lcdsChampionTradeService", "getPotentialTraders").body,
              HasSubstr(R"("potentialTraders":["matetwo","matefour","matefive"])"));
  EXPECT_EQ(desk.Attempt("matethree", 33, false).error, "These champions cannot be traded");
}

// What the local client hears of a trade, by the plan's knobs: the order of
// the ACCEPTED contract against the swapped game, the others' contracts,
// and contract pushes dropped or doubled.
TEST(TradeDesk, ContractsReachTheLocalClientAsPlanned) {
  using Play = std::function<void(Desk&)>;
  const Play accepted = [](Desk& d) {
    EXPECT_EQ(d.Offers("Mate Two", "You"), "");
    EXPECT_EQ(d.Attempt("matetwo", d.Champion("Mate Two"), true).error, "");
  };
  const Play othersDecline = [](Desk& d) {
    EXPECT_EQ(d.Offers("Mate Three", "Mate Four"), "");
    EXPECT_EQ(d.Dismisses("Mate Four"), "");
  };
  const Play rivalsAccept = [](Desk& d) {
    EXPECT_EQ(d.Offers("Rival One", "Rival Two"), "");
    EXPECT_EQ(d.Accepts("Rival Two", "Rival One"), "");
  };
  const Play offer = [](Desk& d) { EXPECT_EQ(d.Attempt("matetwo", d.Champion("Mate Two"), false).error, ""); };
  const struct {
    const char* what;
    DeskKnobs knobs;
    std::vector<PushFault> contractFaults;
    Play play;
    std::vector<std::string> sent;
    bool swapped = false;  // You and Mate Two
  } rows[] = {
      {"accepted: the contract, then the game", {}, {}, accepted,
       {"matetwo>you PENDING", "matetwo>you ACCEPTED", "game +1"}, true},
      {"accepted: the game first", {true, false, false}, {}, accepted,
       {"matetwo>you PENDING", "game +1", "matetwo>you ACCEPTED"}, true},
      {"the others' trades are theirs", {}, {}, othersDecline, {}},
      {"the others' trades heard", {false, true, false}, {}, othersDecline,
       {"matethree>matefour PENDING", "matethree>matefour DECLINED"}},
      {"the rivals' trades never", {false, true, false}, {}, rivalsAccept, {"game +1"}},
      {"a contract push dropped", {}, {PushFault{1, PushFault::Kind::Drop}}, offer, {}},
      {"a contract push doubled", {}, {PushFault{1, PushFault::Kind::Duplicate}}, offer,
       {"you>matetwo PENDING", "you>matetwo PENDING"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Desk desk(Moment::AfterMyPick);
    desk.plan.desks = row.knobs;
    desk.plan.contracts = row.contractFaults;
    desk.EveryonePicks();
    desk.RunTo(GameState::PostChampSelect);
    // A skin first: a trade puts both players back on the base skin.
    EXPECT_EQ(desk.Invoke("gameService", "selectChampionSkin", "[7,7003]").error, "");
    desk.Since();
    const int theirs = desk.Champion("Mate Two");
    row.play(desk);
    EXPECT_THAT(desk.Since(), ElementsAreArray(row.sent));
    if (row.swapped) {
      const std::string dto = desk.platform.DtoFor(desk.match->GameNow());
      EXPECT_THAT(dto, HasSubstr(R"("summonerInternalName":"you","championId":)" + std::to_string(theirs) +
                                 R"(,"selectedSkinIndex":0,)"));
      EXPECT_THAT(dto, HasSubstr(R"("summonerInternalName":"matetwo","championId":7,"selectedSkinIndex":0,)"));
    }
  }
}

// An offer nobody answers is withdrawn by the platform 15 s after it was
// made; an offer still open when finalization ends vanishes unheard.
TEST(TradeDesk, OffersRunOutAndEndWithThePhase) {
  {
    Desk desk;
    const double made = desk.core.Now();
    EXPECT_EQ(desk.Attempt("matetwo", desk.Champion("Mate Two"), false).error, "");
    desk.RunUntil(made + 14.999);
    EXPECT_THAT(desk.Since(), ElementsAreArray({"you>matetwo PENDING"}));
    desk.RunUntil(made + 15);
    EXPECT_THAT(desk.Since(), ElementsAreArray({"you>matetwo CANCELED"}));
    EXPECT_EQ(desk.match->Trades().PendingOf(desk.Seat("You")), nullptr);
  }
  {
    Desk desk;
    desk.RunUntil(ToSeconds(desk.match->GameNow().Deadline()) - 5);
    EXPECT_EQ(desk.Attempt("matetwo", desk.Champion("Mate Two"), false).error, "");
    desk.RunUntil(desk.core.Now() + 30);
    EXPECT_EQ(desk.match->GameNow().State(), GameState::StartRequested);
    EXPECT_THAT(desk.Since(), ElementsAreArray({"you>matetwo PENDING", "game +1"}));
    EXPECT_EQ(desk.match->Trades().PendingOf(desk.Seat("You")), nullptr);
    EXPECT_EQ(desk.Invoke("lcdsChampionTradeService", "dismissTrade").error, "No pending trade");
  }
}

// The HumanBots of the trades plan, played on the platform alone: each
// answers an offer 1 to 4 s after it came, yes exactly when it prefers the
// champion offered to its own; its own offer, unanswered, it withdraws after
// 10 s. The same seed trades the same way; another seed differently.
TEST(TradeDesk, HumanBotsAnswerByTheirPreferences) {
  struct Heard {
    double t;
    TradeContract contract;
  };
  // Plays the plan with `seed`; checks what was heard while the bots live.
  const auto play = [](uint64_t seed, const std::function<void(const std::vector<Heard>&,
                                                                const std::vector<const HumanBot*>&)>& check) {
    Scenario scenario;
    BuiltInScenario("trades", seed, &scenario);
    std::vector<std::unique_ptr<Policy>> policies = PoliciesOf(scenario.game, LocalPlay::OnPlatform);
    std::vector<const HumanBot*> bots;
    for (const auto& policy : policies) bots.push_back(dynamic_cast<const HumanBot*>(policy.get()));
    Bench bench;
    Match& match = bench.Start(scenario.game, std::move(policies), seed);
    std::vector<Heard> heard;
    std::vector<std::string> lines;
    const auto platformSide = match.onContract;
    match.onContract = [&](const Game& g, const TradeContract& c, const std::vector<int>& to, const std::string& note) {
      heard.push_back(Heard{bench.core.Now(), c});
      lines.push_back(std::to_string(bench.core.Now()) + " " + note);
      platformSide(g, c, to, note);
    };
    bench.RunUntil(600);
    EXPECT_EQ(match.GameNow().State(), GameState::StartRequested);
    if (check) check(heard, bots);
    return lines;
  };
  const std::vector<std::string> lines = play(1, [](const std::vector<Heard>& heard,
                                                    const std::vector<const HumanBot*>& bots) {
    int answered = 0;
    for (const Heard& h : heard) {
      const TradeContract& c = h.contract;
      if (c.state == "PENDING" || c.state == "BUSY") continue;
      const auto made = std::find_if(heard.begin(), heard.end(), [&](const Heard& p) {
        return p.contract.offer == c.offer && p.contract.state == "PENDING";
      });
      ASSERT_NE(made, heard.end());
      const double after = h.t - made->t;
      SCOPED_TRACE(std::to_string(c.offer) + " " + c.state);
      if (c.state == "CANCELED") {
        EXPECT_NEAR(after, bots[static_cast<size_t>(c.requester)] ? 10.0 : 15.0, 1e-6);
        continue;
      }
      const HumanBot* responder = bots[static_cast<size_t>(c.responder)];
      if (!responder) continue;  // the local player, scripted
      ++answered;
      EXPECT_GE(after, 1.0);
      EXPECT_LE(after, 4.0);
      EXPECT_EQ(c.state == "ACCEPTED", responder->Prefers(c.requesterChampion, c.responderChampion));
    }
    EXPECT_GE(answered, 2);
  });
  EXPECT_FALSE(lines.empty());
  EXPECT_EQ(play(1, nullptr), lines);
  EXPECT_NE(play(2, nullptr), lines);
}

}  // namespace
}  // namespace TovSim
