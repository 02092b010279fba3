#include "bridge/call_queue.h"

#include <cmath>

namespace TovBridge {

CallQueue::Refusal CallQueue::Submit(CallRequest request, std::chrono::milliseconds timeout,
                                     TovHost::Core::CallResult* result) {
  auto job = std::make_shared<Job>();
  job->request = std::move(request);
  std::unique_lock lock(mutex_);
  if (closed_) return Refusal::Closed;
  if (jobs_.size() >= capacity_) return Refusal::Full;
  jobs_.push_back(job);
  arrived_.notify_one();
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  // Once the loop has begun a request it is answered whatever the time-out:
  // what the plug-in did must be reported.
  job->done.wait_until(lock, deadline, [&] { return job->state == Job::State::Done || closed_; });
  while (job->state == Job::State::Running) job->done.wait(lock);
  if (job->state == Job::State::Done) {
    *result = std::move(job->result);
    return Refusal::None;
  }
  job->state = Job::State::Abandoned;
  return closed_ ? Refusal::Closed : Refusal::TimedOut;
}

bool CallQueue::RunOne(const std::function<TovHost::Core::CallResult(const CallRequest&)>& run) {
  std::shared_ptr<Job> job;
  {
    std::lock_guard lock(mutex_);
    while (!jobs_.empty() && !job) {
      if (jobs_.front()->state == Job::State::Queued) job = jobs_.front();
      jobs_.pop_front();
    }
    if (!job) return false;
    job->state = Job::State::Running;
  }
  TovHost::Core::CallResult result = run(job->request);
  std::lock_guard lock(mutex_);
  job->result = std::move(result);
  job->state = Job::State::Done;
  job->done.notify_all();
  return true;
}

void CallQueue::Await(double seconds) {
  std::unique_lock lock(mutex_);
  const auto ready = [&] {
    if (closed_) return true;
    for (const auto& job : jobs_)
      if (job->state == Job::State::Queued) return true;
    return false;
  };
  if (!(seconds > 0)) return;
  // A day stands for "until something happens": wait_for overflows on
  // infinity.
  const double capped = std::isfinite(seconds) ? std::min(seconds, 86400.0) : 86400.0;
  arrived_.wait_for(lock, std::chrono::duration<double>(capped), ready);
}

void CallQueue::Close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
  for (const auto& job : jobs_) job->done.notify_all();
  arrived_.notify_all();
}

bool CallQueue::Closed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

size_t CallQueue::Queued() const {
  std::lock_guard lock(mutex_);
  return jobs_.size();
}

}  // namespace TovBridge
