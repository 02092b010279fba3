// The champion select inside the real plug-in object over the core stand-in
// on its virtual clock: the state table driven event by event, and pushed
// games with their publications, requests and log lines in one trace.
#include "champselect/champ_select.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "champselect/vover_orevid_aredez_plugin.h"
#include "core/core.h"
#include "runtime/test_support.h"

namespace Vexa::Client::VoverOrevidAredez {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

constexpr const char* kGameClass = "com.vexagames.platform.game.GameDTO";
constexpr const char* kPrefix = "tov-vover-orevid-aredez: ";

class ChampSelectTest : public ::testing::Test {
 protected:
  ChampSelectTest() : env_(core), scoped_(&env_) {
    core.SetResource("/tov-login/v1/session",
                     R"({"state":"SUCCEEDED","summonerId":1001,"accountId":9001,"connected":true})");
    core.SetResource("/tov-champions/v1/inventories/1001/champions-minimal",
                     R"([{"id":1,"ownership":{"owned":true}},{"id":2,"freeToPlay":true},{"id":-1}])");
    core.SetLcdsHandler("gameService", "setClientReceivedGameMessage",
                        [](const std::vector<std::string>&) { return TovHost::LcdsReply{}; });
    core.SetLcdsHandler("gameService", "getCurrentTimerForGame", [this](const std::vector<std::string>&) {
      TovHost::LcdsReply reply;
      reply.typeName = "com.vexagames.platform.game.GameTimerDTO";
      reply.bodyJson = timerJson;
      return reply;
    });
    // The ward skin answers while its request is being posted.
    core.OnRequest(6, "/tov-login/v1/service-proxy-method-requests", [this](const TovHost::RequestRecord&) {
      core.DeliverEvent("OnServiceProxyMethodEvent",
                        TovHost::Core::ServiceProxyAnswer("", "wardSkins", "receiveSelectedWardSkin",
                                                          R"({"selectedWardSkinId":3})"));
      return TovHost::Reply::Json("");
    });
    core.onLog = [this](const TovHost::LogLine& line) {
      std::string message = line.message;
      if (message.rfind(kPrefix, 0) == 0) message.erase(0, std::char_traits<char>::length(kPrefix));
      if (message.rfind("ChampSelect: entering state '", 0) == 0)
        trace.push_back("+" + message.substr(29, message.size() - 30));
      else if (message.rfind("ChampSelect: exiting state '", 0) == 0)
        trace.push_back("-" + message.substr(28, message.size() - 29));
      else
        trace.push_back("log " + message);
    };
    core.onRequest = [this](const TovHost::RequestRecord& request) {
      if (request.method == 2) return;  // reads
      std::string line = std::string("req ") + TovHost::MethodName(request.method) + " " + request.url;
      for (const std::string& arg : request.args) line += " " + arg;
      trace.push_back(line);
    };
    core.onSend = [this](const TovHost::SentEvent& event) {
      if (event.name == "OnJsonApiEvent") return;  // the same event under its own name comes first
      const auto at = event.payloadJson.find("\"eventType\":\"");
      const std::string type = event.payloadJson.substr(at + 13, event.payloadJson.find('"', at + 13) - at - 13);
      trace.push_back("pub " + event.name.substr(std::string("OnJsonApiEvent_tov-vover-orevid-aredez_v1_").size()) +
                      " " + type);
    };
    PluginHandshake record{18, 0, 0, nullptr, nullptr, nullptr, nullptr};
    plugin.Handshake(&record, kShortName);
    core.UseApi(record.apiDescription);
    context_ = core.Context();
    EXPECT_EQ(plugin.Init(&context_), 1);
    core.RunOnce();
    trace.clear();
  }
  ~ChampSelectTest() override {
    if (!plugin.Stopping()) plugin.Stop();
  }

  // A pushed game, handled on a later turn as the core would deliver it.
  void Push(const std::string& gameJson) {
    core.PushLcds(kGameClass, gameJson);
    core.RunOnce();
    core.RunOnce();
  }

  std::vector<std::string> Take() { return std::exchange(trace, {}); }

  TovHost::Core core;
  CoreClockEnv env_;
  Os::ScopedEnv scoped_;
  CoreContext context_{};
  VoverOrevidAredezPlugin plugin;
  std::vector<std::string> trace;
  std::string timerJson = R"({"currentGameState":"PRE_CHAMP_SELECT","remainingTimeInMillis":29999.9})";
};

// Events raised straight into the machine, from a fresh plug-in: the states
// entered and left, and what each action did.
TEST_F(ChampSelectTest, StateTableRowsLeaveTheirTraces) {
  const struct {
    std::vector<const char*> events;
    std::vector<std::string> trace;
  } rows[] = {
      // Unreachable events change nothing while not selecting.
      {{"CHAMP_SELECT_EVENT.SPELL_SELECTED", "CHAMP_SELECT_EVENT.LOCKIN_CHOICES"},
       {"log CHAMP_SELECT_EVENT.SPELL_SELECTED", "log CHAMP_SELECT_EVENT.LOCKIN_CHOICES"}},
      // START_REQUESTED and GAME_STARTED without a session publish nothing.
      {{"CHAMP_SELECT_EVENT.START_REQUESTED"}, {"log CHAMP_SELECT_EVENT.START_REQUESTED"}},
      {{"CHAMP_SELECT_EVENT.RETURN_TO_LOBBY"},
       {"log CHAMP_SELECT_EVENT.RETURN_TO_LOBBY", "log Deleting Champ Select Session.", "pub session Delete",
        "pub pickable-champions Delete", "pub bannable-champions Delete", "pub team-boost Delete",
        "pub implementation-active Update",
        "req POST /tov-gameflow/v1/session/event \"GAMEFLOW_EVENT.QUIT_TO_LOBBY\""}},
  };
  for (const auto& row : rows) {
    for (const char* event : row.events) plugin.Flow().RaiseEvent(event);
    EXPECT_THAT(Take(), ElementsAreArray(row.trace)) << row.events[0];
  }
}

TEST_F(ChampSelectTest, SelectingStatesFollowTheGamesPhases) {
  const auto states = [&] {
    std::vector<std::string> out;
    for (const std::string& line : Take())
      if (line[0] == '+' || line[0] == '-') out.push_back(line);
    return out;
  };
  plugin.Flow().RaiseEvent("CHAMP_SELECT_EVENT.PRE_CHAMP_SELECT");
  EXPECT_THAT(states(), ElementsAre("-NoSelections", "-NotSelecting", "+Selecting", "+SelectingBans"));
  plugin.Flow().RaiseEvent("CHAMP_SELECT_EVENT.CHAMP_SELECT");  // bans keep handling it
  EXPECT_THAT(states(), ElementsAre());
  plugin.Flow().RaiseEvent("CHAMP_SELECT_EVENT.SPELL_SELECTED");  // through the engine only
  EXPECT_THAT(states(), ElementsAre());
  plugin.Flow().RaiseEvent("CHAMP_SELECT_EVENT.POST_CHAMP_SELECT");
  EXPECT_THAT(states(), ElementsAre("-SelectingBans", "+SelectingTrades"));
  plugin.Flow().RaiseEvent("CHAMP_SELECT_EVENT.LOCKIN_CHOICES");
  EXPECT_THAT(states(), ElementsAre("-SelectingTrades", "-Selecting", "+NotSelecting", "+DoneSelecting"));
  plugin.Flow().RaiseEvent("CHAMP_SELECT_EVENT.START_REQUESTED");
  EXPECT_THAT(states(), ElementsAre("-DoneSelecting", "+NoSelections"));
  plugin.Flow().RaiseEvent("CHAMP_SELECT_EVENT.CHAMP_SELECT");
  EXPECT_THAT(states(), ElementsAre("-NoSelections", "-NotSelecting", "+Selecting", "+SelectingChamps"));
  plugin.Flow().RaiseEvent("CHAMP_SELECT_EVENT.TERMINATED");
  EXPECT_THAT(states(), ElementsAre("-SelectingChamps", "-Selecting", "+NotSelecting", "+NoSelections"));
  plugin.Stop();
  EXPECT_THAT(states(), ElementsAre("-NoSelections", "-NotSelecting", "-ChampSelect"));
}

// The first message of a game with bans: the session begins in its described
// order, and each later message rebuilds it.
TEST_F(ChampSelectTest, AGameBeginsItsSessionInOrder) {
  const std::string teams =
      R"("teamOne":[{"summonerName":"You","summonerInternalName":"you","summonerId":1001,"pickTurn":1}],)"
      R"("teamTwo":[{"summonerName":"Them","summonerInternalName":"them","summonerId":2001}],)"
      R"("playerChampionSelections":[{"summonerInternalName":"you","championId":0,"spell1Id":4,"spell2Id":7}])";
  Push(R"({"id":5000000001,"gameState":"PRE_CHAMP_SELECT","optimisticLock":1,"pickTurn":1,"name":"Game 1",)" + teams +
       "}");
  EXPECT_THAT(Take(), ElementsAre(
      "log CHAMP_SELECT_EVENT.PRE_CHAMP_SELECT", "-NoSelections", "-NotSelecting",
      "req POST /tov-login/v1/session/invoke \"gameService\" \"setClientReceivedGameMessage\" "
      "[5000000001,\"CHAMP_SELECT_CLIENT\"]",
      "pub implementation-active Update", "pub session Create", "pub pickable-champions Create",
      "pub bannable-champions Create",
      "req POST /tov-gameflow/v1/session/event \"GAMEFLOW_EVENT.ENTERED_CHAMP_SELECT\"",
      "log Preparing service proxy request: wardSkins.requestSelectedWardSkin",
      "req POST /tov-login/v1/service-proxy-method-requests \"wardSkins\" \"requestSelectedWardSkin\" "
      "\"receiveSelectedWardSkin\" \"\" 49374 \"{}\"",
      "log Started service proxy request: wardSkins.requestSelectedWardSkin (wardSkins.receiveSelectedWardSkin)",
      "log Fulfilled service proxy request: wardSkins.receiveSelectedWardSkin",
      "req POST /vexaclient/ux-show",  // the local player's ban turn begins
      "pub session Update", "+Selecting", "+SelectingBans",
      "req POST /tov-login/v1/session/invoke \"gameService\" \"getCurrentTimerForGame\" []",
      "log Timer phase changed, resetting outstanding timer count to 0.",
      "log Creating ux timer tov-vover-orevid-aredez.show-ux-1 to show for phase BAN_PICK in 19999 ms",
      "pub session Update"));
  const ChampSelectModel& model = plugin.Flow().Model();
  EXPECT_EQ(model.session.id, "1");
  EXPECT_EQ(model.session.localPlayerCellId, 0);
  EXPECT_EQ(model.session.myTeam.at(0).wardSkinId, 3);
  EXPECT_EQ(model.session.timer.timeLeftInPhase, 29999);
  EXPECT_EQ(model.session.chatDetails.chatRoomName.substr(0, 3), "c1~");

  // Stale, then the same lock again (processed), then the game ends.
  Push(R"({"id":5000000001,"gameState":"PRE_CHAMP_SELECT","optimisticLock":0})");
  EXPECT_THAT(Take(), ElementsAre("log GameDTO received update with old state, ignoring"));
  Push(R"({"id":5000000001,"gameState":"TERMINATED","optimisticLock":1,"statusOfParticipants":"10",)" + teams + "}");
  EXPECT_THAT(Take(), ElementsAre(
      "log Detected STRANGER dodge in legacy champ select.",
      "req POST /tov-gameflow/v1/session/dodge {\"dodgeIds\":[],\"state\":\"StrangerDodged\"}",
      "log CHAMP_SELECT_EVENT.TERMINATED", "-SelectingBans", "-Selecting", "log Deleting Champ Select Session.",
      "pub session Delete", "pub pickable-champions Delete", "pub bannable-champions Delete", "pub team-boost Delete",
      "pub implementation-active Update", "+NotSelecting", "+NoSelections"));
  // The UX timer of the ended session fires into nothing.
  core.AdvanceTime(25);
  EXPECT_THAT(Take(), ElementsAre("log Ux timer tov-vover-orevid-aredez.show-ux-1 triggered: timer phase=BAN_PICK, "
                                  "current phase=, outstanding timers: 0, should show=false"));
}

// A game that ends while its session is still beginning: the end waits for
// the beginning to finish, and nothing is published after the Delete.
TEST_F(ChampSelectTest, MessagesDuringABeginningRunAfterIt) {
  core.OnRequest(6, "/tov-login/v1/service-proxy-method-requests",
                 [](const TovHost::RequestRecord&) { return TovHost::Reply::Json(""); });
  core.onPump = [&](int pump) {
    if (pump == 1) core.PushLcds(kGameClass, R"({"id":7,"gameState":"TERMINATED","optimisticLock":2})");
    if (pump == 2)
      core.SetResource("/tov-gameflow/v1/session", R"({"phase":"None","gameClient":{"visible":true}})");
    if (pump == 3)
      core.PushEvent("OnServiceProxyMethodEvent",
                     TovHost::Core::ServiceProxyAnswer("", "wardSkins", "receiveSelectedWardSkin", "{}"));
  };
  Push(R"({"id":7,"gameState":"CHAMP_SELECT","optimisticLock":1,"teamOne":[{"summonerId":1001}]})");
  core.onPump = nullptr;
  core.RunOnce();
  std::vector<std::string> kept;
  for (const std::string& line : Take())
    if (line[0] != 'r') kept.push_back(line);  // requests are pinned elsewhere
  EXPECT_THAT(kept, ElementsAre(
      "log CHAMP_SELECT_EVENT.CHAMP_SELECT", "-NoSelections", "-NotSelecting", "pub implementation-active Update",
      "pub session Create", "pub pickable-champions Create", "pub bannable-champions Create",
      "log Preparing service proxy request: wardSkins.requestSelectedWardSkin",
      "log Started service proxy request: wardSkins.requestSelectedWardSkin (wardSkins.receiveSelectedWardSkin)",
      "log Fulfilled service proxy request: wardSkins.receiveSelectedWardSkin",
      "log Invalid ward skin payload", "pub session Update", "+Selecting", "+SelectingChamps", "pub session Update",
      // Only now the game's end, then the gameflow update, which finds no session.
      "log Detected STRANGER dodge in legacy champ select.", "log CHAMP_SELECT_EVENT.TERMINATED", "-SelectingChamps",
      "-Selecting", "log Deleting Champ Select Session.", "pub session Delete", "pub pickable-champions Delete",
      "pub bannable-champions Delete", "pub team-boost Delete", "pub implementation-active Update", "+NotSelecting",
      "+NoSelections"));
  // START_REQUESTED after the end updates nothing: the session is gone.
  Push(R"({"id":7,"gameState":"START_REQUESTED","optimisticLock":3})");
  EXPECT_THAT(Take(), ElementsAre("log CHAMP_SELECT_EVENT.START_REQUESTED"));
}

// Platform messages are untrusted: each bad one is handled as described or
// dropped with a line, and the next good game still begins a session.
TEST_F(ChampSelectTest, HostileGamesAreHandledOrDroppedWithALine) {
  std::string many = R"({"id":9,"gameState":"CHAMP_SELECT","optimisticLock":3,"pickTurn":1,"teamOne":[)";
  for (int i = 0; i < 10000; ++i) many += std::string(i ? "," : "") + R"({"summonerId":)" + std::to_string(i) + "}";
  many += "]}";
  const std::string deep = R"({"id":9,"gameState":"FOO","optimisticLock":1,"gameMutators":)" +
                           std::string(1000000, '[') + std::string(1000000, ']') + "}";
  const struct {
    const char* what;
    std::string game;
    const char* timer;
    const char* expected;  // the start of a line the message must leave
  } rows[] = {
      {"a field of the wrong type", R"({"id":9,"gameState":"CHAMP_SELECT","pickTurn":"third"})", nullptr,
       "log Couldn't convert LCDS DTO "},
      {"a million levels of mutators", deep, nullptr, "log Couldn't convert LCDS DTO "},
      {"an unknown state", R"({"id":9,"gameState":"FOO","optimisticLock":1})", nullptr, nullptr},
      {"null lists", R"({"id":9,"gameState":"CHAMP_SELECT","optimisticLock":2,"teamOne":null,"bannedChampions":null})",
       R"({"currentGameState":"CHAMP_SELECT","remainingTimeInMillis":NaN})", "pub session Update"},
      {"ten thousand players", many, R"({"currentGameState":"CHAMP_SELECT","remainingTimeInMillis":Infinity})",
       "pub session Update"},
      {"a huge pick turn", R"({"id":9,"gameState":"CHAMP_SELECT","optimisticLock":4,"pickTurn":2147483647,)"
                           R"("teamOne":[{"summonerId":1001,"pickTurn":2147483647}]})",
       R"({"currentGameState":"CHAMP_SELECT","remainingTimeInMillis":-5})", "log Player "},
  };
  for (const auto& row : rows) {
    if (row.timer) timerJson = row.timer;
    Push(row.game);
    const std::vector<std::string> lines = Take();
    if (row.expected) {
      EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                              [&](const std::string& line) { return line.rfind(row.expected, 0) == 0; }))
          << row.what << ": " << ::testing::PrintToString(lines);
    }
    const Api::ChampSelectTimer& timer = plugin.Flow().Model().session.timer;
    EXPECT_GE(timer.timeLeftInPhase, 0) << row.what;
    EXPECT_LE(timer.timeLeftInPhase, 24LL * 3600 * 1000) << row.what;
  }
  EXPECT_EQ(plugin.Flow().Model().session.theirTeam.size(), 0u);
  EXPECT_TRUE(plugin.Flow().Model().HasSession());
}

TEST_F(ChampSelectTest, LateJoinsTutorialsAndOtherGames) {
  const auto states = [&] {
    std::vector<std::string> out;
    for (const std::string& line : Take())
      if (line[0] == '+' || line[0] == '-' || line.rfind("log Received", 0) == 0) out.push_back(line);
    return out;
  };
  Push(R"({"id":3,"gameState":"CHAMP_SELECT","optimisticLock":1,"gameMutators":["BasicTutorial"]})");
  EXPECT_THAT(Take(), ElementsAre());  // a tutorial is not champion select
  Push(R"({"id":4,"gameState":"POST_CHAMP_SELECT","optimisticLock":9,"teamOne":[{"summonerId":1001}]})");
  EXPECT_THAT(states(), ElementsAre("-NoSelections", "-NotSelecting",
                                    "log Received a POST_CHAMP_SELECT dto out-of-order, starting champ select.",
                                    "+Selecting", "+SelectingTrades"));
  // The same lock again is processed; so is another game with a lower lock.
  Push(R"({"id":4,"gameState":"POST_CHAMP_SELECT","optimisticLock":9})");
  EXPECT_THAT(Take(), ::testing::Contains("log CHAMP_SELECT_EVENT.POST_CHAMP_SELECT"));
  Push(R"({"id":5,"gameState":"POST_CHAMP_SELECT","optimisticLock":1})");
  EXPECT_THAT(Take(), ::testing::Contains("log CHAMP_SELECT_EVENT.POST_CHAMP_SELECT"));
}

TEST_F(ChampSelectTest, DodgesByTheParty) {
  core.SetResource("/tov-gameflow/v1/gameflow-metadata/player-status",
                   R"({"lastQueuedLobbyStatus":{"memberSummonerIds":[1001,1002]}})");
  core.RunOnce();
  const std::string team = R"("teamOne":[{"summonerId":1001},{"summonerId":1002},{"summonerId":1003}])";
  Push(R"({"id":4,"gameState":"CHAMP_SELECT","optimisticLock":1,)" + team + "}");
  Take();
  // The mate at the second place left ('0'); the third is gone from the list.
  Push(R"({"id":4,"gameState":"TERMINATED","optimisticLock":2,"statusOfParticipants":"10",)"
       R"("teamOne":[{"summonerId":1001},{"summonerId":1002}]})");
  const auto lines = Take();
  EXPECT_THAT(lines, ::testing::Contains("log Detected PARTY dodge in legacy champ select."));
  EXPECT_THAT(lines, ::testing::Contains(
                         R"(req POST /tov-gameflow/v1/session/dodge {"dodgeIds":[1002],"state":"PartyDodged"})"));
}

TEST_F(ChampSelectTest, AReconnectFetchesTheGameAgainOrEndsTheSession) {
  int fetches = 0;
  core.SetLcdsHandler("gameService", "getGame", [&](const std::vector<std::string>& args) {
    EXPECT_EQ(args.at(0), "6");
    TovHost::LcdsReply reply;
    if (++fetches == 1) {
      reply.typeName = kGameClass;
      reply.bodyJson = R"({"id":6,"gameState":"CHAMP_SELECT","optimisticLock":3})";
    } else {
      reply.error = "Game not found";
      reply.status = 500;
    }
    return reply;
  });
  Push(R"({"id":6,"gameState":"CHAMP_SELECT","queueTypeName":"INTRO_BOT","optimisticLock":2,)"
       R"("teamOne":[{"summonerId":1001}]})");
  Take();
  const auto reconnect = [&] {
    core.SetResource("/tov-login/v1/session", R"({"state":"SUCCEEDED","summonerId":1001,"accountId":9001,"connected":false})");
    core.RunOnce();
    core.SetResource("/tov-login/v1/session", R"({"state":"SUCCEEDED","summonerId":1001,"accountId":9001,"connected":true})");
    core.RunOnce();
    return Take();
  };
  EXPECT_THAT(reconnect(), ::testing::IsSupersetOf({"log Reconnect detected.", "log CHAMP_SELECT_EVENT.CHAMP_SELECT"}));
  const auto ended = reconnect();
  EXPECT_THAT(ended, ::testing::IsSupersetOf(
                         {"log Failed to retrieve game info: Error response for POST /tov-login/v1/session/invoke: "
                          "Game not found",
                          "log CHAMP_SELECT_EVENT.TERMINATED", "log Deleting Champ Select Session.",
                          R"(req POST /tov-gameflow/v1/session/dodge {"dodgeIds":[1001],"state":"PartyDodged"})"}));
}

TEST_F(ChampSelectTest, AUxTimerNeedsFifteenSecondsLeft) {
  const std::string game = R"("teamOne":[{"summonerInternalName":"you","summonerId":1001,"pickTurn":1}],)"
                           R"("playerChampionSelections":[{"summonerInternalName":"you"}])";
  for (const auto& [remaining, expected] : {std::pair{"14999", ""}, std::pair{"15000.9", "in 5000 ms"}}) {
    timerJson = std::string(R"({"currentGameState":"CHAMP_SELECT","remainingTimeInMillis":)") + remaining + "}";
    static std::int64_t lock = 0;
    Push(R"({"id":8,"gameState":"CHAMP_SELECT","pickTurn":1,"optimisticLock":)" + std::to_string(++lock) + "," + game +
         "}");
    std::string created;
    for (const std::string& line : Take())
      if (line.rfind("log Creating ux timer", 0) == 0) created = line;
    if (*expected) EXPECT_THAT(created, HasSubstr(expected)) << remaining;
    else EXPECT_EQ(created, "") << remaining;
    plugin.Flow().RaiseEvent("CHAMP_SELECT_EVENT.TERMINATED");  // a fresh session, a fresh turn
    Take();
  }
}

}  // namespace
}  // namespace Vexa::Client::VoverOrevidAredez
