#include "runtime/allocator.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <cstring>
#include <cstdint>
#include <thread>
#include <vector>

// Huge requests must come back as null here, as they do without the sanitizer.
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() {
  return "allocator_may_return_null=1";
}

namespace Vexa::Memory {
namespace {

PluginMemoryStats Read(const Counters& counters) {
  PluginMemoryStats stats;
  counters.Read(&stats);
  return stats;
}

uint64_t Size(void* block) { return malloc_usable_size(block); }

TEST(Counters, FreshCountersReadZero) {
  Counters counters;
  PluginMemoryStats stats;
  std::memset(&stats, 0xAB, sizeof stats);
  counters.Read(&stats);
  const PluginMemoryStats zero{};
  EXPECT_EQ(std::memcmp(&stats, &zero, sizeof stats), 0);
}

TEST(Counters, OneBlockAllocatedAndFreed) {
  Counters counters;
  void* block = counters.Allocate(100);
  const uint64_t size = Size(block);
  counters.Free(block);
  counters.Free(nullptr);  // changes nothing
  const PluginMemoryStats s = Read(counters);
  EXPECT_EQ(s.allocations, 1u);
  EXPECT_EQ(s.frees, 1u);
  EXPECT_EQ(s.bytesAllocated, size);
  EXPECT_EQ(s.bytesFreed, size);
  EXPECT_EQ(s.peakLiveBytes, size);
  EXPECT_EQ(s.peakLiveAllocations, 1u);
}

TEST(Counters, PeaksMoveOnlyOnNewHighOfLiveBytes) {
  Counters counters;
  void* a = counters.Allocate(1000);
  void* b = counters.Allocate(2000);
  const uint64_t peakAfterTwo = Size(a) + Size(b);
  counters.Free(a);
  // Three small blocks: more live blocks than at the peak, fewer live bytes.
  void* small[3] = {counters.Allocate(16), counters.Allocate(16), counters.Allocate(16)};
  PluginMemoryStats s = Read(counters);
  EXPECT_EQ(s.peakLiveBytes, peakAfterTwo);
  EXPECT_EQ(s.peakLiveAllocations, 2u);

  // Growing b past the old peak moves both peaks, counting b once.
  b = counters.Reallocate(b, 100000);
  s = Read(counters);
  EXPECT_EQ(s.frees, 2u);        // a, and the old b
  EXPECT_EQ(s.allocations, 6u);  // a, b, three small, the new b
  EXPECT_EQ(s.bytesFreed, peakAfterTwo);  // a and the old b
  EXPECT_EQ(s.peakLiveBytes, s.bytesAllocated - s.bytesFreed);
  EXPECT_EQ(s.peakLiveAllocations, 4u);

  for (void* p : small) counters.Free(p);
  counters.Free(b);
  s = Read(counters);
  EXPECT_EQ(s.allocations, s.frees);
  EXPECT_EQ(s.bytesAllocated, s.bytesFreed);
}

TEST(Counters, ReallocateEdgeCases) {
  Counters counters;
  // From null it allocates; to zero it frees; a refused size keeps the old block.
  char* block = static_cast<char*>(counters.Reallocate(nullptr, 64));
  ASSERT_NE(block, nullptr);
  block[0] = 'x';
  const PluginMemoryStats before = Read(counters);
  EXPECT_EQ(counters.Reallocate(block, SIZE_MAX / 2), nullptr);
  const PluginMemoryStats after = Read(counters);
  EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
  EXPECT_EQ(block[0], 'x');
  EXPECT_EQ(counters.Reallocate(block, 0), nullptr);
  const PluginMemoryStats s = Read(counters);
  EXPECT_EQ(s.allocations, 1u);
  EXPECT_EQ(s.frees, 1u);
  EXPECT_EQ(counters.Allocate(SIZE_MAX / 2), nullptr);
  EXPECT_EQ(Read(counters).allocations, 1u);
}

TEST(Counters, DuplicateCountsTheCopy) {
  Counters counters;
  char* copy = counters.Duplicate("tov-vover-orevid-aredez");
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy, "tov-vover-orevid-aredez");
  EXPECT_EQ(Read(counters).bytesAllocated, Size(copy));
  counters.Free(copy);
  EXPECT_EQ(counters.Duplicate(nullptr), nullptr);
  EXPECT_EQ(Read(counters).allocations, 1u);
}

TEST(Counters, ConcurrentReadersNeverSeeNegativeLiveCounts) {
  Counters counters;
  constexpr int kThreads = 4, kRounds = 20000;
  std::atomic<bool> done{false};
  std::atomic<int> violations{0};
  std::thread reader([&] {
    while (!done.load()) {
      const PluginMemoryStats s = Read(counters);
      if (s.bytesFreed > s.bytesAllocated || s.frees > s.allocations) ++violations;
    }
  });
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t)
    workers.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        void* p = counters.Allocate(size_t(16 + (i + t) % 512));
        p = counters.Reallocate(p, size_t(32 + i % 1024));
        counters.Free(p);
      }
    });
  for (auto& w : workers) w.join();
  done.store(true);
  reader.join();
  const PluginMemoryStats s = Read(counters);
  EXPECT_EQ(violations.load(), 0);
  EXPECT_EQ(s.allocations, uint64_t(2 * kThreads * kRounds));
  EXPECT_EQ(s.frees, s.allocations);
  EXPECT_EQ(s.bytesAllocated, s.bytesFreed);
  EXPECT_LE(s.peakLiveAllocations, uint64_t(kThreads));
}

TEST(ProcessAllocator, SnapshotTakenOnFirstUse) {
  void* block = Allocate(10);
  EXPECT_GT(StartupMemoryStatus().totalPhysicalBytes, 0u);
  EXPECT_GE(BlockSize(block), 10u);
  Free(block);
}

}  // namespace
}  // namespace Vexa::Memory
