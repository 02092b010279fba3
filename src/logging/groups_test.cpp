#include "logging/groups.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "logging/logger.h"

namespace Vexa::Logging {
namespace {

TEST(GroupTable, FixedCodesThenRegistrationInSlotOrder) {
  GroupTable table;
  const struct {
    const char* code;
    uint64_t bit;
  } rows[] = {
      {"DBG", kGroupDbg}, {"NET", kGroupNet}, {"TST", kGroupTst},
      {"ABC", uint64_t(1) << 8},   // the ninth code takes bit 8
      {"ABC", uint64_t(1) << 8},   // and keeps it
      {"ABCD", uint64_t(1) << 8},  // only the first three characters count
      {"abc", uint64_t(1) << 9},   // case matters
      {"AB", uint64_t(1) << 10},   {"AB", uint64_t(1) << 10},
      {"", 0},                     {nullptr, 0},
  };
  for (const auto& row : rows) EXPECT_EQ(table.FromCode(row.code), row.bit) << (row.code ? row.code : "null");
  EXPECT_EQ(table.Registered(), 11u);
}

TEST(GroupTable, AFullTableRefusesNewCodesButKeepsFindingOldOnes) {
  GroupTable table;
  std::string code = "Q00";
  for (size_t slot = GroupTable::kFixedSlots; slot < GroupTable::kSlots; ++slot) {
    code[1] = char('A' + slot / 26);
    code[2] = char('A' + slot % 26);
    EXPECT_EQ(table.FromCode(code.c_str()), uint64_t(1) << slot) << code;
  }
  EXPECT_EQ(table.FromCode("NEW"), 0u);
  EXPECT_EQ(table.FromCode("NEW"), 0u);
  EXPECT_EQ(table.Registered(), GroupTable::kSlots);
  EXPECT_EQ(table.FromCode(code.c_str()), uint64_t(1) << 63);
  char text[8];
  table.ToText(uint64_t(1) << 63, text, sizeof text);
  EXPECT_EQ(std::string(text), code);
}

TEST(GroupTable, MaskToText) {
  GroupTable table;
  table.FromCode("NEW");
  const struct {
    uint64_t groups;
    size_t size;
    const char* text;
  } rows[] = {
      {0, 16, ""},
      {kGroupDbg, 16, "DBG"},
      {kGroupNet | kGroupDbg, 16, "DBG;NET"},
      {0xFF, 64, "DBG;GEN;XTR;PRF;MEM;DSK;NET;TST"},
      {uint64_t(1) << 8 | uint64_t(1) << 9, 16, "NEW;???"},
      {kGroupDbg | kGroupGen, 6, "DBG;G"},
      {kGroupDbg, 1, ""},
  };
  for (const auto& row : rows) {
    char text[64];
    EXPECT_EQ(table.ToText(row.groups, text, row.size), std::strlen(row.text));
    EXPECT_STREQ(text, row.text) << row.groups;
  }
}

TEST(GroupTable, ConcurrentRegistrationOfOneCodeGivesOneBit) {
  GroupTable table;
  std::vector<uint64_t> bits(8);
  std::vector<std::thread> threads;
  for (auto& bit : bits) threads.emplace_back([&table, &bit] { bit = table.FromCode("RAC"); });
  for (auto& thread : threads) thread.join();
  for (uint64_t bit : bits) EXPECT_EQ(bit, uint64_t(1) << 8);
  EXPECT_EQ(table.Registered(), 9u);
}

}  // namespace
}  // namespace Vexa::Logging
