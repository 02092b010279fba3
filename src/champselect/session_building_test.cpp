// The pure parts of session building: cells and selections from the two
// team lists, the action groups across the messages of a game, the timer
// fields and the derived chat room name.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "champselect/chat_room.h"
#include "champselect/session_actions.h"
#include "champselect/session_teams.h"
#include "champselect/session_timer.h"
#include "formats/json.h"

namespace Vexa::Client::VoverOrevidAredez {
namespace {

using ::testing::ElementsAre;

BindingProperty Json(const std::string& text) {
  BindingProperty value = ParseJson(text);
  EXPECT_TRUE(value.IsValid()) << text;
  return value;
}

std::vector<BindingProperty> Team(std::initializer_list<const char*> members) {
  std::vector<BindingProperty> team;
  for (const char* member : members) team.push_back(Json(member));
  return team;
}

// "cell:team:name:champion:skin:spell1:spell2:pickTurn:pickMode:type:summoner"
std::string Describe(const Api::ChampSelectPlayerSelection& s) {
  return std::to_string(s.cellId) + ":" + std::to_string(s.team) + ":" + s.displayName + ":" +
         std::to_string(s.championId) + ":" + std::to_string(s.selectedSkinId) + ":" + std::to_string(s.spell1Id) +
         ":" + std::to_string(s.spell2Id) + ":" + std::to_string(s.pickTurn) + ":" + std::to_string(s.pickMode) + ":" +
         s.playerType + ":" + std::to_string(s.summonerId);
}

std::vector<std::string> Describe(const std::vector<Api::ChampSelectPlayerSelection>& team) {
  std::vector<std::string> out;
  for (const auto& s : team) out.push_back(Describe(s));
  return out;
}

TEST(BuildTeams, CellsFollowTheLocalPlayersTeamAndSelectionsTheirNames) {
  LCDS::GameDTO game;
  game.gameState = "CHAMP_SELECT";
  game.pickTurn = 3;
  game.playerChampionSelections = {{"you", 17, 3, 4, -1}, {"mate", 2000000000, 5, 101, 102}, {"them", 9, 0, 1, 2}};
  game.teamOne = Team({R"({"summonerName":"Mate","summonerInternalName":"mate","summonerId":1002,"pickTurn":1})",
                       R"({"gameUniqueId":77001,"summonerInternalName":"them","pickMode":1})",
                       R"([1, 2, 3])",
                       R"({"summonerName":"Easy Bot","summonerInternalName":"bot","botSkillLevel":0})"});
  game.teamTwo = Team({R"({"summonerName":"You","summonerInternalName":"you","summonerId":1001,"pickMode":2,"pickTurn":2})",
                       R"({"summonerName":"Other","summonerInternalName":"other","summonerId":"2002"})"});

  // The local player in team two: team two is numbered first, its members
  // keep team 2, and a hidden opponent that is picking takes the current turn.
  const BuiltTeams local = BuildTeams(game, 1001, false);
  EXPECT_THAT(Describe(local.teamTwo),
              ElementsAre("0:2:You:17:17003:4:18446744073709551615:2:2:PLAYER:1001",
                          "1:2::0:0:0:0:0:0:PLAYER:0"));  // no selection, a summoner id that is text
  EXPECT_THAT(Describe(local.teamOne),
              ElementsAre("2:1:Mate:2000000000:2147483647:101:102:1:0:PLAYER:1002",  // skin saturates
                          "3:1::0:0:0:0:3:1:PLAYER:0",   // hidden, picking: the current turn, no selection
                          "4:1::0:0:0:0:0:0:PLAYER:0",   // not an object: no keys at all
                          "5:1::0:0:0:0:0:0:BOT:0"));
  // Nobody logged in (0 is nobody): team one first; in a custom game a
  // player without a selection still shows a name.
  const BuiltTeams spectator = BuildTeams(game, 0, true);
  EXPECT_THAT(Describe(spectator.teamOne)[0], "0:1:Mate:2000000000:2147483647:101:102:1:0:PLAYER:1002");
  EXPECT_THAT(Describe(spectator.teamTwo)[1], "5:2:Other:0:0:0:0:0:0:PLAYER:0");

  // Bans: the first member of the other team takes the turn when nobody on
  // the local side has one yet.
  game.gameState = "PRE_CHAMP_SELECT";
  game.pickTurn = 1;
  game.teamOne = Team({R"({"summonerInternalName":"you","summonerId":1001})"});
  game.teamTwo = Team({R"({"gameUniqueId":1})", R"({"gameUniqueId":2})"});
  const BuiltTeams banning = BuildTeams(game, 1001, false);
  EXPECT_EQ(banning.teamTwo[0].pickTurn, 1);
  EXPECT_EQ(banning.teamTwo[1].pickTurn, 0);
}

TEST(SetSessionTimer, SecondsAndTotalsFollowThePhase) {
  Api::ChampSelectTimer timer;
  const struct {
    const char* phase;
    std::int64_t remaining;
    std::string expected;  // left:adjusted:sec:adjustedSec:total:phase
  } rows[] = {
      {"BAN_PICK", 2500, "2500:0:2:0:2500:BAN_PICK"},
      {"BAN_PICK", 30000, "30000:27000:30:27:2500:BAN_PICK"},  // the first reading's total stays
      {"FINALIZATION", 29999, "29999:26999:29:26:29999:FINALIZATION"},
      {"FINALIZATION", 0, "0:0:0:0:29999:FINALIZATION"},
      {"", 16777217, "16777217:16774217:16777:16774:16777217:"},
  };
  for (const auto& row : rows) {
    SetSessionTimer(timer, row.phase, row.remaining, 1796634303042);
    EXPECT_EQ(std::to_string(timer.timeLeftInPhase) + ":" + std::to_string(timer.adjustedTimeLeftInPhase) + ":" +
                  std::to_string(timer.timeLeftInPhaseInSec) + ":" + std::to_string(timer.adjustedTimeLeftInPhaseInSec) +
                  ":" + std::to_string(timer.totalTimeInPhase) + ":" + timer.phase,
              row.expected);
    EXPECT_EQ(timer.internalNowInEpochMs, 1796634303042u);
  }
  // A total of 0 is taken again from the next reading of the same phase.
  timer.totalTimeInPhase = 0;
  SetSessionTimer(timer, "", 5000, 0);
  EXPECT_EQ(timer.totalTimeInPhase, 5000);
}

TEST(ChatRoom, NameFromTheLowerCasedKeyAndTheSide) {
  EXPECT_EQ(DerivedChatRoomName("Ranked Game 42_c1", "c1"),
            "c1~0579bb2c5a349f388ec1f026414f45e909f6b0a2@champ-select.chat.vexagames.com");
  EXPECT_EQ(DerivedChatRoomName("ranked game 42_c2", "c2"),
            "c2~e82f87bf493d8dfbb37e5acc2be19183b3b6847c@champ-select.chat.vexagames.com");
  EXPECT_EQ(DerivedChatRoomName("", "c1"), "");
  EXPECT_EQ(DerivedChatRoomName("x", ""), "");
}

// ---- Actions ------------------------------------------------------------------

Api::ChampSelectPlayerSelection Player(std::int64_t cell, std::int32_t pickTurn, std::int32_t championId = 0,
                                       std::int32_t pickMode = 0, const char* type = "PLAYER") {
  Api::ChampSelectPlayerSelection p;
  p.cellId = cell;
  p.pickTurn = pickTurn;
  p.championId = championId;
  p.pickMode = pickMode;
  p.playerType = type;
  return p;
}

std::string ActionsJson(const std::vector<BindingProperty>& actions) {
  std::string out;
  for (const BindingProperty& group : actions) {
    out += "[";
    for (const BindingNode& a : group.Elements()) {
      out += std::to_string(a.Find("id").GetInteger()) + ":" + std::to_string(a.Find("actorCellId").GetInteger()) +
             ":" + std::string(a.Find("type").GetString()) + ":" + std::to_string(a.Find("championId").GetInteger()) +
             ":" + (a.Find("completed").GetBool() ? "done" : "open") + ":" +
             std::to_string(a.Find("pickTurn").GetInteger()) + " ";
    }
    out += "]";
  }
  return out;
}

// One message of a game, as the builder sees it.
struct Step {
  const char* state;
  std::int32_t pickTurn;
  std::vector<LCDS::BannedChampion> bans;
  std::vector<Api::ChampSelectPlayerSelection> mine, theirs;
  std::string actions;  // groups as id:actor:type:champion:state:turn
  int turnsBegun;
};

void Play(const std::vector<Step>& steps, std::int64_t localCell = 0) {
  ActionBuilder builder;
  std::vector<BindingProperty> actions;
  std::int32_t previous = 0;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const Step& step = steps[i];
    LCDS::GameDTO game;
    game.gameState = step.state;
    game.pickTurn = step.pickTurn;
    game.bannedChampions = step.bans;
    const int begun = builder.Build(actions, {game, step.mine, step.theirs, localCell, previous, false, false});
    EXPECT_EQ(ActionsJson(actions), step.actions) << "step " << i;
    EXPECT_EQ(begun, step.turnsBegun) << "step " << i;
    previous = game.pickTurn;
  }
}

TEST(ActionBuilder, BansShowWhatEachTurnDidAndPicksFollowTheSnake) {
  const char* pre = "PRE_CHAMP_SELECT";
  const char* pick = "CHAMP_SELECT";
  Play({
      // The local player (cell 0) bans first: its turn begins.
      {pre, 1, {}, {Player(0, 1)}, {Player(5, 0)}, "[1:0:ban:0:open:1 ]", 1},
      // Cell 0 banned 10; the other team's first banner's turn.
      {pre, 2, {{10, 100, 1}}, {Player(0, 1)}, {Player(5, 2)}, "[1:0:ban:10:done:1 ][2:5:ban:0:open:2 ]", 0},
      // Cell 5's turn expired without a ban: champion 0.
      {pre, 3, {{10, 100, 1}}, {Player(0, 1), Player(1, 3)}, {Player(5, 2)},
       "[1:0:ban:10:done:1 ][2:5:ban:0:done:2 ][3:1:ban:0:open:3 ]", 0},
      // The phase changes with cell 1's ban made: its open action takes the
      // last ban no action shows. Picks start, every turn known at once; a
      // new action carries the turn of the message that made it.
      {pick, 1, {{10, 100, 1}, {33, 100, 3}},
       {Player(0, 1, 7, 1), Player(1, 2)},
       {Player(5, 2)},
       "[1:0:ban:10:done:1 ][2:5:ban:0:done:2 ][3:1:ban:33:done:3 ][4:0:pick:7:open:1 ][5:1:pick:0:open:1 6:5:pick:0:open:1 ]",
       1},
      // Cell 0 locked; turn 2 runs.
      {pick, 2, {}, {Player(0, 1, 7, 2), Player(1, 2, 8, 1)}, {Player(5, 2, 9, 1)},
       "[1:0:ban:10:done:1 ][2:5:ban:0:done:2 ][3:1:ban:33:done:3 ][4:0:pick:7:done:1 ][5:1:pick:8:open:1 6:5:pick:9:open:1 ]",
       0},
      // The finalization closes every open pick.
      {"POST_CHAMP_SELECT", 3, {}, {}, {},
       "[1:0:ban:10:done:1 ][2:5:ban:0:done:2 ][3:1:ban:33:done:3 ][4:0:pick:7:done:1 ][5:1:pick:8:done:1 6:5:pick:9:done:1 ]",
       0},
  });
}

// The local player hovers a ban (the action shows it while open), then the
// platform records that ban: the action completes with it, not with 0.
TEST(ActionBuilder, AHoveredBanCompletesWithItsChampion) {
  ActionBuilder builder;
  std::vector<BindingProperty> actions;
  LCDS::GameDTO game;
  game.gameState = "PRE_CHAMP_SELECT";
  game.pickTurn = 1;
  const std::vector<Api::ChampSelectPlayerSelection> mine{Player(0, 1)}, theirs{Player(5, 0)};
  builder.Build(actions, {game, mine, theirs, 0, 0, false, false});
  actions[0].At(0).Field("championId").SetSigned(33);  // the hover, written by the command
  game.pickTurn = 2;
  game.bannedChampions = {{33, 100, 1}};
  builder.Build(actions, {game, mine, {Player(5, 2)}, 0, 1, false, false});
  EXPECT_EQ(ActionsJson(actions), "[1:0:ban:33:done:1 ][2:5:ban:0:open:2 ]");
}

TEST(ActionBuilder, BotsActOnceAndTurnsOutOfRangeAreSkipped) {
  Play({
      {"CHAMP_SELECT", 1, {}, {Player(0, 1), Player(1, 2147483647)}, {Player(5, 0, 40, 0, "BOT")},
       "[1:5:pick:40:done:1 2:0:pick:0:open:1 ]", 1},
      // Bots (sorted first: they have no turn) are not revisited once there
      // are actions.
      {"CHAMP_SELECT", 1, {}, {Player(0, 1, 3)}, {Player(5, 0, 41, 0, "BOT")}, "[1:5:pick:40:done:1 2:0:pick:3:open:1 ]",
       0},
      // A player whose turn is now behind the game's is done picking.
      {"CHAMP_SELECT", 2, {}, {Player(0, 1, 3), Player(1, -4)}, {}, "[1:5:pick:40:done:1 2:0:pick:3:done:1 ]", 0},
  });
}

}  // namespace
}  // namespace Vexa::Client::VoverOrevidAredez
