#include "logging/assertion.h"

#include <string>

#include "logging/test_support.h"

namespace Vexa::Logging {
namespace {

std::string Format(const char* expression, const char* description, const char* file, int32_t line,
                   const char* function, size_t size = 1024) {
  char text[1024];
  const size_t length = FormatAssertion(text, size, expression, description, file, line, function);
  EXPECT_EQ(length, std::strlen(text));
  return text;
}

TEST(Assertion, TextOfWholeReports) {
  const struct {
    const char *expression, *description, *file;
    int32_t line;
    const char* function;
    const char* text;
  } rows[] = {
      {"ALE-EECF0606", nullptr, nullptr, 0, nullptr, "Assertion failed!\n\nExpression: ALE-EECF0606"},
      {nullptr, nullptr, nullptr, 0, nullptr, "Assertion failed!\n\n"},
      {"", "", "", 0, "", "Assertion failed!\n\n"},
      {"x > 0", "must be positive", "src/a.cpp", 12, "Check",
       "Assertion failed!\n\nFile: src/a.cpp\nLine: 12\n\nFunction: Check\n\nExpression: x > 0\n\n"
       "Description: must be positive"},
      {nullptr, nullptr, nullptr, -7, nullptr, "Assertion failed!\n\nLine: -7\n\n"},
      {nullptr, "only this", nullptr, 0, nullptr, "Assertion failed!\n\n\n\nDescription: only this"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(Format(row.expression, row.description, row.file, row.line, row.function), row.text);
}

// Every combination of present parts: each part appears in its place, in order.
TEST(Assertion, EveryCombinationOfParts) {
  for (int mask = 0; mask < 32; ++mask) {
    const bool e = mask & 1, d = mask & 2, f = mask & 4, l = mask & 8, fn = mask & 16;
    std::string expected = "Assertion failed!\n\n";
    if (f) expected += "File: f.cpp\n";
    if (l) expected += "Line: 3\n\n";
    if (fn) expected += "Function: Run\n\n";
    if (e) expected += "Expression: ok";
    if (d) expected += "\n\nDescription: why";
    EXPECT_EQ(Format(e ? "ok" : nullptr, d ? "why" : nullptr, f ? "f.cpp" : nullptr, l ? 3 : 0,
                     fn ? "Run" : nullptr),
              expected)
        << mask;
  }
}

TEST(Assertion, CutsToTheBuffer) {
  EXPECT_EQ(Format("ALE-6D828C10", nullptr, nullptr, 0, nullptr, 10), "Assertion");
  EXPECT_EQ(Format("ALE-6D828C10", nullptr, nullptr, 0, nullptr, 1), "");
}

TEST_F(LoggerTest, ReportIsOneErrorEntryInGroupDbg) {
  RecordingTarget target;
  target.SetLinePattern("#L|#G|#M");
  target.Attach();
  ReportAssertion("ALE-6D828C10", "100% sure", nullptr, 0, nullptr);
  ASSERT_EQ(target.lines.size(), 1u);
  EXPECT_EQ(target.lines[0], " ERROR|DBG|Assertion failed!\n\nExpression: ALE-6D828C10\n\nDescription: 100% sure\n");
  EXPECT_EQ(ErrorCount(), 1u);
}

}  // namespace
}  // namespace Vexa::Logging
