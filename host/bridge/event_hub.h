// The plug-in's events for Server-Sent Events subscribers. The loop thread
// publishes every event the plug-in sends; each subscriber has a bounded
// queue of formatted frames that its HTTP thread drains. A subscriber that
// falls too far behind is dropped rather than buffered without bound, so a
// slow reader costs memory only up to its bound and never slows the loop.
//
// The hub keeps the last value of every resource the plug-in published, so a
// late subscriber first receives the current state as "Create" events (the
// session, its timer, the pickable and bannable champions, the team boost,
// then any other resource), then the live events, with nothing lost or
// repeated in between.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace TovBridge {

// One SSE frame: "id: N\n" (live events only), "event: NAME\n",
// "data: JSON\n" and a blank line.
std::string SseFrame(const std::string& name, const std::string& dataJson, uint64_t id);
// The event's payload as sent on the stream: a resource event's eventType by
// name ("Create", "Update", "Delete") whether the plug-in wrote it as a name
// or a number; anything else as it came, on one line. Empty when the
// payload is not JSON.
std::string StreamPayload(const std::string& payloadJson);

class EventHub {
 public:
  struct Limits {
    size_t maxSubscribers = 64;
    size_t maxQueuedFrames = 4096;          // per subscriber
    size_t maxQueuedBytes = 8 * 1024 * 1024;  // per subscriber
  };

  class Subscriber {
   public:
    enum class Next { Frames, Idle, Closed };
    // Waits up to `timeout` for frames; moves them into `out` (appended).
    // Closed once dropped for falling behind or once the hub closes.
    Next Take(std::chrono::milliseconds timeout, std::string* out);
    bool Dropped() const;

   private:
    friend class EventHub;
    // Under the hub's lock. Frames are shared: one event's text is made once
    // for every subscriber.
    bool Push(const std::shared_ptr<const std::string>& frame, const Limits& limits);
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::shared_ptr<const std::string>> frames_;
    size_t bytes_ = 0;
    bool dropped_ = false;
    bool closed_ = false;
  };

  explicit EventHub(Limits limits) : limits_(limits) {}
  EventHub() : EventHub(Limits{}) {}

  // On the loop thread: one event the plug-in sent.
  void Publish(const std::string& name, const std::string& payloadJson);
  // A new subscriber whose queue starts with the current state; null past
  // the cap on subscribers or once closed.
  std::shared_ptr<Subscriber> Subscribe();
  void Unsubscribe(const std::shared_ptr<Subscriber>& subscriber);
  // Ends every stream.
  void Close();
  size_t Subscribers() const;
  uint64_t Published() const;

 private:
  struct Resource {
    std::string eventName;
    std::string dataJson;  // the resource's value, compact JSON
  };
  std::vector<std::string> Snapshot() const;

  const Limits limits_;
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<Subscriber>> subscribers_;
  std::map<std::string, Resource> resources_;  // by uri
  uint64_t published_ = 0;
  bool closed_ = false;
};

}  // namespace TovBridge
