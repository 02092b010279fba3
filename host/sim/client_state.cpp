#include "sim/client_state.h"

#include "sim/content.h"
#include "sim/json.h"
#include "sim/roster.h"

namespace TovSim {
namespace {

constexpr uint32_t kPost = 6;
constexpr const char* kPosts[] = {"/tov-gameflow/v1/session/event", "/tov-gameflow/v1/session/dodge",
                                  "/tov-gameflow/v1/battle-training/stop", "/vexaclient/ux-show"};

std::string LobbyStatus(bool custom, const std::vector<uint64_t>& members) {
  JsonWriter json;
  json.BeginObject().Key("queueId").Int(custom ? 0 : 400).Key("isCustom").Bool(custom).Key("isLeader").Bool(true);
  json.Key("isSpectator").Bool(false).Key("allowedPlayAgain").Bool(true).Key("memberSummonerIds").BeginArray();
  for (uint64_t id : members) json.Uint(id);
  return json.EndArray().EndObject().Text();
}

// The text a post carries: a JSON string body or first argument as its
// text, anything else as JSON.
std::string PostText(const TovHost::RequestRecord& request) {
  const std::string& raw = !request.body.empty() ? request.body : request.args.empty() ? std::string() : request.args[0];
  const rapidjson::Document value = ParseJson(raw);
  if (!value.HasParseError() && value.IsString()) return std::string(value.GetString(), value.GetStringLength());
  return raw;
}

}  // namespace

void ClientState::Install() {
  PublishGameflow();
  battleTraining_ = setup_.battleTraining;
  if (battleTraining_) core_.SetResource(Uri::kBattleTraining, "true");
  core_.SetResource(Uri::kNewPlayerMaxLevel, "10");
  core_.SetResource(Uri::kNewPlayerChampions, setup_.newPlayerListNotCollection ? R"("1,2,3")" : "[1,2,3]");
  if (!setup_.loginLate) core_.SetResource(Uri::kLogin, LoginJson(true));
  core_.SetResource(Uri::kSummoner, JsonWriter().BeginObject().Key("summonerLevel").Int(setup_.summonerLevel).EndObject().Text());
  core_.SetResource(Uri::kPlayerStatus, JsonWriter()
                                           .BeginObject()
                                           .Key("currentLobbyStatus").Raw(LobbyStatus(setup_.customLobby, PartyMembers()))
                                           .Key("lastQueuedLobbyStatus").Raw(LobbyStatus(setup_.customLobby, PartyMembers()))
                                           .EndObject()
                                           .Text());
  core_.SetResource(Uri::kInventory, InventoryJson());
  for (const char* url : kPosts)
    core_.OnRequest(kPost, url, [this](const TovHost::RequestRecord& r) { return OnPost(r); });
}

std::string ClientState::LoginJson(bool connected) const {
  return JsonWriter()
      .BeginObject()
      .Key("state").String("SUCCEEDED")
      .Key("summonerId").Uint(kLocalSummonerId)
      .Key("accountId").Uint(kLocalAccountId)
      .Key("connected").Bool(connected)
      .EndObject()
      .Text();
}

void ClientState::PublishGameflow() {
  JsonWriter json;
  json.BeginObject().Key("phase").String(phase_);
  json.Key("gameClient").BeginObject().Key("running").Bool(running_).Key("visible").Bool(visible_).EndObject();
  json.Key("gameData").BeginObject().Key("gameId").Uint(gameId_).Key("queue").BeginObject();
  json.Key("gameTypeConfig").BeginObject();
  json.Key("maxAllowableBans").Int(hasRules_ ? rules_.bans : 0);
  json.Key("allowTrades").Bool(hasRules_ && rules_.allowTrades).Key("battleBoost").Bool(hasRules_ && rules_.battleBoost);
  json.EndObject().Key("areFreeChampionsAllowed").Bool(hasRules_ && rules_.freeChampions);
  json.EndObject().EndObject().EndObject();
  // Always an Update: the session exists from the start, and a Create would
  // be ignored by its readers.
  core_.UpdateResource(Uri::kGameflow, json.Text());
}

void ClientState::QueuePopped(const Game& game) {
  rules_ = game.Rules();
  hasRules_ = true;
  gameId_ = game.Id();
  phase_ = "ChampSelect";
  running_ = visible_ = false;
  trace_.Note("gameflow", "queue pop: game " + std::to_string(game.Id()) + ", " + game.Rules().queueTypeName +
                              ", bans " + std::to_string(game.Rules().bans) + "; phase ChampSelect");
  PublishGameflow();
}

void ClientState::GameStarting() {
  SetPhase("GameStart");
  scheduler_.After(Seconds(5), [this] {
    phase_ = "InProgress";
    running_ = visible_ = true;
    trace_.Note("gameflow", "phase InProgress, game client running and visible");
    PublishGameflow();
  });
}

void ClientState::SetPhase(const std::string& phase) {
  phase_ = phase;
  trace_.Note("gameflow", "phase " + phase);
  PublishGameflow();
}

void ClientState::SetVisible(bool visible) {
  visible_ = visible;
  running_ = running_ || visible;
  trace_.Note("gameflow", std::string("game client ") + (visible ? "visible" : "hidden"));
  PublishGameflow();
}

void ClientState::SetLoginConnected(bool connected) {
  trace_.Note("login", connected ? "connected again" : "connection lost");
  core_.SetResource(Uri::kLogin, LoginJson(connected));
}

void ClientState::DeleteLogin() {
  trace_.Note("login", "login session deleted");
  core_.DeleteResource(Uri::kLogin);
}

void ClientState::RestoreLogin() {
  trace_.Note("login", "logged in again");
  core_.SetResource(Uri::kLogin, LoginJson(true));
}

void ClientState::SetBattleTraining(bool present) {
  trace_.Note("gameflow", present ? "battle training begins" : "battle training ends");
  battleTraining_ = present;
  if (present) {
    core_.SetResource(Uri::kBattleTraining, "true");
  } else {
    core_.DeleteResource(Uri::kBattleTraining);
  }
}

void ClientState::DelayedLaunch(uint64_t gameId, const std::string& gameJson, int64_t reconnectDelay) {
  gameId_ = gameId;
  trace_.Note("gameflow", "delayed launch of a spectated game in " + std::to_string(reconnectDelay) + " s");
  core_.UpdateResource(Uri::kDelayedLaunch, JsonWriter()
                                                .BeginObject()
                                                .Key("game").Raw(gameJson)
                                                .Key("reconnectDelay").Int(reconnectDelay)
                                                .EndObject()
                                                .Text());
}

TovHost::Reply ClientState::OnPost(const TovHost::RequestRecord& request) {
  const std::string path = request.url.substr(0, request.url.find('?'));
  if (const CallFault* fault = plan_.ForCall(path); fault && fault->kind == CallFault::Kind::Fail) {
    trace_.Note("fault", "POST " + path + " fails: " + fault->text);
    return TovHost::Reply::Failure(fault->status, fault->text);
  }
  const std::string text = PostText(request);
  posts_.push_back(ClientPost{ToSeconds(scheduler_.Now()), path, text});
  if (path == "/tov-gameflow/v1/session/event") {
    const std::string phase = text == "GAMEFLOW_EVENT.ENTERED_CHAMP_SELECT" ? "ChampSelect"
                              : text == "GAMEFLOW_EVENT.QUIT_TO_LOBBY"      ? "Lobby"
                                                                            : "";
    if (!phase.empty() && phase != phase_) SetPhase(phase);
  } else if (path == "/tov-gameflow/v1/session/dodge") {
    trace_.Note("gameflow", "dodge reported: " + text);
    if (phase_ != "Lobby") SetPhase("Lobby");
  } else if (path == "/tov-gameflow/v1/battle-training/stop") {
    SetBattleTraining(false);
    SetPhase("None");
  } else {
    trace_.Note("client", "window shown");
  }
  return TovHost::Reply::Json("");
}

}  // namespace TovSim
