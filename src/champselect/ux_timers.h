// Bringing the client window forward while champion select needs the
// player: after each game message the phase timer is read into the session,
// and when asked (a new phase, the player's own turn) a one-shot timer is
// armed that shows the window ten seconds before the phase ends.
#pragma once

#include <cstdint>
#include <string>

#include "champselect/model.h"

namespace Vexa {
class AppModule;
}

namespace Vexa::Client::VoverOrevidAredez {

class Publisher;
class WorkQueue;

class UxTimers {
 public:
  UxTimers(AppModule& module, ChampSelectModel& model, Publisher& publisher, WorkQueue& work)
      : module_(module), model_(model), publisher_(publisher), work_(work) {}

  // Reads the phase timer into the session and publishes it; arms a timer
  // when a phase change or a turn asked for one.
  void RefreshTimers();
  // Asks the next refresh to look at the phase again.
  void PhaseChanged() { timerPhaseChanged_ = true; }
  // The local player's own turn began: show the window now.
  void ShowNow();
  // The local player acted: a timer that fires later shows nothing.
  void CancelShow() { showUx_ = false; }
  bool ShowUx() const { return showUx_; }
  // The session ended: timers already armed fire into nothing.
  void Reset();


 private:
  // Every UX timer knows the session and the phase epoch it was armed for,
  // so one of an ended session or an earlier phase only logs.
  struct Armed {
    std::string phase;
    std::string name;
    std::string sessionId;
    std::uint64_t epoch;
  };
  void Arm(const std::string& phase, std::int64_t remainingMs);
  void OnUxTimer(const Armed& timer);
  void PostUxShow();

  AppModule& module_;
  ChampSelectModel& model_;
  Publisher& publisher_;
  WorkQueue& work_;
  std::uint32_t uxTimerSerial_ = 0;
  std::uint32_t outstandingUxTimers_ = 0;
  bool showUx_ = false;
  bool timerPhaseChanged_ = false;
  // Grows at every reset of the outstanding count (a new phase or the end
  // of a session).
  std::uint64_t epoch_ = 0;
};

}  // namespace Vexa::Client::VoverOrevidAredez
