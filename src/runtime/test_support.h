// Shared by the tests that run a plug-in object over the core stand-in: an
// environment whose clocks follow the core's virtual clock (so every delay
// the plug-in computes and every time it publishes is exact), and a log
// target that keeps what the process-wide logger writes.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "core/core.h"
#include "logging/log_target.h"
#include "logging/logger.h"
#include "os/fake_env.h"

namespace Vexa {

class CoreClockEnv final : public Os::FakeEnv {
 public:
  explicit CoreClockEnv(const TovHost::Core& core) : core_(core) { frequency = 1000000000; }
  uint64_t PerformanceCounter() override { return static_cast<uint64_t>(std::llround(core_.Now() * 1e9)); }
  int64_t UnixTimeMillis() override { return 1796634000000 + std::llround(core_.Now() * 1000); }

 private:
  const TovHost::Core& core_;
};

// "level message" of every line, as long as it is attached.
class CaptureTarget final : public Logging::LogTarget {
 public:
  ~CaptureTarget() override { Detach(); }
  const char* GetName() const override { return "CaptureTarget"; }
  bool Write(const Logging::LogRecord& record) override {
    lines.push_back(std::to_string(record.level) + " " + record.message);
    return true;
  }
  std::vector<std::string> lines;
};

// Captures what the process-wide logger writes while it lives.
struct LogCapture {
  LogCapture() {
    logger->Initialize(logger);
    capture.SetLevel(0);
    capture.Attach();
  }
  ~LogCapture() {
    capture.Detach();
    logger->Shutdown(logger);
  }
  const Logging::LoggerApi* logger = Logging::Logger();
  CaptureTarget capture;
};

}  // namespace Vexa
