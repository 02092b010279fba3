// Shared by the champion-select tests that run the plug-in object over the
// core stand-in: the plug-in's clocks read the core's virtual clock, so every
// delay it computes and every time it publishes is exact.
#pragma once

#include <cmath>
#include <cstdint>

#include "core/core.h"
#include "os/fake_env.h"

namespace Vexa::Client::VoverOrevidAredez {

class CoreClockEnv final : public Os::FakeEnv {
 public:
  explicit CoreClockEnv(const TovHost::Core& core) : core_(core) { frequency = 1000000000; }
  uint64_t PerformanceCounter() override { return static_cast<uint64_t>(std::llround(core_.Now() * 1e9)); }
  int64_t UnixTimeMillis() override { return 1796634000000 + std::llround(core_.Now() * 1000); }

 private:
  const TovHost::Core& core_;
};

}  // namespace Vexa::Client::VoverOrevidAredez
