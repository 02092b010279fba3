#include "bridge/served_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace TovBridge {
namespace {

constexpr const char* kServing = "tov-core: serving http://";

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

ServedProcess::ServedProcess(const std::string& core, const std::vector<std::string>& arguments, double seconds) {
  char pattern[] = "/tmp/tov-served-XXXXXX";
  const int fd = mkstemp(pattern);
  if (fd < 0) {
    error_ = "cannot make an output file";
    return;
  }
  outputPath_ = pattern;
  std::vector<char*> argv{const_cast<char*>(core.c_str())};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(fd, STDOUT_FILENO);
    dup2(fd, STDERR_FILENO);
    close(fd);
    execv(core.c_str(), argv.data());
    _exit(127);
  }
  close(fd);
  if (pid_ < 0) {
    error_ = std::string("cannot start ") + core + ": " + std::strerror(errno);
    pid_ = 0;
    return;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    const std::string output = Output();
    if (const size_t at = output.find(kServing); at != std::string::npos) {
      const size_t start = at + std::strlen(kServing);
      const size_t end = output.find("/\n", start);
      const size_t colon = output.rfind(':', end);
      if (end != std::string::npos && colon != std::string::npos && colon > start) {
        host_ = output.substr(start, colon - start);
        port_ = std::atoi(output.substr(colon + 1, end - colon - 1).c_str());
        return;
      }
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = 0;
      error_ = "it ended before serving: " + output;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  error_ = "no serving line within the time: " + Output();
}

ServedProcess::~ServedProcess() {
  if (pid_ > 0 && Stop(SIGTERM) < 0) Stop(SIGKILL);
  if (!outputPath_.empty()) std::remove(outputPath_.c_str());
}

std::string ServedProcess::Output() const { return outputPath_.empty() ? "" : ReadAll(outputPath_); }

pid_t ServedProcess::GamePid() const {
  if (pid_ <= 0) return 0;
  DIR* proc = opendir("/proc");
  if (!proc) return 0;
  pid_t found = 0;
  while (const dirent* entry = readdir(proc)) {
    const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
    if (pid <= 0) continue;
    // /proc/PID/stat: "pid (name) state ppid ..."; the name may hold spaces.
    const std::string stat = ReadAll("/proc/" + std::to_string(pid) + "/stat");
    const size_t paren = stat.rfind(')');
    if (paren == std::string::npos) continue;
    int parent = 0;
    char state = 0;
    if (std::sscanf(stat.c_str() + paren + 1, " %c %d", &state, &parent) == 2 && parent == pid_) {
      found = pid;
      break;
    }
  }
  closedir(proc);
  return found;
}

long ServedProcess::GameRssKib() const {
  const pid_t game = GamePid();
  if (game <= 0) return -1;
  std::istringstream status(ReadAll("/proc/" + std::to_string(game) + "/status"));
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

int ServedProcess::Stop(int signal, double seconds) {
  if (pid_ <= 0) return -1;
  kill(pid_, signal);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = 0;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace TovBridge
