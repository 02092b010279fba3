// The identity and the name of a native type at run time.
#pragma once

#include <cstdint>
#include <type_traits>

#include "binding/fnv1a.h"

namespace Vexa {

class BindingProperty;

namespace StaticType {

// This compiler's own signature text of the instantiation, for naming a type
// in a log message, e.g. with GCC
// "constexpr const char* Vexa::StaticType::Name() [with T = Vexa::BindingProperty]".
template <typename T>
constexpr const char* Name() noexcept {
  return __PRETTY_FUNCTION__;
}

}  // namespace StaticType

// Types named in log messages by their signature text instead of "#%08X".
template <typename T>
inline constexpr bool kNamedBySignature = false;
template <>
inline constexpr bool kNamedBySignature<bool> = true;
template <>
inline constexpr bool kNamedBySignature<BindingProperty> = true;

// A type whose identity peers rely on gets its id fixed here instead of
// hashed from its signature: specialise with the 32-bit value.
template <typename T>
inline constexpr std::uint32_t kFixedTypeId = 0;

// One record per native type, created on first use and never freed. The id
// is the FNV-1a hash of the type's signature text, so it is a constant of
// the build, the same in every run. Two types whose ids collide would let
// one type's descriptor be applied to the other's memory, so the first use
// of the second one ends the process with a message naming both.
class TypeIdentity {
 public:
  // Reserved for types that the registry knows by name only.
  static constexpr std::uint32_t kPlaceholderId = 0;

  template <typename T>
  static const TypeIdentity& Of() noexcept {
    return Record<std::remove_cvref_t<T>>();
  }
  static const TypeIdentity& Placeholder() noexcept;

  template <typename T>
  static constexpr std::uint32_t IdOf() noexcept {
    if constexpr (kFixedTypeId<std::remove_cvref_t<T>> != 0) return kFixedTypeId<std::remove_cvref_t<T>>;
    const std::uint32_t hash = Fnv1a32(StaticType::Name<std::remove_cvref_t<T>>());
    return hash == kPlaceholderId ? 1 : hash;
  }

  std::uint32_t Id() const noexcept { return id_; }
  // "#" and the id in eight uppercase hexadecimal digits, or the signature
  // text for the kNamedBySignature types.
  const char* Name() const noexcept { return name_; }

  TypeIdentity(const TypeIdentity&) = delete;
  TypeIdentity& operator=(const TypeIdentity&) = delete;

 private:
  TypeIdentity(std::uint32_t id, const char* signature, bool namedBySignature) noexcept;

  template <typename U>
  static const TypeIdentity& Record() noexcept {
    static constexpr std::uint32_t kId = IdOf<U>();
    static const TypeIdentity identity(kId, StaticType::Name<U>(), kNamedBySignature<U>);
    return identity;
  }

  std::uint32_t id_;
  const char* name_;
  char hexName_[10];  // "#", eight digits, NUL
};

}  // namespace Vexa
