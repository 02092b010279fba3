#include "binding/property.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <new>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "os/fake_env.h"

namespace Vexa {
namespace {

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

std::string Numbered(const char* prefix, uint32_t n) {
  char text[32];
  std::snprintf(text, sizeof text, "%s%u", prefix, n);
  return text;
}

// One row per kind: what every reader gives for it.
struct ReaderRow {
  const char* name;
  void (*set)(BindingNode&);
  bool toBool;
  int64_t toInt64;  // default 77
  uint64_t toUInt64;
  const char* text;
  uint32_t size;
};

TEST(BindingNode, CoercingReadersPerKind) {
  const ReaderRow rows[] = {
      {"empty", [](BindingNode&) {}, false, 77, 77, "", 0},
      {"bool", [](BindingNode& n) { n.SetBool(true); }, true, 1, 1, "true", 1},
      {"signed", [](BindingNode& n) { n.SetSigned(int32_t(-5)); }, true, -5, uint64_t(-5), "-5", 1},
      {"unsigned max", [](BindingNode& n) { n.SetUnsigned(UINT64_MAX); }, true, -1, UINT64_MAX,
       "18446744073709551615", 1},
      {"float", [](BindingNode& n) { n.SetFloat(-2.75); }, true, -2, uint64_t(-2), "-2.750000", 1},
      {"float 0.1", [](BindingNode& n) { n.SetFloat(0.1); }, true, 0, 0, "0.100000", 1},
      {"float 2^63", [](BindingNode& n) { n.SetFloat(9223372036854775808.0); }, true,
       std::numeric_limits<int64_t>::max(), 9223372036854775808ull, "9223372036854775808.000000", 1},
      {"nan", [](BindingNode& n) { n.SetFloat(std::nan("")); }, true, 0, 0, "nan", 1},
      {"-inf", [](BindingNode& n) { n.SetFloat(-HUGE_VAL); }, true, std::numeric_limits<int64_t>::min(),
       uint64_t(1) << 63, "-inf", 1},
      {"string hex", [](BindingNode& n) { n.SetString("0x10"); }, false, 16, 16, "0x10", 4},
      {"string octal", [](BindingNode& n) { n.SetString("010"); }, false, 8, 8, "010", 3},
      {"string trailing", [](BindingNode& n) { n.SetString("12abc"); }, false, 12, 12, "12abc", 5},
      {"string 1", [](BindingNode& n) { n.SetString("1"); }, true, 1, 1, "1", 1},
      {"string true", [](BindingNode& n) { n.SetString("true"); }, true, 0, 0, "true", 4},
      {"string TRUE", [](BindingNode& n) { n.SetString("TRUE"); }, false, 0, 0, "TRUE", 4},
      {"string yes", [](BindingNode& n) { n.SetString("yes"); }, false, 0, 0, "yes", 3},
      {"string blank true", [](BindingNode& n) { n.SetString(" true"); }, false, 0, 0, " true", 5},
      {"blob", [](BindingNode& n) { n.SetBlob(Bytes("abc")); }, true, 77, 77, "YWJj", 3},
      {"blob 4", [](BindingNode& n) { n.SetBlob(Bytes("abcd")); }, true, 77, 77, "YWJjZA==", 4},
      {"enum", [](BindingNode& n) { n.SetEnum(EnumValue{-3, nullptr}); }, true, -3, uint64_t(-3), "-3", 1},
      {"collection", [](BindingNode& n) { n.At(1); }, true, 77, 77, "", 2},
      {"empty collection", [](BindingNode& n) { n.MakeCollection(); }, false, 77, 77, "", 0},
      {"structure", [](BindingNode& n) { n.Field("a"); }, true, 77, 77, "", 1},
  };
  for (const auto& row : rows) {
    BindingProperty value;
    row.set(value);
    EXPECT_EQ(value.ToBool(), row.toBool) << row.name;
    EXPECT_EQ(value.ToInt64(77), row.toInt64) << row.name;
    EXPECT_EQ(value.ToUInt64(77), row.toUInt64) << row.name;
    EXPECT_EQ(value.ToText(), row.text) << row.name;
    EXPECT_EQ(value.Size(), row.size) << row.name;
    EXPECT_TRUE(value.IsValid()) << row.name;
  }
}

TEST(BindingNode, StrictGettersReturnTheDefaultForOtherKinds) {
  BindingProperty value;
  value.SetUnsigned(uint32_t(7));
  EXPECT_EQ(value.GetUnsigned(1), 7u);
  EXPECT_EQ(value.GetSigned(-1), -1);  // Signed only
  EXPECT_EQ(value.GetInteger(-1), 7);
  EXPECT_EQ(value.GetFloat(0.5), 0.5);
  EXPECT_EQ(value.GetString("d"), "d");
  EXPECT_FALSE(value.GetBool(false));
  value.SetFloat(-1.9);
  EXPECT_EQ(value.GetInteger(), -1);  // truncated toward zero
  EXPECT_EQ(value.GetUnsigned(3), 3u);
  value.SetFloat(1e300);  // beyond every integer: no undefined behaviour
  (void)value.GetInteger();
  (void)value.GetUnsignedInteger();
  (void)value.ToInt64();
  (void)value.ToUInt64();
}

TEST(BindingNode, TextsKeepEmbeddedNulAndAnyBytes) {
  const std::string_view odd("a\0b\xff\xfe", 5);
  BindingProperty value;
  value.Field(odd).SetString(odd);
  value.Field("a").SetString("plain");
  EXPECT_EQ(value.Size(), 2u);
  EXPECT_EQ(value.Find(odd).GetString(), odd);
  EXPECT_EQ(value.Find(odd).Size(), 5u);
  EXPECT_FALSE(value.HasField(std::string_view("a\0", 2)));
  EXPECT_EQ(value.Find("a").GetString(), "plain");
}

TEST(BindingNode, FieldsIterateInUnsignedByteOrder) {
  BindingProperty value;
  for (const char* name : {"b", "a", "B", "\xff", "\x01", "ab", ""}) value.Field(name);
  std::vector<std::string> names;
  for (const auto& field : value.Fields()) names.emplace_back(field.name);
  EXPECT_EQ(names, (std::vector<std::string>{"", "\x01", "B", "a", "ab", "b", "\xff"}));
}

// Fields are kept in runs of bounded length; these orders fill, split and
// append runs in every way, past the bound and through many runs.
TEST(BindingNode, FieldsStaySortedAndInPlaceWhateverTheOrderOfArrival) {
  struct Row {
    const char* order;
    std::vector<uint32_t> (*keys)(uint32_t count);
  };
  const Row rows[] = {
      {"ascending", [](uint32_t count) {
         std::vector<uint32_t> keys(count);
         for (uint32_t i = 0; i < count; ++i) keys[i] = i;
         return keys;
       }},
      {"descending", [](uint32_t count) {
         std::vector<uint32_t> keys(count);
         for (uint32_t i = 0; i < count; ++i) keys[i] = count - 1 - i;
         return keys;
       }},
      {"shuffled", [](uint32_t count) {
         std::vector<uint32_t> keys(count);
         for (uint32_t i = 0; i < count; ++i) keys[i] = i;
         std::shuffle(keys.begin(), keys.end(), std::mt19937(count));
         return keys;
       }},
      {"evens up, then odds down", [](uint32_t count) {
         std::vector<uint32_t> keys;
         for (uint32_t i = 0; i < count; i += 2) keys.push_back(i);
         for (uint32_t i = count; i-- > 0;)
           if (i % 2 == 1) keys.push_back(i);
         return keys;
       }},
  };
  for (const Row& row : rows) {
    for (const uint32_t count : {1u, 7u, 256u, 257u, 3000u}) {
      SCOPED_TRACE(std::string(row.order) + ", " + std::to_string(count));
      BindingProperty value;
      value.MakeStructure();
      std::map<std::string, const BindingNode*> placed;
      for (const uint32_t key : row.keys(count)) {
        // Zero-padded, so the text order is the numeric one.
        char name[16];
        std::snprintf(name, sizeof name, "k%04u", key);
        BindingNode& field = value.Field(name);
        field.SetUnsigned(key);
        placed.emplace(name, &field);
      }
      ASSERT_EQ(value.Size(), count);
      auto expected = placed.begin();
      for (const auto field : value.Fields()) {
        ASSERT_NE(expected, placed.end());
        EXPECT_EQ(field.name, expected->first);
        // Added later, others never moved this one.
        EXPECT_EQ(&field.value, expected->second);
        EXPECT_EQ(&value.Find(field.name), expected->second);
        EXPECT_EQ(&value.Field(field.name), expected->second);
        ++expected;
      }
      EXPECT_EQ(expected, placed.end());
      EXPECT_EQ(value.Size(), count);

      const BindingProperty copy(value);
      expected = placed.begin();
      for (const auto field : copy.Fields()) {
        EXPECT_EQ(field.name, expected->first);
        EXPECT_EQ(field.value.GetUnsigned(), expected->second->GetUnsigned());
        ++expected;
      }
      EXPECT_EQ(copy.Size(), count);
    }
  }
}

// A hint is a guess: however wrong, stale or foreign, the structure ends as
// the same calls without hints would leave it. Records reuse slots, so the
// names of replaced ones leave the table while hints still point at them.
TEST(BindingNode, HintedFieldsLandWhereUnhintedOnesWould) {
  std::mt19937 random(11);
  BindingProperty foreignTree;
  BindingFieldHint foreign;
  foreignTree.Field("m");
  foreignTree.Field("n", foreign);
  BindingProperty records;
  // A name whose entry has left the table, asked for again by the hint that
  // saw it: a new entry, found by its text.
  BindingFieldHint stale;
  records.At(0).Field("gone", stale);
  records.At(0).Reset();
  records.At(1).MakeStructure();
  BindingNode& again = records.At(1).Field("gone", stale);
  EXPECT_EQ(&records.At(1).Find("gone"), &again);
  records.Reset();

  std::vector<BindingFieldHint> hints(700);
  for (uint32_t round = 0; round < 3000; ++round) {
    BindingNode& record = records.At(round % 40);
    record.Reset();
    if (round % 5 == 0) record.SetString("not yet a structure");
    std::map<std::string, uint32_t> expected;
    const uint32_t count = round % 500 == 499 ? 700 : random() % 12;
    for (uint32_t i = 0; i < count; ++i) {
      std::string name;
      switch (random() % 8) {
        case 0: name = Numbered("only", round); break;  // this record's own
        case 1: name = Numbered("r", random() % 700); break;
        case 2: name = "n"; break;
        default: name = Numbered("s", (i * 7) % 13); break;  // the common shape
      }
      BindingFieldHint& hint = random() % 23 == 0 ? foreign : hints[i];
      record.Field(name, hint).SetUnsigned(i);
      expected[name] = i;
    }
    if (count == 0) continue;
    ASSERT_EQ(record.Size(), expected.size()) << round;
    auto want = expected.begin();
    for (const auto field : record.Fields()) {
      ASSERT_EQ(field.name, want->first) << round;
      ASSERT_EQ(field.value.GetUnsigned(), want->second) << round;
      ASSERT_EQ(record.Find(want->first).GetUnsigned(), want->second) << round;
      ++want;
    }
  }
}

TEST(BindingNode, ContainerShapeChanges) {
  BindingProperty value;
  value.At(3);
  ASSERT_EQ(value.GetKind(), BindingKind::Collection);
  EXPECT_EQ(value.Size(), 4u);
  for (const auto& element : value.Elements()) EXPECT_TRUE(element.IsEmpty());
  value.MakeCollection();  // same kind: untouched
  EXPECT_EQ(value.Size(), 4u);
  value.Field("x");  // another kind: elements discarded
  EXPECT_EQ(value.GetKind(), BindingKind::Structure);
  EXPECT_EQ(value.Size(), 1u);
  EXPECT_TRUE(value.Find("x").IsEmpty());
  value.MakeStructure();
  EXPECT_EQ(value.Size(), 1u);
}

TEST(BindingNode, MissesReturnTheSharedEmptyNode) {
  BindingProperty value;
  value.SetString("not a container");
  const BindingProperty& view = value;
  EXPECT_EQ(&view.Find("x"), &BindingNode::EmptyNode());
  EXPECT_EQ(&view.At(0), &BindingNode::EmptyNode());
  value.At(0);
  EXPECT_EQ(&view.At(1), &BindingNode::EmptyNode());
  EXPECT_EQ(view.GetKind(), BindingKind::Collection);
  EXPECT_EQ(view.Size(), 1u);
  // A copy of the shared node is an ordinary, writable root.
  BindingProperty copy(view.Find("x"));
  copy.SetString("written");
  EXPECT_TRUE(BindingNode::EmptyNode().IsEmpty());
}

TEST(BindingProperty, Failures) {
  BindingProperty value;
  EXPECT_EQ(value.FailureMessage(), "");
  value.At(2).SetString("gone");
  value.SetFailure("x");
  EXPECT_FALSE(value.IsValid());
  EXPECT_EQ(value.FailureMessage(), "x");
  EXPECT_EQ(value.Find("error").GetString(), "x");
  EXPECT_EQ(value.Size(), 1u);
  BindingProperty moved(std::move(value));
  EXPECT_FALSE(moved.IsValid());
  EXPECT_TRUE(value.IsValid());
  moved.Field("error").SetSigned(int64_t(1));
  EXPECT_EQ(moved.FailureMessage(), "");  // not a String
  moved.Clear();
  EXPECT_TRUE(moved.IsValid());
  EXPECT_TRUE(moved.IsEmpty());
}

TEST(BindingProperty, CopiesAreDeepAndIndependent) {
  BindingProperty source;
  source.Field("name").SetString("Ahri");
  source.Field("skins").At(1).SetUnsigned(uint32_t(3));
  source.Field("raw").SetBlob(Bytes("abc"));
  BindingProperty copy(source);
  source.Field("name").SetString("Lux");
  source.Field("skins").Reset();
  EXPECT_EQ(copy.Find("name").GetString(), "Ahri");
  EXPECT_EQ(copy.Find("skins").At(1).GetUnsigned(), 3u);
  EXPECT_EQ(copy.Find("raw").ToText(), "YWJj");
  EXPECT_NE(copy.Storage(), source.Storage());
}

TEST(BindingProperty, CopyIntoItsOwnDescendantOrItself) {
  BindingProperty root;
  root.At(0).At(0).SetString("x");
  root.At(0).At(0) = root;  // the source contains the destination
  EXPECT_EQ(root.At(0).At(0).At(0).At(0).GetString(), "x");
  EXPECT_EQ(root.Size(), 1u);
  root = root;
  EXPECT_EQ(root.At(0).At(0).At(0).At(0).GetString(), "x");
  BindingProperty parent;
  parent.Field("child").Field("leaf").SetString("y");
  parent = parent.Find("child");  // a descendant into its root
  EXPECT_EQ(parent.Find("leaf").GetString(), "y");
  EXPECT_EQ(parent.Size(), 1u);
}

TEST(BindingProperty, RootMoveTransfersStorageChildMoveCopies) {
  BindingProperty a;
  a.Field("k").SetString("v");
  const BindingStorage* storage = a.Storage();
  BindingProperty b;
  b = std::move(a);
  EXPECT_EQ(b.Storage(), storage);
  EXPECT_TRUE(a.IsEmpty());
  EXPECT_EQ(b.Find("k").GetString(), "v");

  BindingProperty c;
  c = std::move(b.Field("k"));  // a child: copied, then reset
  EXPECT_EQ(c.GetString(), "v");
  EXPECT_NE(c.Storage(), storage);
  EXPECT_TRUE(b.Find("k").IsEmpty());
  EXPECT_TRUE(b.HasField("k"));
}

TEST(BindingStorage, EqualTextsAreInternedOnce) {
  BindingProperty value;
  for (int i = 0; i < 100; ++i) value.At(uint32_t(i)).SetString("same text");
  value.At(100).SetString("");
  const BindingStringTable& strings = value.Storage()->Strings();
  const InternedString* entry = strings.Find("same text");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->References(), 100u);
  EXPECT_EQ(strings.Find(""), BindingStringTable::Empty());
  for (auto& element : value.Elements()) element.Reset();
  EXPECT_EQ(strings.Find("same text"), nullptr);
}

TEST(BindingStorage, FreedTreesGiveEveryPageAndRegionBack) {
  BindingPageProvider& provider = BindingPageProvider::Process();
  provider.ReleaseSpares();  // the trees of earlier tests left some
  const size_t pages = provider.PagesInUse(), regions = provider.RegionCount();
  {
    BindingProperty tree;
    for (uint32_t i = 0; i < 20000; ++i) tree.At(i).Field(Numbered("name", i % 50)).SetString("v");
    EXPECT_GT(provider.PagesInUse(), pages + 16);
    EXPECT_GT(provider.RegionCount(), regions);
  }
  EXPECT_EQ(provider.PagesInUse(), pages);
  EXPECT_LE(provider.RegionCount(), regions + BindingPageProvider::kProcessSpareRegions);
}

// A tree freed whole drops its heap blocks by the storage's list; one freed
// part by part must unlink each block itself, or the list would free it twice.
TEST(BindingStorage, HeapBlocksFollowTheirNodes) {
  const std::string longText(100, 'x');  // too long to sit in the entry's slot
  struct Row {
    const char* name;
    void (*set)(BindingNode&, const std::string&);
    size_t blocks;
    size_t copied;  // copies size element arrays exactly: three elements fit a slot
  } rows[] = {
      {"empty blob", [](BindingNode& n, const std::string&) { n.SetBlob(std::span<const uint8_t>()); }, 0, 0},
      {"blob", [](BindingNode& n, const std::string& t) { n.SetBlob(Bytes(t)); }, 1, 1},
      {"short text", [](BindingNode& n, const std::string&) { n.SetString("short"); }, 0, 0},
      {"long text", [](BindingNode& n, const std::string& t) { n.SetString(t); }, 1, 1},
      {"grown collection",
       [](BindingNode& n, const std::string&) {
         for (uint32_t i = 0; i < 100; ++i) n.At(i).SetSigned(int64_t(i));
       },
       1, 1},
      {"nested",
       [](BindingNode& n, const std::string& t) {
         n.At(0).Field("a").SetBlob(Bytes(t));
         n.At(1).At(0).SetString(t + "!");
       },
       4, 2},
  };
  for (const Row& row : rows) {
    BindingProperty tree;
    tree.Field("keep").SetString("k");
    row.set(tree.Field("part"), longText);
    EXPECT_EQ(tree.Storage()->BlockCount(), row.blocks) << row.name;
    BindingProperty copy;
    copy.Field("other").At(0).SetSigned(1);
    copy.Field("copied") = tree.Find("part");
    EXPECT_EQ(copy.Storage()->BlockCount(), row.copied + 1) << row.name;
    tree.Field("part").Reset();
    EXPECT_EQ(tree.Storage()->BlockCount(), 0u) << row.name;
    copy.Field("copied").SetSigned(2);
    EXPECT_EQ(copy.Storage()->BlockCount(), 1u) << row.name;
  }
}

TEST(BindingStorage, ExhaustionIsReportedAndNothingLeaks) {
  BindingPageProvider::Process().ReleaseSpares();  // or the tree would live in them
  Os::FakeEnv env;
  env.regionsLeft = 0;
  Os::ScopedEnv scope(&env);
  BindingProperty tree;
  EXPECT_THROW(
      {
        for (uint32_t i = 0; i < 100000; ++i) tree.Field(Numbered("f", i)).SetSigned(int64_t(i));
      },
      std::bad_alloc);
  EXPECT_GT(tree.Size(), 0u);  // what fit in the inline pages is still there
  EXPECT_EQ(env.regionsMapped, 0);
}

TEST(BindingNode, HugeReserveIsALengthError) {
  BindingProperty value;
  value.MakeCollection();
  EXPECT_THROW(value.Reserve(size_t(1) << 40), std::length_error);
  EXPECT_THROW(value.Reserve(std::numeric_limits<size_t>::max()), std::length_error);
  EXPECT_EQ(value.Size(), 0u);
  value.Reserve(10);
  EXPECT_EQ(value.Size(), 0u);
}

// Every walk over a tree must be iterative: these trees would overflow any
// call stack if copy, move, reset or destruction recursed per level.
TEST(BindingNode, MillionLevelTreesNeedNoDeepStack) {
  constexpr int kDepth = 1000000;
  for (bool structures : {false, true}) {
    BindingProperty root;
    BindingNode* node = &root;
    for (int i = 0; i < kDepth; ++i) node = structures ? &node->Field("a") : &node->At(0);
    node->SetString("bottom");

    BindingProperty copy(root);
    const BindingNode* walk = &copy;
    int depth = 0;
    while (walk->Size() == 1 && walk->GetKind() != BindingKind::String) {
      walk = structures ? &walk->Find("a") : &walk->At(0);
      ++depth;
    }
    EXPECT_EQ(depth, kDepth);
    EXPECT_EQ(walk->GetString(), "bottom");

    BindingProperty moved;
    moved = std::move(copy);
    EXPECT_EQ(moved.Size(), 1u);
    moved.Reset();
    copy = root;  // copy-assign over an existing tree
    root.SetString("replaced");  // discards the deep content
    EXPECT_EQ(root.GetString(), "replaced");
  }
}

}  // namespace
}  // namespace Vexa
