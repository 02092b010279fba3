#include "binding/message_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "binding/failure.h"

namespace Vexa {
namespace {

struct Row {
  const char* what;
  std::string actual;
  std::string expected;
};

void Check(const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(row.actual, row.expected);
  }
}

std::string Repeated(char c, std::size_t n) { return std::string(n, c); }

TEST(PositionalFormat, Table) {
  const SemanticVersion full{1, 2, 3, "beta", "7"};
  const SemanticVersion buildOnly{1, 0, 0, "", "b"};
  const SemanticVersion api{18, 0, 0, "", ""};
  const std::string withNul("a\0b", 3);
  const char* nullText = nullptr;
  Check({
      {"positions", Format("%1.%2.%3", 18, 0, 0), "18.0.0"},
      {"reordered", Format("%2 %1", "a", "b"), "b a"},
      {"width after $", Format("%1$5d", 42), "   42"},
      {"unaccepted conversion", Format("%1$q", 42), "42"},
      {"n writes nothing", Format("a%1$nb", 42), "ab"},
      {"missing argument ends", Format("%d %d %d", 1, 2), "1 2 "},
      {"digits beyond count are a width", Format("%10d", 5), "         5"},
      {"%N is complete", Format("%1s", "x"), "xs"},
      {"percent", Format("100%%"), "100%"},
      {"index beyond count", Format("%3$d", 1, 2), "  1d"},
      {"index beyond count, no arguments", Format("a%9$d"), "a"},
      {"%0 takes the next", Format("%0-%0", 1, 2), "1-2"},
      {"int64 default", Format("%1", std::numeric_limits<std::int64_t>::min()), "-9223372036854775808"},
      {"uint64 default", Format("%1", std::numeric_limits<std::uint64_t>::max()), "18446744073709551615"},
      {"int32 as hex", Format("%1$x", -1), "ffffffff"},
      {"int64 as hex", Format("%1$X", std::int64_t{-1}), "FFFFFFFFFFFFFFFF"},
      {"unsigned read as %d", Format("%1$d", 4294967295u), "-1"},
      {"alternate octal", Format("%1$#o|%2$#o|%3$#.0o", 8, 0, 0), "010|0|0"},
      {"alternate hex", Format("%1$#x|%2$#x|%3$#06x", 255, 0, 1), "0xff|0|0x0001"},
      {"sign and zero pad", Format("%1$+05d|%2$ 05d|%3$05d", 42, 42, -42), "+0042| 0042|-0042"},
      {"left", Format("%1$-5d|%2$-05d|", 42, 42), "42   |42   |"},
      {"precision", Format("%1$.3d|%2$.0d|%3$05.1d|%4$+.0d", 7, 0, -3, 0), "007||   -3|+"},
      {"char", Format("%1$c%2$3c", 65, 66), "A  B"},
      {"own length modifier", Format("%1$lld|%2$hhd", 5, 300), "5|300"},
      {"plus ignored for unsigned", Format("%1$+u", 5u), "5"},
      {"double default", Format("%1|%2", 0.5, 1e20), "0.5|1e+20"},
      {"double fixed", Format("%1$.2f|%2$08.3f|%3$-8.1f|", 3.14159, -1.5, 2.25), "3.14|-001.500|2.2     |"},
      {"double refuses d", Format("%1$d", 2.5), "2.5"},
      {"double exponent", Format("%1$e|%2$+.1E", 1234.5, 0.5), "1.234500e+03|+5.0E-01"},
      {"double hex zero pad", Format("%1$010a", 1.0), "0x00001p+0"},
      {"infinity pads with blanks", Format("%1$010f|%2$-5F|", std::numeric_limits<double>::infinity(),
                                           -std::numeric_limits<double>::infinity()),
       "       inf|-INF |"},
      {"float is a double", Format("%1", 0.25f), "0.25"},
      {"text width", Format("%1$5s|%2$-5s|%3$.1s|%4$05s", "ab", "ab", "ab", "ab"), "   ab|ab   |a|   ab"},
      {"text refuses d", Format("%1$d", "ab"), "ab"},
      {"null text", Format("%1", nullText), "(null)"},
      {"owned string by length", Format("[%1]", withNul), std::string("[a\0b]", 5)},
      {"view", Format("%1", std::string_view("abcdef").substr(1, 3)), "bcd"},
      {"bool", Format("%1 %2", true, false), "true false"},
      {"version", Format("%1|%2|%3", full, buildOnly, api), "1.2.3-beta+7|1.0.0+b|18.0.0"},
      {"version width", Format("%1$12s|%2$.3s", api, full), "      18.0.0|1.2"},
      {"plugin kind", Format("%1", PluginKind{"backend", ""}), "backend:"},
      {"star takes an argument as 0", Format("%*d", 7, 42), "42"},
      {"star by position", Format("%1$*2$.*2$d|", 42, 9), "42|"},
      {"unterminated", Format("abc%"), "abc"},
      {"unterminated after position", Format("abc%1$", 1), "abc"},
      {"unterminated after flags", Format("abc%-5", 1), "abc"},
  });
}

// Integers and texts are formatted here rather than by snprintf; every
// flag, width and precision must still print as snprintf prints it.
TEST(PositionalFormat, IntegersAndTextsPrintAsSnprintfPrintsThem) {
  const char* specs[] = {"d",   "5d",  "-5d",  "05d",  "+d",   " d",   ".3d",   ".0d",  "x",    "#x",   "#X",
                         "#o",  "o",   "u",    "08.3d", "-+8d", "#.0o", "#08x",  "+05i", "-#6o", "#.3x", " 5d"};
  const std::int32_t ints[] = {0, 1, -1, 42, -42, 0x7FFFFFFF, -0x7FFFFFFF - 1};
  const std::int64_t longs[] = {0, -1, 1234567890123LL, std::numeric_limits<std::int64_t>::min()};
  char expected[128];
  for (const char* spec : specs) {
    const std::string ours = std::string("%1$") + spec;
    const std::string theirs = std::string("%") + spec;
    const std::string theirs64 = theirs.substr(0, theirs.size() - 1) + "ll" + theirs.back();
    for (std::int32_t v : ints) {
      std::snprintf(expected, sizeof expected, theirs.c_str(), v);
      EXPECT_EQ(Format(ours, v), expected) << theirs << " of " << v;
    }
    for (std::int64_t v : longs) {
      std::snprintf(expected, sizeof expected, theirs64.c_str(), static_cast<long long>(v));
      EXPECT_EQ(Format(ours, v), expected) << theirs64 << " of " << v;
    }
  }
  for (const char* spec : {"s", "5s", "-5s", ".2s", "8.3s", "-8.3s", ".0s", "1s"}) {
    std::snprintf(expected, sizeof expected, (std::string("%") + spec).c_str(), "abcd");
    EXPECT_EQ(Format(std::string("%1$") + spec, std::string("abcd")), expected) << spec;
  }
  std::snprintf(expected, sizeof expected, "%-3c|%3c", 'a', 'b');
  EXPECT_EQ(Format("%1$-3c|%2$3c", 'a', 'b'), expected);
}

// Doubles take a faster road than snprintf where they can; the text must be
// the same either way.
TEST(PositionalFormat, DoublesPrintAsSnprintfPrintsThem) {
  const char* specs[] = {"%e",    "%E",     "%f",    "%F",    "%g",     "%G",      "%a",     "%.0e",
                         "%.0f",  "%.0g",   "%.3f",  "%.17g", "%+.2e",  "% f",     "%#g",    "%#.0f",
                         "%#.3e", "%012.3f", "%-12e", "%+012g", "% 010.2f", "%08.0g", "%.40f", "%A",
                         "%.1074f", "%.770e", "%#.770g"};
  const double values[] = {0.0,    -0.0, 1.5,     -2.5,  0.1,     1e-300, 5e-324, 1e308, 123456789.0,
                           1e15,   1e16, 9.99995, 0.5,   -1e-5,   2.675,  std::numeric_limits<double>::infinity(),
                           std::numeric_limits<double>::quiet_NaN()};
  for (const char* spec : specs) {
    for (double value : values) {
      char expected[2048];
      std::snprintf(expected, sizeof expected, spec, value);
      EXPECT_EQ(Format(std::string("%1$") + (spec + 1), value), expected) << spec << " of " << value;
    }
  }
}

TEST(PositionalFormat, SpecificationLengthLimit) {
  // "%", the flags and "d" make 59 characters: still accepted; 60 stops.
  const std::string accepted = "a%" + Repeated('-', 57) + "d";
  const std::string tooLong = "a%" + Repeated('-', 58) + "d";
  EXPECT_EQ(Format(accepted, 5), "a5");
  EXPECT_EQ(Format(tooLong, 5), "a");
  EXPECT_EQ(Format("a%" + Repeated('9', 100) + "d", 5), "a");
  EXPECT_EQ(Format("a%1$" + Repeated('0', 200), 5), "a");
}

TEST(PositionalFormat, HugeWidthsAndPrecisionsFillTheBufferExactly) {
  const std::size_t full = kMessageBufferSize - 1;
  Check({
      {"width", Format("%1$999999999d", 7), Repeated(' ', full)},
      {"left width", Format("%1$-999999999d", 7), "7" + Repeated(' ', full - 1)},
      {"zero width", Format("%1$0999999999d", -7), "-" + Repeated('0', full - 1)},
      {"integer precision", Format("%1$.999999999d", 7), Repeated('0', full)},
      {"text width", Format("%1$999999999s", "x"), Repeated(' ', full)},
      {"float precision", Format("%1$.999999999f", 1.5), "1.5" + Repeated('0', full - 3)},
      {"exponent precision", Format("%1$.999999999e", 1.5), "1.5" + Repeated('0', full - 3)},
      {"general keeps no zeros", Format("%1$.999999999g", 1.5), "1.5"},
      {"saturated position", Format("%99999999999999999999$d", 5), Repeated(' ', full)},
      {"huge star position", Format("a%1$*99999999999$d", 5), "a"},
  });
  // Past kMaxFloatPrecision the extra digits go before the exponent.
  const std::string e = Format("%1$.2000e", 1.5);
  ASSERT_EQ(e.size(), 2006u);
  EXPECT_EQ(e.substr(0, 3), "1.5");
  EXPECT_EQ(e.substr(3, 1999), Repeated('0', 1999));
  EXPECT_EQ(e.substr(2002), "e+00");
}

TEST(PositionalFormat, OutputIsCutAtTheBufferEnd) {
  char buffer[16];
  std::memset(buffer, 'X', sizeof buffer);
  EXPECT_EQ(FormatTo(buffer, 8, "%1 world", "hello"), 7u);
  EXPECT_STREQ(buffer, "hello w");
  EXPECT_EQ(buffer[8], 'X');

  EXPECT_EQ(FormatTo(buffer, 4, "%1", 123456), 3u);
  EXPECT_STREQ(buffer, "123");
  EXPECT_EQ(FormatTo(buffer, 4, "%1$-10d|", 1), 3u);
  EXPECT_STREQ(buffer, "1  ");

  EXPECT_EQ(FormatTo(buffer, 1, "abc"), 0u);
  EXPECT_STREQ(buffer, "");
  buffer[0] = 'X';
  EXPECT_EQ(FormatTo(buffer, 0, "abc"), 0u);
  EXPECT_EQ(buffer[0], 'X');

  EXPECT_EQ(Format(Repeated('a', 5000)).size(), kMessageBufferSize - 1);
  EXPECT_EQ(SemanticVersion({4294967295u, 4294967295u, 4294967295u, "", ""}).ToString(),
            "4294967295.4294967295.4294967295");
}

TEST(NamedFormat, Table) {
  const SemanticVersion version{1, 2, 3, "", ""};
  Check({
      {"placeholders in order", FormatNamed("{a} and {b}", "x", "y").text, "x and y"},
      {"name does not select", FormatNamed("{b} and {a}", "x", "y").text, "x and y"},
      {"braces", FormatNamed("{{literal}}").text, "{literal}"},
      {"lone close", FormatNamed("a}b").text, "a}b"},
      {"percent shares the counter", FormatNamed("%d {a} %d", 1, "x", 3).text, "1 x 3"},
      {"sequence after placeholder", FormatNamed("{a} %d", "x", 2).text, "x 2"},
      {"percent escape", FormatNamed("100%% {a}", 5).text, "100% 5"},
      {"escape", FormatNamed("{a\\}b} {c\\\\}", 1, 2).text, "1 2"},
      {"missing argument ends", FormatNamed("{a} {b} tail", "x").text, "x "},
      {"unterminated", FormatNamed("x {a", 1).text, "x "},
      {"unterminated escape", FormatNamed("x {a\\", 1).text, "x "},
      {"hidden", FormatNamed("{#a}shown", 1).text, "shown"},
      {"quoted", FormatNamed("{a:}", "x").text, "'x'"},
      {"null text", FormatNamed("{a} after", nullptr).text, "(null) after"},
      {"optional without argument", FormatNamed("[{a?}] after").text, "[] after"},
      {"numbers", FormatNamed("{n}/{f}", 42, 2.5).text, "42/2.5"},
      {"version", FormatNamed("{v}", version).text, "1.2.3"},
      {"the request failure text",
       FormatNamed("Expected '{expected}' as LCDS response for {destination}.{method}, but got '{actual}'", "A",
                   "gameService", "quit", "B")
           .text,
       "Expected 'A' as LCDS response for gameService.quit, but got 'B'"},
  });
  EXPECT_EQ(FormatNamed(std::string(5000, 'a') + "{x}", 1).text.size(), kMessageBufferSize - 1);
}

TEST(NamedFormat, RecordsTypedValues) {
  const NamedMessage m = FormatNamed(
      "{n_int} {l_long} {f_float} {b_bool} {t_time} {s_str} {plain} {x_other} {text_int} {text_bool} {#hidden} "
      "{skipped!} {a\\}b} {big_int}",
      42, std::int64_t{5000000000}, "2.5", 1, 1700000000, 5, 7u, "y", "0x10", "true", "h", "s", 1.5, 1e300);
  auto value = [&](const char* name) -> NamedValueData {
    const NamedValue* v = m.values.Find(name);
    return v ? v->value : NamedValueData{std::string("<missing>")};
  };
  EXPECT_EQ(value("n_int"), NamedValueData{std::int32_t{42}});
  EXPECT_EQ(value("l_long"), NamedValueData{std::int64_t{5000000000}});
  EXPECT_EQ(value("f_float"), NamedValueData{2.5});
  EXPECT_EQ(value("b_bool"), NamedValueData{true});
  EXPECT_EQ(value("t_time"), NamedValueData{NamedTime{1700000000}});
  EXPECT_EQ(value("s_str"), NamedValueData{std::string("5")});
  EXPECT_EQ(value("plain"), NamedValueData{std::string("7")});
  EXPECT_EQ(value("x_other"), NamedValueData{std::string("y")});
  EXPECT_EQ(value("text_int"), NamedValueData{std::int32_t{16}});
  EXPECT_EQ(value("text_bool"), NamedValueData{true});
  EXPECT_EQ(value("hidden"), NamedValueData{std::string("h")});
  EXPECT_EQ(m.values.Find("skipped"), nullptr);
  EXPECT_EQ(value("a}b"), NamedValueData{std::string("1.5")});
  // A double far beyond the integer range saturates instead of overflowing.
  EXPECT_EQ(value("big_int"), NamedValueData{std::numeric_limits<std::int32_t>::max()});
  EXPECT_EQ(m.values.size(), 13u);
}

TEST(NamedFormat, FailureKeepsStatusMessageAndValues) {
  const Failure failure = Failure::Named(404, "Error response for {method} {url}: {error}", "GET", "/x", "gone");
  EXPECT_EQ(failure.Status(), 404);
  EXPECT_EQ(failure.Message(), "Error response for GET /x: gone");
  ASSERT_NE(failure.Values().Find("url"), nullptr);
  EXPECT_EQ(failure.Values().Find("url")->value, NamedValueData{std::string("/x")});

  MaybeType<Failure, std::string> ok = std::string("v");
  MaybeType<Failure, std::string> bad = Failure("no");
  EXPECT_TRUE(ok.HasValue());
  EXPECT_EQ(ok.Value(), "v");
  EXPECT_TRUE(bad.IsFailure());
  EXPECT_EQ(bad.Error().Message(), "no");
  EXPECT_EQ(bad.ValueOr("fallback"), "fallback");
  EXPECT_THROW((void)bad.Value(), std::bad_variant_access);
  MaybeType<Failure, void> done;
  MaybeType<Failure, void> failed = Failure("x", 500);
  EXPECT_TRUE(done.HasValue());
  EXPECT_EQ(failed.Error().Status(), 500);
}

TEST(Join, QuotesAndSeparates) {
  const std::vector<std::string> items{"a", "b"};
  EXPECT_EQ(Join(items, ", ", "'"), "'a', 'b'");
  EXPECT_EQ(Join({"x"}, ", ", "\""), "\"x\"");
  EXPECT_EQ(Join(std::vector<std::string>{}, ", ", "'"), "");
}

}  // namespace
}  // namespace Vexa
