// Champion-select work runs one item at a time, to completion. An item may
// wait for the platform, and while it waits the core delivers other pushes,
// resource changes and timers; each of those becomes an item that runs
// right after the current one, in arrival order, instead of acting on a
// session that is half built.
#pragma once

#include <deque>
#include <functional>

namespace Vexa::Client::VoverOrevidAredez {

class WorkQueue {
 public:
  // Runs `item` now, or after the item in progress and those queued before.
  void Post(std::function<void()> item);
  // Drops what has not run (at shutdown).
  void Clear() { pending_.clear(); }

 private:
  std::deque<std::function<void()>> pending_;
  bool running_ = false;
};

}  // namespace Vexa::Client::VoverOrevidAredez
