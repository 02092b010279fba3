#include "formats/msgpack.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "formats/json.h"

namespace Vexa {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Parsed {
  BindingProperty value;
  std::size_t consumed = 0;
};

// A heap copy of exactly the input's length, so that an overread shows up
// under AddressSanitizer.
Parsed ParseExact(const Bytes& bytes) {
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[bytes.size() + (bytes.empty() ? 1 : 0)]);
  if (!bytes.empty()) std::memcpy(copy.get(), bytes.data(), bytes.size());
  Parsed parsed;
  parsed.value = ParseMessagePack(std::span<const std::uint8_t>(copy.get(), bytes.size()), &parsed.consumed);
  return parsed;
}

// Kinds stay visible: Signed and Unsigned both print as integers in JSON, so
// the kind of a scalar root is checked separately.
TEST(ParseMessagePack, DecodesEachFamily) {
  struct Case {
    Bytes bytes;
    std::string json;
    BindingKind kind;
    std::size_t consumed;
  };
  const Case cases[] = {
      {{}, "", BindingKind::Empty, 0},
      {{0x05}, "5", BindingKind::Signed, 1},
      {{0x7F}, "127", BindingKind::Signed, 1},
      {{0xFF}, "-1", BindingKind::Signed, 1},
      {{0xE0}, "-32", BindingKind::Signed, 1},
      {{0xCC, 0x05}, "5", BindingKind::Unsigned, 2},
      {{0xCD, 0x01, 0x02}, "258", BindingKind::Unsigned, 3},
      {{0xCF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "18446744073709551615", BindingKind::Unsigned, 9},
      {{0xD0, 0x80}, "-128", BindingKind::Signed, 2},
      {{0xD1, 0xFF, 0xFE}, "-2", BindingKind::Signed, 3},
      {{0xD2, 0x80, 0, 0, 0}, "-2147483648", BindingKind::Signed, 5},
      {{0xD3, 0x80, 0, 0, 0, 0, 0, 0, 0}, "-9223372036854775808", BindingKind::Signed, 9},
      {{0xCA, 0x3F, 0xC0, 0, 0}, "1.5", BindingKind::Float, 5},
      {{0xCB, 0x40, 0x04, 0, 0, 0, 0, 0, 0}, "2.5", BindingKind::Float, 9},
      {{0xC0}, "", BindingKind::Empty, 1},
      {{0xC2}, "false", BindingKind::Bool, 1},
      {{0xC3}, "true", BindingKind::Bool, 1},
      {{0xA3, 'a', 'b', 'c'}, "\"abc\"", BindingKind::String, 4},
      {{0xD9, 0x02, 'h', 'i'}, "\"hi\"", BindingKind::String, 4},
      {{0xDA, 0x00, 0x01, 'x'}, "\"x\"", BindingKind::String, 4},
      {{0xDB, 0, 0, 0, 0}, "\"\"", BindingKind::String, 5},
      {{0xC4, 0x03, 'a', 'b', 'c'}, "\"YWJj\"", BindingKind::Blob, 5},
      {{0xC5, 0x00, 0x00}, "\"\"", BindingKind::Blob, 3},
      {{0x81, 0xA1, 'a', 0x01}, R"({"a":1})", BindingKind::Structure, 4},
      {{0x92, 0x01, 0x02}, "[1,2]", BindingKind::Collection, 3},
      {{0xDC, 0x00, 0x01, 0xC3}, "[true]", BindingKind::Collection, 4},
      {{0xDE, 0x00, 0x01, 0xA1, 'k', 0x90}, R"({"k":[]})", BindingKind::Structure, 6},
      {{0x91, 0xC0}, "[null]", BindingKind::Collection, 2},
      // Repeated keys write into one field; a later map merges.
      {{0x82, 0xA1, 'a', 0x01, 0xA1, 'a', 0x02}, R"({"a":2})", BindingKind::Structure, 7},
      {{0x82, 0xA1, 'a', 0x81, 0xA1, 'x', 0x01, 0xA1, 'a', 0x81, 0xA1, 'y', 0x02}, R"({"a":{"x":1,"y":2}})",
       BindingKind::Structure, 13},
      // Maps side by side, of one shape and then not.
      {{0x93, 0x82, 0xA1, 'b', 0x01, 0xA1, 'a', 0x02, 0x82, 0xA1, 'b', 0x03, 0xA1, 'a', 0x04, 0x82, 0xA1, 'a', 0x05,
        0xA1, 'c', 0x06},
       R"([{"a":2,"b":1},{"a":4,"b":3},{"a":5,"c":6}])", BindingKind::Collection, 22},
      // A repeated key whose arrays overwrite from index 0.
      {{0x82, 0xA1, 'a', 0x92, 0x01, 0x02, 0xA1, 'a', 0x91, 0x03}, R"({"a":[3,2]})", BindingKind::Structure, 10},
      // One value only; the rest is left for the caller.
      {{0x01, 0x02}, "1", BindingKind::Signed, 1},
      // Input ending inside a container keeps what was read.
      {{0x92, 0x01}, "[1]", BindingKind::Collection, 2},
      {{0x83, 0xA1, 'a', 0x01, 0xA1, 'b'}, R"({"a":1})", BindingKind::Structure, 6},
      {{0xDD, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}, "[1]", BindingKind::Collection, 6},
      {{0xDF, 0xFF, 0xFF, 0xFF, 0xFF}, "{}", BindingKind::Structure, 5},
  };
  for (const Case& c : cases) {
    const Parsed parsed = ParseExact(c.bytes);
    ASSERT_TRUE(parsed.value.IsValid()) << c.json << ": " << parsed.value.FailureMessage();
    EXPECT_EQ(ToJson(parsed.value), c.json);
    EXPECT_EQ(parsed.value.GetKind(), c.kind) << c.json;
    EXPECT_EQ(parsed.consumed, c.consumed) << c.json;
  }
}

TEST(ParseMessagePack, ReportsEachFaultWithItsPosition) {
  struct Case {
    Bytes bytes;
    std::string message;
  };
  const Case cases[] = {
      {{0x81, 0x01, 0x02}, "Invalid MessagePack data at position 2. Map keys must be strings."},
      {{0x91, 0x81, 0xC0}, "Invalid MessagePack data at position 3. Map keys must be strings."},
      {{0xCD, 0x01}, "Invalid MessagePack data. 16-bit integer value at position 1 is truncated."},
      {{0xCC}, "Invalid MessagePack data. 8-bit integer value at position 1 is truncated."},
      {{0xD9}, "Invalid MessagePack data. 8-bit integer value at position 1 is truncated."},
      {{0xCA, 0, 0}, "Invalid MessagePack data. 32-bit integer value at position 1 is truncated."},
      {{0xDD, 0, 0, 0}, "Invalid MessagePack data. 32-bit integer value at position 1 is truncated."},
      {{0x91, 0xCB, 0}, "Invalid MessagePack data. 64-bit integer value at position 2 is truncated."},
      {{0xD3, 1, 2, 3, 4, 5, 6, 7}, "Invalid MessagePack data. 64-bit integer value at position 1 is truncated."},
      {{0xA3, 'a', 'b'}, "Invalid MessagePack data. String of size 3 at position 1 is truncated."},
      {{0xDB, 0xFF, 0xFF, 0xFF, 0xFF, 'a'},
       "Invalid MessagePack data. String of size 4294967295 at position 5 is truncated."},
      {{0x81, 0xA2, 'a'}, "Invalid MessagePack data. String of size 2 at position 2 is truncated."},
      {{0xC6, 0xFF, 0xFF, 0xFF, 0xFF},
       "Invalid MessagePack data. Raw bytes of size 4294967295 at position 5 are truncated."},
      {{0xC4, 0x02, 0x00}, "Invalid MessagePack data. Raw bytes of size 2 at position 2 are truncated."},
      {{0xC1}, "Invalid MessagePack data at position 1."},
      {{0x92, 0x01, 0xD4, 0x00, 0x00}, "Invalid MessagePack data at position 3."},
      {{0xC7}, "Invalid MessagePack data at position 1."},
      {{0xD8}, "Invalid MessagePack data at position 1."},
  };
  for (const Case& c : cases) {
    const Parsed parsed = ParseExact(c.bytes);
    EXPECT_FALSE(parsed.value.IsValid()) << c.message;
    EXPECT_EQ(parsed.value.FailureMessage(), c.message);
  }
}

TEST(ParseMessagePack, EveryPrefixOfADocumentIsAValueOrAMessage) {
  const Bytes document = {0x84, 0xA4, 'l', 'i', 's', 't', 0x93, 0x01, 0xD0, 0xFE, 0xCB, 0x3F, 0xF8, 0, 0, 0, 0, 0,
                          0,    0xA1, 'b', 0xC4, 0x02, 0xAB, 0xCD, 0xA1, 'm', 0x81, 0xA1, 'x', 0xD9, 0x01, 'y',
                          0xA1, 'n',  0xC0};
  ASSERT_EQ(ToJson(ParseExact(document).value), R"({"b":"q80=","list":[1,-2,1.5],"m":{"x":"y"},"n":null})");
  for (std::size_t length = 0; length < document.size(); ++length) {
    const Parsed parsed = ParseExact(Bytes(document.begin(), document.begin() + length));
    EXPECT_LE(parsed.consumed, length);
    if (!parsed.value.IsValid()) {
      EXPECT_EQ(parsed.value.FailureMessage().substr(0, 24), "Invalid MessagePack data");
    }
  }
}

TEST(ParseMessagePack, HostileDepthsAndCountsStayBounded) {
  constexpr std::size_t kDeep = 1000000;
  Bytes deep(kDeep, 0x91);
  deep.push_back(0x2A);
  const Parsed parsed = ParseExact(deep);
  ASSERT_TRUE(parsed.value.IsValid());
  const BindingNode* node = &parsed.value;
  std::size_t depth = 0;
  while (node->GetKind() == BindingKind::Collection) {
    node = &node->At(0);
    ++depth;
  }
  EXPECT_EQ(depth, kDeep);
  EXPECT_EQ(node->GetSigned(), 42);

  // Declared counts of 2^32 - 1 with a few bytes behind them: nothing is
  // reserved for items that cannot be there, and a key the input ends after
  // makes no field.
  const std::pair<Bytes, const char*> counts[] = {
      {{0xDD, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x02}, "[1,2]"},
      {{0xDF, 0xFF, 0xFF, 0xFF, 0xFF, 0xA1, 'a'}, "{}"},
      {{0xDF, 0xFF, 0xFF, 0xFF, 0xFF, 0xA1, 'a', 0x01, 0xA1, 'b'}, R"({"a":1})"},
  };
  for (const auto& [bytes, json] : counts) {
    const Parsed wide = ParseExact(bytes);
    EXPECT_TRUE(wide.value.IsValid()) << json;
    EXPECT_EQ(ToJson(wide.value), json);
  }
}

#if defined(__SANITIZE_ADDRESS__)
TEST(ParseMessagePack, NestedHeadersClaimingTheSameBytesReserveThemOnce) {
  GTEST_SKIP() << "AddressSanitizer maps terabytes of shadow memory, so no address-space cap can be set";
}
#else
// Runs in a child process: caps its address space at what it maps now plus
// `headroom`, decodes, and exits 0 when the result is a valid chain of
// `depth` nested Collections.
[[noreturn]] void DecodeNestedWithinAddressSpace(const Bytes& bytes, std::size_t headroom, std::size_t depth) {
  std::size_t mappedPages = 0;
  std::ifstream("/proc/self/statm") >> mappedPages;
  const rlim_t cap = mappedPages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + headroom;
  const rlimit limit{cap, cap};
  if (mappedPages == 0 || setrlimit(RLIMIT_AS, &limit) != 0) {
    std::fputs("cannot cap the address space\n", stderr);
    std::_Exit(3);
  }
  const Parsed parsed = ParseExact(bytes);
  if (!parsed.value.IsValid()) {
    std::fprintf(stderr, "%s\n", std::string(parsed.value.FailureMessage()).c_str());
    std::_Exit(1);
  }
  std::size_t levels = 0;
  for (const BindingNode* node = &parsed.value; node->GetKind() == BindingKind::Collection; node = &node->At(0))
    ++levels;
  if (levels != depth) {
    std::fprintf(stderr, "%zu levels\n", levels);
    std::_Exit(2);
  }
  std::_Exit(0);
}

TEST(ParseMessagePack, NestedHeadersClaimingTheSameBytesReserveThemOnce) {
  // 100 KB of array 32 headers, each declaring 2^32 - 1 elements. Were each
  // level to reserve the bytes left, together they would reserve about
  // 23 GiB; truncated, the input is simply the arrays read so far.
  constexpr std::size_t kLevels = 20480;
  Bytes hostile;
  for (std::size_t i = 0; i < kLevels; ++i) hostile.insert(hostile.end(), {0xDD, 0xFF, 0xFF, 0xFF, 0xFF});
  EXPECT_EXIT(DecodeNestedWithinAddressSpace(hostile, std::size_t{256} << 20, kLevels),
              ::testing::ExitedWithCode(0), "");
}
#endif

TEST(LooksLikeMessagePack, AcceptsOnlyContainerHeaders) {
  for (int b = 0; b < 256; ++b) {
    const std::uint8_t byte = static_cast<std::uint8_t>(b);
    const bool expected = (b >= 0x80 && b <= 0x9F) || (b >= 0xDC && b <= 0xDF);
    EXPECT_EQ(LooksLikeMessagePack(std::span<const std::uint8_t>(&byte, 1)), expected) << b;
  }
  EXPECT_FALSE(LooksLikeMessagePack({}));
}

}  // namespace
}  // namespace Vexa
