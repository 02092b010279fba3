#include "binding/conversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "binding/host_value.h"
#include "binding/registration.h"

namespace Vexa {
namespace {

enum class Phase : int32_t { Planning = 1, BanPick = 3, Finalization = 7 };

struct Spell {
  int32_t id = 0;
  std::string name;
};

struct Player {
  int64_t summonerId = 0;
  uint32_t skinIndex = 0;
  bool ready = false;
  double score = 0;
  std::string summonerName;
  Phase phase = Phase::Planning;
  std::optional<int32_t> championId;
  std::vector<Spell> spells;
  std::vector<uint8_t> raw;
  BindingProperty extra;
};

struct Required {
  int32_t must = 0;
  int32_t quiet = 0;
};

class ConversionTest : public ::testing::Test {
 public:
  ConversionTest() {
    RegisterEnum<Phase>(registry, "ChampSelectPhase")
        .Value("PLANNING", Phase::Planning)
        .Value("BAN_PICK", Phase::BanPick)
        .Value("FINALIZATION", Phase::Finalization);
    RegisterStruct<Spell>(registry, "Spell").Field("id", &Spell::id).Field("name", &Spell::name);
    RegisterStruct<Player>(registry, "Player")
        .Field("summonerId", &Player::summonerId)
        .Field("skinIndex", &Player::skinIndex)
        .Field("ready", &Player::ready)
        .Field("score", &Player::score)
        .Field("summonerName", &Player::summonerName)
        .Field("phase", &Player::phase)
        .Field("championId", &Player::championId)
        .Field("spells", &Player::spells)
        .Field("raw", &Player::raw)
        .Field("extra", &Player::extra);
    RegisterStruct<Required>(registry, "Required")
        .Field("must", &Required::must, "", kRequiredOnInput)
        .Field("quiet", &Required::quiet, "", kSkipDefaultOnOutput);
  }

  // The failure text of converting `input` into T under the name "f", or "ok".
  template <typename T>
  std::string Convert(const BindingNode& input, T* out = nullptr) {
    BindingProperty result;
    T value = FromBinding<T>(result, input, "f", registry);
    if (out) *out = value;
    return result.IsValid() ? "ok" : std::string(result.FailureMessage());
  }

  BindingRegistry registry;
};

BindingProperty Str(std::string_view text) {
  BindingProperty p;
  p.SetString(text);
  return p;
}
BindingProperty Sig(int64_t v) {
  BindingProperty p;
  p.SetSigned(v);
  return p;
}
BindingProperty Uns(uint64_t v) {
  BindingProperty p;
  p.SetUnsigned(v);
  return p;
}
BindingProperty Flt(double v) {
  BindingProperty p;
  p.SetFloat(v);
  return p;
}

TEST_F(ConversionTest, NumbersAndTheirMessages) {
  const BindingProperty empty;
  BindingProperty boolean;
  boolean.SetBool(true);
  struct Row {
    const char* what;
    std::function<std::string(ConversionTest&)> run;
    std::string expected;
  };
  auto i32 = [](BindingProperty in) { return [in](ConversionTest& t) { return t.Convert<int32_t>(in); }; };
  auto u32 = [](BindingProperty in) { return [in](ConversionTest& t) { return t.Convert<uint32_t>(in); }; };
  auto i64 = [](BindingProperty in) { return [in](ConversionTest& t) { return t.Convert<int64_t>(in); }; };
  auto u64 = [](BindingProperty in) { return [in](ConversionTest& t) { return t.Convert<uint64_t>(in); }; };
  auto dbl = [](BindingProperty in) { return [in](ConversionTest& t) { return t.Convert<double>(in); }; };
  const Row rows[] = {
      {"empty", i32(empty), "A value for 'f' is required."},
      {"leading blank", i32(Str(" 42")), "ok"},
      {"trailing blank", i32(Str("42 ")), "Value 42  for 'f' of type int32 is in an incorrect format"},
      {"empty text", i32(Str("")), "ok"},
      {"hex max", i32(Str("0x7fffffff")), "ok"},
      {"text above max", i32(Str("2147483648")), "Value 2147483648 for 'f' of type int32 is out of range"},
      {"text overflow", i64(Str("99999999999999999999")),
       "Value 99999999999999999999 for 'f' of type int64 is out of range"},
      {"embedded NUL", i32(Str(std::string_view("1\0" "2", 3))),
       [] {
         const char text[] = "Value 1\0" "2 for 'f' of type int32 is in an incorrect format";
         return std::string(text, sizeof text - 1);
       }()},
      {"signed above", i32(Sig(int64_t(1) << 40)), "Value 1099511627776 for 'f' of type int32 is out of range"},
      {"unsigned above", i64(Uns(UINT64_MAX)), "Value 18446744073709551615 for 'f' of type int64 is out of range"},
      {"float 2^63", i64(Flt(9223372036854775808.0)), "!ok"},
      {"float nan", i32(Flt(std::nan(""))), "!ok"},
      {"float in range", i32(Flt(-2147483648.0)), "ok"},
      {"bool", i32(boolean), "Couldn't assign value to 'f' of type int32 because the input is of an invalid type bool."},
      {"uint32 of -1", u32(Sig(-1)), "Value -1 for 'f' of type uint32 is out of range"},
      {"uint32 of ' -1'", u32(Str(" -1")), "Value  -1 for 'f' of type uint32 is out of range"},
      {"uint64 of ' -1'", u64(Str(" -1")), "ok"},
      {"uint64 of '-1'", u64(Str("-1")), "Value -1 for 'f' of type uint64 is out of range"},
      {"uint64 of 2^64 float", u64(Flt(18446744073709551616.0)), "!ok"},
      {"uint32 of negative float", u32(Flt(-0.5)), "!ok"},
      {"double of text", dbl(Str("1.5e3")), "ok"},
      {"double of 1e400", dbl(Str("1e400")), "Value 1e400 for 'f' of type double is out of range"},
      {"double of tiny", dbl(Str("1e-400")), "ok"},
      {"double of inf", dbl(Flt(HUGE_VAL)), "!ok"},
      {"double trailing", dbl(Str("1.5x")), "Value 1.5x for 'f' of type double is in an incorrect format"},
  };
  for (const Row& row : rows) {
    const std::string got = row.run(*this);
    if (row.expected == "!ok")
      EXPECT_NE(got, "ok") << row.what;
    else
      EXPECT_EQ(got, row.expected) << row.what;
  }
  uint64_t big = 0;
  EXPECT_EQ(Convert<uint64_t>(Str(" -1"), &big), "ok");
  EXPECT_EQ(big, UINT64_MAX);
  int32_t hex = 0;
  Convert<int32_t>(Str("0x7fffffff"), &hex);
  EXPECT_EQ(hex, 2147483647);
}

TEST_F(ConversionTest, BoolTextAndEnumMessages) {
  EXPECT_EQ(Convert<bool>(Str("yes")),
            "Value yes for 'f' of type bool is in an incorrect format. Options are \"true\", \"false\", \"1\", \"0\".");
  EXPECT_EQ(Convert<bool>(Sig(1)), "Couldn't assign value to 'f' of type bool because the input is of an invalid type signed.");
  bool flag = false;
  EXPECT_EQ(Convert<bool>(Str("1"), &flag), "ok");
  EXPECT_TRUE(flag);
  EXPECT_EQ(Convert<std::string>(Sig(5)), "Couldn't assign value to 'f' because the input is not a string.");

  BindingProperty named;
  named.SetEnum(EnumValue{3, &TypeIdentity::Of<Phase>()});
  std::string text;
  EXPECT_EQ(Convert<std::string>(named, &text), "ok");
  EXPECT_EQ(text, "BAN_PICK");
  named.SetEnum(EnumValue{4, &TypeIdentity::Of<Phase>()});
  EXPECT_EQ(Convert<std::string>(named), "4 is not a valid enumeration value for 'f'.");

  Phase phase{};
  EXPECT_EQ(Convert<Phase>(Str("3"), &phase), "ok");
  EXPECT_EQ(phase, Phase::BanPick);
  EXPECT_EQ(Convert<Phase>(Str("FINALIZATION"), &phase), "ok");
  EXPECT_EQ(phase, Phase::Finalization);
  EXPECT_EQ(Convert<Phase>(Str("finalization")), "finalization is not a valid ChampSelectPhase enumeration value for 'f'.");
  EXPECT_EQ(Convert<Phase>(Str("99999999999")), "99999999999 is not a valid ChampSelectPhase enumeration value for 'f'.");
  EXPECT_EQ(Convert<Phase>(Sig(2)), "2 is not a valid ChampSelectPhase enumeration value for 'f'.");
  EXPECT_EQ(Convert<Phase>(Uns((uint64_t(1) << 32) | 7), &phase), "ok");  // the low 32 bits
  EXPECT_EQ(Convert<Phase>(Flt(1.0)),
            "Couldn't assign value to 'f' of enum type because the input is of an invalid type float.");
}

TEST_F(ConversionTest, StructsVectorsAndOptionals) {
  BindingProperty input;
  input.Field("summonerId").SetSigned(int64_t(-9));
  input.Field("skinIndex").SetString("4");
  input.Field("ready").SetBool(true);
  input.Field("summonerName").SetString("Annie");
  input.Field("phase").SetString("BAN_PICK");
  input.Field("spells").At(0).Field("id").SetSigned(int64_t(4));
  input.Field("spells").At(2).Field("name").SetString("Flash");  // element 1 stays Empty
  input.Field("extra").Field("any").SetUnsigned(uint64_t(1));
  input.Field("unknown").SetString("ignored");
  Player player;
  player.championId = 5;  // no field in the input: left as it was
  ASSERT_EQ(Convert<Player>(input, &player), "ok");
  EXPECT_EQ(player.summonerId, -9);
  EXPECT_EQ(player.skinIndex, 4u);
  EXPECT_EQ(player.phase, Phase::BanPick);
  ASSERT_EQ(player.spells.size(), 3u);
  EXPECT_EQ(player.spells[0].id, 4);
  EXPECT_EQ(player.spells[1].id, 0);
  EXPECT_EQ(player.spells[2].name, "Flash");
  EXPECT_EQ(player.extra.Find("any").GetUnsigned(), 1u);

  // Out again: every field written, the empty optional as an Empty field.
  Player out;
  out.spells = {Spell{1, "Heal"}};
  out.raw = {1, 2, 3};
  const BindingProperty tree = ToBinding(out, registry);
  ASSERT_TRUE(tree.IsValid());
  EXPECT_EQ(tree.Size(), 10u);
  EXPECT_TRUE(tree.HasField("championId"));
  EXPECT_TRUE(tree.Find("championId").IsEmpty());
  EXPECT_EQ(tree.Find("spells").At(0).Find("name").GetString(), "Heal");
  EXPECT_EQ(tree.Find("raw").ToText(), "AQID");
  EXPECT_EQ(tree.Find("phase").GetEnum().value, 1);

  BindingProperty list;
  list.At(0);
  EXPECT_EQ(Convert<Player>(list), "Couldn't assign value to 'f' of type Player because the input not a structure.");
  EXPECT_EQ(Convert<std::vector<int32_t>>(input),
            "Couldn't assign value to 'f' of type vector because the input not a collection.");
  struct Unregistered {
    int x = 0;
  };
  EXPECT_EQ(Convert<Unregistered>(input),
            "Couldn't assign value to 'f' because the input is an unregistered structure or not a structure at all.");
  EXPECT_EQ(ToBinding(Unregistered{}, registry).FailureMessage(),
            "Couldn't convert native value because it's an unregistered structure.");

  // The first failing field stops the walk and keeps its message.
  BindingProperty bad;
  bad.Field("summonerId").SetString("x");
  bad.Field("skinIndex").SetString("y");
  EXPECT_EQ(Convert<Player>(bad), "Value x for 'summonerId' of type int64 is in an incorrect format");
}

TEST_F(ConversionTest, RequiredAndSkipDefaultFlags) {
  BindingProperty input;
  input.Field("quiet").SetSigned(int64_t(1));
  EXPECT_EQ(Convert<Required>(input),
            "Couldn't assign value to 'f' of type Required because the input structure doesn't have required field 'must'.");
  const BindingProperty tree = ToBinding(Required{}, registry);
  EXPECT_TRUE(tree.HasField("must"));
  EXPECT_FALSE(tree.HasField("quiet"));  // default and marked to skip
}

TEST_F(ConversionTest, HostValuesRoundTripAndBadKinds) {
  BindingProperty tree;
  tree.Field("name").SetString(std::string_view("a\0b", 3));
  tree.Field("list").At(1).SetFloat(1.5);
  tree.Field("raw").SetBlob(std::vector<uint8_t>{0, 255});
  tree.Field("phase").SetEnum(EnumValue{7, &TypeIdentity::Of<Phase>()});
  tree.Field("n").SetUnsigned(UINT64_MAX);
  BindingProperty back;
  std::string error;
  // Copied or lent, a tree reads back the same; a lent one points into it.
  for (const HostValueTexts texts : {HostValueTexts::Copied, HostValueTexts::Borrowed}) {
    HostValue host{};
    BindingToHostValue(tree, host, &registry, texts);
    ASSERT_EQ(host.kind, uint32_t(HostValueKind_Object));
    EXPECT_EQ(host.u.object.count, 5u);
    ASSERT_TRUE(HostValueToBinding(host, back, "<result>", error)) << error;
    EXPECT_EQ(back.Find("list").At(1).GetFloat(), 1.5);
    EXPECT_TRUE(back.Find("list").At(0).IsEmpty());
    EXPECT_EQ(back.Find("raw").Size(), 2u);
    EXPECT_EQ(back.Find("phase").GetString(), "FINALIZATION");  // enums travel by name
    EXPECT_EQ(back.Find("name").GetString(), "a");              // host texts end at their NUL
    EXPECT_EQ(back.Find("n").GetUnsigned(), UINT64_MAX);
    for (std::uint32_t i = 0; i < host.u.object.count; ++i) {
      const HostObjectEntry entry = host.u.object.entries[i];
      EXPECT_EQ(entry.keyOwned, texts == HostValueTexts::Copied ? 1 : 0);
      if (std::string_view(entry.key) != "name") continue;
      const HostValue value = entry.value;
      EXPECT_EQ(value.kind, uint32_t(texts == HostValueTexts::Copied ? HostValueKind_String
                                                                      : HostValueKind_BorrowedString));
      const std::uint32_t length = value.u.string.length;
      EXPECT_EQ(length, 3u);  // the whole text, NUL included
      if (texts == HostValueTexts::Borrowed) {
        const char* const lent = value.u.string.data;  // packed member: read it out first
        EXPECT_EQ(lent, tree.Find("name").GetString().data());
      }
    }
    ReleaseHostValue(host);  // frees what was copied, leaves what was lent
    EXPECT_EQ(host.kind, uint32_t(HostValueKind_Null));
  }

  HostValue items[2] = {};
  items[0].kind = HostValueKind_Int64;
  items[1].kind = 11;
  HostValue array{};
  array.kind = HostValueKind_Array;
  array.u.array.items = items;
  array.u.array.count = 2;
  EXPECT_FALSE(HostValueToBinding(array, back, "<result>", error));
  EXPECT_EQ(error, "Couldn't assign value to '<result>' of type object because the input is of an incompatible type ''.");
  array.u.array.items = nullptr;  // a count without elements
  array.u.array.count = 0xFFFFFFFFu;
  EXPECT_FALSE(HostValueToBinding(array, back, "<result>", error));
  HostValue text{};
  text.kind = HostValueKind_BorrowedString;
  const char unterminated[3] = {'a', 'b', 'c'};
  text.u.string.data = unterminated;
  text.u.string.length = 2;  // never read past the length
  ASSERT_TRUE(HostValueToBinding(text, back, "<result>", error));
  EXPECT_EQ(back.GetString(), "ab");
}

// A tree as text: kinds, values and names, for comparing two conversions.
std::string Describe(const BindingNode& node) {
  switch (node.GetKind()) {
    case BindingKind::Collection: {
      std::string text = "[";
      for (const BindingNode& element : node.Elements()) text += Describe(element) + ",";
      return text + "]";
    }
    case BindingKind::Structure: {
      std::string text = "{";
      for (const auto& field : node.Fields()) text += std::string(field.name) + ":" + Describe(field.value) + ",";
      return text + "}";
    }
    default: return std::string(BindingKindName(node.GetKind())) + "=" + node.ToText();
  }
}

// One packed object entry, written bytewise as the core writes them.
HostObjectEntry Entry(const char* key, HostValue value) {
  HostObjectEntry entry{};
  entry.key = key;
  entry.value = value;
  return entry;
}
HostValue Int(int64_t v) {
  HostValue value{};
  value.kind = HostValueKind_Int64;
  value.u.int64 = v;
  return value;
}
HostValue Text(const char* data, uint32_t length) {
  HostValue value{};
  value.kind = HostValueKind_BorrowedString;
  value.u.string.data = data;
  value.u.string.length = length;
  return value;
}
HostValue Object(std::vector<HostObjectEntry>& entries) {
  HostValue value{};
  value.kind = HostValueKind_Object;
  value.u.object.entries = entries.data();
  value.u.object.count = uint32_t(entries.size());
  return value;
}
HostValue Array(std::vector<HostValue>& items) {
  HostValue value{};
  value.kind = HostValueKind_Array;
  value.u.array.items = items.data();
  value.u.array.count = uint32_t(items.size());
  return value;
}

// Straight from the core's value or through its tree, a conversion gives the
// same native value or the same message, whatever the value holds.
TEST_F(ConversionTest, CoreValuesConvertStraightAsThroughTheirTree) {
  const auto viaTree = [&]<typename T>(const HostValue& value, T*) -> std::string {
    BindingProperty tree, result;
    std::string error;
    if (!HostValueToBinding(value, tree, "<result>", error)) return "unconvertible: " + error;
    const T native = FromBinding<T>(result, tree, "<result>", registry);
    if (!result.IsValid()) return "failed: " + std::string(result.FailureMessage());
    return Describe(ToBinding(native, registry));
  };
  const auto straight = [&]<typename T>(const HostValue& value, T*) -> std::string {
    BindingProperty result;
    std::string error;
    if (!HostValueConvertible(value, "<result>", error)) return "unconvertible: " + error;
    const T native = FromBinding<T>(result, HostValueInput(value), "<result>", registry);
    if (!result.IsValid()) return "failed: " + std::string(result.FailureMessage());
    return Describe(ToBinding(native, registry));
  };

  // A whole player, written from a tree.
  BindingProperty full;
  full.Field("summonerId").SetSigned(int64_t{-7});
  full.Field("skinIndex").SetString("12");
  full.Field("ready").SetBool(true);
  full.Field("score").SetFloat(2.5);
  full.Field("summonerName").SetString("Player One");
  full.Field("phase").SetString("BAN_PICK");
  full.Field("championId").SetUnsigned(uint64_t{99});
  full.Field("spells").At(1).Field("id").SetSigned(int64_t{4});
  full.Field("raw").SetBlob(std::vector<uint8_t>{1, 2, 3});
  full.Field("extra").Field("deep").At(2).SetString("x");
  HostValue whole{};
  BindingToHostValue(full, whole, &registry, HostValueTexts::Borrowed);

  const char nul[] = {'a', 'b', '\0', 'c'};
  HostValue badKind{};
  badKind.kind = 11;
  HostValue countWithoutItems{};
  countWithoutItems.kind = HostValueKind_Array;
  countWithoutItems.u.array.count = 3;
  HostValue noText{};
  noText.kind = HostValueKind_String;  // no data: an empty text
  HostValue nullValue{};

  std::vector<HostObjectEntry> lastWins{Entry("summonerId", Text("x", 1)), Entry("summonerId", Int(5))};
  std::vector<HostObjectEntry> lastFails{Entry("summonerId", Int(5)), Entry("summonerId", Text("x", 1))};
  std::vector<HostObjectEntry> texts{Entry("summonerName", Text(nul, 4)), Entry(nullptr, Int(1)),
                                     Entry("score", noText)};
  std::vector<HostObjectEntry> phases{Entry("phase", Int(2))};
  std::vector<HostObjectEntry> phaseName{Entry("phase", Text("LOBBY", 5))};
  std::vector<HostObjectEntry> deepFault{Entry("summonerId", Int(1)), Entry("junk", countWithoutItems)};
  std::vector<HostValue> faultyItems{Int(1), badKind};
  std::vector<HostObjectEntry> faultInList{Entry("summonerId", Int(1)), Entry("list", Array(faultyItems))};
  std::vector<HostObjectEntry> nullField{Entry("summonerId", nullValue), Entry("ready", nullValue)};
  std::vector<HostObjectEntry> firstSpell{Entry("id", Text("0x10", 4))};
  std::vector<HostValue> spellList{nullValue, Object(firstSpell)};
  std::vector<HostObjectEntry> withSpells{Entry("spells", Array(spellList)), Entry("spells", Array(spellList))};
  std::vector<HostObjectEntry> required{Entry("quiet", Int(1))};
  std::vector<HostValue> players{whole, Object(lastWins), nullValue};
  std::vector<HostValue> nested{Object(lastFails)};
  std::vector<HostObjectEntry> inList{Entry("spells", Array(nested))};

  struct Row {
    const char* what;
    HostValue value;
    int type;  // 0 Player, 1 vector<Player>, 2 Required
  };
  const Row rows[] = {
      {"a whole player", whole, 0},
      {"a repeated key: the last, good", Object(lastWins), 0},
      {"a repeated key: the last, bad", Object(lastFails), 0},
      {"a NUL in a text, a null key, a text without data", Object(texts), 0},
      {"an enum by an unknown number", Object(phases), 0},
      {"an enum by an unknown name", Object(phaseName), 0},
      {"a count without items, unread", Object(deepFault), 0},
      {"an unknown kind in an unread list", Object(faultInList), 0},
      {"null fields", Object(nullField), 0},
      {"a null element and a repeated list", Object(withSpells), 0},
      {"not a structure", Int(3), 0},
      {"null", nullValue, 0},
      {"players with a null one", Array(players), 1},
      {"an element with unknown repeated keys", Object(inList), 0},
      {"a required field missing", Object(required), 2},
      {"an unknown kind at the top", badKind, 1},
  };
  for (const Row& row : rows) {
    std::string expected, got;
    if (row.type == 0) {
      expected = viaTree(row.value, static_cast<Player*>(nullptr));
      got = straight(row.value, static_cast<Player*>(nullptr));
    } else if (row.type == 1) {
      expected = viaTree(row.value, static_cast<std::vector<Player>*>(nullptr));
      got = straight(row.value, static_cast<std::vector<Player>*>(nullptr));
    } else {
      expected = viaTree(row.value, static_cast<Required*>(nullptr));
      got = straight(row.value, static_cast<Required*>(nullptr));
    }
    EXPECT_EQ(got, expected) << row.what;
    EXPECT_NE(expected, "") << row.what;
  }
  // The view reads what the tree would hold.
  const HostValueInput view(Object(lastWins));
  EXPECT_EQ(view.Size(), 1u);
  EXPECT_EQ(view.Find("summonerId").GetSigned(), 5);
  EXPECT_TRUE(view.Find(std::string_view("summonerId\0", 11)).IsEmpty());
  EXPECT_EQ(HostValueInput(Object(texts)).Find("summonerName").GetString(), "ab");

  // A struct of more fields than the matcher keeps on its stack, its members
  // in reverse order: every field still finds its member.
  struct Wide {
    int32_t values[70] = {};
  };
  auto wide = RegisterStruct<Wide>(registry, "Wide");
  std::vector<std::string> names;
  for (int i = 0; i < 70; ++i) names.push_back(std::to_string(i).insert(0, 1, 'f'));
  for (int i = 0; i < 70; ++i)
    wide.Builder().AddField(names[i], "", uint32_t(sizeof(int32_t) * i), TypeIdentity::Of<int32_t>(),
                  TypeIdentifier{BindingTypeCode::Int32}, {}, 0,
                  BindingFieldConverterFactory<int32_t>::Make(), false);
  std::vector<HostObjectEntry> reversed;
  for (int i = 69; i >= 0; --i) reversed.push_back(Entry(names[i].c_str(), Int(i * 3)));
  const HostValue wideValue = Object(reversed);
  EXPECT_EQ(straight(wideValue, static_cast<Wide*>(nullptr)), viaTree(wideValue, static_cast<Wide*>(nullptr)));
  BindingProperty result;
  const Wide read = FromBinding<Wide>(result, HostValueInput(wideValue), "<result>", registry);
  ASSERT_TRUE(result.IsValid()) << result.FailureMessage();
  for (int i = 0; i < 70; ++i) EXPECT_EQ(read.values[i], i * 3) << i;
  ReleaseHostValue(whole);
}

// A core's value as the core reads it: kinds, keys in their order, lengths.
std::string DescribeHost(const HostValue& value) {
  switch (value.kind) {
    case HostValueKind_Array: {
      std::string text = "[";
      for (uint32_t i = 0; i < value.u.array.count; ++i) text += DescribeHost(value.u.array.items[i]) + ",";
      return text + "]";
    }
    case HostValueKind_Object: {
      std::string text = "{";
      for (uint32_t i = 0; i < value.u.object.count; ++i) {
        const HostObjectEntry entry = value.u.object.entries[i];
        text += std::string(entry.key) + (entry.keyOwned ? "*" : "") + ":" + DescribeHost(entry.value) + ",";
      }
      return text + "}";
    }
    case HostValueKind_BorrowedString:
    case HostValueKind_String:
      return std::to_string(value.kind) + "'" + std::string(value.u.string.data, value.u.string.length) + "'";
    case HostValueKind_BorrowedBytes:
    case HostValueKind_Bytes:
      return std::to_string(value.kind) + "#" + std::to_string(value.u.bytes.size) +
             (value.u.bytes.data ? "" : " null");
    default: return std::to_string(value.kind) + "=" + std::to_string(value.u.uint64);
  }
}

struct Skipped {
  Phase phase{};
  std::string text;
  std::vector<int32_t> list;
  std::optional<int32_t> maybe;
  Spell spell;
  Required nested;
  BindingProperty extra;
  double ratio = 0;
  std::vector<uint8_t> raw;
};

struct Twice {
  int32_t a = 0;
  Spell b;
};

// Written straight from a native value or through its tree, the core gets
// the same value: keys in the same order, defaults left out alike, the same
// failure.
TEST_F(ConversionTest, NativeValuesWriteStraightAsThroughTheirTree) {
  RegisterStruct<Skipped>(registry, "Skipped")
      .Field("phase", &Skipped::phase, "", kSkipDefaultOnOutput)
      .Field("text", &Skipped::text, "", kSkipDefaultOnOutput)
      .Field("list", &Skipped::list, "", kSkipDefaultOnOutput)
      .Field("maybe", &Skipped::maybe, "", kSkipDefaultOnOutput)
      .Field("spell", &Skipped::spell, "", kSkipDefaultOnOutput)
      .Field("nested", &Skipped::nested, "", kSkipDefaultOnOutput)
      .Field("extra", &Skipped::extra, "", kSkipDefaultOnOutput)
      .Field("ratio", &Skipped::ratio, "", kSkipDefaultOnOutput)
      .Field("raw", &Skipped::raw, "", kSkipDefaultOnOutput);
  // Two fields under one name write into one field of the tree.
  RegisterStruct<Twice>(registry, "Twice").Field("b", &Twice::a).Field("b", &Twice::b).Field("a", &Twice::a);

  const auto viaTree = [&](const auto& native) {
    const BindingProperty tree = ToBinding(native, registry);
    if (!tree.IsValid()) return "failed: " + std::string(tree.FailureMessage());
    HostValue host{};
    BindingToHostValue(tree, host, &registry, HostValueTexts::Borrowed);
    std::string text = DescribeHost(host);
    ReleaseHostValue(host);
    return text;
  };
  const auto straight = [&](const auto& native) {
    HostValueArena arena;
    BindingProperty result;
    HostValue host{};
    NativeConversion<std::remove_cvref_t<decltype(native)>>::ToHost(host, arena, result, native, nullptr, registry);
    if (!result.IsValid()) return "failed: " + std::string(result.FailureMessage());
    return DescribeHost(host);
  };

  Player player;
  player.summonerId = -3;
  player.summonerName = std::string("a\0b", 3);
  player.phase = Phase::Finalization;
  player.championId = 7;
  player.spells = {Spell{4, "Flash"}, Spell{}};
  player.raw = {0, 1};
  player.extra.Field("z").At(1).SetString("deep");
  player.extra.Field("a").SetEnum(EnumValue{3, &TypeIdentity::Of<Phase>()});
  Skipped defaults;
  Skipped values;
  values.phase = Phase::BanPick;
  values.text = "t";
  values.list = {0};
  values.maybe = 0;  // a default inside, so left out
  values.spell.id = 1;
  values.nested.must = 0;  // "must" is written even when 0: the struct is no default
  values.extra.SetBool(false);
  values.ratio = -0.0;
  values.raw = {9};
  Skipped unnamed;
  unnamed.phase = static_cast<Phase>(0);  // no enumerator: a number, a default
  unnamed.extra.MakeStructure();
  Twice twice;
  twice.a = 5;
  twice.b = Spell{2, "Ghost"};
  struct Unregistered {
    int x = 0;
  };
  struct Row {
    const char* what;
    std::string expected;
    std::string got;
  };
  const Row rows[] = {
      {"a player", viaTree(player), straight(player)},
      {"all defaults, left out", viaTree(defaults), straight(defaults)},
      {"every kind set", viaTree(values), straight(values)},
      {"an unnamed enum and an empty structure", viaTree(unnamed), straight(unnamed)},
      {"fields sharing a name", viaTree(twice), straight(twice)},
      {"players in a list", viaTree(std::vector<Player>{player, Player{}}), straight(std::vector<Player>{player, Player{}})},
      {"an unregistered struct", viaTree(Unregistered{}), straight(Unregistered{})},
      {"one inside a list", viaTree(std::vector<Unregistered>(2)), straight(std::vector<Unregistered>(2))},
  };
  for (const Row& row : rows) EXPECT_EQ(row.got, row.expected) << row.what;
  EXPECT_EQ(rows[1].expected, "{nested:{must:2=0,},spell:{id:2=0,name:5'',},}");  // structs with fields stay
  EXPECT_EQ(rows[6].expected, "failed: Couldn't convert native value because it's an unregistered structure.");
}

TEST(HostValue, MillionDeepTreesBothWays) {
  constexpr int kDepth = 1000000;
  BindingProperty tree;
  BindingNode* node = &tree;
  for (int i = 0; i < kDepth; ++i) node = (i % 2) ? &node->At(0) : &node->Field("a");
  node->SetSigned(int64_t(42));
  HostValue host{};
  BindingToHostValue(tree, host);
  BindingProperty back;
  std::string error;
  ASSERT_TRUE(HostValueToBinding(host, back, "<value>", error));
  const BindingNode* walk = &back;
  for (int i = 0; i < kDepth; ++i) walk = (i % 2) ? &walk->At(0) : &walk->Find("a");
  EXPECT_EQ(walk->GetSigned(), 42);
  ReleaseHostValue(host);
}

}  // namespace
}  // namespace Vexa
