// The hand-off between the HTTP server's threads and the core's loop thread.
// HTTP threads never call the plug-in: each request becomes a job here and
// its thread waits; the loop thread takes the jobs one at a time, between
// the game's turns, runs them against the core and hands the answers back.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/core.h"

namespace TovBridge {

struct CallRequest {
  uint32_t method = 0;  // the core's method code
  std::string url;      // path and query, as the client sent them
  std::string body;
  std::string contentType;
  std::vector<std::pair<std::string, std::string>> headers;
};

class CallQueue {
 public:
  enum class Refusal { None, TimedOut, Closed, Full };

  explicit CallQueue(size_t capacity = 1024) : capacity_(capacity) {}

  // On an HTTP thread: queues the request and waits up to `timeout` for the
  // loop to run it. A request that times out, or is still queued when the
  // queue closes, never reaches the plug-in: a client that was told "no"
  // must be able to rely on nothing having happened.
  Refusal Submit(CallRequest request, std::chrono::milliseconds timeout, TovHost::Core::CallResult* result);

  // On the loop thread: runs the oldest queued request with `run`; false
  // when none is queued.
  bool RunOne(const std::function<TovHost::Core::CallResult(const CallRequest&)>& run);
  // On the loop thread: sleeps up to `seconds` (any value; +infinity waits
  // for a request), less when a request comes in or the queue closes.
  void Await(double seconds);
  // Refuses queued and later requests and wakes every waiter.
  void Close();
  bool Closed() const;
  size_t Queued() const;

 private:
  struct Job {
    CallRequest request;
    enum class State { Queued, Running, Done, Abandoned } state = State::Queued;
    TovHost::Core::CallResult result;
    std::condition_variable done;
  };

  const size_t capacity_;
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<std::shared_ptr<Job>> jobs_;
  bool closed_ = false;
};

}  // namespace TovBridge
