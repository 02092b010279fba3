// The registration style for native structs and enums: one line per field,
// the field's type, identity, optional mark and offset all taken from the
// member pointer, so a list of hundreds of types stays short and cannot
// drift from the structs it describes:
//
//   RegisterStruct<LCDS::GameDTO>(registry, "ChampSelectLcdsGameDTO")
//       .Field("id", &LCDS::GameDTO::id)
//       .Field("gameState", &LCDS::GameDTO::gameState);
//
//   RegisterEnum<Api::Phase>(registry, "ChampSelectPhase")
//       .Value("PLANNING", Api::Phase::PLANNING)
//       .Value("FINALIZATION", Api::Phase::FINALIZATION);
//
// Nested structs and enums are registered before the types that use them,
// so that a field's descriptor can be looked up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "binding/conversion.h"
#include "binding/registry.h"

namespace Vexa {

// Every field gets the native conversion of its type.
template <typename T>
struct BindingFieldConverterFactory {
  static std::unique_ptr<BindingFieldConverter> Make() { return std::make_unique<NativeFieldConverter<T>>(); }
};

namespace Detail {

template <typename T>
struct Unwrapped {
  using Type = T;
  static constexpr bool kOptional = false;
};
template <typename T>
struct Unwrapped<std::optional<T>> {
  using Type = T;
  static constexpr bool kOptional = true;
};

template <typename T>
struct ContainerOf {
  static constexpr bool kVector = false;
  static constexpr bool kMap = false;
};
template <typename T, typename A>
struct ContainerOf<std::vector<T, A>> {
  using Element = T;
  static constexpr bool kVector = true;
  static constexpr bool kMap = false;
};
template <typename T, typename C, typename A>
struct ContainerOf<std::map<std::string, T, C, A>> {
  using Element = T;
  static constexpr bool kVector = false;
  static constexpr bool kMap = true;
};


}  // namespace Detail

// The code of a native type, an optional value counting as its inner type.
// Specialise it for handle types, such as a callback handle.
template <typename T>
struct BindingTypeCodeFor {
  using Inner = typename Detail::Unwrapped<std::remove_cv_t<T>>::Type;
  static constexpr BindingTypeCode value = [] {
    if constexpr (!std::is_same_v<Inner, std::remove_cv_t<T>>) return BindingTypeCodeFor<Inner>::value;
    else if constexpr (std::is_same_v<Inner, bool>) return BindingTypeCode::Bool;
    else if constexpr (std::is_integral_v<Inner>) return IntegerTypeCode<Inner>();
    else if constexpr (std::is_same_v<Inner, float>) return BindingTypeCode::Float;
    else if constexpr (std::is_same_v<Inner, double>) return BindingTypeCode::Double;
    else if constexpr (std::is_same_v<Inner, std::string>) return BindingTypeCode::String;
    else if constexpr (std::is_same_v<Inner, BindingProperty>) return BindingTypeCode::Object;
    else if constexpr (std::is_same_v<Inner, std::vector<std::uint8_t>>) return BindingTypeCode::Blob;
    else if constexpr (Detail::ContainerOf<Inner>::kVector) return BindingTypeCode::Vector;
    else if constexpr (Detail::ContainerOf<Inner>::kMap) return BindingTypeCode::Map;
    else if constexpr (std::is_enum_v<Inner>) return BindingTypeCode::Enum;
    else if constexpr (std::is_class_v<Inner>) return BindingTypeCode::Struct;
    else return BindingTypeCode::None;
  }();
};

// The TypeIdentifier of a native type; a struct or enum (or such an
// element) is looked up in `registry`, and stays null when not registered.
template <typename T>
TypeIdentifier TypeIdentifierFor(const BindingRegistry& registry) {
  using Inner = typename Detail::Unwrapped<std::remove_cv_t<T>>::Type;
  constexpr BindingTypeCode code = BindingTypeCodeFor<Inner>::value;
  TypeIdentifier identifier{code, BindingTypeCode::None, nullptr};
  if constexpr (code == BindingTypeCode::Vector || code == BindingTypeCode::Map) {
    using Element = typename Detail::ContainerOf<Inner>::Element;
    const TypeIdentifier element = TypeIdentifierFor<Element>(registry);
    identifier.elementCode = element.code;
    if (element.code == BindingTypeCode::Enum || element.code == BindingTypeCode::Struct) {
      identifier.descriptor = element.descriptor;
    }
  } else if constexpr (code == BindingTypeCode::Enum || code == BindingTypeCode::Struct) {
    identifier.descriptor = registry.FindType(TypeIdentity::Of<Inner>());
  }
  return identifier;
}

// The element of a Vector or Map field, so that nested containers keep their
// whole shape; all zero otherwise.
template <typename T>
TypeIdentifier ElementTypeIdentifierFor(const BindingRegistry& registry) {
  using Inner = typename Detail::Unwrapped<std::remove_cv_t<T>>::Type;
  if constexpr (Detail::ContainerOf<Inner>::kVector || Detail::ContainerOf<Inner>::kMap) {
    if constexpr (BindingTypeCodeFor<Inner>::value != BindingTypeCode::Blob) {
      return TypeIdentifierFor<typename Detail::ContainerOf<Inner>::Element>(registry);
    }
  }
  return {};
}

template <typename T>
class StructRegistration {
  static_assert(std::is_class_v<T>, "RegisterStruct takes a struct or class");

 public:
  StructRegistration(BindingRegistry& registry, std::string_view name)
      : registry_(registry),
        builder_(registry.RegisterType(static_cast<std::uint32_t>(sizeof(T)), name, TypeIdentity::Of<T>(), false)) {}

  // Plain fields and optional fields alike; the field may be a member of a
  // base of T.
  template <typename M, typename C>
  // `flags` are BindingFieldFlag bits (required on input, skipped on output
  // when default); no field of this plug-in sets them.
  StructRegistration& Field(std::string_view name, M C::*member, std::string_view description = {},
                            std::uint32_t flags = 0) {
    static_assert(std::is_base_of_v<C, T>, "the member must belong to the registered type");
    if (builder_.IsInert()) return *this;
    builder_.AddField(name, description, OffsetOf(static_cast<M T::*>(member)), TypeIdentity::Of<M>(),
                      TypeIdentifierFor<M>(registry_), ElementTypeIdentifierFor<M>(registry_), flags,
                      BindingFieldConverterFactory<M>::Make(), Detail::Unwrapped<M>::kOptional);
    return *this;
  }
  StructRegistration& Description(std::string_view text) {
    builder_.SetDescription(text);
    return *this;
  }
  StructRegistration& Namespace(std::string_view text) {
    builder_.SetNamespace(text);
    return *this;
  }
  // Up to four tag slots; empty ones are skipped.
  StructRegistration& Tags(std::string_view a, std::string_view b = {}, std::string_view c = {},
                           std::string_view d = {}) {
    builder_.AddTag(a).AddTag(b).AddTag(c).AddTag(d);
    return *this;
  }
  BindingTypeBuilder& Builder() noexcept { return builder_; }

 private:
  // Measured on a real object, so it is exact for any layout the compiler
  // picks, including types that offsetof does not support.
  template <typename M>
  std::uint32_t OffsetOf(M T::*member) {
    if (!sample_) sample_.emplace();
    const T& object = *sample_;
    const auto* base = reinterpret_cast<const unsigned char*>(std::addressof(object));
    const auto* field = reinterpret_cast<const unsigned char*>(std::addressof(object.*member));
    return static_cast<std::uint32_t>(field - base);
  }

  BindingRegistry& registry_;
  BindingTypeBuilder builder_;
  std::optional<T> sample_;
};

template <typename E>
class EnumRegistration {
  static_assert(std::is_enum_v<E>, "RegisterEnum takes an enum");

 public:
  EnumRegistration(BindingRegistry& registry, std::string_view name)
      : builder_(registry.RegisterType(static_cast<std::uint32_t>(sizeof(E)), name, TypeIdentity::Of<E>(), true)) {}

  EnumRegistration& Value(std::string_view name, E value, std::string_view description = {}) {
    builder_.AddEnumerator(name, static_cast<std::int32_t>(value), description);
    return *this;
  }
  EnumRegistration& Description(std::string_view text) {
    builder_.SetDescription(text);
    return *this;
  }
  EnumRegistration& Namespace(std::string_view text) {
    builder_.SetNamespace(text);
    return *this;
  }
  EnumRegistration& Tags(std::string_view a, std::string_view b = {}, std::string_view c = {},
                         std::string_view d = {}) {
    builder_.AddTag(a).AddTag(b).AddTag(c).AddTag(d);
    return *this;
  }
  BindingTypeBuilder& Builder() noexcept { return builder_; }

 private:
  BindingTypeBuilder builder_;
};

template <typename T>
StructRegistration<T> RegisterStruct(BindingRegistry& registry, std::string_view name) {
  return StructRegistration<T>(registry, name);
}

template <typename E>
EnumRegistration<E> RegisterEnum(BindingRegistry& registry, std::string_view name) {
  return EnumRegistration<E>(registry, name);
}

}  // namespace Vexa
