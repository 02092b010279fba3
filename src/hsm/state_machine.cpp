#include "hsm/state_machine.h"

namespace Vexa::Hsm {

// Concatenated rather than printed: names and events are arbitrary bytes,
// and an embedded NUL or '%' must come through as it is.

std::string UnhandledEventMessage(const std::string& machine, const std::string& event, const std::string& state) {
  return "State machine '" + machine + "': Event '" + event + "' is not handled by state '" + state +
         "', or its ancestors. The event will be ignored.";
}

std::string UnrelatedStatesMessage(const std::string& machine, const std::string& from, const std::string& to,
                                   const std::string& event) {
  return "State machine '" + machine + "': The transition from state '" + from + "' to state '" + to +
         "' on event '" + event +
         "' is invalid because the states do not share a common ancestry. The event will be ignored.";
}

std::string InitialNotDescendantMessage(const std::string& machine, const std::string& from, const std::string& to) {
  return "State machine '" + machine + "': The initial transition from state '" + from + "' to state '" + to +
         "' is invalid because the target state is not a descendant. The transition will be ignored";
}

}  // namespace Vexa::Hsm
