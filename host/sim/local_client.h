// The local player's client, playing through the plug-in as the real client
// does: it reads what the plug-in publishes (the session, the pickable and
// bannable champions) and, as the client's own screens do, whether the match
// flow is in battle training; it sends the plug-in's routes through its
// function records, each after a seeded think time:
//   - its own action open in the running turn: PATCH a champion on it, then
//     POST its completion (another champion when one is refused);
//   - finalizing: POST rerolls as scripted, then one PATCH of its selection
//     (spells, skin, ward skin); as scripted, one trade offer to the mate
//     whose champion it likes best (once more after a busy mate), answers
//     to the offers it receives, the withdrawal of its own, and the team
//     boost once it is shown locked;
//   - battle training: once its pick is completed, POST the launch.
// Every request and the plug-in's answer go to the trace. A route the
// plug-in does not have is tried once; the platform's timers then decide.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include "core/core.h"
#include "sim/client_state.h"
#include "sim/policy.h"
#include "sim/random.h"
#include "sim/scheduler.h"
#include "sim/trace.h"

namespace TovSim {

class LocalClient {
 public:
  LocalClient(TovHost::Core& core, Scheduler& scheduler, Trace& trace, const ClientState& client, uint64_t seed);

  // The script for the games from now on.
  void Play(const LocalScript& script) { script_ = script; }
  // Every event the plug-in sends; the client keeps what it reads and plans
  // its next move (it never calls the plug-in from here).
  void OnEvent(const TovHost::SentEvent& event);

  // The core serves one request at a time: a request that comes due while
  // the plug-in is inside one of its own waits goes when the wait is over.
  bool HasDeferred() const { return !deferred_.empty(); }
  // Sends the oldest such request; false when there is none.
  bool RunDeferred();

 private:
  struct ShownTrade {
    int64_t id;
    int64_t cellId;
    int state;  // 1 AVAILABLE, 2 BUSY, 3 INVALID, 4 RECEIVED, 5 SENT; 0 unknown
  };
  struct OpenAction {
    int64_t id;
    std::string type;
    int championId;
  };

  void OnSession(const std::string& eventType, rapidjson::Document payload);
  void BeginSession();
  void Consider();
  void Hover(int64_t actionId);
  void Complete(int64_t actionId);
  void Finalize(int step);
  void Launch();
  // Trades, as the session's `trades` show them.
  void ConsiderTrades();
  void OfferTrade(int attempt);
  void AnswerOffer(int64_t tradeId);
  void CancelOffer(int64_t tradeId);
  void BuyBoost();

  // ---- Reading the session ------------------------------------------------
  const rapidjson::Value* Session() const;
  int64_t LocalCell() const;
  // The local player's uncompleted action in the running turn: the first
  // group that still has an uncompleted action.
  std::optional<OpenAction> MyOpenAction() const;
  bool MyPickCompleted() const;
  const rapidjson::Value* Me() const;
  std::string Phase() const;
  bool Banned(int championId) const;
  // Whether another player shows the champion: anyone for a pick, a
  // team-mate for a ban.
  bool Shown(int championId, bool teamOnly) const;
  int Choose(const std::string& type) const;
  // The session's trades.
  std::vector<ShownTrade> Trades() const;
  int TradeState(int64_t tradeId) const;  // 0 when there is no such trade
  // The champion of the team-mate in that cell; 0 when unknown.
  int ChampionInCell(int64_t cellId) const;

  // ---- Acting ---------------------------------------------------------------
  // Runs `work` after `delay`, unless the session has begun or ended since.
  void Later(Micros delay, std::function<void()> work);
  void Run(uint64_t generation, const std::function<void()>& work);
  Micros Think(int lowMillis, int highMillis) { return Millis(random_.Between(lowMillis, highMillis)); }
  // One request to the plug-in, traced; nothing when `route` is known to be
  // missing or turns out to be (the plug-in has no function for it).
  std::optional<TovHost::Core::CallResult> Send(const char* method, const char* route, const std::string& path,
                                                const std::string& body);

  TovHost::Core& core_;
  Scheduler& scheduler_;
  Trace& trace_;
  const ClientState& client_;
  uint64_t seed_;
  LocalScript script_;

  rapidjson::Document session_;  // the last published session's event payload
  bool hasSession_ = false;
  std::vector<int> pickable_, bannable_;
  bool knowPickable_ = false, knowBannable_ = false;
  // Counts sessions begun and ended: a plan made in another one is dropped.
  uint64_t generation_ = 0;
  int sessions_ = 0;

  // The running session's plans.
  Random random_{0};
  std::vector<int> preferences_;  // drawn when the session begins
  int64_t plannedAction_ = 0;
  std::set<int> refused_;  // champions refused for the planned action
  int tries_ = 0;
  bool finalizing_ = false;
  bool launching_ = false;
  // Trades: the offer it made (0: none) and whether it tried again after
  // a busy mate; offers received, answered or left to run out.
  int64_t offered_ = 0;
  int offerAttempts_ = 0;
  bool retrying_ = false;
  std::set<int64_t> receivedSeen_;  // trades shown RECEIVED, until they are not
  int offersReceived_ = 0;
  // The team boost as the plug-in last published it.
  bool boostShown_ = false;
  bool boostUnlocked_ = false;
  bool buying_ = false;

  std::set<std::string> missingRoutes_;
  bool busy_ = false;
  std::deque<std::function<void()>> deferred_;
};

}  // namespace TovSim
