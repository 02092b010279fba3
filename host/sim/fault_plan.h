// Faults a scenario or a test injects, each keyed by what it hits: the nth
// call of a service, the nth GameDTO push, a service-proxy request, or a
// delivery inside one of the plug-in's own calls. The plan counts; the
// servers ask it before they answer.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace TovSim {

// A platform call answered badly. `call` is "destination.method" for an LCDS
// call, or a request path such as "/tov-gameflow/v1/session/dodge".
struct CallFault {
  enum class Kind {
    Fail,       // the request fails with `status` and `text`
    WrongType,  // the right body under `typeName`
    EmptyBody,  // the right type with a null body
    Body,       // `body` (JSON, NaN and Infinity allowed) instead of the real result
    Chunked,    // the right answer, streamed in `chunks` pieces, one read each
  };
  std::string call;
  int nth = 1;          // the nth such call of the run
  bool always = false;  // every call from the nth on
  Kind kind = Kind::Fail;
  int status = 500;
  std::string text = "Simulated platform failure";
  std::string typeName = "com.vexagames.platform.game.Unexpected";
  std::string body;
  int chunks = 3;
};

// How the ward-skin service answers a request of `method`.
struct ProxyFault {
  enum class Kind {
    HoldPumps,     // the answer comes in the plug-in's `amount`th Pump after the request
    DelayMillis,   // the answer comes `amount` ms later on the simulation's clock
    Never,         // no answer at all
    InsidePost,    // the answer is delivered inside the request, before it returns
    Duplicate,     // the answer comes twice
    MissingField,  // the answer's payload lacks its field
    OtherValue,    // the answer names `amount` rather than the value asked for
    Error,         // the error answer method with `text`
  };
  std::string method;
  Kind kind = Kind::HoldPumps;
  int amount = 0;
  std::string text = "not owned";
};

// Something wrong with the nth GameDTO push of the run (counted as the
// platform sends them, including those that never arrive).
struct PushFault {
  enum class Kind {
    Drop,       // never delivered
    Duplicate,  // delivered twice
    Stale,      // followed by the previous push again (a lower lock)
    OtherGame,  // followed by a copy for another game id
  };
  int push = 1;
  Kind kind = Kind::Drop;
};

// The trade and boost desks' departures from their usual ways.
struct DeskKnobs {
  // An accepted trade reaches the local client as two messages: by default
  // the ACCEPTED contract, then the GameDTO with the champions swapped (the
  // trade service settles the contract before the game service publishes
  // the game). This sends the GameDTO first.
  bool gameBeforeAccepted = false;
  // Contracts between two other players of the local player's team reach
  // the local client too.
  bool othersContracts = false;
  // The local player's wallet holds less than the team boost costs.
  bool walletShort = false;
};

// An event handed to the plug-in inside one of its own calls into the core:
// inside the nth Request matching `match` (a CallKey), or inside its nth Pump.
// Counting starts when the injection is armed: at `armAt` seconds, or, for a
// held push, when the platform sends it.
struct Injection {
  enum class Inside { Request, Pump };
  Inside inside = Inside::Pump;
  std::string match;  // for Inside::Request
  int nth = 1;
  // What: the nth GameDTO push of the run, held back until then …
  int heldPush = 0;
  // … or a resource event.
  std::string uri;
  std::string json;
  std::string eventType = "Update";
  double armAt = 0;
};

class FaultPlan {
 public:
  std::vector<CallFault> calls;
  std::vector<ProxyFault> proxy;
  std::vector<PushFault> pushes;
  // The same by the nth trade contract pushed to the local client; only
  // Drop and Duplicate apply to a contract.
  std::vector<PushFault> contracts;
  DeskKnobs desks;
  std::vector<Injection> injections;

  // Counts one call of `key` and returns the fault for it, if any.
  const CallFault* ForCall(const std::string& key);
  const ProxyFault* ForProxy(const std::string& method) const;
  std::vector<PushFault::Kind> ForPush(int push) const;
  std::vector<PushFault::Kind> ForContract(int push) const;
  bool HoldsPush(int push) const;

 private:
  std::map<std::string, int> callCounts_;
};

}  // namespace TovSim
