// Whole games against the built plug-in: the trace is complete, ordered and
// exact, injections land inside the plug-in's own calls, and the command
// line keeps its promises.
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "sim/json.h"
#include "sim/simulation.h"

namespace TovSim {
namespace {

using ::testing::HasSubstr;

std::vector<rapidjson::Document> Parsed(const std::vector<std::string>& lines) {
  std::vector<rapidjson::Document> parsed;
  for (const std::string& line : lines) {
    parsed.push_back(ParseJson(line));
    EXPECT_FALSE(parsed.back().HasParseError()) << line;
  }
  return parsed;
}

// Plays a scenario in this process and returns its trace.
std::vector<rapidjson::Document> Play(Scenario scenario, std::vector<Step> steps = {},
                                      Simulation::Outcome expected = Simulation::Outcome::Ended) {
  Simulation simulation(std::move(scenario), std::move(steps));
  simulation.GetTrace().Keep(true);
  EXPECT_EQ(simulation.Run(TOV_PLUGIN_PATH), expected) << simulation.Failure();
  return Parsed(simulation.GetTrace().Lines());
}

Scenario BuiltIn(const char* name, uint64_t seed = 1) {
  Scenario scenario;
  EXPECT_TRUE(BuiltInScenario(name, seed, &scenario));
  return scenario;
}

std::string Text(const rapidjson::Value& line, const char* key) {
  return line.HasMember(key) && line[key].IsString() ? line[key].GetString() : "";
}

bool IsGamePush(const rapidjson::Value& line) {
  return Text(line, "kind") == "push" && Text(line, "name") == "OnLcdsEvent_com_vexagames_platform_game_GameDTO";
}

// Every line has a time that never goes back and one of the kinds with its
// fields, the last "end"; the plug-in receives every game message once,
// locks 1, 2, 3, …
TEST(Simulation, DraftTraceIsCompleteAndOrdered) {
  const std::vector<rapidjson::Document> trace = Play(BuiltIn("draft"));
  ASSERT_FALSE(trace.empty());
  const std::map<std::string, std::vector<const char*>> fields = {
      {"request", {"method", "url", "args", "body"}}, {"event", {"name", "payload"}}, {"push", {"name", "payload"}},
      {"log", {"level", "message"}},                  {"answer", {"method", "path", "status", "body"}},
      {"reply", {"status"}},                          {"call", {"method", "path", "body", "contentType"}},
      {"clock", {}},                                  {"shutdown", {}},
      {"end", {}}};
  double last = 0;
  int64_t lock = 0;
  std::string lastState;
  for (const rapidjson::Document& line : trace) {
    ASSERT_TRUE(line.HasMember("t") && line["t"].IsNumber());
    EXPECT_GE(line["t"].GetDouble(), last);
    last = line["t"].GetDouble();
    const auto kind = fields.find(Text(line, "kind"));
    ASSERT_NE(kind, fields.end()) << ToJson(line);
    for (const char* field : kind->second) EXPECT_TRUE(line.HasMember(field)) << kind->first << " " << field;
    if (IsGamePush(line)) {
      EXPECT_EQ(line["payload"]["body"]["optimisticLock"].GetInt64(), ++lock);
      lastState = line["payload"]["body"]["gameState"].GetString();
    }
  }
  EXPECT_GT(lock, 30);
  EXPECT_EQ(lastState, "START_REQUESTED");
  EXPECT_EQ(Text(trace.back(), "kind"), "end");
}

// The plug-in's clocks are the game's: every wall-clock time it publishes is
// the epoch plus the virtual time of one of its timer refreshes (a real clock
// would land between them), and the UX timer it arms 10 s before the deadline
// of a 29 999.9 ms answer is due in exactly 19.999 s.
TEST(Simulation, ThePluginReadsTheGameClock) {
  Simulation simulation(BuiltIn("draft"));
  simulation.GetTrace().Keep(true);
  ASSERT_EQ(simulation.Run(TOV_PLUGIN_PATH), Simulation::Outcome::Ended);
  std::set<uint64_t> refreshes{0};  // milliseconds since the epoch
  int published = 0;
  for (const rapidjson::Document& line : Parsed(simulation.GetTrace().Lines())) {
    const auto millis = static_cast<uint64_t>(std::llround(line["t"].GetDouble() * 1000));
    if (Text(line, "kind") == "push") refreshes.insert(Clock::kEpochSeconds * 1000 + millis);
    if (Text(line, "kind") != "event" || Text(line["payload"], "uri") != "/tov-vover-orevid-aredez/v1/session") continue;
    const rapidjson::Value& data = line["payload"]["data"];
    if (!data.IsObject() || !data.HasMember("timer")) continue;
    ++published;
    EXPECT_EQ(refreshes.count(data["timer"]["internalNowInEpochMs"].GetUint64()), 1u) << ToJson(data["timer"]);
  }
  EXPECT_GT(published, 10);
  int uxTimers = 0;
  for (const TovHost::ScheduledRecord& record : simulation.Core().Scheduled()) {
    if (record.label.find("show-ux") == std::string::npos) continue;
    ++uxTimers;
    EXPECT_DOUBLE_EQ(record.delaySeconds, 19.999) << record.label;
  }
  EXPECT_GT(uxTimers, 0);
}

// Where an injection lands: the line right after the plug-in's call.
TEST(Simulation, InjectionsLandInsideThePluginsCalls) {
  const auto lineAfter = [](const std::vector<rapidjson::Document>& trace, const std::string& call, int nth) {
    for (size_t i = 0; i + 1 < trace.size(); ++i)
      if (Text(trace[i], "kind") == "request" && ToJson(trace[i]["args"]).find(call) != std::string::npos && --nth == 0)
        return ToJson(trace[i + 1]);
    return std::string("no such call");
  };
  {
    // A resource event inside the acknowledgement.
    Scenario scenario = BuiltIn("draft");
    Injection injection;
    injection.inside = Injection::Inside::Request;
    injection.match = "gameService.setClientReceivedGameMessage";
    injection.uri = "/tov-login/v1/session";
    injection.json = R"({"state":"SUCCEEDED","summonerId":1001,"accountId":9001,"connected":false})";
    scenario.faults.injections.push_back(injection);
    EXPECT_THAT(lineAfter(Play(scenario), "setClientReceivedGameMessage", 1),
                HasSubstr(R"("kind":"push","name":"OnJsonApiEvent_tov-login_v1_session","payload":{"uri":"/tov-login/v1/session","eventType":"Update","data":{"state":"SUCCEEDED","summonerId":1001,"accountId":9001,"connected":false})"));
  }
  {
    // Push 3 held back and handed over inside the next timer query, which
    // follows push 4: the plug-in then holds a newer game than it is given.
    Scenario scenario = BuiltIn("draft");
    Injection injection;
    injection.inside = Injection::Inside::Request;
    injection.match = "gameService.getCurrentTimerForGame";
    injection.heldPush = 3;
    scenario.faults.injections.push_back(injection);
    const std::vector<rapidjson::Document> trace = Play(scenario);
    EXPECT_THAT(lineAfter(trace, "getCurrentTimerForGame", 3), HasSubstr(R"("optimisticLock":3,)"));
    std::vector<int64_t> locks;
    for (const rapidjson::Document& line : trace)
      if (IsGamePush(line) && locks.size() < 4) locks.push_back(line["payload"]["body"]["optimisticLock"].GetInt64());
    EXPECT_EQ(locks, (std::vector<int64_t>{1, 2, 4, 3}));
  }
  {
    // A resource event inside the second pump of the ward-skin wait, the
    // answer being held for three.
    Scenario scenario = BuiltIn("draft");
    ProxyFault hold;
    hold.method = "requestSelectedWardSkin";
    hold.kind = ProxyFault::Kind::HoldPumps;
    hold.amount = 3;
    scenario.faults.proxy.push_back(hold);
    Injection injection;
    injection.inside = Injection::Inside::Pump;
    injection.nth = 2;
    injection.uri = "/tov-gameflow/v1/session";
    injection.json = R"({"phase":"None"})";
    scenario.faults.injections.push_back(injection);
    const std::vector<rapidjson::Document> trace = Play(scenario);
    std::vector<std::string> order;
    for (const rapidjson::Document& line : trace) {
      const std::string text = ToJson(line);
      if (text.find(R"("requestSelectedWardSkin")") != std::string::npos) order.push_back("request");
      if (text.find(R"("phase":"None")") != std::string::npos) order.push_back("phase None");
      if (IsGamePush(line) || text.find("receiveSelectedWardSkin") == std::string::npos) continue;
      if (Text(line, "kind") == "push") order.push_back("answer");
    }
    order.resize(std::min<size_t>(order.size(), 3));
    EXPECT_EQ(order, (std::vector<std::string>{"request", "phase None", "answer"}));
  }
}

// Each built-in scenario plays to its end and does what makes it itself, as
// seen in the trace: the platform's side only.
TEST(Simulation, EveryScenarioPlaysItsStory) {
  const auto find = [](const std::vector<std::string>& texts, const std::string& part) {
    for (const std::string& text : texts)
      if (text.find(part) != std::string::npos) return true;
    return false;
  };
  const struct {
    const char* name;
    std::vector<std::string> present;  // parts of lines that must be there
    std::vector<std::string> absent;
  } rows[] = {
      {"draft", {R"("gameState":"POST_CHAMP_SELECT")", R"("phase":"InProgress","gameClient":{"running":true,"visible":true})"}, {R"("gameState":"TERMINATED")"}},
      {"blind", {"ObfuscatedParticipant", R"("gameState":"START_REQUESTED")"}, {R"("summonerInternalName":"rivalone")", "PRE_CHAMP_SELECT"}},
      {"custom",
       {R"("gameState":"TEAM_SELECT","queueTypeName":"NONE","roomName":"custom-5000000001","roomPassword":"pw1")",
        R"("statusOfParticipants":"111111111")"},
       {R"("gameState":"POST_CHAMP_SELECT")"}},
      {"bot", {"BotParticipant", R"("queueTypeName":"COOP_5x5_BOT")", R"("gameState":"START_REQUESTED")"}, {}},
      {"spectate", {R"("eventType":"Update","data":{"game":{)", R"("reconnectDelay":180})", R"("spectatorDelay":180)"},
       {"OnLcdsEvent_com_vexagames_platform_game_GameDTO", R"("summonerId":1001,"pickMode")"}},
      {"dodge",
       {R"("gameState":"TERMINATED")", R"("statusOfParticipants":"1111111011")", R"("phase":"Matchmaking")",
        R"("id":5000000002,"gameState":"PRE_CHAMP_SELECT")"},
       {}},
      {"reconnect",
       {R"("connected":false)", R"("connected":true)", R"(["gameService","retrieveInProgressGameInfo",[]])"},
       {R"("gameState":"TERMINATED")"}},
      {"reroll", {R"("queueTypeName":"RANDOM_5x5")", R"(["lcdsRerollService","roll",[]])", R"("gameState":"START_REQUESTED")"},
       {"PRE_CHAMP_SELECT", R"("championId":0,"selectedSkinIndex")"}},
      {"training",
       {R"("data":{"championIds":[22,86]})", R"("isInfinite":true)", "BotParticipant", R"("gameState":"START_REQUESTED")"},
       {"PRE_CHAMP_SELECT", "POST_CHAMP_SELECT", "quitGame"}},
      {"trades",
       {R"("state":"BUSY")", R"("requesterInternalSummonerName":"you","responderInternalSummonerName":"matefour")",
        R"("state":"ACCEPTED")", R"(/session/trades/102/decline")", R"("state":"DECLINED")", R"("state":"CANCELED")",
        R"(["gameService","unlockSkinsForTeam",["VP"]])", R"("summonerName":"You","skinUnlockMode":"TEAM")",
        R"("gameState":"START_REQUESTED")"},
       {R"("status":500)", R"("status":4)"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<std::string> texts;
    // The core's own replies (a 404 for a resource nobody set) are not the
    // game's story.
    for (const rapidjson::Document& line : Play(BuiltIn(row.name)))
      if (std::string(line["kind"].GetString()) != "reply") texts.push_back(ToJson(line));
    for (const std::string& part : row.present) EXPECT_TRUE(find(texts, part)) << part;
    for (const std::string& part : row.absent) EXPECT_FALSE(find(texts, part)) << part;
  }
}

// The local player plays through the plug-in's routes alone: each request
// answered in the trace, in order, and the platform doing what they asked
// (the plug-in's calls, in order); the same seed plays the same game again.
TEST(Simulation, TheLocalPlayerPlaysThroughTheRoutes) {
  const auto training = [](bool launch) {
    Scenario scenario = BuiltIn("training");
    scenario.game.local.launch = launch;
    return scenario;
  };
  const std::string own = "/tov-vover-orevid-aredez/v1/";
  const struct {
    const char* what;
    Scenario scenario;
    std::vector<std::array<const char*, 3>> answers;  // method, path after the prefix, a part of the body; in order
    std::vector<std::string> calls;    // parts of the plug-in's platform calls, in order
    std::vector<std::string> absent;   // in the whole trace
    const char* lastState;
  } rows[] = {
      {"draft",
       BuiltIn("draft"),
       {{{"PATCH", "session/actions/1", "null"}},
        {{"POST", "session/actions/1/complete", "null"}},
        {{"PATCH", "session/actions/", "null"}},
        {{"POST", "/complete", "null"}},
        {{"PATCH", "session/my-selection", "null"}}},
       {R"(["gameService","banChampion",[33]])", R"(["gameService","selectChampion",[7]])",
        R"(["gameService","championSelectCompleted",[]])", R"(["gameService","selectSpells",[104,107]])",
        R"("selectWardSkin","receiveSelectionConfirmation","receiveWardSkinServiceError",)",
        R"(["gameService","selectChampionSkin",[7,7002]])"},
       {R"("status":500)", R"("status":4)"},
       "START_REQUESTED"},
      {"reroll",
       BuiltIn("reroll"),
       {{{"POST", "session/my-selection/reroll", "null"}},
        {{"POST", "session/my-selection/reroll", "Not enough points to reroll"}},
        {{"PATCH", "session/my-selection", "null"}}},
       {R"(["lcdsRerollService","roll",[]])", R"(["lcdsRerollService","roll",[]])",
        R"(["gameService","selectSpells",[104,107]])"},
       {"/session/actions/"},
       "START_REQUESTED"},
      {"training, launched",
       training(true),
       {{{"PATCH", "session/actions/1", "null"}},
        {{"POST", "session/actions/1/complete", "null"}},
        {{"POST", "battle-training/launch", "null"}}},
       {R"(["gameService","selectChampion",[22]])", R"(["gameService","championSelectCompleted",[]])"},
       {"quitGame", "battle-training/stop", R"("status":500)"},
       "START_REQUESTED"},
      {"training, never launched",
       training(false),
       {{{"PATCH", "session/actions/1", "null"}}, {{"POST", "session/actions/1/complete", "null"}}},
       {R"(["gameService","selectChampion",[22]])", R"(["gameService","quitGame",[]])",
        R"("url":"/tov-gameflow/v1/battle-training/stop")"},
       {"championSelectCompleted", "battle-training/launch"},
       "TERMINATED"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const std::vector<rapidjson::Document> trace = Play(row.scenario);
    std::vector<std::array<std::string, 3>> answers;
    std::vector<std::string> calls, lines;
    std::string lastState;
    for (const rapidjson::Document& line : trace) {
      lines.push_back(ToJson(line));
      if (Text(line, "kind") == "answer" && Text(line, "path").rfind(own, 0) == 0)
        answers.push_back({Text(line, "method"), Text(line, "path").substr(own.size()), ToJson(line["body"])});
      if (Text(line, "kind") == "request" && Text(line, "method") == "POST") calls.push_back(lines.back());
      if (IsGamePush(line)) lastState = line["payload"]["body"]["gameState"].GetString();
    }
    ASSERT_EQ(answers.size(), row.answers.size()) << ::testing::PrintToString(answers);
    for (size_t i = 0; i < answers.size(); ++i) {
      EXPECT_EQ(answers[i][0], row.answers[i][0]) << i;
      EXPECT_THAT(answers[i][1], HasSubstr(row.answers[i][1])) << i;
      EXPECT_THAT(answers[i][2], HasSubstr(row.answers[i][2])) << i;
    }
    size_t at = 0;
    for (const std::string& call : row.calls) {
      while (at < calls.size() && calls[at].find(call) == std::string::npos) ++at;
      EXPECT_LT(at++, calls.size()) << "missing, or out of order: " << call;
    }
    // What the plug-in did and met, but not how the core answered it.
    for (const std::string& part : row.absent)
      for (size_t i = 0; i < trace.size(); ++i)
        if (Text(trace[i], "kind") != "reply") {
          EXPECT_EQ(lines[i].find(part), std::string::npos) << part << " in " << lines[i];
        }
    EXPECT_EQ(lastState, row.lastState);

    const std::vector<rapidjson::Document> again = Play(row.scenario);
    ASSERT_EQ(again.size(), trace.size());
    for (size_t i = 0; i < trace.size(); ++i) ASSERT_EQ(ToJson(again[i]), lines[i]) << "line " << i;
  }
}

// The session the local player ends with shows what it chose through the
// routes, as the platform made it.
TEST(Simulation, TheLocalPlayersChoicesReachTheSession) {
  const std::vector<rapidjson::Document> trace = Play(BuiltIn("draft"));
  const rapidjson::Value* last = nullptr;
  for (const rapidjson::Document& line : trace)
    if (Text(line, "kind") == "event" && Text(line["payload"], "uri") == "/tov-vover-orevid-aredez/v1/session" &&
        line["payload"]["data"].IsObject())
      last = &line["payload"]["data"];
  ASSERT_NE(last, nullptr);
  const rapidjson::Value& me = (*last)["myTeam"][0];
  EXPECT_EQ(me["championId"].GetInt(), 7);
  EXPECT_EQ(me["selectedSkinId"].GetInt(), 7002);
  EXPECT_EQ(me["wardSkinId"].GetInt(), 5);
  EXPECT_EQ(me["spell1Id"].GetInt(), 104);
  EXPECT_EQ(me["spell2Id"].GetInt(), 107);
  std::vector<int> bans;
  for (const rapidjson::Value& ban : (*last)["bans"]["myTeamBans"].GetArray()) bans.push_back(ban.GetInt());
  EXPECT_THAT(bans, ::testing::Contains(33));
}

// The timeline's actions reach the plug-in at their times: the login goes
// and comes back, the machine sleeps through the end of a turn, the wall
// clock is stepped back an hour.
TEST(Simulation, TimelineActionsReachThePlugin) {
  Scenario scenario = BuiltIn("draft");
  const auto at = [&](TimedAction::Kind kind, double seconds, const char* after = "", double amount = 0) {
    TimedAction action;
    action.kind = kind;
    action.at = seconds;
    action.after = after;
    action.amount = amount;
    scenario.timeline.push_back(action);
  };
  at(TimedAction::Kind::LoginDelete, 0.5);
  at(TimedAction::Kind::LoginRestore, 0.75);
  at(TimedAction::Kind::ClockJump, 2, "CHAMP_SELECT", 45);
  at(TimedAction::Kind::WallClockShift, 1, "POST_CHAMP_SELECT", -3600);
  std::vector<std::string> login;
  double champSelect = 0, jumpedTo = 0, post = 0;
  std::set<uint64_t> refreshes;  // wall-clock milliseconds of the timer refreshes
  int shifted = 0;
  for (const rapidjson::Document& line : Play(scenario)) {
    const double t = line["t"].GetDouble();
    const bool afterShift = post > 0 && t >= post + 1;
    const uint64_t wall = (Clock::kEpochSeconds - (afterShift ? 3600 : 0)) * 1000 + static_cast<uint64_t>(std::llround(t * 1000));
    if (Text(line, "name") == "OnJsonApiEvent_tov-login_v1_session")
      login.push_back(std::to_string(t).substr(0, 4) + " " + Text(line["payload"], "eventType"));
    if (Text(line, "kind") == "push") refreshes.insert(wall);
    if (afterShift && Text(line, "kind") == "event" && Text(line["payload"], "uri") == "/tov-vover-orevid-aredez/v1/session" &&
        line["payload"]["data"].IsObject()) {
      const uint64_t published = line["payload"]["data"]["timer"]["internalNowInEpochMs"].GetUint64();
      EXPECT_EQ(refreshes.count(published), 1u) << published;
      shifted += published < Clock::kEpochSeconds * 1000;
    }
    if (!IsGamePush(line)) continue;
    const std::string state = line["payload"]["body"]["gameState"].GetString();
    if (state == "CHAMP_SELECT" && champSelect == 0) champSelect = t;
    if (champSelect > 0 && jumpedTo == 0 && t > champSelect + 2) jumpedTo = t;
    if (state == "POST_CHAMP_SELECT" && post == 0) post = t;
  }
  EXPECT_GT(shifted, 0);
  EXPECT_EQ(login, (std::vector<std::string>{"0.50 Delete", "0.75 Create"}));
  // The first message after the sleep comes when the machine wakes.
  EXPECT_EQ(jumpedTo, champSelect + 2 + 45);
  EXPECT_GT(post, 0);
}

// ---- The command line ------------------------------------------------------

int RunCore(const std::string& arguments) {
  const int status = std::system((std::string(TOV_CORE_PATH) + " " + arguments + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "tov_sim_" + std::to_string(getpid()) + "_" + name;
}

// A plug-in that ends the process, crashes or does not load is a failed
// run, 1, whatever it did to the process that played the game.
TEST(SimCommand, AFailingPluginExitsOne) {
  for (const char* how : {"fatal", "crash", "refuse"}) {
    const std::string command = std::string("TOV_FAIL=") + how + " " + TOV_CORE_PATH + " --sim draft " +
                                TOV_FAILING_PLUGIN_PATH + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << how;
  }
  EXPECT_EQ(RunCore(std::string("--sim draft ") + TOV_CLOCK_PROBE_PATH), 1);
}

TEST(SimCommand, BadArgumentsExitTwo) {
  const std::string plugin = TOV_PLUGIN_PATH;
  const std::string badSteps = TempPath("bad_steps.json");
  std::ofstream(badSteps) << R"([{"at": -1, "request": {"method": "GET", "path": "/x"}}])";
  const char* const rows[] = {
      "--sim",
      "--sim draft",
      "--sim nosuch PLUGIN",
      "--sim draft --seed -3 PLUGIN",
      "--sim draft --seed 12x PLUGIN",
      "--sim draft --until never PLUGIN",
      "--sim draft --until -1 PLUGIN",
      "--sim draft --steps /nonexistent/steps.json PLUGIN",
      "--sim draft --steps BADSTEPS PLUGIN",
      "--sim draft --trace /nonexistent/dir/trace PLUGIN",
      "--sim draft --bogus PLUGIN",
      "--sim draft --autoplay=yes PLUGIN",
      "--sim draft PLUGIN PLUGIN",
      "--sim draft /nonexistent/plugin.so",
  };
  for (std::string row : rows) {
    for (size_t at; (at = row.find("PLUGIN")) != std::string::npos;) row.replace(at, 6, plugin);
    if (const size_t at = row.find("BADSTEPS"); at != std::string::npos) row.replace(at, 8, badSteps);
    EXPECT_EQ(RunCore(row), 2) << row;
  }
}

// One seed, one trace, byte for byte; another seed, other bot timings.
TEST(SimCommand, SeedsAndSteps) {
  const std::string plugin = TOV_PLUGIN_PATH;
  const std::string steps = TempPath("steps.json");
  std::ofstream(steps) << R"([{"at": 40.5, "request": {"method": "GET", "path": "/tov-vover-orevid-aredez/v1/session/timer"}},
                             {"at": 0.25, "request": {"method": "GET", "path": "/tov-vover-orevid-aredez/v1/session"}}])";
  const auto trace = [&](const std::string& name, const std::string& options) {
    const std::string path = TempPath(name);
    EXPECT_EQ(RunCore("--sim draft " + options + " --trace " + path + " " + plugin), 0) << options;
    return Slurp(path);
  };
  const std::string first = trace("seed1a", "--steps " + steps);
  EXPECT_EQ(first, trace("seed1b", "--seed 1 --steps " + steps));
  const std::string other = trace("seed2", "--seed 2 --steps " + steps);
  const auto botTimes = [](const std::string& text) {
    std::set<std::string> times;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
      if (line.find(R"("kind":"push","name":"OnLcdsEvent)") != std::string::npos) times.insert(line.substr(0, line.find(',')));
    return times;
  };
  EXPECT_NE(botTimes(first), botTimes(other));

  // Both steps answered into the trace, each at its time, in time order,
  // beside the local player's own requests (which never read).
  std::vector<std::string> answers;
  int own = 0;
  std::istringstream lines(first);
  for (std::string line; std::getline(lines, line);) {
    if (line.find(R"("kind":"answer","method":"GET")") != std::string::npos) answers.push_back(line);
    else own += line.find(R"("kind":"answer")") != std::string::npos;
  }
  EXPECT_GT(own, 0);
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_THAT(answers[0], HasSubstr(R"({"t":0.250,"kind":"answer","method":"GET","path":"/tov-vover-orevid-aredez/v1/session","status":404,"body":"Not in Champ Select"})"));
  EXPECT_THAT(answers[1], HasSubstr(R"({"t":40.500,"kind":"answer","method":"GET","path":"/tov-vover-orevid-aredez/v1/session/timer")"));
  EXPECT_THAT(answers[1], HasSubstr(R"("phase":"BAN_PICK")"));

  // --autoplay: the same game, and the local player also trades and buys
  // the team boost through the plug-in.
  const std::string autoplay = trace("autoplay", "--autoplay");
  EXPECT_EQ(autoplay, trace("autoplay2", "--seed 1 --autoplay"));
  for (const char* route : {R"("path":"/tov-vover-orevid-aredez/v1/session/trades/)",
                            R"("path":"/tov-vover-orevid-aredez/v1/team-boost/purchase")"}) {
    EXPECT_NE(autoplay.find(route), std::string::npos) << route;
    EXPECT_EQ(first.find(route), std::string::npos) << route;
  }

  // --until stops the game early, still a success.
  const std::string stopped = trace("until", "--until 20");
  const rapidjson::Document lastLine = ParseJson(stopped.substr(stopped.rfind('\n', stopped.size() - 2) + 1));
  ASSERT_TRUE(lastLine.IsObject());
  EXPECT_LE(lastLine["t"].GetDouble(), 20.0);
  EXPECT_LT(stopped.size(), first.size());
}

}  // namespace
}  // namespace TovSim
