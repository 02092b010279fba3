// A tov-core --serve run as a child process, for the bridge's tests and its
// load tool: started with its output in a file, known by the URL it prints,
// ended by a signal with its exit status reported.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace TovBridge {

class ServedProcess {
 public:
  // Starts `core` with `arguments` and waits up to `seconds` for its
  // "tov-core: serving http://HOST:PORT/" line. Error() says why not.
  ServedProcess(const std::string& core, const std::vector<std::string>& arguments, double seconds = 20);
  // Ends it (SIGTERM, then SIGKILL after 10 s) if it still runs.
  ~ServedProcess();
  ServedProcess(const ServedProcess&) = delete;
  ServedProcess& operator=(const ServedProcess&) = delete;

  bool Serving() const { return port_ > 0; }
  const std::string& Error() const { return error_; }
  const std::string& Host() const { return host_; }
  int Port() const { return port_; }
  // Everything it wrote to standard output and error so far.
  std::string Output() const;
  // The process that plays the game and serves (tov-core runs the game in a
  // child of its own); 0 when not found.
  pid_t GamePid() const;
  // Its resident memory in KiB, from /proc; -1 when unknown.
  long GameRssKib() const;
  // Sends `signal` and waits up to `seconds` for the exit: the exit status,
  // 128 + N for a death by signal N, -1 when it did not end in time.
  int Stop(int signal, double seconds = 10);

 private:
  pid_t pid_ = 0;
  std::string outputPath_;
  std::string host_;
  int port_ = 0;
  std::string error_;
};

}  // namespace TovBridge
