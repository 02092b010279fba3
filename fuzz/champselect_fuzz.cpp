// Sequences of platform games, timer answers and other plug-ins' resources,
// fed into the champion select inside the real plug-in object over the core
// stand-in. The input is a list of records separated by NUL bytes; each
// record's first byte says what it is:
//   G  a pushed GameDTO body (JSON)        T  the next timer answer (JSON)
//   F  the gameflow session (JSON)         L  the login session (JSON)
//   A  let the core's clock run (the next byte: seconds)
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "champselect/champ_select.h"
#include "champselect/vover_orevid_aredez_plugin.h"
#include "core/core.h"

namespace {

using Vexa::Client::VoverOrevidAredez::VoverOrevidAredezPlugin;

void Feed(TovHost::Core& core, std::string& timer, char kind, std::string_view text) {
  const std::string json(text);
  switch (kind) {
    case 'G': core.PushLcds("com.vexagames.platform.game.GameDTO", json); break;
    case 'T': timer = json; break;
    case 'F': core.SetResource("/tov-gameflow/v1/session", json); break;
    case 'L': core.SetResource("/tov-login/v1/session", json); break;
    case 'A': core.AdvanceTime(text.empty() ? 1 : static_cast<unsigned char>(text[0])); break;
    default: return;
  }
  core.RunOnce();
  core.RunOnce();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TovHost::Core core;
  std::string timer = R"({"currentGameState":"CHAMP_SELECT","remainingTimeInMillis":30000})";
  core.SetResource("/tov-login/v1/session", R"({"state":"SUCCEEDED","summonerId":1001,"accountId":9001})");
  core.SetLcdsHandler("gameService", "setClientReceivedGameMessage",
                      [](const std::vector<std::string>&) { return TovHost::LcdsReply{}; });
  core.SetLcdsHandler("gameService", "getCurrentTimerForGame", [&timer](const std::vector<std::string>&) {
    TovHost::LcdsReply reply;
    reply.typeName = "com.vexagames.platform.game.GameTimerDTO";
    reply.bodyJson = timer;
    return reply;
  });
  // The ward skin answers at once, so a beginning never waits for a clock
  // that only the input moves.
  core.OnRequest(6, "/tov-login/v1/service-proxy-method-requests", [&core](const TovHost::RequestRecord&) {
    core.DeliverEvent("OnServiceProxyMethodEvent",
                      TovHost::Core::ServiceProxyAnswer("", "wardSkins", "receiveSelectedWardSkin", "{}"));
    return TovHost::Reply::Json("");
  });
  {
    VoverOrevidAredezPlugin plugin;
    PluginHandshake record{18, 0, 0, nullptr, nullptr, nullptr, nullptr};
    plugin.Handshake(&record, "tov-vover-orevid-aredez");
    const CoreContext context = core.Context();
    plugin.Init(&context);
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    for (std::size_t start = 0; start < input.size();) {
      const std::size_t end = std::min(input.find('\0', start), input.size());
      if (end > start) Feed(core, timer, input[start], input.substr(start + 1, end - start - 1));
      start = end + 1;
    }
    plugin.Stop();
  }
  return 0;
}
