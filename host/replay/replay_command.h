// tov-core --replay TRACE PLUGIN.so
#pragma once

namespace TovReplay {

inline constexpr const char* kReplayUsage = "tov-core --replay TRACE PLUGIN.so";

// Plays the trace back to the plug-in in a child process, so that a plug-in
// that ends the process or crashes is reported rather than taking the
// runner with it. Exit status: 0 the plug-in did all the trace says, 1 it
// differs (the first difference on standard output) or failed, 2 bad
// arguments or a trace that cannot be replayed.
int RunReplayCommand(int argc, char** argv);

}  // namespace TovReplay
