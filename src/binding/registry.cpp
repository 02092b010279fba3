#include "binding/registry.h"

#include <algorithm>
#include <utility>

#include "binding/fnv1a.h"

namespace Vexa {

const char* BindingTypeCodeName(BindingTypeCode code) noexcept {
  switch (code) {
    case BindingTypeCode::Bool: return "bool";
    case BindingTypeCode::Int8: return "int8";
    case BindingTypeCode::UInt8: return "uint8";
    case BindingTypeCode::Int16: return "int16";
    case BindingTypeCode::UInt16: return "uint16";
    case BindingTypeCode::Int32: return "int32";
    case BindingTypeCode::UInt32: return "uint32";
    case BindingTypeCode::Int64: return "int64";
    case BindingTypeCode::UInt64: return "uint64";
    case BindingTypeCode::Float: return "float";
    case BindingTypeCode::Double: return "double";
    case BindingTypeCode::String: return "string";
    case BindingTypeCode::Object: return "object";
    case BindingTypeCode::Blob: return "blob";
    case BindingTypeCode::Vector: return "vector";
    case BindingTypeCode::Enum: return "enum";
    case BindingTypeCode::Struct: return "struct";
    case BindingTypeCode::Callback: return "callback";
    case BindingTypeCode::Map: return "map";
    case BindingTypeCode::None: break;
  }
  return "";
}

BindingTypeBuilder& BindingTypeBuilder::AddField(std::string_view name, std::string_view description,
                                                 std::uint32_t offset, const TypeIdentity& identity,
                                                 TypeIdentifier type, TypeIdentifier elementType,
                                                 std::uint32_t flags,
                                                 std::unique_ptr<BindingFieldConverter> converter,
                                                 bool optional) {
  if (inert_) return *this;
  BindingFieldDescriptor& field = descriptor_->fields.emplace_back();
  field.name = name;
  field.nameHash = Fnv1a32(name);
  field.description = description;
  field.identity = &identity;
  field.offset = offset;
  field.type = type;
  field.elementType = elementType;
  field.flags = flags;
  field.converter = std::move(converter);
  field.owner = descriptor_;
  field.optional = optional;
  RankByName();
  lastOffset_ = offset;
  return *this;
}

void BindingTypeBuilder::RankByName() {
  // Registration is rare and field lists short: rank them afresh.
  std::vector<BindingFieldDescriptor>& fields = descriptor_->fields;
  std::vector<std::uint32_t> order(fields.size());
  for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::uint32_t a, std::uint32_t b) { return fields[a].name < fields[b].name; });
  descriptor_->nameRanks.assign(fields.size(), 0);
  descriptor_->repeatedNames = false;
  for (std::uint32_t rank = 0; rank < order.size(); ++rank) {
    descriptor_->nameRanks[order[rank]] = rank;
    if (rank > 0 && fields[order[rank]].name == fields[order[rank - 1]].name) descriptor_->repeatedNames = true;
  }
}

BindingTypeBuilder& BindingTypeBuilder::AddEnumerator(std::string_view name, std::int32_t value,
                                                      std::string_view description) {
  if (inert_) return *this;
  BindingEnumerator& enumerator = descriptor_->enumerators[std::string(name)];
  enumerator.value = value;
  enumerator.name = name;
  enumerator.description = description;
  return *this;
}

BindingTypeBuilder& BindingTypeBuilder::SetDescription(std::string_view description) {
  if (!inert_) descriptor_->description = description;
  return *this;
}

BindingTypeBuilder& BindingTypeBuilder::SetNamespace(std::string_view nameSpace) {
  if (!inert_) descriptor_->nameSpace = nameSpace;
  return *this;
}

BindingTypeBuilder& BindingTypeBuilder::AddTag(std::string_view tag) {
  if (!inert_ && !tag.empty()) descriptor_->tags.emplace_back(tag);
  return *this;
}

BindingTypeBuilder BindingRegistry::RegisterType(std::uint32_t nativeSize, std::string_view name,
                                                 const TypeIdentity& identity, bool isEnum) {
  Os::LockGuard guard(lock_);
  auto found = typesByName_.find(name);
  if (found != typesByName_.end()) return BindingTypeBuilder(this, found->second.get(), true);

  auto descriptor = std::make_unique<BindingTypeDescriptor>();
  descriptor->nativeSize = nativeSize;
  descriptor->isEnum = isEnum;
  descriptor->name = name;
  descriptor->id = identity.Id();
  descriptor->identity = &identity;
  descriptor->owner = this;
  BindingTypeDescriptor* raw = descriptor.get();
  typesByName_.emplace(std::string(name), std::move(descriptor));
  if (identity.Id() != TypeIdentity::kPlaceholderId) typesById_.emplace(identity.Id(), raw);
  return BindingTypeBuilder(this, raw, false);
}

void BindingRegistry::RegisterFunction(BindingFunctionDescriptor function) {
  Os::LockGuard guard(lock_);
  std::string name = function.name;
  functions_.insert_or_assign(std::move(name), std::move(function));
  ++functionChanges_;
}

BindingRegistry::EventRegistration BindingRegistry::RegisterEvent(std::string_view name,
                                                                  TypeIdentifier payloadType,
                                                                  std::string_view description,
                                                                  std::vector<std::string> tags) {
  Os::LockGuard guard(lock_);
  auto found = events_.find(name);
  if (found != events_.end()) return {&found->second, true};
  BindingEventDescriptor event;
  event.name = name;
  event.payloadType = payloadType;
  event.description = description;
  event.tags = std::move(tags);
  auto inserted = events_.emplace(std::string(name), std::move(event)).first;
  return {&inserted->second, false};
}

bool BindingRegistry::UnregisterEvent(std::string_view name) {
  Os::LockGuard guard(lock_);
  auto found = events_.find(name);
  if (found == events_.end()) return false;
  events_.erase(found);
  return true;
}

void BindingRegistry::Clear() {
  Os::LockGuard guard(lock_);
  functions_.clear();
  events_.clear();
  typesById_.clear();
  typesByName_.clear();
}

const BindingTypeDescriptor* BindingRegistry::FindType(const TypeIdentity& identity) const {
  Os::LockGuard guard(lock_);
  auto found = typesById_.find(identity.Id());
  return found != typesById_.end() ? found->second : nullptr;
}

const BindingTypeDescriptor* BindingRegistry::FindTypeByName(std::string_view name) const {
  Os::LockGuard guard(lock_);
  auto found = typesByName_.find(name);
  return found != typesByName_.end() ? found->second.get() : nullptr;
}

const BindingFunctionDescriptor* BindingRegistry::FindFunction(std::string_view name) const {
  Os::LockGuard guard(lock_);
  auto found = functions_.find(name);
  return found != functions_.end() ? &found->second : nullptr;
}

const BindingEventDescriptor* BindingRegistry::FindEvent(std::string_view name) const {
  Os::LockGuard guard(lock_);
  auto found = events_.find(name);
  return found != events_.end() ? &found->second : nullptr;
}

TypeIdentifier BindingRegistry::TypeIdentifierOf(const TypeIdentity& identity) const {
  const BindingTypeDescriptor* descriptor = FindType(identity);
  if (descriptor == nullptr) return {};
  return {descriptor->isEnum ? BindingTypeCode::Enum : BindingTypeCode::Struct, BindingTypeCode::None, descriptor};
}

const char* BindingRegistry::EnumeratorName(const TypeIdentity& identity, std::int32_t value) const {
  Os::LockGuard guard(lock_);
  auto found = typesById_.find(identity.Id());
  if (found == typesById_.end()) return nullptr;
  for (const auto& [name, enumerator] : found->second->enumerators) {
    if (enumerator.value == value) return enumerator.name.c_str();
  }
  return nullptr;
}

bool BindingRegistry::HasEnumerator(const BindingTypeDescriptor& descriptor, std::int32_t value) noexcept {
  for (const auto& [name, enumerator] : descriptor.enumerators) {
    if (enumerator.value == value) return true;
  }
  return false;
}

std::vector<BindingFunctionDescriptor> BindingRegistry::Functions() const {
  Os::LockGuard guard(lock_);
  std::vector<BindingFunctionDescriptor> list;
  list.reserve(functions_.size());
  for (const auto& [name, function] : functions_) list.push_back(function);
  return list;
}

std::vector<const BindingTypeDescriptor*> BindingRegistry::Types() const {
  Os::LockGuard guard(lock_);
  std::vector<const BindingTypeDescriptor*> list;
  list.reserve(typesByName_.size());
  for (const auto& [name, descriptor] : typesByName_) list.push_back(descriptor.get());
  return list;
}

std::vector<BindingEventDescriptor> BindingRegistry::Events() const {
  Os::LockGuard guard(lock_);
  std::vector<BindingEventDescriptor> list;
  list.reserve(events_.size());
  for (const auto& [name, event] : events_) list.push_back(event);
  return list;
}

std::uint32_t BindingRegistry::FunctionChanges() const {
  Os::LockGuard guard(lock_);
  return functionChanges_;
}

}  // namespace Vexa
