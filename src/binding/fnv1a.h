// The 32-bit FNV-1a hash used for interned texts, field names and type ids.
#pragma once

#include <cstdint>
#include <string_view>

namespace Vexa {

constexpr std::uint32_t Fnv1a32(std::string_view text) noexcept {
  std::uint32_t hash = 0x811C9DC5u;
  for (char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 16777619u;
  }
  return hash;
}

}  // namespace Vexa
