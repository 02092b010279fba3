#include "binding/conversion.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <optional>
#include <vector>
#include <cstdlib>

#include "binding/saturate.h"
#include "binding/message_format.h"

namespace Vexa {
namespace {

// One place for every message of the conversions.
void Required(BindingProperty& result, std::string_view name) {
  result.SetFailure(Format("A value for '%1' is required.", name));
}
void InvalidType(BindingProperty& result, std::string_view name, const char* typeName, BindingKind kind) {
  result.SetFailure(Format("Couldn't assign value to '%1' of type %2 because the input is of an invalid type %3.",
                           name, typeName, BindingKindName(kind)));
}
template <typename Value>
void OutOfRange(BindingProperty& result, std::string_view name, const char* typeName, const Value& value) {
  result.SetFailure(Format("Value %1 for '%2' of type %3 is out of range", value, name, typeName));
}
void IncorrectFormat(BindingProperty& result, std::string_view name, const char* typeName, std::string_view text) {
  result.SetFailure(Format("Value %1 for '%2' of type %3 is in an incorrect format", text, name, typeName));
}
template <typename Value>
void NotAnEnumerator(BindingProperty& result, std::string_view name, std::string_view enumName, const Value& value) {
  result.SetFailure(Format("%1 is not a valid %2 enumeration value for '%3'.", value, enumName, name));
}

// The parser needs a terminated text; a text with an embedded NUL stops
// early and so fails as incorrectly formatted.
struct ParsedInteger {
  bool complete;   // parsing reached the end of the text
  bool overflow;   // the parser reported a range error
  std::int64_t signedValue;
  std::uint64_t unsignedValue;
};

ParsedInteger ParseInteger(std::string_view text, bool asUnsigned) {
  const std::string terminated(text);
  char* end = nullptr;
  errno = 0;
  ParsedInteger parsed{};
  if (asUnsigned)
    parsed.unsignedValue = std::strtoull(terminated.c_str(), &end, 0);
  else
    parsed.signedValue = std::strtoll(terminated.c_str(), &end, 0);
  parsed.overflow = errno == ERANGE;
  parsed.complete = end == terminated.c_str() + terminated.size();
  return parsed;
}

// Whether a double may be truncated into [min, max] without leaving the
// range; NaN never may. `max` of 64-bit types is not a double, and its
// nearest double (2^63 or 2^64) is itself out of range.
bool FitsSigned(double v, std::int64_t min, std::int64_t max) {
  return v >= double(min) && (max == std::numeric_limits<std::int64_t>::max() ? v < kTwoTo63 : v <= double(max));
}
bool FitsUnsigned(double v, std::uint64_t max) {
  return v >= 0 && (max == std::numeric_limits<std::uint64_t>::max() ? v < kTwoTo64 : v <= double(max));
}


template <typename Input>
bool BoolFromBindingOf(BindingProperty& result, const Input& input, std::string_view name) {
  if (!result.IsValid()) return false;
  switch (input.GetKind()) {
    case BindingKind::Empty: Required(result, name); return false;
    case BindingKind::Bool: return input.GetBool();
    case BindingKind::String: {
      const std::string_view text = input.GetString();
      if (text == "true" || text == "1") return true;
      if (text == "false" || text == "0") return false;
      result.SetFailure(Format(
          "Value %1 for '%2' of type bool is in an incorrect format. Options are \"true\", \"false\", \"1\", \"0\".",
          text, name));
      return false;
    }
    default:
      result.SetFailure(Format("Couldn't assign value to '%1' of type bool because the input is of an invalid type %2.",
                               name, BindingKindName(input.GetKind())));
      return false;
  }
}

template <typename Input>
std::int64_t SignedFromBindingOf(BindingProperty& result, const Input& input, std::string_view name,
                               std::int64_t min, std::int64_t max, const char* typeName) {
  if (!result.IsValid()) return 0;
  switch (input.GetKind()) {
    case BindingKind::Empty: Required(result, name); return 0;
    case BindingKind::Signed: {
      const std::int64_t v = input.GetSigned();
      if (v >= min && v <= max) return v;
      OutOfRange(result, name, typeName, v);
      return 0;
    }
    case BindingKind::Unsigned: {
      const std::uint64_t v = input.GetUnsigned();
      if (v <= std::uint64_t(max)) return std::int64_t(v);
      OutOfRange(result, name, typeName, v);
      return 0;
    }
    case BindingKind::Float: {
      const double v = input.GetFloat();
      if (FitsSigned(v, min, max)) return std::int64_t(v);
      OutOfRange(result, name, typeName, v);
      return 0;
    }
    case BindingKind::String: {
      const std::string_view text = input.GetString();
      const ParsedInteger parsed = ParseInteger(text, false);
      if (!parsed.complete) {
        IncorrectFormat(result, name, typeName, text);
        return 0;
      }
      if (parsed.overflow || parsed.signedValue < min || parsed.signedValue > max) {
        OutOfRange(result, name, typeName, text);
        return 0;
      }
      return parsed.signedValue;
    }
    case BindingKind::Enum: {
      const std::int64_t v = input.GetEnum().value;
      if (v >= min && v <= max) return v;
      OutOfRange(result, name, typeName, v);
      return 0;
    }
    default: InvalidType(result, name, typeName, input.GetKind()); return 0;
  }
}

template <typename Input>
std::uint64_t UnsignedFromBindingOf(BindingProperty& result, const Input& input, std::string_view name,
                                  std::uint64_t max, const char* typeName) {
  if (!result.IsValid()) return 0;
  switch (input.GetKind()) {
    case BindingKind::Empty: Required(result, name); return 0;
    case BindingKind::Signed: {
      const std::int64_t v = input.GetSigned();
      if (v >= 0 && std::uint64_t(v) <= max) return std::uint64_t(v);
      OutOfRange(result, name, typeName, v);
      return 0;
    }
    case BindingKind::Unsigned: {
      const std::uint64_t v = input.GetUnsigned();
      if (v <= max) return v;
      OutOfRange(result, name, typeName, v);
      return 0;
    }
    case BindingKind::Float: {
      const double v = input.GetFloat();
      if (FitsUnsigned(v, max)) return std::uint64_t(v);
      OutOfRange(result, name, typeName, v);
      return 0;
    }
    case BindingKind::String: {
      const std::string_view text = input.GetString();
      const ParsedInteger parsed = ParseInteger(text, true);
      if (!parsed.complete) {
        IncorrectFormat(result, name, typeName, text);
        return 0;
      }
      if (parsed.overflow || parsed.unsignedValue > max || (!text.empty() && text.front() == '-')) {
        OutOfRange(result, name, typeName, text);
        return 0;
      }
      return parsed.unsignedValue;
    }
    case BindingKind::Enum: {
      const std::int32_t v = input.GetEnum().value;
      if (v >= 0 && std::uint64_t(v) <= max) return std::uint64_t(v);
      OutOfRange(result, name, typeName, v);
      return 0;
    }
    default: InvalidType(result, name, typeName, input.GetKind()); return 0;
  }
}

template <typename Input>
double DoubleFromBindingOf(BindingProperty& result, const Input& input, std::string_view name, double max,
                         const char* typeName) {
  if (!result.IsValid()) return 0;
  switch (input.GetKind()) {
    case BindingKind::Empty: Required(result, name); return 0;
    case BindingKind::Signed: return double(input.GetSigned());
    case BindingKind::Unsigned: return double(input.GetUnsigned());
    case BindingKind::Float: {
      const double v = input.GetFloat();
      if (v < -max || v > max) {
        OutOfRange(result, name, typeName, v);
        return 0;
      }
      return v;
    }
    case BindingKind::String: {
      const std::string_view text = input.GetString();
      const std::string terminated(text);
      char* end = nullptr;
      errno = 0;
      const double v = std::strtod(terminated.c_str(), &end);
      if (end != terminated.c_str() + terminated.size()) {
        IncorrectFormat(result, name, typeName, text);
        return 0;
      }
      // Underflow also sets the range error, but a tiny number is no overflow.
      const bool overflow = errno == ERANGE && std::isinf(v);
      if (overflow || v < -max || v > max) {
        OutOfRange(result, name, typeName, text);
        return 0;
      }
      return v;
    }
    case BindingKind::Enum: return double(input.GetEnum().value);
    default: InvalidType(result, name, typeName, input.GetKind()); return 0;
  }
}

template <typename Input>
std::string TextFromBindingOf(BindingProperty& result, const Input& input, std::string_view name,
                            const BindingRegistry* registry) {
  if (!result.IsValid()) return {};
  switch (input.GetKind()) {
    case BindingKind::Empty: Required(result, name); return {};
    case BindingKind::String: return std::string(input.GetString());
    case BindingKind::Enum: {
      const EnumValue value = input.GetEnum();
      const char* enumerator =
          registry && value.enumType ? registry->EnumeratorName(*value.enumType, value.value) : nullptr;
      if (enumerator) return enumerator;
      result.SetFailure(Format("%1 is not a valid enumeration value for '%2'.", value.value, name));
      return {};
    }
    default:
      result.SetFailure(Format("Couldn't assign value to '%1' because the input is not a string.", name));
      return {};
  }
}

template <typename Input>
std::int32_t EnumFromBindingOf(BindingProperty& result, const Input& input, std::string_view name,
                             const BindingTypeDescriptor& descriptor) {
  if (!result.IsValid()) return 0;
  auto known = [&](std::int64_t v) { return BindingRegistry::HasEnumerator(descriptor, std::int32_t(v)); };
  switch (input.GetKind()) {
    case BindingKind::Empty: Required(result, name); return 0;
    case BindingKind::Signed:
    case BindingKind::Unsigned:
    case BindingKind::Enum: {
      const std::int64_t wide = input.GetKind() == BindingKind::Enum ? input.GetEnum().value : input.GetInteger();
      const std::int32_t low = std::int32_t(std::uint32_t(std::uint64_t(wide)));  // the low 32 bits
      if (known(low)) return low;
      if (input.GetKind() == BindingKind::Unsigned)
        NotAnEnumerator(result, name, descriptor.name, input.GetUnsigned());
      else
        NotAnEnumerator(result, name, descriptor.name, wide);
      return 0;
    }
    case BindingKind::String: {
      const std::string_view text = input.GetString();
      if (auto it = descriptor.enumerators.find(text); it != descriptor.enumerators.end()) return it->second.value;
      BindingProperty parse;
      const std::int64_t v = SignedFromBinding(parse, input, name, std::numeric_limits<std::int32_t>::min(),
                                               std::numeric_limits<std::int32_t>::max(), descriptor.name.c_str());
      if (parse.IsValid() && known(v)) return std::int32_t(v);
      NotAnEnumerator(result, name, descriptor.name, text);
      return 0;
    }
    default:
      result.SetFailure(Format("Couldn't assign value to '%1' of enum type because the input is of an invalid type %2.",
                               name, BindingKindName(input.GetKind())));
      return 0;
  }
}

// Whether the C string `key` is `name`: a name holding a NUL is no key.
bool KeyIs(const char* key, std::string_view name) noexcept {
  std::size_t at = 0;
  while (at < name.size() && key[at] == name[at] && key[at] != '\0') ++at;
  return at == name.size() && key[at] == '\0';
}

// Each field's member in a core's object, the last of a repeated key, found
// in one pass over the members: they mostly come in the fields' order, so
// the field after the last one found is tried first.
class MemberIndex {
 public:
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

  MemberIndex(const HostValueInput& object, const std::vector<BindingFieldDescriptor>& fields)
      : members_(fields.size() <= kInline ? inline_ : heap_.emplace(fields.size()).data()) {
    const auto count = static_cast<std::uint32_t>(fields.size());
    std::fill(members_, members_ + count, kNone);
    std::uint32_t next = 0;
    for (std::uint32_t member = 0; member < object.MemberCount(); ++member) {
      const char* key = object.KeyAt(member);
      std::uint32_t field = next < count && KeyIs(key, fields[next].name) ? next : count;
      for (std::uint32_t i = 0; field == count && i < count; ++i)
        if (KeyIs(key, fields[i].name)) field = i;
      if (field == count) continue;  // no field of the struct
      members_[field] = member;
      next = field + 1;
    }
  }
  std::uint32_t operator[](std::size_t field) const noexcept { return members_[field]; }

 private:
  static constexpr std::size_t kInline = 64;
  std::uint32_t inline_[kInline];
  std::optional<std::vector<std::uint32_t>> heap_;
  std::uint32_t* members_;
};

template <typename Input>
void StructFromBindingOf(BindingProperty& result, const Input& input, std::string_view name, void* object,
                         const BindingTypeDescriptor* descriptor, const BindingRegistry& registry,
                         std::string_view skipped) {
  if (!result.IsValid()) return;
  if (input.IsEmpty()) return Required(result, name);
  if (!descriptor || descriptor->isEnum)
    return result.SetFailure(Format(
        "Couldn't assign value to '%1' because the input is an unregistered structure or not a structure at all.",
        name));
  if (input.GetKind() != BindingKind::Structure)
    return result.SetFailure(Format("Couldn't assign value to '%1' of type %2 because the input not a structure.",
                                    name, descriptor->name));
  auto* base = static_cast<unsigned char*>(object);
  // Two fields of one name read one member: those look it up each time.
  std::optional<MemberIndex> members;
  if constexpr (std::is_same_v<Input, HostValueInput>) {
    if (!descriptor->repeatedNames) members.emplace(input, descriptor->fields);
  }
  for (std::size_t index = 0; index < descriptor->fields.size(); ++index) {
    const BindingFieldDescriptor& field = descriptor->fields[index];
    if (!result.IsValid()) return;
    if (!skipped.empty() && field.name == skipped) continue;
    const auto& value = [&]() -> decltype(input.Find(field.name)) {
      if constexpr (std::is_same_v<Input, HostValueInput>) {
        if (members) return (*members)[index] == MemberIndex::kNone ? HostValueInput() : input.MemberAt((*members)[index]);
      }
      return input.Find(field.name);
    }();
    if (!value.IsEmpty()) {
      if (!field.converter) continue;
      if constexpr (std::is_same_v<Input, HostValueInput>)
        field.converter->FromHostValue(result, base + field.offset, value, field.name, field.type.descriptor, registry);
      else
        field.converter->FromBinding(result, base + field.offset, value, field.name, field.type.descriptor, registry,
                                     field.flags);
    } else if (field.flags & kRequiredOnInput) {
      return result.SetFailure(Format(
          "Couldn't assign value to '%1' of type %2 because the input structure doesn't have required field '%3'.",
          name, descriptor->name, field.name));
    }
  }
}

bool IsDefaultOf(const BindingNode& node) {
  switch (node.GetKind()) {
    case BindingKind::Empty: return true;
    case BindingKind::Bool: return !node.GetBool();
    case BindingKind::Signed: return node.GetSigned() == 0;
    case BindingKind::Unsigned: return node.GetUnsigned() == 0;
    case BindingKind::Float: return node.GetFloat() == 0.0;
    case BindingKind::Enum: return node.GetEnum().value == 0;
    default: return node.Size() == 0;
  }
}

template <typename Input>
void BytesFromBindingOf(BindingProperty& result, const Input& input, std::string_view name,
                        std::vector<std::uint8_t>& out) {
  out.clear();
  if (!result.IsValid()) return;
  if (input.IsEmpty()) return Required(result, name);
  if (input.GetKind() != BindingKind::Blob) return InvalidType(result, name, "blob", input.GetKind());
  const auto bytes = input.GetBlob();
  out.assign(bytes.begin(), bytes.end());
}

}  // namespace

void StructToBinding(BindingNode& out, BindingProperty& result, const void* object,
                     const BindingTypeDescriptor* descriptor, const BindingRegistry& registry) {
  if (!result.IsValid()) return;
  if (!descriptor || descriptor->isEnum)
    return result.SetFailure("Couldn't convert native value because it's an unregistered structure.");
  out.MakeStructure();
  const auto* base = static_cast<const unsigned char*>(object);
  for (const BindingFieldDescriptor& field : descriptor->fields) {
    if (!field.converter) {
      out.Field(field.name);
      continue;
    }
    if (field.flags & kSkipDefaultOnOutput) {
      // Whether the value is a default is known only once it is built.
      BindingProperty value;
      field.converter->ToBinding(value, value, base + field.offset, field.type.descriptor, registry);
      if (!value.IsValid()) return result.SetFailure(value.FailureMessage());
      if (!IsDefaultOf(value)) out.Field(field.name) = std::move(value);
      continue;
    }
    field.converter->ToBinding(out.Field(field.name), result, base + field.offset, field.type.descriptor, registry);
    if (!result.IsValid()) return;
  }
}

bool IsDefaultValue(const BindingNode& node) { return IsDefaultOf(node); }

bool StructToHostValue(HostValue& out, HostValueArena& arena, BindingProperty& result, const void* object,
                       const BindingTypeDescriptor* descriptor, const BindingRegistry& registry) {
  if (!result.IsValid()) return false;
  if (!descriptor || descriptor->isEnum) {
    result.SetFailure("Couldn't convert native value because it's an unregistered structure.");
    return false;
  }
  if (descriptor->repeatedNames) {
    // Fields sharing a name write into one field of the tree: let the tree
    // merge them.
    BindingProperty tree;
    StructToBinding(tree, tree, object, descriptor, registry);
    if (!tree.IsValid()) {
      result.SetFailure(tree.FailureMessage());
      return false;
    }
    const BindingProperty& kept = arena.Keep(std::move(tree));
    BindingToHostValue(kept, out, &registry, HostValueTexts::Borrowed, &arena);
    return kept.Size() == 0;
  }
  // Converted in registration order, so the first failure is the tree's;
  // each lands at its place in name order, and the fields left out as
  // defaults close up after.
  const std::vector<BindingFieldDescriptor>& fields = descriptor->fields;
  const auto count = static_cast<std::uint32_t>(fields.size());
  HostObjectEntry* entries = arena.Entries(count);
  auto* bytes = reinterpret_cast<unsigned char*>(entries);
  const auto* base = static_cast<const unsigned char*>(object);
  for (std::uint32_t i = 0; i < count; ++i) {
    const BindingFieldDescriptor& field = fields[i];
    HostValue value{};
    if (field.converter) {
      const bool isDefault =
          field.converter->ToHostValue(value, arena, result, base + field.offset, field.type.descriptor, registry);
      if (!result.IsValid()) return false;
      if (isDefault && (field.flags & kSkipDefaultOnOutput)) continue;
    }
    unsigned char* entry = bytes + std::size_t(descriptor->nameRanks[i]) * sizeof(HostObjectEntry);
    const char* key = field.name.c_str();
    std::memcpy(entry + offsetof(HostObjectEntry, key), &key, sizeof key);
    std::memcpy(entry + offsetof(HostObjectEntry, value), &value, sizeof value);
  }
  std::uint32_t kept = 0;
  for (std::uint32_t rank = 0; rank < count; ++rank) {
    const unsigned char* entry = bytes + std::size_t(rank) * sizeof(HostObjectEntry);
    const char* key;
    std::memcpy(&key, entry + offsetof(HostObjectEntry, key), sizeof key);
    if (key == nullptr) continue;  // left out
    if (kept != rank) std::memmove(bytes + std::size_t(kept) * sizeof(HostObjectEntry), entry, sizeof(HostObjectEntry));
    ++kept;
  }
  out.kind = HostValueKind_Object;
  out.u.object.entries = kept ? entries : nullptr;
  out.u.object.count = kept;
  return kept == 0;
}

void VectorNotACollection(BindingProperty& result, std::string_view name) {
  result.SetFailure(Format("Couldn't assign value to '%1' of type vector because the input not a collection.", name));
}


// Each conversion reads either a tree's node or a core's value.
bool BoolFromBinding(BindingProperty& result, const BindingNode& input, std::string_view name) {
  return BoolFromBindingOf(result, input, name);
}
bool BoolFromBinding(BindingProperty& result, const HostValueInput& input, std::string_view name) {
  return BoolFromBindingOf(result, input, name);
}
std::int64_t SignedFromBinding(BindingProperty& result, const BindingNode& input, std::string_view name,
                               std::int64_t min, std::int64_t max, const char* typeName) {
  return SignedFromBindingOf(result, input, name, min, max, typeName);
}
std::int64_t SignedFromBinding(BindingProperty& result, const HostValueInput& input, std::string_view name,
                               std::int64_t min, std::int64_t max, const char* typeName) {
  return SignedFromBindingOf(result, input, name, min, max, typeName);
}
std::uint64_t UnsignedFromBinding(BindingProperty& result, const BindingNode& input, std::string_view name,
                                  std::uint64_t max, const char* typeName) {
  return UnsignedFromBindingOf(result, input, name, max, typeName);
}
std::uint64_t UnsignedFromBinding(BindingProperty& result, const HostValueInput& input, std::string_view name,
                                  std::uint64_t max, const char* typeName) {
  return UnsignedFromBindingOf(result, input, name, max, typeName);
}
double DoubleFromBinding(BindingProperty& result, const BindingNode& input, std::string_view name, double max,
                         const char* typeName) {
  return DoubleFromBindingOf(result, input, name, max, typeName);
}
double DoubleFromBinding(BindingProperty& result, const HostValueInput& input, std::string_view name, double max,
                         const char* typeName) {
  return DoubleFromBindingOf(result, input, name, max, typeName);
}
std::string TextFromBinding(BindingProperty& result, const BindingNode& input, std::string_view name,
                            const BindingRegistry* registry) {
  return TextFromBindingOf(result, input, name, registry);
}
std::string TextFromBinding(BindingProperty& result, const HostValueInput& input, std::string_view name,
                            const BindingRegistry* registry) {
  return TextFromBindingOf(result, input, name, registry);
}
std::int32_t EnumFromBinding(BindingProperty& result, const BindingNode& input, std::string_view name,
                             const BindingTypeDescriptor& descriptor) {
  return EnumFromBindingOf(result, input, name, descriptor);
}
std::int32_t EnumFromBinding(BindingProperty& result, const HostValueInput& input, std::string_view name,
                             const BindingTypeDescriptor& descriptor) {
  return EnumFromBindingOf(result, input, name, descriptor);
}
void StructFromBinding(BindingProperty& result, const BindingNode& input, std::string_view name, void* object,
                       const BindingTypeDescriptor* descriptor, const BindingRegistry& registry,
                       std::string_view skipped) {
  StructFromBindingOf(result, input, name, object, descriptor, registry, skipped);
}
void StructFromBinding(BindingProperty& result, const HostValueInput& input, std::string_view name, void* object,
                       const BindingTypeDescriptor* descriptor, const BindingRegistry& registry,
                       std::string_view skipped) {
  StructFromBindingOf(result, input, name, object, descriptor, registry, skipped);
}
void NativeConversion<std::vector<std::uint8_t>>::From(BindingProperty& result, const BindingNode& input,
                                                        std::string_view name, std::vector<std::uint8_t>& out,
                                                        const BindingTypeDescriptor*, const BindingRegistry&) {
  BytesFromBindingOf(result, input, name, out);
}
void NativeConversion<std::vector<std::uint8_t>>::From(BindingProperty& result, const HostValueInput& input,
                                                        std::string_view name, std::vector<std::uint8_t>& out,
                                                        const BindingTypeDescriptor*, const BindingRegistry&) {
  BytesFromBindingOf(result, input, name, out);
}

}  // namespace Vexa
