// The memory behind one BindingProperty tree: fixed-size slots for its small
// records, the table of its interned texts, and the process-wide supply of
// pages that both draw on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>

#include "os/lock.h"

namespace Vexa {

namespace Os {
class Env;
}

// Hands out 4 KiB pages cut from 64 KiB regions of address space. A region
// goes back to the system once all 16 of its pages are free and the bounded
// stock of spare regions is full. Shared by every tree of the process, hence
// the lock; pools come here only for a fresh page or to give one back, never
// per record.
class BindingPageProvider {
 public:
  static constexpr std::size_t kPageSize = 4096;
  static constexpr std::size_t kPagesPerRegion = 16;
  // What the process-wide provider keeps mapped when no page is in use:
  // 64 MiB, what glibc's heap keeps at its top for the next allocations. The
  // first write to a freshly mapped page costs microseconds (far more under
  // a hypervisor), more than building the records in it; a process that
  // parses one large message after another would pay that for every page.
  // Only pages that were really in use ever become spares.
  static constexpr std::size_t kProcessSpareRegions = 1024;
  static constexpr std::size_t kRegionSize = kPageSize * kPagesPerRegion;

  // The one instance every pool uses. It is never destroyed, so trees that
  // outlive static destruction can still give their pages back.
  static BindingPageProvider& Process() noexcept;

  // `spareRegions`: how many wholly free regions stay mapped for the next
  // tree instead of going back at once. Mapping and unmapping a region costs
  // more than building a small tree in it, and a process that builds and
  // drops one message tree at a time would otherwise pay it for every tree.
  explicit BindingPageProvider(std::size_t spareRegions = 0) noexcept : spareLimit_(spareRegions) {}
  // Unmaps whatever is still mapped (a provider of its own, in tests).
  ~BindingPageProvider();
  BindingPageProvider(const BindingPageProvider&) = delete;
  BindingPageProvider& operator=(const BindingPageProvider&) = delete;

  // Throws std::bad_alloc when the system refuses a new region.
  void* AcquirePage();
  void ReleasePage(void* page) noexcept;

  // While one is alive, regions that fall wholly free stay mapped; the last
  // one to go hands them back in one call per run of adjacent regions. A
  // tree freed whole releases hundreds of regions at once, and every unmap
  // costs a TLB flush on each core the process ran on.
  class BatchedRelease {
   public:
    explicit BatchedRelease(BindingPageProvider& provider) noexcept;
    ~BatchedRelease();
    BatchedRelease(const BatchedRelease&) = delete;
    BatchedRelease& operator=(const BatchedRelease&) = delete;

   private:
    BindingPageProvider& provider_;
  };

  // Hands every wholly free region back now: for a process done with its
  // large messages, or a test that must see regions mapped afresh.
  void ReleaseSpares() noexcept;

  std::size_t RegionCount() const;
  std::size_t PagesInUse() const;

 private:
  // A region is in use (no list), partly free (`withFree_`) or wholly free
  // (`idle_`); pages come from partly free regions first, so idle ones can go.
  struct Region {
    unsigned char* base;
    Os::Env* env;  // the one that mapped it is the one that unmaps it
    std::uint16_t freeMask;  // bit i: page i is free
    Region* next;
    Region* prev;
  };
  static_assert(kPagesPerRegion == 16, "the free mask has one bit per page");
  // Regions mapped by one call at most: a growing tree maps half again what
  // the provider holds, so a 16 MiB tree needs a dozen calls, not 256.
  static constexpr std::size_t kMaxRegionsPerMap = 32;

  void MapRegions();
  void Unmap(Region** regions, std::size_t count) noexcept;
  // Unmaps idle regions beyond the spare limit.
  void Trim() noexcept;
  static void Link(Region*& list, Region* region) noexcept;
  static void Unlink(Region*& list, Region* region) noexcept;

  mutable Os::Lock lock_;
  std::map<std::uintptr_t, Region> regions_;  // by base address
  Region* withFree_ = nullptr;
  Region* idle_ = nullptr;
  std::size_t pagesInUse_ = 0;
  std::size_t spareLimit_ = 0;
  std::size_t spares_ = 0;  // regions in `idle_`
  std::size_t batches_ = 0;  // BatchedRelease objects alive
};

// One size class: slots of one size, taken first from a 144-byte page inside
// the pool itself (so a small tree needs no page at all), then from 4 KiB
// pages of the provider. Freed slots of a page form a chain of 16-bit slot
// indices through their first two bytes; index 0 ends it, since slot 0 always
// lies in the page header. Slots never used yet are not chained: they are
// cut from the page's unused end, so a fresh page costs nothing to set up.
class BindingPool {
 public:
  static constexpr std::size_t kInlinePageSize = 144;
  static constexpr std::size_t kMaxSlotSize = 72;

  // `slotSize`: a multiple of 4 from 4 to 72.
  explicit BindingPool(std::uint16_t slotSize) noexcept;
  ~BindingPool();
  BindingPool(const BindingPool&) = delete;
  BindingPool& operator=(const BindingPool&) = delete;

  // Throws std::bad_alloc when the provider cannot supply a page.
  void* Allocate();
  void Release(void* slot) noexcept;
  // Forgets every slot at once and gives all 4 KiB pages back: for a tree
  // that is freed whole, whose records need no one-by-one release.
  void ReleaseAll() noexcept;

  std::uint16_t SlotSize() const noexcept { return slotSize_; }
  // 4 KiB pages held; the inline page is not counted.
  std::size_t PageCount() const noexcept { return pageCount_; }
  std::size_t SlotsInUse() const noexcept { return slotsInUse_; }
  // Usable slots of a page of `pageSize` bytes.
  std::size_t SlotsPerPage(std::size_t pageSize) const noexcept {
    return pageSize / slotSize_ - firstSlot_;
  }

 private:
  // Pages are kept in one list: those with free slots first, full ones at
  // the tail, so Allocate looks only at the head and ReleaseAll finds every
  // page without a second list.
  struct PageHeader {
    PageHeader* next;
    PageHeader* prev;
    std::uint16_t end;  // one past the last slot index
    std::uint16_t inUse;
    std::uint16_t firstFree;
    std::uint16_t fresh;  // the first slot never handed out

    bool Full() const noexcept { return firstFree == 0 && fresh == end; }
  };
  static_assert(BindingPageProvider::kPageSize / 4 <= 0xFFFF,
                "slot indices and counts of a page must fit in 16 bits");
  static_assert(sizeof(PageHeader) <= kMaxSlotSize,
                "every size class needs a usable slot in the inline page");

  PageHeader* InlinePage() noexcept { return std::launder(reinterpret_cast<PageHeader*>(inline_)); }
  PageHeader* AddPage();
  PageHeader* InitPage(void* memory, std::uint16_t size) noexcept;
  PageHeader* PageOf(void* slot) noexcept;
  void PageFilled(PageHeader* page) noexcept;
  void Unlink(PageHeader* page) noexcept;
  void LinkHead(PageHeader* page) noexcept;
  void LinkTail(PageHeader* page) noexcept;

  PageHeader* head_ = nullptr;
  PageHeader* tail_ = nullptr;
  std::size_t slotsInUse_ = 0;
  std::uint32_t pageCount_ = 0;
  std::uint32_t reciprocal_;  // ceil(2^32 / slotSize): slot index without a division
  std::uint16_t slotSize_;
  std::uint16_t firstSlot_;
  bool inlineReady_ = false;
  alignas(16) unsigned char inline_[kInlinePageSize];
};

inline void* BindingPool::Allocate() {
  PageHeader* page = head_;
  if (page == nullptr || page->Full()) page = AddPage();
  unsigned char* const base = reinterpret_cast<unsigned char*>(page);
  unsigned char* slot;
  if (page->firstFree != 0) {
    slot = base + std::size_t(page->firstFree) * slotSize_;
    std::memcpy(&page->firstFree, slot, sizeof page->firstFree);
  } else {
    slot = base + std::size_t(page->fresh++) * slotSize_;
  }
  ++page->inUse;
  ++slotsInUse_;
  if (page->Full()) PageFilled(page);
  return slot;
}

class BindingStorage;
class BindingStringTable;

// One entry of a tree's string table: the text (owned, NUL-terminated for C
// readers, compared by length so embedded NULs survive), its FNV-1a hash and
// the number of references held by the tree. A short text lives in the same
// pooled slot as the entry.
class InternedString {
 public:
  std::string_view Text() const noexcept { return {text_, length_}; }
  const char* Data() const noexcept { return text_; }
  std::uint32_t Size() const noexcept { return length_; }
  std::uint32_t Hash() const noexcept { return hash_; }
  // Each reference is held by a node of at least 16 bytes, so the count
  // cannot outgrow a size_t.
  std::size_t References() const noexcept { return references_; }

  constexpr InternedString(const char* text, std::uint32_t length, std::uint32_t hash) noexcept
      : text_(text), hash_(hash), length_(length) {}

 private:
  friend class BindingStringTable;

  bool HasInlineText() const noexcept {
    return text_ == reinterpret_cast<const char*>(this + 1);
  }

  InternedString* next_ = nullptr;  // bucket chain
  const char* text_;
  std::uint32_t hash_;
  std::uint32_t length_;
  std::size_t references_ = 0;
};

// The interned texts of one tree: a chained hash set keyed by (hash, text),
// 8 buckets to begin with and at most one entry per bucket on average. The
// empty text is never entered; every empty text refers to one static entry
// that is never counted or freed.
class BindingStringTable {
 public:
  static constexpr std::size_t kInitialBuckets = 8;

  explicit BindingStringTable(BindingStorage& storage) noexcept;
  ~BindingStringTable();
  BindingStringTable(const BindingStringTable&) = delete;
  BindingStringTable& operator=(const BindingStringTable&) = delete;

  static const InternedString* Empty() noexcept;

  // The entry for `text` with one more reference (a new entry starts at 1).
  // Throws std::length_error for a text of 4 GiB or more.
  const InternedString* Intern(std::string_view text);
  const InternedString* Intern(std::string_view text, std::uint32_t hash);
  // As Intern, for a non-empty text that Find has just missed: a new entry
  // without probing the bucket again.
  const InternedString* InternMissing(std::string_view text, std::uint32_t hash);
  // The entry, or null; counts are left alone.
  const InternedString* Find(std::string_view text) const noexcept;
  const InternedString* Find(std::string_view text, std::uint32_t hash) const noexcept;
  const InternedString* Retain(const InternedString* entry) noexcept {
    // Every entry but the static empty one, the only empty text, was created
    // here, never as const.
    if (entry->length_ != 0) ++const_cast<InternedString*>(entry)->references_;
    return entry;
  }
  // Drops one reference; the entry goes at 0.
  void Release(const InternedString* entry) noexcept;
  // Drops every entry without touching the pools or the long texts: the
  // storage frees their slots and blocks wholesale right after.
  void ReleaseAll() noexcept;

  std::size_t Count() const noexcept { return count_; }
  std::size_t BucketCount() const noexcept { return bucketCount_; }
  // Changes whenever an entry goes and differs from every other table's, so
  // a pointer to an entry seen under the same generation still points at
  // that entry.
  std::uint64_t Generation() const noexcept { return generation_; }

 private:
  void Grow();
  void FreeText(InternedString* entry) noexcept;

  BindingStorage& storage_;
  InternedString** buckets_ = nullptr;  // general heap: an array
  std::size_t bucketCount_ = 0;
  std::size_t count_ = 0;
  std::uint64_t generation_;
};

// One per tree, owned by its root: 18 size classes of 4 to 72 bytes and the
// string table. Only single records come from the pools; arrays (element
// arrays, blob bytes, long texts) are blocks of the general heap linked into
// the storage, so a tree freed whole frees them by walking that list, never
// the tree itself.
class BindingStorage {
 public:
  static constexpr std::size_t kPoolCount = 18;
  static constexpr std::size_t kMaxSlotSize = BindingPool::kMaxSlotSize;

  BindingStorage() noexcept;
  ~BindingStorage() { ReleaseAll(); }
  BindingStorage(const BindingStorage&) = delete;
  BindingStorage& operator=(const BindingStorage&) = delete;

  // The pool serving `bytes` (1 to 72), rounded up to a multiple of 4.
  BindingPool& PoolFor(std::size_t bytes) noexcept { return pools_[(bytes + 3) / 4 - 1]; }
  void* Allocate(std::size_t bytes) { return PoolFor(bytes).Allocate(); }
  void Release(void* slot, std::size_t bytes) noexcept { PoolFor(bytes).Release(slot); }

  template <typename T, typename... Args>
  T* Create(Args&&... args) {
    static_assert(sizeof(T) <= kMaxSlotSize, "only small records are pooled");
    static_assert(alignof(T) <= 8, "slots are aligned to their size, at most 8");
    void* slot = Allocate(sizeof(T));
    if constexpr (std::is_nothrow_constructible_v<T, Args...>) {
      return new (slot) T(std::forward<Args>(args)...);
    } else {
      try {
        return new (slot) T(std::forward<Args>(args)...);
      } catch (...) {
        Release(slot, sizeof(T));
        throw;
      }
    }
  }
  template <typename T>
  void Destroy(T* record) noexcept {
    record->~T();
    Release(record, sizeof(T));
  }

  // `bytes` of the general heap, aligned as operator new aligns, freed with
  // FreeBlock or with everything else by ReleaseAll. Throws std::bad_alloc.
  void* AllocateBlock(std::size_t bytes);
  void FreeBlock(void* block) noexcept;
  std::size_t BlockCount() const noexcept { return blockCount_; }

  BindingStringTable& Strings() noexcept { return strings_; }
  const BindingStringTable& Strings() const noexcept { return strings_; }

  // Frees every record, string and block at once.
  void ReleaseAll() noexcept;

  std::size_t PageCount() const noexcept;
  std::size_t SlotsInUse() const noexcept;

 private:
  // Declared before the table: it is destroyed after it, since the table
  // reads its entries out of these pools while it frees their texts.
  BindingPool pools_[kPoolCount];
  BindingStringTable strings_;

  // Sits before each block; its size keeps the block as aligned as the
  // allocation itself.
  struct alignas(__STDCPP_DEFAULT_NEW_ALIGNMENT__) BlockHeader {
    BlockHeader* prev;
    BlockHeader* next;
  };
  BlockHeader* blocks_ = nullptr;
  std::size_t blockCount_ = 0;
};

}  // namespace Vexa
