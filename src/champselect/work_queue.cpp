#include "champselect/work_queue.h"

#include <exception>

#include "champselect/model.h"
#include "logging/logger.h"

namespace Vexa::Client::VoverOrevidAredez {

void WorkQueue::Post(std::function<void()> item) {
  pending_.push_back(std::move(item));
  if (running_) return;
  running_ = true;
  struct Done {
    bool& running;
    ~Done() { running = false; }
  } done{running_};
  while (!pending_.empty()) {
    std::function<void()> next = std::move(pending_.front());
    pending_.pop_front();
    // One failed item must not hold back the ones queued behind it.
    try {
      next();
    } catch (const std::exception& error) {
      Logging::Log(Logging::kError, Logging::kGroupDbg, "%s: Champion select work failed: %s", kShortName,
                   error.what());
    } catch (...) {
      Logging::Log(Logging::kError, Logging::kGroupDbg, "%s: Champion select work failed", kShortName);
    }
  }
}

}  // namespace Vexa::Client::VoverOrevidAredez
