// Conversion between BindingProperty trees and the core's flat HostValue
// trees, and the release of HostValue trees this side produced. All three
// walk with an explicit stack, so trees of any depth are safe.
#pragma once

#include <string>
#include <string_view>

#include "binding/property.h"
#include "tov/plugin_abi.h"

namespace Vexa {

class BindingRegistry;

// The name messages print for a HostValue kind ("" for 0 and unknown kinds).
const char* HostValueKindName(std::uint32_t kind) noexcept;

// Fills `out` from `value`. On failure returns false with the message in
// `error`; `out` then holds what was converted before the failure.
bool HostValueToBinding(const HostValue& value, BindingNode& out, std::string_view name, std::string& error);

// Writes an owned HostValue tree (texts, bytes, arrays and keys copied from
// the general heap). With a registry, enums travel by enumerator name.
void BindingToHostValue(const BindingNode& node, HostValue& out, const BindingRegistry* registry = nullptr);

// Frees what an owned tree holds and zeroes `value`. Borrowed texts and
// bytes are left alone.
void ReleaseHostValue(HostValue& value) noexcept;

}  // namespace Vexa
