// Waiting, scheduled callbacks and named timers, all through the core's loop.
#include <limits>
#include <unordered_map>

#include "binding/message_format.h"
#include "logging/logger.h"
#include "os/env.h"
#include "runtime/app_module.h"
#include "runtime/fatal.h"

namespace Vexa {
namespace {

// The core holds a ticket, never an address: a callback that fires after its
// record is gone (Shutdown emptied the table, the plug-in was destroyed, or
// the core fires twice) finds no ticket and does nothing.
struct Ticket {
  AppModule* module;
  std::uint64_t id;
};
std::mutex g_ticketMutex;
std::unordered_map<std::uintptr_t, Ticket> g_tickets;
std::uintptr_t g_nextTicket = 1;

std::uint64_t NanosFromSeconds(double seconds) {
  constexpr double kMax = 1e18;  // ~31 years; keeps every sum below 2^64
  if (!(seconds > 0)) return 0;
  return seconds >= kMax / 1e9 ? static_cast<std::uint64_t>(kMax) : static_cast<std::uint64_t>(seconds * 1e9);
}

std::uint64_t Later(std::uint64_t now, std::uint64_t nanos) {
  return nanos > std::numeric_limits<std::uint64_t>::max() - now ? std::numeric_limits<std::uint64_t>::max()
                                                                   : now + nanos;
}

}  // namespace

std::uint64_t MonotonicNanos() {
  Os::Env& env = Os::Env::Current();
  const std::uint64_t counter = env.PerformanceCounter();
  const std::uint64_t frequency = env.PerformanceFrequency();
  if (frequency == 0) return 0;
  return counter / frequency * 1000000000ull + counter % frequency * 1000000000ull / frequency;
}

void AppModule::BeginAwait(const char* typeName) {
  const std::string label = Format("Wait: future<%1>", typeName);
  BeginWait(label.c_str(), 0);
}

void AppModule::AwaitFailed(const std::future_error& error) {
  const std::string text =
      Format("Caught std::future_error in AppModule::Await: (%1) %2", error.code().value(), error.what());
  Logging::Log(Logging::kError, Logging::kGroupDbg, "%s", text.c_str());
  FatalReport("ALE-6D828C10");
}

void AppModule::Yield() {
  BeginWait("Wait: yield", 0);
  Pump();
  EndWait();
}

std::uint64_t AppModule::Schedule(std::string_view label, std::function<void()> callable, std::uint64_t deadline) {
  const std::uint64_t now = MonotonicNanos();
  const double delay = deadline > now ? static_cast<double>(deadline - now) * 1e-9 : 0.0;
  std::uintptr_t ticket;
  std::uint64_t id;
  {
    std::lock_guard lock(g_ticketMutex);
    ticket = g_nextTicket++;
    std::lock_guard own(scheduledMutex_);
    id = nextScheduledId_++;
    scheduled_.emplace(id, ScheduledRecord{ticket, std::move(callable)});
    g_tickets.emplace(ticket, Ticket{this, id});
  }
  const std::string text(label);
  ScheduleCallback(text.c_str(), &AppModule::Trampoline, reinterpret_cast<void*>(ticket), delay, 0);
  return id;
}

void AppModule::Trampoline(void* context) {
  Ticket ticket;
  {
    std::lock_guard lock(g_ticketMutex);
    const auto it = g_tickets.find(reinterpret_cast<std::uintptr_t>(context));
    if (it == g_tickets.end()) return;
    ticket = it->second;
    g_tickets.erase(it);
  }
  try {
    ticket.module->RunScheduled(ticket.id);
  } catch (...) {
    HandlerFailed(ticket.module->shortName_, "a scheduled callback");
  }
}

void AppModule::HandlerFailed(const std::string& shortName, const char* what) noexcept {
  try {
    throw;
  } catch (const std::exception& error) {
    Logging::Log(Logging::kError, Logging::kGroupDbg, "%s: %s failed: %s", shortName.c_str(), what, error.what());
  } catch (...) {
    Logging::Log(Logging::kError, Logging::kGroupDbg, "%s: %s failed", shortName.c_str(), what);
  }
}

void AppModule::RunScheduled(std::uint64_t id) {
  std::function<void()> callable;
  {
    std::lock_guard lock(scheduledMutex_);
    const auto it = scheduled_.find(id);
    if (it == scheduled_.end()) return;
    callable = std::move(it->second.callable);
  }
  const auto forget = [&] {
    std::lock_guard lock(scheduledMutex_);
    scheduled_.erase(id);
  };
  // Not under the mutex: the callable may schedule again.
  try {
    callable();
  } catch (...) {
    forget();
    throw;
  }
  forget();
}

std::size_t AppModule::ScheduledCount() const {
  std::lock_guard lock(scheduledMutex_);
  return scheduled_.size();
}

void AppModule::ForgetTickets() {
  std::lock_guard lock(g_ticketMutex);
  std::lock_guard own(scheduledMutex_);
  for (const auto& entry : scheduled_) g_tickets.erase(entry.second.ticket);
  scheduled_.clear();
}

void AppModule::Cancel(std::uint64_t id) {
  std::lock_guard lock(g_ticketMutex);
  std::lock_guard own(scheduledMutex_);
  const auto it = scheduled_.find(id);
  if (it == scheduled_.end()) return;
  g_tickets.erase(it->second.ticket);
  scheduled_.erase(it);
}

void AppModule::StartTimer(const std::string& name, double intervalSeconds, std::function<void()> callable) {
  ArmTimer(name, intervalSeconds, true, std::move(callable));
}

void AppModule::StartOneShotTimer(const std::string& name, double delaySeconds, std::function<void()> callable) {
  ArmTimer(name, delaySeconds, false, std::move(callable));
}

bool AppModule::StopTimer(const std::string& name) {
  const auto it = timers_.find(name);
  if (it == timers_.end()) return false;
  Cancel(it->second.scheduled);
  timers_.erase(it);
  return true;
}

void AppModule::ArmTimer(const std::string& name, double seconds, bool repeats, std::function<void()> callable) {
  Timer& timer = timers_[name];
  Cancel(timer.scheduled);  // a restart supersedes the pending run
  timer.interval = seconds;
  timer.repeats = repeats;
  timer.deadline = Later(MonotonicNanos(), NanosFromSeconds(seconds));
  ++timer.generation;
  timer.callable = std::make_shared<std::function<void()>>(std::move(callable));
  ScheduleTimer(name, timer);
}

void AppModule::ScheduleTimer(const std::string& name, Timer& timer) {
  const std::uint64_t generation = timer.generation;
  timer.scheduled = Schedule(Format("Timer: %1", name.c_str()),
                             [this, name, generation] { FireTimer(name, generation); }, timer.deadline);
}

void AppModule::FireTimer(const std::string& name, std::uint64_t generation) {
  auto it = timers_.find(name);
  if (it == timers_.end()) {
    Logging::Log(Logging::kWarn, Logging::kGroupDbg | Logging::kGroupNet, "%s: Couldn't find timer named %s",
                 shortName_.c_str(), name.c_str());
    return;
  }
  if (it->second.generation != generation) return;  // restarted: the newer schedule is live
  const std::shared_ptr<std::function<void()>> callable = it->second.callable;
  const bool repeats = it->second.repeats;
  if (repeats)
    it->second.deadline = Later(MonotonicNanos(), NanosFromSeconds(it->second.interval));
  else
    timers_.erase(it);
  try {
    (*callable)();
  } catch (...) {
    const std::string label = Format("Timer: %1", name.c_str());
    HandlerFailed(shortName_, label.c_str());  // a failed run must not end the schedule
  }
  if (!repeats) return;
  it = timers_.find(name);
  if (it == timers_.end() || it->second.generation != generation) return;
  ScheduleTimer(name, it->second);
}

}  // namespace Vexa
