// The chat room of a game that the platform gave no room name.
#pragma once

#include <string>
#include <string_view>

namespace Vexa::Client::VoverOrevidAredez {

// `side` + "~" + the SHA-1 of the lower-cased `key` in hexadecimal + the
// chat service's domain; empty when `key` or `side` is.
std::string DerivedChatRoomName(std::string_view key, std::string_view side);

}  // namespace Vexa::Client::VoverOrevidAredez
