// What every part of the champion select reads: the published session, the
// last accepted game, and the local player's identity. The parts that change
// it (session builder, platform state, timers) keep their own bookkeeping.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "champselect/api.h"
#include "champselect/lcds.h"

namespace Vexa::Client::VoverOrevidAredez {

inline constexpr const char* kShortName = "tov-vover-orevid-aredez";

struct ChampSelectModel {
  Api::ChampSelectSession session;
  // Survives the session: the stale check of the next message compares
  // against it.
  LCDS::GameDTO currentGame;
  std::int32_t previousPickTurn = 0;
  // 0 is nobody: before login, after a login Delete, and for bots and
  // hidden players, none of whom may be taken for the local player.
  std::uint64_t localSummonerId = 0;

  bool HasSession() const { return !session.id.empty(); }
  // The member of my team who is the local player.
  std::optional<Api::ChampSelectPlayerSelection> FindLocalPlayer() const {
    if (localSummonerId == 0) return std::nullopt;
    for (const auto& member : session.myTeam)
      if (member.summonerId == localSummonerId) return member;
    return std::nullopt;
  }
};

// What a command that waits remembers of the session it started in: after
// every wait the session may have been rebuilt from a newer game or ended,
// so anything found in it must be looked up again, or the command given up.
class SessionWatch {
 public:
  explicit SessionWatch(const ChampSelectModel& model) : model_(model), id_(model.session.id) {}
  // The session the command started in is gone (ended, or replaced).
  bool Lost() const { return !model_.HasSession() || model_.session.id != id_; }

 private:
  const ChampSelectModel& model_;
  std::string id_;
};

// Resource paths the plug-in publishes.
namespace Paths {
inline constexpr const char* kSession = "/tov-vover-orevid-aredez/v1/session";
inline constexpr const char* kImplementationActive = "/tov-vover-orevid-aredez/v1/implementation-active";
inline constexpr const char* kPickableChampions = "/tov-vover-orevid-aredez/v1/pickable-champions";
inline constexpr const char* kBannableChampions = "/tov-vover-orevid-aredez/v1/bannable-champions";
inline constexpr const char* kTeamBoost = "/tov-vover-orevid-aredez/v1/team-boost";
}  // namespace Paths

}  // namespace Vexa::Client::VoverOrevidAredez
