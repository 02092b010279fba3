// The registry of struct, enum, function and event descriptors through which
// native values become `BindingProperty` trees and back, and from which the
// API help is built.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "binding/type_identity.h"
#include "os/lock.h"

struct HostValue;

namespace Vexa {

class BindingProperty;
class BindingNode;
class BindingRegistry;
class HostValueArena;
class HostValueInput;
struct BindingTypeDescriptor;

// The type of a field, argument or return value.
enum class BindingTypeCode : std::uint32_t {
  None = 0,
  Bool = 1,
  Int8 = 2,
  UInt8 = 3,
  Int16 = 4,
  UInt16 = 5,
  Int32 = 6,
  UInt32 = 7,
  Int64 = 8,
  UInt64 = 9,
  Float = 10,
  Double = 11,
  String = 12,
  Object = 13,  // a whole BindingProperty of any kind
  Blob = 14,
  Vector = 15,
  Enum = 16,
  Struct = 17,
  Callback = 18,
  Map = 19,  // from text to an element type
};

// "bool", "int8", ... "map"; an empty text for any other code.
const char* BindingTypeCodeName(BindingTypeCode code) noexcept;

// The code of a native integer type by its width and signedness.
template <typename T>
constexpr BindingTypeCode IntegerTypeCode() {
  constexpr bool s = std::is_signed_v<T>;
  switch (sizeof(T)) {
    case 1: return s ? BindingTypeCode::Int8 : BindingTypeCode::UInt8;
    case 2: return s ? BindingTypeCode::Int16 : BindingTypeCode::UInt16;
    case 4: return s ? BindingTypeCode::Int32 : BindingTypeCode::UInt32;
    case 8: return s ? BindingTypeCode::Int64 : BindingTypeCode::UInt64;
    default: return BindingTypeCode::None;
  }
}

// A reference to a type: (Vector, String, null) is a vector of text,
// (Vector, Struct, S) a vector of the registered struct S.
struct TypeIdentifier {
  BindingTypeCode code = BindingTypeCode::None;
  BindingTypeCode elementCode = BindingTypeCode::None;  // for Vector and Map
  const BindingTypeDescriptor* descriptor = nullptr;    // for Enum and Struct, or such an element

  friend bool operator==(const TypeIdentifier&, const TypeIdentifier&) = default;
};

// Converts one native field type; one small object per registered field.
class BindingFieldConverter {
 public:
  // Writes the native field from `input`, or makes `result` a failure.
  virtual void FromBinding(BindingProperty& result, void* field, const BindingNode& input,
                           std::string_view fieldName, const BindingTypeDescriptor* descriptor,
                           const BindingRegistry& registry, std::uint32_t flags) const = 0;
  // The same from a core's value that passed HostValueConvertible.
  virtual void FromHostValue(BindingProperty& result, void* field, const HostValueInput& input,
                             std::string_view fieldName, const BindingTypeDescriptor* descriptor,
                             const BindingRegistry& registry) const = 0;
  // Writes `out` from the native field as BindingToHostValue would write
  // its tree, borrowing texts from the field; a failure goes to `result`.
  // True when the tree would read as a default.
  virtual bool ToHostValue(HostValue& out, HostValueArena& arena, BindingProperty& result, const void* field,
                           const BindingTypeDescriptor* descriptor, const BindingRegistry& registry) const = 0;
  // Writes `out`, a node of `result`'s tree, from the native field; a
  // failure goes to `result`.
  virtual void ToBinding(BindingNode& out, BindingProperty& result, const void* field,
                         const BindingTypeDescriptor* descriptor, const BindingRegistry& registry) const = 0;
  virtual ~BindingFieldConverter() = default;
};

enum BindingFieldFlag : std::uint32_t {
  kSkipDefaultOnOutput = 1,
  kRequiredOnInput = 2,
};

struct BindingFieldDescriptor {
  std::string name;
  std::uint32_t nameHash = 0;  // FNV-1a of name
  std::string description;
  const TypeIdentity* identity = nullptr;
  std::uint32_t offset = 0;  // inside the native struct
  TypeIdentifier type;
  TypeIdentifier elementType;  // the element of a Vector or Map field, else all zero
  std::uint32_t flags = 0;
  std::unique_ptr<BindingFieldConverter> converter;
  const BindingTypeDescriptor* owner = nullptr;
  bool optional = false;  // the native field may hold no value
};

struct BindingEnumerator {
  std::int32_t value = 0;
  std::string name;
  std::string description;
};

// One registered struct or enum; owned by the registry, never moved.
struct BindingTypeDescriptor {
  std::uint32_t nativeSize = 0;
  bool isEnum = false;
  std::string name;
  std::uint32_t id = 0;
  const TypeIdentity* identity = nullptr;
  std::string nameSpace;
  std::string description;
  std::vector<std::string> tags;
  std::map<std::string, BindingEnumerator, std::less<>> enumerators;
  std::vector<BindingFieldDescriptor> fields;  // in registration order
  // Each field's place among the fields in name order (unsigned bytes), the
  // order a tree keeps them in; `repeatedNames` when two fields share one.
  std::vector<std::uint32_t> nameRanks;
  bool repeatedNames = false;
  BindingRegistry* owner = nullptr;
};

struct BindingArgumentDescriptor {
  std::string name;
  std::uint32_t nameHash = 0;
  std::string description;
  bool optional = false;
  TypeIdentifier type;
};

struct BindingFunctionDescriptor {
  std::string name;
  std::string nameSpace;
  std::vector<BindingArgumentDescriptor> arguments;
  TypeIdentifier returnType;
  std::string description;
  std::string help;
  std::vector<std::string> tags;
  bool threadSafe = false;
  bool async = false;
};

struct BindingEventDescriptor {
  std::string name;
  TypeIdentifier payloadType;
  std::string description;
  std::vector<std::string> tags;
};

// Fills the descriptor that RegisterType created. A builder for a name that
// was already registered is inert: every call does nothing, so registering
// the same list twice is harmless and the first registration wins.
class BindingTypeBuilder {
 public:
  BindingTypeBuilder() = default;  // inert

  bool IsInert() const noexcept { return inert_; }
  BindingTypeDescriptor* Descriptor() const noexcept { return inert_ ? nullptr : descriptor_; }
  BindingRegistry* Registry() const noexcept { return registry_; }
  std::uint32_t LastOffset() const noexcept { return lastOffset_; }

  BindingTypeBuilder& AddField(std::string_view name, std::string_view description, std::uint32_t offset,
                               const TypeIdentity& identity, TypeIdentifier type, TypeIdentifier elementType,
                               std::uint32_t flags, std::unique_ptr<BindingFieldConverter> converter,
                               bool optional);
  // Enters or replaces the enumerator of that name.
  BindingTypeBuilder& AddEnumerator(std::string_view name, std::int32_t value, std::string_view description);
  BindingTypeBuilder& SetDescription(std::string_view description);
  BindingTypeBuilder& SetNamespace(std::string_view nameSpace);
  // An empty tag is skipped, so callers may pass fixed tag slots.
  BindingTypeBuilder& AddTag(std::string_view tag);

 private:
  friend class BindingRegistry;
  BindingTypeBuilder(BindingRegistry* registry, BindingTypeDescriptor* descriptor, bool inert)
      : registry_(registry), descriptor_(descriptor), inert_(inert) {}
  void RankByName();

  BindingRegistry* registry_ = nullptr;
  BindingTypeDescriptor* descriptor_ = nullptr;
  std::uint32_t lastOffset_ = 0;
  bool inert_ = true;
};

// One per plug-in. Every map is read and written under one lock; returned
// descriptors stay valid until their name is replaced or removed, or the
// registry is cleared.
class BindingRegistry {
 public:
  BindingRegistry() = default;
  BindingRegistry(const BindingRegistry&) = delete;
  BindingRegistry& operator=(const BindingRegistry&) = delete;

  // First registration of a name wins; a later one gets an inert builder.
  // The placeholder identity enters the type by name only, and so does an
  // identity whose id another name already holds.
  BindingTypeBuilder RegisterType(std::uint32_t nativeSize, std::string_view name, const TypeIdentity& identity,
                                  bool isEnum);
  // Replaces any earlier function of the same name.
  void RegisterFunction(BindingFunctionDescriptor function);

  struct EventRegistration {
    const BindingEventDescriptor* event;
    bool alreadyRegistered;  // `event` is the earlier descriptor, unchanged
  };
  EventRegistration RegisterEvent(std::string_view name, TypeIdentifier payloadType,
                                  std::string_view description = {}, std::vector<std::string> tags = {});
  bool UnregisterEvent(std::string_view name);
  // Removes every type, function and event.
  void Clear();

  const BindingTypeDescriptor* FindType(const TypeIdentity& identity) const;
  const BindingTypeDescriptor* FindTypeByName(std::string_view name) const;
  const BindingFunctionDescriptor* FindFunction(std::string_view name) const;
  const BindingEventDescriptor* FindEvent(std::string_view name) const;
  // (Enum or Struct, None, descriptor), or all zero for an unregistered identity.
  TypeIdentifier TypeIdentifierOf(const TypeIdentity& identity) const;
  // Null when the type or the value is unknown.
  const char* EnumeratorName(const TypeIdentity& identity, std::int32_t value) const;
  static bool HasEnumerator(const BindingTypeDescriptor& descriptor, std::int32_t value) noexcept;

  // Copies taken under the lock, in name order.
  std::vector<BindingFunctionDescriptor> Functions() const;
  std::vector<const BindingTypeDescriptor*> Types() const;
  std::vector<BindingEventDescriptor> Events() const;
  // Raised by every RegisterFunction, so API help can tell it is stale.
  std::uint32_t FunctionChanges() const;

 private:
  mutable Os::Lock lock_;
  std::map<std::string, BindingFunctionDescriptor, std::less<>> functions_;
  std::uint32_t functionChanges_ = 0;
  std::map<std::string, BindingEventDescriptor, std::less<>> events_;
  std::map<std::string, std::unique_ptr<BindingTypeDescriptor>, std::less<>> typesByName_;
  std::unordered_map<std::uint32_t, const BindingTypeDescriptor*> typesById_;
};

}  // namespace Vexa
