#include "formats/json.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "binding/registry.h"
#include "binding/type_identity.h"

namespace Vexa {
namespace {

// Parses a copy in a buffer of exactly the text's length, so that any read
// past the end shows up under AddressSanitizer.
BindingProperty ParseExact(std::string_view text) {
  std::unique_ptr<char[]> buffer(new char[text.size()]);
  if (!text.empty()) std::memcpy(buffer.get(), text.data(), text.size());
  return ParseJson(std::string_view(buffer.get(), text.size()));
}

// The kind and value of every node, for comparing parses without going
// through the writer under test.
std::string Describe(const BindingNode& node) {
  switch (node.GetKind()) {
    case BindingKind::Empty: return "null";
    case BindingKind::Bool: return node.GetBool() ? "true" : "false";
    case BindingKind::Signed: return std::string(1, 'i').append(std::to_string(node.GetSigned()));
    case BindingKind::Unsigned: return std::string(1, 'u').append(std::to_string(node.GetUnsigned()));
    case BindingKind::Float: {
      char text[40];
      std::snprintf(text, sizeof text, "f%.17g", node.GetFloat());
      return text;
    }
    case BindingKind::String: {
      std::string text(1, '\'');
      text.append(node.GetString());
      text += '\'';
      return text;
    }
    case BindingKind::Collection: {
      std::string text = "[";
      for (const BindingNode& element : node.Elements()) {
        if (text.size() > 1) text += ',';
        text += Describe(element);
      }
      text += ']';
      return text;
    }
    case BindingKind::Structure: {
      std::string text = "{";
      for (const auto field : node.Fields()) {
        if (text.size() > 1) text += ',';
        text += field.name;
        text += '=';
        text += Describe(field.value);
      }
      text += '}';
      return text;
    }
    default: return "?";
  }
}

using namespace std::string_literals;

TEST(ParseJson, BuildsTheTreeByTheNumberAndMergingRules) {
  struct Case {
    std::string text;
    std::string tree;
  };
  const Case cases[] = {
      {"", "null"},
      {" \r\n\t", "null"},
      {"null", "null"},
      {" true ", "true"},
      {"[1,-2,1.5]", "[u1,i-2,f1.5]"},
      {"0", "u0"},
      {"-0", "i0"},
      {"4294967296", "u4294967296"},
      {"-2147483649", "i-2147483649"},
      {"18446744073709551615", "u18446744073709551615"},
      {"18446744073709551616", "f1.8446744073709552e+19"},
      {"-9223372036854775808", "i-9223372036854775808"},
      {"-9223372036854775809", "f-9.2233720368547758e+18"},
      {"1.0", "f1"},
      {"1e2", "f100"},
      {"1e-400", "f0"},
      {"0e52", "f0"},
      {"-0.0e-7", "f-0"},
      {R"({"b":1,"a":{}})", "{a={},b=u1}"},
      {R"([[],{},[null]])", "[[],{},[null]]"},
      // Repeated names write into one field.
      {R"({"a":1,"a":2})", "{a=u2}"},
      {R"({"a":[1],"a":[2]})", "{a=[u1,u2]}"},
      {R"({"a":{"x":1},"a":{"y":2}})", "{a={x=u1,y=u2}}"},
      {R"({"a":{"x":1},"a":{"x":[3]}})", "{a={x=[u3]}}"},
      {R"({"a":[1],"a":2})", "{a=u2}"},
      {R"({"a":1,"a":[2]})", "{a=[u2]}"},
      {R"({"a":{"x":1},"a":[1]})", "{a=[u1]}"},
      {R"({"a":1,"a":null})", "{a=null}"},
      {R"([{"a":1,"a":2},{"a":3}])", "[{a=u2},{a=u3}]"},
      // Objects side by side, of one shape and then not.
      {R"([{"b":1,"a":2,"c":3},{"b":4,"a":5,"c":6},{"c":7,"b":8},{"a":9,"b":0,"a":1},{}])",
       "[{a=u2,b=u1,c=u3},{a=u5,b=u4,c=u6},{b=u8,c=u7},{a=u1,b=u0},{}]"},
      // The names of a replaced object are gone before its sibling's come.
      {R"({"x":{"k1":1,"k0":0},"x":2,"y":{"k1":3,"k0":4}})", "{x=u2,y={k0=u4,k1=u3}}"},
      // Texts end at an escaped NUL, names included.
      {R"("ab\u0000cd")", "'ab'"},
      {R"("\u0000")", "''"},
      {R"({"a\u0000b":1,"a":2})", "{a=u2}"},
      {R"("\u00e9\ud83d\ude00\/\"")", "'\xC3\xA9\xF0\x9F\x98\x80/\"'"},
      {R"("\ud7ff\ue000")", "'\xED\x9F\xBF\xEE\x80\x80'"},
      // A raw NUL ends the text.
      {"1\0 garbage"s, "u1"},
      {"\0[1"s, "null"},
      {" \0"s, "null"},
  };
  for (const Case& c : cases) {
    const BindingProperty parsed = ParseExact(c.text);
    EXPECT_TRUE(parsed.IsValid()) << c.text << ": " << parsed.FailureMessage();
    EXPECT_EQ(Describe(parsed), c.tree) << c.text;
  }
}

TEST(ParseJson, ReportsEachReaderErrorWithItsOffset) {
  struct Case {
    std::string text;
    std::string message;
  };
  const Case cases[] = {
      {"1 2", "The document root must not be followed by other values. at offset 2."},
      {"[1]]", "The document root must not be followed by other values. at offset 3."},
      {"01", "The document root must not be followed by other values. at offset 1."},
      {"nul", "Invalid value. at offset 3."},
      {"  x", "Invalid value. at offset 2."},
      {"-", "Invalid value. at offset 1."},
      {"NaN", "Invalid value. at offset 0."},
      {"[1,]", "Invalid value. at offset 3."},
      {"'a'", "Invalid value. at offset 0."},
      {"//c\n1", "Invalid value. at offset 0."},
      {"\xEF\xBB\xBF{}", "Invalid value. at offset 0."},
      {"\xFF", "Invalid value. at offset 0."},
      {"[1,\0 2]"s, "Invalid value. at offset 3."},
      {"{1:2}", "Missing a name for object member. at offset 1."},
      {R"({"a":1,})", "Missing a name for object member. at offset 7."},
      {R"({"a" 1})", "Missing a colon after a name of object member. at offset 5."},
      {R"({"a":1 "b":2})", "Missing a comma or '}' after an object member. at offset 7."},
      {"[1 2]", "Missing a comma or ']' after an array element. at offset 3."},
      {R"("\u12G4")", "Incorrect hex digit after \\u escape in string. at offset 1."},
      {R"("\u00")", "Incorrect hex digit after \\u escape in string. at offset 1."},
      {R"("\ud800")", "The surrogate pair in string is invalid. at offset 1."},
      {R"("\ud800\u0041")", "The surrogate pair in string is invalid. at offset 1."},
      {R"("\x")", "Invalid escape character in string. at offset 1."},
      // An unpaired low surrogate would store bytes that are not UTF-8.
      {R"("uu\udddd#")", "Terminate parsing due to Handler error. at offset 11."},
      {R"({"\udc00":1})", "Terminate parsing due to Handler error. at offset 9."},
      {"\"a\tb\"", "Invalid escape character in string. at offset 2."},
      {"\"abc", "Missing a closing quotation mark in string. at offset 4."},
      {"\"ab\0cd\""s, "Missing a closing quotation mark in string. at offset 3."},
      {"\"\xFF\"", "Invalid encoding in string. at offset 1."},
      {"\"\xC3\"", "Invalid encoding in string. at offset 1."},
      {"\"\xC0\xAF\"", "Invalid encoding in string. at offset 1."},
      {"\"\xED\xA0\x80\"", "Invalid encoding in string. at offset 1."},
      {"[\"a\xF4\x90\x80\x80\"]", "Invalid encoding in string. at offset 3."},
      {"\"abcdefghijklm\xE0\x80\x80\"", "Invalid encoding in string. at offset 14."},
      {"\"abcdefghijklm\xF0\x80\x80\x80\"", "Invalid encoding in string. at offset 14."},
      {"[\"\xF0\x9F\x98\"]", "Invalid encoding in string. at offset 2."},
      {"[\"abcdefgh\", \xFF]", "Invalid value. at offset 13."},
      {"1e400", "Number too big to be stored in double. at offset 0."},
      {"[-1e400]", "Number too big to be stored in double. at offset 1."},
      {std::string(400, '9'), "Number too big to be stored in double. at offset 0."},
      {"1.", "Miss fraction part in number. at offset 2."},
      {"1.e5", "Miss fraction part in number. at offset 2."},
      {"1e", "Miss exponent in number. at offset 2."},
      {"1e+", "Miss exponent in number. at offset 3."},
      // Unclosed nesting.
      {"[[[[", "Invalid value. at offset 4."},
      {"{", "Missing a name for object member. at offset 1."},
      {R"({"a")", "Missing a colon after a name of object member. at offset 4."},
      {R"({"a":)", "Invalid value. at offset 5."},
  };
  for (const Case& c : cases) {
    const BindingProperty parsed = ParseExact(c.text);
    EXPECT_FALSE(parsed.IsValid()) << c.text;
    EXPECT_EQ(parsed.FailureMessage(), "Error: " + c.message) << c.text;
  }
}

TEST(ParseJson, EveryTruncationOfAValidDocumentIsAnErrorOrAPrefixValue) {
  const std::string document =
      R"({"name":"Ab\u00e9\ud83d\ude00","list":[1,-2,3.5e-3,true,false,null],"nested":{"k":[{"x":"y"}]}})";
  ASSERT_TRUE(ParseExact(document).IsValid());
  for (std::size_t length = 1; length < document.size(); ++length) {
    const BindingProperty parsed = ParseExact(std::string_view(document).substr(0, length));
    EXPECT_FALSE(parsed.IsValid()) << length;
    const std::string_view message = parsed.FailureMessage();
    EXPECT_EQ(message.substr(0, 7), "Error: ") << length;
    EXPECT_NE(message.find(" at offset "), std::string_view::npos) << length;
  }
}

// Short texts are read from a copy and long ones in place: the two give the
// same trees and the same errors at the same offsets.
TEST(ParseJson, ShortAndLongTextsReadAlike) {
  const std::string padding((std::size_t(1) << 20) + 1, ' ');
  for (const std::string document : {R"({"b":"x\"y","a":[1,{"c":"\u00e9"}]})", R"({"a" 1})",
                                     R"([1,2,}])", R"({"a":"\q"})", "\"tab\tinside\"", R"(["\u0000"])"}) {
    const BindingProperty small = ParseExact(document);
    const BindingProperty large = ParseExact(document + padding);
    EXPECT_EQ(small.IsValid(), large.IsValid()) << document;
    EXPECT_EQ(small.FailureMessage(), large.FailureMessage()) << document;
    EXPECT_EQ(Describe(small), Describe(large)) << document;
  }
}

enum class Colour { Red = 0, Green = 2 };

TEST(ToJson, WritesEachKindInBothLayouts) {
  static BindingRegistry registry;
  static const bool registered = [] {
    registry.RegisterType(4, "Colour", TypeIdentity::Of<Colour>(), true)
        .AddEnumerator("Red", 0, "")
        .AddEnumerator("Green", 2, "");
    return true;
  }();
  ASSERT_TRUE(registered);
  const TypeIdentity* colour = &TypeIdentity::Of<Colour>();
  const std::uint8_t abc[] = {'a', 'b', 'c'};

  struct Case {
    const char* name;
    void (*build)(BindingNode&);
    const BindingRegistry* registry;
    std::string_view lineBreak;
    std::string json;
  };
  static const TypeIdentity* sColour = colour;
  static const std::uint8_t* sAbc = abc;
  const Case cases[] = {
      {"empty root", [](BindingNode&) {}, nullptr, {}, ""},
      {"empty root indented", [](BindingNode&) {}, &registry, "\r\n", ""},
      {"fields in name order", [](BindingNode& n) { n.Field("b").SetUnsigned(1u); n.Field("a").SetSigned(-1); },
       nullptr, {}, R"({"a":-1,"b":1})"},
      {"empty field", [](BindingNode& n) { n.Field("a"); }, nullptr, {}, R"({"a":null})"},
      {"bools", [](BindingNode& n) { n.At(0).SetBool(true); n.At(1).SetBool(false); }, nullptr, {}, "[true,false]"},
      {"integer ends",
       [](BindingNode& n) {
         n.At(0).SetSigned(std::numeric_limits<std::int64_t>::min());
         n.At(1).SetUnsigned(std::numeric_limits<std::uint64_t>::max());
       },
       nullptr, {}, "[-9223372036854775808,18446744073709551615]"},
      {"floats",
       [](BindingNode& n) {
         n.At(0).SetFloat(1.5);
         n.At(1).SetFloat(1.0);
         n.At(2).SetFloat(1e300);
         n.At(3).SetFloat(-0.0);
         n.At(4).SetFloat(0.1);
       },
       nullptr, {}, "[1.5,1.0,1e300,-0.0,0.1]"},
      {"non-finite floats stay valid JSON",
       [](BindingNode& n) {
         n.At(0).SetFloat(std::nan(""));
         n.At(1).SetFloat(-HUGE_VAL);
       },
       nullptr, {}, "[null,null]"},
      {"string escapes", [](BindingNode& n) { n.SetString("a\"b\\c\n\t\x01\x1f/\xC3\xA9\x7f"); }, nullptr, {},
       "\"a\\\"b\\\\c\\n\\t\\u0001\\u001F/\xC3\xA9\x7f\""},
      {"key escapes", [](BindingNode& n) { n.Field("q\"\n").SetString(""); }, nullptr, {}, R"({"q\"\n":""})"},
      {"blobs",
       [](BindingNode& n) {
         n.At(0).SetBlob(std::span<const std::uint8_t>(sAbc, 3));
         n.At(1).SetBlob(std::span<const std::uint8_t>(sAbc, 2));
         n.At(2).SetBlob(std::span<const std::uint8_t>(sAbc, 1));
         n.At(3).SetBlob(std::span<const std::uint8_t>());
       },
       nullptr, {}, R"(["YWJj","YWI=","YQ==",""])"},
      {"enum without registry", [](BindingNode& n) { n.SetEnum({2, sColour}); }, nullptr, {}, "2"},
      {"enum by name", [](BindingNode& n) { n.At(0).SetEnum({2, sColour}); n.At(1).SetEnum({0, sColour}); },
       &registry, {}, R"(["Green","Red"])"},
      {"unknown enum value", [](BindingNode& n) { n.SetEnum({-7, sColour}); }, &registry, {}, "-7"},
      {"enum of unregistered type", [](BindingNode& n) { n.SetEnum({2, &TypeIdentity::Of<int>()}); }, &registry, {},
       "2"},
      {"enum without type", [](BindingNode& n) { n.SetEnum({2, nullptr}); }, &registry, {}, "2"},
      {"indented CRLF",
       [](BindingNode& n) {
         n.Field("a").At(0).SetUnsigned(1u);
         n.Field("a").At(1).MakeStructure();
         n.Field("b").MakeCollection();
         n.Field("c").SetString("x\ny");
       },
       nullptr, "\r\n",
       "{\r\n    \"a\": [\r\n        1,\r\n        {}\r\n    ],\r\n    \"b\": [],\r\n    \"c\": \"x\\ny\"\r\n}"},
      {"indented LF", [](BindingNode& n) { n.At(0).Field("k").SetBool(true); }, nullptr, "\n",
       "[\n    {\n        \"k\": true\n    }\n]"},
      {"indented other break", [](BindingNode& n) { n.At(0).SetUnsigned(1u); n.At(1).SetUnsigned(2u); }, nullptr,
       "<br>", "[<br>    1,<br>    2<br>]"},
      {"indented scalar", [](BindingNode& n) { n.SetUnsigned(5u); }, nullptr, "\r\n", "5"},
  };
  for (const Case& c : cases) {
    BindingProperty node;
    c.build(node);
    EXPECT_EQ(ToJson(node, c.registry, c.lineBreak), c.json) << c.name;
  }
}

// --- Round trip

void AppendUtf8(std::string& text, std::uint32_t code) {
  if (code < 0x80) {
    text += static_cast<char>(code);
  } else if (code < 0x800) {
    text += static_cast<char>(0xC0 | code >> 6);
    text += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    text += static_cast<char>(0xE0 | code >> 12);
    text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    text += static_cast<char>(0xF0 | code >> 18);
    text += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (code & 0x3F));
  }
}

class RandomTree {
 public:
  explicit RandomTree(std::uint32_t seed) : random_(seed) {}

  std::string Text() {
    std::string text;
    const int length = Below(8);
    for (int i = 0; i < length; ++i) {
      std::uint32_t code;
      switch (Below(4)) {
        case 0: code = 1 + Below(0x7F); break;  // controls, quotes, backslashes
        case 1: code = 0x80 + Below(0x780); break;
        case 2: code = 0x800 + Below(0xD000); break;  // below the surrogates
        default: code = 0x10000 + Below(0x100000); break;
      }
      AppendUtf8(text, code);
    }
    return text;
  }

  // Only kinds that JSON keeps apart; Empty stands for null.
  void Fill(BindingNode& node, int depth) {
    switch (Below(depth > 0 ? 9 : 7)) {
      case 0: break;
      case 1: node.SetBool(Below(2) == 1); break;
      case 2: node.SetSigned(-1 - static_cast<std::int64_t>(random_() >> (1 + Below(63)))); break;
      case 3: node.SetUnsigned(static_cast<std::uint64_t>(random_()) >> Below(64)); break;
      case 4: {
        double value;
        do {
          const std::uint64_t bits = random_();
          std::memcpy(&value, &bits, sizeof value);
        } while (!std::isfinite(value));
        node.SetFloat(value);
        break;
      }
      case 5:
      case 6: node.SetString(Text()); break;
      case 7: {
        node.MakeCollection();
        const int count = Below(5);
        for (int i = 0; i < count; ++i) Fill(node.At(static_cast<std::uint32_t>(i)), depth - 1);
        break;
      }
      default: {
        node.MakeStructure();
        const int count = Below(5);
        for (int i = 0; i < count; ++i) Fill(node.Field(Text()), depth - 1);
        break;
      }
    }
  }

 private:
  int Below(int bound) { return static_cast<int>(random_() % static_cast<std::uint64_t>(bound)); }
  std::mt19937_64 random_;
};

// The reader's fast number path may land a few units in the last place
// away from the written digits.
bool SameFloat(double a, double b) {
  if (std::memcmp(&a, &b, sizeof a) == 0) return true;
  return std::signbit(a) == std::signbit(b) && std::fabs(a - b) <= 4 * std::numeric_limits<double>::epsilon() *
                                                                        std::max(std::fabs(a), std::fabs(b));
}

bool SameTree(const BindingNode& a, const BindingNode& b) {
  if (a.GetKind() != b.GetKind()) return false;
  switch (a.GetKind()) {
    case BindingKind::Float: return SameFloat(a.GetFloat(), b.GetFloat());
    case BindingKind::Collection: {
      if (a.Size() != b.Size()) return false;
      for (std::uint32_t i = 0; i < a.Size(); ++i)
        if (!SameTree(a.At(i), b.At(i))) return false;
      return true;
    }
    case BindingKind::Structure: {
      if (a.Size() != b.Size()) return false;
      auto other = b.Fields().begin();
      for (const auto field : a.Fields()) {
        if (field.name != (*other).name || !SameTree(field.value, (*other).value)) return false;
        ++other;
      }
      return true;
    }
    default: return Describe(a) == Describe(b);
  }
}

TEST(JsonRoundTrip, RandomTreesComeBackEqualFromBothLayouts) {
  for (std::uint32_t seed = 1; seed <= 400; ++seed) {
    RandomTree random(seed);
    BindingProperty tree;
    random.Fill(tree, 4);
    for (const std::string_view lineBreak : {std::string_view(), std::string_view("\n"), std::string_view("\r\n")}) {
      const std::string json = ToJson(tree, nullptr, lineBreak);
      const BindingProperty back = ParseExact(json);
      ASSERT_TRUE(back.IsValid()) << "seed " << seed << ": " << back.FailureMessage() << "\n" << json;
      ASSERT_TRUE(SameTree(tree, back)) << "seed " << seed << "\n" << json << "\n" << Describe(back);
    }
  }
}

// --- Hostile input

constexpr std::size_t kDeep = 1000000;

TEST(JsonHostile, MillionDeepArraysAndObjectsParseWriteAndDestroy) {
  struct Case {
    std::string open;
    std::string leaf;
    std::string close;
  };
  const Case cases[] = {{"[", "1", "]"}, {R"({"a":)", "1", "}"}};
  for (const Case& c : cases) {
    std::string text;
    text.reserve(kDeep * (c.open.size() + c.close.size()) + c.leaf.size());
    for (std::size_t i = 0; i < kDeep; ++i) text += c.open;
    text += c.leaf;
    for (std::size_t i = 0; i < kDeep; ++i) text += c.close;

    BindingProperty parsed = ParseExact(text);
    ASSERT_TRUE(parsed.IsValid()) << parsed.FailureMessage();
    const BindingNode* node = &parsed;
    std::size_t depth = 0;
    while (node->GetKind() == BindingKind::Collection || node->GetKind() == BindingKind::Structure) {
      node = node->GetKind() == BindingKind::Collection ? &node->At(0) : &node->Find("a");
      ++depth;
    }
    EXPECT_EQ(depth, kDeep);
    EXPECT_EQ(node->GetUnsigned(), 1u);
    EXPECT_TRUE(ToJson(parsed) == text) << c.open;
  }
}

TEST(JsonHostile, DeepErrorsAndUnclosedNestingFailCleanly) {
  struct Case {
    std::string text;
    std::string message;
  };
  const std::string deepOpen(kDeep, '[');
  std::string deepObjects;
  for (std::size_t i = 0; i < kDeep; ++i) deepObjects += R"({"a":)";
  const Case cases[] = {
      {deepOpen, "Error: Invalid value. at offset 1000000."},
      {deepObjects, "Error: Invalid value. at offset 5000000."},
      {deepOpen + "1,x", "Error: Invalid value. at offset 1000002."},
      {deepOpen + "\"\xFF\"", "Error: Invalid encoding in string. at offset 1000001."},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseExact(c.text).FailureMessage(), c.message);
}

TEST(JsonHostile, WideObjectsOfDuplicateOrReversedKeysStayBounded) {
  std::string text = "{";
  for (int i = 0; i < 100000; ++i) {
    text += i ? R"(,"k":)" : R"("k":)";
    text += std::to_string(i);
  }
  text += "}";
  const BindingProperty parsed = ParseExact(text);
  ASSERT_EQ(parsed.Size(), 1u);
  EXPECT_EQ(parsed.Find("k").GetUnsigned(), 99999u);

  // Each name goes before all the others: every one lands at the front.
  text = "{";
  for (int i = 199999; i >= 0; --i) {
    text += i == 199999 ? "\"" : ",\"";
    text += std::to_string(1000000 + i);
    text += "\":" + std::to_string(i);
  }
  text += "}";
  const BindingProperty reversed = ParseExact(text);
  ASSERT_EQ(reversed.Size(), 200000u);
  std::uint64_t next = 0;
  for (const auto field : reversed.Fields()) {
    ASSERT_EQ(field.name, std::to_string(1000000 + next));
    ASSERT_EQ(field.value.GetUnsigned(), next++);
  }
}

TEST(JsonHostile, DeepTreeBuiltInCodeWritesIndented) {
  // Indentation grows with depth, so the indented layout is checked at a
  // depth whose output stays small.
  BindingProperty tree;
  BindingNode* node = &tree;
  for (int i = 0; i < 1000; ++i) node = &node->At(0);
  node->SetBool(true);
  const std::string json = ToJson(tree, nullptr, "\r\n");
  EXPECT_TRUE(SameTree(ParseExact(json), tree));
  EXPECT_NE(json.find(std::string(4000, ' ') + "true\r\n"), std::string::npos);
}

}  // namespace
}  // namespace Vexa
