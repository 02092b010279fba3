#include "bridge/connection_pool.h"

namespace TovBridge {
namespace {

thread_local bool overCapacity = false;

}  // namespace

ConnectionPool::ConnectionPool(size_t maxConnections, size_t overflowThreads) : maxConnections_(maxConnections) {
  std::lock_guard lock(mutex_);
  for (size_t i = 0; i < overflowThreads; ++i) threads_.emplace_back([this] { Work(true); });
}

ConnectionPool::~ConnectionPool() { shutdown(); }

bool ConnectionPool::OverCapacity() { return overCapacity; }

void ConnectionPool::enqueue(std::function<void()> connection) {
  std::lock_guard lock(mutex_);
  if (stopping_) return;
  const size_t busy = regular_ - idle_;
  if (busy + waiting_.size() >= maxConnections_) {
    overflow_.push_back(std::move(connection));
  } else {
    waiting_.push_back(std::move(connection));
    // Threads are made as connections need them, so an idle bridge holds few.
    if (idle_ < waiting_.size()) {
      ++regular_;
      ++idle_;
      threads_.emplace_back([this] { Work(false); });
    }
  }
  ready_.notify_all();
}

void ConnectionPool::Work(bool overflow) {
  overCapacity = overflow;
  std::deque<std::function<void()>>& queue = overflow ? overflow_ : waiting_;
  std::unique_lock lock(mutex_);
  for (;;) {
    ready_.wait(lock, [&] { return stopping_ || !queue.empty(); });
    // Connections accepted before the stop are still served (each closes
    // its socket); the server stops reading them promptly once stopped.
    if (queue.empty()) return;
    std::function<void()> connection = std::move(queue.front());
    queue.pop_front();
    if (!overflow) --idle_;
    lock.unlock();
    connection();
    connection = nullptr;
    lock.lock();
    if (!overflow) ++idle_;
  }
}

void ConnectionPool::shutdown() {
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    threads.swap(threads_);
  }
  ready_.notify_all();
  for (std::thread& thread : threads) thread.join();
}

}  // namespace TovBridge
