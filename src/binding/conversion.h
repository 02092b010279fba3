// Conversions between native values and BindingProperty trees. Failures never
// throw: the conversion marks its `result` invalid with the message, and every
// conversion does nothing once `result` is invalid, so the first failure wins.
#pragma once

#include <concepts>
#include <cstring>
#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "binding/host_value.h"
#include "binding/property.h"
#include "binding/registry.h"
#include "binding/type_identity.h"

namespace Vexa {

// ---- Into native values ---------------------------------------------------
// `name` is what messages print for the value: a field's name, or "<value>"
// and "<result>" for whole arguments and results.

// Each reads a tree's node or, with the same rules and messages, a core's
// value that passed HostValueConvertible.
bool BoolFromBinding(BindingProperty& result, const BindingNode& input, std::string_view name);
bool BoolFromBinding(BindingProperty& result, const HostValueInput& input, std::string_view name);
std::int64_t SignedFromBinding(BindingProperty& result, const BindingNode& input, std::string_view name,
                               std::int64_t min, std::int64_t max, const char* typeName);
std::int64_t SignedFromBinding(BindingProperty& result, const HostValueInput& input, std::string_view name,
                               std::int64_t min, std::int64_t max, const char* typeName);
std::uint64_t UnsignedFromBinding(BindingProperty& result, const BindingNode& input, std::string_view name,
                                  std::uint64_t max, const char* typeName);
std::uint64_t UnsignedFromBinding(BindingProperty& result, const HostValueInput& input, std::string_view name,
                                  std::uint64_t max, const char* typeName);
double DoubleFromBinding(BindingProperty& result, const BindingNode& input, std::string_view name, double max,
                         const char* typeName);
double DoubleFromBinding(BindingProperty& result, const HostValueInput& input, std::string_view name, double max,
                         const char* typeName);
std::string TextFromBinding(BindingProperty& result, const BindingNode& input, std::string_view name,
                            const BindingRegistry* registry);
std::string TextFromBinding(BindingProperty& result, const HostValueInput& input, std::string_view name,
                            const BindingRegistry* registry);
std::int32_t EnumFromBinding(BindingProperty& result, const BindingNode& input, std::string_view name,
                             const BindingTypeDescriptor& descriptor);
std::int32_t EnumFromBinding(BindingProperty& result, const HostValueInput& input, std::string_view name,
                             const BindingTypeDescriptor& descriptor);
// Fills the native struct at `object` field by field in registration order.
// The field named `skipped`, if any, is left alone: its caller reads it on
// its own.
void StructFromBinding(BindingProperty& result, const BindingNode& input, std::string_view name, void* object,
                       const BindingTypeDescriptor* descriptor, const BindingRegistry& registry,
                       std::string_view skipped = {});
void StructFromBinding(BindingProperty& result, const HostValueInput& input, std::string_view name, void* object,
                       const BindingTypeDescriptor* descriptor, const BindingRegistry& registry,
                       std::string_view skipped = {});

// ---- From native values ---------------------------------------------------

// Values are written straight into `out`, a node of `result`'s tree (or
// `result` itself), so a nested value is built once, in place, instead of
// in a tree of its own that is then copied into its parent. A failure goes
// to `result`; it releases the whole tree, `out` included.
void StructToBinding(BindingNode& out, BindingProperty& result, const void* object,
                     const BindingTypeDescriptor* descriptor, const BindingRegistry& registry);

// Writes `out` as BindingToHostValue would write the tree StructToBinding
// builds, in `arena` and borrowing the struct's texts; true when that tree
// would read as a default (no fields).
bool StructToHostValue(HostValue& out, HostValueArena& arena, BindingProperty& result, const void* object,
                       const BindingTypeDescriptor* descriptor, const BindingRegistry& registry);

// Whether a tree reads as a field's default: Empty, false, zero, or nothing
// in it.
bool IsDefaultValue(const BindingNode& node);

// A scalar as the tree would hold it and the core would receive it.
inline bool ScalarToHostValue(HostValue& out, HostValueKind kind, std::uint64_t bits) {
  out.kind = kind;
  std::memcpy(&out.u, &bits, sizeof bits);
  return bits == 0;
}

// ---- Per native type ------------------------------------------------------
// Each conversion also writes the core's value straight from the native one
// (ToHost), with the result its tree would give; it returns whether that
// tree would read as a default, for fields skipped when default.
// `descriptor` is the registered type of an enum or struct (or of a vector's
// or optional's element); when null it is looked up in the registry.

template <typename T, typename = void>
struct NativeConversion;

namespace Detail {
template <typename T>
const BindingTypeDescriptor* DescriptorOf(const BindingTypeDescriptor* given, const BindingRegistry& registry) {
  return given ? given : registry.FindType(TypeIdentity::Of<T>());
}
}  // namespace Detail

template <>
struct NativeConversion<bool> {
  template <typename Input>
  static void From(BindingProperty& result, const Input& input, std::string_view name, bool& out,
                   const BindingTypeDescriptor*, const BindingRegistry&) {
    out = BoolFromBinding(result, input, name);
  }
  static void To(BindingNode& out, BindingProperty&, bool value, const BindingTypeDescriptor*, const BindingRegistry&) {
    out.SetBool(value);
  }
  static bool ToHost(HostValue& out, HostValueArena&, BindingProperty&, bool value, const BindingTypeDescriptor*,
                     const BindingRegistry&) {
    out.kind = HostValueKind_Bool;
    out.u.boolean = value ? 1 : 0;
    return !value;
  }
};

template <std::integral T>
  requires(!std::same_as<T, bool>)
struct NativeConversion<T> {
  template <typename Input>
  static void From(BindingProperty& result, const Input& input, std::string_view name, T& out,
                   const BindingTypeDescriptor*, const BindingRegistry&) {
    const char* typeName = BindingTypeCodeName(IntegerTypeCode<T>());
    if constexpr (std::is_signed_v<T>) {
      out = static_cast<T>(SignedFromBinding(result, input, name, std::numeric_limits<T>::min(),
                                             std::numeric_limits<T>::max(), typeName));
    } else {
      out = static_cast<T>(UnsignedFromBinding(result, input, name, std::numeric_limits<T>::max(), typeName));
    }
  }
  static void To(BindingNode& out, BindingProperty&, T value, const BindingTypeDescriptor*, const BindingRegistry&) {
    if constexpr (std::is_signed_v<T>) {
      out.SetSigned(static_cast<std::int64_t>(value));
    } else {
      out.SetUnsigned(static_cast<std::uint64_t>(value));
    }
  }
  static bool ToHost(HostValue& out, HostValueArena&, BindingProperty&, T value, const BindingTypeDescriptor*,
                     const BindingRegistry&) {
    if constexpr (std::is_signed_v<T>)
      return ScalarToHostValue(out, HostValueKind_Int64, std::uint64_t(static_cast<std::int64_t>(value)));
    else
      return ScalarToHostValue(out, HostValueKind_UInt64, static_cast<std::uint64_t>(value));
  }
};

template <std::floating_point T>
struct NativeConversion<T> {
  template <typename Input>
  static void From(BindingProperty& result, const Input& input, std::string_view name, T& out,
                   const BindingTypeDescriptor*, const BindingRegistry&) {
    out = static_cast<T>(DoubleFromBinding(result, input, name, double(std::numeric_limits<T>::max()),
                                           std::is_same_v<T, float> ? "float" : "double"));
  }
  static void To(BindingNode& out, BindingProperty&, T value, const BindingTypeDescriptor*, const BindingRegistry&) {
    out.SetFloat(double(value));
  }
  static bool ToHost(HostValue& out, HostValueArena&, BindingProperty&, T value, const BindingTypeDescriptor*,
                     const BindingRegistry&) {
    out.kind = HostValueKind_Double;
    out.u.number = double(value);
    return double(value) == 0.0;
  }
};

template <>
struct NativeConversion<std::string> {
  template <typename Input>
  static void From(BindingProperty& result, const Input& input, std::string_view name, std::string& out,
                   const BindingTypeDescriptor*, const BindingRegistry& registry) {
    out = TextFromBinding(result, input, name, &registry);
  }
  static void To(BindingNode& out, BindingProperty&, const std::string& value, const BindingTypeDescriptor*,
                 const BindingRegistry&) {
    out.SetString(value);
  }
  static bool ToHost(HostValue& out, HostValueArena&, BindingProperty&, const std::string& value,
                     const BindingTypeDescriptor*, const BindingRegistry&) {
    if (value.size() > 0xFFFFFFFFu) throw std::length_error("string too long");
    out.kind = HostValueKind_BorrowedString;
    out.u.string.data = value.c_str();
    out.u.string.length = static_cast<std::uint32_t>(value.size());
    return value.empty();
  }
};

template <>
struct NativeConversion<BindingProperty> {
  static void From(BindingProperty& result, const BindingNode& input, std::string_view, BindingProperty& out,
                   const BindingTypeDescriptor*, const BindingRegistry&) {
    if (!result.IsValid()) return;
    out = input;  // a copy, made valid
  }
  // The tree is built once, in place. The value passed HostValueConvertible.
  static void From(BindingProperty& result, const HostValueInput& input, std::string_view name, BindingProperty& out,
                   const BindingTypeDescriptor*, const BindingRegistry&) {
    if (!result.IsValid()) return;
    out.Clear();
    std::string error;
    HostValueToBinding(input.Value(), out, name, error);
  }
  static void To(BindingNode& out, BindingProperty&, const BindingProperty& value, const BindingTypeDescriptor*,
                 const BindingRegistry&) {
    out = static_cast<const BindingNode&>(value);
  }
  static bool ToHost(HostValue& out, HostValueArena& arena, BindingProperty&, const BindingProperty& value,
                     const BindingTypeDescriptor*, const BindingRegistry& registry) {
    BindingToHostValue(value, out, &registry, HostValueTexts::Borrowed, &arena);
    return IsDefaultValue(value);
  }
};

template <typename E>
  requires std::is_enum_v<E>
struct NativeConversion<E> {
  template <typename Input>
  static void From(BindingProperty& result, const Input& input, std::string_view name, E& out,
                   const BindingTypeDescriptor* descriptor, const BindingRegistry& registry) {
    const BindingTypeDescriptor* type = Detail::DescriptorOf<E>(descriptor, registry);
    if (!type) {
      BindingTypeDescriptor unregistered;
      out = static_cast<E>(EnumFromBinding(result, input, name, unregistered));
      return;
    }
    out = static_cast<E>(EnumFromBinding(result, input, name, *type));
  }
  static void To(BindingNode& out, BindingProperty&, E value, const BindingTypeDescriptor*, const BindingRegistry&) {
    out.SetEnum(EnumValue{static_cast<std::int32_t>(value), &TypeIdentity::Of<E>()});
  }
  static bool ToHost(HostValue& out, HostValueArena&, BindingProperty&, E value, const BindingTypeDescriptor*,
                     const BindingRegistry& registry) {
    const auto number = static_cast<std::int32_t>(value);
    if (const char* name = registry.EnumeratorName(TypeIdentity::Of<E>(), number)) {
      out.kind = HostValueKind_BorrowedString;
      out.u.string.data = name;
      out.u.string.length = static_cast<std::uint32_t>(std::strlen(name));
    } else {
      ScalarToHostValue(out, HostValueKind_Int64, std::uint64_t(std::int64_t(number)));
    }
    return number == 0;  // by number, as the tree holds it
  }
};

template <typename T>
struct NativeConversion<std::optional<T>> {
  template <typename Input>
  static void From(BindingProperty& result, const Input& input, std::string_view name,
                   std::optional<T>& out, const BindingTypeDescriptor* descriptor,
                   const BindingRegistry& registry) {
    if (!result.IsValid() || input.IsEmpty()) return;  // no value is no failure
    T value{};
    NativeConversion<T>::From(result, input, name, value, descriptor, registry);
    if (result.IsValid()) out = std::move(value);
  }
  static void To(BindingNode& out, BindingProperty& result, const std::optional<T>& value,
                 const BindingTypeDescriptor* descriptor, const BindingRegistry& registry) {
    if (value) NativeConversion<T>::To(out, result, *value, descriptor, registry);
  }
  static bool ToHost(HostValue& out, HostValueArena& arena, BindingProperty& result, const std::optional<T>& value,
                     const BindingTypeDescriptor* descriptor, const BindingRegistry& registry) {
    if (!value) return true;  // Null
    return NativeConversion<T>::ToHost(out, arena, result, *value, descriptor, registry);
  }
};

void VectorNotACollection(BindingProperty& result, std::string_view name);

template <typename T, typename A>
struct NativeConversion<std::vector<T, A>> {
  template <typename Input>
  static void From(BindingProperty& result, const Input& input, std::string_view name,
                   std::vector<T, A>& out, const BindingTypeDescriptor* descriptor,
                   const BindingRegistry& registry) {
    out.clear();
    if (!result.IsValid()) return;
    if (input.GetKind() != BindingKind::Collection) return VectorNotACollection(result, name);
    const std::uint32_t size = input.Size();
    out.resize(size);
    for (std::uint32_t i = 0; i < size && result.IsValid(); ++i) {
      const auto& element = input.At(i);
      if (!element.IsEmpty()) NativeConversion<T>::From(result, element, name, out[i], descriptor, registry);
    }
  }
  static void To(BindingNode& out, BindingProperty& result, const std::vector<T, A>& value,
                 const BindingTypeDescriptor* descriptor, const BindingRegistry& registry) {
    out.MakeCollection();
    out.Reserve(value.size());
    // Each element is written in place; after a failure `out` may be gone
    // with the rest of `result`'s tree, so nothing touches it again.
    for (std::size_t i = 0; i < value.size(); ++i) {
      NativeConversion<T>::To(out.At(static_cast<std::uint32_t>(i)), result, value[i], descriptor, registry);
      if (!result.IsValid()) return;
    }
  }
  static bool ToHost(HostValue& out, HostValueArena& arena, BindingProperty& result, const std::vector<T, A>& value,
                     const BindingTypeDescriptor* descriptor, const BindingRegistry& registry) {
    if (value.size() > BindingNode::kMaxElements) throw std::length_error("vector<T> too long");
    const auto count = static_cast<std::uint32_t>(value.size());
    HostValue* items = arena.Items(count);
    out.kind = HostValueKind_Array;
    out.u.array.items = items;
    out.u.array.count = count;
    for (std::uint32_t i = 0; i < count && result.IsValid(); ++i)
      NativeConversion<T>::ToHost(items[i], arena, result, value[i], descriptor, registry);
    return count == 0;
  }
};

// Bytes travel as a Blob.
template <>
struct NativeConversion<std::vector<std::uint8_t>> {
  static void From(BindingProperty& result, const BindingNode& input, std::string_view name,
                   std::vector<std::uint8_t>& out, const BindingTypeDescriptor*, const BindingRegistry&);
  static void From(BindingProperty& result, const HostValueInput& input, std::string_view name,
                   std::vector<std::uint8_t>& out, const BindingTypeDescriptor*, const BindingRegistry&);
  static void To(BindingNode& out, BindingProperty&, const std::vector<std::uint8_t>& value,
                 const BindingTypeDescriptor*, const BindingRegistry&) {
    out.SetBlob(std::span<const std::uint8_t>(value));
  }
  static bool ToHost(HostValue& out, HostValueArena&, BindingProperty&, const std::vector<std::uint8_t>& value,
                     const BindingTypeDescriptor*, const BindingRegistry&) {
    if (value.size() > 0xFFFFFFFFu) throw std::length_error("blob too long");
    out.kind = HostValueKind_BorrowedBytes;
    out.u.bytes.data = value.empty() ? nullptr : value.data();
    out.u.bytes.size = static_cast<std::uint32_t>(value.size());
    return value.empty();
  }
};

// Registered structs.
template <typename S>
  requires std::is_class_v<S>
struct NativeConversion<S> {
  template <typename Input>
  static void From(BindingProperty& result, const Input& input, std::string_view name, S& out,
                   const BindingTypeDescriptor* descriptor, const BindingRegistry& registry) {
    StructFromBinding(result, input, name, &out, Detail::DescriptorOf<S>(descriptor, registry), registry);
  }
  static void To(BindingNode& out, BindingProperty& result, const S& value, const BindingTypeDescriptor* descriptor,
                 const BindingRegistry& registry) {
    StructToBinding(out, result, &value, Detail::DescriptorOf<S>(descriptor, registry), registry);
  }
  static bool ToHost(HostValue& out, HostValueArena& arena, BindingProperty& result, const S& value,
                     const BindingTypeDescriptor* descriptor, const BindingRegistry& registry) {
    return StructToHostValue(out, arena, result, &value, Detail::DescriptorOf<S>(descriptor, registry), registry);
  }
};

// ---- Entry points ---------------------------------------------------------

template <typename T>
T FromBinding(BindingProperty& result, const BindingNode& input, std::string_view name,
              const BindingRegistry& registry) {
  T value{};
  if (result.IsValid()) NativeConversion<T>::From(result, input, name, value, nullptr, registry);
  return value;
}

// Straight from a core's value that passed HostValueConvertible, with the
// result converting its tree would give.
template <typename T>
T FromBinding(BindingProperty& result, const HostValueInput& input, std::string_view name,
              const BindingRegistry& registry) {
  T value{};
  if (result.IsValid()) NativeConversion<T>::From(result, input, name, value, nullptr, registry);
  return value;
}

template <typename T>
BindingProperty ToBinding(const T& value, const BindingRegistry& registry) {
  BindingProperty result;
  NativeConversion<T>::To(result, result, value, nullptr, registry);
  return result;
}

// The field converter that registration attaches to a field of type T.
template <typename T>
class NativeFieldConverter final : public BindingFieldConverter {
 public:
  void FromBinding(BindingProperty& result, void* field, const BindingNode& input, std::string_view fieldName,
                   const BindingTypeDescriptor* descriptor, const BindingRegistry& registry,
                   std::uint32_t) const override {
    NativeConversion<T>::From(result, input, fieldName, *static_cast<T*>(field), descriptor, registry);
  }
  void FromHostValue(BindingProperty& result, void* field, const HostValueInput& input, std::string_view fieldName,
                     const BindingTypeDescriptor* descriptor, const BindingRegistry& registry) const override {
    NativeConversion<T>::From(result, input, fieldName, *static_cast<T*>(field), descriptor, registry);
  }
  bool ToHostValue(HostValue& out, HostValueArena& arena, BindingProperty& result, const void* field,
                   const BindingTypeDescriptor* descriptor, const BindingRegistry& registry) const override {
    return NativeConversion<T>::ToHost(out, arena, result, *static_cast<const T*>(field), descriptor, registry);
  }
  void ToBinding(BindingNode& out, BindingProperty& result, const void* field, const BindingTypeDescriptor* descriptor,
                 const BindingRegistry& registry) const override {
    NativeConversion<T>::To(out, result, *static_cast<const T*>(field), descriptor, registry);
  }
};

}  // namespace Vexa
