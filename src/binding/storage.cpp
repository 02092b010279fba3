#include "binding/storage.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cassert>
#include <stdexcept>

#include "binding/fnv1a.h"
#include "os/env.h"

namespace Vexa {

// ---------------------------------------------------------------------------
// BindingPageProvider

BindingPageProvider& BindingPageProvider::Process() noexcept {
  // Never destroyed: a tree held by a static object may free its pages after
  // the ordinary static destructors have run.
  static BindingPageProvider* const provider = new BindingPageProvider(kProcessSpareRegions);
  return *provider;
}

BindingPageProvider::~BindingPageProvider() {
  for (auto& [address, region] : regions_) region.env->UnmapRegion(region.base, kRegionSize);
}

void* BindingPageProvider::AcquirePage() {
  Os::LockGuard guard(lock_);
  Region* region = withFree_;
  if (region == nullptr) {
    if (idle_ == nullptr) MapRegions();
    region = idle_;
    Unlink(idle_, region);
    --spares_;
    Link(withFree_, region);
  }
  const int index = std::countr_zero(static_cast<unsigned>(region->freeMask));
  region->freeMask = static_cast<std::uint16_t>(region->freeMask & ~(1u << index));
  if (region->freeMask == 0) Unlink(withFree_, region);
  ++pagesInUse_;
  return region->base + std::size_t(index) * kPageSize;
}

void BindingPageProvider::ReleasePage(void* page) noexcept {
  const auto address = reinterpret_cast<std::uintptr_t>(page);
  Os::LockGuard guard(lock_);
  auto it = regions_.upper_bound(address);
  assert(it != regions_.begin());
  --it;
  Region& region = it->second;
  const std::size_t index = (address - it->first) / kPageSize;
  assert(index < kPagesPerRegion && !(region.freeMask & (1u << index)));
  if (region.freeMask == 0) Link(withFree_, &region);
  region.freeMask = static_cast<std::uint16_t>(region.freeMask | (1u << index));
  --pagesInUse_;
  if (region.freeMask != 0xFFFF) return;
  Unlink(withFree_, &region);
  // Only a region of the real platform may wait: a test's fake may be gone
  // by the time the region would be unmapped.
  if (region.env != &Os::Env::Posix()) {
    region.env->UnmapRegion(region.base, kRegionSize);
    regions_.erase(it);
    return;
  }
  Link(idle_, &region);
  ++spares_;
  if (batches_ == 0) Trim();
}

BindingPageProvider::BatchedRelease::BatchedRelease(BindingPageProvider& provider) noexcept : provider_(provider) {
  Os::LockGuard guard(provider_.lock_);
  ++provider_.batches_;
}

BindingPageProvider::BatchedRelease::~BatchedRelease() {
  Os::LockGuard guard(provider_.lock_);
  if (--provider_.batches_ == 0) provider_.Trim();
}

void BindingPageProvider::ReleaseSpares() noexcept {
  Os::LockGuard guard(lock_);
  const std::size_t limit = spareLimit_;
  spareLimit_ = 0;
  Trim();
  spareLimit_ = limit;
}

std::size_t BindingPageProvider::RegionCount() const {
  Os::LockGuard guard(lock_);
  return regions_.size();
}

std::size_t BindingPageProvider::PagesInUse() const {
  Os::LockGuard guard(lock_);
  return pagesInUse_;
}

void BindingPageProvider::MapRegions() {
  Os::Env& env = Os::Env::Current();
  // A fake counts regions one call each, so it gets them one at a time.
  std::size_t count =
      &env == &Os::Env::Posix() ? std::clamp<std::size_t>(regions_.size() / 2, 1, kMaxRegionsPerMap) : 1;
  void* base = env.MapRegion(count * kRegionSize);
  if (base == nullptr && count > 1) {
    count = 1;
    base = env.MapRegion(kRegionSize);
  }
  if (base == nullptr) throw std::bad_alloc();
  auto* bytes = static_cast<unsigned char*>(base);
  for (std::size_t i = 0; i < count; ++i) {
    unsigned char* const at = bytes + i * kRegionSize;
    try {
      auto [it, inserted] =
          regions_.emplace(reinterpret_cast<std::uintptr_t>(at), Region{at, &env, 0xFFFF, nullptr, nullptr});
      assert(inserted);
      Link(idle_, &it->second);
      ++spares_;
    } catch (...) {
      for (std::size_t rest = i; rest < count; ++rest) env.UnmapRegion(bytes + rest * kRegionSize, kRegionSize);
      if (i == 0) throw;
      return;
    }
  }
}

void BindingPageProvider::Trim() noexcept {
  // A few at a time, sorted, so that neighbours go back in one call without
  // a buffer from the heap.
  constexpr std::size_t kChunk = 64;
  Region* chunk[kChunk];
  while (spares_ > spareLimit_) {
    std::size_t count = 0;
    while (count < kChunk && spares_ > spareLimit_) {
      Region* region = idle_;
      Unlink(idle_, region);
      --spares_;
      chunk[count++] = region;
    }
    std::sort(chunk, chunk + count, [](const Region* a, const Region* b) { return a->base < b->base; });
    Unmap(chunk, count);
  }
}

void BindingPageProvider::Unmap(Region** regions, std::size_t count) noexcept {
  for (std::size_t first = 0; first < count;) {
    std::size_t last = first + 1;
    while (last < count && regions[last]->env == regions[first]->env &&
           regions[last]->base == regions[last - 1]->base + kRegionSize)
      ++last;
    Os::Env* env = regions[first]->env;
    unsigned char* base = regions[first]->base;
    for (std::size_t i = first; i < last; ++i) regions_.erase(reinterpret_cast<std::uintptr_t>(regions[i]->base));
    env->UnmapRegion(base, (last - first) * kRegionSize);
    first = last;
  }
}

void BindingPageProvider::Link(Region*& list, Region* region) noexcept {
  region->prev = nullptr;
  region->next = list;
  if (list) list->prev = region;
  list = region;
}

void BindingPageProvider::Unlink(Region*& list, Region* region) noexcept {
  if (region->prev) region->prev->next = region->next;
  else list = region->next;
  if (region->next) region->next->prev = region->prev;
  region->next = region->prev = nullptr;
}

// ---------------------------------------------------------------------------
// BindingPool

BindingPool::BindingPool(std::uint16_t slotSize) noexcept
    : reciprocal_(static_cast<std::uint32_t>(((std::uint64_t(1) << 32) + slotSize - 1) / slotSize)),
      slotSize_(slotSize),
      firstSlot_(static_cast<std::uint16_t>((sizeof(PageHeader) + slotSize - 1) / slotSize)) {
  assert(slotSize >= 4 && slotSize <= kMaxSlotSize && slotSize % 4 == 0);
}

BindingPool::~BindingPool() { ReleaseAll(); }

BindingPool::PageHeader* BindingPool::InitPage(void* memory, std::uint16_t size) noexcept {
  const auto end = static_cast<std::uint16_t>(size / slotSize_);
  return new (memory) PageHeader{nullptr, nullptr, end, 0, 0, firstSlot_};
}

BindingPool::PageHeader* BindingPool::AddPage() {
  PageHeader* page;
  if (!inlineReady_) {
    page = InitPage(inline_, kInlinePageSize);
    inlineReady_ = true;
  } else {
    page = InitPage(BindingPageProvider::Process().AcquirePage(), BindingPageProvider::kPageSize);
    ++pageCount_;
  }
  LinkHead(page);
  return page;
}

BindingPool::PageHeader* BindingPool::PageOf(void* slot) noexcept {
  const auto address = reinterpret_cast<std::uintptr_t>(slot);
  const auto inlineStart = reinterpret_cast<std::uintptr_t>(inline_);
  if (address - inlineStart < kInlinePageSize) return InlinePage();
  return reinterpret_cast<PageHeader*>(address & ~std::uintptr_t(BindingPageProvider::kPageSize - 1));
}

void BindingPool::Release(void* slot) noexcept {
  PageHeader* page = PageOf(slot);
  const auto offset = static_cast<std::uint32_t>(static_cast<unsigned char*>(slot) -
                                                 reinterpret_cast<unsigned char*>(page));
  const auto index = static_cast<std::uint16_t>((std::uint64_t(offset) * reciprocal_) >> 32);
  assert(index >= firstSlot_ && std::size_t(index) * slotSize_ == offset && page->inUse > 0);
  const bool wasFull = page->Full();
  std::memcpy(slot, &page->firstFree, sizeof page->firstFree);
  page->firstFree = index;
  --page->inUse;
  --slotsInUse_;
  if (page->inUse == 0 && page != InlinePage()) {
    Unlink(page);
    --pageCount_;
    BindingPageProvider::Process().ReleasePage(page);
  } else if (wasFull) {
    Unlink(page);
    LinkHead(page);
  }
}

void BindingPool::ReleaseAll() noexcept {
  PageHeader* inlinePage = InlinePage();
  for (PageHeader* page = head_; page != nullptr;) {
    PageHeader* next = page->next;
    if (page != inlinePage) BindingPageProvider::Process().ReleasePage(page);
    page = next;
  }
  head_ = tail_ = nullptr;
  pageCount_ = 0;
  slotsInUse_ = 0;
  inlineReady_ = false;
}

void BindingPool::PageFilled(PageHeader* page) noexcept {
  if (page == tail_) return;
  Unlink(page);
  LinkTail(page);
}

void BindingPool::Unlink(PageHeader* page) noexcept {
  if (page->prev) page->prev->next = page->next;
  else head_ = page->next;
  if (page->next) page->next->prev = page->prev;
  else tail_ = page->prev;
  page->next = page->prev = nullptr;
}

void BindingPool::LinkHead(PageHeader* page) noexcept {
  page->prev = nullptr;
  page->next = head_;
  if (head_) head_->prev = page;
  else tail_ = page;
  head_ = page;
}

void BindingPool::LinkTail(PageHeader* page) noexcept {
  page->next = nullptr;
  page->prev = tail_;
  if (tail_) tail_->next = page;
  else head_ = page;
  tail_ = page;
}

// ---------------------------------------------------------------------------
// BindingStringTable

namespace {

constexpr InternedString kEmptyEntry("", 0, 0x811C9DC5u);

constexpr std::size_t RoundUp(std::size_t value, std::size_t to) { return (value + to - 1) / to * to; }

}  // namespace

const InternedString* BindingStringTable::Empty() noexcept { return &kEmptyEntry; }

// Each table starts 2^32 generations after the one made before it: more
// entries than that never go from one table.
BindingStringTable::BindingStringTable(BindingStorage& storage) noexcept : storage_(storage) {
  static std::atomic<std::uint64_t> tables{0};
  generation_ = tables.fetch_add(1, std::memory_order_relaxed) << 32;
}

BindingStringTable::~BindingStringTable() {
  ReleaseAll();
}

const InternedString* BindingStringTable::Intern(std::string_view text) {
  if (text.empty()) return &kEmptyEntry;
  return Intern(text, Fnv1a32(text));
}

const InternedString* BindingStringTable::Intern(std::string_view text, std::uint32_t hash) {
  if (text.empty()) return &kEmptyEntry;
  if (const InternedString* found = Find(text, hash)) return Retain(found);
  return InternMissing(text, hash);
}

const InternedString* BindingStringTable::InternMissing(std::string_view text, std::uint32_t hash) {
  assert(!text.empty() && Find(text, hash) == nullptr);
  if (text.size() > 0xFFFFFFFFu) throw std::length_error("string too long");
  // Grow before inserting, so a failed allocation leaves no entry behind.
  if (count_ + 1 > bucketCount_) Grow();

  const std::size_t inlineSlot = RoundUp(sizeof(InternedString) + text.size() + 1, alignof(InternedString));
  const bool inlineText = inlineSlot <= BindingStorage::kMaxSlotSize;
  const std::size_t slotSize = inlineText ? inlineSlot : sizeof(InternedString);
  void* slot = storage_.Allocate(slotSize);
  char* chars;
  if (inlineText) {
    chars = reinterpret_cast<char*>(static_cast<unsigned char*>(slot) + sizeof(InternedString));
  } else {
    try {
      chars = static_cast<char*>(storage_.AllocateBlock(text.size() + 1));
    } catch (...) {
      storage_.Release(slot, slotSize);
      throw;
    }
  }
  std::memcpy(chars, text.data(), text.size());
  chars[text.size()] = '\0';
  auto* entry = new (slot) InternedString(chars, static_cast<std::uint32_t>(text.size()), hash);
  entry->references_ = 1;
  InternedString*& bucket = buckets_[hash & (bucketCount_ - 1)];
  entry->next_ = bucket;
  bucket = entry;
  ++count_;
  return entry;
}

const InternedString* BindingStringTable::Find(std::string_view text) const noexcept {
  if (text.empty()) return &kEmptyEntry;
  return Find(text, Fnv1a32(text));
}

const InternedString* BindingStringTable::Find(std::string_view text, std::uint32_t hash) const noexcept {
  if (text.empty()) return &kEmptyEntry;
  if (count_ == 0) return nullptr;
  for (const InternedString* entry = buckets_[hash & (bucketCount_ - 1)]; entry; entry = entry->next_) {
    if (entry->hash_ == hash && entry->length_ == text.size() &&
        std::memcmp(entry->text_, text.data(), text.size()) == 0)
      return entry;
  }
  return nullptr;
}

void BindingStringTable::Release(const InternedString* entry) noexcept {
  if (entry == &kEmptyEntry) return;
  auto* owned = const_cast<InternedString*>(entry);
  assert(owned->references_ > 0);
  if (--owned->references_ != 0) return;
  ++generation_;
  InternedString** link = &buckets_[owned->hash_ & (bucketCount_ - 1)];
  while (*link != owned) link = &(*link)->next_;
  *link = owned->next_;
  --count_;
  const bool inlineText = owned->HasInlineText();
  const std::size_t slotSize =
      inlineText ? RoundUp(sizeof(InternedString) + owned->length_ + 1, alignof(InternedString))
                 : sizeof(InternedString);
  FreeText(owned);
  owned->~InternedString();
  storage_.Release(owned, slotSize);
}

void BindingStringTable::ReleaseAll() noexcept {
  // Long texts are blocks of the storage, which frees them with the rest.
  delete[] buckets_;
  buckets_ = nullptr;
  bucketCount_ = 0;
  count_ = 0;
  ++generation_;
}

void BindingStringTable::FreeText(InternedString* entry) noexcept {
  if (!entry->HasInlineText()) storage_.FreeBlock(const_cast<char*>(entry->text_));
}

void BindingStringTable::Grow() {
  const std::size_t newCount = bucketCount_ == 0 ? kInitialBuckets : bucketCount_ * 2;
  auto** fresh = new InternedString*[newCount]();
  for (std::size_t i = 0; i < bucketCount_; ++i) {
    for (InternedString* entry = buckets_[i]; entry;) {
      InternedString* next = entry->next_;
      InternedString*& bucket = fresh[entry->hash_ & (newCount - 1)];
      entry->next_ = bucket;
      bucket = entry;
      entry = next;
    }
  }
  delete[] buckets_;
  buckets_ = fresh;
  bucketCount_ = newCount;
}

// ---------------------------------------------------------------------------
// BindingStorage

BindingStorage::BindingStorage() noexcept
    : pools_{BindingPool(4),  BindingPool(8),  BindingPool(12), BindingPool(16), BindingPool(20),
             BindingPool(24), BindingPool(28), BindingPool(32), BindingPool(36), BindingPool(40),
             BindingPool(44), BindingPool(48), BindingPool(52), BindingPool(56), BindingPool(60),
             BindingPool(64), BindingPool(68), BindingPool(72)},
      strings_(*this) {}

void BindingStorage::ReleaseAll() noexcept {
  BindingPageProvider::BatchedRelease batch(BindingPageProvider::Process());
  strings_.ReleaseAll();
  for (BlockHeader* block = blocks_; block != nullptr;) {
    BlockHeader* next = block->next;
    ::operator delete(block);
    block = next;
  }
  blocks_ = nullptr;
  blockCount_ = 0;
  for (BindingPool& pool : pools_) pool.ReleaseAll();
}

void* BindingStorage::AllocateBlock(std::size_t bytes) {
  if (bytes > SIZE_MAX - sizeof(BlockHeader)) throw std::bad_alloc();
  auto* block = static_cast<BlockHeader*>(::operator new(sizeof(BlockHeader) + bytes));
  block->prev = nullptr;
  block->next = blocks_;
  if (blocks_) blocks_->prev = block;
  blocks_ = block;
  ++blockCount_;
  return block + 1;
}

void BindingStorage::FreeBlock(void* data) noexcept {
  if (data == nullptr) return;
  BlockHeader* block = static_cast<BlockHeader*>(data) - 1;
  if (block->prev) block->prev->next = block->next;
  else blocks_ = block->next;
  if (block->next) block->next->prev = block->prev;
  --blockCount_;
  ::operator delete(block);
}

std::size_t BindingStorage::PageCount() const noexcept {
  std::size_t pages = 0;
  for (const BindingPool& pool : pools_) pages += pool.PageCount();
  return pages;
}

std::size_t BindingStorage::SlotsInUse() const noexcept {
  std::size_t slots = 0;
  for (const BindingPool& pool : pools_) slots += pool.SlotsInUse();
  return slots;
}

}  // namespace Vexa
