// tov-core --sim SCENARIO [--seed N] [--autoplay] [--steps FILE] [--trace FILE]
//                         [--until SECONDS] [--real-time] [--games N]
//                         [--serve [ADDRESS:PORT]] [--console DIR] PLUGIN.so
#pragma once

namespace TovSim {

inline constexpr const char* kSimUsage =
    "tov-core --sim SCENARIO [--seed N] [--autoplay] [--steps FILE] [--trace FILE] [--until SECONDS] [--real-time] "
    "[--games N] [--serve [ADDRESS:PORT]] [--console DIR] "
    "PLUGIN.so";

// Plays the scenario in a child process, so that a plug-in that ends the
// process or crashes is reported rather than taking the runner with it.
// Exit status: 0 the scenario ran to its end (or to --until), 1 the plug-in
// failed, 2 bad arguments.
//
// --serve plays in real time and serves the plug-in over HTTP (host/bridge)
// until SIGINT or SIGTERM, which end the run with status 0; it prints
// "tov-core: serving http://HOST:PORT/" once it listens.
int RunSimCommand(int argc, char** argv);

}  // namespace TovSim
