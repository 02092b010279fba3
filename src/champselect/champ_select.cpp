#include "champselect/champ_select.h"

#include <algorithm>

#include "logging/logger.h"
#include "runtime/app_module.h"

namespace Vexa::Client::VoverOrevidAredez {
namespace {

// Every line this part writes.
constexpr const char* kStale = "%s: GameDTO received update with old state, ignoring";
constexpr const char* kEvent = "%s: %s";
constexpr const char* kLate = "%s: Received a POST_CHAMP_SELECT dto out-of-order, starting champ select.";

std::string_view EventFor(const std::string& gameState) {
  namespace S = LCDS::GameStates;
  namespace E = LCDS::Events;
  if (gameState == S::kTerminated) return E::kTerminated;
  if (gameState == S::kPreChampSelect) return E::kPreChampSelect;
  if (gameState == S::kChampSelect) return E::kChampSelect;
  if (gameState == S::kPostChampSelect) return E::kPostChampSelect;
  if (gameState == S::kStartRequested) return E::kStartRequested;
  if (gameState == S::kTeamSelect) return E::kReturnToLobby;
  return {};
}

}  // namespace

ChampSelect::ChampSelect(VoverOrevidAredezPlugin& plugin, AppModule& module)
    : module_(module),
      publisher_(module, model_),
      platform_(module, model_, work_,
                {[this](std::string_view event) { return RaiseEvent(event); },
                 [this](LCDS::GameDTO game) { OnGameDTO(std::move(game)); },
                 [this] { sessions_.BeginSpectatorSession(); }}),
      uxTimers_(module, model_, publisher_, work_),
      trades_(module, model_, publisher_, platform_, [this](std::string_view event) { return RaiseEvent(event); }),
      teamBoost_(module, model_, publisher_, platform_),
      battleTraining_(module, model_, publisher_, platform_, work_,
                      [this](std::string_view event) { return RaiseEvent(event); }),
      sessions_({module, model_, publisher_, platform_, uxTimers_, trades_, teamBoost_, battleTraining_}),
      actions_(module, model_, publisher_, platform_, uxTimers_),
      mySelection_(module, model_, publisher_, sessions_),
      machine_(&plugin, "ChampSelectStateMachine", &ChampSelectRoot(),
               [](const std::string& event) { return event; }) {}

void ChampSelect::Start() {
  machine_.Start();
  module_.SubscribeLcds<LCDS::GameDTO>(std::string(LCDS::Classes::kGameDTO), [this](LCDS::GameDTO&& game) {
    work_.Post([this, game = std::move(game)]() mutable { OnGameDTO(std::move(game)); });
  });
  module_.SubscribeLcds<LCDS::TradeContractDTO>(
      std::string(LCDS::Classes::kTradeContractDTO), [this](LCDS::TradeContractDTO&& contract) {
        work_.Post([this, contract = std::move(contract)] { trades_.OnTradeContract(contract); });
      });
  module_.SubscribeLcds<LCDS::TeamSkinRentalDTO>(
      std::string(LCDS::Classes::kTeamSkinRentalDTO), [this](LCDS::TeamSkinRentalDTO&& dto) {
        work_.Post([this, dto = std::move(dto)] { teamBoost_.OnTeamSkinRental(dto); });
      });
  platform_.Subscribe();
}

void ChampSelect::Stop() {
  work_.Clear();
  machine_.Stop();
}

void ChampSelect::OnGameDTO(LCDS::GameDTO game) {
  const LCDS::GameDTO& stored = model_.currentGame;
  if (stored.id == game.id && stored.optimisticLock > game.optimisticLock) {
    Logging::Log(Logging::kWarn, Logging::kGroupDbg, kStale, kShortName);
    return;
  }
  if (std::find(game.gameMutators.begin(), game.gameMutators.end(), "BasicTutorial") != game.gameMutators.end())
    return;
  const std::string_view event = EventFor(game.gameState);
  if (event == LCDS::Events::kTerminated) platform_.ReportDodge(game);
  if (event == LCDS::Events::kPostChampSelect && stored.gameState != LCDS::GameStates::kPostChampSelect)
    uxTimers_.PhaseChanged();
  model_.currentGame = std::move(game);
  if (!event.empty()) {
    Logging::Log(Logging::kAlways, Logging::kGroupDbg, kEvent, kShortName, std::string(event).c_str());
    machine_.ProcessEvent(std::string(event));
  }
  uxTimers_.RefreshTimers();
  model_.previousPickTurn = model_.currentGame.pickTurn;
}

bool ChampSelect::RaiseEvent(std::string_view event) {
  if (event.empty()) return false;
  Logging::Log(Logging::kAlways, Logging::kGroupDbg, kEvent, kShortName, std::string(event).c_str());
  return machine_.ProcessEvent(std::string(event));
}

void ChampSelect::QuitToLobby() {
  sessions_.EndSession();
  platform_.PostGameflowEvent("GAMEFLOW_EVENT.QUIT_TO_LOBBY");
}

void ChampSelect::BeginChampSelect() {
  uxTimers_.RefreshTimers();
  sessions_.BeginSession();
  sessions_.FillChatRoomDetails();
}

void ChampSelect::BeginChampSelectLate() {
  Logging::Log(Logging::kAlways, Logging::kGroupDbg, kLate, kShortName);
  BeginChampSelect();
  sessions_.UpdateSession();
  trades_.RefreshPotentialTraders();
  teamBoost_.InitTeamBoost();
}

void ChampSelect::EnterTradePhase() {
  sessions_.UpdateSession();
  trades_.RefreshPotentialTraders();
  teamBoost_.InitTeamBoost();
}

void ChampSelect::UpdateBans() {
  publisher_.BannableChampions(platform_, PluginResourceEventType::Update);
  sessions_.UpdateSession();
}

}  // namespace Vexa::Client::VoverOrevidAredez
