// One YAML document into a `BindingProperty`, over libyaml's event parser.
// The plug-in only reads this form; it never writes it.
#pragma once

#include <string_view>

#include "binding/property.h"

namespace Vexa {

// The document's value (Empty for an empty text), or an invalid property with
// a message that names the line and column. `text` is read up to its length;
// a NUL inside it is a libyaml error, not an end. A node that outgrows its
// limits or memory becomes a failure too, not an exception.
//
// Two bounds keep hostile input cheap: aliases are expanded by copy within a
// budget that grows with the text's length, and flow collections ("[", "{")
// may nest 256 deep, since libyaml's cost per token grows with the open flow
// depth. Block nesting has no limit.
BindingProperty ParseYaml(std::string_view text);

// After leading spaces, "---": how a body without a content type is
// recognised.
bool LooksLikeYaml(std::string_view text) noexcept;

// Types one scalar into `target` by its tag (empty when none) and, for an
// untagged one, by its text; a failure is set on `result`, which owns
// `target`. May throw what the node's setters throw.
void ResolveYamlScalar(BindingProperty& result, BindingNode& target, std::string_view tag, std::string_view text,
                       bool quoted);

}  // namespace Vexa
