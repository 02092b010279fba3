#include "sim/local_client.h"

#include <algorithm>
#include <numeric>

#include "sim/content.h"
#include "sim/json.h"

namespace TovSim {
namespace {

constexpr const char* kSessionUri = "/tov-vover-orevid-aredez/v1/session";
constexpr const char* kPickableUri = "/tov-vover-orevid-aredez/v1/pickable-champions";
constexpr const char* kBannableUri = "/tov-vover-orevid-aredez/v1/bannable-champions";
constexpr const char* kTeamBoostUri = "/tov-vover-orevid-aredez/v1/team-boost";
constexpr const char* kPrefix = "/tov-vover-orevid-aredez/v1/";

// Routes by their templates, as the missing ones are remembered.
constexpr const char* kActionRoute = "session/actions/{id}";
constexpr const char* kCompleteRoute = "session/actions/{id}/complete";
constexpr const char* kMySelectionRoute = "session/my-selection";
constexpr const char* kRerollRoute = "session/my-selection/reroll";
constexpr const char* kLaunchRoute = "battle-training/launch";
constexpr const char* kTradeRequestRoute = "session/trades/{id}/request";
constexpr const char* kTradeAcceptRoute = "session/trades/{id}/accept";
constexpr const char* kTradeDeclineRoute = "session/trades/{id}/decline";
constexpr const char* kTradeCancelRoute = "session/trades/{id}/cancel";
constexpr const char* kBoostPurchaseRoute = "team-boost/purchase";

// The session's trade states, as the plug-in numbers them.
enum TradeStateCode { kAvailable = 1, kBusy = 2, kInvalid = 3, kReceived = 4, kSent = 5 };
// After a busy mate, the client looks again this much later.
constexpr Micros kTradeRetry = Seconds(3);

// The client's draws are its own, apart from every seat of the platform's.
constexpr int kClientSeat = 1001;
// Champions tried for one action before the client leaves it to the timer.
constexpr int kTries = 6;

const char* EventTypeName(const rapidjson::Value& payload) {
  if (!payload.IsObject() || !payload.HasMember("eventType")) return "";
  const rapidjson::Value& type = payload["eventType"];
  if (type.IsString()) return type.GetString();
  static const char* const kNames[] = {"Create", "Update", "Delete"};
  return type.IsInt64() && type.GetInt64() >= 0 && type.GetInt64() < 3 ? kNames[type.GetInt64()] : "";
}

int64_t Integer(const rapidjson::Value& object, const char* key, int64_t otherwise = 0) {
  int64_t value = otherwise;
  if (object.IsObject() && object.HasMember(key)) ReadInt(object[key], &value);
  return value;
}

std::string Text(const rapidjson::Value& object, const char* key) {
  return object.IsObject() && object.HasMember(key) && object[key].IsString() ? object[key].GetString() : "";
}

bool Flag(const rapidjson::Value& object, const char* key) {
  return object.IsObject() && object.HasMember(key) && object[key].IsBool() && object[key].GetBool();
}

const rapidjson::Value* Array(const rapidjson::Value& object, const char* key) {
  return object.IsObject() && object.HasMember(key) && object[key].IsArray() ? &object[key] : nullptr;
}

std::vector<int> Ids(const rapidjson::Value& data) {
  std::vector<int> ids;
  if (const rapidjson::Value* list = Array(data, "championIds"))
    for (const rapidjson::Value& id : list->GetArray())
      if (id.IsInt()) ids.push_back(id.GetInt());
  return ids;
}

// A trade's state, written by name or by number.
int TradeStateOf(const rapidjson::Value& trade) {
  if (!trade.IsObject() || !trade.HasMember("state")) return 0;
  const rapidjson::Value& state = trade["state"];
  if (state.IsInt()) return state.GetInt();
  static const char* const kNames[] = {"AVAILABLE", "BUSY", "INVALID", "RECEIVED", "SENT"};
  if (state.IsString())
    for (int i = 0; i < 5; ++i)
      if (state.GetString() == std::string(kNames[i])) return i + 1;
  return 0;
}

std::string TradePath(int64_t tradeId, const char* action) {
  return std::string(kPrefix) + "session/trades/" + std::to_string(tradeId) + "/" + action;
}

bool Contains(const std::vector<int>& ids, int id) { return std::find(ids.begin(), ids.end(), id) != ids.end(); }

std::string ChampionBody(int championId) {
  return JsonWriter().BeginObject().Key("championId").Int(championId).EndObject().Text();
}

}  // namespace

LocalClient::LocalClient(TovHost::Core& core, Scheduler& scheduler, Trace& trace, const ClientState& client,
                         uint64_t seed)
    : core_(core), scheduler_(scheduler), trace_(trace), client_(client), seed_(seed) {}

void LocalClient::OnEvent(const TovHost::SentEvent& event) {
  if (event.name.rfind("OnJsonApiEvent_tov-vover-orevid-aredez_", 0) != 0) return;
  rapidjson::Document payload = ParseJson(event.payloadJson);
  if (!payload.IsObject() || !payload.HasMember("uri") || !payload["uri"].IsString()) return;
  const std::string uri = payload["uri"].GetString();
  const std::string type = EventTypeName(payload);
  static const rapidjson::Value kNull;
  const rapidjson::Value& data = payload.HasMember("data") ? payload["data"] : kNull;
  if (uri == kPickableUri) {
    knowPickable_ = type != "Delete";
    pickable_ = Ids(data);
  } else if (uri == kBannableUri) {
    knowBannable_ = type != "Delete";
    bannable_ = Ids(data);
  } else if (uri == kTeamBoostUri) {
    boostShown_ = type == "Create" || type == "Update";
    boostUnlocked_ = Flag(data, "unlocked");
    if (hasSession_) Consider();
  } else if (uri == kSessionUri) {
    OnSession(type, std::move(payload));
  }
}

void LocalClient::OnSession(const std::string& eventType, rapidjson::Document payload) {
  if (eventType == "Delete") {
    ++generation_;
    hasSession_ = false;
    return;
  }
  if (eventType != "Create" && eventType != "Update") return;
  // A session first seen through an Update began before the client looked.
  const bool begins = eventType == "Create" || !hasSession_;
  session_ = std::move(payload);
  hasSession_ = true;
  if (begins) BeginSession();
  Consider();
}

void LocalClient::BeginSession() {
  ++generation_;
  ++sessions_;
  random_ = Random(SeatSeed(seed_, sessions_, kClientSeat));
  std::vector<int> all(kLastChampion - kFirstChampion + 1);
  std::iota(all.begin(), all.end(), kFirstChampion);
  preferences_ = random_.Shuffled(all);
  plannedAction_ = 0;
  refused_.clear();
  tries_ = 0;
  finalizing_ = launching_ = false;
  offered_ = 0;
  offerAttempts_ = 0;
  retrying_ = false;
  receivedSeen_.clear();
  offersReceived_ = 0;
  buying_ = false;
}

void LocalClient::Consider() {
  if (LocalCell() < 0) return;  // watching, not playing
  if (const std::optional<OpenAction> open = MyOpenAction(); open && open->id != plannedAction_) {
    plannedAction_ = open->id;
    refused_.clear();
    tries_ = 0;
    const int64_t id = open->id;
    Later(open->type == "ban" ? Think(2000, 6000) : Think(3000, 8000), [this, id] { Hover(id); });
  }
  if (client_.BattleTraining()) {
    if (script_.launch && !launching_ && MyPickCompleted()) {
      launching_ = true;
      Later(Think(2000, 5000), [this] { Launch(); });
    }
    return;
  }
  if (Phase() != "FINALIZATION") return;
  if (!finalizing_) {
    finalizing_ = true;
    Later(Think(2000, 5000), [this] { Finalize(0); });
    if (script_.tradeAt > 0) Later(script_.tradeAt, [this] { OfferTrade(0); });
  }
  ConsiderTrades();
  if (script_.buyBoost && boostShown_ && !boostUnlocked_ && !buying_) {
    buying_ = true;
    Later(Think(1000, 3000), [this] { BuyBoost(); });
  }
}

void LocalClient::ConsiderTrades() {
  for (const ShownTrade& trade : Trades()) {
    const int64_t id = trade.id;
    const int state = trade.state;
    // Its own offer met a busy mate: the plug-in shows BUSY for a moment.
    if (id == offered_ && state == kBusy && !retrying_ && offerAttempts_ < 2) {
      retrying_ = true;
      Later(kTradeRetry, [this] { OfferTrade(offerAttempts_); });
    }
    if (state != kReceived) {
      receivedSeen_.erase(id);
      continue;
    }
    if (!receivedSeen_.insert(id).second) continue;
    // A new offer; past those it answers, it lets the offer run out.
    if (++offersReceived_ > script_.offersAnswered) continue;
    Later(Think(1000, 3000), [this, id] { AnswerOffer(id); });
  }
}

void LocalClient::OfferTrade(int attempt) {
  retrying_ = false;
  if (Phase() != "FINALIZATION" || !Me()) return;
  // The mate whose champion it likes best.
  int64_t best = 0;
  size_t bestRank = preferences_.size() + 1;
  for (const ShownTrade& trade : Trades()) {
    if (trade.state != kAvailable) continue;
    const int championId = ChampionInCell(trade.cellId);
    const auto rank = static_cast<size_t>(std::find(preferences_.begin(), preferences_.end(), championId) - preferences_.begin());
    if (championId > 0 && rank < bestRank) {
      best = trade.id;
      bestRank = rank;
    }
  }
  if (best == 0) return;
  offerAttempts_ = attempt + 1;
  offered_ = best;
  const auto answer = Send("POST", kTradeRequestRoute, TradePath(best, "request"), "");
  if (!answer || !answer->error.empty() || script_.cancelAfter <= 0) return;
  Later(script_.cancelAfter, [this, best] { CancelOffer(best); });
}

void LocalClient::AnswerOffer(int64_t tradeId) {
  if (TradeState(tradeId) != kReceived) return;  // withdrawn meanwhile
  const bool accept = script_.acceptOffers;
  Send("POST", accept ? kTradeAcceptRoute : kTradeDeclineRoute, TradePath(tradeId, accept ? "accept" : "decline"), "");
}

void LocalClient::CancelOffer(int64_t tradeId) {
  if (TradeState(tradeId) != kSent) return;  // answered meanwhile
  Send("POST", kTradeCancelRoute, TradePath(tradeId, "cancel"), "");
}

void LocalClient::BuyBoost() {
  if (!boostShown_ || boostUnlocked_) return;  // someone bought it meanwhile
  Send("POST", kBoostPurchaseRoute, std::string(kPrefix) + kBoostPurchaseRoute, "");
}

void LocalClient::Hover(int64_t actionId) {
  const std::optional<OpenAction> open = MyOpenAction();
  if (!open || open->id != actionId) return;  // the turn passed meanwhile
  const int championId = Choose(open->type);
  if (championId == 0) return;
  const std::string path = std::string(kPrefix) + "session/actions/" + std::to_string(actionId);
  const auto answer = Send("PATCH", kActionRoute, path, ChampionBody(championId));
  if (!answer) return;
  if (answer->error.empty()) {
    Later(Think(1000, 4000), [this, actionId] { Complete(actionId); });
    return;
  }
  refused_.insert(championId);
  if (++tries_ < kTries) Later(Think(500, 1500), [this, actionId] { Hover(actionId); });
}

void LocalClient::Complete(int64_t actionId) {
  const std::optional<OpenAction> open = MyOpenAction();
  if (!open || open->id != actionId) return;
  const std::string path = std::string(kPrefix) + "session/actions/" + std::to_string(actionId) + "/complete";
  const auto answer = Send("POST", kCompleteRoute, path, "");
  if (!answer || answer->error.empty()) return;
  // The platform refused the champion (banned or taken meanwhile): another
  // one, while the turn lasts.
  if (open->championId != 0) refused_.insert(open->championId);
  if (++tries_ < kTries) Later(Think(500, 1500), [this, actionId] { Hover(actionId); });
}

void LocalClient::Finalize(int step) {
  if (Phase() != "FINALIZATION") return;
  if (step < script_.rerolls) {
    Send("POST", kRerollRoute, std::string(kPrefix) + kRerollRoute, "");
    Later(Think(1000, 3000), [this, step] { Finalize(step + 1); });
    return;
  }
  const rapidjson::Value* me = Me();
  if (!me) return;
  JsonWriter body;
  body.BeginObject().Key("spell1Id").Int(script_.spell1).Key("spell2Id").Int(script_.spell2);
  // The skin is chosen for the champion held now, after any reroll.
  if (const int64_t championId = Integer(*me, "championId"); championId > 0)
    body.Key("selectedSkinId").Int(SkinId(static_cast<int>(championId), script_.skinIndex));
  body.Key("wardSkinId").Int(script_.wardSkinId).EndObject();
  Send("PATCH", kMySelectionRoute, std::string(kPrefix) + kMySelectionRoute, body.Text());
}

void LocalClient::Launch() { Send("POST", kLaunchRoute, std::string(kPrefix) + kLaunchRoute, ""); }

// ---- Reading the session ------------------------------------------------------

const rapidjson::Value* LocalClient::Session() const {
  if (!hasSession_ || !session_.HasMember("data") || !session_["data"].IsObject()) return nullptr;
  return &session_["data"];
}

int64_t LocalClient::LocalCell() const {
  const rapidjson::Value* session = Session();
  return session ? Integer(*session, "localPlayerCellId", -1) : -1;
}

std::optional<LocalClient::OpenAction> LocalClient::MyOpenAction() const {
  const rapidjson::Value* session = Session();
  const rapidjson::Value* groups = session ? Array(*session, "actions") : nullptr;
  if (!groups) return std::nullopt;
  const int64_t cell = LocalCell();
  for (const rapidjson::Value& group : groups->GetArray()) {
    if (!group.IsArray()) continue;
    bool running = false;
    std::optional<OpenAction> mine;
    for (const rapidjson::Value& action : group.GetArray()) {
      if (!action.IsObject() || Flag(action, "completed")) continue;
      running = true;
      if (Integer(action, "actorCellId", -1) == cell)
        mine = OpenAction{Integer(action, "id"), Text(action, "type"), static_cast<int>(Integer(action, "championId"))};
    }
    if (running) return mine;
  }
  return std::nullopt;
}

bool LocalClient::MyPickCompleted() const {
  const rapidjson::Value* session = Session();
  const rapidjson::Value* groups = session ? Array(*session, "actions") : nullptr;
  if (!groups) return false;
  for (const rapidjson::Value& group : groups->GetArray()) {
    if (!group.IsArray()) continue;
    for (const rapidjson::Value& action : group.GetArray())
      if (Integer(action, "actorCellId", -1) == LocalCell() && Text(action, "type") == "pick" &&
          Flag(action, "completed"))
        return true;
  }
  return false;
}

const rapidjson::Value* LocalClient::Me() const {
  const rapidjson::Value* session = Session();
  const rapidjson::Value* team = session ? Array(*session, "myTeam") : nullptr;
  if (!team) return nullptr;
  for (const rapidjson::Value& player : team->GetArray())
    if (Integer(player, "cellId", -1) == LocalCell()) return &player;
  return nullptr;
}

std::string LocalClient::Phase() const {
  const rapidjson::Value* session = Session();
  return session && session->HasMember("timer") ? Text((*session)["timer"], "phase") : "";
}

std::vector<LocalClient::ShownTrade> LocalClient::Trades() const {
  std::vector<ShownTrade> trades;
  const rapidjson::Value* session = Session();
  if (const rapidjson::Value* list = session ? Array(*session, "trades") : nullptr)
    for (const rapidjson::Value& trade : list->GetArray())
      trades.push_back(ShownTrade{Integer(trade, "id"), Integer(trade, "cellId", -1), TradeStateOf(trade)});
  return trades;
}

int LocalClient::TradeState(int64_t tradeId) const {
  for (const ShownTrade& trade : Trades())
    if (trade.id == tradeId) return trade.state;
  return 0;
}

int LocalClient::ChampionInCell(int64_t cellId) const {
  const rapidjson::Value* session = Session();
  if (const rapidjson::Value* team = session ? Array(*session, "myTeam") : nullptr)
    for (const rapidjson::Value& player : team->GetArray())
      if (Integer(player, "cellId", -1) == cellId) return static_cast<int>(Integer(player, "championId"));
  return 0;
}

bool LocalClient::Banned(int championId) const {
  const rapidjson::Value* session = Session();
  if (!session || !session->HasMember("bans")) return false;
  for (const char* side : {"myTeamBans", "theirTeamBans"})
    if (const rapidjson::Value* bans = Array((*session)["bans"], side))
      for (const rapidjson::Value& ban : bans->GetArray())
        if (ban.IsInt() && ban.GetInt() == championId) return true;
  return false;
}

bool LocalClient::Shown(int championId, bool teamOnly) const {
  const rapidjson::Value* session = Session();
  if (!session) return false;
  for (const char* side : {"myTeam", "theirTeam"}) {
    if (teamOnly && side != std::string("myTeam")) continue;
    if (const rapidjson::Value* team = Array(*session, side))
      for (const rapidjson::Value& player : team->GetArray())
        if (Integer(player, "cellId", -1) != LocalCell() && Integer(player, "championId") == championId) return true;
  }
  return false;
}

int LocalClient::Choose(const std::string& type) const {
  const bool ban = type == "ban";
  const std::vector<int>& offered = ban ? bannable_ : pickable_;
  const bool known = ban ? knowBannable_ : knowPickable_;
  std::vector<int> order = ban ? std::vector<int>{script_.ban} : script_.picks;
  order.insert(order.end(), preferences_.begin(), preferences_.end());
  // What only the plug-in offers (battle training's own champions) last.
  if (known) order.insert(order.end(), offered.begin(), offered.end());
  for (int championId : order) {
    if (refused_.count(championId) || Banned(championId) || (known && !Contains(offered, championId))) continue;
    if (Shown(championId, ban)) continue;
    return championId;
  }
  return 0;
}

// ---- Acting -----------------------------------------------------------------------

void LocalClient::Later(Micros delay, std::function<void()> work) {
  const uint64_t generation = generation_;
  scheduler_.After(delay, [this, generation, work = std::move(work)] { Run(generation, work); });
}

void LocalClient::Run(uint64_t generation, const std::function<void()>& work) {
  if (generation != generation_) return;
  if (busy_ || core_.WaitDepth() > 0) {
    deferred_.push_back([this, generation, work] { Run(generation, work); });
    return;
  }
  work();
}

bool LocalClient::RunDeferred() {
  if (deferred_.empty()) return false;
  const std::function<void()> work = std::move(deferred_.front());
  deferred_.pop_front();
  work();
  return true;
}

std::optional<TovHost::Core::CallResult> LocalClient::Send(const char* method, const char* route,
                                                           const std::string& path, const std::string& body) {
  const std::string key = std::string(method) + " " + kPrefix + route;
  if (missingRoutes_.count(key)) return std::nullopt;
  trace_.Note("you", std::string(method) + " " + path + (body.empty() ? "" : " " + body));
  busy_ = true;
  TovHost::Core::CallResult result = core_.Call(TovHost::MethodCode(method), path, body);
  busy_ = false;
  trace_.Answer(method, path, result);
  if (result.routed) return result;
  missingRoutes_.insert(key);
  trace_.Note("you", "the plug-in has no " + key + "; the platform's timers decide instead");
  return std::nullopt;
}

}  // namespace TovSim
