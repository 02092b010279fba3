#include "champselect/chat_room.h"

#include <openssl/sha.h>

namespace Vexa::Client::VoverOrevidAredez {
namespace {

constexpr std::string_view kChatDomain = "@champ-select.chat.vexagames.com";

}  // namespace

std::string DerivedChatRoomName(std::string_view key, std::string_view side) {
  if (key.empty() || side.empty()) return {};
  // Only ASCII letters fold: the room name must not depend on a locale.
  std::string lowered(key);
  for (char& c : lowered)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  unsigned char digest[SHA_DIGEST_LENGTH];
  SHA1(reinterpret_cast<const unsigned char*>(lowered.data()), lowered.size(), digest);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string name(side);
  name += '~';
  for (const unsigned char byte : digest) {
    name += kHex[byte >> 4];
    name += kHex[byte & 15];
  }
  name += kChatDomain;
  return name;
}

}  // namespace Vexa::Client::VoverOrevidAredez
