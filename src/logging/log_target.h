// Log targets: where formatted lines go. A target is a class with virtual
// operations; the logger reaches it only through the function table that
// Api() returns.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "logging/logger.h"
#include "os/lock.h"

namespace Vexa::Logging {

// Formats `record` with `pattern` into `out` and returns the line's length.
// Tokens: #D time, #E executable name, #G group codes, #H seconds of the
// process clock, #L level name, #M message, #T thread id; any other "#x"
// gives x. Output stops when fewer than two bytes remain; the line always
// ends with a newline, appended unless the last character written is one.
// A null or empty pattern gives "\n". A buffer of fewer than two bytes gets
// only the terminator (when it has room for one).
size_t FormatLine(const char* pattern, const LogRecord& record, char* out, size_t size);

// Receives the lines of the debugger target. The platform has no debugger
// output, so by default there is no sink and the lines go nowhere. Returns
// the previous sink.
using DebuggerSink = void (*)(const char* line);
DebuggerSink SetDebuggerSink(DebuggerSink sink);

constexpr int32_t kDefaultTargetLevel = kWarn;
constexpr const char* kDefaultLinePattern = "#D| #L| #G| #M";

class LogTarget {
 public:
  LogTarget();
  // Detaches first, so the logger never calls through a destroyed table.
  // Subclasses whose Write uses their own members should call Detach() in
  // their own destructor too: by the time this one runs they are gone.
  virtual ~LogTarget();
  LogTarget(const LogTarget&) = delete;
  LogTarget& operator=(const LogTarget&) = delete;

  // Clears the attached mark and removes every occurrence from the logger's
  // list; nothing happens to a list when no logger exists.
  virtual void Detach();
  virtual const char* GetName() const { return "LogTarget"; }
  virtual const char* GetLinePattern() const { return linePattern_; }
  // Called with the target's lock held, one record at a time.
  virtual bool Write(const LogRecord& record) = 0;
  virtual void Flush() {}

  void SetLevel(int32_t level);
  int32_t GetLevel() const { return level_.load(std::memory_order_relaxed); }
  void SetGroups(uint64_t include, uint64_t exclude);
  uint64_t IncludedGroups() const { return included_.load(std::memory_order_relaxed); }
  uint64_t ExcludedGroups() const { return excluded_.load(std::memory_order_relaxed); }
  // Copies the pattern (cut to fit a line); null means "".
  void SetLinePattern(const char* pattern);

  // Appends the target to the logger's list unless it is already attached.
  void Attach();
  bool IsAttached() const { return attached_.load(std::memory_order_acquire); }

  const LogTargetApi* Api() const { return &table_; }

  // Formats `record` with this target's line pattern.
  size_t FormatLine(const LogRecord& record, char* out, size_t size) const;

 private:
  // The table handed to the logger, with the way back to its owner.
  struct Table : LogTargetApi {
    LogTarget* owner;
  };
  static LogTarget* Owner(const LogTargetApi* self) { return static_cast<const Table*>(self)->owner; }
  static Table MakeTable(LogTarget* owner);

  Table table_;
  mutable Os::Lock lock_;  // around output and changes of settings
  std::atomic<bool> attached_{false};
  std::atomic<int32_t> level_{kDefaultTargetLevel};
  std::atomic<uint64_t> included_{0};
  std::atomic<uint64_t> excluded_{0};
  // A pattern longer than a line could never be used in full.
  char linePattern_[kLineBufferSize];
};

// Formats each record and writes the line to a stream.
class BaseConsoleLogTarget : public LogTarget {
 public:
  explicit BaseConsoleLogTarget(std::FILE* stream) : stream_(stream) {}
  ~BaseConsoleLogTarget() override { Detach(); }

  const char* GetName() const override { return "BaseConsoleLogTarget"; }
  bool Write(const LogRecord& record) override;
  void Flush() override;

 protected:
  std::FILE* Stream() const { return stream_; }

 private:
  std::FILE* stream_;
};

// Built-in: pattern "#E(#T): #L| #M", group DBG in, GEN out.
class StdErrLogTarget final : public BaseConsoleLogTarget {
 public:
  explicit StdErrLogTarget(std::FILE* stream = stderr);
  ~StdErrLogTarget() override { Detach(); }
  const char* GetName() const override { return "StdErrLogTarget"; }
};

// Built-in: pattern "#M", group GEN in, DBG out; flushes after each line when
// auto-flush is on (default off).
class StdOutLogTarget final : public BaseConsoleLogTarget {
 public:
  explicit StdOutLogTarget(std::FILE* stream = stdout);
  ~StdOutLogTarget() override { Detach(); }
  const char* GetName() const override { return "StdOutLogTarget"; }
  bool Write(const LogRecord& record) override;

  void SetAutoFlush(bool on) { autoFlush_.store(on, std::memory_order_relaxed); }
  bool AutoFlush() const { return autoFlush_.load(std::memory_order_relaxed); }

 private:
  std::atomic<bool> autoFlush_{false};
};

// Built-in: pattern "#E(#T): #L| #M", group DBG in; writes to the debugger sink.
class DebuggerConsoleLogTarget final : public BaseConsoleLogTarget {
 public:
  DebuggerConsoleLogTarget();
  ~DebuggerConsoleLogTarget() override { Detach(); }
  const char* GetName() const override { return "DebuggerConsoleLogTarget"; }
  bool Write(const LogRecord& record) override;
};

}  // namespace Vexa::Logging
