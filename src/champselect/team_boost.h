// The team boost: an offer, bought by one player, that unlocks skins for
// the whole team. Fetched once the trade phase has begun, then followed
// through the platform's pushed offers.
#pragma once

#include <optional>

#include "champselect/api.h"
#include "champselect/lcds.h"
#include "champselect/model.h"
#include "remoting/remoting.h"

namespace Vexa {
class AppModule;
}

namespace Vexa::Client::VoverOrevidAredez {

class PlatformState;
class Publisher;

class TeamBoostOffer {
 public:
  TeamBoostOffer(AppModule& module, const ChampSelectModel& model, Publisher& publisher, const PlatformState& platform)
      : module_(module), model_(model), publisher_(publisher), platform_(platform) {}

  // Fetches the offer when the queue has one and none is held yet.
  void InitTeamBoost();
  // A pushed offer replaces the held one; before the fetch it means nothing.
  void OnTeamSkinRental(const LCDS::TeamSkinRentalDTO& dto);
  // Route 18.
  RemotingTypedResult<Api::TeamBoost> GetTeamBoost() const;
  // Route 12.
  RemotingResult PurchaseTeamBoost();
  // The session ended (its resource is deleted with the session's).
  void Drop() { boost_.reset(); }

 private:
  AppModule& module_;
  const ChampSelectModel& model_;
  Publisher& publisher_;
  const PlatformState& platform_;
  std::optional<Api::TeamBoost> boost_;
};

}  // namespace Vexa::Client::VoverOrevidAredez
