// The champion-select plug-in object that the export creates.
#pragma once

#include "runtime/plugin_module.h"

namespace Vexa::Client::VoverOrevidAredez {

inline constexpr const char* kShortName = "tov-vover-orevid-aredez";

class VoverOrevidAredezPlugin : public PluginModule {
 public:
  bool Initialize() override;
  void Shutdown() override;
};

}  // namespace Vexa::Client::VoverOrevidAredez
