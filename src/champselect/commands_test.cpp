// The local player's commands through the routes of the real plug-in object,
// over the core stand-in: what each answers, what it asks the platform, and
// what it leaves in the session.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "champselect/champ_select.h"
#include "champselect/vover_orevid_aredez_plugin.h"
#include "core/core.h"
#include "formats/json.h"
#include "runtime/test_support.h"

namespace Vexa::Client::VoverOrevidAredez {
namespace {

using ::testing::ElementsAre;


const uint32_t kGet = TovHost::MethodCode("GET"), kPatch = TovHost::MethodCode("PATCH"),
               kPost = TovHost::MethodCode("POST");
constexpr const char* kPrefix = "/tov-vover-orevid-aredez/v1/";

// "You" (cell 0) and a mate against one opponent; the local player's action
// is id 1, the opponent's id 2.
std::string Game(const char* state, int lock, const std::string& extra = "") {
  return std::string(R"({"id":77,"gameState":")") + state + R"(","optimisticLock":)" + std::to_string(lock) +
         R"(,"pickTurn":1,"teamOne":[{"summonerName":"You","summonerInternalName":"you","summonerId":1001,)"
         R"("pickTurn":1,"pickMode":1},{"summonerName":"Mate","summonerInternalName":"mate","summonerId":1002,)"
         R"("pickTurn":2}],"teamTwo":[{"summonerName":"Them","summonerInternalName":"them","summonerId":2001,)"
         R"("pickTurn":1}],"playerChampionSelections":[{"summonerInternalName":"you","championId":7,)"
         R"("selectedSkinIndex":0,"spell1Id":101,"spell2Id":102},{"summonerInternalName":"mate","championId":0},)"
         R"({"summonerInternalName":"them","championId":0}])" +
         extra + "}";
}

// Picks are final: "You" (cell 0) with "Mate" (cell 1, trade 101) and
// "Other" (cell 2, trade 102) against "Them" (cell 3). A member whose
// champion is -1 has left the team.
std::string PostGame(int lock, int you, int mate, int other = 14, std::uint64_t id = 77) {
  std::string team, selections;
  const auto seat = [&](const char* name, const char* internal, int summonerId, int championId) {
    if (championId < 0) return;
    team += std::string(team.empty() ? "" : ",") + R"({"summonerName":")" + name + R"(","summonerInternalName":")" +
            internal + R"(","summonerId":)" + std::to_string(summonerId) + R"(,"pickTurn":1,"pickMode":2})";
    selections += std::string(R"({"summonerInternalName":")") + internal +
                  R"(","championId":)" + std::to_string(championId) + "},";
  };
  seat("You", "you", 1001, you);
  seat("Mate", "mate", 1002, mate);
  seat("Other", "other", 1003, other);
  return R"({"id":)" + std::to_string(id) + R"(,"gameState":"POST_CHAMP_SELECT","optimisticLock":)" +
         std::to_string(lock) + R"(,"pickTurn":2,"teamOne":[)" + team +
         R"(],"teamTwo":[{"summonerName":"Them","summonerInternalName":"them","summonerId":2001,"pickTurn":1,)"
         R"("pickMode":2}],"playerChampionSelections":[)" + selections +
         R"({"summonerInternalName":"them","championId":30}]})";
}

std::string Boost(const std::string& buyer, bool unlocked, int skins = 3) {
  std::string list;
  for (int i = 0; i < skins; ++i) list.append(i ? "," : "").append(std::to_string(7001 + i));
  return R"({"summonerName":")" + buyer + R"(","skinUnlockMode":"TEAM","price":95,"ipReward":15,)"
         R"("ipRewardForPurchaser":30,"availableSkins":[)" + list + R"(],"unlocked":)" + (unlocked ? "true" : "false") +
         "}";
}

class Commands : public ::testing::Test {
 protected:
  Commands() : env_(core), scoped_(&env_) {
    core.SetResource("/tov-login/v1/session",
                     R"({"state":"SUCCEEDED","summonerId":1001,"accountId":9001,"connected":true})");
    for (const char* method : {"setClientReceivedGameMessage", "selectChampion", "championSelectCompleted",
                               "banChampion", "selectSpells", "selectChampionSkin", "quitGame",
                               "unlockSkinsForTeam"}) {
      core.SetLcdsHandler("gameService", method, [this, method](const std::vector<std::string>& args) {
        std::string line = method;
        for (const auto& arg : args) line += " " + arg;
        if (std::string(method) != "setClientReceivedGameMessage") calls.push_back(line);
        TovHost::LcdsReply reply;
        if (refuse == method) {
          reply.error = "Simulated refusal";
          reply.status = 500;
        }
        if (onCall) onCall(method);
        return reply;
      });
    }
    core.SetLcdsHandler("gameService", "getCurrentTimerForGame", [](const std::vector<std::string>&) {
      return TovHost::LcdsReply{"com.vexagames.platform.game.GameTimerDTO",
                                R"({"currentGameState":"CHAMP_SELECT","remainingTimeInMillis":30000})", "", 200};
    });
    for (const char* method : {"getPotentialTraders", "attemptTrade", "dismissTrade"}) {
      core.SetLcdsHandler("lcdsChampionTradeService", method, [this, method](const std::vector<std::string>& args) {
        std::string line = method;
        for (const auto& arg : args) line += " " + arg;
        calls.push_back(line);
        if (onCall) onCall(method);
        if (refuse == method) return TovHost::LcdsReply{"", "", "Simulated refusal", 500};
        if (std::string(method) != "getPotentialTraders") return TovHost::LcdsReply{};
        return TovHost::LcdsReply{"com.vexagames.platform.trade.api.contract.PotentialTradersDTO",
                                  R"({"potentialTraders":)" + traders + "}", "", 200};
      });
    }
    core.SetLcdsHandler("gameService", "initializeTeamSkinRental", [this](const std::vector<std::string>& args) {
      calls.push_back("initializeTeamSkinRental " + args.at(0));
      if (onCall) onCall("initializeTeamSkinRental");
      return TovHost::LcdsReply{"com.vexagames.platform.game.TeamSkinRentalDTO", Boost("", false), "", 200};
    });
    core.SetLcdsHandler("lcdsRerollService", "roll", [this](const std::vector<std::string>&) {
      calls.push_back("roll");
      TovHost::LcdsReply reply;
      if (refuse == "roll") {
        reply.error = "Not enough points";
        reply.status = 500;
        return reply;
      }
      reply.typeName = "com.vexagames.platform.reroll.pojo.RollResult";
      reply.bodyJson = R"({"championId":21,"pointSummary":{"currentPoints":50}})";
      return reply;
    });
    core.OnRequest(6, "/tov-login/v1/service-proxy-method-requests", [this](const TovHost::RequestRecord& r) {
      calls.push_back("proxy " + r.args.at(1) + " " + r.args.at(5));
      if (wardAnswer.empty()) return TovHost::Reply::Json("");  // silence
      const bool error = wardAnswer.rfind("error:", 0) == 0;
      core.PushEvent("OnServiceProxyMethodEvent",
                     TovHost::Core::ServiceProxyAnswer("", "wardSkins",
                                                       r.args.at(1) == "\"requestSelectedWardSkin\""
                                                           ? "receiveSelectedWardSkin"
                                                           : error ? "receiveWardSkinServiceError"
                                                                   : "receiveSelectionConfirmation",
                                                       error ? "" : wardAnswer, error ? "500" : "200",
                                                       error ? wardAnswer.substr(6) : ""));
      return TovHost::Reply::Json("");
    });
    PluginHandshake record{18, 0, 0, nullptr, nullptr, nullptr, nullptr};
    plugin.Handshake(&record, kShortName);
    core.UseApi(record.apiDescription);
    context_ = core.Context();
    EXPECT_EQ(plugin.Init(&context_), 1);
    core.RunOnce();
  }
  ~Commands() override {
    if (!plugin.Stopping()) plugin.Stop();
  }

  void Push(const std::string& game) {
    core.PushLcds("com.vexagames.platform.game.GameDTO", game);
    core.RunOnce();
    core.RunOnce();
  }
  // "status text" of a route's answer.
  std::string Send(uint32_t method, const std::string& path, const std::string& body = "",
                   const std::string& contentType = "application/json") {
    const auto result = core.Call(method, kPrefix + path, body, contentType);
    return std::to_string(result.status) + (result.error.empty() ? "" : " " + result.error);
  }
  // A queue that allows trades and the team boost pops.
  void TradingQueue() {
    core.UpdateResource("/tov-gameflow/v1/session",
                        R"({"phase":"ChampSelect","gameData":{"queue":{"gameTypeConfig":)"
                        R"({"maxAllowableBans":0,"allowTrades":true,"battleBoost":true}}}})");
    core.RunOnce();
  }
  void Contract(const std::string& requester, const std::string& responder, int requesterChampion,
                int responderChampion, const std::string& state) {
    core.PushLcds("com.vexagames.platform.trade.api.contract.TradeContractDTO",
                  R"({"requesterInternalSummonerName":")" + requester + R"(","responderInternalSummonerName":")" +
                      responder + R"(","requesterChampionId":)" + std::to_string(requesterChampion) +
                      R"(,"responderChampionId":)" + std::to_string(responderChampion) + R"(,"state":")" + state +
                      R"("})");
    core.RunOnce();
    core.RunOnce();
  }
  // "101 AVAILABLE, 102 INVALID": the session's trades.
  std::string Trades() {
    static const char* const kStates[] = {"?", "AVAILABLE", "BUSY", "INVALID", "RECEIVED", "SENT"};
    std::string out;
    for (const auto& trade : Session().trades)
      out += (out.empty() ? "" : ", ") + std::to_string(trade.id) + " " + kStates[static_cast<int>(trade.state)];
    return out;
  }
  // Every session publication from now on, as the trades it showed.
  void WatchPublications() {
    published.clear();
    core.onSend = [this](const TovHost::SentEvent& event) {
      if (event.name != "OnJsonApiEvent_tov-vover-orevid-aredez_v1_session") return;
      published.push_back(event.payloadJson.find("\"Delete\"") != std::string::npos ? "Delete" : Trades());
    };
  }
  std::vector<std::string> LogMessages() {
    std::vector<std::string> out;
    for (const auto& line : core.Logs()) out.push_back(line.message);
    return out;
  }
  const Api::ChampSelectSession& Session() { return plugin.Flow().Model().session; }
  std::int64_t ActionChampion(int group) {
    return Session().actions.at(group).At(0).Find("championId").GetInteger();
  }

  TovHost::Core core;
  CoreClockEnv env_;
  Os::ScopedEnv scoped_;
  CoreContext context_{};
  VoverOrevidAredezPlugin plugin;
  std::vector<std::string> calls;
  std::string refuse;
  std::string wardAnswer = R"({"selectedWardSkinId":3})";
  std::string traders = R"(["mate","other"])";
  std::vector<std::string> published;
  std::function<void(const std::string&)> onCall;
};

TEST_F(Commands, PicksAnswerAndCallAsDescribed) {
  Push(Game("CHAMP_SELECT", 1));
  calls.clear();
  const struct {
    uint32_t method;
    std::string path, body, answer;
    std::vector<std::string> calls;
  } rows[] = {
      {kPatch, "session/actions/99", R"({"championId":7})",
       "404 ChampSelect: the action you are trying to PATCH cannot be found", {}},
      {kPatch, "session/actions/2", R"({"championId":7})", "400 Cannot complete someone elses action", {}},
      {kPatch, "session/actions/1", R"({"championId":0,"completed":false})", "0", {}},
      {kPatch, "session/actions/1", R"({"championId":9})", "0", {"selectChampion 9"}},
      {kPatch, "session/actions/1", R"({"championId":9})", "0", {}},  // already hovered
      {kPatch, "session/actions/1", R"({"championId":"nine"})",
       "0 Value nine for 'championId' of type int32 is in an incorrect format", {}},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Send(row.method, row.path, row.body), row.answer) << row.path << " " << row.body;
    EXPECT_EQ(calls, row.calls) << row.path << " " << row.body;
    calls.clear();
  }
  EXPECT_EQ(ActionChampion(0), 9);

  // The platform refuses a champion: 500 with its text, the session as it was.
  refuse = "selectChampion";
  EXPECT_EQ(Send(kPatch, "session/actions/1", R"({"championId":13})"),
            "500 Error response for POST /tov-login/v1/session/invoke: Simulated refusal");
  EXPECT_EQ(ActionChampion(0), 9);
  // A refused completion keeps the reminder armed; a completion that goes
  // through clears it. The pick stays open until the platform says locked.
  refuse = "championSelectCompleted";
  EXPECT_THAT(Send(kPost, "session/actions/1/complete"), ::testing::StartsWith("500 "));
  EXPECT_TRUE(plugin.Flow().Timers().ShowUx());
  refuse.clear();
  calls.clear();
  EXPECT_EQ(Send(kPost, "session/actions/1/complete"), "0");
  EXPECT_THAT(calls, ElementsAre("championSelectCompleted"));
  EXPECT_FALSE(plugin.Flow().Timers().ShowUx());
  EXPECT_FALSE(Session().actions.at(0).At(0).Find("completed").GetBool());
  Push(Game("CHAMP_SELECT", 2).replace(Game("CHAMP_SELECT", 2).find("\"pickMode\":1"), 12, "\"pickMode\":2"));
  EXPECT_TRUE(Session().actions.at(0).At(0).Find("completed").GetBool());
  EXPECT_EQ(Send(kPost, "session/actions/1/complete"), "400 Action already completed");
}

TEST_F(Commands, BansAreHoveredHereAndLockedByThePlatform) {
  Push(Game("PRE_CHAMP_SELECT", 1));
  calls.clear();
  EXPECT_EQ(Send(kPatch, "session/actions/1", R"({"championId":12})"), "0");
  EXPECT_TRUE(calls.empty());  // a ban hover is the plug-in's own
  EXPECT_EQ(ActionChampion(0), 12);
  EXPECT_EQ(Send(kPost, "session/actions/1/complete"), "0");
  EXPECT_THAT(calls, ElementsAre("banChampion 12"));
  Push(Game("PRE_CHAMP_SELECT", 2, R"(,"bannedChampions":[{"championId":12,"teamId":100,"pickTurn":1}])"));
  EXPECT_THAT(Session().bans.myTeamBans, ElementsAre(12));
}

TEST_F(Commands, MySelectionSendsOnlyWhatChanged) {
  Push(Game("CHAMP_SELECT", 1));
  calls.clear();
  const struct {
    std::string body, answer;
    std::vector<std::string> calls;
  } rows[] = {
      {"{}", "0", {}},
      {R"({"spell1Id":101,"spell2Id":102})", "0", {}},
      {R"({"spell2Id":104})", "0", {"selectSpells 101 104"}},
      {R"({"selectedSkinId":7003})", "0", {"selectChampionSkin 7 7003"}},
      {R"({"selectedSkinId":8001})", "403 Skin does not belong to selected champ.", {}},
      {R"({"wardSkinId":5})", "0", {R"(proxy "selectWardSkin" "{\"wardSkinId\":5}")"}},
  };
  wardAnswer = R"({"selectedWardSkinId":7})";  // the service names another skin: that one holds
  for (const auto& row : rows) {
    EXPECT_EQ(Send(kPatch, "session/my-selection", row.body), row.answer) << row.body;
    EXPECT_EQ(calls, row.calls) << row.body;
    calls.clear();
  }
  EXPECT_EQ(Session().myTeam.at(0).selectedSkinId, 7003);
  EXPECT_EQ(Session().myTeam.at(0).wardSkinId, 7);
  wardAnswer = "error:not owned";
  EXPECT_EQ(Send(kPatch, "session/my-selection", R"({"wardSkinId":9})"),
            "500 ChampSelect: could not select requested ward skin: not owned");
  // Silence: the runtime's deadline answers, and the next selection works.
  wardAnswer.clear();
  core.onPump = [&](int) {
    if (std::isfinite(core.NextDue())) core.MoveClockTo(core.NextDue());
  };
  EXPECT_EQ(Send(kPatch, "session/my-selection", R"({"wardSkinId":9})"),
            "500 ChampSelect: could not select requested ward skin: No answer to service proxy request "
            "wardSkins.selectWardSkin within 30 seconds");
  core.onPump = nullptr;
  wardAnswer = R"({"selectedWardSkinId":9})";
  EXPECT_EQ(Send(kPatch, "session/my-selection", R"({"wardSkinId":9})"), "0");
}

TEST_F(Commands, ASessionEndingDuringACommandIsNotTouchedAgain) {
  Push(Game("CHAMP_SELECT", 1));
  // The platform call lets the core deliver the match flow going back to
  // no phase: the session ends under the command.
  onCall = [&](const std::string& method) {
    if (method == "selectChampion")
      core.DeliverResource("/tov-gameflow/v1/session", R"({"phase":"None"})", "Update");
  };
  std::vector<std::string> published;
  core.onSend = [&](const TovHost::SentEvent& event) {
    if (event.name == "OnJsonApiEvent_tov-vover-orevid-aredez_v1_session")
      published.push_back(event.payloadJson.find("\"Delete\"") != std::string::npos ? "Delete" : "Update");
  };
  EXPECT_EQ(Send(kPatch, "session/actions/1", R"({"championId":9})"), "404 Not in Champ Select");
  EXPECT_THAT(published, ElementsAre("Delete"));
  EXPECT_FALSE(plugin.Flow().Model().HasSession());
  EXPECT_EQ(Send(kPatch, "session/my-selection", "{}"), "404 ChampSelect: Updating selections out of ChampSelect");

  // A new game; its session ends while the ward-skin service is silent.
  Push(Game("CHAMP_SELECT", 5).replace(0, 8, R"({"id":78)"));
  published.clear();
  wardAnswer.clear();
  bool ended = false;
  core.onPump = [&](int) {
    if (!std::exchange(ended, true)) core.DeliverResource("/tov-gameflow/v1/session", R"({"phase":"None"})", "Update");
    if (std::isfinite(core.NextDue())) core.MoveClockTo(core.NextDue());
  };
  EXPECT_EQ(Send(kPatch, "session/my-selection", R"({"wardSkinId":9})"),
            "404 ChampSelect: Updating selections out of ChampSelect");
  EXPECT_THAT(published, ElementsAre("Delete"));
}

TEST_F(Commands, RerollReplacesTheLocalChampion) {
  Push(Game("CHAMP_SELECT", 1));
  EXPECT_EQ(Send(kPost, "session/my-selection/reroll"), "0");
  EXPECT_EQ(Session().myTeam.at(0).championId, 21);
  refuse = "roll";
  EXPECT_EQ(Send(kPost, "session/my-selection/reroll"),
            "500 Error response for POST /tov-login/v1/session/invoke: Not enough points");
  EXPECT_EQ(Session().myTeam.at(0).championId, 21);
}

TEST_F(Commands, BattleTrainingLaunchesOrLeaves) {
  EXPECT_EQ(Send(kPost, "battle-training/launch"), "404 Not in battle training");
  core.SetResource("/tov-gameflow/v1/battle-training", "true");
  core.RunOnce();
  // A local completion: no platform call, the phase moves on.
  Push(Game("CHAMP_SELECT", 1));
  EXPECT_TRUE(Session().timer.isInfinite);
  calls.clear();
  EXPECT_EQ(Send(kPost, "session/actions/1/complete"), "0");
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(Session().timer.phase, "FINALIZATION");
  // Not launched: at 900 s the last minute shows, at 963 s the game is left.
  core.AdvanceTime(900.5);
  EXPECT_EQ(Session().timer.phase, "BAN_PICK");
  EXPECT_EQ(Session().timer.timeLeftInPhase, 60000);
  core.AdvanceTime(63);
  EXPECT_THAT(calls, ElementsAre("quitGame"));
  EXPECT_FALSE(plugin.Flow().Model().HasSession());
  const auto& requests = core.Requests();
  EXPECT_EQ(requests.back().url, "/tov-gameflow/v1/battle-training/stop");

  // Launched: neither timer does anything.
  Push(Game("CHAMP_SELECT", 1).replace(0, 8, R"({"id":78)"));
  calls.clear();
  EXPECT_EQ(Send(kPost, "battle-training/launch"), "0");
  EXPECT_THAT(calls, ElementsAre("championSelectCompleted"));
  core.AdvanceTime(1000);
  EXPECT_THAT(calls, ElementsAre("championSelectCompleted"));
  EXPECT_TRUE(plugin.Flow().Model().HasSession());

  // Out of battle training, a normal game never meets its timers.
  plugin.Flow().RaiseEvent("CHAMP_SELECT_EVENT.TERMINATED");
  core.DeleteResource("/tov-gameflow/v1/battle-training");
  core.RunOnce();
  Push(Game("CHAMP_SELECT", 1).replace(0, 8, R"({"id":79)"));
  calls.clear();
  core.AdvanceTime(1000);
  EXPECT_TRUE(calls.empty());
  EXPECT_FALSE(Session().timer.isInfinite);
  EXPECT_EQ(Send(kPost, "battle-training/launch"), "404 Not in battle training");
}

// Route bodies are untrusted: each bad one gets the binding's error or the
// command's refusal, and a refusal leaves the session as it was.
TEST_F(Commands, HostileBodiesLeaveTheSessionAsItWas) {
  Push(Game("CHAMP_SELECT", 1));
  calls.clear();
  const std::string before = ToJson(ToBinding(Session(), plugin.Registry()));
  const std::string deep = std::string(1000000, '[') + std::string(1000000, ']');
  const std::string huge = R"({"championId":0,"note":")" + std::string(1 << 20, 'x') + R"("})";
  const struct {
    const char* what;
    std::string path, body, contentType, answer;  // the answer's start
  } rows[] = {
      {"not json", "session/actions/1", "{", "application/json", "0 Error: Missing a name for object member."},
      {"deep nesting", "session/actions/1", deep, "application/json", "0 "},
      {"a champion beyond int32", "session/actions/1", R"({"championId":2147483648})", "application/json",
       "0 Value 2147483648 for 'championId' of type int32 is out of range"},
      {"null and extra fields", "session/actions/1", R"({"championId":null,"extra":[1,2]})", "application/json", "0"},
      {"a megabyte of text", "session/actions/1", huge, "application/json", "0"},
      {"a spell below zero", "session/my-selection", R"({"spell1Id":-1})", "application/json",
       "0 Value -1 for 'spell1Id' of type uint64 is out of range"},
      {"yaml with a wrong type", "session/my-selection", "---\nselectedSkinId: [1]\n", "application/x-yaml", "0 "},
      {"msgpack that stops short", "session/my-selection", "\x81\xa7spell1Id", "application/x-msgpack", "0"},
      {"a body of another kind", "session/my-selection", "spell1Id=4", "text/plain",
       "0 Unsupported body content type"},
  };
  for (const auto& row : rows) {
    EXPECT_THAT(Send(kPatch, row.path, row.body, row.contentType),
                ::testing::StartsWith(row.answer))
        << row.what;
    EXPECT_EQ(ToJson(ToBinding(Session(), plugin.Registry())), before) << row.what;
  }
  EXPECT_TRUE(calls.empty());  // nothing reached the platform
}

TEST_F(Commands, TradesOfferedAndAcceptedSwapInEitherOrder) {
  TradingQueue();
  Push(PostGame(1, 7, 12));
  EXPECT_THAT(calls, ::testing::Contains("getPotentialTraders"));
  EXPECT_EQ(Trades(), "101 AVAILABLE, 102 AVAILABLE");
  int you = 7, mate = 12, lock = 1;
  // The contract and the swapped game reach the client in either order.
  for (const bool contractFirst : {true, false}) {
    SCOPED_TRACE(contractFirst ? "contract first" : "game first");
    calls.clear();
    EXPECT_EQ(Send(kPost, "session/trades/101/request"), "0");
    EXPECT_THAT(calls, ElementsAre("attemptTrade \"mate\" " + std::to_string(mate) + " false"));
    EXPECT_EQ(Trades(), "101 SENT, 102 AVAILABLE");
    EXPECT_EQ(Send(kPost, "session/trades/102/request"), "409 Trade already pending");
    Contract("you", "mate", you, mate, "PENDING");
    EXPECT_EQ(plugin.Flow().Trading().PendingTradeId(), 101);
    std::swap(you, mate);
    calls.clear();
    if (contractFirst) Contract("you", "mate", mate, you, "ACCEPTED");
    Push(PostGame(++lock, you, mate));
    if (!contractFirst) Contract("you", "mate", mate, you, "ACCEPTED");
    EXPECT_EQ(Session().myTeam.at(0).championId, you);
    EXPECT_EQ(plugin.Flow().Trading().PendingTradeId(), 0);
    EXPECT_THAT(calls, ::testing::Contains("getPotentialTraders"));
    EXPECT_EQ(Trades(), "101 AVAILABLE, 102 AVAILABLE");
  }
}

TEST_F(Commands, TradesDeclinedBusyAndOfferedByAMate) {
  TradingQueue();
  Push(PostGame(1, 7, 12));
  WatchPublications();
  const struct {
    const char* what;
    std::function<void()> act;
    std::vector<std::string> calls, published;
  } rows[] = {
      {"offer", [&] { EXPECT_EQ(Send(kPost, "session/trades/101/request"), "0"); },
       {"attemptTrade \"mate\" 12 false"}, {"101 SENT, 102 AVAILABLE"}},
      {"declined", [&] { Contract("you", "mate", 7, 12, "DECLINED"); }, {}, {"101 INVALID, 102 AVAILABLE"}},
      // A game is published by the session update and again with its timer.
      {"declined survives a refresh", [&] { Push(PostGame(2, 7, 12, 15)); },
       {"getPotentialTraders"}, {"101 INVALID, 102 AVAILABLE", "101 INVALID, 102 AVAILABLE"}},
      {"until the mate's champion changes", [&] { Push(PostGame(3, 7, 13, 15)); },
       {"getPotentialTraders"}, {"101 AVAILABLE, 102 AVAILABLE", "101 AVAILABLE, 102 AVAILABLE"}},
      {"offer to a busy mate", [&] { EXPECT_EQ(Send(kPost, "session/trades/102/request"), "0"); },
       {"attemptTrade \"other\" 15 false"}, {"101 AVAILABLE, 102 SENT"}},
      {"busy with someone else: shown once", [&] { Contract("mate", "other", 13, 15, "BUSY"); }, {},
       {"101 AVAILABLE, 102 BUSY", "101 AVAILABLE, 102 AVAILABLE"}},
      {"a mate offers", [&] { Contract("mate", "you", 13, 7, "PENDING"); }, {}, {"101 RECEIVED, 102 AVAILABLE"}},
      {"answering another trade", [&] { EXPECT_EQ(Send(kPost, "session/trades/102/accept"),
                                                  "409 ChampSelect: Tried to cancel non-pending trade"); },
       {}, {"101 RECEIVED, 102 AVAILABLE"}},
      {"accepted", [&] { EXPECT_EQ(Send(kPost, "session/trades/101/accept"), "0"); },
       {"attemptTrade \"mate\" 13 true"}, {"101 RECEIVED, 102 AVAILABLE"}},
      {"declined", [&] { EXPECT_EQ(Send(kPost, "session/trades/101/decline"), "0"); },
       {"dismissTrade", "getPotentialTraders"}, {"101 AVAILABLE, 102 AVAILABLE"}},
      {"offered again and cancelled", [&] {
         Contract("mate", "you", 13, 7, "PENDING");
         EXPECT_EQ(Send(kPost, "session/trades/101/cancel"), "0");
       }, {"dismissTrade", "getPotentialTraders"}, {"101 RECEIVED, 102 AVAILABLE", "101 AVAILABLE, 102 AVAILABLE"}},
      {"nothing pending", [&] { EXPECT_EQ(Send(kPost, "session/trades/0/cancel"),
                                          "500 ChampSelect: Error while processing trade"); },
       {}, {"101 AVAILABLE, 102 AVAILABLE"}},
      {"an accept the platform refuses", [&] {
         Contract("mate", "you", 13, 7, "PENDING");
         refuse = "attemptTrade";
         EXPECT_EQ(Send(kPost, "session/trades/101/accept"), "500 ChampSelect: Error while processing trade");
       }, {"attemptTrade \"mate\" 13 true"}, {"101 RECEIVED, 102 AVAILABLE", "101 RECEIVED, 102 AVAILABLE"}},
      {"the mate cancels", [&] { Contract("mate", "you", 13, 7, "CANCELED"); }, {}, {"101 AVAILABLE, 102 AVAILABLE"}},
      {"an offer the platform refuses", [&] {
         EXPECT_EQ(Send(kPost, "session/trades/101/request"), "500 LCDS Error");
       }, {"attemptTrade \"mate\" 13 false"}, {"101 SENT, 102 AVAILABLE", "101 AVAILABLE, 102 AVAILABLE"}},
  };
  for (const auto& row : rows) {
    calls.clear();
    published.clear();
    row.act();
    EXPECT_EQ(calls, row.calls) << row.what;
    EXPECT_EQ(published, row.published) << row.what;
  }
  EXPECT_EQ(plugin.Flow().Trading().PendingTradeId(), 0);
  EXPECT_THAT(LogMessages(), ::testing::Contains("tov-vover-orevid-aredez: CHAMP_SELECT_EVENT.TRADE_ERRORED"));
}

// Contracts come from the platform and requests from the client: neither
// may touch a trade it does not own, and a trade request that cannot go out
// leaves the trade as the client last saw it.
TEST_F(Commands, TradesRefuseWhatIsNotTheirsAndOutliveTheSession) {
  TradingQueue();
  Contract("you", "mate", 7, 12, "PENDING");  // before any session
  EXPECT_EQ(Send(kPost, "session/trades/101/request"), "400 Not in champ select");
  WatchPublications();
  EXPECT_EQ(Send(kPost, "session/trades/5/decline"), "404 ChampSelect: Trade Non-existent");
  EXPECT_TRUE(published.empty());

  Push(PostGame(1, 7, 12));
  WatchPublications();
  const struct {
    const char* requester;
    const char* responder;
    const char* state;
    std::vector<std::string> published;
  } contracts[] = {
      {"stranger", "you", "PENDING", {}},
      {"you", "stranger", "PENDING", {}},
      {"you", "you", "PENDING", {}},               // no trade with oneself
      {"mate", "other", "PENDING", {}},            // between two others
      {"mate", "other", "BUSY", {}},               // busy, but no offer of mine went to them
      {"you", "mate", "SOLD", {"101 AVAILABLE, 102 AVAILABLE"}},
      {"you", "mate", "ACCEPTED", {"101 AVAILABLE, 102 AVAILABLE"}},
      {"you", "mate", "ACCEPTED", {"101 AVAILABLE, 102 AVAILABLE"}},
  };
  for (const auto& c : contracts) {
    published.clear();
    Contract(c.requester, c.responder, 7, 12, c.state);
    EXPECT_EQ(published, c.published) << c.requester << " " << c.responder << " " << c.state;
    EXPECT_EQ(Trades(), "101 AVAILABLE, 102 AVAILABLE");
  }
  const auto logs = LogMessages();
  EXPECT_THAT(logs, ::testing::Contains("tov-vover-orevid-aredez: Unable to find cell id for requesting summoner stranger"));
  EXPECT_THAT(logs, ::testing::Contains("tov-vover-orevid-aredez: Unable to find cell id for responding summoner stranger"));
  EXPECT_THAT(logs, ::testing::Contains(
                        "tov-vover-orevid-aredez: Platform sent a trade which does not impact the current player."));

  // The mate has left and the platform cannot say who may trade: the trade
  // still shows AVAILABLE, and asking for it changes nothing.
  refuse = "getPotentialTraders";
  Push(PostGame(2, 7, -1));
  published.clear();
  calls.clear();
  EXPECT_EQ(Trades(), "101 AVAILABLE, 102 AVAILABLE");
  EXPECT_EQ(Send(kPost, "session/trades/102/request"), "400 Responder is no longer available");
  EXPECT_EQ(Trades(), "101 AVAILABLE, 102 AVAILABLE");
  EXPECT_TRUE(published.empty());
  EXPECT_TRUE(calls.empty());
  refuse.clear();

  // The session ends while the platform answers: nothing is published for it.
  Push(PostGame(3, 7, 12));
  onCall = [&](const std::string& method) {
    if (method == "attemptTrade" || method == "dismissTrade")
      core.DeliverResource("/tov-gameflow/v1/session", R"({"phase":"None"})", "Update");
  };
  published.clear();
  EXPECT_EQ(Send(kPost, "session/trades/101/request"), "404 Not in champ select");
  EXPECT_THAT(published, ElementsAre("101 SENT, 102 AVAILABLE", "Delete"));
  EXPECT_EQ(plugin.Flow().Trading().PendingTradeId(), 0);
  Push(PostGame(4, 7, 12, 14, 78));
  Contract("mate", "you", 12, 7, "PENDING");
  published.clear();
  EXPECT_EQ(Send(kPost, "session/trades/101/decline"), "404 ChampSelect: Trade Non-existent");
  EXPECT_THAT(published, ElementsAre("Delete"));
}

TEST_F(Commands, TheTeamBoostIsFetchedOnceFollowedAndBought) {
  std::vector<std::string> boosts;
  core.onSend = [&](const TovHost::SentEvent& event) {
    if (event.name != "OnJsonApiEvent_tov-vover-orevid-aredez_v1_team-boost") return;
    // "type buyer unlocked skins"
    const BindingProperty payload = ParseJson(event.payloadJson);
    const BindingNode& data = payload.Find("data");
    std::string line(payload.Find("eventType").GetString());
    if (data.GetKind() == BindingKind::Structure)
      line.append(" ").append(data.Find("summonerName").GetString()).append(" ")
          .append(std::to_string(data.Find("unlocked").GetBool())).append(" ")
          .append(std::to_string(data.Find("availableSkins").Size()));
    boosts.push_back(line);
  };
  constexpr const char* kBoost = "com.vexagames.platform.game.TeamSkinRentalDTO";
  const std::string kNone = "404 No team boost available for this game, or summoner is not in a game.";
  TradingQueue();
  Push(Game("CHAMP_SELECT", 1));
  const auto pushBoost = [&](const std::string& dto) {
    core.PushLcds(kBoost, dto);
    core.RunOnce();
    core.RunOnce();
  };
  pushBoost(Boost("Mate", true));  // before the fetch: nothing to follow
  EXPECT_EQ(Send(kGet, "team-boost"), kNone);
  EXPECT_EQ(Send(kPost, "team-boost/purchase"), kNone);
  calls.clear();
  Push(PostGame(2, 7, 12));
  Push(PostGame(3, 7, 13));
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "initializeTeamSkinRental \"VP\""), 1);
  EXPECT_EQ(Send(kGet, "team-boost"), "0");

  calls.clear();
  EXPECT_EQ(Send(kPost, "team-boost/purchase"), "0");
  EXPECT_THAT(calls, ElementsAre("unlockSkinsForTeam \"VP\""));
  refuse = "unlockSkinsForTeam";
  EXPECT_EQ(Send(kPost, "team-boost/purchase"), "500 Error response for POST /tov-login/v1/session/invoke: Simulated refusal");
  pushBoost(Boost("Mate", true, 10000));
  plugin.Flow().RaiseEvent("CHAMP_SELECT_EVENT.TERMINATED");
  EXPECT_EQ(Send(kGet, "team-boost"), kNone);
  pushBoost(Boost("Mate", true));  // after the session: nothing to follow
  EXPECT_THAT(boosts, ElementsAre("Create  0 3", "Update Mate 1 10000", "Delete"));
}

}  // namespace
}  // namespace Vexa::Client::VoverOrevidAredez
