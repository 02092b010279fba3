#include "sim/push_queue.h"

#include "runtime/event_names.h"
#include "sim/game_dto.h"
#include "sim/json.h"
#include "sim/trade_desk.h"

namespace TovSim {
namespace {

constexpr uint64_t kOtherGameOffset = 1000;

std::string WithOtherId(const std::string& bodyJson) {
  rapidjson::Document game = ParseJson(bodyJson);
  if (game.IsObject() && game.HasMember("id") && game["id"].IsUint64())
    game["id"].SetUint64(game["id"].GetUint64() + kOtherGameOffset);
  return ToJson(game);
}

}  // namespace

std::string PushQueue::Payload(const std::string& className, const std::string& bodyJson) {
  return JsonWriter()
      .BeginObject()
      .Key("clientId").String("sim")
      .Key("subtopic").String("game")
      .Key("typeName").String(className)
      .Key("body").Raw(bodyJson)
      .EndObject()
      .Text();
}

void PushQueue::Queue(const std::string& bodyJson) {
  core_.PushEvent(Vexa::LcdsEventName(kGameDtoClass), Payload(kGameDtoClass, bodyJson));
}

void PushQueue::SendGame(const std::string& bodyJson) {
  bodies_.push_back(bodyJson);
  const int number = GamePushes();
  if (!connected_) {
    trace_.Note("platform", "push " + std::to_string(number) + " lost: the client is disconnected");
    return;
  }
  if (plan_.HoldsPush(number)) {
    trace_.Note("fault", "push " + std::to_string(number) + " held back");
    injector_.Hold(number, Vexa::LcdsEventName(kGameDtoClass), Payload(kGameDtoClass, bodyJson));
    return;
  }
  const std::vector<PushFault::Kind> faults = plan_.ForPush(number);
  const auto has = [&](PushFault::Kind kind) {
    for (PushFault::Kind k : faults)
      if (k == kind) return true;
    return false;
  };
  if (has(PushFault::Kind::Drop)) {
    trace_.Note("fault", "push " + std::to_string(number) + " dropped");
    return;
  }
  Queue(bodyJson);
  if (has(PushFault::Kind::Duplicate)) {
    trace_.Note("fault", "push " + std::to_string(number) + " sent twice");
    Queue(bodyJson);
  }
  if (has(PushFault::Kind::Stale) && number >= 2) {
    trace_.Note("fault", "push " + std::to_string(number - 1) + " sent again after push " + std::to_string(number));
    Queue(bodies_[static_cast<size_t>(number - 2)]);
  }
  if (has(PushFault::Kind::OtherGame)) {
    trace_.Note("fault", "a copy of push " + std::to_string(number) + " sent for another game");
    Queue(WithOtherId(bodyJson));
  }
}

void PushQueue::SendContract(const std::string& bodyJson) {
  const int number = ++contracts_;
  if (!connected_) {
    trace_.Note("platform", "contract push " + std::to_string(number) + " lost: the client is disconnected");
    return;
  }
  int copies = 1;
  for (PushFault::Kind kind : plan_.ForContract(number)) {
    if (kind == PushFault::Kind::Drop) copies = 0;
    if (kind == PushFault::Kind::Duplicate && copies > 0) copies = 2;
  }
  if (copies != 1)
    trace_.Note("fault", "contract push " + std::to_string(number) + (copies == 0 ? " dropped" : " sent twice"));
  for (int i = 0; i < copies; ++i)
    core_.PushEvent(Vexa::LcdsEventName(kTradeContractClass), Payload(kTradeContractClass, bodyJson));
}

void PushQueue::SendMessage(const std::string& className, const std::string& bodyJson) {
  if (!connected_) {
    trace_.Note("platform", "a " + className.substr(className.rfind('.') + 1) + " push lost: the client is disconnected");
    return;
  }
  core_.PushEvent(Vexa::LcdsEventName(className), Payload(className, bodyJson));
}

}  // namespace TovSim
