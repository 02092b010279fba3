#include "replay/replay_command.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "replay/replay.h"

namespace TovReplay {
namespace {

int Bad(const std::string& why) {
  std::fprintf(stderr, "tov-core: %s\nusage: %s\n", why.c_str(), kReplayUsage);
  return 2;
}

int Play(const std::string& tracePath, std::vector<TraceLine> lines, const std::string& plugin) {
  const size_t count = lines.size();
  // Measured outside the replay: meanwhile this process's clocks are the
  // trace's.
  const auto start = std::chrono::steady_clock::now();
  size_t compared = 0;
  {
    Replay replay(std::move(lines));
    if (!replay.Run(plugin)) {
      std::fprintf(stderr, "tov-core: %s\n", replay.Failure().c_str());
      return 1;
    }
    compared = replay.Compared();
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("tov-core: %s: the plug-in did all %zu lines say (%zu of them its own) in %.3f s\n", tracePath.c_str(),
              count, compared, seconds);
  return 0;
}

}  // namespace

int RunReplayCommand(int argc, char** argv) {
  if (argc != 4) return Bad("--replay needs a trace and a plug-in");
  const std::string tracePath = argv[2], plugin = argv[3];
  struct stat info{};
  if (stat(plugin.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return Bad("no plug-in file at " + plugin);
  std::vector<TraceLine> lines;
  std::string error;
  if (!ReadTrace(tracePath, &lines, &error)) {
    std::fprintf(stderr, "tov-core: %s\n", error.c_str());
    return 2;
  }
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) {
    std::fprintf(stderr, "tov-core: cannot start the replay: %s\n", std::strerror(errno));
    return 1;
  }
  if (child == 0) {
    const int status = Play(tracePath, std::move(lines), plugin);
    std::fflush(nullptr);
    std::_Exit(status);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return 1;
  }
  if (WIFSIGNALED(status)) {
    std::fprintf(stderr, "tov-core: the replay ended by signal %d (%s)\n", WTERMSIG(status), strsignal(WTERMSIG(status)));
    return 1;
  }
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 1;
  if (code == 0 || code == 1) return code;
  std::fprintf(stderr, "tov-core: the plug-in ended the process with status %d\n", code);
  return 1;
}

}  // namespace TovReplay
