// Recognising the form of a body or value that arrives without a content
// type, from its first bytes.
#pragma once

#include <cstdint>
#include <span>

namespace Vexa {

enum class SniffedFormat { MessagePack, Json, Yaml, Text };

// A MessagePack map or array header first; then, after leading spaces, "{"
// or "[" for JSON and "---" for YAML; anything else is plain text.
SniffedFormat SniffFormat(std::span<const std::uint8_t> bytes) noexcept;

}  // namespace Vexa
