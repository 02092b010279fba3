#include "runtime/allocator.h"

#include <malloc.h>

#include <cstdlib>
#include <cstring>

namespace Vexa::Memory {
namespace {

size_t UsableSize(const void* block) { return block ? malloc_usable_size(const_cast<void*>(block)) : 0; }

}  // namespace

void Counters::Counted(void* block) {
  if (!block) return;
  bytesAllocated_.fetch_add(UsableSize(block));
  allocations_.fetch_add(1);
  liveAllocations_.fetch_add(1);
  UpdatePeaks();
}

void Counters::Uncounted(void* block) {
  if (!block) return;
  bytesFreed_.fetch_add(UsableSize(block));
  frees_.fetch_add(1);
  liveAllocations_.fetch_sub(1);
}

void* Counters::Allocate(size_t bytes) {
  void* block = std::malloc(bytes);
  Counted(block);
  return block;
}

void* Counters::AllocateAligned(size_t bytes, size_t alignment) {
  // aligned_alloc wants a size that is a multiple of the alignment.
  size_t rounded = (bytes + alignment - 1) / alignment * alignment;
  if (rounded < bytes) return nullptr;
  void* block = std::aligned_alloc(alignment, rounded ? rounded : alignment);
  Counted(block);
  return block;
}

void Counters::Free(void* block) {
  Uncounted(block);
  std::free(block);
}

void* Counters::Reallocate(void* block, size_t bytes) {
  if (!block) return Allocate(bytes);
  if (bytes == 0) {
    Free(block);
    return nullptr;
  }
  const size_t oldSize = UsableSize(block);
  void* moved = std::realloc(block, bytes);
  if (!moved) return nullptr;
  bytesFreed_.fetch_add(oldSize);
  frees_.fetch_add(1);
  liveAllocations_.fetch_sub(1);
  Counted(moved);
  return moved;
}

char* Counters::Duplicate(const char* text) {
  if (!text) return nullptr;
  char* copy = strdup(text);
  Counted(copy);
  return copy;
}

void Counters::UpdatePeaks() {
  const uint64_t freed = bytesFreed_.load();
  const uint64_t live = bytesAllocated_.load() - freed;
  uint64_t peak = peakLiveBytes_.load();
  while (live > peak) {
    if (peakLiveBytes_.compare_exchange_weak(peak, live)) {
      peakLiveAllocations_.store(liveAllocations_.load());
      return;
    }
  }
}

void Counters::Read(PluginMemoryStats* out) const {
  const uint64_t frees = frees_.load();
  const uint64_t bytesFreed = bytesFreed_.load();
  out->bytesAllocated = bytesAllocated_.load();
  out->allocations = allocations_.load();
  out->bytesFreed = bytesFreed;
  out->frees = frees;
  out->peakLiveBytes = peakLiveBytes_.load();
  out->peakLiveAllocations = peakLiveAllocations_.load();
  out->reserved[0] = 0;
  out->reserved[1] = 0;
}

Counters& ProcessCounters() {
  // Never destroyed: frees may still arrive from static destructors.
  static Counters* counters = new (std::malloc(sizeof(Counters))) Counters;
  return *counters;
}

namespace {

Os::MemoryStatus g_startupStatus;

void* CountedAllocate(size_t bytes) { return ProcessCounters().Allocate(bytes); }
void CountedFree(void* block) { ProcessCounters().Free(block); }
void* CountedReallocate(void* block, size_t bytes) { return ProcessCounters().Reallocate(block, bytes); }
char* CountedDuplicate(const char* text) { return ProcessCounters().Duplicate(text); }

const Functions& Install() {
  Os::Env::Current().QueryMemoryStatus(&g_startupStatus);
  static const Functions functions{CountedAllocate, CountedFree, CountedReallocate, CountedDuplicate,
                                   UsableSize};
  return functions;
}

}  // namespace

const Functions& Process() {
  static const Functions& functions = Install();
  return functions;
}

const Os::MemoryStatus& StartupMemoryStatus() {
  Process();
  return g_startupStatus;
}

}  // namespace Vexa::Memory
