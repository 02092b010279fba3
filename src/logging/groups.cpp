#include "logging/groups.h"

#include <new>

namespace Vexa::Logging {
namespace {

constexpr const char* kFixedCodes[GroupTable::kFixedSlots] = {"DBG", "GEN", "XTR", "PRF",
                                                               "MEM", "DSK", "NET", "TST"};

// The first three characters of `code`, NUL-padded.
uint32_t Pack(const char* code) {
  uint32_t packed = 0;
  for (int i = 0; i < 3 && code[i] != '\0'; ++i) packed |= uint32_t(uint8_t(code[i])) << (8 * i);
  return packed;
}

}  // namespace

GroupTable::GroupTable() : count_(kFixedSlots) {
  for (size_t i = 0; i < kSlots; ++i)
    slots_[i].store(Pack(i < kFixedSlots ? kFixedCodes[i] : "???"), std::memory_order_relaxed);
}

uint64_t GroupTable::FromCode(const char* code) {
  if (code == nullptr || code[0] == '\0') return 0;
  const uint32_t packed = Pack(code);
  Os::LockGuard guard(registerLock_);
  const size_t count = count_.load(std::memory_order_relaxed);
  for (size_t i = 0; i < count; ++i)
    if (slots_[i].load(std::memory_order_relaxed) == packed) return uint64_t(1) << i;
  if (count == kSlots) return 0;
  slots_[count].store(packed, std::memory_order_relaxed);
  count_.store(count + 1, std::memory_order_release);
  return uint64_t(1) << count;
}

size_t GroupTable::ToText(uint64_t groups, char* out, size_t size) const {
  if (out == nullptr || size == 0) return 0;
  size_t length = 0;
  auto put = [&](char c) {
    if (length + 1 >= size) return false;
    out[length++] = c;
    return true;
  };
  bool first = true;
  for (size_t bit = 0; bit < kSlots; ++bit) {
    if ((groups & (uint64_t(1) << bit)) == 0) continue;
    if (!first && !put(';')) break;
    first = false;
    const uint32_t packed = slots_[bit].load(std::memory_order_acquire);
    bool full = false;
    for (int i = 0; i < 3 && !full; ++i) {
      const char c = char((packed >> (8 * i)) & 0xFF);
      if (c == '\0') break;
      full = !put(c);
    }
    if (full) break;
  }
  out[length] = '\0';
  return length;
}

GroupTable& GroupTable::Process() {
  alignas(GroupTable) static unsigned char storage[sizeof(GroupTable)];
  static GroupTable* table = new (storage) GroupTable;
  return *table;
}

}  // namespace Vexa::Logging
