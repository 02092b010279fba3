// Which codec reads a payload: a request body by its content type, a path,
// query or header value by the body's content type or, without one, by its
// first bytes. Every reader of the plug-in's payloads (bindings, tools) asks
// here, so the same bytes are read the same way wherever they arrive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "binding/property.h"

namespace Vexa {

enum class Codec { MessagePack, Json, Yaml, Blob, Text, Unsupported };

// The codec of a body: "application/x-msgpack" (any suffix, such as "-ext"),
// "application/json", "application/vnd.api+json" and "application/x-yaml",
// compared by prefix in any case; Unsupported for anything else.
Codec BodyCodec(std::string_view contentType) noexcept;

// The codec of one path, query or header value. A plain (not `structured`)
// value is always text: a path id "7" must not read as the MessagePack byte
// 0x37. A structured one follows the content type ("application/x-msgpack",
// "application/json", "text/x-yaml", "application/octet-stream" as a blob,
// text otherwise) or, when there is none, its first bytes (SniffCodec).
Codec ValueCodec(std::string_view contentType, std::span<const std::uint8_t> bytes, bool structured) noexcept;

// A MessagePack map or array header first; then, after leading spaces (only
// the space character), "{" or "[" for JSON and "---" for YAML; anything
// else is Text.
Codec SniffCodec(std::span<const std::uint8_t> bytes) noexcept;

// "MessagePack", "JSON" or "YAML"; empty for the codecs that parse nothing.
std::string_view CodecName(Codec codec) noexcept;

// Reads one value with MessagePack (from the bytes; `consumed` tells where
// it ended), JSON or YAML (both as text up to the first NUL, never past the
// length). Blob and Text give the bytes as they are; Unsupported gives an
// Empty value.
BindingProperty ParseWith(Codec codec, std::span<const std::uint8_t> bytes, std::size_t* consumed = nullptr);

}  // namespace Vexa
