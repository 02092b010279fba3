// One MessagePack value into a `BindingProperty`. The plug-in only reads this
// form; it never writes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "binding/property.h"

namespace Vexa {

// Reads exactly one value from the start of `bytes`; the bytes after it are
// not looked at (`consumed` tells where it ended). An empty input is a valid
// Empty value; input that ends inside an open array or map keeps the items
// read so far. Malformed or truncated data gives an invalid property whose
// message names the position. Depth costs heap, not stack.
BindingProperty ParseMessagePack(std::span<const std::uint8_t> bytes, std::size_t* consumed = nullptr);

// A MessagePack map or array header first: how a body without a content type
// is recognised.
bool LooksLikeMessagePack(std::span<const std::uint8_t> bytes) noexcept;

}  // namespace Vexa
