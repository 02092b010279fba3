// The session's timer fields from one reading of the phase timer.
#pragma once

#include <cstdint>
#include <string_view>

#include "champselect/api.h"

namespace Vexa::Client::VoverOrevidAredez {

// `nowEpochMs` is the wall-clock time of the reading. The total time of a
// phase is its first reading; a new phase starts a new total.
void SetSessionTimer(Api::ChampSelectTimer& timer, std::string_view phase, std::int64_t remainingMs,
                     std::uint64_t nowEpochMs);

}  // namespace Vexa::Client::VoverOrevidAredez
