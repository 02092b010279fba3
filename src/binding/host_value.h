// Conversion between BindingProperty trees and the core's flat HostValue
// trees, and the release of HostValue trees this side produced. All three
// walk with an explicit stack, so trees of any depth are safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "binding/property.h"
#include "tov/plugin_abi.h"

namespace Vexa {

class BindingRegistry;

// The name messages print for a HostValue kind ("" for 0 and unknown kinds).
const char* HostValueKindName(std::uint32_t kind) noexcept;

// Whether `value` converts into a tree; when not, the message
// HostValueToBinding would give is in `error`. A value that passes converts
// through HostValueInput without a failure of its own.
bool HostValueConvertible(const HostValue& value, std::string_view name, std::string& error);

// A read-only view of a HostValue with a BindingNode's reading interface, so
// that a native value converts straight from the core's value, by the same
// rules and with the same messages as from the tree HostValueToBinding would
// build: texts end at their first NUL, a repeated key reads its last value.
// Only for values that passed HostValueConvertible.
class HostValueInput {
 public:
  HostValueInput() noexcept = default;
  // A copy: values inside packed object entries may sit at any address.
  explicit HostValueInput(const HostValue& value) noexcept : value_(value) {}

  const HostValue& Value() const noexcept { return value_; }
  BindingKind GetKind() const noexcept;
  bool IsEmpty() const noexcept { return GetKind() == BindingKind::Empty; }
  std::uint32_t Size() const noexcept;

  bool GetBool() const noexcept { return value_.u.boolean != 0; }
  std::int64_t GetSigned() const noexcept { return value_.u.int64; }
  std::uint64_t GetUnsigned() const noexcept { return value_.u.uint64; }
  double GetFloat() const noexcept { return value_.u.number; }
  std::int64_t GetInteger() const noexcept;
  std::string_view GetString() const noexcept;
  std::span<const std::uint8_t> GetBlob() const noexcept;
  // A core's value has no enums.
  EnumValue GetEnum() const noexcept { return {}; }

  // The element, or an Empty view.
  HostValueInput At(std::uint32_t index) const noexcept;
  // The last member named `name`, or an Empty view.
  HostValueInput Find(std::string_view name) const noexcept;
  // A Structure's members in their order, repeated keys included; a null
  // key reads as "".
  std::uint32_t MemberCount() const noexcept {
    return GetKind() == BindingKind::Structure ? value_.u.object.count : 0;
  }
  const char* KeyAt(std::uint32_t index) const noexcept {
    // Entries are packed: their members are read bytewise.
    const char* key;
    std::memcpy(&key, EntryBytes(index) + offsetof(HostObjectEntry, key), sizeof key);
    return key ? key : "";
  }
  HostValueInput MemberAt(std::uint32_t index) const noexcept {
    HostValue value;
    std::memcpy(&value, EntryBytes(index) + offsetof(HostObjectEntry, value), sizeof value);
    return HostValueInput(value);
  }

 private:
  const unsigned char* EntryBytes(std::uint32_t index) const noexcept {
    return reinterpret_cast<const unsigned char*>(value_.u.object.entries) + std::size_t(index) * sizeof(HostObjectEntry);
  }

  HostValue value_{};  // Null: Empty
};

inline BindingKind HostValueInput::GetKind() const noexcept {
  switch (value_.kind) {
    case HostValueKind_Bool: return BindingKind::Bool;
    case HostValueKind_Int64: return BindingKind::Signed;
    case HostValueKind_UInt64: return BindingKind::Unsigned;
    case HostValueKind_Double: return BindingKind::Float;
    case HostValueKind_BorrowedString:
    case HostValueKind_String: return BindingKind::String;
    case HostValueKind_BorrowedBytes:
    case HostValueKind_Bytes: return BindingKind::Blob;
    case HostValueKind_Array: return BindingKind::Collection;
    case HostValueKind_Object: return BindingKind::Structure;
    default: return BindingKind::Empty;
  }
}

// Fills `out` from `value`. On failure returns false with the message in
// `error`; `out` then holds what was converted before the failure.
bool HostValueToBinding(const HostValue& value, BindingNode& out, std::string_view name, std::string& error);
// How a HostValue tree holds the texts, keys and bytes of its source.
enum class HostValueTexts {
  Copied,    // owned copies, for a receiver that keeps the tree
  Borrowed,  // pointing into the source, which must outlive the tree
};

// The memory of a HostValue tree that is sent and dropped at once: its
// arrays come from a few blocks freed together, and its texts are lent by
// the values it was written from, or by trees the arena keeps.
class HostValueArena {
 public:
  HostValueArena() = default;
  ~HostValueArena();
  HostValueArena(const HostValueArena&) = delete;
  HostValueArena& operator=(const HostValueArena&) = delete;

  // Zeroed; null for none.
  HostValue* Items(std::uint32_t count) { return static_cast<HostValue*>(Take(sizeof(HostValue), count)); }
  HostObjectEntry* Entries(std::uint32_t count) {
    return static_cast<HostObjectEntry*>(Take(sizeof(HostObjectEntry), count));
  }
  // Keeps `tree` alive as long as the arena, for values that borrow from it.
  const BindingProperty& Keep(BindingProperty&& tree);

 private:
  void* Take(std::size_t size, std::uint32_t count);

  std::vector<void*> blocks_;
  unsigned char* free_ = nullptr;
  std::size_t left_ = 0;
  std::vector<BindingProperty> kept_;
};

// Writes a HostValue tree whose arrays and objects come from the general
// heap, or from `arena` (texts then borrowed). With a registry, enums travel
// by enumerator name.
void BindingToHostValue(const BindingNode& node, HostValue& out, const BindingRegistry* registry = nullptr,
                        HostValueTexts texts = HostValueTexts::Copied, HostValueArena* arena = nullptr);

// Frees what an owned tree holds and zeroes `value`. Borrowed texts and
// bytes are left alone.
void ReleaseHostValue(HostValue& value) noexcept;

}  // namespace Vexa
