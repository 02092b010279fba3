// The HTTP server's threads: one per open connection, up to a cap. A
// connection past the cap is still read (so it can be told why), but on a
// thread of its own kind that answers every request on it with 503; its
// client learns to come back instead of waiting in an unseen queue.
#pragma once

#include <httplib.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace TovBridge {

class ConnectionPool : public httplib::TaskQueue {
 public:
  // `overflowThreads` serve the connections past the cap.
  explicit ConnectionPool(size_t maxConnections, size_t overflowThreads = 2);
  ~ConnectionPool() override;

  void enqueue(std::function<void()> connection) override;
  void shutdown() override;

  // On a server thread: whether the connection it serves is past the cap.
  static bool OverCapacity();

 private:
  void Work(bool overflow);

  const size_t maxConnections_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> waiting_, overflow_;
  std::vector<std::thread> threads_;
  size_t idle_ = 0;  // regular threads waiting for a connection
  size_t regular_ = 0;
  bool stopping_ = false;
};

}  // namespace TovBridge
