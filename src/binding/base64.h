// Standard Base64 with padding: how Blobs read as text and write as JSON,
// and how the core stand-in shows bytes. Needs nothing but the standard
// library, so both sides of the boundary share it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace Vexa {

inline std::string Base64(const void* data, std::size_t size) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::string out((size + 2) / 3 * 4, '=');
  char* o = out.data();
  for (std::size_t i = 0; i < size; i += 3, o += 4) {
    const std::size_t rest = size - i;
    const std::uint32_t word = std::uint32_t{bytes[i]} << 16 | (rest > 1 ? std::uint32_t{bytes[i + 1]} << 8 : 0) |
                               (rest > 2 ? std::uint32_t{bytes[i + 2]} : 0);
    o[0] = kAlphabet[word >> 18 & 63];
    o[1] = kAlphabet[word >> 12 & 63];
    if (rest > 1) o[2] = kAlphabet[word >> 6 & 63];
    if (rest > 2) o[3] = kAlphabet[word & 63];
  }
  return out;
}

inline std::string Base64(std::span<const std::uint8_t> bytes) { return Base64(bytes.data(), bytes.size()); }

}  // namespace Vexa
