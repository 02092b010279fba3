#include "champselect/my_selection.h"

#include "champselect/publisher.h"
#include "champselect/session_builder.h"
#include "logging/logger.h"
#include "runtime/app_module.h"
#include "runtime/service_proxy.h"

namespace Vexa::Client::VoverOrevidAredez {
namespace {

// Every answer and line of these commands.
constexpr const char* kOutOfChampSelect = "ChampSelect: Updating selections out of ChampSelect";
constexpr const char* kNotParticipant = "Not an active participant";
constexpr const char* kNoLocalPlayer = "ChampSelect: No local player!";
constexpr const char* kNoLocalPlayerLine = "%s: Could not find local player";
constexpr const char* kSpellsFailed = "ChampSelect: could not select requested spells";
constexpr const char* kWardSkinFailed = "ChampSelect: could not select requested ward skin: %s";
constexpr const char* kWardSkinInvalid = "Invalid ward skin payload";
constexpr const char* kSkinNotOfChampion = "Skin does not belong to selected champ.";
constexpr const char* kSkinFailed = "ChampSelect: could not select requested skin";
constexpr const char* kNotInChampSelect = "Not in Champ Select";

}  // namespace

Api::ChampSelectPlayerSelection* MySelection::LocalCellPlayer() {
  for (auto* team : {&model_.session.myTeam, &model_.session.theirTeam})
    for (auto& player : *team)
      if (player.cellId == model_.session.localPlayerCellId) return &player;
  return nullptr;
}

RemotingResult MySelection::UpdateMySelection(const Api::ChampSelectMySelection& selection) {
  if (!model_.HasSession()) return RemotingResult::NotFound(kOutOfChampSelect);
  const auto current = model_.FindLocalPlayer();
  if (!current) return RemotingResult::Failed(400, kNotParticipant);
  if (!LocalCellPlayer()) {
    Logging::Log(Logging::kAlways, Logging::kGroupDbg, kNoLocalPlayerLine, kShortName);
    return RemotingResult::NotFound(kNoLocalPlayer);
  }
  // Every wait below lets the core run, and a newer game may rebuild or end
  // the session: after each, the session is checked and read again.
  const SessionWatch watch(model_);
  const bool spell1 = selection.spell1Id && *selection.spell1Id != current->spell1Id;
  const bool spell2 = selection.spell2Id && *selection.spell2Id != current->spell2Id;
  if (spell1 || spell2) {
    const std::uint64_t first = selection.spell1Id.value_or(current->spell1Id);
    const std::uint64_t second = selection.spell2Id.value_or(current->spell2Id);
    const bool sent = static_cast<bool>(module_.InvokeLcdsWithoutResult("gameService", "selectSpells", first, second));
    if (watch.Lost()) return RemotingResult::NotFound(kOutOfChampSelect);
    if (!sent) return RemotingResult::InternalError(kSpellsFailed);
  }
  if (selection.wardSkinId && *selection.wardSkinId != current->wardSkinId) {
    RemotingResult ward = SelectWardSkin(*selection.wardSkinId, watch);
    if (!ward.Ok()) return ward;
  }
  if (selection.selectedSkinId && *selection.selectedSkinId != current->selectedSkinId) {
    // The champion may have changed during the waits above.
    const auto now = model_.FindLocalPlayer();
    if (!now) return RemotingResult::Failed(400, kNotParticipant);
    const std::int32_t skin = *selection.selectedSkinId;
    if (skin / 1000 != now->championId) return RemotingResult::Failed(403, kSkinNotOfChampion);
    const bool sent =
        static_cast<bool>(module_.InvokeLcdsWithoutResult("gameService", "selectChampionSkin", now->championId, skin));
    if (watch.Lost()) return RemotingResult::NotFound(kOutOfChampSelect);
    if (!sent) return RemotingResult::InternalError(kSkinFailed);
    if (auto* player = LocalCellPlayer()) player->selectedSkinId = skin;
    publisher_.Session(PluginResourceEventType::Update);
  }
  return RemotingResult::Success();
}

RemotingResult MySelection::SelectWardSkin(std::int64_t wardSkinId, const SessionWatch& watch) {
  BindingProperty payload;
  payload.Field("wardSkinId").SetSigned(wardSkinId);
  auto answer = module_.Await(module_.Proxy().Call("wardSkins", "selectWardSkin", payload,
                                                   "receiveSelectionConfirmation", "receiveWardSkinServiceError"));
  if (watch.Lost()) return RemotingResult::NotFound(kOutOfChampSelect);
  if (!answer) return RemotingResult::InternalError(Format(kWardSkinFailed, answer.Error().Message().c_str()));
  if (!answer.Value().HasField("selectedWardSkinId")) return RemotingResult::InternalError(kWardSkinInvalid);
  // The service decides: the skin it names is the one selected.
  const std::int64_t selected = answer.Value().Find("selectedWardSkinId").GetInteger();
  sessions_.SetSelectedWardSkinId(selected);
  if (auto* player = LocalCellPlayer()) player->wardSkinId = selected;
  publisher_.Session(PluginResourceEventType::Update);
  return RemotingResult::Success();
}

RemotingResult MySelection::Reroll() {
  const SessionWatch watch(model_);
  auto rolled = module_.Await(module_.InvokeLcds<LCDS::RollResult>("lcdsRerollService", "roll"));
  if (watch.Lost()) return RemotingResult::NotFound(kNotInChampSelect);
  if (!rolled) return RemotingResult::FromFailure(rolled.Error());
  if (auto* player = LocalCellPlayer()) {
    player->championId = rolled.Value().championId;
    publisher_.Session(PluginResourceEventType::Update);
  }
  return RemotingResult::Success();
}

}  // namespace Vexa::Client::VoverOrevidAredez
