#include "os/env.h"

#include <pthread.h>
#include <sys/mman.h>
#include <sys/sysinfo.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace Vexa::Os {
namespace {

class PosixEnv final : public Env {
 public:
  uint64_t PerformanceCounter() override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000000000u + uint64_t(ts.tv_nsec);
  }
  uint64_t PerformanceFrequency() override { return 1000000000u; }

  LocalTime Now() override {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm parts{};
    localtime_r(&ts.tv_sec, &parts);
    return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
                     parts.tm_min,         parts.tm_sec,     int32_t(ts.tv_nsec / 1000000)};
  }

  int64_t UnixTimeMillis() override {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
  }

  bool ExecutablePath(char* out, size_t size) override {
    if (size == 0) return false;
    ssize_t n = readlink("/proc/self/exe", out, size - 1);
    if (n <= 0) {
      out[0] = '\0';
      return false;
    }
    out[n] = '\0';
    return true;
  }

  bool QueryMemoryStatus(MemoryStatus* out) override {
    struct sysinfo info{};
    if (sysinfo(&info) != 0) return false;
    const uint64_t unit = info.mem_unit ? info.mem_unit : 1;
    *out = MemoryStatus{};
    out->totalPhysicalBytes = uint64_t(info.totalram) * unit;
    out->availablePhysicalBytes = uint64_t(info.freeram + info.bufferram) * unit;
    out->totalSwapBytes = uint64_t(info.totalswap) * unit;
    out->availableSwapBytes = uint64_t(info.freeswap) * unit;
    if (out->totalPhysicalBytes != 0)
      out->memoryLoadPercent = uint32_t(
          100 - (out->availablePhysicalBytes * 100) / out->totalPhysicalBytes);
    out->totalVirtualBytes = uint64_t(sizeof(void*) == 4 ? 0xFFFFFFFFull : 0x7FFFFFFFFFFFull);
    ReadProcessCounters(out);
    return true;
  }

  uintptr_t CurrentThreadId() override { return uintptr_t(pthread_self()); }

  void* MapRegion(size_t bytes) override {
    // A region's pages are all handed out soon after it is mapped; one
    // populating call costs far less than a fault per page.
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
  }
  void UnmapRegion(void* region, size_t bytes) override {
    if (region) munmap(region, bytes);
  }

 private:
  static void ReadProcessCounters(MemoryStatus* out) {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return;
    char line[256];
    unsigned long long kib = 0;
    while (std::fgets(line, sizeof line, f)) {
      if (std::sscanf(line, "VmRSS: %llu", &kib) == 1) out->workingSetBytes = kib * 1024;
      if (std::sscanf(line, "VmHWM: %llu", &kib) == 1) out->peakWorkingSetBytes = kib * 1024;
      if (std::sscanf(line, "VmSize: %llu", &kib) == 1)
        out->availableVirtualBytes = out->totalVirtualBytes - kib * 1024;
    }
    std::fclose(f);
  }
};

std::atomic<Env*> g_installed{nullptr};

}  // namespace

Env& Env::Posix() {
  static PosixEnv env;
  return env;
}

Env& Env::Current() {
  Env* env = g_installed.load(std::memory_order_acquire);
  return env ? *env : Posix();
}

Env* Env::Install(Env* env) { return g_installed.exchange(env, std::memory_order_acq_rel); }

const char* FileNamePart(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

}  // namespace Vexa::Os
