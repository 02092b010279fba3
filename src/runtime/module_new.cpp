// Linked only into the plug-in's shared library. The library carries its own
// C++ runtime and keeps these symbols local, so every C++ allocation made
// inside the module, including those of the standard library, is counted,
// and no block crosses to another module's heap.
#include <cstdlib>
#include <new>

#include "runtime/allocator.h"

namespace {

void* AllocateOrThrow(std::size_t bytes) {
  void* block = Vexa::Memory::Allocate(bytes ? bytes : 1);
  if (!block) throw std::bad_alloc();
  return block;
}

void* AllocateAlignedOrThrow(std::size_t bytes, std::align_val_t alignment) {
  void* block = Vexa::Memory::AllocateAligned(bytes, std::size_t(alignment));
  if (!block) throw std::bad_alloc();
  return block;
}

}  // namespace

void* operator new(std::size_t bytes) { return AllocateOrThrow(bytes); }
void* operator new[](std::size_t bytes) { return AllocateOrThrow(bytes); }
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept {
  return Vexa::Memory::Allocate(bytes ? bytes : 1);
}
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept {
  return Vexa::Memory::Allocate(bytes ? bytes : 1);
}
void* operator new(std::size_t bytes, std::align_val_t alignment) {
  return AllocateAlignedOrThrow(bytes, alignment);
}
void* operator new[](std::size_t bytes, std::align_val_t alignment) {
  return AllocateAlignedOrThrow(bytes, alignment);
}
void* operator new(std::size_t bytes, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return Vexa::Memory::AllocateAligned(bytes, std::size_t(alignment));
}
void* operator new[](std::size_t bytes, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return Vexa::Memory::AllocateAligned(bytes, std::size_t(alignment));
}

void operator delete(void* block) noexcept { Vexa::Memory::Free(block); }
void operator delete[](void* block) noexcept { Vexa::Memory::Free(block); }
void operator delete(void* block, std::size_t) noexcept { Vexa::Memory::Free(block); }
void operator delete[](void* block, std::size_t) noexcept { Vexa::Memory::Free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { Vexa::Memory::Free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { Vexa::Memory::Free(block); }
void operator delete(void* block, std::align_val_t) noexcept { Vexa::Memory::Free(block); }
void operator delete[](void* block, std::align_val_t) noexcept { Vexa::Memory::Free(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept {
  Vexa::Memory::Free(block);
}
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept {
  Vexa::Memory::Free(block);
}
