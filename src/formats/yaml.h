// One YAML document into a `BindingProperty`, over libyaml's event parser.
// The plug-in only reads this form; it never writes it.
#pragma once

#include <string_view>

#include "binding/property.h"

namespace Vexa {

// The document's value (Empty for an empty text), or an invalid property with
// a message that names the line and column. Aliases are expanded by copy, up
// to a budget that grows with the text's length.
BindingProperty ParseYaml(std::string_view text);

// After leading spaces, "---": how a body without a content type is
// recognised.
bool LooksLikeYaml(std::string_view text) noexcept;

// Types one scalar into `target` by its tag (empty when none) and, for an
// untagged one, by its text; a failure is set on `result`, which owns
// `target`.
void ResolveYamlScalar(BindingProperty& result, BindingNode& target, std::string_view tag, std::string_view text,
                       bool quoted);

}  // namespace Vexa
