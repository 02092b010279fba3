#include "logging/logger.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "logging/groups.h"
#include "logging/log_target.h"
#include "logging/logger_internal.h"

namespace Vexa::Logging {
namespace {

constexpr char kUnknownExecutable[] = "<unknown>";
constexpr size_t kExecutablePathSize = 1024;

// The logger object: it exists from the first use (or Initialize) to the
// Shutdown that brings the reference count back to 0. Guarded by LoggerLock().
class ProcessLogger {
 public:
  ProcessLogger() {
    if (Os::Env::Current().ExecutablePath(executablePath_, sizeof executablePath_)) {
      const char* name = Os::FileNamePart(executablePath_);
      if (name[0] != '\0') executableName = name;
    }
  }

  // Declared first so it outlives the built-in targets below.
  std::vector<const LogTargetApi*> targets;
  uint32_t warnings = 0;
  uint64_t errors = 0;
  bool secondSwitch = false;
  const char* executableName = kUnknownExecutable;
  StdErrLogTarget stdErr;
  StdOutLogTarget stdOut;
  DebuggerConsoleLogTarget debugger;

 private:
  char executablePath_[kExecutablePathSize] = {};
};

// Only changed under LoggerLock(); the pointer is atomic so that the filter
// can tell "no logger yet" without the lock.
std::atomic<ProcessLogger*> g_logger{nullptr};
std::atomic<int32_t> g_referenceCount{0};

// The logger's filter settings. Written under the lock, but read with single
// loads so that a dropped message costs no lock. They sit outside the logger
// object so those lock-free reads can never touch freed memory.
std::atomic<bool> g_disabled{false};
std::atomic<int32_t> g_minimumLevel{kWarn};
std::atomic<uint64_t> g_mutedGroups{kGroupXtr};

ProcessLogger* CurrentLocked() { return g_logger.load(std::memory_order_relaxed); }

ProcessLogger* EnsureLoggerLocked() {
  if (ProcessLogger* logger = CurrentLocked()) return logger;
  auto* logger = new (std::nothrow) ProcessLogger;
  if (logger == nullptr) return nullptr;
  g_disabled.store(false, std::memory_order_relaxed);
  g_minimumLevel.store(kWarn, std::memory_order_relaxed);
  g_mutedGroups.store(kGroupXtr, std::memory_order_relaxed);
  g_logger.store(logger, std::memory_order_release);
  // Attaching goes through the published logger, so this comes last.
  logger->stdErr.Attach();
  logger->debugger.Attach();
  return logger;
}

bool EnsureLogger() {
  if (g_logger.load(std::memory_order_acquire) != nullptr) return true;
  Os::LockGuard guard(Internal::LoggerLock());
  return EnsureLoggerLocked() != nullptr;
}

void DestroyLoggerLocked() {
  ProcessLogger* logger = CurrentLocked();
  if (logger == nullptr) return;
  while (!logger->targets.empty()) {
    const LogTargetApi* target = logger->targets.back();
    target->Detach(target);
    // A target that kept no mark of its own leaves its entries behind.
    std::erase(logger->targets, target);
  }
  // Unpublished first: the built-in targets detach as they are destroyed and
  // must find no logger then.
  g_logger.store(nullptr, std::memory_order_release);
  delete logger;
}

bool Accepts(const LogTargetApi* target, const LogRecord& record) {
  if (record.level < target->GetLevel(target)) return false;
  if (record.groups == 0) return true;
  if ((record.groups & target->GetExcludedGroups(target)) != 0) return false;
  const uint64_t included = target->GetIncludedGroups(target);
  return included == 0 || (record.groups & included) != 0;
}

void DispatchLocked(ProcessLogger* logger, const LogRecord& record) {
  if (record.level == kWarn) ++logger->warnings;
  if (record.level == kError) ++logger->errors;
  // By index and re-checked, because a target may attach, detach or even shut
  // the logger down from inside its Write (the lock is re-entrant).
  for (size_t i = 0; CurrentLocked() == logger && i < logger->targets.size(); ++i) {
    const LogTargetApi* target = logger->targets[i];
    if (Accepts(target, record)) target->Write(target, &record);
  }
}

size_t Written(int n, size_t size) {
  if (n < 0 || size == 0) return 0;
  return std::min(size_t(n), size - 1);
}

bool FitsWidth(int32_t value, int width) {
  int32_t limit = 1;
  for (int i = 0; i < width; ++i) limit *= 10;
  return value >= 0 && value < limit;
}

// `value` as exactly `width` zero-padded digits; FitsWidth must hold.
char* PutDigits(char* out, int32_t value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    out[i] = char('0' + value % 10);
    value /= 10;
  }
  return out + width;
}

size_t Empty(char* out, size_t size) {
  if (out != nullptr && size != 0) out[0] = '\0';
  return 0;
}

// ---- the table's entries ----

int32_t InterfaceVersionEntry(const LoggerApi*) { return kLoggingInterfaceVersion; }

bool InitializeEntry(const LoggerApi*) {
  Os::LockGuard guard(Internal::LoggerLock());
  g_referenceCount.fetch_add(1, std::memory_order_acq_rel);
  return EnsureLoggerLocked() != nullptr;
}

void ShutdownEntry(const LoggerApi*) {
  Os::LockGuard guard(Internal::LoggerLock());
  const int32_t count = g_referenceCount.load(std::memory_order_acquire);
  if (count == 0) return;
  g_referenceCount.store(count - 1, std::memory_order_release);
  if (count == 1) DestroyLoggerLocked();
}

template <typename T>
void Store(std::atomic<T>& setting, T value) {
  Os::LockGuard guard(Internal::LoggerLock());
  if (EnsureLoggerLocked() != nullptr) setting.store(value, std::memory_order_relaxed);
}

template <typename T>
T Load(const std::atomic<T>& setting) {
  Os::LockGuard guard(Internal::LoggerLock());
  EnsureLoggerLocked();
  return setting.load(std::memory_order_relaxed);
}

void SetMinimumLevelEntry(const LoggerApi*, int32_t level) { Store(g_minimumLevel, level); }
int32_t GetMinimumLevelEntry(const LoggerApi*) { return Load(g_minimumLevel); }
void SetMutedGroupsEntry(const LoggerApi*, uint64_t groups) { Store(g_mutedGroups, groups); }
uint64_t GetMutedGroupsEntry(const LoggerApi*) { return Load(g_mutedGroups); }
void DisableEntry(const LoggerApi*) { Store(g_disabled, true); }
void EnableEntry(const LoggerApi*) { Store(g_disabled, false); }

void SetSecondSwitch(bool on) {
  Os::LockGuard guard(Internal::LoggerLock());
  if (ProcessLogger* logger = EnsureLoggerLocked()) logger->secondSwitch = on;
}
void SetSecondSwitchEntry(const LoggerApi*) { SetSecondSwitch(true); }
void ClearSecondSwitchEntry(const LoggerApi*) { SetSecondSwitch(false); }

void AttachTargetEntry(const LoggerApi*, const LogTargetApi* target) {
  if (target == nullptr) return;
  Os::LockGuard guard(Internal::LoggerLock());
  // The target's own attach keeps its mark in step; only a second attach of
  // the same target adds an entry directly.
  if (target->IsAttached(target))
    Internal::AppendTarget(target);
  else
    target->Attach(target);
}

void DetachTargetEntry(const LoggerApi*, const LogTargetApi* target) {
  if (target == nullptr) return;
  Os::LockGuard guard(Internal::LoggerLock());
  Internal::RemoveTarget(target);
  target->Detach(target);
}

const LogTargetApi* FindTargetEntry(const LoggerApi*, const char* name) {
  if (name == nullptr) return nullptr;
  Os::LockGuard guard(Internal::LoggerLock());
  ProcessLogger* logger = CurrentLocked();
  if (logger == nullptr) return nullptr;
  for (const LogTargetApi* target : logger->targets)
    if (std::strcmp(target->GetName(target), name) == 0) return target;
  return nullptr;
}

template <typename Target>
const LogTargetApi* BuiltIn(Target ProcessLogger::*member) {
  Os::LockGuard guard(Internal::LoggerLock());
  ProcessLogger* logger = EnsureLoggerLocked();
  return logger != nullptr ? (logger->*member).Api() : nullptr;
}

const LogTargetApi* StdOutTargetEntry(const LoggerApi*) { return BuiltIn(&ProcessLogger::stdOut); }
const LogTargetApi* StdErrTargetEntry(const LoggerApi*) { return BuiltIn(&ProcessLogger::stdErr); }
const LogTargetApi* DebuggerTargetEntry(const LoggerApi*) { return BuiltIn(&ProcessLogger::debugger); }

uint64_t GroupFromCodeEntry(const LoggerApi*, const char* code) { return GroupTable::Process().FromCode(code); }

size_t GroupsToTextEntry(const LoggerApi*, uint64_t groups, char* out, size_t size) {
  return GroupTable::Process().ToText(groups, out, size);
}

size_t FormatRecordEntry(const LoggerApi*, const LogRecord* record, const char* pattern, char* out,
                         size_t size) {
  return record != nullptr ? FormatLine(pattern, *record, out, size) : Empty(out, size);
}

const char* LevelNameEntry(const LoggerApi*, int32_t level) { return LevelName(level); }
const char* ExecutableNameEntry(const LoggerApi*) { return ExecutableName(); }
Os::LocalTime CurrentTimeEntry(const LoggerApi*) { return Os::Env::Current().Now(); }

size_t FormatTimeEntry(const LoggerApi*, const Os::LocalTime* time, char* out, size_t size) {
  return time != nullptr ? FormatTime(*time, out, size) : Empty(out, size);
}
size_t FormatFileTimeEntry(const LoggerApi*, const Os::LocalTime* time, char* out, size_t size) {
  return time != nullptr ? FormatFileTime(*time, out, size) : Empty(out, size);
}

void LogEntry(const LoggerApi*, int32_t level, uint64_t groups, const char* format, va_list args) {
  LogV(level, groups, format, args);
}

constexpr LoggerApi kLoggerApi = {
    InterfaceVersionEntry, InitializeEntry,       ShutdownEntry,          SetMinimumLevelEntry,
    GetMinimumLevelEntry,  SetMutedGroupsEntry,   GetMutedGroupsEntry,    DisableEntry,
    EnableEntry,           SetSecondSwitchEntry,  ClearSecondSwitchEntry, AttachTargetEntry,
    DetachTargetEntry,     FindTargetEntry,       StdOutTargetEntry,      StdErrTargetEntry,
    DebuggerTargetEntry,   GroupFromCodeEntry,    GroupsToTextEntry,      FormatRecordEntry,
    LevelNameEntry,        ExecutableNameEntry,   CurrentTimeEntry,       FormatTimeEntry,
    FormatFileTimeEntry,   LogEntry,
};

}  // namespace

namespace Internal {

Os::Lock& LoggerLock() {
  alignas(Os::Lock) static unsigned char storage[sizeof(Os::Lock)];
  static Os::Lock* lock = new (storage) Os::Lock;
  return *lock;
}

bool AppendTarget(const LogTargetApi* target) {
  ProcessLogger* logger = EnsureLoggerLocked();
  if (logger == nullptr) return false;
  try {
    logger->targets.push_back(target);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

void RemoveTarget(const LogTargetApi* target) {
  if (ProcessLogger* logger = CurrentLocked()) std::erase(logger->targets, target);
}

}  // namespace Internal

const LoggerApi* Logger() { return &kLoggerApi; }

void Log(int32_t level, uint64_t groups, const char* format, ...) {
  va_list args;
  va_start(args, format);
  LogV(level, groups, format, args);
  va_end(args);
}

void LogV(int32_t level, uint64_t groups, const char* format, va_list args) {
  if (!EnsureLogger()) return;
  // Filtered before anything is formatted: most dropped messages cost a few loads.
  if (g_disabled.load(std::memory_order_relaxed) || level < g_minimumLevel.load(std::memory_order_relaxed) ||
      (groups & g_mutedGroups.load(std::memory_order_relaxed)) != 0)
    return;

  char message[kLineBufferSize];
  if (format == nullptr)
    message[0] = '\0';
  else
    std::vsnprintf(message, sizeof message, format, args);
  const LogRecord record{Os::Env::Current().Now(), level, groups, message};

  Os::LockGuard guard(Internal::LoggerLock());
  // Another thread may have shut the logger down since the check above.
  if (ProcessLogger* logger = CurrentLocked()) DispatchLocked(logger, record);
}

uint32_t WarningCount() {
  Os::LockGuard guard(Internal::LoggerLock());
  const ProcessLogger* logger = CurrentLocked();
  return logger != nullptr ? logger->warnings : 0;
}

uint64_t ErrorCount() {
  Os::LockGuard guard(Internal::LoggerLock());
  const ProcessLogger* logger = CurrentLocked();
  return logger != nullptr ? logger->errors : 0;
}

const char* LevelName(int32_t level) {
  static constexpr const char* kNames[] = {"  OKAY", "  WARN", " ERROR", "ALWAYS"};
  return level >= 0 && level < 4 ? kNames[level] : "   ???";
}

const char* ExecutableName() {
  Os::LockGuard guard(Internal::LoggerLock());
  const ProcessLogger* logger = CurrentLocked();
  return logger != nullptr ? logger->executableName : kUnknownExecutable;
}

size_t FormatTime(const Os::LocalTime& time, char* out, size_t size) {
  if (out == nullptr || size == 0) return 0;
  // Every written line stamps its time, and snprintf of seven numbers costs
  // more than the rest of the line; fields in range take the digit path.
  constexpr size_t kStampLength = 23;  // 2026-12-07T09:05:03.042
  if (size > kStampLength && FitsWidth(time.year, 4) && FitsWidth(time.month, 2) && FitsWidth(time.day, 2) &&
      FitsWidth(time.hour, 2) && FitsWidth(time.minute, 2) && FitsWidth(time.second, 2) &&
      FitsWidth(time.millisecond, 3)) {
    char* p = out;
    p = PutDigits(p, time.year, 4);
    *p++ = '-';
    p = PutDigits(p, time.month, 2);
    *p++ = '-';
    p = PutDigits(p, time.day, 2);
    *p++ = 'T';
    p = PutDigits(p, time.hour, 2);
    *p++ = ':';
    p = PutDigits(p, time.minute, 2);
    *p++ = ':';
    p = PutDigits(p, time.second, 2);
    *p++ = '.';
    p = PutDigits(p, time.millisecond, 3);
    *p = '\0';
    return kStampLength;
  }
  return Written(std::snprintf(out, size, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", time.year, time.month, time.day,
                               time.hour, time.minute, time.second, time.millisecond),
                 size);
}

size_t FormatFileTime(const Os::LocalTime& time, char* out, size_t size) {
  if (out == nullptr || size == 0) return 0;
  return Written(std::snprintf(out, size, "%04d-%02d-%02dT%02d-%02d-%02d", time.year, time.month, time.day,
                               time.hour, time.minute, time.second),
                 size);
}

}  // namespace Vexa::Logging
