// Plays a recorded trace back to a plug-in (tov-core --replay): a core
// stand-in on the game's clock hands the plug-in what the trace says came
// from outside, each at its time and in its place among the plug-in's own
// lines, and checks every line the plug-in sends against the trace.
//
// No simulated platform takes part: every answer, event and request the
// plug-in meets is the recorded one. So a trace recorded from one build can
// check another.
//
// Where the inputs go:
//   - a "push", "call" or "clock" line between the plug-in's lines goes at
//     top level once the clock reaches its time: first the plug-in's own
//     timers due by then run, each at its time, as the core runs them;
//   - the same lines found while the plug-in waits go in its next Pump (its
//     timers due earlier first); one found inside a request, right there;
//   - a "reply" answers the plug-in's latest request;
//   - a line of the plug-in's that nothing delivered brings on is its own
//     work: its timers and scheduled callbacks run until it comes.
// Lines from outside at the same instant go one after another, before work
// the plug-in scheduled at that instant (the core delivers a batch of
// events in one turn).
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/core.h"
#include "replay/trace_file.h"
#include "sim/clock.h"
#include "sim/trace.h"

namespace TovReplay {

// Where the plug-in first did something else than the trace says.
struct Difference {
  size_t line = 0;       // the trace's line number
  std::string expected;  // that line, or what the trace expected there
  std::string got;       // the plug-in's line, or what it did instead
};

class Replay {
 public:
  explicit Replay(std::vector<TraceLine> lines);
  ~Replay();
  Replay(const Replay&) = delete;
  Replay& operator=(const Replay&) = delete;

  // True when the plug-in did all the trace says, line by line; false when
  // it failed to load (see Failure()).
  bool Run(const std::string& pluginPath);
  const std::string& Failure() const { return failure_; }
  size_t Compared() const { return compared_; }

  // Called at the first difference, from wherever the plug-in is at that
  // moment; it must not return (nothing could go on sensibly). By default it
  // prints the difference and ends the process with status 1.
  std::function<void(const Difference&)> onDifference;
  // Called when the trace ends while the plug-in waits, as it did when it was
  // recorded; it must not return. By default it ends the process with 0.
  std::function<void()> onEndWhileWaiting;

 private:
  bool Load(const std::string& pluginPath);
  void Drive();
  void OnPump();
  static void DeliverNow(void* self);
  TovHost::Reply Serve();
  void Produced(const std::string& line);
  void Deliver(const TraceLine& line);
  bool RunOwnWork(double until);
  void Idle(const char* why);
  [[noreturn]] void Differ(const std::string& got);
  const TraceLine& Next() const { return lines_[next_]; }

  std::vector<TraceLine> lines_;
  size_t next_ = 0;
  size_t compared_ = 0;
  int idlePumps_ = 0;
  TovHost::Core core_;
  TovSim::Clock clock_;
  TovSim::Trace trace_;
  std::unique_ptr<TovHost::PluginLibrary> library_;
  PluginHandshake record_{};
  CoreContext context_{};
  bool initialised_ = false;
  std::string failure_;
};

}  // namespace TovReplay
