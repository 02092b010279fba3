// A platform and its services on a core, without a plug-in, for the tests
// of the platform's services: the test calls the core as a plug-in would,
// and may bring a game to a chosen moment first.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/clock.h"
#include "sim/content.h"
#include "sim/json.h"
#include "sim/platform.h"
#include "sim/scenario.h"
#include "sim/ward_skins.h"

namespace TovSim {

inline constexpr uint32_t kPost = 6;

struct Answer {
  int32_t status;
  std::string error;
  std::string body;
  double timer = 0;  // remainingTimeInMillis, read from the value itself (NaN survives)
  int reads = 0;     // of a streamed body
};

// Collects what the core delivers to one event name.
struct Listener {
  std::vector<std::string> payloads;
  static void Record(const HostEvent* event) {
    static_cast<Listener*>(event->context)->payloads.push_back(TovHost::HostValueToJson(event->payload));
  }
};

// A member's value, copied out: entries are packed, their values unaligned.
inline std::optional<HostValue> Find(const HostValue& object, const char* key) {
  if (object.kind != HostValueKind_Object) return std::nullopt;
  for (uint32_t i = 0; i < object.u.object.count; ++i) {
    const HostObjectEntry& entry = object.u.object.entries[i];
    const char* name = entry.key;
    if (std::string(name) != key) continue;
    const HostValue value = entry.value;
    return value;
  }
  return std::nullopt;
}

// A platform and its services on a core, without a plug-in: the test calls
// the core as a plug-in would.
struct Bench {
  TovHost::Core core;
  Clock clock{core};
  Trace trace{[this] { return core.Now(); }};
  Scheduler scheduler{[this] { return clock.Now(); }};
  FaultPlan plan;
  Injector injector{core, plan, trace};
  PushQueue pushes{core, plan, injector, trace};
  Platform platform{core, scheduler, plan, pushes, trace, DtoView{}};
  WardSkins wardSkins{core, scheduler, plan, trace};

  Bench() {
    platform.Install();
    wardSkins.Install();
  }

  void StartDraft() {
    Scenario scenario;
    BuiltInScenario("draft", 1, &scenario);
    Start(scenario.game, LocalPlay::OnPlatform);
  }
  Match& Start(const GamePlan& plan, LocalPlay localPlay, uint64_t seed = 1) {
    return Start(plan, PoliciesOf(plan, localPlay), seed);
  }
  Match& Start(const GamePlan& plan, std::vector<std::unique_ptr<Policy>> policies, uint64_t seed = 1) {
    if (plan.rerollPoints > 0)
      for (const auto* team : {&plan.roster.teamOne, &plan.roster.teamTwo})
        for (const Player& player : *team) platform.Rerolls().Deposit(player.summonerId, plan.rerollPoints);
    Match& match = platform.NewMatch(plan.rules, plan.roster, std::move(policies), seed, MatchTiming{}, 0);
    match.Start();
    return match;
  }
  // Runs the platform until `seconds` on the clock.
  void RunUntil(double seconds) {
    while (scheduler.NextDue() != kNever && ToSeconds(scheduler.NextDue()) <= seconds) {
      core.MoveClockTo(ToSeconds(scheduler.NextDue()));
      scheduler.RunOne();
    }
    core.MoveClockTo(seconds);
  }
  void Listen(const std::string& name, Listener* into) {
    core.Api()->RegisterEventHandler(core.Api(), name.c_str(), core.Handle(), &Listener::Record, into, 1);
  }

  Answer Post(const std::string& url, const std::vector<std::string>& args) {
    std::vector<HostNamedValue> named(args.size());
    for (size_t i = 0; i < args.size(); ++i) {
      EXPECT_TRUE(TovHost::HostValueFromJson(args[i], &named[i].value)) << args[i];
    }
    RemotingRequest request{};
    request.method = kPost;
    request.url = url.c_str();
    request.args = named.data();
    request.argCount = static_cast<uint32_t>(named.size());
    RemotingResponse response{};
    core.Api()->Request(core.Api(), &response, &request);
    Answer answer{response.status, response.error ? response.error : "", TovHost::HostValueToJson(response.body)};
    if (response.streamRead) {
      answer.body.clear();
      char buffer[4096];
      uint8_t more = 1;
      for (uint32_t count = sizeof buffer; more && response.streamRead(response.stream, buffer, &count, &more);
           count = sizeof buffer, ++answer.reads)
        answer.body.append(buffer, count);
      response.streamClose(response.stream);
    }
    const HostValue responseBody = response.body;
    if (const std::optional<HostValue> body = Find(responseBody, "body"))
      if (const std::optional<HostValue> timer = Find(*body, "remainingTimeInMillis"); timer && timer->kind == HostValueKind_Double)
        answer.timer = timer->u.number;
    if (response.release) response.release(&response);
    for (HostNamedValue& arg : named) TovHost::FreeHostValue(&arg.value);
    return answer;
  }
  Answer Invoke(const std::string& destination, const std::string& method, const std::string& args = "[]") {
    return Post("/tov-login/v1/session/invoke", {Quoted(destination), Quoted(method), args});
  }
  Answer WardSkinRequest(const std::string& method, const std::string& payload = "{}") {
    return Post("/tov-login/v1/service-proxy-method-requests",
                {R"("wardSkins")", Quoted(method), R"("receiveSelectedWardSkin")", R"("")", "49374", Quoted(payload)});
  }
};

// Where a rule is tried: a game brought to a moment by the test alone. The
// other seats never act on their own (Afk); the local player's seat acts
// only through the calls, as its client's would.
enum class Moment {
  BanTurn,           // draft, ban turn 1: the local player's
  AfterMyBan,        // it banned 5: turn 2, Rival One's
  TeamTwoBanTurn,    // the local player in team two: Rival One banned 12, turn 2 is its own
  PickTurn,          // draft, pick turn 1: its own, nothing hovered (5 was banned)
  Hovered,           // … with 7 hovered
  AfterMyPick,       // … 7 locked in: turn 2
  TeamTwoPickTurn,   // the local player in team two, pick turn 1: not its own
  BlindPick,         // blind: Mate Two hovers 7 first
  CustomPick,        // a custom game's blind pick: no free champions
  Finalization,      // draft, everyone picked (the local player 7)
  Quit,              // … after it left
  Training,          // battle training's pick
  TrainingHovered,   // … with 22 hovered
  RerollFinal,       // a random queue while finalizing, 300 points each
  RerolledOnce,      // … after one roll
  BotFinalization,   // a bot queue while finalizing: no trades, no boost
};

struct Table : Bench {
  Match* match = nullptr;
  int SeatNamed(const char* name) const {
    for (const TovSim::Seat& s : match->GameNow().Seats())
      if (s.player.name == name) return static_cast<int>(&s - match->GameNow().Seats().data());
    return -1;
  }
  void As(const char* name, const std::function<std::string(Game&, int)>& action) {
    const int seat = SeatNamed(name);
    EXPECT_EQ(match->Act([&](Game& g) { return action(g, seat); }), "") << name;
  }
  void Expect(const char* call, const std::string& args) {
    const Answer answer = Invoke("gameService", call, args);
    EXPECT_EQ(answer.error, "") << call << " " << args;
  }
  void RunTo(GameState state) {
    while (match->GameNow().State() != state && scheduler.NextDue() != kNever) RunUntil(ToSeconds(scheduler.NextDue()));
    ASSERT_EQ(match->GameNow().State(), state);
  }
  void Begin(const char* scenarioName, int localTeam = 1) {
    Scenario scenario;
    ASSERT_TRUE(BuiltInScenario(scenarioName, 1, &scenario));
    GamePlan plan = scenario.game;
    if (localTeam == 2) plan.roster = StandardRoster(2);
    plan.seats = SeatsFor(plan.roster);
    for (SeatPlan& seat : plan.seats)
      if (seat.kind == PolicyKind::Human) seat.kind = PolicyKind::Afk;
    match = &Start(plan, LocalPlay::ThroughPlugin);
  }
  // Everyone still to pick takes the first champion the platform gives
  // them, before any turn runs out.
  void EveryonePicks() {
    while (match->GameNow().State() == GameState::ChampSelect) {
      const std::vector<int> actors = match->GameNow().Actors();
      if (actors.empty()) RunUntil(ToSeconds(scheduler.NextDue()));  // the pause before finalizing
      for (int seat : actors) {
        for (int id = kFirstChampion; id <= kLastChampion; ++id)
          if (match->Act([&](Game& g) { return g.Hover(seat, id); }).empty()) break;
        match->Act([&](Game& g) { return g.LockIn(seat); });
      }
    }
  }

  void Reach(Moment moment) {
    switch (moment) {
      case Moment::BanTurn:
        return Begin("draft");
      case Moment::AfterMyBan:
        Reach(Moment::BanTurn);
        return Expect("banChampion", "[5]");
      case Moment::TeamTwoBanTurn:
        Begin("draft", 2);
        return As("Rival One", [](Game& g, int seat) { return g.BanChampion(seat, 12); });
      case Moment::PickTurn:
        Reach(Moment::AfterMyBan);
        return RunTo(GameState::ChampSelect);
      case Moment::Hovered:
        Reach(Moment::PickTurn);
        return Expect("selectChampion", "[7]");
      case Moment::AfterMyPick:
        Reach(Moment::Hovered);
        return Expect("championSelectCompleted", "[]");
      case Moment::TeamTwoPickTurn:
        Begin("draft", 2);
        return RunTo(GameState::ChampSelect);
      case Moment::BlindPick:
        Begin("blind");
        return As("Mate Two", [](Game& g, int seat) { return g.Hover(seat, 7); });
      case Moment::CustomPick:
        Begin("custom");
        return RunTo(GameState::ChampSelect);
      case Moment::Finalization:
        Reach(Moment::AfterMyPick);
        EveryonePicks();
        return RunTo(GameState::PostChampSelect);
      case Moment::Quit:
        Reach(Moment::PickTurn);
        return Expect("quitGame", "[]");
      case Moment::Training:
        return Begin("training");
      case Moment::TrainingHovered:
        Reach(Moment::Training);
        return Expect("selectChampion", "[22]");
      case Moment::RerollFinal:
        Begin("reroll");
        return RunTo(GameState::PostChampSelect);
      case Moment::BotFinalization:
        Begin("bot");
        EveryonePicks();
        return RunTo(GameState::PostChampSelect);
      case Moment::RerolledOnce:
        Reach(Moment::RerollFinal);
        EXPECT_EQ(Invoke("lcdsRerollService", "roll").error, "");
        return;
    }
  }
};

}  // namespace TovSim
