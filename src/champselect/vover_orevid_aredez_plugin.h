// The champion-select plug-in object that the export creates: a thin owner
// of the runtime (its base) and of the champion select.
#pragma once

#include <memory>

#include "champselect/model.h"
#include "runtime/plugin_module.h"

namespace Vexa::Client::VoverOrevidAredez {

class ChampSelect;

class VoverOrevidAredezPlugin : public PluginModule {
 public:
  VoverOrevidAredezPlugin();
  ~VoverOrevidAredezPlugin() override;

  // The API types, the platform's DTOs, then the routes.
  void RegisterRoutes() override;
  // Starts the state machine, then follows the platform and the other
  // plug-ins.
  bool Initialize() override;
  // Leaves every state, then the runtime's own shutdown.
  void Shutdown() override;

  ChampSelect& Flow() { return *champSelect_; }

 private:
  std::unique_ptr<ChampSelect> champSelect_;
};

}  // namespace Vexa::Client::VoverOrevidAredez
