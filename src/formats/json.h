// JSON text to and from `BindingProperty` trees.
#pragma once

#include <string>
#include <string_view>

#include "binding/property.h"

namespace Vexa {

class BindingRegistry;

// The value of `text`, read up to its first NUL byte or its end, whichever
// comes first. A text of blanks only is a valid Empty value. A syntax error
// gives an invalid property whose message is "Error: <text> at offset <n>.".
// Depth costs heap, not stack.
BindingProperty ParseJson(std::string_view text);

// Compact when `lineBreak` is empty; otherwise indented by four spaces per
// level with `lineBreak` between lines. An Empty root writes nothing. With a
// registry, enum values it knows are written by name.
std::string ToJson(const BindingNode& node, const BindingRegistry* registry = nullptr,
                   std::string_view lineBreak = {});

}  // namespace Vexa
