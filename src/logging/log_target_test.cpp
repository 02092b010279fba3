#include "logging/log_target.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "logging/clock.h"
#include "logging/test_support.h"

namespace Vexa::Logging {
namespace {

using LineFormatterTest = LoggerTest;

LogRecord Record(int32_t level, uint64_t groups, const char* message) {
  return LogRecord{Os::LocalTime{2026, 12, 7, 9, 5, 3, 42}, level, groups, message};
}

std::string Format(const char* pattern, const LogRecord& record, size_t size = kLineBufferSize) {
  char line[kLineBufferSize];
  const size_t length = FormatLine(pattern, record, line, size);
  EXPECT_EQ(length, std::strlen(line)) << pattern;
  return line;
}

TEST_F(LineFormatterTest, ReplacesEveryToken) {
  ProcessClock::Restart();
  env.counter = 5000;
  ProcessClock::Read();  // the first reading fixes the start
  env.counter = 5000 + 61345;

  const struct {
    const char* pattern;
    int32_t level;
    uint64_t groups;
    const char* message;
    const char* line;
  } rows[] = {
      {"#D", kWarn, 0, "", "2026-12-07T09:05:03.042\n"},
      {"#E", kWarn, 0, "", "VexaClient\n"},
      {"#G", kWarn, kGroupDbg | kGroupNet, "", "DBG;NET\n"},
      {"#G", kWarn, uint64_t(1) << 63, "", "???\n"},
      {"[#G]", kWarn, 0, "", "[]\n"},
      {"#H", kWarn, 0, "", "000061.345\n"},
      {"#L", kOkay, 0, "", "  OKAY\n"},
      {"#L", kWarn, 0, "", "  WARN\n"},
      {"#L", kError, 0, "", " ERROR\n"},
      {"#L", kAlways, 0, "", "ALWAYS\n"},
      {"#L", 9, 0, "", "   ???\n"},
      {"#M", kWarn, 0, "hello", "hello\n"},
      {"#T", kWarn, 0, "", "0x1234\n"},
      {"#x#q##50#%", kWarn, 0, "", "xq#50%\n"},
      {"abc#", kWarn, 0, "", "abc\n"},
      {"", kWarn, 0, "ignored", "\n"},
      {"#M", kWarn, 0, "", "\n"},
      {"#M", kWarn, 0, "done\n", "done\n"},
      {"#M\n", kWarn, 0, "done", "done\n"},
      {"#D| #L| #G| #M", kWarn, kGroupDbg, "hello", "2026-12-07T09:05:03.042|   WARN| DBG| hello\n"},
      {"#E(#T): #L| #M", kAlways, kGroupDbg, "hello", "VexaClient(0x1234): ALWAYS| hello\n"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(Format(row.pattern, Record(row.level, row.groups, row.message)), row.line) << row.pattern;
  EXPECT_EQ(Format(nullptr, Record(kWarn, 0, "x")), "\n");
}

TEST_F(LineFormatterTest, CutsToTheBufferAndKeepsTheNewline) {
  const struct {
    const char* pattern;
    size_t size;
    const char* line;
  } rows[] = {
      {"#M", 1, ""}, {"#M", 2, "\n"}, {"#M", 4, "ab\n"}, {"#M", 5, "abc\n"}, {"#M", 6, "abc\n"},
      {"#D", 6, "2026\n"}, {"#G", 5, "DBG\n"}, {"#G", 6, "DBG;\n"}, {"#G", 9, "DBG;NET\n"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(Format(row.pattern, Record(kWarn, kGroupDbg | kGroupNet, "abc"), row.size), row.line)
        << row.pattern << " in " << row.size;
}

TEST_F(LineFormatterTest, LongMessageIsCutAndTheLineStillEndsWithANewline) {
  RecordingTarget target;
  target.SetLinePattern("#M");
  target.Attach();
  const std::string text(5000, 'a');
  Log(kAlways, kGroupDbg, "%s", text.c_str());
  ASSERT_EQ(target.lines.size(), 1u);
  EXPECT_EQ(target.messages[0], std::string(kLineBufferSize - 1, 'a'));
  EXPECT_EQ(target.lines[0], std::string(kLineBufferSize - 2, 'a') + "\n");
}

TEST(BuiltInTargets, AreConfiguredAsTheLoggerCreatesThem) {
  Os::FakeEnv env;
  Os::ScopedEnv scoped(&env);
  const LoggerApi* logger = Logger();
  ASSERT_TRUE(logger->Initialize(logger));
  const struct {
    const LogTargetApi* target;
    const char* name;
    const char* pattern;
    uint64_t included, excluded;
    bool attached;
  } rows[] = {
      {logger->StdErrTarget(logger), "StdErrLogTarget", "#E(#T): #L| #M", kGroupDbg, kGroupGen, true},
      {logger->StdOutTarget(logger), "StdOutLogTarget", "#M", kGroupGen, kGroupDbg, false},
      {logger->DebuggerTarget(logger), "DebuggerConsoleLogTarget", "#E(#T): #L| #M", kGroupDbg, 0, true},
  };
  for (const auto& row : rows) {
    const LogTargetApi* t = row.target;
    ASSERT_NE(t, nullptr) << row.name;
    EXPECT_EQ(t->InterfaceVersion(t), 1);
    EXPECT_STREQ(t->GetName(t), row.name);
    EXPECT_STREQ(t->GetLinePattern(t), row.pattern) << row.name;
    EXPECT_EQ(t->GetLevel(t), kWarn) << row.name;
    EXPECT_EQ(t->GetIncludedGroups(t), row.included) << row.name;
    EXPECT_EQ(t->GetExcludedGroups(t), row.excluded) << row.name;
    EXPECT_EQ(t->IsAttached(t), row.attached) << row.name;
    EXPECT_EQ(logger->FindTarget(logger, row.name), row.attached ? t : nullptr) << row.name;
  }
  logger->Shutdown(logger);
}

std::string g_debuggerText;

TEST_F(LoggerTest, ConsoleTargetsWriteTheirLines) {
  const DebuggerSink previous = SetDebuggerSink([](const char* line) { g_debuggerText += line; });
  g_debuggerText.clear();
  logger->AttachTarget(logger, logger->DebuggerTarget(logger));
  Log(kAlways, kGroupDbg, "hi %d", 7);
  SetDebuggerSink(previous);
  EXPECT_EQ(g_debuggerText, "VexaClient(0x1234): ALWAYS| hi 7\n");

  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  auto fileText = [&] {
    char buffer[64] = {};
    const ssize_t n = pread(fileno(file), buffer, sizeof buffer - 1, 0);
    return std::string(buffer, n > 0 ? size_t(n) : 0);
  };
  {
    StdOutLogTarget out(file);
    const LogTargetApi* api = out.Api();
    const LogRecord record = Record(kAlways, kGroupGen, "one");
    EXPECT_TRUE(api->Write(api, &record));
    EXPECT_EQ(fileText(), "") << "buffered until flushed";
    out.Flush();
    EXPECT_EQ(fileText(), "one\n");
    out.SetAutoFlush(true);
    api->Write(api, &record);
    EXPECT_EQ(fileText(), "one\none\n");
  }
  std::fclose(file);
}

TEST(LogTargetSettings, GroupsStoreIncludeWithoutExclude) {
  RecordingTarget target;
  target.SetGroups(kGroupDbg | kGroupNet | kGroupGen, kGroupNet | kGroupXtr);
  EXPECT_EQ(target.IncludedGroups(), kGroupDbg | kGroupGen);
  EXPECT_EQ(target.ExcludedGroups(), kGroupNet | kGroupXtr);
  const std::string longPattern(2 * kLineBufferSize, 'p');
  target.SetLinePattern(longPattern.c_str());
  EXPECT_EQ(std::strlen(target.GetLinePattern()), kLineBufferSize - 1);
}

}  // namespace
}  // namespace Vexa::Logging
