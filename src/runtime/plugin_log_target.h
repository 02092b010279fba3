// Forwards every log record to the core: the core formats and stores lines.
#pragma once

#include "logging/log_target.h"
#include "tov/plugin_abi.h"

namespace Vexa {

class PluginLogTarget final : public Logging::LogTarget {
 public:
  explicit PluginLogTarget(const CoreApi* api) : api_(api) {}
  ~PluginLogTarget() override;

  const char* GetName() const override { return "PluginLogTarget"; }
  // Passes the level and the raw message, not the formatted line.
  bool Write(const Logging::LogRecord& record) override;

 private:
  const CoreApi* api_;
};

}  // namespace Vexa
