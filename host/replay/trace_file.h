// A recorded trace (see host/sim/trace.h for its kinds), read whole and
// checked before anything is played back: a line that cannot be replayed is
// refused with its number and why, and a trace without its closing "end"
// line was cut short.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <rapidjson/document.h>

namespace TovReplay {

enum class Kind {
  // What the plug-in did: compared, as whole lines.
  Request,
  Event,
  Log,
  Answer,
  // What reached it: played back.
  Push,
  Reply,
  Call,
  Clock,
  Shutdown,
  End,
};

struct TraceLine {
  size_t number = 0;  // in the file, from 1
  std::string text;   // as written, without its line break
  Kind kind = Kind::End;
  // When it happened: "t", or the exact time a clock "at" line gave it.
  double time = 0;
  // The fields of a line that is played back; empty for the plug-in's own.
  rapidjson::Document fields;
};

bool IsOutput(Kind kind);

// False with `error` ("line 12: …") when the text is not a whole trace.
bool ParseTrace(const std::string& text, std::vector<TraceLine>* lines, std::string* error);
// The same for a file; an unreadable file is an error too.
bool ReadTrace(const std::string& path, std::vector<TraceLine>* lines, std::string* error);

}  // namespace TovReplay
