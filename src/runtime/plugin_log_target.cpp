#include "runtime/plugin_log_target.h"

namespace Vexa {

PluginLogTarget::~PluginLogTarget() { Detach(); }

bool PluginLogTarget::Write(const Logging::LogRecord& record) {
  if (api_ && api_->Log) api_->Log(api_, record.level, record.message);
  return true;
}

}  // namespace Vexa
