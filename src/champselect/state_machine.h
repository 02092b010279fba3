// The champion-select state tree: which platform game states begin, update
// and end the session.
#pragma once

#include <string>

#include "hsm/state_machine.h"

namespace Vexa::Client::VoverOrevidAredez {

class VoverOrevidAredezPlugin;
using ChampSelectMachine = Hsm::StateMachine<VoverOrevidAredezPlugin, std::string>;

// "ChampSelect", the root; built once, never freed.
const ChampSelectMachine::StateType& ChampSelectRoot();

}  // namespace Vexa::Client::VoverOrevidAredez
