// The platform layer: every operating-system service the product uses goes
// through Env, so tests can substitute a fake with the same interface.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Vexa::Os {

// Local wall-clock time as the logger stamps it (no day of the week).
struct LocalTime {
  int32_t year = 0, month = 0, day = 0;
  int32_t hour = 0, minute = 0, second = 0, millisecond = 0;
};

// Machine-wide and process-wide memory figures, taken once as a snapshot
// when the runtime allocator starts counting.
struct MemoryStatus {
  uint32_t memoryLoadPercent = 0;
  uint64_t totalPhysicalBytes = 0;
  uint64_t availablePhysicalBytes = 0;
  uint64_t totalSwapBytes = 0;
  uint64_t availableSwapBytes = 0;
  uint64_t totalVirtualBytes = 0;
  uint64_t availableVirtualBytes = 0;
  uint64_t pageFaultCount = 0;
  uint64_t workingSetBytes = 0;
  uint64_t peakWorkingSetBytes = 0;
};

class Env {
 public:
  virtual ~Env() = default;

  // High-resolution monotonic counter and its ticks per second.
  virtual uint64_t PerformanceCounter() = 0;
  virtual uint64_t PerformanceFrequency() = 0;
  virtual LocalTime Now() = 0;
  // UTC wall-clock time in milliseconds since 1970-01-01; the times the
  // plug-in publishes (not its deadlines, which follow the monotonic clock).
  virtual int64_t UnixTimeMillis() = 0;
  // Writes the host executable's full path (NUL-terminated, truncated to
  // `size`); returns false when it cannot be known.
  virtual bool ExecutablePath(char* out, size_t size) = 0;
  virtual bool QueryMemoryStatus(MemoryStatus* out) = 0;
  virtual uintptr_t CurrentThreadId() = 0;
  // Address space for pooled storage, in whole regions; null when the
  // system refuses.
  virtual void* MapRegion(size_t bytes) = 0;
  virtual void UnmapRegion(void* region, size_t bytes) = 0;

  // The environment in use: the real one unless a test installed another.
  static Env& Current();
  // Installs `env` (null restores the real one) and returns the previous.
  static Env* Install(Env* env);
  static Env& Posix();
};

// The text after the last '/' of `path` ("" stays "").
const char* FileNamePart(const char* path);

}  // namespace Vexa::Os
