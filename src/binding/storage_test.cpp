#include "binding/storage.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/fnv1a.h"
#include "binding/property.h"

namespace Vexa {
namespace {

TEST(BindingPool, InlinePageServesFirstThenPagesComeAndGo) {
  BindingPageProvider& provider = BindingPageProvider::Process();
  for (uint16_t size : {4, 8, 24, 72}) {
    const size_t pagesBefore = provider.PagesInUse();
    BindingPool pool(size);
    std::vector<void*> slots;
    // The inline page holds a few slots of every size class; no page is taken for them.
    while (pool.PageCount() == 0) {
      slots.push_back(pool.Allocate());
      if (pool.PageCount() == 0) {
        EXPECT_EQ(provider.PagesInUse(), pagesBefore) << size;
      }
      ASSERT_LT(slots.size(), 200u) << size;
    }
    const size_t inlineSlots = slots.size() - 1;
    EXPECT_GE(inlineSlots, 1u) << size;
    EXPECT_LE(inlineSlots * size, BindingPool::kInlinePageSize) << size;
    // Fill three more pages' worth; every slot distinct and aligned to its size class.
    const size_t perPage = BindingPageProvider::kPageSize / size;
    while (slots.size() < inlineSlots + 3 * perPage) slots.push_back(pool.Allocate());
    std::set<void*> distinct(slots.begin(), slots.end());
    EXPECT_EQ(distinct.size(), slots.size()) << size;
    for (void* slot : slots) EXPECT_EQ(reinterpret_cast<uintptr_t>(slot) % (size >= 8 ? 8 : 4), 0u) << size;
    EXPECT_EQ(pool.SlotsInUse(), slots.size());
    // Freed in an order that empties pages in the middle of the list first.
    for (size_t i = slots.size(); i-- > 0;)
      if (i % 2 == 0) pool.Release(slots[i]);
    for (size_t i = slots.size(); i-- > 0;)
      if (i % 2 == 1) pool.Release(slots[i]);
    EXPECT_EQ(pool.SlotsInUse(), 0u);
    EXPECT_EQ(pool.PageCount(), 0u) << size;
    EXPECT_EQ(provider.PagesInUse(), pagesBefore) << size;
  }
}

TEST(BindingPageProvider, RegionGoesBackWhenAllSixteenPagesAreFree) {
  BindingPageProvider provider;
  std::vector<void*> pages;
  for (size_t i = 0; i < BindingPageProvider::kPagesPerRegion + 1; ++i) pages.push_back(provider.AcquirePage());
  EXPECT_EQ(provider.RegionCount(), 2u);
  EXPECT_EQ(provider.PagesInUse(), 17u);
  for (void* page : pages) EXPECT_EQ(reinterpret_cast<uintptr_t>(page) % BindingPageProvider::kPageSize, 0u);
  provider.ReleasePage(pages.back());  // the second region is empty now
  EXPECT_EQ(provider.RegionCount(), 1u);
  for (size_t i = 0; i + 1 < BindingPageProvider::kPagesPerRegion; ++i) provider.ReleasePage(pages[i]);
  EXPECT_EQ(provider.RegionCount(), 1u);  // one page still taken
  provider.ReleasePage(pages[BindingPageProvider::kPagesPerRegion - 1]);
  EXPECT_EQ(provider.RegionCount(), 0u);
  EXPECT_EQ(provider.PagesInUse(), 0u);

  // With a spare allowed, one wholly free region stays for the next tree,
  // and only one.
  BindingPageProvider keeping(1);
  pages.clear();
  for (size_t i = 0; i < 2 * BindingPageProvider::kPagesPerRegion; ++i) pages.push_back(keeping.AcquirePage());
  for (void* page : pages) keeping.ReleasePage(page);
  EXPECT_EQ(keeping.RegionCount(), 1u);
  const void* again = keeping.AcquirePage();
  EXPECT_EQ(keeping.RegionCount(), 1u);  // served from the spare
  keeping.ReleasePage(const_cast<void*>(again));
  EXPECT_EQ(keeping.RegionCount(), 1u);
}

// A growing tree gets regions mapped ahead in batches; freed whole, its
// regions stay until the batch of releases ends, then all but the spares go.
TEST(BindingPageProvider, RegionsFreedTogetherGoBackWhenTheBatchEnds) {
  constexpr size_t kRegions = 40;
  for (size_t spares : {size_t{0}, size_t{3}}) {
    BindingPageProvider provider(spares);
    std::vector<void*> pages;
    for (size_t i = 0; i < kRegions * BindingPageProvider::kPagesPerRegion; ++i)
      pages.push_back(provider.AcquirePage());
    EXPECT_EQ(std::set<void*>(pages.begin(), pages.end()).size(), pages.size()) << spares;
    EXPECT_GE(provider.RegionCount(), kRegions) << spares;
    EXPECT_LE(provider.RegionCount(), kRegions * 3 / 2) << spares;  // mapped ahead, but not unbounded
    {
      BindingPageProvider::BatchedRelease batch(provider);
      for (size_t i = 0; i < pages.size(); i += 2) provider.ReleasePage(pages[i]);
      for (size_t i = 1; i < pages.size(); i += 2) provider.ReleasePage(pages[i]);
      EXPECT_GE(provider.RegionCount(), kRegions) << spares;
    }
    EXPECT_EQ(provider.PagesInUse(), 0u) << spares;
    EXPECT_EQ(provider.RegionCount(), spares) << spares;
  }
}

TEST(BindingStringTable, InterningCountsAndGrowth) {
  BindingStorage storage;
  BindingStringTable& table = storage.Strings();
  EXPECT_EQ(table.Intern(""), BindingStringTable::Empty());
  std::vector<const InternedString*> entries;
  for (int i = 0; i < 1000; ++i) entries.push_back(table.Intern(std::to_string(i)));
  EXPECT_EQ(table.Count(), 1000u);
  EXPECT_GT(table.BucketCount(), BindingStringTable::kInitialBuckets);
  EXPECT_EQ(table.Intern("999"), entries[999]);
  EXPECT_EQ(entries[999]->References(), 2u);
  const std::string_view withNul("7\0", 2);
  EXPECT_NE(table.Intern(withNul), entries[7]);  // compared by length, not up to a NUL
  table.Release(entries[999]);
  table.Release(entries[999]);
  EXPECT_EQ(table.Find("999"), nullptr);
  EXPECT_EQ(table.Find("998"), entries[998]);
}

// Entries carry this hash and peers compare it, so it must be the published
// one at every length the four-byte rounds leave a tail of.
TEST(BindingStringTable, EntriesCarryTheFnv1aHashOfTheirBytes) {
  const std::pair<std::string_view, std::uint32_t> published[] = {
      {"", 0x811C9DC5u}, {"a", 0xE40C292Cu}, {"foobar", 0xBF9CF968u}};
  for (const auto& [text, hash] : published) EXPECT_EQ(Fnv1a32(text), hash) << text;
  BindingStorage storage;
  const std::string text = "summonerName\x80\xFF" "championPickIntent";
  for (std::size_t size = 1; size <= text.size(); ++size) {
    std::uint32_t byByte = 0x811C9DC5u;
    for (unsigned char c : text.substr(0, size)) byByte = (byByte ^ c) * 16777619u;
    EXPECT_EQ(storage.Strings().Intern(text.substr(0, size))->Hash(), byByte) << size;
  }
}

TEST(BindingKind, DisplayNames) {
  const char* names[] = {"empty", "bool",   "signed", "unsigned",   "float",
                         "string", "blob", "enum",   "collection", "structure"};
  for (int kind = 0; kind < 10; ++kind) EXPECT_STREQ(BindingKindName(BindingKind(kind)), names[kind]);
  EXPECT_STREQ(BindingKindName(BindingKind(10)), "");
  EXPECT_STREQ(BindingKindName(BindingKind(255)), "");
}

}  // namespace
}  // namespace Vexa
