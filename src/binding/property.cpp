#include "binding/property.h"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <new>
#include <stdexcept>
#include <utility>

#include "binding/saturate.h"
#include "binding/fnv1a.h"

namespace Vexa {

namespace {

// Constant-initialised and constantly destroyed, so it is placed in
// read-only memory: a write through a cast-away const faults instead of
// corrupting every later miss.
constexpr BindingNode kEmptyNode{};

[[gnu::always_inline]] inline int CompareText(std::string_view a, std::string_view b) noexcept {
  const std::size_t common = std::min(a.size(), b.size());
  // Field names mostly differ in their first byte; settle those without a
  // call.
  if (common != 0 && a[0] != b[0]) return static_cast<unsigned char>(a[0]) < static_cast<unsigned char>(b[0]) ? -1 : 1;
  if (common != 0) {
    // memcmp compares as unsigned char, the order fields are kept in.
    const int byBytes = std::memcmp(a.data(), b.data(), common);
    if (byBytes != 0) return byBytes;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

template <typename Word>
[[gnu::always_inline]] inline Word LoadWord(const char* at) noexcept {
  Word value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

// Equal texts, without a call for the short ones names mostly are: words
// from both ends of each, which overlap below 16 (or 8) bytes.
[[gnu::always_inline]] inline bool SameText(std::string_view a, std::string_view b) noexcept {
  const std::size_t size = a.size();
  if (size != b.size()) return false;
  auto ends = [&]<typename Word>(Word) {
    const std::size_t last = size - sizeof(Word);
    return LoadWord<Word>(a.data()) == LoadWord<Word>(b.data()) &&
           LoadWord<Word>(a.data() + last) == LoadWord<Word>(b.data() + last);
  };
  if (size >= 8 && size <= 16) return ends(std::uint64_t{});
  if (size >= 4 && size < 8) return ends(std::uint32_t{});
  return std::memcmp(a.data(), b.data(), size) == 0;
}

template <typename Integer>
std::string Decimal(Integer value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

}  // namespace

const char* BindingKindName(BindingKind kind) noexcept {
  switch (kind) {
    case BindingKind::Empty: return "empty";
    case BindingKind::Bool: return "bool";
    case BindingKind::Signed: return "signed";
    case BindingKind::Unsigned: return "unsigned";
    case BindingKind::Float: return "float";
    case BindingKind::String: return "string";
    case BindingKind::Blob: return "blob";
    case BindingKind::Enum: return "enum";
    case BindingKind::Collection: return "collection";
    case BindingKind::Structure: return "structure";
  }
  return "";
}

// ---------------------------------------------------------------------------
// The walks over a tree. None of them recurses: containers still to be
// visited wait in a list threaded through their own first element (its
// storage pointer is the same for the whole tree, so it can hold the link
// for a while and be restored), which needs no memory of its own and so
// cannot fail halfway through a release.

class BindingTreeOps {
 public:
  using Kind = BindingKind;
  using Payload = BindingNode::Payload;
  using Collection = BindingNode::Collection;
  using Structure = BindingNode::Structure;
  using FieldEntry = BindingNode::FieldEntry;
  using FieldLeaf = BindingNode::FieldLeaf;
  using Blob = BindingNode::Blob;

  // Where a field is, or where a new one goes: entry `index` of leaf `leaf`.
  struct Position {
    BindingNode* found = nullptr;
    std::uint32_t leaf = 0;
    std::uint32_t index = 0;
  };

  // Releases a content record by record: strings back to the table, records
  // back to the pools, heap arrays freed.
  static void ReleaseTree(BindingStorage& storage, Kind kind, Payload payload) noexcept {
    Walk(storage, kind, payload);
  }
  static Blob* CreateBlob(BindingStorage& storage, std::span<const std::uint8_t> bytes) {
    if (bytes.size() > 0xFFFFFFFFu) throw std::length_error("blob too long");
    Blob* blob = storage.Create<Blob>();
    if (!bytes.empty()) {
      try {
        blob->data = static_cast<std::uint8_t*>(storage.AllocateBlock(bytes.size()));
      } catch (...) {
        storage.Destroy(blob);
        throw;
      }
      std::memcpy(blob->data, bytes.data(), bytes.size());
      blob->size = static_cast<std::uint32_t>(bytes.size());
    }
    return blob;
  }
  static std::span<const std::uint8_t> BytesOf(const Blob& blob) noexcept { return {blob.data, blob.size}; }
  static bool Contains(BindingStorage& storage, Kind kind, Payload payload, const BindingNode* target) noexcept;
  // Builds a copy of `source` in the Empty node `target`, in target's
  // storage. On failure `target` holds a consistent partial copy.
  static void CopyTree(const BindingNode& source, BindingNode& target);

  // `entry`: the table's entry for `name`, or null when the tree has none.
  static Position Locate(const Structure& structure, std::string_view name, const InternedString* entry) noexcept;
  static Position AppendPosition(const Structure& structure) noexcept {
    if (structure.leafCount == 0) return {};
    return {nullptr, structure.leafCount - 1, structure.Leaves()[structure.leafCount - 1]->size};
  }
  static BindingNode* Lookup(const BindingNode& node, std::string_view name) noexcept;
  // The field named `name`, added when missing: `at` is where it was found
  // or went, `key` the entry of its name.
  static BindingNode* FindOrInsert(BindingStorage& storage, Structure& structure, std::string_view name,
                                   Position& at, const InternedString*& key) {
    BindingStringTable& strings = storage.Strings();
    const std::uint32_t hash = Fnv1a32(name);
    key = strings.Find(name, hash);
    at = Locate(structure, name, key);
    if (at.found) return at.found;
    // A name the table lacks is new to every Structure of the tree.
    key = key ? strings.Retain(key) : strings.InternMissing(name, hash);
    return Insert(storage, structure, at, key);
  }
  // Adds a field under `key`, whose reference it takes over (and releases
  // when it fails).
  static BindingNode* Insert(BindingStorage& storage, Structure& structure, Position at, const InternedString* key);
  // Whether a name the structure lacks goes at the hint's place in its first
  // leaf: strictly between the names around it. The neighbours the hint saw
  // there settle it without a compare; new ones, once compared, replace them.
  static bool FitsBetween(const Structure& structure, std::string_view name, BindingFieldHint& hint) noexcept {
    if (structure.leafCount > 1) return false;
    const std::uint32_t size = structure.leafCount == 0 ? 0 : structure.single->size;
    if (hint.index > size) return false;
    const FieldEntry* entries = size == 0 ? nullptr : structure.single->Entries();
    const InternedString* lower = hint.index == 0 ? nullptr : entries[hint.index - 1].key;
    const InternedString* upper = hint.index == size ? nullptr : entries[hint.index].key;
    if (lower == hint.lower && upper == hint.upper) return true;
    if ((lower && CompareText(lower->Text(), name) >= 0) || (upper && CompareText(name, upper->Text()) >= 0))
      return false;
    hint.lower = lower;
    hint.upper = upper;
    return true;
  }
  // Sizes the first leaf of a Structure with at most one leaf for `count`.
  static void ReserveFields(BindingStorage& storage, Structure& structure, std::uint32_t count);
  static void Reallocate(BindingStorage& storage, Collection& collection, std::uint32_t capacity);
  // Element arrays that fit a pool slot come from the pools, larger ones
  // from the heap.
  static constexpr std::uint32_t kPooledElements = BindingStorage::kMaxSlotSize / sizeof(BindingNode);
  static void FreeElements(BindingStorage& storage, Collection& collection) noexcept {
    if (collection.capacity > kPooledElements) storage.FreeBlock(collection.data);
    else if (collection.data) storage.Release(collection.data, std::size_t(collection.capacity) * sizeof(BindingNode));
  }

 private:
  class Pending {
   public:
    explicit Pending(BindingStorage* storage) noexcept : storage_(storage) {}
    bool Empty() const noexcept { return collections_ == nullptr && structures_ == nullptr; }
    void Push(Collection* collection) noexcept {
      collection->data[0].storage_ = reinterpret_cast<BindingStorage*>(collections_);
      collections_ = collection;
    }
    void Push(Structure* structure) noexcept {
      FirstValue(*structure).storage_ = reinterpret_cast<BindingStorage*>(structures_);
      structures_ = structure;
    }
    Collection* PopCollection() noexcept {
      Collection* top = collections_;
      if (top) {
        collections_ = reinterpret_cast<Collection*>(top->data[0].storage_);
        top->data[0].storage_ = storage_;
      }
      return top;
    }
    Structure* PopStructure() noexcept {
      Structure* top = structures_;
      if (top) {
        structures_ = reinterpret_cast<Structure*>(FirstValue(*top).storage_);
        FirstValue(*top).storage_ = storage_;
      }
      return top;
    }
    // Queues a container that has children; true when it was queued.
    bool PushIfParent(Kind kind, Payload payload) noexcept {
      if (kind == Kind::Collection && payload.collection->size != 0) {
        Push(payload.collection);
        return true;
      }
      if (kind == Kind::Structure && payload.structure->count != 0) {
        Push(payload.structure);
        return true;
      }
      return false;
    }

   private:
    static BindingNode& FirstValue(Structure& structure) noexcept {
      return *structure.Leaves()[0]->Entries()[0].value;
    }

    BindingStorage* storage_;
    Collection* collections_ = nullptr;
    Structure* structures_ = nullptr;
  };

  static void ReleaseOne(Pending& pending, BindingStorage& storage, Kind kind, Payload payload) noexcept {
    switch (kind) {
      case Kind::String:
        storage.Strings().Release(payload.string);
        break;
      case Kind::Blob:
        storage.FreeBlock(payload.blob->data);
        storage.Destroy(payload.blob);
        break;
      case Kind::Enum:
        storage.Destroy(payload.enumValue);
        break;
      case Kind::Collection:
      case Kind::Structure:
        if (pending.PushIfParent(kind, payload)) break;
        if (kind == Kind::Collection) {
          FreeElements(storage, *payload.collection);
          storage.Destroy(payload.collection);
        } else {
          storage.Destroy(payload.structure);
        }
        break;
      default:
        break;
    }
  }

  static void Walk(BindingStorage& storage, Kind kind, Payload payload) noexcept {
    Pending pending(&storage);
    ReleaseOne(pending, storage, kind, payload);
    while (!pending.Empty()) {
      if (Collection* collection = pending.PopCollection()) {
        for (std::uint32_t i = 0; i < collection->size; ++i) {
          const BindingNode& element = collection->data[i];
          ReleaseOne(pending, storage, element.kind_, element.payload_);
        }
        // The elements need no destructor: their content is released above.
        FreeElements(storage, *collection);
        storage.Destroy(collection);
      } else if (Structure* structure = pending.PopStructure()) {
        FieldLeaf* const* leaves = structure->Leaves();
        for (std::uint32_t leaf = 0; leaf < structure->leafCount; ++leaf) {
          const FieldEntry* entries = leaves[leaf]->Entries();
          for (std::uint32_t i = 0; i < leaves[leaf]->size; ++i) {
            ReleaseOne(pending, storage, entries[i].value->kind_, entries[i].value->payload_);
            storage.Strings().Release(entries[i].key);
            storage.Release(entries[i].value, sizeof(BindingNode));
          }
          FreeLeaf(storage, leaves[leaf]);
        }
        if (structure->leafCount > 1) storage.FreeBlock(structure->directory);
        storage.Destroy(structure);
      }
    }
  }

  static void CopyShallow(const BindingNode& from, BindingNode& to, BindingStorage& storage,
                          BindingNode*& pending);
  static void CopyChild(const BindingNode& from, BindingNode& to, BindingStorage& storage,
                        BindingNode*& pending) {
    const bool parent = (from.kind_ == Kind::Collection && from.payload_.collection->size != 0) ||
                        (from.kind_ == Kind::Structure && from.payload_.structure->count != 0);
    if (!parent) {
      CopyShallow(from, to, storage, pending);
      return;
    }
    // Waits, Empty, in its final place; the link rides in its storage field.
    to.payload_.copySource = &from;
    to.storage_ = reinterpret_cast<BindingStorage*>(pending);
    pending = &to;
  }
  static const InternedString* CopyString(const BindingNode& from, const InternedString* text,
                                          BindingStorage& storage) {
    if (from.storage_ == &storage) return storage.Strings().Retain(text);
    return storage.Strings().Intern(text->Text(), text->Hash());
  }

  static FieldLeaf* NewLeaf(BindingStorage& storage, std::uint32_t capacity) {
    const std::size_t bytes = FieldLeaf::BytesFor(capacity);
    void* memory = capacity <= FieldLeaf::kPooledCapacity ? storage.Allocate(bytes) : storage.AllocateBlock(bytes);
    return new (memory) FieldLeaf{0, capacity};
  }
  static void FreeLeaf(BindingStorage& storage, FieldLeaf* leaf) noexcept {
    if (leaf->capacity <= FieldLeaf::kPooledCapacity) storage.Release(leaf, FieldLeaf::BytesFor(leaf->capacity));
    else storage.FreeBlock(leaf);
  }
  static void ResizeLeaf(BindingStorage& storage, FieldLeaf*& leaf, std::uint32_t capacity) {
    FieldLeaf* fresh = NewLeaf(storage, capacity);
    fresh->size = leaf->size;
    std::memcpy(fresh->Entries(), leaf->Entries(), leaf->size * sizeof(FieldEntry));
    FreeLeaf(storage, leaf);
    leaf = fresh;
  }
  static void MakeRoom(BindingStorage& storage, Structure& structure, Position& at);
  static void InsertLeaf(BindingStorage& storage, Structure& structure, std::uint32_t index, FieldLeaf* leaf);
};

bool BindingTreeOps::Contains(BindingStorage& storage, Kind kind, Payload payload,
                              const BindingNode* target) noexcept {
  Pending pending(&storage);
  bool found = false;
  pending.PushIfParent(kind, payload);
  // Once found, the rest of the list is only drained, to restore its links.
  while (!pending.Empty()) {
    if (Collection* collection = pending.PopCollection()) {
      for (std::uint32_t i = 0; i < collection->size && !found; ++i) {
        const BindingNode& element = collection->data[i];
        if (&element == target) found = true;
        else pending.PushIfParent(element.kind_, element.payload_);
      }
    } else if (Structure* structure = pending.PopStructure()) {
      FieldLeaf* const* leaves = structure->Leaves();
      for (std::uint32_t leaf = 0; leaf < structure->leafCount && !found; ++leaf) {
        const FieldEntry* entries = leaves[leaf]->Entries();
        for (std::uint32_t i = 0; i < leaves[leaf]->size && !found; ++i) {
          if (entries[i].value == target) found = true;
          else pending.PushIfParent(entries[i].value->kind_, entries[i].value->payload_);
        }
      }
    }
  }
  return found;
}

void BindingTreeOps::CopyTree(const BindingNode& source, BindingNode& target) {
  BindingStorage& storage = *target.storage_;
  BindingNode* pending = nullptr;
  try {
    CopyShallow(source, target, storage, pending);
    while (pending) {
      BindingNode* to = pending;
      pending = reinterpret_cast<BindingNode*>(to->storage_);
      to->storage_ = &storage;
      const BindingNode* from = to->payload_.copySource;
      to->payload_.bits = 0;
      CopyShallow(*from, *to, storage, pending);
    }
  } catch (...) {
    // The waiting nodes become plain Empty nodes again, so the partial copy
    // can be released like any tree.
    while (pending) {
      BindingNode* to = pending;
      pending = reinterpret_cast<BindingNode*>(to->storage_);
      to->storage_ = &storage;
      to->payload_.bits = 0;
    }
    throw;
  }
}

void BindingTreeOps::CopyShallow(const BindingNode& from, BindingNode& to, BindingStorage& storage,
                                 BindingNode*& pending) {
  Payload payload;
  switch (from.kind_) {
    case Kind::Empty:
      return;
    case Kind::String:
      payload.string = CopyString(from, from.payload_.string, storage);
      break;
    case Kind::Blob:
      payload.blob = CreateBlob(storage, BytesOf(*from.payload_.blob));
      break;
    case Kind::Enum:
      payload.enumValue = storage.Create<EnumValue>(*from.payload_.enumValue);
      break;
    case Kind::Collection: {
      const Collection& source = *from.payload_.collection;
      payload.collection = storage.Create<Collection>();
      // Installed before it is filled: whatever fails later leaves a
      // consistent, releasable node.
      to.Install(Kind::Collection, payload);
      if (source.size == 0) return;
      Reallocate(storage, *payload.collection, source.size);
      Collection& copy = *payload.collection;
      for (std::uint32_t i = 0; i < source.size; ++i) new (&copy.data[i]) BindingNode(BindingNode::ChildTag{}, &storage);
      copy.size = source.size;
      for (std::uint32_t i = 0; i < source.size; ++i) CopyChild(source.data[i], copy.data[i], storage, pending);
      return;
    }
    case Kind::Structure: {
      const Structure& source = *from.payload_.structure;
      payload.structure = storage.Create<Structure>();
      to.Install(Kind::Structure, payload);
      Structure& copy = *payload.structure;
      ReserveFields(storage, copy, source.count);
      // In name order, so each field is appended after the last.
      FieldLeaf* const* leaves = source.Leaves();
      for (std::uint32_t leaf = 0; leaf < source.leafCount; ++leaf) {
        const FieldEntry* entries = leaves[leaf]->Entries();
        for (std::uint32_t i = 0; i < leaves[leaf]->size; ++i) {
          const InternedString* key = CopyString(from, entries[i].key, storage);
          BindingNode* field = Insert(storage, copy, AppendPosition(copy), key);
          CopyChild(*entries[i].value, *field, storage, pending);
        }
      }
      return;
    }
    default:  // scalars
      payload = from.payload_;
      break;
  }
  to.Install(from.kind_, payload);
}

BindingTreeOps::Position BindingTreeOps::Locate(const Structure& structure, std::string_view name,
                                                const InternedString* entry) noexcept {
  if (structure.count == 0) return {};
  // Interned keys are unique per tree: equal text means the same entry.
  auto compare = [&](const FieldEntry& field) {
    return field.key == entry ? 0 : CompareText(name, field.key->Text());
  };
  auto last = [](const FieldLeaf* leaf) -> const FieldEntry& { return leaf->Entries()[leaf->size - 1]; };
  FieldLeaf* const* leaves = structure.Leaves();
  std::uint32_t high = structure.leafCount - 1;
  // Names arriving in order are the common case: settled by one compare.
  int order = compare(last(leaves[high]));
  if (order == 0) return {last(leaves[high]).value, high, leaves[high]->size - 1};
  if (order > 0) return {nullptr, high, leaves[high]->size};
  // The first leaf whose last name is not below `name`; the last one is above it.
  std::uint32_t low = 0;
  while (low < high) {
    const std::uint32_t middle = low + (high - low) / 2;
    order = compare(last(leaves[middle]));
    if (order == 0) return {last(leaves[middle]).value, middle, leaves[middle]->size - 1};
    if (order < 0) high = middle;
    else low = middle + 1;
  }
  const std::uint32_t leaf = low;
  const FieldEntry* entries = leaves[leaf]->Entries();
  high = leaves[leaf]->size - 1;
  low = 0;
  while (low < high) {
    const std::uint32_t middle = low + (high - low) / 2;
    order = compare(entries[middle]);
    if (order == 0) return {entries[middle].value, leaf, middle};
    if (order < 0) high = middle;
    else low = middle + 1;
  }
  return {nullptr, leaf, low};
}

BindingNode* BindingTreeOps::Lookup(const BindingNode& node, std::string_view name) noexcept {
  if (node.kind_ != Kind::Structure) return nullptr;
  const InternedString* entry = node.storage_->Strings().Find(name);
  if (!entry) return nullptr;  // a name the tree has never seen
  return Locate(*node.payload_.structure, name, entry).found;
}

BindingNode* BindingTreeOps::Insert(BindingStorage& storage, Structure& structure, Position at,
                                    const InternedString* key) {
  BindingNode* value;
  try {
    if (structure.count == 0xFFFFFFFFu) throw std::length_error("map/set too long");
    if (structure.leafCount == 0 || structure.Leaves()[at.leaf]->size == structure.Leaves()[at.leaf]->capacity)
      MakeRoom(storage, structure, at);
    value = new (storage.Allocate(sizeof(BindingNode))) BindingNode(BindingNode::ChildTag{}, &storage);
  } catch (...) {
    storage.Strings().Release(key);
    throw;
  }
  FieldLeaf& leaf = *structure.Leaves()[at.leaf];
  FieldEntry* entries = leaf.Entries();
  // Mostly a few entries: moved without a call.
  for (std::uint32_t i = leaf.size; i > at.index; --i) entries[i] = entries[i - 1];
  entries[at.index] = {key, value};
  ++leaf.size;
  ++structure.count;
  return value;
}

// For a field about to go into a full leaf, or the first field. Leaves grow
// by doubling up to their bound. A full one splits in half, or,
// when the field goes after the last, is followed by a new leaf, so that a
// structure built in order keeps its leaves full.
void BindingTreeOps::MakeRoom(BindingStorage& storage, Structure& structure, Position& at) {
  if (structure.leafCount == 0) {
    // Before the first field, the directory's capacity is the first leaf's,
    // when reserved.
    structure.single = NewLeaf(storage, structure.directoryCapacity != 0 ? structure.directoryCapacity : 2);
    structure.directoryCapacity = 0;
    structure.leafCount = 1;
    return;
  }
  FieldLeaf*& leaf = structure.Leaves()[at.leaf];
  if (leaf->capacity < FieldLeaf::kMaxCapacity) {
    ResizeLeaf(storage, leaf, std::min(leaf->capacity * 2, FieldLeaf::kMaxCapacity));
    return;
  }
  const bool append = at.leaf == structure.leafCount - 1 && at.index == leaf->size;
  FieldLeaf* fresh = NewLeaf(storage, append ? 2 : FieldLeaf::kMaxCapacity);
  try {
    InsertLeaf(storage, structure, at.leaf + 1, fresh);
  } catch (...) {
    FreeLeaf(storage, fresh);
    throw;
  }
  if (append) {
    at = {nullptr, at.leaf + 1, 0};
    return;
  }
  FieldLeaf& full = *structure.Leaves()[at.leaf];
  const std::uint32_t keep = full.size / 2;
  fresh->size = full.size - keep;
  std::memcpy(fresh->Entries(), full.Entries() + keep, fresh->size * sizeof(FieldEntry));
  full.size = keep;
  if (at.index > keep) {
    at.leaf += 1;
    at.index -= keep;
  }
}

void BindingTreeOps::InsertLeaf(BindingStorage& storage, Structure& structure, std::uint32_t index,
                                FieldLeaf* leaf) {
  if (structure.leafCount == 1 || structure.leafCount == structure.directoryCapacity) {
    const std::uint32_t capacity = std::max<std::uint32_t>(structure.directoryCapacity * 2, 4);
    auto* directory = static_cast<FieldLeaf**>(storage.AllocateBlock(capacity * sizeof(FieldLeaf*)));
    std::memcpy(directory, structure.Leaves(), structure.leafCount * sizeof(FieldLeaf*));
    if (structure.leafCount > 1) storage.FreeBlock(structure.directory);
    structure.directory = directory;
    structure.directoryCapacity = capacity;
  }
  FieldLeaf** leaves = structure.directory;
  std::memmove(leaves + index + 1, leaves + index, (structure.leafCount - index) * sizeof(FieldLeaf*));
  leaves[index] = leaf;
  ++structure.leafCount;
}

void BindingTreeOps::ReserveFields(BindingStorage& storage, Structure& structure, std::uint32_t count) {
  count = std::min(count, FieldLeaf::kMaxCapacity);
  if (structure.leafCount == 0) structure.directoryCapacity = std::max(structure.directoryCapacity, count);
  else if (structure.leafCount == 1 && structure.single->capacity < count) ResizeLeaf(storage, structure.single, count);
}

void BindingTreeOps::Reallocate(BindingStorage& storage, Collection& collection, std::uint32_t capacity) {
  const std::size_t bytes = std::size_t(capacity) * sizeof(BindingNode);
  auto* fresh = static_cast<BindingNode*>(capacity <= kPooledElements ? storage.Allocate(bytes)
                                                                       : storage.AllocateBlock(bytes));
  // Elements hold no pointers to themselves, so moving one is a copy of its
  // fields; the old ones are simply dropped.
  for (std::uint32_t i = 0; i < collection.size; ++i) {
    BindingNode* moved = new (&fresh[i]) BindingNode(BindingNode::ChildTag{}, &storage);
    moved->Install(collection.data[i].kind_, collection.data[i].payload_);
  }
  FreeElements(storage, collection);
  collection.data = fresh;
  collection.capacity = capacity;
}

// ---------------------------------------------------------------------------
// BindingNode

const BindingNode& BindingNode::EmptyNode() noexcept { return kEmptyNode; }

BindingNode::BindingNode(const BindingNode& other) : BindingNode() { CopyFrom(other); }

BindingNode::BindingNode(BindingNode&& other) : BindingNode() { MoveFrom(other); }

BindingNode& BindingNode::operator=(const BindingNode& other) {
  CopyFrom(other);
  return *this;
}

BindingNode& BindingNode::operator=(BindingNode&& other) {
  MoveFrom(other);
  return *this;
}

void BindingNode::Destroy() noexcept {
  if (ownsStorage_ && storage_) {
    delete storage_;  // every record and string goes with its pools
    storage_ = nullptr;
    kind_ = BindingKind::Empty;
  } else {
    ReleaseContent();
  }
}

void BindingNode::Reset() noexcept {
  if (kind_ == BindingKind::Empty) return;
  if (ownsStorage_ && (kind_ == BindingKind::Collection || kind_ == BindingKind::Structure)) {
    // The whole tree is this root's content: free it wholesale, page by
    // page, instead of record by record.
    storage_->ReleaseAll();
    kind_ = BindingKind::Empty;
    payload_.bits = 0;
    return;
  }
  ReleaseContent();
}

void BindingNode::ReleaseContent() noexcept {
  // An empty String may sit on a root that has no storage.
  if (HoldsRecord() && !(kind_ == BindingKind::String && payload_.string == BindingStringTable::Empty()))
    BindingTreeOps::ReleaseTree(*storage_, kind_, payload_);
  kind_ = BindingKind::Empty;
  payload_.bits = 0;
}

BindingStorage& BindingNode::EnsureStorage() {
  if (!storage_) {
    assert(ownsStorage_);
    storage_ = new BindingStorage();
  }
  return *storage_;
}

void BindingNode::CopyFrom(const BindingNode& source) {
  if (this == &source) return;
  if (!source.HoldsRecord() ||
      (source.kind_ == BindingKind::String && source.payload_.string == BindingStringTable::Empty())) {
    const Payload payload = source.payload_;  // read before a reset can free it
    const BindingKind kind = source.kind_;
    Reset();
    Install(kind, payload);
    return;
  }
  if (storage_ && storage_ == source.storage_) {
    // Same tree: the source may lie inside this node's content or this node
    // inside the source. Build the copy aside, then swap it in.
    BindingNode copy(ChildTag{}, storage_);
    BindingTreeOps::CopyTree(source, copy);
    ReleaseContent();
    Install(copy.kind_, copy.payload_);
    copy.kind_ = BindingKind::Empty;
    copy.payload_.bits = 0;
    return;
  }
  Reset();
  EnsureStorage();
  try {
    BindingTreeOps::CopyTree(source, *this);
  } catch (...) {
    Reset();
    throw;
  }
}

void BindingNode::MoveFrom(BindingNode& source) {
  if (this == &source) return;
  if (ownsStorage_ && source.ownsStorage_) {
    MoveRoot(source);
    return;
  }
  if (storage_ && storage_ == source.storage_) {
    // Same tree: hand the content over as it is, no copy needed.
    const Payload payload = source.payload_;
    const BindingKind kind = source.kind_;
    source.kind_ = BindingKind::Empty;
    source.payload_.bits = 0;
    if (!ownsStorage_ && BindingTreeOps::Contains(*storage_, kind, payload, this)) {
      // This node is inside what moves: resetting the source takes it away.
      BindingTreeOps::ReleaseTree(*storage_, kind, payload);
      return;
    }
    ReleaseContent();
    Install(kind, payload);
    return;
  }
  CopyFrom(source);
  source.Reset();
}

void BindingNode::MoveRoot(BindingNode& other) noexcept {
  std::swap(payload_, other.payload_);
  std::swap(storage_, other.storage_);
  std::swap(kind_, other.kind_);
  other.Reset();
}

std::uint32_t BindingNode::Size() const noexcept {
  switch (kind_) {
    case BindingKind::Empty: return 0;
    case BindingKind::String: return payload_.string->Size();
    case BindingKind::Blob: return payload_.blob->size;
    case BindingKind::Collection: return payload_.collection->size;
    case BindingKind::Structure: return payload_.structure->count;
    default: return 1;
  }
}

bool BindingNode::GetBool(bool defaultValue) const noexcept {
  return kind_ == BindingKind::Bool ? payload_.boolean : defaultValue;
}

std::int64_t BindingNode::GetSigned(std::int64_t defaultValue) const noexcept {
  return kind_ == BindingKind::Signed ? payload_.signedValue : defaultValue;
}

std::uint64_t BindingNode::GetUnsigned(std::uint64_t defaultValue) const noexcept {
  return kind_ == BindingKind::Unsigned ? payload_.bits : defaultValue;
}

double BindingNode::GetFloat(double defaultValue) const noexcept {
  return kind_ == BindingKind::Float ? payload_.floatValue : defaultValue;
}

std::string_view BindingNode::GetString(std::string_view defaultValue) const noexcept {
  return kind_ == BindingKind::String ? payload_.string->Text() : defaultValue;
}

std::span<const std::uint8_t> BindingNode::GetBlob(std::span<const std::uint8_t> defaultValue) const noexcept {
  return kind_ == BindingKind::Blob ? BindingTreeOps::BytesOf(*payload_.blob) : defaultValue;
}

EnumValue BindingNode::GetEnum(EnumValue defaultValue) const noexcept {
  return kind_ == BindingKind::Enum ? *payload_.enumValue : defaultValue;
}

std::int64_t BindingNode::GetInteger(std::int64_t defaultValue) const noexcept {
  switch (kind_) {
    case BindingKind::Signed: return payload_.signedValue;
    case BindingKind::Unsigned: return static_cast<std::int64_t>(payload_.bits);
    case BindingKind::Float: return SaturateToInt64(payload_.floatValue);
    default: return defaultValue;
  }
}

std::uint64_t BindingNode::GetUnsignedInteger(std::uint64_t defaultValue) const noexcept {
  switch (kind_) {
    case BindingKind::Signed: return static_cast<std::uint64_t>(payload_.signedValue);
    case BindingKind::Unsigned: return payload_.bits;
    case BindingKind::Float: return SaturateToUInt64(payload_.floatValue);
    default: return defaultValue;
  }
}

bool BindingNode::ToBool() const noexcept {
  switch (kind_) {
    case BindingKind::Bool: return payload_.boolean;
    case BindingKind::Signed: return payload_.signedValue != 0;
    case BindingKind::Unsigned: return payload_.bits != 0;
    case BindingKind::Float: return payload_.floatValue != 0.0;  // NaN too
    case BindingKind::String: {
      const std::string_view text = payload_.string->Text();
      return text == "true" || text == "1";
    }
    case BindingKind::Blob: return payload_.blob->size != 0;
    case BindingKind::Enum: return payload_.enumValue->value != 0;
    case BindingKind::Collection: return payload_.collection->size != 0;
    case BindingKind::Structure: return payload_.structure->count != 0;
    default: return false;
  }
}

std::int64_t BindingNode::ToInt64(std::int64_t defaultValue) const noexcept {
  switch (kind_) {
    case BindingKind::Bool: return payload_.boolean ? 1 : 0;
    case BindingKind::Signed: return payload_.signedValue;
    case BindingKind::Unsigned: return static_cast<std::int64_t>(payload_.bits);
    case BindingKind::Float: return SaturateToInt64(payload_.floatValue);
    // The text is NUL-terminated; an embedded NUL ends the number like any
    // other non-digit.
    case BindingKind::String: return std::strtoll(payload_.string->Data(), nullptr, 0);
    case BindingKind::Enum: return payload_.enumValue->value;
    default: return defaultValue;
  }
}

std::uint64_t BindingNode::ToUInt64(std::uint64_t defaultValue) const noexcept {
  switch (kind_) {
    case BindingKind::Bool: return payload_.boolean ? 1 : 0;
    case BindingKind::Signed: return static_cast<std::uint64_t>(payload_.signedValue);
    case BindingKind::Unsigned: return payload_.bits;
    case BindingKind::Float: return SaturateToUInt64(payload_.floatValue);
    case BindingKind::String: return std::strtoull(payload_.string->Data(), nullptr, 0);
    case BindingKind::Enum: return static_cast<std::uint64_t>(std::int64_t(payload_.enumValue->value));
    default: return defaultValue;
  }
}

std::string BindingNode::ToText() const {
  switch (kind_) {
    case BindingKind::Bool: return payload_.boolean ? "true" : "false";
    case BindingKind::Signed: return Decimal(payload_.signedValue);
    case BindingKind::Unsigned: return Decimal(payload_.bits);
    case BindingKind::Enum: return Decimal(payload_.enumValue->value);
    case BindingKind::Float: {
      // "%f" of the largest double is 309 digits and six decimals.
      char buffer[400];
      const int length = std::snprintf(buffer, sizeof buffer, "%f", payload_.floatValue);
      return std::string(buffer, length > 0 ? std::size_t(length) : 0);
    }
    case BindingKind::String: return std::string(payload_.string->Text());
    case BindingKind::Blob: return Base64(BindingTreeOps::BytesOf(*payload_.blob));
    default: return {};
  }
}

void BindingNode::SetBool(bool value) {
  Payload payload;
  payload.boolean = value;
  SetScalar(BindingKind::Bool, payload);
}

void BindingNode::SetFloat(double value) {
  Payload payload;
  payload.floatValue = value;
  SetScalar(BindingKind::Float, payload);
}

void BindingNode::SetString(std::string_view text) {
  Payload payload;
  if (text.empty()) {
    payload.string = BindingStringTable::Empty();
    Reset();
    Install(BindingKind::String, payload);
    return;
  }
  // Interned before the old content goes: `text` may be that content. The
  // old content is then released record by record, since the new string
  // already lives in the same storage.
  payload.string = EnsureStorage().Strings().Intern(text);
  ReleaseContent();
  Install(BindingKind::String, payload);
}

void BindingNode::SetBlob(std::span<const std::uint8_t> bytes) {
  Payload payload;
  payload.blob = BindingTreeOps::CreateBlob(EnsureStorage(), bytes);
  ReleaseContent();
  Install(BindingKind::Blob, payload);
}

void BindingNode::SetBlob(BindingBlob&& bytes) { SetBlob(std::span<const std::uint8_t>(bytes)); }

void BindingNode::SetEnum(EnumValue value) {
  Payload payload;
  payload.enumValue = EnsureStorage().Create<EnumValue>(value);
  ReleaseContent();
  Install(BindingKind::Enum, payload);
}

void BindingNode::MakeCollection() {
  if (kind_ == BindingKind::Collection) return;
  BindingStorage& storage = EnsureStorage();
  Reset();
  Payload payload;
  payload.collection = storage.Create<Collection>();
  Install(BindingKind::Collection, payload);
}

void BindingNode::MakeStructure() {
  if (kind_ == BindingKind::Structure) return;
  BindingStorage& storage = EnsureStorage();
  Reset();
  Payload payload;
  payload.structure = storage.Create<Structure>();
  Install(BindingKind::Structure, payload);
}

void BindingNode::Reserve(std::size_t count) {
  if (kind_ == BindingKind::Structure) {
    BindingTreeOps::ReserveFields(*storage_, *payload_.structure,
                                  static_cast<std::uint32_t>(std::min<std::size_t>(count, FieldLeaf::kMaxCapacity)));
    return;
  }
  if (kind_ != BindingKind::Collection) return;
  if (count > kMaxElements) throw std::length_error("vector<T> too long");
  Collection& collection = *payload_.collection;
  if (count > collection.capacity)
    BindingTreeOps::Reallocate(*storage_, collection, static_cast<std::uint32_t>(count));
}

void BindingNode::GrowCollection(std::uint64_t size) {
  if (size > kMaxElements) throw std::length_error("vector<T> too long");
  Collection& collection = *payload_.collection;
  if (size > collection.capacity) {
    // Four to begin with: short lists are common, and each step costs a heap
    // block and a copy.
    const std::uint64_t doubled =
        std::min<std::uint64_t>(std::max<std::uint64_t>(std::uint64_t(collection.capacity) * 2, 4), kMaxElements);
    BindingTreeOps::Reallocate(*storage_, collection, static_cast<std::uint32_t>(std::max(size, doubled)));
  }
  for (std::uint32_t i = collection.size; i < size; ++i) new (&collection.data[i]) BindingNode(ChildTag{}, storage_);
  collection.size = static_cast<std::uint32_t>(size);
}

BindingNode& BindingNode::At(std::uint32_t index) {
  if (kind_ != BindingKind::Collection) MakeCollection();
  Collection& collection = *payload_.collection;
  if (index >= collection.size) GrowCollection(std::uint64_t(index) + 1);
  return collection.data[index];
}

BindingNode& BindingNode::Field(std::string_view name) {
  if (kind_ == BindingKind::Structure) {
    BindingTreeOps::Position at;
    const InternedString* key;
    return *BindingTreeOps::FindOrInsert(*storage_, *payload_.structure, name, at, key);
  }
  BindingStorage& storage = EnsureStorage();
  // The name may be part of the content about to be discarded.
  const InternedString* key = storage.Strings().Intern(name);
  ReleaseContent();
  Payload payload;
  try {
    payload.structure = storage.Create<Structure>();
  } catch (...) {
    storage.Strings().Release(key);
    throw;
  }
  Install(BindingKind::Structure, payload);
  return *BindingTreeOps::Insert(storage, *payload.structure, {}, key);
}

BindingNode& BindingNode::Field(std::string_view name, BindingFieldHint& hint) {
  if (kind_ == BindingKind::Structure && hint.name != nullptr && hint.storage == storage_ &&
      hint.generation == storage_->Strings().Generation() && SameText(hint.name->Text(), name) &&
      BindingTreeOps::FitsBetween(*payload_.structure, name, hint))
    return *BindingTreeOps::Insert(*storage_, *payload_.structure, {nullptr, 0, hint.index},
                                   storage_->Strings().Retain(hint.name));
  return FieldAndHint(name, hint);
}

// Out of line, so that the call the hint settles saves no registers for it.
[[gnu::noinline]] BindingNode& BindingNode::FieldAndHint(std::string_view name, BindingFieldHint& hint) {
  if (kind_ != BindingKind::Structure) {
    BindingNode& field = Field(name);
    hint = {storage_, storage_->Strings().Generation(), payload_.structure->single->Entries()[0].key, nullptr,
            nullptr, 0};
    return field;
  }
  Structure& structure = *payload_.structure;
  BindingTreeOps::Position at;
  const InternedString* key;
  BindingNode& field = *BindingTreeOps::FindOrInsert(*storage_, structure, name, at, key);
  // Places in later runs move as earlier runs split.
  hint = {storage_, storage_->Strings().Generation(), nullptr, nullptr, nullptr, at.index};
  if (at.leaf == 0) {
    const FieldLeaf& leaf = *structure.Leaves()[0];
    hint.name = key;
    hint.lower = at.index == 0 ? nullptr : leaf.Entries()[at.index - 1].key;
    hint.upper = at.index + 1 == leaf.size ? nullptr : leaf.Entries()[at.index + 1].key;
  }
  return field;
}

const BindingNode& BindingNode::Find(std::string_view name) const noexcept {
  const BindingNode* node = BindingTreeOps::Lookup(*this, name);
  return node ? *node : kEmptyNode;
}

bool BindingNode::HasField(std::string_view name) const noexcept {
  return BindingTreeOps::Lookup(*this, name) != nullptr;
}

// ---------------------------------------------------------------------------
// BindingProperty

BindingProperty::BindingProperty(const BindingProperty& other)
    : BindingNode(static_cast<const BindingNode&>(other)), valid_(other.valid_) {}

BindingProperty::BindingProperty(BindingProperty&& other) noexcept : valid_(other.valid_) {
  MoveRoot(other);
  other.valid_ = true;
}

BindingProperty::BindingProperty(const BindingNode& other) : BindingNode(other) {}

BindingProperty::BindingProperty(BindingNode&& other) : BindingNode(std::move(other)) {}

BindingProperty& BindingProperty::operator=(const BindingProperty& other) {
  BindingNode::operator=(static_cast<const BindingNode&>(other));
  valid_ = other.valid_;
  return *this;
}

BindingProperty& BindingProperty::operator=(BindingProperty&& other) noexcept {
  if (this != &other) {
    MoveRoot(other);
    valid_ = other.valid_;
    other.valid_ = true;
  }
  return *this;
}

BindingProperty& BindingProperty::operator=(const BindingNode& other) {
  BindingNode::operator=(other);
  valid_ = true;
  return *this;
}

BindingProperty& BindingProperty::operator=(BindingNode&& other) {
  BindingNode::operator=(std::move(other));
  valid_ = true;
  return *this;
}

void BindingProperty::Clear() noexcept {
  Reset();
  valid_ = true;
}

void BindingProperty::SetFailure(std::string_view message) {
  // The message may be text of this very tree, which the reset frees.
  const std::string copy = GetKind() >= BindingKind::String ? std::string(message) : std::string();
  const std::string_view text = GetKind() >= BindingKind::String ? std::string_view(copy) : message;
  Reset();
  valid_ = false;
  Field("error").SetString(text);
}

std::string_view BindingProperty::FailureMessage() const noexcept {
  if (valid_) return {};
  return Find("error").GetString();
}

}  // namespace Vexa
