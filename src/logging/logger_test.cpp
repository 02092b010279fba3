#include "logging/logger.h"

#include <atomic>
#include <cstdlib>
#include <thread>

#include "logging/test_support.h"

// Counts heap allocations while a test asks for it, to prove that logging a
// message allocates nothing. glibc routes its own allocations (vsnprintf's
// included) through an interposed malloc, so this sees all of them. The
// sanitizers bring their own malloc, so the count is left out under them.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define TOV_COUNT_ALLOCATIONS 1
extern "C" void* __libc_malloc(std::size_t size);
namespace {
std::atomic<bool> g_countAllocations{false};
std::atomic<int> g_allocations{0};
}  // namespace
extern "C" void* malloc(std::size_t size) {
  if (g_countAllocations.load(std::memory_order_relaxed)) g_allocations.fetch_add(1);
  return __libc_malloc(size);
}
#endif

namespace Vexa::Logging {
namespace {

TEST_F(LoggerTest, FiltersByLevelAndGroupBeforeEachTarget) {
  constexpr int32_t kDefault = -1;
  const struct {
    const char* what;
    int32_t minimumLevel;  // kDefault keeps the logger's default
    uint64_t muted;        // ~0 keeps the default
    bool disabled;
    int32_t targetLevel;
    uint64_t include, exclude;
    int32_t level;
    uint64_t groups;
    bool delivered;
  } rows[] = {
      {"groups 0 reach a target whatever its masks", kDefault, ~0ull, false, kWarn, kGroupGen, kGroupDbg, kWarn, 0,
       true},
      {"XTR is muted by default", kDefault, ~0ull, false, kOkay, 0, 0, kAlways, kGroupXtr | kGroupDbg, false},
      {"level 0 is below the default minimum", kDefault, ~0ull, false, kOkay, 0, 0, kOkay, kGroupDbg, false},
      {"level 0 passes a minimum of 0", kOkay, ~0ull, false, kOkay, 0, 0, kOkay, kGroupDbg, true},
      {"below the target's level", kDefault, ~0ull, false, kError, 0, 0, kWarn, kGroupDbg, false},
      {"at the target's level", kDefault, ~0ull, false, kError, 0, 0, kError, kGroupDbg, true},
      {"shares a bit with the excluded groups", kDefault, ~0ull, false, kOkay, 0, kGroupNet, kWarn,
       kGroupDbg | kGroupNet, false},
      {"shares no bit with the included groups", kDefault, ~0ull, false, kOkay, kGroupGen, 0, kWarn, kGroupDbg,
       false},
      {"shares a bit with the included groups", kDefault, ~0ull, false, kOkay, kGroupGen, 0, kWarn,
       kGroupDbg | kGroupGen, true},
      {"logging disabled", kDefault, ~0ull, true, kOkay, 0, 0, kAlways, kGroupDbg, false},
      {"other muted groups", kDefault, kGroupNet, false, kOkay, 0, 0, kAlways, kGroupDbg | kGroupNet, false},
      {"XTR no longer muted", kDefault, kGroupNet, false, kOkay, 0, 0, kAlways, kGroupXtr, true},
  };
  for (const auto& row : rows) {
    logger->SetMinimumLevel(logger, row.minimumLevel == kDefault ? kWarn : row.minimumLevel);
    logger->SetMutedGroups(logger, row.muted == ~0ull ? kGroupXtr : row.muted);
    row.disabled ? logger->Disable(logger) : logger->Enable(logger);
    RecordingTarget target;
    target.SetLevel(row.targetLevel);
    target.SetGroups(row.include, row.exclude);
    target.Attach();
    Log(row.level, row.groups, "m");
    EXPECT_EQ(target.lines.size(), row.delivered ? 1u : 0u) << row.what;
  }
}

TEST_F(LoggerTest, DefaultsAndCountersOfAFreshLogger) {
  EXPECT_EQ(logger->InterfaceVersion(logger), 1);
  EXPECT_EQ(logger->GetMinimumLevel(logger), kWarn);
  EXPECT_EQ(logger->GetMutedGroups(logger), kGroupXtr);
  EXPECT_EQ(WarningCount(), 0u);
  EXPECT_EQ(ErrorCount(), 0u);

  Log(kWarn, kGroupDbg, "w");
  Log(kWarn, kGroupDbg, "w");
  Log(kError, kGroupDbg, "e");
  Log(kAlways, kGroupDbg, "a");
  Log(kWarn, kGroupXtr, "muted, so not counted");
  Log(kOkay, kGroupDbg, "below the minimum");
  EXPECT_EQ(WarningCount(), 2u);
  EXPECT_EQ(ErrorCount(), 1u);

  char text[32];
  const Os::LocalTime now = logger->CurrentTime(logger);
  EXPECT_EQ(now.millisecond, 42);
  logger->FormatFileTime(logger, &now, text, sizeof text);
  EXPECT_STREQ(text, "2026-12-07T09-05-03");
}

TEST(LoggerText, TimeStampsInAndOutOfTheirWidths) {
  const struct {
    Os::LocalTime time;
    size_t size;
    const char* text;
  } rows[] = {
      {{2026, 12, 7, 9, 5, 3, 42}, 64, "2026-12-07T09:05:03.042"},
      {{999, 1, 1, 0, 0, 0, 0}, 64, "0999-01-01T00:00:00.000"},
      {{12345, 12, 31, 23, 59, 59, 999}, 64, "12345-12-31T23:59:59.999"},
      {{2026, -1, 7, 9, 5, 3, 1000}, 64, "2026--1-07T09:05:03.1000"},
      {{2026, 12, 7, 9, 5, 3, 42}, 24, "2026-12-07T09:05:03.042"},
      {{2026, 12, 7, 9, 5, 3, 42}, 23, "2026-12-07T09:05:03.04"},
      {{2026, 12, 7, 9, 5, 3, 42}, 1, ""},
  };
  for (const auto& row : rows) {
    char text[64];
    EXPECT_EQ(FormatTime(row.time, text, row.size), std::strlen(row.text));
    EXPECT_STREQ(text, row.text);
  }
  EXPECT_STREQ(LevelName(-1), "   ???");
}

TEST_F(LoggerTest, DetachingATargetAttachedTwiceRemovesBoth) {
  RecordingTarget target;
  logger->AttachTarget(logger, target.Api());
  logger->AttachTarget(logger, target.Api());
  Log(kAlways, kGroupDbg, "twice");
  EXPECT_EQ(target.lines.size(), 2u);
  EXPECT_TRUE(target.IsAttached());

  logger->DetachTarget(logger, target.Api());
  Log(kAlways, kGroupDbg, "gone");
  EXPECT_EQ(target.lines.size(), 2u);
  EXPECT_FALSE(target.IsAttached());
  EXPECT_EQ(logger->FindTarget(logger, "RecordingTarget"), nullptr);

  target.Attach();  // the mark was cleared, so attaching works again
  target.Attach();  // and the target's own attach adds itself only once
  Log(kAlways, kGroupDbg, "back");
  EXPECT_EQ(target.lines.size(), 3u);
}

TEST_F(LoggerTest, FindTargetMatchesTheExactNameFirstInListOrder) {
  RecordingTarget first("PluginLogTarget"), second("PluginLogTarget"), other("pluginlogtarget");
  other.Attach();
  first.Attach();
  second.Attach();
  EXPECT_EQ(logger->FindTarget(logger, "PluginLogTarget"), first.Api());
  EXPECT_EQ(logger->FindTarget(logger, "pluginlogtarget"), other.Api());
  EXPECT_EQ(logger->FindTarget(logger, "PluginLog"), nullptr);
  EXPECT_EQ(logger->FindTarget(logger, nullptr), nullptr);
}

TEST_F(LoggerTest, ATargetDestroyedWhileAttachedLeavesTheList) {
  auto target = std::make_unique<RecordingTarget>();
  logger->AttachTarget(logger, target->Api());
  logger->AttachTarget(logger, target->Api());
  target.reset();
  Log(kAlways, kGroupDbg, "must not reach a destroyed target");
  EXPECT_EQ(logger->FindTarget(logger, "RecordingTarget"), nullptr);
}

TEST(LoggerLifecycle, ReferenceCountCreatesAndFreesTheLogger) {
  Os::FakeEnv env;
  Os::ScopedEnv scoped(&env);
  const LoggerApi* logger = Logger();
  std::vector<std::string> detaches;
  RecordingTarget a("A", &detaches), b("B", &detaches), c("C", &detaches);

  ASSERT_TRUE(logger->Initialize(logger));
  ASSERT_TRUE(logger->Initialize(logger));
  logger->SetMinimumLevel(logger, kAlways);
  a.Attach();
  b.Attach();
  c.Attach();
  logger->Shutdown(logger);  // count 2 -> 1: the logger stays
  EXPECT_EQ(logger->GetMinimumLevel(logger), kAlways);
  EXPECT_TRUE(a.IsAttached());

  logger->Shutdown(logger);  // count 1 -> 0: detached last to first, then freed
  EXPECT_EQ(detaches, (std::vector<std::string>{"C", "B", "A"}));
  EXPECT_FALSE(a.IsAttached() || b.IsAttached() || c.IsAttached());
  a.Detach();                // no logger: nothing happens
  logger->Shutdown(logger);  // already 0: nothing happens

  ASSERT_TRUE(logger->Initialize(logger));  // a new logger with the defaults
  EXPECT_EQ(logger->GetMinimumLevel(logger), kWarn);
  EXPECT_EQ(logger->FindTarget(logger, "A"), nullptr);
  EXPECT_NE(logger->FindTarget(logger, "StdErrLogTarget"), nullptr);
  logger->Shutdown(logger);
}

TEST(LoggerLifecycle, LoggingBeforeInitializeCreatesTheLogger) {
  Os::FakeEnv env;
  env.executableKnown = false;
  Os::ScopedEnv scoped(&env);
  const LoggerApi* logger = Logger();
  ASSERT_EQ(logger->FindTarget(logger, "StdErrLogTarget"), nullptr) << "an earlier test left a logger";
  Log(kAlways, kGroupGen, "the built-in targets skip GEN");
  EXPECT_NE(logger->FindTarget(logger, "StdErrLogTarget"), nullptr);
  EXPECT_STREQ(ExecutableName(), "<unknown>");
  EXPECT_EQ(ExecutableName(), logger->ExecutableName(logger));
  // Initialize keeps the logger that exists; the matching Shutdown frees it.
  logger->Initialize(logger);
  logger->Shutdown(logger);
  EXPECT_EQ(logger->FindTarget(logger, "StdErrLogTarget"), nullptr);
}

TEST_F(LoggerTest, RegisteredGroupPrintsItsCode) {
  const uint64_t bit = logger->GroupFromCode(logger, "QZX");
  ASSERT_NE(bit, 0u);
  EXPECT_EQ(logger->GroupFromCode(logger, "QZX"), bit);
  RecordingTarget target;
  target.SetLinePattern("#G");
  target.Attach();
  Log(kAlways, kGroupDbg | bit, "m");
  ASSERT_EQ(target.lines.size(), 1u);
  EXPECT_EQ(target.lines[0], "DBG;QZX\n");
}

TEST_F(LoggerTest, ThreadsLogWhileTargetsComeAndGo) {
  constexpr int kThreads = 4, kMessages = 2000;
  RecordingTarget steady;
  steady.SetLinePattern("#D #L #G #M");
  steady.Attach();
  std::atomic<bool> stop{false};
  std::thread churn([&] {
    while (!stop.load()) {
      RecordingTarget passing("Passing");
      passing.Attach();
      logger->AttachTarget(logger, passing.Api());
      logger->SetMutedGroups(logger, kGroupXtr);
      logger->DetachTarget(logger, passing.Api());
      passing.Attach();  // destroyed while attached
    }
  });
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t)
    writers.emplace_back([t] {
      for (int i = 0; i < kMessages; ++i) Log(kAlways, kGroupDbg, "thread %d message %d", t, i);
    });
  for (auto& writer : writers) writer.join();
  stop.store(true);
  churn.join();
  EXPECT_EQ(steady.lines.size(), size_t(kThreads * kMessages));
}

TEST_F(LoggerTest, LoggingAMessageAllocatesNothing) {
#if !defined(TOV_COUNT_ALLOCATIONS)
  GTEST_SKIP() << "the sanitizers own malloc";
#else
  class NullTarget final : public LogTarget {
   public:
    bool Write(const LogRecord& record) override {
      char line[kLineBufferSize];
      return FormatLine(record, line, sizeof line) > 0;
    }
  } target;
  target.SetLinePattern("#D #E #G #H #L #M #T");
  target.Attach();
  Log(kAlways, kGroupDbg, "warm-up %s", "text");
  g_allocations.store(0);
  g_countAllocations.store(true);
  Log(kAlways, kGroupDbg | kGroupNet, "%s: message %d", "tov", 42);
  Log(kOkay, kGroupDbg, "dropped %d", 1);
  g_countAllocations.store(false);
  EXPECT_EQ(g_allocations.load(), 0);
#endif
}

}  // namespace
}  // namespace Vexa::Logging
