// The platform's game model on its own: the rules every message the plug-in
// reads depends on, checked on whole games played by the bots.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sim/game_dto.h"
#include "sim/json.h"
#include "sim/match.h"
#include "sim/scenario.h"
#include "sim/turn_order.h"

namespace TovSim {
namespace {

using ::testing::ElementsAre;

// One pushed message: the game as the local client saw it.
struct Message {
  int64_t lock;
  std::string state;
  int pickTurn;
  rapidjson::Document dto;
};

// Plays a game to its end on a clock of its own, keeping every message.
std::vector<Message> Play(const GamePlan& plan, DtoView view = {}, uint64_t seed = 1) {
  Micros now = 0;
  Scheduler scheduler([&] { return now; });
  std::vector<Message> messages;
  Game game(5000000001, plan.rules, plan.roster);
  game.onChange = [&](const Game& g, const std::string&) {
    const int seat = g.SeatOf(kLocalSummonerId);
    view.viewerTeam = seat >= 0 ? g.At(seat).team : 0;
    messages.push_back(Message{g.OptimisticLock(), StateName(g.State()), g.PickTurn(), ParseJson(GameDtoJson(g, view))});
  };
  Match match(scheduler, std::move(game), PoliciesOf(plan, LocalPlay::OnPlatform), seed, 1, MatchTiming{},
              plan.spectatorDelay);
  match.Start();
  while (scheduler.NextDue() != kNever && !match.GameNow().Ended()) {
    now = scheduler.NextDue();
    scheduler.RunOne();
  }
  return messages;
}

GamePlan Plan(const char* name) {
  Scenario scenario;
  EXPECT_TRUE(BuiltInScenario(name, 1, &scenario));
  return scenario.game;
}

const rapidjson::Value* Participant(const rapidjson::Value& dto, const char* internalName) {
  for (const char* team : {"teamOne", "teamTwo"})
    for (const rapidjson::Value& p : dto[team].GetArray())
      if (p.HasMember("summonerInternalName") && p["summonerInternalName"].GetString() == std::string(internalName))
        return &p;
  return nullptr;
}

int Member(const rapidjson::Value& object, const char* key) { return object.HasMember(key) ? object[key].GetInt() : -99; }

TEST(TurnOrder, BannersAlternateAndPicksSnake) {
  const struct {
    int turn;
    int team;
    int index;
  } banners[] = {{1, 1, 0}, {2, 2, 0}, {3, 1, 1}, {4, 2, 1}, {5, 1, 2}, {6, 2, 2}};
  for (const auto& row : banners) {
    EXPECT_EQ(BannerOfTurn(row.turn).team, row.team) << row.turn;
    EXPECT_EQ(BannerOfTurn(row.turn).index, row.index) << row.turn;
  }
  // 1-2-2-2-2-1: each turn's actors, team one's and team two's.
  std::vector<std::vector<std::pair<int, int>>> turns(kDraftPickTurns + 1);
  for (int team = 1; team <= 2; ++team)
    for (int index = 0; index < 5; ++index) turns[static_cast<size_t>(SnakePickTurn(team, index))].push_back({team, index});
  EXPECT_THAT(turns, ElementsAre(ElementsAre(), ElementsAre(std::pair{1, 0}), ElementsAre(std::pair{2, 0}, std::pair{2, 1}),
                                 ElementsAre(std::pair{1, 1}, std::pair{1, 2}), ElementsAre(std::pair{2, 2}, std::pair{2, 3}),
                                 ElementsAre(std::pair{1, 3}, std::pair{1, 4}), ElementsAre(std::pair{2, 4})));
}

// The draft table: lock 1 opens the bans with T1[0] revealed; locks 2 to 7
// each add one ban and reveal the next banner; lock 8 opens the picks with
// every pickTurn assigned; then hovers and locks; POST; START_REQUESTED.
TEST(DraftGame, FollowsTheTableOneMessagePerChange) {
  const std::vector<Message> messages = Play(Plan("draft"));
  ASSERT_GT(messages.size(), 30u);
  for (size_t i = 0; i < messages.size(); ++i) ASSERT_EQ(messages[i].lock, static_cast<int64_t>(i) + 1);

  const char* const banners[] = {"you", "rivalone", "matetwo", "rivaltwo", "matethree", "rivalthree"};
  for (int lock = 1; lock <= 7; ++lock) {
    const Message& m = messages[static_cast<size_t>(lock - 1)];
    SCOPED_TRACE("lock " + std::to_string(lock));
    EXPECT_EQ(m.state, "PRE_CHAMP_SELECT");
    EXPECT_EQ(m.pickTurn, lock);
    ASSERT_EQ(m.dto["bannedChampions"].Size(), static_cast<unsigned>(lock - 1));
    for (int k = 1; k < lock; ++k) {
      const rapidjson::Value& ban = m.dto["bannedChampions"][static_cast<unsigned>(k - 1)];
      EXPECT_EQ(ban["pickTurn"].GetInt(), k);
      EXPECT_EQ(ban["teamId"].GetInt(), k % 2 == 1 ? 100 : 200);
    }
    // A banner's pickTurn is 0 until their turn begins, then k for the phase.
    for (int k = 1; k <= 6; ++k)
      EXPECT_EQ(Member(*Participant(m.dto, banners[k - 1]), "pickTurn"), k <= lock ? k : 0) << banners[k - 1];
    EXPECT_EQ(Member(*Participant(m.dto, "matefour"), "pickTurn"), 0);
  }

  const Message& picks = messages[7];
  EXPECT_EQ(picks.state, "CHAMP_SELECT");
  EXPECT_EQ(picks.pickTurn, 1);
  const struct {
    const char* who;
    int pickTurn;
    int pickMode;
  } lock8[] = {{"you", 1, 1},       {"matetwo", 3, 0},  {"matethree", 3, 0}, {"matefour", 5, 0},  {"matefive", 5, 0},
               {"rivalone", 2, 0},  {"rivaltwo", 2, 0}, {"rivalthree", 4, 0}, {"rivalfour", 4, 0}, {"rivalfive", 6, 0}};
  for (const auto& row : lock8) {
    EXPECT_EQ(Member(*Participant(picks.dto, row.who), "pickTurn"), row.pickTurn) << row.who;
    EXPECT_EQ(Member(*Participant(picks.dto, row.who), "pickMode"), row.pickMode) << row.who;
  }

  // While picking: 0 before one's turn, 1 during it, 2 once locked in; a
  // turn ends only when all its actors are locked in.
  size_t i = 8;
  for (; i < messages.size() && messages[i].state == "CHAMP_SELECT"; ++i) {
    const Message& m = messages[i];
    for (const char* team : {"teamOne", "teamTwo"}) {
      for (const rapidjson::Value& p : m.dto[team].GetArray()) {
        const int turn = p["pickTurn"].GetInt(), mode = p["pickMode"].GetInt();
        const int expected = turn > m.pickTurn ? 0 : turn < m.pickTurn ? 2 : mode == 2 ? 2 : 1;
        EXPECT_EQ(mode, expected) << "lock " << m.lock << " turn " << turn;
      }
    }
  }
  ASSERT_LT(i + 1, messages.size());
  EXPECT_EQ(messages[i - 1].pickTurn, 7);  // the last lock moves past the last turn
  EXPECT_EQ(messages[i].state, "POST_CHAMP_SELECT");
  EXPECT_EQ(messages.back().state, "START_REQUESTED");
  for (const Message& m : messages) EXPECT_EQ(std::string(m.dto["statusOfParticipants"].GetString()), "1111111111");
}

// Blind pick hides the opponents: obfuscated, without selections; everyone
// is on turn 1. A bot queue's AI bots carry no summoner id and come with
// their champions.
TEST(GameViews, BlindHidesOpponentsAndBotsHaveNoSummonerId) {
  const std::vector<Message> blind = Play(Plan("blind"));
  ASSERT_FALSE(blind.empty());
  for (const Message& m : blind) {
    for (const rapidjson::Value& rival : m.dto["teamTwo"].GetArray()) {
      EXPECT_STREQ(rival["__class"].GetString(), "com.vexagames.platform.game.ObfuscatedParticipant");
      EXPECT_EQ(rival.MemberCount(), 2u);  // __class and gameUniqueId
    }
    EXPECT_EQ(m.dto["playerChampionSelections"].Size(), 5u);
    for (const rapidjson::Value& s : m.dto["playerChampionSelections"].GetArray())
      EXPECT_EQ(std::string(s["summonerInternalName"].GetString()).rfind("rival", 0), std::string::npos);
    if (m.state != "CHAMP_SELECT") continue;
    for (const rapidjson::Value& mate : m.dto["teamOne"].GetArray()) EXPECT_EQ(mate["pickTurn"].GetInt(), 1);
  }

  const std::vector<Message> bots = Play(Plan("bot"));
  ASSERT_FALSE(bots.empty());
  const rapidjson::Value& first = bots.front().dto;
  for (const rapidjson::Value& bot : first["teamTwo"].GetArray()) {
    EXPECT_STREQ(bot["__class"].GetString(), "com.vexagames.platform.game.BotParticipant");
    EXPECT_FALSE(bot.HasMember("summonerId"));
    EXPECT_EQ(bot["botSkillLevel"].GetInt(), 0);
    EXPECT_EQ(bot["pickTurn"].GetInt(), 1);
  }
  int botsWithChampions = 0;
  for (const rapidjson::Value& s : first["playerChampionSelections"].GetArray())
    botsWithChampions += std::string(s["summonerInternalName"].GetString()).rfind("easybot", 0) == 0 &&
                         s["championId"].GetInt() != 0;
  EXPECT_EQ(botsWithChampions, 5);
  EXPECT_EQ(bots.back().state, "START_REQUESTED");
}

// A pick turn that runs out with nothing hovered is a dodge: '0' at the
// dodger's position of the status string, or, with the knob, the dodger
// left out of their team and of the string, never both.
TEST(GameViews, DodgeStatusOrDropTheDodger) {
  const struct {
    int afkSeat;
    bool drop;
    const char* status;
    unsigned teamOne, teamTwo;
  } rows[] = {
      {7, false, "1111111011", 5, 5},  // Rival Three, on pick turn 4
      {7, true, "111111111", 5, 4},
      {3, false, "1110111111", 5, 5},  // Mate Four, on pick turn 5
      {3, true, "111111111", 4, 5},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE("seat " + std::to_string(row.afkSeat) + (row.drop ? " dropped" : ""));
    GamePlan plan = Plan("draft");
    plan.seats[static_cast<size_t>(row.afkSeat)] = SeatPlan{PolicyKind::Afk};
    DtoView view;
    view.dropDodgers = row.drop;
    const std::vector<Message> messages = Play(plan, view);
    const Message& last = messages.back();
    EXPECT_EQ(last.state, "TERMINATED");
    EXPECT_EQ(last.dto["statusOfParticipants"].GetString(), std::string(row.status));
    EXPECT_EQ(last.dto["teamOne"].Size(), row.teamOne);
    EXPECT_EQ(last.dto["teamTwo"].Size(), row.teamTwo);
    // The dodger's ban turn had passed with no ban before.
    EXPECT_EQ(last.dto["bannedChampions"].Size(), row.afkSeat == 7 ? 5u : 6u);
  }
}

// The same seed plays the same game; another makes other choices.
TEST(DraftGame, SeedsDecideTheBots) {
  const auto game = [](uint64_t seed) {
    std::vector<std::string> messages;
    for (const Message& m : Play(Plan("draft"), {}, seed)) messages.push_back(ToJson(m.dto));
    return messages;
  };
  EXPECT_EQ(game(7), game(7));
  EXPECT_NE(game(7), game(8));
}

}  // namespace
}  // namespace TovSim
