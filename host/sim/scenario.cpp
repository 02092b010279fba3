#include "sim/scenario.h"

#include <utility>

namespace TovSim {
namespace {

// A queue's game with everyone seated as a person would play.
GamePlan Plan(const char* queueTypeName, Roster roster) {
  GamePlan plan;
  plan.rules.queueTypeName = queueTypeName;
  plan.roster = std::move(roster);
  plan.seats = SeatsFor(plan.roster);
  return plan;
}

GamePlan Draft() {
  GamePlan plan = Plan("DRAFT_5x5", StandardRoster(1));
  plan.rules.bans = 6;
  return plan;
}

GamePlan Blind() {
  GamePlan plan = Plan("BLIND_5x5", StandardRoster(1));
  plan.rules.order = PickOrder::Blind;
  plan.rules.hideOpponents = true;
  plan.rules.battleBoost = false;
  return plan;
}

GamePlan Bots() {
  GamePlan plan = Plan("COOP_5x5_BOT", BotRoster());
  plan.rules.order = PickOrder::Blind;
  plan.rules.allowTrades = false;
  plan.rules.battleBoost = false;
  return plan;
}

GamePlan Custom() {
  GamePlan plan = Plan("NONE", StandardRoster(1));
  plan.rules.order = PickOrder::Blind;
  plan.rules.custom = true;
  plan.rules.allowTrades = false;
  plan.rules.battleBoost = false;
  plan.rules.freeChampions = false;
  return plan;
}

GamePlan Rerolls() {
  GamePlan plan = Plan("RANDOM_5x5", StandardRoster(1));
  plan.rules.order = PickOrder::Blind;
  plan.rules.randomChampions = true;
  plan.rules.rerolls = true;
  plan.rules.battleBoost = false;
  // One roll's worth and a little: the second roll is refused.
  plan.rerollPoints = 300;
  plan.local.rerolls = 2;
  return plan;
}

GamePlan Training() {
  GamePlan plan = Plan("BATTLE_TRAINING", TrainingRoster());
  plan.rules.order = PickOrder::Blind;
  plan.rules.battleTraining = true;
  plan.rules.allowTrades = false;
  plan.rules.battleBoost = false;
  plan.rules.freeChampions = false;
  return plan;
}

TimedAction At(TimedAction::Kind kind, double at, std::string after = "") {
  TimedAction action;
  action.kind = kind;
  action.at = at;
  action.after = std::move(after);
  return action;
}

using Builder = void (*)(Scenario&);

void DraftScenario(Scenario& scenario) { scenario.game = Draft(); }

void BlindScenario(Scenario& scenario) { scenario.game = Blind(); }

void BotScenario(Scenario& scenario) { scenario.game = Bots(); }

void CustomScenario(Scenario& scenario) {
  scenario.game = Custom();
  scenario.client.customLobby = true;
  // A rival leaves while everyone is picking: back to the lobby.
  scenario.game.seats[9] = SeatPlan{PolicyKind::Dodger, 8};
}

void SpectateScenario(Scenario& scenario) {
  scenario.opening = Opening::Spectate;
  scenario.openAt = 2;
  scenario.game = Draft();
  scenario.game.roster = SpectatedRoster();
  scenario.game.seats = SeatsFor(scenario.game.roster);
  scenario.game.spectatorDelay = 180;
}

void DodgeScenario(Scenario& scenario) {
  scenario.game = Draft();
  // Rival Three, a stranger, never acts: their ban turn passes without a
  // ban, and their pick turn runs out with nothing hovered.
  scenario.game.seats[7] = SeatPlan{PolicyKind::Afk};
  scenario.requeue = Draft();
}

void RerollScenario(Scenario& scenario) { scenario.game = Rerolls(); }

void TrainingScenario(Scenario& scenario) {
  scenario.game = Training();
  scenario.client.battleTraining = true;
}

void ReconnectScenario(Scenario& scenario) {
  scenario.game = Draft();
  scenario.timeline.push_back(At(TimedAction::Kind::LoginDisconnected, 5, "CHAMP_SELECT"));
  scenario.timeline.push_back(At(TimedAction::Kind::LoginConnected, 9, "CHAMP_SELECT"));
}

// Every way a trade can go, and the team boost, while finalizing. Times are
// seconds into finalization.
void TradesScenario(Scenario& scenario) {
  scenario.game = Draft();
  std::vector<SeatPlan>& seats = scenario.game.seats;
  // Just before the local player's offer every mate is busy trading: that
  // offer comes back BUSY, and the second goes through.
  seats[1].bot.offerAt = 2.5;
  seats[1].bot.offerTo = 2;
  seats[3].bot.offerAt = 2.5;
  seats[3].bot.offerTo = 4;
  LocalScript& you = scenario.game.local;
  // Mate Four, the mate the local player's client likes best on seed 1,
  // prefers 6 to its own champion, and takes the second offer.
  you.picks = {6, 12, 3};
  you.tradeAt = Seconds(3);
  you.buyBoost = true;
  // Two offers to the local player: it declines the first and never answers
  // the second, which its maker withdraws.
  seats[2].bot.offerToLocalAt = 14;
  seats[1].bot.offerToLocalAt = 17;
  you.acceptOffers = false;
  you.offersAnswered = 1;
  // A mate wants the boost too, when it is already bought.
  seats[3].bot.boostBuyer = true;
}

const std::pair<const char*, Builder> kScenarios[] = {
    {"draft", DraftScenario},         {"blind", BlindScenario},         {"custom", CustomScenario},
    {"bot", BotScenario},             {"spectate", SpectateScenario},   {"dodge", DodgeScenario},
    {"reconnect", ReconnectScenario}, {"reroll", RerollScenario},     {"training", TrainingScenario},
    {"trades", TradesScenario},
};

}  // namespace

std::vector<SeatPlan> SeatsFor(const Roster& roster) {
  std::vector<SeatPlan> seats;
  for (const auto* team : {&roster.teamOne, &roster.teamTwo})
    for (const Player& player : *team)
      seats.push_back(SeatPlan{player.IsLocal() ? PolicyKind::Local : player.IsBot() ? PolicyKind::Ai : PolicyKind::Human});
  return seats;
}

const std::vector<std::string>& ScenarioNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> list;
    for (const auto& [name, build] : kScenarios) list.push_back(name);
    return list;
  }();
  return names;
}

void Autoplay(Scenario& scenario) {
  scenario.localPlay = LocalPlay::ThroughPlugin;
  for (GamePlan* plan : {&scenario.game, scenario.requeue ? &*scenario.requeue : nullptr}) {
    if (!plan) continue;
    if (plan->local.tradeAt <= 0) plan->local.tradeAt = Seconds(3);
    plan->local.buyBoost = true;
  }
}

bool BuiltInScenario(const std::string& name, uint64_t seed, Scenario* out) {
  for (const auto& [known, build] : kScenarios) {
    if (name != known) continue;
    *out = Scenario{};
    out->name = name;
    out->seed = seed;
    build(*out);
    return true;
  }
  return false;
}

std::vector<std::unique_ptr<Policy>> PoliciesOf(const GamePlan& plan, LocalPlay localPlay) {
  std::vector<std::unique_ptr<Policy>> policies;
  for (const SeatPlan& seat : plan.seats) {
    switch (seat.kind) {
      case PolicyKind::Local:
        if (localPlay == LocalPlay::OnPlatform) {
          policies.push_back(std::make_unique<LocalOnPlatform>(plan.local));
        } else {
          policies.push_back(std::make_unique<LocalThroughPlugin>());
        }
        break;
      case PolicyKind::Human:
        policies.push_back(std::make_unique<HumanBot>(seat.bot));
        break;
      case PolicyKind::Ai:
        policies.push_back(std::make_unique<AiBot>());
        break;
      case PolicyKind::Afk:
        policies.push_back(std::make_unique<Afk>());
        break;
      case PolicyKind::Dodger:
        policies.push_back(std::make_unique<Dodger>(ToMicros(seat.quitAfter)));
        break;
    }
  }
  return policies;
}

}  // namespace TovSim
