#include "logging/log_target.h"

#include <algorithm>
#include <cstring>

#include "logging/clock.h"
#include "logging/groups.h"
#include "logging/logger_internal.h"

namespace Vexa::Logging {
namespace {

constexpr const char* kConsolePattern = "#E(#T): #L| #M";

std::atomic<DebuggerSink> g_debuggerSink{nullptr};

// Fills a line up to `limit` characters; the byte after them is kept for the
// final newline and the one after that for the terminator.
class LineWriter {
 public:
  LineWriter(char* out, size_t limit) : out_(out), limit_(limit) {}

  bool Full() const { return length_ >= limit_; }
  void Put(char c) {
    if (!Full()) out_[length_++] = c;
  }
  void Put(const char* text) {
    while (*text != '\0' && !Full()) out_[length_++] = *text++;
  }
  void PutGroups(uint64_t groups) {
    length_ += GroupTable::Process().ToText(groups, out_ + length_, limit_ - length_ + 1);
  }
  size_t Finish() {
    if (length_ == 0 || out_[length_ - 1] != '\n') out_[length_++] = '\n';
    out_[length_] = '\0';
    return length_;
  }

 private:
  char* out_;
  size_t limit_;
  size_t length_ = 0;
};

void PutToken(LineWriter& line, char token, const LogRecord& record) {
  char text[64];
  switch (token) {
    case 'D':
      FormatTime(record.time, text, sizeof text);
      line.Put(text);
      break;
    case 'E':
      line.Put(ExecutableName());
      break;
    case 'G':
      line.PutGroups(record.groups);
      break;
    case 'H': {
      // Whole ticks split exactly, so a reading never prints one millisecond short.
      const ProcessClock::Reading clock = ProcessClock::Read();
      const uint64_t seconds = clock.ticks / clock.frequency;
      const uint64_t milliseconds = (clock.ticks % clock.frequency) * 1000 / clock.frequency;
      std::snprintf(text, sizeof text, "%06d.%03d", int(seconds), int(milliseconds));
      line.Put(text);
      break;
    }
    case 'L':
      line.Put(LevelName(record.level));
      break;
    case 'M':
      line.Put(record.message != nullptr ? record.message : "");
      break;
    case 'T':
      std::snprintf(text, sizeof text, "%p", reinterpret_cast<void*>(Os::Env::Current().CurrentThreadId()));
      line.Put(text);
      break;
    default:
      line.Put(token);
      break;
  }
}

}  // namespace

size_t FormatLine(const char* pattern, const LogRecord& record, char* out, size_t size) {
  if (out == nullptr || size == 0) return 0;
  if (size < 2) {
    out[0] = '\0';
    return 0;
  }
  LineWriter line(out, size - 2);
  for (const char* p = pattern != nullptr ? pattern : ""; *p != '\0' && !line.Full(); ++p) {
    if (*p != '#') {
      line.Put(*p);
      continue;
    }
    if (p[1] == '\0') break;  // a lone '#' at the end stands for nothing
    PutToken(line, *++p, record);
  }
  return line.Finish();
}

DebuggerSink SetDebuggerSink(DebuggerSink sink) { return g_debuggerSink.exchange(sink, std::memory_order_acq_rel); }

// ---- LogTarget ----

LogTarget::Table LogTarget::MakeTable(LogTarget* owner) {
  Table table{};
  table.InterfaceVersion = [](const LogTargetApi*) { return kLoggingInterfaceVersion; };
  table.SetLevel = [](const LogTargetApi* self, int32_t level) { Owner(self)->SetLevel(level); };
  table.GetLevel = [](const LogTargetApi* self) { return Owner(self)->GetLevel(); };
  table.SetGroups = [](const LogTargetApi* self, uint64_t include, uint64_t exclude) {
    Owner(self)->SetGroups(include, exclude);
  };
  table.GetIncludedGroups = [](const LogTargetApi* self) { return Owner(self)->IncludedGroups(); };
  table.GetExcludedGroups = [](const LogTargetApi* self) { return Owner(self)->ExcludedGroups(); };
  table.GetName = [](const LogTargetApi* self) { return Owner(self)->GetName(); };
  table.GetLinePattern = [](const LogTargetApi* self) { return Owner(self)->GetLinePattern(); };
  table.Attach = [](const LogTargetApi* self) { Owner(self)->Attach(); };
  table.Detach = [](const LogTargetApi* self) { Owner(self)->Detach(); };
  table.IsAttached = [](const LogTargetApi* self) { return Owner(self)->IsAttached(); };
  table.Write = [](const LogTargetApi* self, const LogRecord* record) {
    if (record == nullptr) return false;
    LogTarget* target = Owner(self);
    Os::LockGuard guard(target->lock_);
    return target->Write(*record);
  };
  table.owner = owner;
  return table;
}

LogTarget::LogTarget() : table_(MakeTable(this)) { std::strcpy(linePattern_, kDefaultLinePattern); }

LogTarget::~LogTarget() { LogTarget::Detach(); }

void LogTarget::Detach() {
  Os::LockGuard guard(Internal::LoggerLock());
  attached_.store(false, std::memory_order_release);
  // Even without the mark: whoever put this table in the list, it must not
  // stay there once the target is gone.
  Internal::RemoveTarget(Api());
}

void LogTarget::Attach() {
  Os::LockGuard guard(Internal::LoggerLock());
  if (attached_.load(std::memory_order_relaxed)) return;
  if (Internal::AppendTarget(Api())) attached_.store(true, std::memory_order_release);
}

void LogTarget::SetLevel(int32_t level) {
  Os::LockGuard guard(lock_);
  level_.store(level, std::memory_order_relaxed);
}

void LogTarget::SetGroups(uint64_t include, uint64_t exclude) {
  Os::LockGuard guard(lock_);
  included_.store(include & ~exclude, std::memory_order_relaxed);
  excluded_.store(exclude, std::memory_order_relaxed);
}

void LogTarget::SetLinePattern(const char* pattern) {
  if (pattern == nullptr) pattern = "";
  Os::LockGuard guard(lock_);
  const size_t length = std::min(std::strlen(pattern), sizeof linePattern_ - 1);
  std::memcpy(linePattern_, pattern, length);
  linePattern_[length] = '\0';
}

size_t LogTarget::FormatLine(const LogRecord& record, char* out, size_t size) const {
  Os::LockGuard guard(lock_);
  return Logging::FormatLine(GetLinePattern(), record, out, size);
}

// ---- the console targets ----

bool BaseConsoleLogTarget::Write(const LogRecord& record) {
  if (stream_ == nullptr) return false;
  char line[kLineBufferSize];
  FormatLine(record, line, sizeof line);
  return std::fputs(line, stream_) >= 0;
}

void BaseConsoleLogTarget::Flush() {
  if (stream_ != nullptr) std::fflush(stream_);
}

StdErrLogTarget::StdErrLogTarget(std::FILE* stream) : BaseConsoleLogTarget(stream) {
  SetLinePattern(kConsolePattern);
  SetGroups(kGroupDbg, kGroupGen);
}

StdOutLogTarget::StdOutLogTarget(std::FILE* stream) : BaseConsoleLogTarget(stream) {
  SetLinePattern("#M");
  SetGroups(kGroupGen, kGroupDbg);
}

bool StdOutLogTarget::Write(const LogRecord& record) {
  const bool written = BaseConsoleLogTarget::Write(record);
  if (AutoFlush()) Flush();
  return written;
}

DebuggerConsoleLogTarget::DebuggerConsoleLogTarget() : BaseConsoleLogTarget(nullptr) {
  SetLinePattern(kConsolePattern);
  SetGroups(kGroupDbg, 0);
}

bool DebuggerConsoleLogTarget::Write(const LogRecord& record) {
  char line[kLineBufferSize];
  FormatLine(record, line, sizeof line);
  if (DebuggerSink sink = g_debuggerSink.load(std::memory_order_acquire)) sink(line);
  return true;
}

}  // namespace Vexa::Logging
