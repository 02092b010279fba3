#include "sim/ward_skins.h"

#include "sim/content.h"
#include "sim/json.h"

namespace TovSim {
namespace {

constexpr uint32_t kPost = 6;
constexpr const char* kService = "wardSkins";
constexpr const char* kEventName = "OnServiceProxyMethodEvent";

std::string WardSkinPayload(int64_t id) { return JsonWriter().BeginObject().Key("selectedWardSkinId").Int(id).EndObject().Text(); }

}  // namespace

void WardSkins::Install() {
  core_.OnRequest(kPost, "/tov-login/v1/service-proxy-method-requests",
                  [this](const TovHost::RequestRecord& r) { return Serve(r); });
}

bool WardSkins::Handle(const std::string& method, const std::string& payload, ProxyAnswer* out) const {
  if (method == "requestSelectedWardSkin") {
    *out = {"receiveSelectedWardSkin", WardSkinPayload(selected_), ""};
    return true;
  }
  if (method == "selectWardSkin") {
    const rapidjson::Document request = ParseJson(payload);
    int64_t id = -1;
    if (request.IsObject() && request.HasMember("wardSkinId") && ReadInt(request["wardSkinId"], &id) && id >= 0 &&
        id <= kLastWardSkin) {
      *out = {"receiveSelectionConfirmation", WardSkinPayload(id), "", id};
    } else {
      *out = {"receiveWardSkinServiceError", R"({"error":"not owned"})", "not owned"};
    }
    return true;
  }
  return false;
}

TovHost::Reply WardSkins::Serve(const TovHost::RequestRecord& request) {
  // [service, method, answer method, error method, core handle, payload]
  const auto text = [&](size_t i) {
    const rapidjson::Document value = ParseJson(i < request.args.size() ? request.args[i] : "");
    return value.IsString() ? std::string(value.GetString(), value.GetStringLength()) : std::string();
  };
  const std::string service = text(0), method = text(1);
  if (service != kService) return TovHost::Reply::Failure(404, "No service proxy for " + service);
  if (const CallFault* fault = plan_.ForCall(service + "." + method); fault && fault->kind == CallFault::Kind::Fail) {
    trace_.Note("fault", service + "." + method + " request fails: " + fault->text);
    return TovHost::Reply::Failure(fault->status, fault->text);
  }
  ProxyAnswer answer;
  if (!Handle(method, text(5), &answer)) return TovHost::Reply::Failure(404, "No method " + method + " on " + service);
  const ProxyFault* fault = plan_.ForProxy(method);
  // A selection the service refuses is not made; one whose answer is lost
  // or altered on its way was.
  if (answer.selects >= 0 && !(fault && fault->kind == ProxyFault::Kind::Error)) selected_ = answer.selects;
  Send(answer, fault);
  return TovHost::Reply::Json("");
}

void WardSkins::Send(const ProxyAnswer& original, const ProxyFault* fault) {
  const auto event = [](const ProxyAnswer& answer) {
    return TovHost::Core::ServiceProxyAnswer("", kService, answer.method, answer.payload,
                                             answer.error.empty() ? "200" : "500", answer.error);
  };
  if (!fault) {
    core_.PushEvent(kEventName, event(original));
    return;
  }
  using Kind = ProxyFault::Kind;
  ProxyAnswer answer = original;
  if (fault->kind == Kind::MissingField) answer.payload = "{}";
  if (fault->kind == Kind::OtherValue) answer.payload = WardSkinPayload(fault->amount);
  if (fault->kind == Kind::Error) {
    answer = {"receiveWardSkinServiceError", JsonWriter().BeginObject().Key("error").String(fault->text).EndObject().Text(),
              fault->text};
  }
  const std::string payload = event(answer);
  trace_.Note("fault", std::string(kService) + "." + original.method + ": " +
                           (fault->kind == Kind::Never ? "never answered" : "answer altered or moved"));
  switch (fault->kind) {
    case Kind::Never:
      return;
    case Kind::InsidePost:
      core_.DeliverEvent(kEventName, payload);
      return;
    case Kind::HoldPumps:
      held_.push_back(Held{fault->amount, payload});
      return;
    case Kind::DelayMillis:
      scheduler_.After(Millis(fault->amount), [this, payload] { core_.PushEvent(kEventName, payload); });
      return;
    case Kind::Duplicate:
      core_.PushEvent(kEventName, payload);
      core_.PushEvent(kEventName, payload);
      return;
    case Kind::MissingField:
    case Kind::OtherValue:
    case Kind::Error:
      core_.PushEvent(kEventName, payload);
      return;
  }
}

void WardSkins::OnPump() {
  for (size_t i = 0; i < held_.size();) {
    if (--held_[i].pumpsLeft > 0) {
      ++i;
      continue;
    }
    const std::string event = std::move(held_[i].eventPayload);
    held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(i));
    // Queued now, so this pump's turn delivers it.
    core_.PushEvent(kEventName, event);
  }
}

}  // namespace TovSim
