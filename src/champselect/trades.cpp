#include "champselect/trades.h"

#include "champselect/platform_state.h"
#include "champselect/publisher.h"
#include "logging/logger.h"
#include "runtime/app_module.h"

namespace Vexa::Client::VoverOrevidAredez {
namespace {

// Every answer and line of the trades.
constexpr const char* kAlreadyPending = "Trade already pending";
constexpr const char* kNotInChampSelect = "Not in champ select";
constexpr const char* kNotParticipant = "Not an active participant";
constexpr const char* kNoLongerAvailable = "Trade is no longer available";
constexpr const char* kResponderGone = "Responder is no longer available";
constexpr const char* kLcdsError = "LCDS Error";
constexpr const char* kNotPending = "ChampSelect: Tried to cancel non-pending trade";
constexpr const char* kNonExistent = "ChampSelect: Trade Non-existent";
constexpr const char* kProcessingError = "ChampSelect: Error while processing trade";
constexpr const char* kNoRequesterCell = "%s: Unable to find cell id for requesting summoner %s";
constexpr const char* kNoResponderCell = "%s: Unable to find cell id for responding summoner %s";
constexpr const char* kNotMine = "%s: Platform sent a trade which does not impact the current player.";

constexpr const char* kService = "lcdsChampionTradeService";

using State = Api::ChampSelectTradeState;
using TradeResult = RemotingTypedResult<Api::ChampSelectTradeContract>;

}  // namespace

std::int64_t Trades::CellOf(const std::string& internalName) const {
  for (const auto* team : {&model_.session.myTeam, &model_.session.theirTeam})
    for (const auto& player : *team)
      if (player.summonerInternalName == internalName) return player.cellId;
  return -1;
}

const Api::ChampSelectPlayerSelection* Trades::PlayerAt(std::int64_t cellId) const {
  // Only a team-mate can be traded with.
  for (const auto& player : model_.session.myTeam)
    if (player.cellId == cellId) return &player;
  return nullptr;
}

Api::ChampSelectTradeContract* Trades::TradeById(std::int64_t id) {
  for (auto& trade : model_.session.trades)
    if (trade.id == id) return &trade;
  return nullptr;
}

Api::ChampSelectTradeContract* Trades::TradeByCell(std::int64_t cellId) {
  for (auto& trade : model_.session.trades)
    if (trade.cellId == cellId) return &trade;
  return nullptr;
}

void Trades::ForgetPendingTrade() {
  pendingId_ = 0;
  pending_ = LCDS::TradeContractDTO{};
}

void Trades::DetectSwap(const std::vector<Api::ChampSelectPlayerSelection>& myTeam) {
  if (pending_.state != LCDS::TradeStates::kPending) return;
  const Api::ChampSelectPlayerSelection *requester = nullptr, *responder = nullptr;
  for (const auto& member : myTeam) {
    if (member.summonerInternalName == pending_.requesterInternalSummonerName) requester = &member;
    if (member.summonerInternalName == pending_.responderInternalSummonerName) responder = &member;
  }
  if (requester && responder && requester->championId == pending_.responderChampionId &&
      responder->championId == pending_.requesterChampionId)
    ForgetPendingTrade();
}

void Trades::RefreshPotentialTraders() {
  if (model_.session.trades.empty() || !platform_.AllowTrades() ||
      model_.currentGame.gameState != LCDS::GameStates::kPostChampSelect)
    return;
  const SessionWatch watch(model_);
  auto traders = module_.Await(module_.InvokeLcds<LCDS::PotentialTradersDTO>(kService, "getPotentialTraders"));
  if (!traders || watch.Lost()) return;
  for (auto& trade : model_.session.trades) {
    if (trade.id == pendingId_ && HasPending()) continue;
    trade.state = State::INVALID;
    for (const std::string& name : traders.Value().potentialTraders) {
      if (CellOf(name) != trade.cellId) continue;
      const auto declined = declined_.find(name);
      const Api::ChampSelectPlayerSelection* mate = PlayerAt(trade.cellId);
      const bool stillDeclined =
          declined != declined_.end() && declined->second != 0 && mate && declined->second == mate->championId;
      if (!stillDeclined) trade.state = State::AVAILABLE;
      break;
    }
  }
}

TradeResult Trades::RequestTrade(std::int64_t tradeId) {
  if (HasPending()) return TradeResult::Failed(409, kAlreadyPending);
  if (!model_.HasSession()) return TradeResult::Failed(400, kNotInChampSelect);
  const auto me = model_.FindLocalPlayer();
  if (!me) return TradeResult::Failed(400, kNotParticipant);
  Api::ChampSelectTradeContract* trade = TradeById(tradeId);
  if (!trade || trade->state != State::AVAILABLE) return TradeResult::Failed(400, kNoLongerAvailable);
  // Looked for before the trade is shown SENT, so that a refusal leaves the
  // published trade as it was.
  const Api::ChampSelectPlayerSelection* mate = PlayerAt(trade->cellId);
  if (!mate) return TradeResult::Failed(400, kResponderGone);
  trade->state = State::SENT;
  publisher_.Session(PluginResourceEventType::Update);
  pendingId_ = tradeId;
  pending_ = LCDS::TradeContractDTO{me->summonerInternalName, mate->summonerInternalName, me->championId,
                                    mate->championId, std::string(LCDS::TradeStates::kPending)};
  const SessionWatch watch(model_);
  const std::string mateName = mate->summonerInternalName;
  const auto offered = module_.InvokeLcdsWithoutResult(kService, "attemptTrade", mateName, pending_.responderChampionId, false);
  if (watch.Lost()) {
    if (pendingId_ == tradeId) ForgetPendingTrade();
    return TradeResult::NotFound(kNotInChampSelect);
  }
  // A contract may have arrived meanwhile: the trade is read again.
  trade = TradeById(tradeId);
  if (offered && trade) return TradeResult::Success(*trade);
  if (trade) trade->state = State::AVAILABLE;
  publisher_.Session(PluginResourceEventType::Update);
  ForgetPendingTrade();
  raiseEvent_(LCDS::Events::kTradeErrored);  // logged as it is raised
  return TradeResult::InternalError(kLcdsError);
}

RemotingResult Trades::AnswerTrade(std::int64_t tradeId, bool accept) {
  const auto answer = [&](RemotingResult result) {
    publisher_.Session(PluginResourceEventType::Update);
    return result;
  };
  if (tradeId != pendingId_)
    return answer(TradeById(tradeId) ? RemotingResult::Failed(409, kNotPending) : RemotingResult::NotFound(kNonExistent));
  if (pendingId_ == 0 || pending_.state != LCDS::TradeStates::kPending)
    return answer(RemotingResult::InternalError(kProcessingError));
  const SessionWatch watch(model_);
  if (accept) {
    const auto accepted = module_.InvokeLcdsWithoutResult(kService, "attemptTrade", pending_.requesterInternalSummonerName,
                                                          pending_.requesterChampionId, true);
    if (watch.Lost()) return RemotingResult::NotFound(kNonExistent);
    // The platform's next contract and game settle the trade.
    return answer(accepted ? RemotingResult::Success() : RemotingResult::InternalError(kProcessingError));
  }
  const auto dismissed = module_.InvokeLcdsWithoutResult(kService, "dismissTrade");
  if (watch.Lost()) return RemotingResult::NotFound(kNonExistent);
  if (!dismissed) return answer(RemotingResult::InternalError(kProcessingError));
  ForgetPendingTrade();
  RefreshPotentialTraders();
  if (watch.Lost()) return RemotingResult::NotFound(kNonExistent);
  return answer(RemotingResult::Success());
}

void Trades::OnTradeContract(const LCDS::TradeContractDTO& contract) {
  ForgetPendingTrade();
  const std::int64_t requesterCell = CellOf(contract.requesterInternalSummonerName);
  if (requesterCell == -1) {
    Logging::Log(Logging::kError, Logging::kGroupDbg, kNoRequesterCell, kShortName,
                 contract.requesterInternalSummonerName.c_str());
    return;
  }
  const std::int64_t responderCell = CellOf(contract.responderInternalSummonerName);
  if (responderCell == -1) {
    Logging::Log(Logging::kError, Logging::kGroupDbg, kNoResponderCell, kShortName,
                 contract.responderInternalSummonerName.c_str());
    return;
  }
  const std::int64_t myCell = model_.session.localPlayerCellId;
  const bool iRequested = myCell == requesterCell;
  std::int64_t otherCell = -1;
  if (iRequested) {
    otherCell = responderCell;
  } else if (myCell == responderCell) {
    otherCell = requesterCell;
  } else if (contract.state == LCDS::TradeStates::kBusy) {
    // My offer found the team-mate busy with someone else.
    const auto sentTo = [this](std::int64_t cell) {
      const Api::ChampSelectTradeContract* trade = TradeByCell(cell);
      return trade && trade->state == State::SENT;
    };
    if (sentTo(requesterCell)) otherCell = requesterCell;
    else if (sentTo(responderCell)) otherCell = responderCell;
  }
  if (otherCell == -1) {
    Logging::Log(Logging::kWarn, Logging::kGroupDbg, kNotMine, kShortName);
    return;
  }
  Api::ChampSelectTradeContract* trade = TradeByCell(otherCell);
  if (!trade) return;
  if (contract.state == LCDS::TradeStates::kPending) {
    pendingId_ = trade->id;
    pending_ = contract;
    trade->state = iRequested ? State::SENT : State::RECEIVED;
  } else if (contract.state == LCDS::TradeStates::kDeclined) {
    trade->state = State::INVALID;
    declined_[contract.responderInternalSummonerName] = contract.responderChampionId;
  } else if (contract.state == LCDS::TradeStates::kBusy) {
    trade->state = State::BUSY;
    publisher_.Session(PluginResourceEventType::Update);
    trade->state = State::AVAILABLE;
  } else if (contract.state == LCDS::TradeStates::kCanceled) {
    trade->state = State::AVAILABLE;
  }
  publisher_.Session(PluginResourceEventType::Update);
}

}  // namespace Vexa::Client::VoverOrevidAredez
