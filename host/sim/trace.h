// Everything that crosses the plug-in's boundary during a simulated game,
// each with its virtual time: as JSON lines for machines, or as a readable
// timeline together with the platform's own account of the game.
//
// JSON lines, one object each, "t" in virtual seconds with three decimals:
//   {"t":1.000,"kind":"request","method":"POST","url":…,"args":[…],"body":null}
//   {"t":1.000,"kind":"event","name":…,"payload":{"uri":…,"eventType":"Update","data":…}}
//   {"t":1.000,"kind":"push","name":…,"payload":…}
//   {"t":1.000,"kind":"log","level":3,"message":…}
//   {"t":1.000,"kind":"answer","method":"GET","path":…,"status":200,"body":…}
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
  const std::vector<std::string>& Lines() const { return lines_; }

  void Request(const TovHost::RequestRecord& request);
  void Event(const TovHost::SentEvent& event);
  void Push(const std::string& name, const std::string& payloadJson);
  void Log(const TovHost::LogLine& line);
  void Answer(const std::string& method, const std::string& path, const TovHost::Core::CallResult& result);
  // The platform's and the scenario's own account: the timeline only.
  void Note(const char* who, const std::string& text);

 private:
  void Line(const std::string& kind, const std::string& fields);
  void Timeline(const char* who, const std::string& text);
  std::string Time() const;

  std::function<double()> now_;
  FILE* jsonLines_ = nullptr;
  FILE* timeline_ = nullptr;
  bool keep_ = false;
  std::vector<std::string> lines_;
};

// "gameService.getGame" for an LCDS invoke, "wardSkins.requestSelectedWardSkin"
// for a service-proxy request, else the URL's path.
std::string CallKey(const TovHost::RequestRecord& request);

}  // namespace TovSim
