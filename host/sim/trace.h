// Everything that crosses the plug-in's boundary during a simulated game,
// each with its virtual time: as JSON lines for machines, or as a readable
// timeline together with the platform's own account of the game.
//
// JSON lines, one object each, "t" in virtual seconds with three decimals.
// What the plug-in did:
//   {"t":1.000,"kind":"request","method":"POST","url":…,"args":[…],"body":null}
//   {"t":1.000,"kind":"event","name":…,"payload":{"uri":…,"eventType":"Update","data":…}}
//   {"t":1.000,"kind":"log","level":3,"message":…}
//   {"t":1.000,"kind":"answer","method":"GET","path":…,"status":200,"body":…}
//     its answer to a "call": the body as JSON, or for a failure its text.
// What reached the plug-in from outside, in its place among the above, so
// that a trace can be played back to a plug-in (tov-core --replay):
//   {"t":1.000,"kind":"push","name":…,"payload":…}
//     an event the core delivered to the plug-in's handlers;
//   {"t":1.000,"kind":"reply","status":200,"body":…}
//     the core's answer to the plug-in's latest "request" still unanswered
//     (requests nest: an event delivered inside one may cause another).
//     Instead of "body" (JSON, NaN and Infinity kept): "error", the failure
//     text; "bodyText", a body that is not JSON, as text; or "chunks", a
//     streamed body as the texts of its reads, with "sizeHint" and
//     "failsAtEnd" (the read after the last chunk fails);
//   {"t":1.000,"kind":"call","method":"GET","path":…,"body":"","contentType":…}
//     a request sent to the plug-in's routes (a step's, the simulated
//     client's), written before the plug-in handles it; "headers" as
//     [[name, value], …] when it has any. Its "answer" follows;
//   {"t":1.000,"kind":"clock","jump":30}
//     every clock leapt forward by that many seconds at once, with nothing
//     run meanwhile (the machine slept);
//   {"t":1.000,"kind":"clock","wallShift":-3600}
//     the wall clock alone was stepped by that many seconds;
//   {"t":1.000,"kind":"clock","at":1.0004}
//     the exact time of the next line from outside, written when three
//     decimals do not carry it;
//   {"t":131.000,"kind":"shutdown"}
//     the core shuts the plug-in down; what it sends meanwhile follows.
// And last:
//   {"t":131.000,"kind":"end"}
//     the recording is complete: a trace without it was cut short.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "core/core.h"

namespace TovSim {

class Trace {
 public:
  explicit Trace(std::function<double()> now) : now_(std::move(now)) {}

  // JSON lines go to `jsonLines`, the readable timeline to `timeline`; either
  // may be null. Both are flushed line by line, so what was written survives
  // a plug-in that ends the process.
  void WriteTo(FILE* jsonLines, FILE* timeline) {
    jsonLines_ = jsonLines;
    timeline_ = timeline;
  }
  // Keeps the JSON lines in memory too (for tests).
  void Keep(bool keep) { keep_ = keep; }
  // Hands every JSON line to `sink` as well, as it is made.
  void OnLine(std::function<void(const std::string&)> sink) { sink_ = std::move(sink); }
  const std::vector<std::string>& Lines() const { return lines_; }

  void Request(const TovHost::RequestRecord& request);
  void Event(const TovHost::SentEvent& event);
  void Push(const std::string& name, const std::string& payloadJson);
  void Log(const TovHost::LogLine& line);
  void Answer(const std::string& method, const std::string& path, const TovHost::Core::CallResult& result);
  // What reached the plug-in besides pushes (see the kinds above).
  void Reply(const TovHost::Reply& reply);
  void Call(const std::string& method, const std::string& path, const std::string& body,
            const std::string& contentType, const std::vector<std::pair<std::string, std::string>>& headers);
  // The JSON line and the timeline's note of a change of the clocks.
  void ClockJump(double seconds);
  void WallClockShift(double seconds);
  void Shutdown();
  void End();
  // The platform's and the scenario's own account: the timeline only.
  void Note(const char* who, const std::string& text);

 private:
  void Line(const std::string& kind, const std::string& fields);
  // A line of something reaching the plug-in, after its exact time if "t"
  // would round it.
  void Input(const std::string& kind, const std::string& fields);
  void Timeline(const char* who, const std::string& text);
  std::string Time() const;

  std::function<double()> now_;
  FILE* jsonLines_ = nullptr;
  FILE* timeline_ = nullptr;
  bool keep_ = false;
  std::function<void(const std::string&)> sink_;
  std::vector<std::string> lines_;
};

// "gameService.getGame" for an LCDS invoke, "wardSkins.requestSelectedWardSkin"
// for a service-proxy request, else the URL's path.
std::string CallKey(const TovHost::RequestRecord& request);

}  // namespace TovSim
