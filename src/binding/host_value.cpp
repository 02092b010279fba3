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

bool HostValueToBinding(const HostValue& root, BindingNode& rootOut, std::string_view name, std::string& error) {
  std::vector<std::pair<HostValue, BindingNode*>> pending{{root, &rootOut}};
  auto incompatible = [&](std::uint32_t kind) {
    error = Format("Couldn't assign value to '%1' of type object because the input is of an incompatible type '%2'.",
                   name, HostValueKindName(kind));
    return false;
  };
  while (!pending.empty()) {
    const HostValue value = pending.back().first;
    BindingNode* out = pending.back().second;
    pending.pop_back();
    switch (value.kind) {
      case HostValueKind_Null: out->Reset(); break;
      case HostValueKind_Bool: out->SetBool(value.u.boolean != 0); break;
      case HostValueKind_Int64: out->SetSigned(value.u.int64); break;
      case HostValueKind_UInt64: out->SetUnsigned(value.u.uint64); break;
      case HostValueKind_Double: out->SetFloat(value.u.number); break;
      case HostValueKind_BorrowedString:
      case HostValueKind_String: {
        // The text ends at its NUL, but never beyond the length it came with.
        const char* data = value.u.string.data;
        out->SetString(data ? std::string_view(data, strnlen(data, value.u.string.length)) : std::string_view());
        break;
      }
      case HostValueKind_BorrowedBytes:
      case HostValueKind_Bytes: {
        const auto* data = static_cast<const std::uint8_t*>(value.u.bytes.data);
        if (!data && value.u.bytes.size) return incompatible(value.kind);
        out->SetBlob(std::span<const std::uint8_t>(data, data ? value.u.bytes.size : 0));
        break;
      }
      case HostValueKind_Array: {
        const std::uint32_t count = value.u.array.count;
        if (!value.u.array.items && count) return incompatible(value.kind);
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
        if (!value.u.object.entries && count) return incompatible(value.kind);
        out->Reset();
        out->MakeStructure();
        const std::size_t first = pending.size();
        for (std::uint32_t i = 0; i < count; ++i) {
          const unsigned char* entry = EntryAt(value.u.object.entries, i);
          const char* key = LoadAt<const char*>(entry + offsetof(HostObjectEntry, key));
          pending.emplace_back(LoadAt<HostValue>(entry + offsetof(HostObjectEntry, value)), &out->Field(key ? key : ""));
        }
        std::reverse(pending.begin() + std::ptrdiff_t(first), pending.end());
        break;
      }
      default: return incompatible(value.kind);
    }
  }
  return true;
}

bool HostValueToBindingDetaching(const HostValue& value, BindingNode& out, std::string_view key, BindingNode& detached,
                                 std::string_view name, std::string& error) {
  if (value.kind != HostValueKind_Object || (!value.u.object.entries && value.u.object.count))
    return HostValueToBinding(value, out, name, error);
  out.Reset();
  out.MakeStructure();
  for (std::uint32_t i = 0; i < value.u.object.count; ++i) {
    const unsigned char* entry = EntryAt(value.u.object.entries, i);
    const char* entryKey = LoadAt<const char*>(entry + offsetof(HostObjectEntry, key));
    const std::string_view text = entryKey ? entryKey : "";
    BindingNode& target = text == key ? detached : out.Field(text);
    if (!HostValueToBinding(LoadAt<HostValue>(entry + offsetof(HostObjectEntry, value)), target, name, error))
      return false;
  }
  return true;
}

void BindingToHostValue(const BindingNode& root, HostValue& rootOut, const BindingRegistry* registry,
                        HostValueTexts texts) {
  // Interned texts end in a NUL, so a borrowed key is a C string as it is.
  const bool borrow = texts == HostValueTexts::Borrowed;
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
        out.u.array.items = AllocateArray<HostValue>(elements.size());
        out.u.array.count = std::uint32_t(elements.size());
        for (std::size_t i = elements.size(); i-- > 0;) pending.emplace_back(&elements[i], &out.u.array.items[i]);
        break;
      }
      case BindingKind::Structure: {
        auto* entries = AllocateArray<HostObjectEntry>(node->Size());
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
