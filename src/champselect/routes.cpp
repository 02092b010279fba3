#include "champselect/routes.h"

#include <utility>
#include <vector>

#include "champselect/champ_select.h"
#include "remoting/remoting.h"

namespace Vexa::Client::VoverOrevidAredez {
namespace {

// Every answer text of these routes.
constexpr const char* kNotInChampSelect = "Not in Champ Select";
constexpr const char* kNoTrade = "Trade Not Existent";

constexpr const char* kPrefix = "/tov-vover-orevid-aredez/v1/";

std::string PathOf(const char* rest) { return std::string(kPrefix) + rest; }

}  // namespace

void RegisterChampSelectRoutes(Remoting& remoting, ChampSelect& champSelect) {
  ChampSelect& cs = champSelect;
  const ChampSelectModel& model = cs.Model();
  // 1
  remoting.AddRoute(RemotingMethod::Get, PathOf("implementation-active"), [&model] { return model.HasSession(); });
  // 2
  remoting.AddRoute(RemotingMethod::Get, PathOf("session"), [&model] {
    using Result = RemotingTypedResult<Api::ChampSelectSession>;
    return model.HasSession() ? Result::Success(model.session) : Result::NotFound(kNotInChampSelect);
  });
  // 3
  remoting.AddRoute(RemotingMethod::Get, PathOf("session/trades"), [&model] { return model.session.trades; });
  // 4
  remoting
      .AddRoute(RemotingMethod::Get, PathOf("session/trades/{id}"),
                [&model](std::int64_t id) {
                  using Result = RemotingTypedResult<Api::ChampSelectTradeContract>;
                  for (const auto& trade : model.session.trades)
                    if (trade.id == id) return Result::Success(trade);
                  return Result::NotFound(kNoTrade);
                })
      .PathArgument("id");
  // 5
  remoting
      .AddRoute(RemotingMethod::Post, PathOf("session/trades/{id}/request"),
                [&cs](std::int64_t id) { return cs.Trading().RequestTrade(id); })
      .PathArgument("id");
  // 6 to 8: declining and cancelling are one operation.
  for (const auto& [rest, accept] : {std::pair{"session/trades/{id}/accept", true},
                                     std::pair{"session/trades/{id}/decline", false},
                                     std::pair{"session/trades/{id}/cancel", false}}) {
    remoting
        .AddRoute(RemotingMethod::Post, PathOf(rest),
                  [&cs, accept = accept](std::int64_t id) { return cs.Trading().AnswerTrade(id, accept); })
        .PathArgument("id");
  }
  // 9
  remoting
      .AddRoute(RemotingMethod::Patch, PathOf("session/actions/{id}"),
                [&cs](std::int64_t id, Api::ChampSelectAction data) { return cs.ActionCommands().PatchAction(id, data); })
      .PathArgument("id")
      .BodyArgument("data");
  // 10
  remoting
      .AddRoute(RemotingMethod::Post, PathOf("session/actions/{id}/complete"),
                [&cs](std::int64_t id) { return cs.ActionCommands().CompleteAction(id); })
      .PathArgument("id");
  // 11
  remoting.AddRoute(RemotingMethod::Post, PathOf("session/my-selection/reroll"),
                    [&cs] { return cs.Selection().Reroll(); });
  // 12
  remoting.AddRoute(RemotingMethod::Post, PathOf("team-boost/purchase"), [&cs] { return cs.Boost().PurchaseTeamBoost(); });
  // 13
  remoting
      .AddRoute(RemotingMethod::Patch, PathOf("session/my-selection"),
                [&cs](Api::ChampSelectMySelection selection) { return cs.Selection().UpdateMySelection(selection); })
      .BodyArgument("selection");
  // 14
  remoting.AddRoute(RemotingMethod::Get, PathOf("session/timer"), [&model] {
    using Result = RemotingTypedResult<Api::ChampSelectTimer>;
    return model.HasSession() ? Result::Success(model.session.timer) : Result::NotFound(kNotInChampSelect);
  });
  // 15
  remoting.AddRoute(RemotingMethod::Post, PathOf("battle-training/launch"), [&cs] { return cs.Training().Launch(); });
  // 16
  remoting.AddRoute(RemotingMethod::Get, PathOf("pickable-champions"), [&cs] {
    using Result = RemotingTypedResult<Api::ChampSelectPickableChampions>;
    auto pickable = cs.Platform().GetPickableChampions();
    return pickable ? Result::Success(std::move(pickable).Value()) : Result::NotFound(pickable.Error().Message());
  });
  // 17
  remoting.AddRoute(RemotingMethod::Get, PathOf("bannable-champions"), [&cs] {
    using Result = RemotingTypedResult<Api::ChampSelectBannableChampions>;
    auto bannable = cs.Platform().GetBannableChampions();
    return bannable ? Result::Success(std::move(bannable).Value()) : Result::NotFound(bannable.Error().Message());
  });
  // 18
  remoting.AddRoute(RemotingMethod::Get, PathOf("team-boost"), [&cs] { return cs.Boost().GetTeamBoost(); });
}

}  // namespace Vexa::Client::VoverOrevidAredez
