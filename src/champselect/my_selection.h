// The local player's own choices: summoner spells, skin and ward skin, and a
// reroll of the champion.
#pragma once

#include "champselect/api.h"
#include "champselect/model.h"
#include "remoting/remoting.h"

namespace Vexa {
class AppModule;
}

namespace Vexa::Client::VoverOrevidAredez {

class Publisher;
class SessionBuilder;

class MySelection {
 public:
  MySelection(AppModule& module, ChampSelectModel& model, Publisher& publisher, SessionBuilder& sessions)
      : module_(module), model_(model), publisher_(publisher), sessions_(sessions) {}

  // Route 13: sends only what differs from the player's current choice.
  RemotingResult UpdateMySelection(const Api::ChampSelectMySelection& selection);
  // Route 11.
  RemotingResult Reroll();

 private:
  // The session player at the local cell; null when there is none.
  Api::ChampSelectPlayerSelection* LocalCellPlayer();
  RemotingResult SelectWardSkin(std::int64_t wardSkinId, const SessionWatch& watch);

  AppModule& module_;
  ChampSelectModel& model_;
  Publisher& publisher_;
  SessionBuilder& sessions_;
};

}  // namespace Vexa::Client::VoverOrevidAredez
