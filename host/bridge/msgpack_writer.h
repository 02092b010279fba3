// JSON text to MessagePack, for clients whose Accept asks for it. The core
// hands back the plug-in's answers as JSON; the plug-in's own codecs only
// read MessagePack, so the bridge writes it itself.
#pragma once

#include <string>
#include <string_view>

namespace TovBridge {

// The MessagePack form of one JSON value, in the shortest encodings; false
// (and `out` untouched) when `json` is not one JSON value. Depth costs heap,
// not stack.
bool JsonToMessagePack(std::string_view json, std::string* out);

}  // namespace TovBridge
