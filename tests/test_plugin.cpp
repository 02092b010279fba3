// A plug-in built only for tests: the real runtime with a few routes, so the
// core stand-in can call functions through the exported records.
#include <cstring>
#include <new>
#include <optional>
#include <string>

#include "runtime/allocator.h"
#include "runtime/plugin_module.h"

namespace {

using namespace Vexa;

class RoutesPlugin final : public PluginModule {
 public:
  void RegisterRoutes() override {
    Routes()
        .AddRoute(RemotingMethod::Get, "/tov-vover-orevid-aredez/v1/echo/{id}",
                  [](std::int64_t id, std::optional<std::string> note) {
                    if (id < 0) return RemotingTypedResult<std::string>::Failed(404, "No such echo");
                    return RemotingTypedResult<std::string>(std::to_string(id) + ":" + note.value_or("-"));
                  })
        .PathArgument("id", "which echo")
        .Argument("note");
    Routes()
        .AddRoute(RemotingMethod::Post, "/tov-vover-orevid-aredez/v1/items", [](BindingProperty item) { return item; })
        .BodyArgument("item");
  }
};

}  // namespace

extern "C" void load_tov_champ_select_legacy(PluginHandshake* record) noexcept {
  if (!record) return;
  void* storage = Memory::Allocate(sizeof(RoutesPlugin));
  if (!storage) return;
  std::memset(storage, 0, sizeof(RoutesPlugin));
  auto* plugin = new (storage) RoutesPlugin();
  plugin->Handshake(record, "tov-vover-orevid-aredez");
}
