// Battle training's end of champion select: the client launches the game,
// or, when it does not, the plug-in leaves the game after a last minute.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "champselect/model.h"
#include "remoting/remoting.h"

namespace Vexa {
class AppModule;
}

namespace Vexa::Client::VoverOrevidAredez {

class PlatformState;
class Publisher;
class WorkQueue;

class BattleTraining {
 public:
  static constexpr const char* kTimerName = "tov-vover-orevid-aredez.battle-training";
  static constexpr double kChoosingSeconds = 900.0;
  static constexpr double kLastMinuteSeconds = 63.0;

  BattleTraining(AppModule& module, ChampSelectModel& model, Publisher& publisher, PlatformState& platform,
                 WorkQueue& work, std::function<bool(std::string_view)> raiseEvent)
      : module_(module),
        model_(model),
        publisher_(publisher),
        platform_(platform),
        work_(work),
        raiseEvent_(std::move(raiseEvent)) {}

  // A session began in battle training: not launched, its clock running.
  void Begin();
  // The session ended: its timers end with it.
  void End();
  // Route 15.
  RemotingResult Launch();

 private:
  // Whether a timer armed for `sessionId` may still act: the same session,
  // still in battle training, not launched.
  bool Current(const std::string& sessionId) const;
  void OnChoosingOver(const std::string& sessionId);
  void OnBattleTrainingTimeout(const std::string& sessionId);

  AppModule& module_;
  ChampSelectModel& model_;
  Publisher& publisher_;
  PlatformState& platform_;
  WorkQueue& work_;
  std::function<bool(std::string_view)> raiseEvent_;
  bool launched_ = false;
};

}  // namespace Vexa::Client::VoverOrevidAredez
