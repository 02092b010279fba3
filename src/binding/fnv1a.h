// The 32-bit FNV-1a hash used for interned texts, field names and type ids.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace Vexa {

constexpr std::uint32_t Fnv1a32(std::string_view text) noexcept {
  constexpr std::uint32_t kPrime = 16777619u;
  std::uint32_t hash = 0x811C9DC5u;
  std::size_t i = 0;
  // Four bytes a round: the multiplies stay one chain, but the loop's own
  // work no longer crowds them.
  for (; i + 4 <= text.size(); i += 4) {
    hash = (hash ^ static_cast<unsigned char>(text[i])) * kPrime;
    hash = (hash ^ static_cast<unsigned char>(text[i + 1])) * kPrime;
    hash = (hash ^ static_cast<unsigned char>(text[i + 2])) * kPrime;
    hash = (hash ^ static_cast<unsigned char>(text[i + 3])) * kPrime;
  }
  for (; i < text.size(); ++i) hash = (hash ^ static_cast<unsigned char>(text[i])) * kPrime;
  return hash;
}

}  // namespace Vexa
