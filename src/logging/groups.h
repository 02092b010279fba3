// The table of group codes: 64 slots, bit i of a group mask is slot i. The
// first eight codes are fixed; the others read "???" until registered.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "os/lock.h"

namespace Vexa::Logging {

class GroupTable {
 public:
  static constexpr size_t kSlots = 64;
  static constexpr size_t kFixedSlots = 8;

  GroupTable();
  GroupTable(const GroupTable&) = delete;
  GroupTable& operator=(const GroupTable&) = delete;

  // The bit of `code`, compared on its first three characters; a new code
  // takes the next free slot. 0 for a null or empty code and, once all 64
  // slots are taken, for every new code: a zero mask then means "no group",
  // which every target accepts, instead of a bit that belongs to another group.
  uint64_t FromCode(const char* code);
  // The codes of the set bits, lowest first, joined by ";", cut to fit `size`.
  // Returns the length written.
  size_t ToText(uint64_t groups, char* out, size_t size) const;
  size_t Registered() const { return count_.load(std::memory_order_acquire); }

  // The table the logger uses. Never destroyed: lines may be logged from
  // other static destructors.
  static GroupTable& Process();

 private:
  // Each slot packs three characters into one word, so readers never see a
  // half-written code and need no lock.
  std::atomic<uint32_t> slots_[kSlots];
  std::atomic<size_t> count_;
  Os::Lock registerLock_;  // one code is never registered twice
};

}  // namespace Vexa::Logging
