#include "formats/yaml.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "formats/json.h"
#include "formats/msgpack.h"

namespace Vexa {
namespace {

using namespace std::string_literals;

// A heap copy without a terminator, so that a read past the length shows up
// under AddressSanitizer.
BindingProperty ParseExact(const std::string& text) {
  std::unique_ptr<char[]> copy(new char[text.size() + (text.empty() ? 1 : 0)]);
  if (!text.empty()) std::memcpy(copy.get(), text.data(), text.size());
  return ParseYaml(std::string_view(copy.get(), text.size()));
}

// Kind letter of a scalar, then the JSON of the whole value.
std::string Describe(const BindingNode& node) {
  std::string kind;
  switch (node.GetKind()) {
    case BindingKind::Signed: kind = "i"; break;
    case BindingKind::Unsigned: kind = "u"; break;
    case BindingKind::Float: kind = "f"; break;
    case BindingKind::String: kind = "s"; break;
    default: break;
  }
  return kind + ToJson(node);
}

std::size_t CollectionDepth(const BindingNode& root) {
  std::size_t depth = 0;
  for (const BindingNode* node = &root; node->GetKind() == BindingKind::Collection; node = &node->At(0)) ++depth;
  return depth;
}

TEST(ParseYaml, TypesScalarsAndBuildsTrees) {
  struct Case {
    std::string text;
    std::string value;
  };
  const Case cases[] = {
      {"", ""},
      {"~", ""},
      {"---\nnull\n", ""},
      {"42", "u42"},
      {"-42", "i-42"},
      {"4.5", "f4.5"},
      {"1e3", "u1000"},
      {"4.0", "u4"},
      {"0x1A", "u26"},
      {"010", "u10"},  // strtod reads decimal, so no octal
      {"-0", "u0"},
      {"nan", "fnull"},
      {"yes", "true"},
      {"On", "true"},
      {"Off", "false"},
      {"n", "false"},
      {"\"42\"", "s\"42\""},
      {"'yes'", "s\"yes\""},
      {"hello world", "s\"hello world\""},
      {"1_000", "s\"1_000\""},
      {"inf", "s\"inf\""},
      {"1e400", "s\"1e400\""},
      {"-1e400", "fnull"},
      {"|\n  42\n", "s\"42\\n\""},
      // Integers stay exact beyond 2^53; beyond 64 bits they are Float
      // rather than wrapped or clamped.
      {"9007199254740993", "u9007199254740993"},
      {"18446744073709551615", "u18446744073709551615"},
      {"0xFFFFFFFFFFFFFFFF", "u18446744073709551615"},
      {"-9223372036854775808", "i-9223372036854775808"},
      {"18446744073709551616", "f18446744073709553000.0"},
      {"-9223372036854775809", "f-9223372036854776000.0"},
      {"1e19", "u10000000000000000000"},
      {"-1e19", "f-10000000000000000000.0"},
      {"+7", "u7"},
      {".5", "f0.5"},
      {"0xfF", "u255"},
      {"-0x10", "i-16"},
      {"0x1G", "s\"0x1G\""},
      {"-0x8000000000000001", "f-9223372036854776000.0"},
      {"0x10000000000000000", "f18446744073709553000.0"},
      {"NULL", ""},
      {"tru", "s\"tru\""},
      {"OFF", "false"},
      {"-0.1", "f-0.1"},
      {"5.", "u5"},
      {"-0.0", "u0"},
      {"12345678901234.5", "f12345678901234.5"},
      {"9007199254740993.5", "u9007199254740994"},
      // Longer than any stack copy of a scalar.
      {"0.000000000000000000000000000000000000000000000000015", "f1.5e-50"},
      {"1000000000000000000000000000000000000000000000000000000", "f1e54"},
      {"!!str 42", "s\"42\""},
      {"!!int 42", "u42"},
      {"!!int -42", "i-42"},
      {"!!int 0x10", "u16"},
      {"!!float 1", "f1.0"},
      {"!!bool yes", "true"},
      {"!!bool maybe", ""},
      {"a: 1\nb: [x, 'y', ~]\n", R"({"a":1,"b":["x","y",null]})"},
      {"a: 1\r\nb:\r\n  - 2\r\n", R"({"a":1,"b":[2]})"},
      {"\xEF\xBB\xBFk: v", R"({"k":"v"})"},
      {"? ''\n: empty key\n", R"({"":"empty key"})"},
      {"a:\n", R"({"a":null})"},
      {"a: 1\na: 2\n", R"({"a":2})"},
      {"a: 1\na: !!bool maybe\n", R"({"a":null})"},
      {"a: {x: 1}\na: {y: 2}\n", R"({"a":{"x":1,"y":2}})"},
      {"a: &x [1, 2]\nb: *x\n", R"({"a":[1,2],"b":[1,2]})"},
      {"- &k {p: 1}\n- *k\n- *k\n", R"([{"p":1},{"p":1},{"p":1}])"},
      {"a: {b: [0, &x {c: d}]}\ne: *x\n", R"({"a":{"b":[0,{"c":"d"}]},"e":{"c":"d"}})"},
      {"&k key: 1\nother: *k\n", R"({"key":1,"other":"key"})"},
      {"s: &s name\n*s : 2\n", R"({"name":2,"s":"name"})"},
      {"- &a 5\n- *a\n", "[5,5]"},
      // The anchored path leads to the field that the repeated key reopens: the
      // copy is of the field as it stands, the new element included.
      {"a: &x [1]\na: [*x]\n", R"({"a":[1,[1,null]]})"},
      {"---\n---\n", ""},
      // Anchors live for the whole stream: a later document may name the
      // earlier root, which it now fills itself.
      {"--- &a ~\n--- *a\n", ""},
      {"x: \"a\\0b\"", "{\"x\":\"a\\u0000b\"}"},
  };
  for (const Case& c : cases) {
    const BindingProperty parsed = ParseExact(c.text);
    ASSERT_TRUE(parsed.IsValid()) << c.text << ": " << parsed.FailureMessage();
    EXPECT_EQ(Describe(parsed), c.value) << c.text;
  }
}

TEST(ParseYaml, ReportsEachFaultWithLineAndColumn) {
  struct Case {
    std::string text;
    std::string message;
  };
  const Case cases[] = {
      {"!!int 12abc", "Value 12abc for 'yaml' of type uint64_t is in an incorrect format"},
      {"!!int -99999999999999999999", "Value -99999999999999999999 for 'yaml' of type int64_t is out of range"},
      {"!!float 1e999", "Value 1e999 for 'yaml' of type double is out of range"},
      {"!!set a", "Unsupported YAML tag 'tag:yaml.org,2002:set'."},
      {"!custom 1", "Unsupported YAML tag '!custom'."},
      {"a: 1\n? [x]\n: 2\n", "Unexpected start of sequence. At line: 2 col: 3"},
      {"? {k: v}\n: 2\n", "Unexpected start of mapping. At line: 1 col: 3"},
      {"!!int 1: x\n", "Invalid mapping key. Only string scalar keys are allowed. At line: 1 col: 1"},
      {"n: &n 5\n*n : x\n", "Invalid mapping key. Only string scalar keys are allowed. At line: 2 col: 1"},
      {"a: &x [1, *x]\n", "Cannot deserialize cyclic aliases. Alias \"x\". At line: 1 col: 11"},
      {"a: &x {b: [{c: *x}]}\n", "Cannot deserialize cyclic aliases. Alias \"x\". At line: 1 col: 16"},
      {"b: *x\n", "Undefined alias encountered: \"x\". At line: 1 col: 4"},
      {"--- &x ~\n--- [*x]\n", "Cannot deserialize cyclic aliases. Alias \"x\". At line: 2 col: 6"},
      {"--- &x ~\n--- {a: [1, *x]}\n", "Cannot deserialize cyclic aliases. Alias \"x\". At line: 2 col: 13"},
      {"--- &a ~\n--- &a 1\n", "Duplicate occurrence of anchor \"a\". At line: 2 col: 5"},
      {"a: &x 1\nb: &x 2\n", "Duplicate occurrence of anchor \"x\". At line: 2 col: 4"},
      {"&x a: &x 1\n", "Duplicate occurrence of anchor \"x\". At line: 1 col: 7"},
      {"a: 1\n---\nb: 2\n", "Multi-document YAML is not supported."},
      {"a: [1, 2\n", "YAML parser error: did not find expected ',' or ']'. At line: 1 col: 0"},
      {"a: \"\xFF\"", "YAML parser error: invalid leading UTF-8 octet. At line: 0 col: 0"},
      {"a: \"\xC3\"", "YAML parser error: invalid trailing UTF-8 octet. At line: 0 col: 0"},
      {"a: \xC3", "YAML parser error: incomplete UTF-8 octet sequence. At line: 0 col: 0"},
      {"a\0b: 1"s, "YAML parser error: control characters are not allowed. At line: 0 col: 0"},
  };
  for (const Case& c : cases) {
    const BindingProperty parsed = ParseExact(c.text);
    EXPECT_FALSE(parsed.IsValid()) << c.text;
    EXPECT_EQ(parsed.FailureMessage(), c.message) << c.text;
  }
}

TEST(ParseYaml, AliasExpansionIsBoundedButSharingWorks) {
  // Nine anchors, each a list of nine aliases of the previous one.
  std::string laughs = "a0: &a0 [ha, ha, ha, ha, ha, ha, ha, ha, ha]\n";
  for (int i = 1; i < 10; ++i) {
    laughs += "a" + std::to_string(i) + ": &a" + std::to_string(i) + " [";
    for (int j = 0; j < 9; ++j) laughs += (j ? ", *a" : "*a") + std::to_string(i - 1);
    laughs += "]\n";
  }
  // Each level twice the previous: 2^31 leaves from 30 lines.
  std::string doubling = "- &d0 [x, x]\n";
  for (int i = 1; i <= 30; ++i) {
    const std::string previous = std::to_string(i - 1);
    doubling += "- &d" + std::to_string(i) + " [*d" + previous + ", *d" + previous + "]\n";
  }
  // A long anchored key used as a value again and again: each use hashes the
  // whole text, which once made the time quadratic in the input.
  std::string longKey = "? &k " + std::string(100000, 'k') + "\n: 1\nuses:\n";
  for (int i = 0; i < 20000; ++i) longKey += "- *k\n";

  const std::pair<const std::string*, std::string> bombs[] = {
      {&laughs, "Alias expansion is too large. Alias \"a"},
      {&doubling, "Alias expansion is too large. Alias \"d"},
      {&longKey, "Alias expansion is too large. Alias \"k\". At line: "},
  };
  for (const auto& [text, prefix] : bombs) {
    const BindingProperty bomb = ParseExact(*text);
    EXPECT_FALSE(bomb.IsValid());
    EXPECT_EQ(bomb.FailureMessage().substr(0, prefix.size()), prefix);
  }

  // A thousand uses of a 100-node anchor are fine.
  std::string shared = "base: &b [";
  for (int i = 0; i < 100; ++i) shared += i ? ", x" : "x";
  shared += "]\nuses:\n";
  for (int i = 0; i < 1000; ++i) shared += "  - *b\n";
  const BindingProperty parsed = ParseExact(shared);
  ASSERT_TRUE(parsed.IsValid()) << parsed.FailureMessage();
  EXPECT_EQ(parsed.Find("uses").Size(), 1000u);
  EXPECT_EQ(parsed.Find("uses").At(999).Size(), 100u);
}

TEST(ParseYaml, DeepNestingCostsNeitherStackNorUnboundedTime) {
  // libyaml's time grows with the flow depth for every token: cut off, with
  // the position of the first level too many.
  const std::string fine = std::string(256, '[') + "1" + std::string(256, ']');
  const BindingProperty flow = ParseExact(fine);
  ASSERT_TRUE(flow.IsValid()) << flow.FailureMessage();
  EXPECT_EQ(CollectionDepth(flow), 256u);
  EXPECT_EQ(ParseExact(std::string(257, '[') + std::string(257, ']')).FailureMessage(),
            "YAML nesting is too deep. At line: 1 col: 257");
  EXPECT_EQ(ParseExact(std::string(1000000, '[')).FailureMessage(), "YAML nesting is too deep. At line: 1 col: 257");
  std::string mappings;
  for (int i = 0; i < 250000; ++i) mappings += "{a: ";
  EXPECT_EQ(ParseExact(mappings).FailureMessage(), "YAML nesting is too deep. At line: 1 col: 1025");

  // Block nesting costs libyaml linear time, so any depth is read.
  std::string block;
  for (int i = 0; i < 100000; ++i) block += "- ";
  block += "x";
  const BindingProperty deep = ParseExact(block);
  ASSERT_TRUE(deep.IsValid()) << deep.FailureMessage();
  EXPECT_EQ(CollectionDepth(deep), 100000u);

  // Many anchors far down: each once kept a copy of its whole path, which
  // made memory the depth times the anchor count.
  std::string anchors;
  for (int i = 0; i < 5000; ++i) anchors += "- ";
  anchors += "[";
  for (int i = 0; i < 20000; ++i) anchors += "&a" + std::to_string(i) + " " + std::to_string(i) + ", ";
  anchors += "]\n- *a19999\n";
  const BindingProperty anchored = ParseExact(anchors);
  ASSERT_TRUE(anchored.IsValid()) << anchored.FailureMessage();
  EXPECT_EQ(Describe(anchored.At(1)), "u19999");
}

TEST(ParseYaml, EveryTruncationFailsCleanlyOrParses) {
  const std::string document =
      "---\n"
      "name: \xEF\xBC\xA1\r\n"
      "base: &b {k: [1, -2, 3.5, \"q\\u00e9\", 'it''s'], ? &key long key : yes}\n"
      "list:\n  - *b\n  - !!int 7\n  - *key\n  - |\n    text\n";
  ASSERT_TRUE(ParseExact(document).IsValid());
  for (std::size_t length = 0; length <= document.size(); ++length) {
    const BindingProperty parsed = ParseExact(document.substr(0, length));
    if (!parsed.IsValid()) {
      EXPECT_NE(parsed.FailureMessage(), "") << length;
    }
  }
}

// An empty body or file usually arrives as a default string_view or an empty
// vector, whose data pointer is null; the C libraries underneath reject a
// null pointer even for no bytes.
TEST(EmptyInput, EveryParserGivesAValidEmptyValue) {
  using Parse = BindingProperty (*)(std::string_view);
  const std::pair<const char*, Parse> parsers[] = {
      {"json", [](std::string_view text) { return ParseJson(text); }},
      {"yaml", [](std::string_view text) { return ParseYaml(text); }},
      {"msgpack",
       [](std::string_view text) {
         std::size_t consumed = 1;
         BindingProperty value =
             ParseMessagePack({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, &consumed);
         EXPECT_EQ(consumed, 0u);
         return value;
       }},
  };
  const std::pair<const char*, std::string_view> inputs[] = {{"null data", {}}, {"empty text", ""}};
  for (const auto& [format, parse] : parsers) {
    for (const auto& [input, text] : inputs) {
      const BindingProperty parsed = parse(text);
      EXPECT_TRUE(parsed.IsValid()) << format << ", " << input << ": " << parsed.FailureMessage();
      EXPECT_TRUE(parsed.IsEmpty()) << format << ", " << input;
    }
  }
}

TEST(LooksLikeYaml, NeedsTheDocumentMarkerAfterSpaces) {
  const std::pair<std::string_view, bool> cases[] = {
      {"---", true}, {"   ---\na: 1", true}, {"--", false}, {"\t---", false}, {"", false}, {"a: 1", false}};
  for (const auto& [text, expected] : cases) EXPECT_EQ(LooksLikeYaml(text), expected) << text;
}

}  // namespace
}  // namespace Vexa
