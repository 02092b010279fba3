// Sequences of platform games, timer answers and other plug-ins' resources,
// fed into the champion select inside the real plug-in object over the core
// stand-in. The input is a list of records separated by NUL bytes; each
// record's first byte says what it is:
//   G  a pushed GameDTO body (JSON)        T  the next timer answer (JSON)
//   F  the gameflow session (JSON)         L  the login session (JSON)
//   C  a pushed trade contract (JSON)      B  a pushed team boost offer (JSON)
//   P  the next potential traders answer (JSON)
//   A  let the core's clock run (the next byte: seconds)
//   R  a request to one of the plug-in's routes: "METHOD PATH", a line
//      break, the content type, a line break, the body
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "champselect/champ_select.h"
#include "champselect/vover_orevid_aredez_plugin.h"
#include "core/core.h"

namespace {

using Vexa::Client::VoverOrevidAredez::VoverOrevidAredezPlugin;

// The answers the platform gives next, as the input sets them.
struct Answers {
  std::string timer = R"({"currentGameState":"CHAMP_SELECT","remainingTimeInMillis":30000})";
  std::string traders = R"({"potentialTraders":["matetwo","matethree"]})";
};

void Feed(TovHost::Core& core, Answers& answers, char kind, std::string_view text) {
  const std::string json(text);
  switch (kind) {
    case 'G': core.PushLcds("com.vexagames.platform.game.GameDTO", json); break;
    case 'C': core.PushLcds("com.vexagames.platform.trade.api.contract.TradeContractDTO", json); break;
    case 'B': core.PushLcds("com.vexagames.platform.game.TeamSkinRentalDTO", json); break;
    case 'T': answers.timer = json; break;
    case 'P': answers.traders = json; break;
    case 'F': core.SetResource("/tov-gameflow/v1/session", json); break;
    case 'L': core.SetResource("/tov-login/v1/session", json); break;
    case 'A': core.AdvanceTime(text.empty() ? 1 : static_cast<unsigned char>(text[0])); break;
    case 'R': {
      const std::size_t space = text.find(' ');
      const std::size_t line = text.find('\n');
      if (space == std::string_view::npos || line == std::string_view::npos || line < space) return;
      const std::size_t typeEnd = std::min(text.find('\n', line + 1), text.size());
      const uint32_t method = TovHost::MethodCode(std::string(text.substr(0, space)));
      const std::string type(text.substr(line + 1, typeEnd - line - 1));
      const std::string body(typeEnd < text.size() ? text.substr(typeEnd + 1) : std::string_view());
      (void)core.Call(method, std::string(text.substr(space + 1, line - space - 1)), body, type);
      break;
    }
    default: return;
  }
  core.RunOnce();
  core.RunOnce();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TovHost::Core core;
  Answers answers;
  core.SetResource("/tov-login/v1/session", R"({"state":"SUCCEEDED","summonerId":1001,"accountId":9001})");
  core.SetLcdsHandler("gameService", "setClientReceivedGameMessage",
                      [](const std::vector<std::string>&) { return TovHost::LcdsReply{}; });
  core.SetLcdsHandler("gameService", "getCurrentTimerForGame", [&answers](const std::vector<std::string>&) {
    return TovHost::LcdsReply{"com.vexagames.platform.game.GameTimerDTO", answers.timer, "", 200};
  });
  core.SetLcdsHandler("lcdsChampionTradeService", "getPotentialTraders", [&answers](const std::vector<std::string>&) {
    return TovHost::LcdsReply{"com.vexagames.platform.trade.api.contract.PotentialTradersDTO", answers.traders, "", 200};
  });
  core.SetLcdsHandler("gameService", "initializeTeamSkinRental", [](const std::vector<std::string>&) {
    return TovHost::LcdsReply{"com.vexagames.platform.game.TeamSkinRentalDTO",
                              R"({"skinUnlockMode":"TEAM","price":95,"availableSkins":[7001],"unlocked":false})", "", 200};
  });
  for (const char* method : {"attemptTrade", "dismissTrade"})
    core.SetLcdsHandler("lcdsChampionTradeService", method, [](const std::vector<std::string>&) { return TovHost::LcdsReply{}; });
  core.SetLcdsHandler("gameService", "unlockSkinsForTeam", [](const std::vector<std::string>&) { return TovHost::LcdsReply{}; });
  // The ward-skin service answers at once, under the answer method asked
  // for; and a wait that nothing answers moves the clock to what is due next
  // (a deadline), as a real core's loop would, so no input can hang.
  core.OnRequest(6, "/tov-login/v1/service-proxy-method-requests", [&core](const TovHost::RequestRecord& request) {
    if (request.args.size() < 3 || request.args[2].size() < 2) return TovHost::Reply::Json("");
    const std::string answer = request.args[2].substr(1, request.args[2].size() - 2);
    core.DeliverEvent("OnServiceProxyMethodEvent",
                      TovHost::Core::ServiceProxyAnswer("", "wardSkins", answer, R"({"selectedWardSkinId":1})"));
    return TovHost::Reply::Json("");
  });
  core.onPump = [&core](int) {
    if (core.PendingEvents() == 0 && std::isfinite(core.NextDue())) core.MoveClockTo(core.NextDue());
  };
  {
    VoverOrevidAredezPlugin plugin;
    PluginHandshake record{18, 0, 0, nullptr, nullptr, nullptr, nullptr};
    plugin.Handshake(&record, "tov-vover-orevid-aredez");
    const CoreContext context = core.Context();
    core.UseApi(record.apiDescription);
    plugin.Init(&context);
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    for (std::size_t start = 0; start < input.size();) {
      const std::size_t end = std::min(input.find('\0', start), input.size());
      if (end > start) Feed(core, answers, input[start], input.substr(start + 1, end - start - 1));
      start = end + 1;
    }
    plugin.Stop();
  }
  return 0;
}
