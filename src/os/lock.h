// A re-entrant lock, so a log target that logs while writing cannot
// deadlock its own thread.
#pragma once

#include <mutex>

namespace Vexa::Os {

class Lock {
 public:
  void lock() { mutex_.lock(); }
  void unlock() { mutex_.unlock(); }
  bool try_lock() { return mutex_.try_lock(); }

 private:
  std::recursive_mutex mutex_;
};

using LockGuard = std::lock_guard<Lock>;

}  // namespace Vexa::Os
