// The platform's services as a plug-in calls them through the core: the
// answers, their faults, the ward-skin service's delivery knobs and the
// push faults.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "sim/platform_bench.h"

namespace TovSim {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

CallFault Fault(const char* call, int nth, bool always, CallFault::Kind kind, int status = 500, const char* text = "",
                std::string body = "") {
  CallFault fault;
  fault.call = call;
  fault.nth = nth;
  fault.always = always;
  fault.kind = kind;
  fault.status = status;
  fault.text = text;
  fault.body = std::move(body);
  return fault;
}

ProxyFault Proxy(ProxyFault::Kind kind, int amount = 0, const char* text = "") {
  ProxyFault fault;
  fault.method = "requestSelectedWardSkin";
  fault.kind = kind;
  fault.amount = amount;
  fault.text = text;
  return fault;
}

TEST(GameService, AnswersTheCallsOfThisVersion) {
  Bench bench;
  bench.StartDraft();
  bench.RunUntil(0);

  // Right after the turn began: 30 s less the answer's transit, a fraction.
  Answer timer = bench.Invoke("gameService", "getCurrentTimerForGame");
  EXPECT_THAT(timer.body, HasSubstr(R"("typeName":"com.vexagames.platform.game.GameTimerDTO")"));
  EXPECT_THAT(timer.body, HasSubstr(R"("currentGameState":"PRE_CHAMP_SELECT")"));
  EXPECT_DOUBLE_EQ(timer.timer, 29999.9);
  bench.RunUntil(1.2345);
  EXPECT_DOUBLE_EQ(bench.Invoke("gameService", "getCurrentTimerForGame").timer, 28765.4);

  const struct {
    const char* destination;
    const char* method;
    const char* args;
    int32_t status;
    const char* error;
    const char* body;
  } rows[] = {
      {"gameService", "setClientReceivedGameMessage", R"([5000000001,"CHAMP_SELECT_CLIENT"])", 200, "",
       R"({"typeName":"","body":null})"},
      {"gameService", "getGame", "[5000000001]", 200, "", R"("typeName":"com.vexagames.platform.game.GameDTO")"},
      {"gameService", "getGame", "[5000000002]", 500, "Game not found", ""},
      {"gameService", "getGame", R"(["5000000001"])", 500, "Invalid arguments", ""},
      {"gameService", "retrieveInProgressGameInfo", "[]", 200, "",
       R"({"typeName":"com.vexagames.platform.game.InProgressGameInfo","body":{"game":{"__class":"com.vexagames.platform.game.GameDTO","id":5000000001)"},
      {"gameService", "selectChampions", "[7]", 500, "Unknown service call", ""},
      {"lcdsRerollService", "rollTwice", "[]", 500, "Unknown service call", ""},
      {"lcdsTradeService", "roll", "[]", 500, "Unknown service call", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.destination) + "." + row.method + " " + row.args);
    const Answer answer = bench.Invoke(row.destination, row.method, row.args);
    EXPECT_EQ(answer.status, row.status);
    EXPECT_EQ(answer.error, row.error);
    EXPECT_THAT(answer.body, HasSubstr(row.body));
  }
  EXPECT_THAT(bench.platform.Acknowledgements(), ElementsAre("5000000001 CHAMP_SELECT_CLIENT"));
}

TEST(GameService, InjectedCallFaults) {
  using Kind = CallFault::Kind;
  const struct {
    const char* what;
    CallFault fault;
    // Three calls of getCurrentTimerForGame in a row: each answer's status,
    // then a part of each body or failure text.
    std::vector<int32_t> statuses;
    std::vector<std::string> parts;
  } rows[] = {
      {"fails once", Fault("gameService.getCurrentTimerForGame", 1, false, Kind::Fail, 503, "down"), {503, 200, 200},
       {"down", "29999.9", "29999.9"}},
      {"fails from the second on", Fault("gameService.getCurrentTimerForGame", 2, true, Kind::Fail, 500, "gone"),
       {200, 500, 500}, {"29999.9", "gone", "gone"}},
      {"wrong type", Fault("gameService.getCurrentTimerForGame", 1, false, Kind::WrongType), {200, 200, 200},
       {"com.vexagames.platform.game.Unexpected", "GameTimerDTO", "GameTimerDTO"}},
      {"empty body", Fault("gameService.getCurrentTimerForGame", 2, false, Kind::EmptyBody), {200, 200, 200},
       {"29999.9", R"("body":null)", "29999.9"}},
      {"streamed", Fault("gameService.getCurrentTimerForGame", 1, false, Kind::Chunked), {200, 200, 200},
       {R"("remainingTimeInMillis":29999.9})", "29999.9", "29999.9"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Bench bench;
    bench.plan.calls.push_back(row.fault);
    bench.StartDraft();
    bench.RunUntil(0);
    for (size_t i = 0; i < 3; ++i) {
      const Answer answer = bench.Invoke("gameService", "getCurrentTimerForGame");
      EXPECT_EQ(answer.status, row.statuses[i]) << i;
      EXPECT_THAT(answer.error.empty() ? answer.body : answer.error, HasSubstr(row.parts[i])) << i;
    }
  }

  // A streamed answer comes in its pieces, one read each.
  {
    Bench bench;
    bench.plan.calls.push_back(Fault("gameService.getGame", 1, false, Kind::Chunked));
    bench.StartDraft();
    const Answer streamed = bench.Invoke("gameService", "getGame", "[5000000001]");
    EXPECT_EQ(streamed.reads, 3);
    std::string whole;
    EXPECT_TRUE(CompactJson(streamed.body, &whole)) << streamed.body;
    EXPECT_THAT(whole, HasSubstr(R"("id":5000000001)"));
  }

  // Doubles a JSON text cannot carry reach the plug-in as doubles.
  for (const char* value : {"NaN", "Infinity", "-Infinity", "-5.5", "1e300"}) {
    Bench bench;
    bench.plan.calls.push_back(
        Fault("gameService.getCurrentTimerForGame", 1, false, Kind::Body, 500, "",
              std::string(R"({"currentGameState":"CHAMP_SELECT","remainingTimeInMillis":)") + value + "}"));
    bench.StartDraft();
    const double expected = std::strtod(value, nullptr);
    const double got = bench.Invoke("gameService", "getCurrentTimerForGame").timer;
    EXPECT_TRUE(std::isnan(expected) ? std::isnan(got) : got == expected) << value;
  }
}

TEST(WardSkins, AnswersAndTheirDeliveryKnobs) {
  using Kind = ProxyFault::Kind;
  const struct {
    const char* what;
    std::optional<ProxyFault> fault;
    size_t insideRequest;       // answers delivered before the request returned
    std::vector<size_t> pumps;  // answers delivered after each of four pumps
    const char* part;           // of the last answer
  } rows[] = {
      {"answers on the next turn", std::nullopt, 0, {1, 1, 1, 1}, R"(\"selectedWardSkinId\":3)"},
      {"held 3 pumps", Proxy(Kind::HoldPumps, 3), 0, {0, 0, 1, 1}, "selectedWardSkinId"},
      {"inside the post", Proxy(Kind::InsidePost), 1, {1, 1, 1, 1}, "selectedWardSkinId"},
      {"never", Proxy(Kind::Never), 0, {0, 0, 0, 0}, ""},
      {"twice", Proxy(Kind::Duplicate), 0, {2, 2, 2, 2}, "selectedWardSkinId"},
      {"field missing", Proxy(Kind::MissingField), 0, {1, 1, 1, 1}, R"("payload":"{}")"},
      {"another value", Proxy(Kind::OtherValue, 7), 0, {1, 1, 1, 1}, R"(\"selectedWardSkinId\":7)"},
      {"error answer", Proxy(Kind::Error, 0, "no skins today"), 0, {1, 1, 1, 1},
       R"("methodName":"receiveWardSkinServiceError","payload":"{\"error\":\"no skins today\"}","status":"500","error":"no skins today")"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Bench bench;
    if (row.fault) bench.plan.proxy.push_back(*row.fault);
    Listener answers;
    bench.Listen("OnServiceProxyMethodEvent", &answers);
    const Answer sent = bench.WardSkinRequest("requestSelectedWardSkin");
    EXPECT_EQ(sent.status, 200);
    EXPECT_EQ(answers.payloads.size(), row.insideRequest);
    std::vector<size_t> seen;
    for (int pump = 0; pump < 4; ++pump) {
      bench.wardSkins.OnPump();
      bench.core.Api()->Pump(bench.core.Api());
      seen.push_back(answers.payloads.size());
    }
    EXPECT_THAT(seen, ElementsAreArray(row.pumps));
    if (!answers.payloads.empty()) {
      EXPECT_THAT(answers.payloads.back(), HasSubstr(row.part));
    }
  }

  Bench bench;
  Listener answers;
  bench.Listen("OnServiceProxyMethodEvent", &answers);
  bench.WardSkinRequest("selectWardSkin", R"({"wardSkinId":11})");
  bench.core.RunOnce();
  ASSERT_EQ(answers.payloads.size(), 1u);
  EXPECT_THAT(answers.payloads[0], HasSubstr(R"("methodName":"receiveWardSkinServiceError")"));
  EXPECT_EQ(bench.WardSkinRequest("noSuchMethod").status, 404);
}

// The answers to a selection: the skin asked for, another one, the error
// method, or silence; an accepted selection is what the service then says
// is selected.
TEST(WardSkins, SelectionAnswers) {
  using Kind = ProxyFault::Kind;
  const struct {
    const char* what;
    std::optional<Kind> fault;
    const char* payload;
    const char* answer;  // "" when none comes
    int64_t selectedAfter;
  } rows[] = {
      {"accepted", std::nullopt, R"({"wardSkinId":5})",
       R"("methodName":"receiveSelectionConfirmation","payload":"{\"selectedWardSkinId\":5}","status":"200","error":"")", 5},
      {"another id", Kind::OtherValue, R"({"wardSkinId":5})", R"("payload":"{\"selectedWardSkinId\":7}")", 5},
      {"error method", Kind::Error, R"({"wardSkinId":5})",
       R"("methodName":"receiveWardSkinServiceError","payload":"{\"error\":\"not owned\"}","status":"500","error":"not owned")", 3},
      {"not owned", std::nullopt, R"({"wardSkinId":11})",
       R"("methodName":"receiveWardSkinServiceError","payload":"{\"error\":\"not owned\"}")", 3},
      {"silence", Kind::Never, R"({"wardSkinId":5})", "", 5},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Bench bench;
    if (row.fault) bench.plan.proxy.push_back(ProxyFault{"selectWardSkin", *row.fault, 7});
    Listener answers;
    bench.Listen("OnServiceProxyMethodEvent", &answers);
    EXPECT_EQ(bench.WardSkinRequest("selectWardSkin", row.payload).status, 200);
    bench.core.RunOnce();
    ASSERT_EQ(answers.payloads.size(), row.answer[0] ? 1u : 0u);
    if (row.answer[0]) {
      EXPECT_THAT(answers.payloads[0], HasSubstr(row.answer));
    }
    bench.WardSkinRequest("requestSelectedWardSkin");
    bench.core.RunOnce();
    ASSERT_FALSE(answers.payloads.empty());
    EXPECT_THAT(answers.payloads.back(),
                HasSubstr(R"({\"selectedWardSkinId\":)" + std::to_string(row.selectedAfter) + "}"));
  }
}

// Battle training as the match flow shows it: there from the start, and
// gone, with the phase "None", once the plug-in stops it.
TEST(ClientState, BattleTrainingIsStoppedByThePlugin) {
  Bench bench;
  ClientSetup setup;
  setup.battleTraining = true;
  ClientState client(bench.core, bench.scheduler, bench.plan, bench.trace, setup);
  client.Install();
  EXPECT_TRUE(client.BattleTraining());
  Listener training, gameflow;
  bench.Listen("OnJsonApiEvent_tov-gameflow_v1_battle-training", &training);
  bench.Listen("OnJsonApiEvent_tov-gameflow_v1_session", &gameflow);
  bench.core.RunOnce();
  EXPECT_EQ(bench.Post("/tov-gameflow/v1/battle-training/stop", {}).status, 200);
  bench.core.RunOnce();
  ASSERT_EQ(training.payloads.size(), 2u);
  EXPECT_THAT(training.payloads[0], HasSubstr(R"("eventType":"Create")"));
  EXPECT_THAT(training.payloads[0], HasSubstr(R"("data":true)"));
  EXPECT_THAT(training.payloads[1], HasSubstr(R"("eventType":"Delete")"));
  EXPECT_FALSE(client.BattleTraining());
  EXPECT_EQ(client.Phase(), "None");
  EXPECT_THAT(gameflow.payloads.back(), HasSubstr(R"("phase":"None")"));
}


// Each call of the local player's client, accepted or refused as the
// platform's rules say, with the platform's own text; an accepted change is
// one push, a refusal or a repeat changes nothing.
TEST(GameService, TheLocalPlayersCallsFollowTheRules) {
  const struct {
    Moment moment;
    const char* call;  // "destination.method"
    const char* args;
    const char* error;
    int pushes;
    const char* seen = "";  // a part of the answer or of the game afterwards
  } rows[] = {
      // Hovering a pick.
      {Moment::PickTurn, "gameService.selectChampion", "[7]", "", 1, R"("summonerInternalName":"you","championId":7,)"},
      {Moment::PickTurn, "gameService.selectChampion", "[26]", "", 1, R"("summonerInternalName":"you","championId":26,)"},
      {Moment::PickTurn, "gameService.selectChampion", "[29]", "", 1, R"("summonerInternalName":"you","championId":29,)"},
      {Moment::PickTurn, "gameService.selectChampion", "[33]", "Champion not owned", 0},
      {Moment::CustomPick, "gameService.selectChampion", "[29]", "Champion not owned", 0},
      {Moment::PickTurn, "gameService.selectChampion", "[5]", "Champion banned", 0},
      {Moment::PickTurn, "gameService.selectChampion", "[41]", "No such champion", 0},
      {Moment::PickTurn, "gameService.selectChampion", "[4294967303]", "No such champion", 0},
      {Moment::PickTurn, "gameService.selectChampion", R"(["7"])", "Invalid arguments", 0},
      {Moment::Hovered, "gameService.selectChampion", "[7]", "", 0},
      {Moment::BanTurn, "gameService.selectChampion", "[7]", "Not in the pick phase", 0},
      {Moment::TeamTwoPickTurn, "gameService.selectChampion", "[7]", "Not your turn to pick", 0},
      {Moment::AfterMyPick, "gameService.selectChampion", "[8]", "Champion already locked in", 0},
      {Moment::BlindPick, "gameService.selectChampion", "[7]", "Champion already taken", 0},
      {Moment::BlindPick, "gameService.selectChampion", "[8]", "", 1},
      {Moment::Training, "gameService.selectChampion", "[86]", "", 1, R"("summonerInternalName":"you","championId":86,)"},
      {Moment::Training, "gameService.selectChampion", "[7]", "Champion not available in this queue", 0},
      // Banning.
      {Moment::BanTurn, "gameService.banChampion", "[12]", "", 1,
       R"("bannedChampions":[{"__class":"com.vexagames.platform.game.BannedChampion","championId":12,"teamId":100,"pickTurn":1}])"},
      {Moment::BanTurn, "gameService.banChampion", "[0]", "No such champion", 0},
      {Moment::AfterMyBan, "gameService.banChampion", "[12]", "Not your turn to ban", 0},
      {Moment::TeamTwoBanTurn, "gameService.banChampion", "[12]", "Champion already banned", 0},
      {Moment::TeamTwoBanTurn, "gameService.banChampion", "[13]", "", 1, R"("championId":13,"teamId":200,"pickTurn":2})"},
      {Moment::PickTurn, "gameService.banChampion", "[12]", "Not in the ban phase", 0},
      // Locking in.
      {Moment::Hovered, "gameService.championSelectCompleted", "[]", "", 1, R"("summonerId":1001,"pickMode":2,"pickTurn":1})"},
      {Moment::PickTurn, "gameService.championSelectCompleted", "[]", "No champion selected", 0},
      {Moment::AfterMyPick, "gameService.championSelectCompleted", "[]", "Champion already locked in", 0},
      {Moment::TeamTwoPickTurn, "gameService.championSelectCompleted", "[]", "Not your turn to pick", 0},
      {Moment::BanTurn, "gameService.championSelectCompleted", "[]", "Not in the pick phase", 0},
      {Moment::TrainingHovered, "gameService.championSelectCompleted", "[]", "", 1, R"("gameState":"START_REQUESTED")"},
      {Moment::Training, "gameService.championSelectCompleted", "[]", "No champion selected", 0},
      // Spells.
      {Moment::Finalization, "gameService.selectSpells", "[104,107]", "", 1, R"("championId":7,"selectedSkinIndex":0,"spell1Id":104,"spell2Id":107})"},
      {Moment::BanTurn, "gameService.selectSpells", "[104,107]", "", 1},
      {Moment::Finalization, "gameService.selectSpells", "[101,102]", "", 0},
      {Moment::Finalization, "gameService.selectSpells", "[104,104]", "Spells must be different", 0},
      {Moment::Finalization, "gameService.selectSpells", "[100,107]", "Invalid spell", 0},
      {Moment::Finalization, "gameService.selectSpells", "[-1,107]", "Invalid spell", 0},
      {Moment::Finalization, "gameService.selectSpells", "[104,18446744073709551615]", "Invalid spell", 0},
      {Moment::Quit, "gameService.selectSpells", "[104,107]", "Not in champion select", 0},
      // Skins.
      {Moment::Finalization, "gameService.selectChampionSkin", "[7,7003]", "", 1, R"("championId":7,"selectedSkinIndex":3,)"},
      {Moment::Finalization, "gameService.selectChampionSkin", "[7,7000]", "", 0},
      {Moment::Finalization, "gameService.selectChampionSkin", "[7,7007]", "Skin not owned", 0},
      {Moment::Finalization, "gameService.selectChampionSkin", "[7,8003]", "Skin does not belong to the champion", 0},
      {Moment::Finalization, "gameService.selectChampionSkin", "[7,7010]", "Skin does not belong to the champion", 0},
      {Moment::Finalization, "gameService.selectChampionSkin", "[8,8003]", "Champion not selected", 0},
      {Moment::PickTurn, "gameService.selectChampionSkin", "[7,7003]", "No champion selected", 0},
      // Leaving, once or twice.
      {Moment::PickTurn, "gameService.quitGame", "[]", "", 1, R"("gameState":"TERMINATED")"},
      {Moment::Quit, "gameService.quitGame", "[]", "", 0, R"("statusOfParticipants":"0111111111")"},
      {Moment::Training, "gameService.quitGame", "[]", "", 1, R"("gameState":"TERMINATED")"},
      {Moment::Finalization, "gameService.quitGame", "[]", "", 1, R"("gameState":"TERMINATED")"},
      // Rerolls: 300 points pay for one roll of 250.
      {Moment::RerollFinal, "lcdsRerollService.roll", "[]", "", 1,
       R"("pointSummary":{"__class":"com.vexagames.platform.reroll.pojo.PointSummary","pointsToNextRoll":200,"currentPoints":50,"numberOfRolls":0,"maxRolls":2,"pointsCostToRoll":250}})"},
      {Moment::RerolledOnce, "lcdsRerollService.roll", "[]", "Not enough points to reroll", 0},
      {Moment::Finalization, "lcdsRerollService.roll", "[]", "Rerolls are not available in this queue", 0},
      // The timer of a phase without a time limit is empty.
      {Moment::Training, "gameService.getCurrentTimerForGame", "[]", "", 0, R"("currentGameState":"","remainingTimeInMillis":0.0})"},
  };
  for (const auto& row : rows) {
    const std::string call = row.call;
    SCOPED_TRACE(call + " " + row.args + " at moment " + std::to_string(static_cast<int>(row.moment)));
    Table table;
    table.Reach(row.moment);
    const Game& game = table.match->GameNow();
    const int64_t lock = game.OptimisticLock();
    const Answer answer = table.Invoke(call.substr(0, call.find('.')), call.substr(call.find('.') + 1), row.args);
    EXPECT_EQ(answer.error, row.error);
    EXPECT_EQ(answer.status, row.error[0] ? 500 : 200);
    EXPECT_EQ(game.OptimisticLock() - lock, row.pushes);
    EXPECT_THAT(answer.body + table.platform.DtoFor(game), HasSubstr(row.seen));
  }
}

// A rerolled champion is one nobody holds, and it is the one answered.
TEST(GameService, ARerollHandsOutAFreeChampion) {
  Table table;
  table.Reach(Moment::RerollFinal);
  const Game& game = table.match->GameNow();
  const int before = game.At(0).selection.championId;
  const rapidjson::Document answer = ParseJson(table.Invoke("lcdsRerollService", "roll").body);
  ASSERT_TRUE(answer.IsObject() && answer.HasMember("body"));
  const int rolled = answer["body"]["championId"].GetInt();
  EXPECT_EQ(game.At(0).selection.championId, rolled);
  EXPECT_NE(rolled, before);
  EXPECT_TRUE(LocalMayPlay(rolled, game.Rules().freeChampions));
  for (size_t seat = 1; seat < game.Seats().size(); ++seat)
    EXPECT_NE(game.At(static_cast<int>(seat)).selection.championId, rolled) << seat;
}

TEST(PushQueue, FaultsOnTheSecondPush) {
  using Kind = PushFault::Kind;
  const struct {
    const char* what;
    std::optional<Kind> fault;
    bool disconnected;
    std::vector<std::string> delivered;  // "id:lock" of each GameDTO that arrived
  } rows[] = {
      {"none", std::nullopt, false, {"5000000001:1", "5000000001:2", "5000000001:3"}},
      {"drop", Kind::Drop, false, {"5000000001:1", "5000000001:3"}},
      {"duplicate", Kind::Duplicate, false, {"5000000001:1", "5000000001:2", "5000000001:2", "5000000001:3"}},
      {"stale", Kind::Stale, false, {"5000000001:1", "5000000001:2", "5000000001:1", "5000000001:3"}},
      {"other game", Kind::OtherGame, false, {"5000000001:1", "5000000001:2", "5000001001:2", "5000000001:3"}},
      {"disconnected", std::nullopt, true, {"5000000001:1"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Bench bench;
    if (row.fault) bench.plan.pushes.push_back(PushFault{2, *row.fault});
    Listener games;
    bench.Listen("OnLcdsEvent_com_vexagames_platform_game_GameDTO", &games);
    bench.StartDraft();
    bench.core.RunOnce();
    if (row.disconnected) bench.platform.SetConnected(false);
    while (bench.pushes.GamePushes() < 3) {
      bench.core.MoveClockTo(ToSeconds(bench.scheduler.NextDue()));
      bench.scheduler.RunOne();
    }
    bench.core.RunOnce();
    std::vector<std::string> delivered;
    for (const std::string& payload : games.payloads) {
      const rapidjson::Document event = ParseJson(payload);
      delivered.push_back(std::to_string(event["body"]["id"].GetUint64()) + ":" +
                          std::to_string(event["body"]["optimisticLock"].GetInt64()));
      EXPECT_STREQ(event["clientId"].GetString(), "sim");
    }
    EXPECT_EQ(delivered, row.delivered);
  }
}

}  // namespace
}  // namespace TovSim
