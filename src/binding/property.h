// The dynamic value through which data crosses every boundary of the
// plug-in: a tree of typed nodes whose small records all come from the
// pools of one storage per tree.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "binding/base64.h"
#include "binding/storage.h"

namespace Vexa {

class TypeIdentity;
class BindingProperty;

enum class BindingKind : std::uint8_t {
  Empty = 0,
  Bool = 1,
  Signed = 2,
  Unsigned = 3,
  Float = 4,
  String = 5,
  Blob = 6,
  Enum = 7,
  Collection = 8,
  Structure = 9,
};

// The text messages print for a kind ("empty", "bool", ...); "" for a byte
// that names no kind.
const char* BindingKindName(BindingKind kind) noexcept;


struct EnumValue {
  std::int32_t value = 0;
  const TypeIdentity* enumType = nullptr;

  friend bool operator==(const EnumValue&, const EnumValue&) = default;
};

using BindingBlob = std::vector<std::uint8_t>;

template <typename Node>
class BindingFieldIterator;
template <typename Node>
class BindingFieldRange;
class BindingTreeOps;

// Where one name went in a Structure: the entry of its text, its place in
// the first run of fields and the entries of the names around it there
// (null at either end). Only ever followed while the table has lost no
// entry since, so it cannot lead to freed memory, and the same neighbours
// again mean the same order without comparing a byte.
struct BindingFieldHint {
  const BindingStorage* storage = nullptr;
  std::uint64_t generation = 0;
  const InternedString* name = nullptr;
  const InternedString* lower = nullptr;
  const InternedString* upper = nullptr;
  std::uint32_t index = 0;
};

// One node of a tree. A node created on its own is a root: it owns the
// storage of its tree, created on first need. Elements and field values are
// nodes of the same tree; they are reached only by reference and share the
// root's storage for as long as they live.
//
// Every walk over a tree (copy, reset, destruction) is iterative, so trees of
// any depth are safe with a small stack.
class BindingNode {
 public:
  // Element counts are 32-bit; the bound also keeps the byte size of an
  // element array representable on 32-bit builds.
  static const std::uint32_t kMaxElements;

  constexpr BindingNode() noexcept = default;
  // A new root holding a deep copy of `other`.
  BindingNode(const BindingNode& other);
  // From a root: takes over its tree and storage in constant time. From a
  // node inside a tree: a deep copy, after which that node is reset.
  BindingNode(BindingNode&& other);
  // A deep copy built in this node's storage; this node keeps its storage
  // and its place in its tree. Copying a node into its own descendant (or an
  // ancestor into a descendant) copies the value as it was before.
  BindingNode& operator=(const BindingNode& other);
  // Root to root: the two exchange trees and storages, then `other` is
  // reset. Otherwise a copy followed by a reset of `other`.
  BindingNode& operator=(BindingNode&& other);
  constexpr ~BindingNode() {
    if (kind_ != BindingKind::Empty || storage_ != nullptr) Destroy();
  }

  // The node that const `At` and `Find` return for a miss. It lives in
  // read-only memory; nothing can change it.
  static const BindingNode& EmptyNode() noexcept;

  // --- Inspection
  BindingKind GetKind() const noexcept { return kind_; }
  bool IsEmpty() const noexcept { return kind_ == BindingKind::Empty; }
  // Empty 0; String bytes; Blob bytes; Collection elements; Structure
  // fields; any scalar 1.
  std::uint32_t Size() const noexcept;
  const BindingStorage* Storage() const noexcept { return storage_; }
  bool OwnsStorage() const noexcept { return ownsStorage_ != 0; }

  // --- Strict getters: the value when the kind matches, else the default.
  bool GetBool(bool defaultValue = false) const noexcept;
  std::int64_t GetSigned(std::int64_t defaultValue = 0) const noexcept;
  std::uint64_t GetUnsigned(std::uint64_t defaultValue = 0) const noexcept;
  double GetFloat(double defaultValue = 0.0) const noexcept;
  // Valid until the node changes.
  std::string_view GetString(std::string_view defaultValue = {}) const noexcept;
  std::span<const std::uint8_t> GetBlob(std::span<const std::uint8_t> defaultValue = {}) const noexcept;
  EnumValue GetEnum(EnumValue defaultValue = {}) const noexcept;
  // Signed or Unsigned: the 64 bits as stored. Float: truncated toward
  // zero, saturating at the ends of the range; NaN reads as 0.
  std::int64_t GetInteger(std::int64_t defaultValue = 0) const noexcept;
  // As GetInteger, but a Float of 2^63 or more converts through the
  // unsigned range (saturating at 2^64 - 1); below that, through the signed.
  std::uint64_t GetUnsignedInteger(std::uint64_t defaultValue = 0) const noexcept;

  // --- Coercing readers: never fail.
  // String: true only for exactly "true" or "1".
  bool ToBool() const noexcept;
  // String: strtoll with base 0. Empty, Blob, Collection, Structure: the default.
  std::int64_t ToInt64(std::int64_t defaultValue = 0) const noexcept;
  // String: strtoull with base 0.
  std::uint64_t ToUInt64(std::uint64_t defaultValue = 0) const noexcept;
  // Float "%f", Blob Base64, Empty and containers "".
  std::string ToText() const;

  // --- Setters. Each replaces the old content; the new value is taken
  // before the old one is released, so a value read from this very node
  // can be set back into it.
  void SetBool(bool value);
  template <std::signed_integral T>
  void SetSigned(T value) {
    Payload payload;
    payload.signedValue = static_cast<std::int64_t>(value);
    SetScalar(BindingKind::Signed, payload);
  }
  template <std::unsigned_integral T>
    requires(!std::same_as<T, bool>)
  void SetUnsigned(T value) {
    Payload payload;
    payload.bits = static_cast<std::uint64_t>(value);
    SetScalar(BindingKind::Unsigned, payload);
  }
  void SetFloat(double value);
  // Interned in the tree's storage. Throws std::length_error at 4 GiB.
  void SetString(std::string_view text);
  void SetBlob(std::span<const std::uint8_t> bytes);
  void SetBlob(BindingBlob&& bytes);
  void SetEnum(EnumValue value);

  // --- Containers
  // Leaves a node that already has the kind untouched.
  void MakeCollection();
  void MakeStructure();
  // Room for `count` elements of a Collection (throws std::length_error
  // beyond kMaxElements), or for up to `count` fields of a Structure with
  // at most one run of fields so far; any other kind is left alone.
  void Reserve(std::size_t count);
  // Makes the node a Collection (discarding other content) and appends
  // Empty elements until `index` exists.
  BindingNode& At(std::uint32_t index);
  // The element, or EmptyNode() when there is none.
  const BindingNode& At(std::uint32_t index) const noexcept;
  // Makes the node a Structure (discarding other content) and adds an Empty
  // field named `name` when missing. Names are compared by length and bytes.
  BindingNode& Field(std::string_view name);
  // As Field, for a reader that builds many structures of one shape: `hint`
  // is what the call for the same name in the structure before left behind,
  // and is left behind in turn. When the name is new here and fits where it
  // went there, neither the name nor its place is looked up again; any other
  // hint only costs a compare or two.
  BindingNode& Field(std::string_view name, BindingFieldHint& hint);
  // The field, or EmptyNode(); neither copies nor interns `name`.
  const BindingNode& Find(std::string_view name) const noexcept;
  bool HasField(std::string_view name) const noexcept;

  // Elements in index order; empty for any other kind.
  std::span<BindingNode> Elements() noexcept;
  std::span<const BindingNode> Elements() const noexcept;
  // Fields (name, value) in name order, names compared as unsigned bytes;
  // empty for any other kind.
  BindingFieldRange<BindingNode> Fields() noexcept;
  BindingFieldRange<const BindingNode> Fields() const noexcept;

  // --- Lifetime
  // Releases the content; the node keeps its storage and becomes Empty.
  void Reset() noexcept;

 protected:
  // A root to root exchange; `other` ends up Empty.
  void MoveRoot(BindingNode& other) noexcept;

 private:
  friend class BindingTreeOps;
  template <typename Node>
  friend class BindingFieldIterator;

  struct Collection;
  struct Structure;
  struct FieldEntry;
  struct FieldLeaf;
  struct Blob;

  union Payload {
    std::uint64_t bits = 0;  // Unsigned; also what zeroes the payload
    bool boolean;
    std::int64_t signedValue;
    double floatValue;
    const InternedString* string;
    Blob* blob;
    EnumValue* enumValue;
    Collection* collection;
    Structure* structure;
    const BindingNode* copySource;  // only while a copy is in progress
  };

  struct ChildTag {};
  // A node inside the tree of `storage`.
  constexpr BindingNode(ChildTag, BindingStorage* storage) noexcept : storage_(storage), ownsStorage_(0) {}

  bool HoldsRecord() const noexcept { return kind_ >= BindingKind::String; }
  BindingStorage& EnsureStorage();
  // Field(name, hint) where the hint did not settle it.
  BindingNode& FieldAndHint(std::string_view name, BindingFieldHint& hint);
  void SetScalar(BindingKind kind, Payload payload) {
    if (HoldsRecord()) Reset();
    Install(kind, payload);
  }
  // Releases the content record by record, whoever owns the storage.
  void ReleaseContent() noexcept;
  void Install(BindingKind kind, Payload payload) noexcept {
    kind_ = kind;
    payload_ = payload;
  }
  void CopyFrom(const BindingNode& source);
  void MoveFrom(BindingNode& source);
  void Destroy() noexcept;
  void GrowCollection(std::uint64_t size);

  Payload payload_{};
  BindingStorage* storage_ = nullptr;
  BindingKind kind_ = BindingKind::Empty;
  std::uint8_t ownsStorage_ = 1;
};

inline constexpr std::uint32_t BindingNode::kMaxElements =
    static_cast<std::uint32_t>(PTRDIFF_MAX / sizeof(BindingNode) < 0xFFFFFFFFu ? PTRDIFF_MAX / sizeof(BindingNode)
                                                                                : 0xFFFFFFFFu);

// The pooled records behind the container kinds and Blobs.
struct BindingNode::Blob {
  std::uint8_t* data = nullptr;  // a block of the storage; null when empty
  std::uint32_t size = 0;
};

struct BindingNode::Collection {
  BindingNode* data = nullptr;  // a block of the storage
  std::uint32_t size = 0;
  std::uint32_t capacity = 0;
};

// A field: its interned name and its value, which lives in a pooled node of
// its own that never moves, so references to it hold while fields are added.
struct BindingNode::FieldEntry {
  const InternedString* key;
  BindingNode* value;
};

// A run of fields in name order. Small leaves come from the pools, larger
// ones from the heap; the entries follow the header.
struct alignas(8) BindingNode::FieldLeaf {
  // A leaf that would outgrow this splits in two, so adding a field out of
  // order never shifts more than one leaf's entries.
  static constexpr std::uint32_t kMaxCapacity = 256;
  // Capacities up to this fit a pool slot.
  static constexpr std::uint32_t kPooledCapacity = 4;

  std::uint32_t size;
  std::uint32_t capacity;

  static constexpr std::size_t BytesFor(std::uint32_t capacity) noexcept {
    return sizeof(FieldLeaf) + std::size_t(capacity) * sizeof(FieldEntry);
  }
  FieldEntry* Entries() noexcept { return reinterpret_cast<FieldEntry*>(this + 1); }
  const FieldEntry* Entries() const noexcept { return reinterpret_cast<const FieldEntry*>(this + 1); }
};

// Fields in name order across one or more leaves, none of them empty.
// Appending in name order, as every copy and every codec reading sorted
// output does, fills the last leaf and then starts a new one, so leaves of a
// large structure built in order are full.
struct BindingNode::Structure {
  union {
    FieldLeaf* single = nullptr;  // up to one leaf
    FieldLeaf** directory;  // more: a heap block of leaf pointers
  };
  std::uint32_t count = 0;  // fields
  std::uint32_t leafCount = 0;
  std::uint32_t directoryCapacity = 0;

  FieldLeaf* const* Leaves() const noexcept { return leafCount > 1 ? directory : &single; }
  FieldLeaf** Leaves() noexcept { return leafCount > 1 ? directory : &single; }
};

template <typename Node>
struct BindingField {
  std::string_view name;
  Node& value;
};

template <typename Node>
class BindingFieldIterator {
 public:
  using value_type = BindingField<Node>;
  using difference_type = std::ptrdiff_t;

  BindingFieldIterator() = default;
  BindingField<Node> operator*() const noexcept {
    const BindingNode::FieldEntry& entry = (*leaf_)->Entries()[index_];
    return {entry.key->Text(), *entry.value};
  }
  BindingFieldIterator& operator++() noexcept {
    if (++index_ == (*leaf_)->size) {
      ++leaf_;
      index_ = 0;
    }
    return *this;
  }
  BindingFieldIterator operator++(int) noexcept {
    BindingFieldIterator before = *this;
    ++*this;
    return before;
  }
  friend bool operator==(const BindingFieldIterator&, const BindingFieldIterator&) = default;

 private:
  friend class BindingNode;
  explicit BindingFieldIterator(BindingNode::FieldLeaf* const* leaf) noexcept : leaf_(leaf) {}
  BindingNode::FieldLeaf* const* leaf_ = nullptr;
  std::uint32_t index_ = 0;
};

template <typename Node>
class BindingFieldRange {
 public:
  BindingFieldIterator<Node> begin() const noexcept { return begin_; }
  BindingFieldIterator<Node> end() const noexcept { return end_; }

 private:
  friend class BindingNode;
  BindingFieldRange() noexcept = default;
  BindingFieldRange(BindingFieldIterator<Node> begin, BindingFieldIterator<Node> end) noexcept
      : begin_(begin), end_(end) {}
  BindingFieldIterator<Node> begin_;
  BindingFieldIterator<Node> end_;
};

// A root node with a validity flag, so that one value serves as either a
// result or a failure: an invalid property holds a Structure whose field
// "error" is the failure text. A property is always a root.
class BindingProperty : public BindingNode {
 public:
  BindingProperty() noexcept = default;
  BindingProperty(const BindingProperty& other);
  BindingProperty(BindingProperty&& other) noexcept;
  // From a plain node: a valid property with a copy of its content (or, for
  // a root moved in, its whole tree).
  BindingProperty(const BindingNode& other);
  BindingProperty(BindingNode&& other);
  ~BindingProperty() = default;

  BindingProperty& operator=(const BindingProperty& other);
  // Constant time; the validity flag moves along and `other` is left Empty
  // and valid.
  BindingProperty& operator=(BindingProperty&& other) noexcept;
  BindingProperty& operator=(const BindingNode& other);
  BindingProperty& operator=(BindingNode&& other);

  bool IsValid() const noexcept { return valid_; }
  // Reset, and valid again.
  void Clear() noexcept;
  // Reset, invalid, and the field "error" set to `message`.
  void SetFailure(std::string_view message);
  // The "error" text of an invalid property; "" when valid or when "error"
  // is not a String.
  std::string_view FailureMessage() const noexcept;

 private:
  bool valid_ = true;
};

// ---------------------------------------------------------------------------

inline std::span<BindingNode> BindingNode::Elements() noexcept {
  if (kind_ != BindingKind::Collection) return {};
  return {payload_.collection->data, payload_.collection->size};
}

inline std::span<const BindingNode> BindingNode::Elements() const noexcept {
  if (kind_ != BindingKind::Collection) return {};
  return {payload_.collection->data, payload_.collection->size};
}

inline BindingFieldRange<BindingNode> BindingNode::Fields() noexcept {
  if (kind_ != BindingKind::Structure) return {};
  FieldLeaf* const* leaves = payload_.structure->Leaves();
  return {BindingFieldIterator<BindingNode>(leaves),
          BindingFieldIterator<BindingNode>(leaves + payload_.structure->leafCount)};
}

inline BindingFieldRange<const BindingNode> BindingNode::Fields() const noexcept {
  if (kind_ != BindingKind::Structure) return {};
  FieldLeaf* const* leaves = payload_.structure->Leaves();
  return {BindingFieldIterator<const BindingNode>(leaves),
          BindingFieldIterator<const BindingNode>(leaves + payload_.structure->leafCount)};
}

inline const BindingNode& BindingNode::At(std::uint32_t index) const noexcept {
  if (kind_ == BindingKind::Collection && index < payload_.collection->size)
    return payload_.collection->data[index];
  return EmptyNode();
}

}  // namespace Vexa
