#include "binding/host_value.h"

#include <cstddef>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "binding/message_format.h"
#include "binding/registry.h"
#include "binding/saturate.h"

namespace Vexa {
namespace {

template <typename T>
T* AllocateArray(std::size_t count) {
  if (count == 0) return nullptr;
  void* block = std::calloc(count, sizeof(T));
  if (!block) throw std::bad_alloc();
  return static_cast<T*>(block);
}

char* CopyText(std::string_view text) {
  char* copy = AllocateArray<char>(text.size() + 1);
  std::memcpy(copy, text.data(), text.size());
  return copy;
}

// Object entries are byte-packed, so their members may sit at any address:
// they are only ever read and written bytewise.
template <typename T>
T LoadAt(const void* at) noexcept {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

const unsigned char* EntryAt(const HostObjectEntry* entries, std::uint32_t i) {
  return reinterpret_cast<const unsigned char*>(entries) + std::size_t(i) * sizeof(HostObjectEntry);
}

}  // namespace

const char* HostValueKindName(std::uint32_t kind) noexcept {
  switch (kind) {
    case HostValueKind_Bool: return "bool";
    case HostValueKind_Int64: return "signed";
    case HostValueKind_UInt64: return "unsigned";
    case HostValueKind_Double: return "float";
    case HostValueKind_BorrowedString:
    case HostValueKind_String: return "string";
    case HostValueKind_BorrowedBytes:
    case HostValueKind_Bytes: return "blob";
    case HostValueKind_Array: return "collection";
    case HostValueKind_Object: return "structure";
    default: return "";
  }
}

namespace {

// What a conversion cannot take: a kind it does not know, or an array,
// object or byte string without its items.
bool Malformed(const HostValue& value) noexcept {
  switch (value.kind) {
    case HostValueKind_Null:
    case HostValueKind_Bool:
    case HostValueKind_Int64:
    case HostValueKind_UInt64:
    case HostValueKind_Double:
    case HostValueKind_BorrowedString:
    case HostValueKind_String: return false;
    case HostValueKind_BorrowedBytes:
    case HostValueKind_Bytes: return !value.u.bytes.data && value.u.bytes.size;
    case HostValueKind_Array: return !value.u.array.items && value.u.array.count;
    case HostValueKind_Object: return !value.u.object.entries && value.u.object.count;
    default: return true;
  }
}

bool Incompatible(std::string_view name, std::uint32_t kind, std::string& error) {
  error = Format("Couldn't assign value to '%1' of type object because the input is of an incompatible type '%2'.",
                 name, HostValueKindName(kind));
  return false;
}

// The text ends at its NUL, but never beyond the length it came with.
std::string_view TextOf(const HostValue& value) noexcept {
  const char* data = value.u.string.data;
  return data ? std::string_view(data, strnlen(data, value.u.string.length)) : std::string_view();
}

HostValue EntryValue(const HostObjectEntry* entries, std::uint32_t i) noexcept {
  return LoadAt<HostValue>(EntryAt(entries, i) + offsetof(HostObjectEntry, value));
}

const char* EntryKey(const HostObjectEntry* entries, std::uint32_t i) noexcept {
  const char* key = LoadAt<const char*>(EntryAt(entries, i) + offsetof(HostObjectEntry, key));
  return key ? key : "";
}

}  // namespace

bool HostValueConvertible(const HostValue& root, std::string_view name, std::string& error) {
  // In the order the conversion meets the values, so the first fault named
  // is the one it would name.
  // Holds the members of the open objects along one path: a few dozen for
  // the usual message.
  std::vector<HostValue> pending;
  pending.reserve(64);
  pending.push_back(root);
  while (!pending.empty()) {
    const HostValue value = pending.back();
    pending.pop_back();
    if (Malformed(value)) return Incompatible(name, value.kind, error);
    if (value.kind == HostValueKind_Array) {
      for (std::uint32_t i = value.u.array.count; i-- > 0;) pending.push_back(value.u.array.items[i]);
    } else if (value.kind == HostValueKind_Object) {
      for (std::uint32_t i = value.u.object.count; i-- > 0;) pending.push_back(EntryValue(value.u.object.entries, i));
    }
  }
  return true;
}

bool HostValueToBinding(const HostValue& root, BindingNode& rootOut, std::string_view name, std::string& error) {
  std::vector<std::pair<HostValue, BindingNode*>> pending{{root, &rootOut}};
  while (!pending.empty()) {
    const HostValue value = pending.back().first;
    BindingNode* out = pending.back().second;
    pending.pop_back();
    if (Malformed(value)) return Incompatible(name, value.kind, error);
    switch (value.kind) {
      case HostValueKind_Null: out->Reset(); break;
      case HostValueKind_Bool: out->SetBool(value.u.boolean != 0); break;
      case HostValueKind_Int64: out->SetSigned(value.u.int64); break;
      case HostValueKind_UInt64: out->SetUnsigned(value.u.uint64); break;
      case HostValueKind_Double: out->SetFloat(value.u.number); break;
      case HostValueKind_BorrowedString:
      case HostValueKind_String: out->SetString(TextOf(value)); break;
      case HostValueKind_BorrowedBytes:
      case HostValueKind_Bytes: {
        const auto* data = static_cast<const std::uint8_t*>(value.u.bytes.data);
        out->SetBlob(std::span<const std::uint8_t>(data, data ? value.u.bytes.size : 0));
        break;
      }
      case HostValueKind_Array: {
        const std::uint32_t count = value.u.array.count;
        out->Reset();
        out->MakeCollection();
        out->Reserve(count);
        // The reserve keeps element addresses stable while they wait on the
        // stack; pushed in reverse so they convert in order.
        for (std::uint32_t i = 0; i < count; ++i) out->At(i);
        for (std::uint32_t i = count; i-- > 0;) pending.emplace_back(value.u.array.items[i], &out->At(i));
        break;
      }
      case HostValueKind_Object: {
        const std::uint32_t count = value.u.object.count;
        out->Reset();
        out->MakeStructure();
        const std::size_t first = pending.size();
        for (std::uint32_t i = 0; i < count; ++i)
          pending.emplace_back(EntryValue(value.u.object.entries, i), &out->Field(EntryKey(value.u.object.entries, i)));
        std::reverse(pending.begin() + std::ptrdiff_t(first), pending.end());
        break;
      }
    }
  }
  return true;
}

std::uint32_t HostValueInput::Size() const noexcept {
  switch (GetKind()) {
    case BindingKind::Empty: return 0;
    case BindingKind::String: return static_cast<std::uint32_t>(GetString().size());
    case BindingKind::Blob: return static_cast<std::uint32_t>(GetBlob().size());
    case BindingKind::Collection: return value_.u.array.count;
    case BindingKind::Structure: {
      // Repeated keys are one field of the tree: count the last of each.
      const HostObjectEntry* entries = value_.u.object.entries;
      std::uint32_t distinct = 0;
      for (std::uint32_t i = 0; i < value_.u.object.count; ++i) {
        std::uint32_t later = i + 1;
        while (later < value_.u.object.count && std::strcmp(EntryKey(entries, i), EntryKey(entries, later)) != 0) ++later;
        if (later == value_.u.object.count) ++distinct;
      }
      return distinct;
    }
    default: return 1;
  }
}

std::int64_t HostValueInput::GetInteger() const noexcept {
  switch (GetKind()) {
    case BindingKind::Signed: return GetSigned();
    case BindingKind::Unsigned: return static_cast<std::int64_t>(GetUnsigned());
    case BindingKind::Float: return SaturateToInt64(GetFloat());
    default: return 0;
  }
}

std::string_view HostValueInput::GetString() const noexcept { return TextOf(value_); }

std::span<const std::uint8_t> HostValueInput::GetBlob() const noexcept {
  const auto* data = static_cast<const std::uint8_t*>(value_.u.bytes.data);
  return {data, data ? value_.u.bytes.size : 0};
}

HostValueInput HostValueInput::At(std::uint32_t index) const noexcept {
  if (GetKind() != BindingKind::Collection || index >= value_.u.array.count) return {};
  return HostValueInput(value_.u.array.items[index]);
}

HostValueInput HostValueInput::Find(std::string_view name) const noexcept {
  if (GetKind() != BindingKind::Structure) return {};
  const HostObjectEntry* entries = value_.u.object.entries;
  const char* const wanted = name.data();
  const std::size_t size = name.size();
  for (std::uint32_t i = value_.u.object.count; i-- > 0;) {
    // A key is a C string: it matches when its bytes are the name's and end
    // right after, so a name holding a NUL matches no key.
    const char* key = EntryKey(entries, i);
    std::size_t at = 0;
    while (at < size && key[at] == wanted[at] && key[at] != '\0') ++at;
    if (at == size && key[at] == '\0') return HostValueInput(EntryValue(entries, i));
  }
  return {};
}

HostValueArena::~HostValueArena() {
  for (void* block : blocks_) ::operator delete(block);
}

const BindingProperty& HostValueArena::Keep(BindingProperty&& tree) {
  kept_.push_back(std::move(tree));
  return kept_.back();  // a root's texts stay where they are when it moves
}

void* HostValueArena::Take(std::size_t size, std::uint32_t count) {
  if (count == 0) return nullptr;
  constexpr std::size_t kBlock = 16384;
  const std::size_t bytes = (size * count + 7) & ~std::size_t(7);
  if (bytes > left_) {
    if (bytes > kBlock / 4) {
      // Large arrays get blocks of their own, so the current one goes on.
      blocks_.reserve(blocks_.size() + 1);
      void* own = ::operator new(bytes);
      blocks_.push_back(own);
      return std::memset(own, 0, bytes);
    }
    blocks_.reserve(blocks_.size() + 1);
    free_ = static_cast<unsigned char*>(::operator new(kBlock));
    blocks_.push_back(free_);
    left_ = kBlock;
  }
  void* at = free_;
  free_ += bytes;
  left_ -= bytes;
  return std::memset(at, 0, bytes);
}

void BindingToHostValue(const BindingNode& root, HostValue& rootOut, const BindingRegistry* registry,
                        HostValueTexts texts, HostValueArena* arena) {
  // Interned texts end in a NUL, so a borrowed key is a C string as it is.
  const bool borrow = texts == HostValueTexts::Borrowed || arena != nullptr;
  // Each value is finished in a local and stored bytewise; its children go
  // into arrays of their own, filled when their turn comes.
  std::vector<std::pair<const BindingNode*, void*>> pending{{&root, &rootOut}};
  while (!pending.empty()) {
    auto [node, at] = pending.back();
    pending.pop_back();
    HostValue out{};
    switch (node->GetKind()) {
      case BindingKind::Empty: break;
      case BindingKind::Bool:
        out.kind = HostValueKind_Bool;
        out.u.boolean = node->GetBool() ? 1 : 0;
        break;
      case BindingKind::Signed:
        out.kind = HostValueKind_Int64;
        out.u.int64 = node->GetSigned();
        break;
      case BindingKind::Unsigned:
        out.kind = HostValueKind_UInt64;
        out.u.uint64 = node->GetUnsigned();
        break;
      case BindingKind::Float:
        out.kind = HostValueKind_Double;
        out.u.number = node->GetFloat();
        break;
      case BindingKind::String: {
        const std::string_view text = node->GetString();
        out.kind = borrow ? HostValueKind_BorrowedString : HostValueKind_String;
        out.u.string.data = borrow ? text.data() : CopyText(text);
        out.u.string.length = std::uint32_t(text.size());
        break;
      }
      case BindingKind::Blob: {
        const auto bytes = node->GetBlob();
        out.u.bytes.size = std::uint32_t(bytes.size());
        if (borrow) {
          out.kind = HostValueKind_BorrowedBytes;
          out.u.bytes.data = bytes.data();
          break;
        }
        auto* copy = AllocateArray<std::uint8_t>(bytes.size());
        if (!bytes.empty()) std::memcpy(copy, bytes.data(), bytes.size());
        out.kind = HostValueKind_Bytes;
        out.u.bytes.data = copy;
        break;
      }
      case BindingKind::Enum: {
        const EnumValue value = node->GetEnum();
        const char* name = registry && value.enumType ? registry->EnumeratorName(*value.enumType, value.value) : nullptr;
        if (name) {
          out.kind = borrow ? HostValueKind_BorrowedString : HostValueKind_String;
          out.u.string.data = borrow ? name : CopyText(name);
          out.u.string.length = std::uint32_t(std::strlen(name));
        } else {
          out.kind = HostValueKind_Int64;
          out.u.int64 = value.value;
        }
        break;
      }
      case BindingKind::Collection: {
        const auto elements = node->Elements();
        out.kind = HostValueKind_Array;
        out.u.array.items = arena ? arena->Items(std::uint32_t(elements.size()))
                                  : AllocateArray<HostValue>(elements.size());
        out.u.array.count = std::uint32_t(elements.size());
        for (std::size_t i = elements.size(); i-- > 0;) pending.emplace_back(&elements[i], &out.u.array.items[i]);
        break;
      }
      case BindingKind::Structure: {
        auto* entries = arena ? arena->Entries(node->Size()) : AllocateArray<HostObjectEntry>(node->Size());
        out.kind = HostValueKind_Object;
        out.u.object.entries = entries;
        out.u.object.count = node->Size();
        auto* bytes = reinterpret_cast<unsigned char*>(entries);
        for (const auto& field : node->Fields()) {
          const char* key = borrow ? field.name.data() : CopyText(field.name);
          const std::uint8_t owned = borrow ? 0 : 1;
          std::memcpy(bytes + offsetof(HostObjectEntry, key), &key, sizeof key);
          std::memcpy(bytes + offsetof(HostObjectEntry, keyOwned), &owned, sizeof owned);
          pending.emplace_back(&field.value, bytes + offsetof(HostObjectEntry, value));
          bytes += sizeof(HostObjectEntry);
        }
        break;
      }
    }
    std::memcpy(at, &out, sizeof out);
  }
}

void ReleaseHostValue(HostValue& root) noexcept {
  std::vector<HostValue> pending{root};
  std::vector<void*> blocks;  // children are read out of these, so they go last
  while (!pending.empty()) {
    const HostValue value = pending.back();
    pending.pop_back();
    switch (value.kind) {
      case HostValueKind_String: std::free(const_cast<char*>(value.u.string.data)); break;
      case HostValueKind_Bytes: std::free(const_cast<void*>(value.u.bytes.data)); break;
      case HostValueKind_Array:
        if (!value.u.array.items) break;
        for (std::uint32_t i = 0; i < value.u.array.count; ++i) pending.push_back(value.u.array.items[i]);
        blocks.push_back(value.u.array.items);
        break;
      case HostValueKind_Object:
        if (!value.u.object.entries) break;
        for (std::uint32_t i = 0; i < value.u.object.count; ++i) {
          const unsigned char* entry = EntryAt(value.u.object.entries, i);
          if (LoadAt<std::uint8_t>(entry + offsetof(HostObjectEntry, keyOwned)))
            std::free(const_cast<char*>(LoadAt<const char*>(entry + offsetof(HostObjectEntry, key))));
          pending.push_back(LoadAt<HostValue>(entry + offsetof(HostObjectEntry, value)));
        }
        blocks.push_back(value.u.object.entries);
        break;
      default: break;
    }
  }
  for (void* block : blocks) std::free(block);
  root = HostValue{};
}

}  // namespace Vexa
