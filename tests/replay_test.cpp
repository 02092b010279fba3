// Traces recorded by the simulator, played back to the built plug-in through
// tov-core --replay: a faithful trace replays, and a trace that is edited,
// cut or broken is caught with the line that says where.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/scenario.h"
#include "sim/simulation.h"

namespace {

using ::testing::HasSubstr;

struct Ran {
  int status = -1;
  std::string output;  // standard output and error
};

Ran Core(const std::string& arguments) {
  Ran ran;
  FILE* pipe = popen((std::string(TOV_CORE_PATH) + " " + arguments + " 2>&1").c_str(), "r");
  if (!pipe) return ran;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) ran.output.append(buffer, n);
  const int status = pclose(pipe);
  ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return ran;
}

std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "tov_replay_" + std::to_string(getpid()) + "_" + name;
}

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void Write(const std::string& path, const std::vector<std::string>& lines, const std::string& tail = "") {
  std::ofstream out(path, std::ios::binary);
  for (const std::string& line : lines) out << line << '\n';
  out << tail;
}

std::string Recorded(const std::string& scenario, const std::string& more = "") {
  const std::string path = TempPath(scenario + ".jsonl");
  const Ran ran = Core("--sim " + scenario + " " + more + " --trace " + path + " " + TOV_PLUGIN_PATH);
  EXPECT_EQ(ran.status, 0) << ran.output;
  return path;
}

Ran Replayed(const std::string& trace) { return Core("--replay " + trace + " " + TOV_PLUGIN_PATH); }

// The first line of `kind` at or after `from` (1-based), 0 if none.
size_t Find(const std::vector<std::string>& lines, const std::string& part, size_t from = 1) {
  for (size_t i = from; i <= lines.size(); ++i)
    if (lines[i - 1].find(part) != std::string::npos) return i;
  return 0;
}

TEST(Replay, EveryScenarioReplaysAsRecorded) {
  for (const std::string& scenario : TovSim::ScenarioNames()) {
    // Seed 2: the golden traces have seed 1.
    const Ran ran = Replayed(Recorded(scenario, "--seed 2"));
    EXPECT_EQ(ran.status, 0) << scenario << "\n" << ran.output;
    EXPECT_THAT(ran.output, HasSubstr("the plug-in did all")) << scenario;
  }
}

// Games played one after another on one plug-in make one trace, which
// replays as a whole.
TEST(Replay, ATraceOfSeveralGamesReplays) {
  const std::string path = TempPath("games.jsonl");
  const Ran played = Core("--sim draft --seed 5 --games 2 --trace " + path + " " + TOV_PLUGIN_PATH);
  ASSERT_EQ(played.status, 0) << played.output;
  EXPECT_THAT(played.output, HasSubstr("game 1, seed 5: ran to its end"));
  EXPECT_THAT(played.output, HasSubstr("game 2, seed 6: ran to its end"));
  // One plug-in all along: shut down once, after the second game.
  const std::vector<std::string> lines = Lines(path);
  const size_t shutdown = Find(lines, R"("kind":"shutdown")");
  ASSERT_NE(shutdown, 0u);
  EXPECT_EQ(Find(lines, R"("kind":"shutdown")", shutdown + 1), 0u);
  EXPECT_GT(Find(lines, R"("id":5000000002)"), 0u) << "the second game has the next game id";
  const Ran ran = Replayed(path);
  EXPECT_EQ(ran.status, 0) << ran.output;
}

// The clock's own changes are in the trace: the machine sleeping through a
// turn, the wall clock stepped back, and a step at a time three decimals do
// not carry. Without the jump or the shift the plug-in's timers and
// published times come out otherwise.
TEST(Replay, ClockChangesAndExactTimesReplay) {
  TovSim::Scenario scenario;
  ASSERT_TRUE(TovSim::BuiltInScenario("draft", 3, &scenario));
  for (const auto& [kind, amount] : {std::pair{TovSim::TimedAction::Kind::ClockJump, 45.0},
                                     std::pair{TovSim::TimedAction::Kind::WallClockShift, -3600.0}}) {
    TovSim::TimedAction action;
    action.kind = kind;
    action.at = 2;
    action.after = kind == TovSim::TimedAction::Kind::ClockJump ? "CHAMP_SELECT" : "POST_CHAMP_SELECT";
    action.amount = amount;
    scenario.timeline.push_back(action);
  }
  const std::vector<TovSim::Step> steps = {{20.0006, "GET", "/tov-vover-orevid-aredez/v1/session/timer", "", ""}};
  std::vector<std::string> lines;
  {
    TovSim::Simulation simulation(std::move(scenario), steps);
    simulation.GetTrace().Keep(true);
    ASSERT_EQ(simulation.Run(TOV_PLUGIN_PATH), TovSim::Simulation::Outcome::Ended);
    lines = simulation.GetTrace().Lines();
  }
  const size_t jump = Find(lines, R"("kind":"clock","jump":45.0})");
  const size_t shift = Find(lines, R"("kind":"clock","wallShift":-3600.0})");
  const size_t exact = Find(lines, R"("kind":"clock","at":20.0006})");
  ASSERT_TRUE(jump && shift && exact);
  EXPECT_THAT(lines[exact], HasSubstr(R"("t":20.001,"kind":"call","method":"GET")"));
  const std::string path = TempPath("clock.jsonl");
  Write(path, lines);
  const Ran ran = Replayed(path);
  EXPECT_EQ(ran.status, 0) << ran.output.substr(0, 3000);
  for (const size_t line : {jump, shift}) {
    std::vector<std::string> without = lines;
    without.erase(without.begin() + static_cast<std::ptrdiff_t>(line - 1));
    Write(path, without);
    EXPECT_EQ(Replayed(path).status, 1) << lines[line - 1];
  }
}

// An edited line of the plug-in's is a difference named by its line; a
// trace that cannot be replayed is refused before the plug-in is loaded.
TEST(Replay, DifferencesAndBrokenTracesAreNamed) {
  const std::string recorded = Recorded("draft");
  const std::vector<std::string> lines = Lines(recorded);
  ASSERT_GT(lines.size(), 100u);
  const size_t log = Find(lines, R"("kind":"log")", 40);
  const size_t event = Find(lines, R"("kind":"event")", 40);
  const size_t request = Find(lines, R"("kind":"request")", 40);
  const size_t reply = Find(lines, R"("kind":"reply")", 40);
  ASSERT_TRUE(log && event && request && reply);

  struct Row {
    const char* what;
    std::function<void(std::vector<std::string>&, std::string& tail)> edit;
    int status;
    std::string says;
  };
  const auto replace = [](std::string& line, const std::string& from, const std::string& to) {
    const size_t at = line.find(from);
    if (at != std::string::npos) line.replace(at, from.size(), to);
  };
  const Row rows[] = {
      {"a log line reworded", [&](auto& l, auto&) { replace(l[log - 1], R"("message":")", R"("message":"X)"); }, 1,
       "differs from the trace at line " + std::to_string(log)},
      {"a publication of another type",
       [&](auto& l, auto&) { replace(l[event - 1], R"("eventType":")", R"("eventType":"Re)"); }, 1,
       "differs from the trace at line " + std::to_string(event)},
      {"a request the plug-in never made", [&](auto& l, auto&) { l.insert(l.begin() + (request - 1), l[request - 1]); },
       1, "differs from the trace at line " + std::to_string(request + 1)},
      {"a line of the plug-in's missing", [&](auto& l, auto&) { l.erase(l.begin() + (log - 1)); }, 1,
       "differs from the trace at line " + std::to_string(log)},
      {"cut inside a line", [&](auto& l, auto& tail) { tail = l[200].substr(0, 30), l.resize(200); }, 2,
       "line 201: not JSON"},
      {"cut between lines", [&](auto& l, auto&) { l.resize(200); }, 2, "line 200: the trace ends here without"},
      {"a line that is not JSON", [&](auto& l, auto&) { l[99] = "{\"t\":1.000,\"kind\":"; }, 2, "line 100: not JSON"},
      {"a reply without its status", [&](auto& l, auto&) { replace(l[reply - 1], R"("status":)", R"("state":)"); }, 2,
       "line " + std::to_string(reply) + ": a reply needs a whole-number \"status\""},
      {"an unknown kind", [&](auto& l, auto&) { replace(l[9], R"("kind":")", R"("kind":"x)"); }, 2,
       "line 10: no \"kind\""},
      {"time going back", [&](auto& l, auto&) { l.back() = R"({"t":0.000,"kind":"end"})"; }, 2,
       "line " + std::to_string(lines.size()) + ": its time goes back"},
  };
  for (const Row& row : rows) {
    std::vector<std::string> edited = lines;
    std::string tail;
    row.edit(edited, tail);
    const std::string path = TempPath("edited.jsonl");
    Write(path, edited, tail);
    const Ran ran = Replayed(path);
    EXPECT_EQ(ran.status, row.status) << row.what << "\n" << ran.output.substr(0, 2000);
    EXPECT_THAT(ran.output, HasSubstr(row.says)) << row.what;
    if (row.status == 1) {
      EXPECT_THAT(ran.output, HasSubstr("\n  expected: ")) << row.what;
      EXPECT_THAT(ran.output, HasSubstr("\n  got:      ")) << row.what;
    }
  }
  const Ran missing = Replayed(TempPath("no-such-trace.jsonl"));
  EXPECT_EQ(missing.status, 2);
  EXPECT_THAT(missing.output, HasSubstr("cannot read the trace"));
  const Ran empty = Replayed("/dev/null");
  EXPECT_EQ(empty.status, 2);
  EXPECT_THAT(empty.output, HasSubstr("the trace is empty"));
  EXPECT_EQ(Core("--replay " + recorded).status, 2);
  EXPECT_EQ(Core("--replay " + recorded + " /nonexistent/plugin.so").status, 2);
}

}  // namespace
