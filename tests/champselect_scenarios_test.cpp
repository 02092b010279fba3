// Whole champion selects played by the built plug-in against the simulated
// platform: what the plug-in asked, published and logged, read back from the
// game's trace.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sim/json.h"
#include "sim/roster.h"
#include "sim/scenario.h"
#include "sim/simulation.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr const char* kPrefix = "tov-vover-orevid-aredez: ";
constexpr const char* kOwn = "/tov-vover-orevid-aredez/v1/";

struct Played {
  std::vector<rapidjson::Document> lines;
  TovSim::Simulation::Outcome outcome;

  // "+State" and "-State" in the order the machine entered and left them.
  std::vector<std::string> States() const {
    std::vector<std::string> out;
    for (const std::string& message : Logs()) {
      for (const auto& [marker, sign] : {std::pair{"ChampSelect: entering state '", "+"},
                                         std::pair{"ChampSelect: exiting state '", "-"}}) {
        const std::string prefix = marker;
        if (message.rfind(prefix, 0) == 0) out.push_back(sign + message.substr(prefix.size(), message.size() - prefix.size() - 1));
      }
    }
    return out;
  }
  // The plug-in's own lines, without its name.
  std::vector<std::string> Logs() const {
    std::vector<std::string> out;
    for (const auto& line : lines) {
      if (std::string(line["kind"].GetString()) != "log") continue;
      std::string message = line["message"].GetString();
      if (message.rfind(kPrefix, 0) == 0) message.erase(0, std::char_traits<char>::length(kPrefix));
      out.push_back(message);
    }
    return out;
  }
  // "METHOD url args" of every request but reads.
  std::vector<std::string> Requests() const {
    std::vector<std::string> out;
    for (const auto& line : lines) {
      if (std::string(line["kind"].GetString()) != "request" || std::string(line["method"].GetString()) == "GET")
        continue;
      out.push_back(std::string(line["method"].GetString()) + " " + line["url"].GetString() + " " +
                    TovSim::ToJson(line["args"]));
    }
    return out;
  }
  // Every publication of the plug-in's own resources, "resource Type", once
  // each (the copy under the general event name left out).
  std::vector<const rapidjson::Value*> Publications() const {
    std::vector<const rapidjson::Value*> out;
    for (const auto& line : lines)
      if (std::string(line["kind"].GetString()) == "event" && std::string(line["name"].GetString()) != "OnJsonApiEvent")
        out.push_back(&line["payload"]);
    return out;
  }
  static std::string Name(const rapidjson::Value* publication) {
    return std::string((*publication)["uri"].GetString()).substr(std::char_traits<char>::length(kOwn)) + " " +
           (*publication)["eventType"].GetString();
  }
  // The session as last published before its Delete.
  const rapidjson::Value* LastSession() const {
    const rapidjson::Value* last = nullptr;
    for (const auto* p : Publications())
      if (Name(p) == "session Update" || Name(p) == "session Create") last = &(*p)["data"];
    return last;
  }
  // The answers to reads (a step's; the local player's own are writes).
  std::vector<std::string> Answers() const {
    std::vector<std::string> out;
    for (const auto& line : lines)
      if (std::string(line["kind"].GetString()) == "answer" && std::string(line["method"].GetString()) == "GET")
        out.push_back(std::to_string(line["status"].GetInt()) + " " + TovSim::ToJson(line["body"]));
    return out;
  }
  std::size_t Count(const std::vector<std::string>& texts, const std::string& part) const {
    return std::count_if(texts.begin(), texts.end(), [&](const std::string& t) { return t.find(part) != std::string::npos; });
  }
};

Played Play(TovSim::Scenario scenario, std::vector<TovSim::Step> steps = {}) {
  TovSim::Simulation sim(std::move(scenario), std::move(steps));
  sim.GetTrace().Keep(true);
  Played played;
  played.outcome = sim.Run(TOV_PLUGIN_PATH);
  for (const std::string& line : sim.GetTrace().Lines()) played.lines.push_back(TovSim::ParseJson(line));
  return played;
}

TovSim::Scenario Scenario(const char* name, std::uint64_t seed = 1) {
  TovSim::Scenario scenario;
  EXPECT_TRUE(TovSim::BuiltInScenario(name, seed, &scenario)) << name;
  return scenario;
}

TEST(Scenarios, ADraftFromQueuePopToGameStart) {
  const Played draft = Play(Scenario("draft"), {{135.5, "GET", "/tov-vover-orevid-aredez/v1/session", "", ""}});
  ASSERT_EQ(draft.outcome, TovSim::Simulation::Outcome::Ended);
  EXPECT_THAT(draft.States(),
              ElementsAre("+ChampSelect", "+NotSelecting", "+NoSelections",            // start
                          "-NoSelections", "-NotSelecting", "+Selecting", "+SelectingBans",  // bans
                          "-SelectingBans", "+SelectingTrades",                         // finalization
                          "-SelectingTrades", "-Selecting", "+NotSelecting", "+NoSelections",  // start requested
                          "-NoSelections", "-NotSelecting", "-ChampSelect"));           // shutdown
  const auto requests = draft.Requests();
  EXPECT_EQ(draft.Count(requests, R"(["gameService","setClientReceivedGameMessage",[5000000001,"CHAMP_SELECT_CLIENT"]])"), 1u);
  EXPECT_EQ(draft.Count(requests, "requestSelectedWardSkin"), 1u);
  EXPECT_EQ(draft.Count(requests, "GAMEFLOW_EVENT.ENTERED_CHAMP_SELECT"), 1u);

  // Bans and picks as the session showed them last.
  const rapidjson::Value& session = *draft.LastSession();
  std::vector<int> bans, banActions;
  for (const auto& ban : session["bans"]["myTeamBans"].GetArray()) bans.push_back(ban.GetInt());
  for (const auto& ban : session["bans"]["theirTeamBans"].GetArray()) bans.push_back(ban.GetInt());
  EXPECT_EQ(session["bans"]["myTeamBans"].Size(), 3u);
  EXPECT_EQ(session["bans"]["theirTeamBans"].Size(), 3u);
  std::int64_t nextId = 1;
  for (const auto& group : session["actions"].GetArray()) {
    for (const auto& action : group.GetArray()) {
      EXPECT_EQ(action["id"].GetInt64(), nextId++);
      EXPECT_TRUE(action["completed"].GetBool()) << TovSim::ToJson(action);
      if (std::string(action["type"].GetString()) == "ban") banActions.push_back(action["championId"].GetInt());
      else EXPECT_NE(action["championId"].GetInt(), 0);
    }
  }
  std::sort(bans.begin(), bans.end());
  std::sort(banActions.begin(), banActions.end());
  EXPECT_EQ(banActions, bans);

  // The timer's phases, then the end: four Deletes, inactive, and nothing after.
  std::vector<std::string> phases;
  for (const auto* p : draft.Publications()) {
    if (draft.Name(p) != "session Update") continue;
    const std::string phase = (*p)["data"]["timer"]["phase"].GetString();
    if (!phase.empty() && (phases.empty() || phases.back() != phase)) phases.push_back(phase);
  }
  EXPECT_THAT(phases, ElementsAre("BAN_PICK", "FINALIZATION", "GAME_STARTING"));
  std::vector<std::string> tail;
  const auto all = draft.Publications();
  for (auto it = all.end() - 5; it != all.end(); ++it) tail.push_back(draft.Name(*it));
  EXPECT_THAT(tail, ElementsAre("session Delete", "pickable-champions Delete", "bannable-champions Delete",
                                "team-boost Delete", "implementation-active Update"));
  EXPECT_FALSE((*all.back())["data"].GetBool());
  EXPECT_THAT(draft.Answers(), ElementsAre(R"(404 "Not in Champ Select")"));
}

// Each row: a scenario and what must be seen in what the plug-in did.
TEST(Scenarios, EveryScenarioShowsItsWay) {
  const auto local = [] {
    TovSim::Scenario s = Scenario("draft");
    s.game.roster = TovSim::StandardRoster(2);
    s.game.seats = TovSim::SeatsFor(s.game.roster);
    return s;
  };
  const auto silentWardSkins = [] {
    TovSim::Scenario s = Scenario("draft");
    s.faults.proxy.push_back({"requestSelectedWardSkin", TovSim::ProxyFault::Kind::Never});
    return s;
  };
  const auto neverLaunched = [] {
    TovSim::Scenario s = Scenario("training");
    s.game.local.launch = false;
    return s;
  };
  const struct {
    const char* what;
    TovSim::Scenario scenario;
    std::vector<std::string> states;  // the first ones after the start
    std::vector<std::string> logs;    // lines that must be there
    std::vector<std::string> requests;
  } rows[] = {
      {"blind", Scenario("blind"), {"-NoSelections", "-NotSelecting", "+Selecting", "+SelectingChamps"}, {}, {}},
      {"local player in team two", local(), {"-NoSelections", "-NotSelecting", "+Selecting", "+SelectingBans"}, {},
       {}},
      {"dodge", Scenario("dodge"), {}, {"Detected STRANGER dodge in legacy champ select."},
       {R"(POST /tov-gameflow/v1/session/dodge [{"dodgeIds":[],"state":"StrangerDodged"}])"}},
      {"custom lobby", Scenario("custom"), {}, {"CHAMP_SELECT_EVENT.RETURN_TO_LOBBY"},
       {R"(POST /tov-gameflow/v1/session/event ["GAMEFLOW_EVENT.QUIT_TO_LOBBY"])"}},
      {"reconnect", Scenario("reconnect"), {}, {"Reconnect detected."},
       {R"(POST /tov-login/v1/session/invoke ["gameService","retrieveInProgressGameInfo",[]])"}},
      {"bot queue", Scenario("bot"), {"-NoSelections", "-NotSelecting", "+Selecting"}, {}, {}},
      {"spectator", Scenario("spectate"), {}, {"CHAMP_SELECT_EVENT.START_REQUESTED"}, {}},
      {"reroll", Scenario("reroll"), {}, {},
       {R"(POST /tov-login/v1/session/invoke ["lcdsRerollService","roll",[]])"}},
      {"battle training, launched", Scenario("training"), {}, {},
       {R"(POST /tov-login/v1/session/invoke ["gameService","championSelectCompleted",[]])"}},
      {"battle training, never launched", neverLaunched(), {}, {"CHAMP_SELECT_EVENT.TERMINATED"},
       {R"(POST /tov-login/v1/session/invoke ["gameService","quitGame",[]])",
        "POST /tov-gameflow/v1/battle-training/stop []"}},
      {"a ward skin that never answers", silentWardSkins(), {},
       {"Failed to request selected ward skin: No answer to service proxy request "
        "wardSkins.requestSelectedWardSkin within 3 seconds"},
       {}},
  };
  for (const auto& row : rows) {
    const Played played = Play(row.scenario);
    EXPECT_EQ(played.outcome, TovSim::Simulation::Outcome::Ended) << row.what;
    const auto states = played.States();
    for (std::size_t i = 0; i < row.states.size(); ++i)
      EXPECT_EQ(states.at(3 + i), row.states[i]) << row.what << " state " << i;
    const auto logs = played.Logs();
    for (const std::string& log : row.logs) EXPECT_GE(played.Count(logs, log), 1u) << row.what << ": " << log;
    const auto requests = played.Requests();
    for (const std::string& request : row.requests)
      EXPECT_GE(played.Count(requests, request), 1u) << row.what << ": " << request;
    // Never an update of a session after its Delete.
    bool deleted = false;
    for (const auto* p : played.Publications()) {
      const std::string name = Played::Name(p);
      if (name == "session Delete") deleted = true;
      if (name == "session Create") deleted = false;
      EXPECT_FALSE(deleted && name == "session Update") << row.what;
    }
  }
}

TEST(Scenarios, WhatEachSideOfTheGameSees) {
  // Team two: its bans are "mine", its cells come first.
  TovSim::Scenario two = Scenario("draft");
  two.game.roster = TovSim::StandardRoster(2);
  two.game.seats = TovSim::SeatsFor(two.game.roster);
  const Played teamTwo = Play(two);
  const rapidjson::Value& session = *teamTwo.LastSession();
  EXPECT_EQ(session["localPlayerCellId"].GetInt(), 0);
  EXPECT_EQ(session["myTeam"][0]["team"].GetInt(), 2);
  EXPECT_EQ(session["theirTeam"][0]["cellId"].GetInt(), 5);
  EXPECT_THAT(std::string(session["chatDetails"]["chatRoomName"].GetString()), ::testing::StartsWith("c2~"));

  // The spectator watches the start of a game it is not in.
  const Played spectate = Play(Scenario("spectate"));
  const rapidjson::Value& watched = *spectate.LastSession();
  EXPECT_EQ(watched["localPlayerCellId"].GetInt(), -1);
  EXPECT_TRUE(watched["isSpectating"].GetBool());
  EXPECT_EQ(std::string(watched["timer"]["phase"].GetString()), "GAME_STARTING");
  EXPECT_EQ(watched["timer"]["timeLeftInPhase"].GetInt64(), 180000);

  // Blind: hidden opponents have no names.
  const Played blind = Play(Scenario("blind"));
  for (const auto& opponent : (*blind.LastSession())["theirTeam"].GetArray())
    EXPECT_EQ(std::string(opponent["displayName"].GetString()), "");
}

TEST(Scenarios, TheLocalPlayerPlaysThroughTheRoutes) {
  // A draft: the ban and the pick hovered and completed, then the selection.
  std::vector<std::string> routes;
  const Played draft = Play(Scenario("draft"));
  for (const auto& line : draft.lines)
    if (std::string(line["kind"].GetString()) == "answer")
      routes.push_back(std::string(line["method"].GetString()) + " " +
                       std::string(line["path"].GetString()).substr(std::char_traits<char>::length(kOwn)) + " " +
                       std::to_string(line["status"].GetInt()));
  EXPECT_THAT(routes, ElementsAre("PATCH session/actions/1 0", "POST session/actions/1/complete 0",
                                  ::testing::MatchesRegex("PATCH session/actions/[0-9]+ 0"),
                                  ::testing::MatchesRegex("POST session/actions/[0-9]+/complete 0"),
                                  "PATCH session/my-selection 0"));
  // The reroll queue: one roll, then one the bank cannot pay.
  const Played reroll = Play(Scenario("reroll"));
  std::vector<std::string> answers;
  for (const auto& line : reroll.lines)
    if (std::string(line["kind"].GetString()) == "answer" &&
        std::string(line["path"].GetString()).ends_with("/reroll"))
      answers.push_back(std::to_string(line["status"].GetInt()) + " " + TovSim::ToJson(line["body"]));
  EXPECT_THAT(answers, ElementsAre("0 null", HasSubstr("Not enough points to reroll")));
}

// Every trade path and the boost, played by the plug-in against the
// platform's desks: the states the client saw, what the plug-in asked, and
// its answers to the local player. The platform may send an accepted
// trade's contract before or after the game that swaps the champions.
TEST(Scenarios, TradesAndTheTeamBoost) {
  for (const bool gameFirst : {false, true}) {
    SCOPED_TRACE(gameFirst ? "game before contract" : "contract before game");
    TovSim::Scenario scenario = Scenario("trades");
    scenario.faults.desks.gameBeforeAccepted = gameFirst;
    const Played played = Play(scenario);
    ASSERT_EQ(played.outcome, TovSim::Simulation::Outcome::Ended);
    // The two messages of the swap arrive at one instant, in the order asked.
    std::vector<std::string> swap;
    double at = -1;
    for (const auto& line : played.lines) {
      if (std::string(line["kind"].GetString()) != "push") continue;
      const std::string payload = TovSim::ToJson(line["payload"]);
      if (payload.find(R"("state":"ACCEPTED")") != std::string::npos) at = line["t"].GetDouble();
    }
    for (const auto& line : played.lines)
      if (std::string(line["kind"].GetString()) == "push" && line["t"].GetDouble() == at)
        swap.push_back(TovSim::ToJson(line["payload"]).find("ACCEPTED") != std::string::npos ? "contract" : "game");
    EXPECT_THAT(swap, gameFirst ? ElementsAre("game", "contract") : ElementsAre("contract", "game"));
    // The trades as each publication of the session showed them, repeats
    // left out: the offer found the mate busy, then went through; a mate's
    // offer declined, another withdrawn.
    std::vector<std::string> shown;
    for (const auto* publication : played.Publications()) {
      if (Played::Name(publication).rfind("session", 0) != 0 || !(*publication)["data"].IsObject()) continue;
      std::string trades;
      for (const auto& trade : (*publication)["data"]["trades"].GetArray())
        trades += std::string(trades.empty() ? "" : " ") + trade["state"].GetString();
      if (shown.empty() || shown.back() != trades) shown.push_back(trades);
    }
    EXPECT_THAT(shown, ElementsAre("", "INVALID INVALID INVALID INVALID",
                                   "AVAILABLE AVAILABLE AVAILABLE INVALID",   // finalization
                                   "AVAILABLE AVAILABLE SENT INVALID",        // offer to Mate Four
                                   "AVAILABLE AVAILABLE BUSY INVALID",        // busy with Mate Five
                                   "AVAILABLE AVAILABLE AVAILABLE INVALID",
                                   "AVAILABLE AVAILABLE SENT INVALID",        // offered again
                                   "AVAILABLE AVAILABLE AVAILABLE INVALID",   // accepted and swapped
                                   "AVAILABLE RECEIVED AVAILABLE INVALID",    // Mate Three offers
                                   "AVAILABLE AVAILABLE AVAILABLE INVALID",   // declined: refreshed,
                                   "AVAILABLE INVALID AVAILABLE INVALID",     // then the contract
                                   "RECEIVED INVALID AVAILABLE INVALID",      // Mate Two offers
                                   "AVAILABLE INVALID AVAILABLE INVALID"));   // and withdraws
    std::vector<std::string> calls;
    for (const std::string& request : played.Requests())
      if (request.find("TradeService") != std::string::npos || request.find("SkinsForTeam") != std::string::npos ||
          request.find("TeamSkinRental") != std::string::npos)
        calls.push_back(request.substr(request.find("[\"") + 1));
    EXPECT_THAT(calls, ElementsAre(R"("lcdsChampionTradeService","getPotentialTraders",[]])",
                                   R"("gameService","initializeTeamSkinRental",["VP"]])",
                                   R"("gameService","unlockSkinsForTeam",["VP"]])",
                                   R"("lcdsChampionTradeService","attemptTrade",["matefour",16,false]])",
                                   R"("lcdsChampionTradeService","attemptTrade",["matefour",16,false]])",
                                   R"("lcdsChampionTradeService","getPotentialTraders",[]])",
                                   R"("lcdsChampionTradeService","dismissTrade",[]])",
                                   R"("lcdsChampionTradeService","getPotentialTraders",[]])"));
    std::vector<std::string> answers, boosts;
    for (const auto& line : played.lines) {
      if (std::string(line["kind"].GetString()) == "answer" && std::string(line["path"].GetString()).find("trade") != std::string::npos)
        answers.push_back(std::to_string(line["status"].GetInt()) + " " + TovSim::ToJson(line["body"]));
    }
    for (const auto* publication : played.Publications()) {
      if (Played::Name(publication).rfind("team-boost", 0) != 0) continue;
      const auto& data = (*publication)["data"];
      boosts.push_back(Played::Name(publication) +
                       (data.IsObject() ? std::string(" ") + data["summonerName"].GetString() + " " +
                                              (data["unlocked"].GetBool() ? "unlocked" : "locked")
                                        : ""));
    }
    EXPECT_THAT(answers, ElementsAre(R"(0 {"cellId":3,"id":103,"state":"SENT"})", R"(0 {"cellId":3,"id":103,"state":"SENT"})",
                                     "0 null"));
    EXPECT_THAT(boosts, ElementsAre("team-boost Create  locked", "team-boost Update You unlocked", "team-boost Delete"));
    // The swap as the session showed it last: the local player holds Mate Four's champion.
    const rapidjson::Value& last = *played.LastSession();
    EXPECT_EQ(last["myTeam"][0]["championId"].GetInt(), 16);
    EXPECT_EQ(last["myTeam"][3]["championId"].GetInt(), 6);
  }
}

TEST(Scenarios, TheSameSeedPlaysTheSameGame) {
  const Played first = Play(Scenario("dodge", 7));
  const Played again = Play(Scenario("dodge", 7));
  ASSERT_EQ(first.lines.size(), again.lines.size());
  for (std::size_t i = 0; i < first.lines.size(); ++i)
    ASSERT_EQ(TovSim::ToJson(first.lines[i]), TovSim::ToJson(again.lines[i])) << "line " << i;
}

}  // namespace
