// A scriptable Env for tests: time, memory and region mapping are whatever
// the test sets, and mapping can be made to fail.
#pragma once

#include <cstdlib>
#include <cstring>
#include <string>

#include "os/env.h"

namespace Vexa::Os {

class FakeEnv : public Env {
 public:
  uint64_t counter = 0;
  uint64_t frequency = 1000;
  LocalTime now{2026, 12, 7, 9, 5, 3, 42};
  int64_t unixMillis = 1796634303042;  // the same instant, taken as UTC
  std::string executablePath = "/opt/vexa/VexaClient";
  bool executableKnown = true;
  MemoryStatus memory{};
  uintptr_t threadId = 0x1234;
  int regionsLeft = -1;  // -1: unlimited
  int regionsMapped = 0;

  uint64_t PerformanceCounter() override { return counter; }
  uint64_t PerformanceFrequency() override { return frequency; }
  LocalTime Now() override { return now; }
  int64_t UnixTimeMillis() override { return unixMillis; }
  bool ExecutablePath(char* out, size_t size) override {
    if (!executableKnown || size == 0) return false;
    std::strncpy(out, executablePath.c_str(), size - 1);
    out[size - 1] = '\0';
    return true;
  }
  bool QueryMemoryStatus(MemoryStatus* out) override {
    *out = memory;
    return true;
  }
  uintptr_t CurrentThreadId() override { return threadId; }
  void* MapRegion(size_t bytes) override {
    if (regionsLeft == 0) return nullptr;
    if (regionsLeft > 0) --regionsLeft;
    ++regionsMapped;
    return Posix().MapRegion(bytes);
  }
  void UnmapRegion(void* region, size_t bytes) override {
    --regionsMapped;
    Posix().UnmapRegion(region, bytes);
  }
};

// Installs a fake for the lifetime of a test scope.
class ScopedEnv {
 public:
  explicit ScopedEnv(Env* env) : previous_(Env::Install(env)) {}
  ~ScopedEnv() { Env::Install(previous_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  Env* previous_;
};

}  // namespace Vexa::Os
