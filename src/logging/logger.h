// The process-wide logger. Every line of the plug-in passes through it: it is
// filtered by level and group, stamped with the local time and handed to the
// attached targets, each of which formats it with its own line pattern.
//
// The logger and its targets meet only through the two plain function tables
// below, so either side may live in another module without sharing a class
// layout. Every entry takes its owner first.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "os/env.h"

namespace Vexa::Logging {

// Levels; a record passes a threshold when its level is at least the threshold.
constexpr int32_t kOkay = 0, kWarn = 1, kError = 2, kAlways = 3;

// Group masks: bit i is group i. Bits 8..63 are handed out by GroupFromCode.
constexpr uint64_t kGroupDbg = 1, kGroupGen = 2, kGroupXtr = 4, kGroupPrf = 8, kGroupMem = 16,
                   kGroupDsk = 32, kGroupNet = 64, kGroupTst = 128;

constexpr int32_t kLoggingInterfaceVersion = 1;

// Messages and lines are formatted into stack buffers of this size, so
// nothing is allocated per message; longer text is cut.
constexpr size_t kLineBufferSize = 4096;

struct LogRecord {
  Os::LocalTime time;
  int32_t level;
  uint64_t groups;
  const char* message;  // never null when it comes from the logger
};

// A log target as the logger sees it. Any thread may call any entry.
struct LogTargetApi {
  int32_t (*InterfaceVersion)(const LogTargetApi* self);  // always 1
  void (*SetLevel)(const LogTargetApi* self, int32_t level);
  int32_t (*GetLevel)(const LogTargetApi* self);
  // Stores included = include & ~exclude and excluded = exclude.
  void (*SetGroups)(const LogTargetApi* self, uint64_t include, uint64_t exclude);
  uint64_t (*GetIncludedGroups)(const LogTargetApi* self);  // 0: every group
  uint64_t (*GetExcludedGroups)(const LogTargetApi* self);
  const char* (*GetName)(const LogTargetApi* self);  // the class name, e.g. "StdErrLogTarget"
  const char* (*GetLinePattern)(const LogTargetApi* self);
  // Appends the target once to the logger's list (creating the logger on demand).
  void (*Attach)(const LogTargetApi* self);
  // Removes every occurrence from the logger's list; nothing when no logger exists.
  void (*Detach)(const LogTargetApi* self);
  bool (*IsAttached)(const LogTargetApi* self);
  // Called by the logger under its lock, one record at a time.
  bool (*Write)(const LogTargetApi* self, const LogRecord* record);
};

// The logging interface. Any thread may call any entry; entries that read or
// change the logger's state create the logger on demand.
struct LoggerApi {
  int32_t (*InterfaceVersion)(const LoggerApi* self);  // always 1
  // Reference-counted: the call that raises the count to 1 creates the logger
  // and its built-in targets. True when a logger exists afterwards.
  bool (*Initialize)(const LoggerApi* self);
  // The call that brings the count to 0 detaches every target, last to first,
  // and frees the logger. A call at count 0 does nothing.
  void (*Shutdown)(const LoggerApi* self);
  void (*SetMinimumLevel)(const LoggerApi* self, int32_t level);  // default kWarn
  int32_t (*GetMinimumLevel)(const LoggerApi* self);
  void (*SetMutedGroups)(const LoggerApi* self, uint64_t groups);  // default kGroupXtr
  uint64_t (*GetMutedGroups)(const LoggerApi* self);
  void (*Disable)(const LoggerApi* self);
  void (*Enable)(const LoggerApi* self);
  // Stored and changed only; no path of the logger reads it yet.
  void (*SetSecondSwitch)(const LoggerApi* self);
  void (*ClearSecondSwitch)(const LoggerApi* self);
  // Attaching a target that is already attached adds another occurrence.
  void (*AttachTarget)(const LoggerApi* self, const LogTargetApi* target);
  // Removes every occurrence and clears the target's attached mark.
  void (*DetachTarget)(const LoggerApi* self, const LogTargetApi* target);
  // First attached target whose name equals `name` exactly; null when none.
  const LogTargetApi* (*FindTarget)(const LoggerApi* self, const char* name);
  // The built-in targets; they live as long as the logger.
  const LogTargetApi* (*StdOutTarget)(const LoggerApi* self);
  const LogTargetApi* (*StdErrTarget)(const LoggerApi* self);
  const LogTargetApi* (*DebuggerTarget)(const LoggerApi* self);
  // The bit of a three-letter code, registering it in the next free slot when
  // new; 0 for an empty code or when all 64 slots are taken.
  uint64_t (*GroupFromCode)(const LoggerApi* self, const char* code);
  // Codes of the set bits, lowest first, joined by ";". Returns the length written.
  size_t (*GroupsToText)(const LoggerApi* self, uint64_t groups, char* out, size_t size);
  // The line formatter (see FormatLine in log_target.h). Returns the length written.
  size_t (*FormatRecord)(const LoggerApi* self, const LogRecord* record, const char* pattern, char* out,
                         size_t size);
  const char* (*LevelName)(const LoggerApi* self, int32_t level);  // six characters
  const char* (*ExecutableName)(const LoggerApi* self);            // "<unknown>" until known
  Os::LocalTime (*CurrentTime)(const LoggerApi* self);
  size_t (*FormatTime)(const LoggerApi* self, const Os::LocalTime* time, char* out, size_t size);
  size_t (*FormatFileTime)(const LoggerApi* self, const Os::LocalTime* time, char* out, size_t size);
  void (*Log)(const LoggerApi* self, int32_t level, uint64_t groups, const char* format, va_list args);
};

// The process-wide logging interface; the table itself is always valid.
const LoggerApi* Logger();

void Log(int32_t level, uint64_t groups, const char* format, ...) __attribute__((format(printf, 3, 4)));
void LogV(int32_t level, uint64_t groups, const char* format, va_list args)
    __attribute__((format(printf, 3, 0)));

// Messages of level kWarn and kError that reached the dispatch step since the
// logger was created; 0 when there is no logger.
uint32_t WarningCount();
uint64_t ErrorCount();

// "  OKAY", "  WARN", " ERROR", "ALWAYS"; "   ???" for any other level.
const char* LevelName(int32_t level);
// The host executable's file name, or "<unknown>". The text stays valid while
// the logger lives.
const char* ExecutableName();
// "%04d-%02d-%02dT%02d:%02d:%02d.%03d" and the file-name form without
// milliseconds and with '-' between the clock fields. Return the length written.
size_t FormatTime(const Os::LocalTime& time, char* out, size_t size);
size_t FormatFileTime(const Os::LocalTime& time, char* out, size_t size);

}  // namespace Vexa::Logging
