// The runtime allocator: every allocation the plug-in makes goes through one
// set of counting functions, so the core can ask for memory statistics at
// any time without a lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "os/env.h"
#include "tov/plugin_abi.h"

namespace Vexa::Memory {

// 64-bit atomic counters with the peak rule: the peaks move only when live
// bytes reach a new high, and then live allocations are taken with them.
class Counters {
 public:
  void* Allocate(size_t bytes);
  void Free(void* block);
  // Counts the old block as freed and the new one as allocated. A failed
  // reallocation leaves the old block and the counters alone; size 0 frees.
  void* Reallocate(void* block, size_t bytes);
  char* Duplicate(const char* text);
  void* AllocateAligned(size_t bytes, size_t alignment);

  // Counting hooks for blocks obtained elsewhere (e.g. aligned storage).
  void Counted(void* block);
  void Uncounted(void* block);

  // Frees are read before allocations, so a concurrent reader never sees
  // more freed than allocated.
  void Read(PluginMemoryStats* out) const;

 private:
  void UpdatePeaks();

  std::atomic<uint64_t> peakLiveBytes_{0};
  std::atomic<uint64_t> peakLiveAllocations_{0};
  std::atomic<uint64_t> bytesAllocated_{0};
  std::atomic<uint64_t> allocations_{0};
  std::atomic<uint64_t> bytesFreed_{0};
  std::atomic<uint64_t> frees_{0};
  // Blocks live now, kept apart from the two totals: their difference, read
  // in two steps while other threads allocate, can count blocks that never
  // lived at the same time.
  std::atomic<uint64_t> liveAllocations_{0};
};

// The five replaceable functions of the process-wide allocator.
struct Functions {
  void* (*allocate)(size_t bytes);
  void (*free)(void* block);
  void* (*reallocate)(void* block, size_t bytes);
  char* (*duplicate)(const char* text);
  size_t (*size)(const void* block);
};

// Installed on first use: counting functions over malloc and friends, after
// taking the memory-status snapshot.
const Functions& Process();
Counters& ProcessCounters();
// The machine and process memory status taken when counting began.
const Os::MemoryStatus& StartupMemoryStatus();

inline void* Allocate(size_t bytes) { return Process().allocate(bytes); }
inline void Free(void* block) { Process().free(block); }
inline void* Reallocate(void* block, size_t bytes) { return Process().reallocate(block, bytes); }
inline char* Duplicate(const char* text) { return Process().duplicate(text); }
inline size_t BlockSize(const void* block) { return Process().size(block); }
inline void* AllocateAligned(size_t bytes, size_t alignment) {
  Process();
  return ProcessCounters().AllocateAligned(bytes, alignment);
}

}  // namespace Vexa::Memory
