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
// The same, except that the member `key` of an object `value` goes into
// `detached`, a root of its own: a part that the receiver keeps apart is
// built once instead of being copied out of `out` afterwards.
bool HostValueToBindingDetaching(const HostValue& value, BindingNode& out, std::string_view key, BindingNode& detached,
                                 std::string_view name, std::string& error);

// How a HostValue tree holds the texts, keys and bytes of its source.
enum class HostValueTexts {
  Copied,    // owned copies, for a receiver that keeps the tree
  Borrowed,  // pointing into the source, which must outlive the tree
};

// Writes a HostValue tree whose arrays and objects come from the general
// heap. With a registry, enums travel by enumerator name.
void BindingToHostValue(const BindingNode& node, HostValue& out, const BindingRegistry* registry = nullptr,
                        HostValueTexts texts = HostValueTexts::Copied);

// Frees what an owned tree holds and zeroes `value`. Borrowed texts and
// bytes are left alone.
void ReleaseHostValue(HostValue& value) noexcept;

}  // namespace Vexa
