#include "logging/trace.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "os/fake_env.h"

namespace Vexa::Logging {
namespace {

std::string Text(const TraceGuid& guid) {
  char text[40];
  FormatTraceGuid(guid, text, sizeof text);
  return text;
}

template <typename... Args>
std::string Line(const char* format, Args... args) {
  char text[128];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

// Records every call as a line; providers listed in `enabledAtRegistration`
// are turned on from inside Register, as a listening collector would.
class FakeTraceService : public TraceService {
 public:
  std::vector<std::string> calls;
  std::vector<std::string> enabledAtRegistration;
  std::vector<std::pair<TraceEnableCallback, void*>> callbacks;

  uint32_t Register(const TraceGuid& provider, TraceEnableCallback callback, void* context,
                    uint64_t* handle) override {
    *handle = 100 + callbacks.size();
    callbacks.emplace_back(callback, context);
    calls.push_back(Line("register %s -> %d", Text(provider).c_str(), int(*handle)));
    for (const std::string& guid : enabledAtRegistration)
      if (guid == Text(provider)) callback(&provider, true, 5, ~0ull, 0, context);
    return 0;
  }
  uint32_t Write(uint64_t handle, const TraceEventDescriptor& event, const TraceDatum* data,
                 uint32_t count) override {
    // The thread-name event: a 64-bit id, then a terminated name.
    uint64_t id = 0;
    if (count != 2 || data[0].size != sizeof id) return 1;
    std::memcpy(&id, data[0].data, sizeof id);
    const char* name = static_cast<const char*>(data[1].data);
    if (data[1].size != std::strlen(name) + 1) return 1;
    calls.push_back(Line("write %d event %d %d '%s'", int(handle), int(event.id), int(id), name));
    return 0;
  }
  uint32_t Unregister(uint64_t handle) override {
    calls.push_back(Line("unregister %d", int(handle)));
    return 0;
  }
};

constexpr const char* kGuidTexts[4] = {
    "{2F9EFE86-4AF7-4F37-A40F-94B909A157D6}",
    "{EA08C559-95A8-4AA2-AFA6-18738EEC6D37}",
    "{10F6728C-EF92-4BF1-8397-49E693A6EB74}",
    "{46DD7F96-60CB-416B-8085-DA5CD8F491DD}",
};

TEST(Trace, StartUpRegistersInOrderAndNamesTheMainThreadWhenTheSecondIsOn) {
  Os::FakeEnv env;
  env.threadId = 77;
  Os::ScopedEnv scoped(&env);
  const struct {
    const char* enabled;  // provider on at registration, or null
    bool namesThread;
  } rows[] = {{nullptr, false}, {kGuidTexts[0], false}, {kGuidTexts[1], true}, {kGuidTexts[3], false}};
  for (const auto& row : rows) {
    FakeTraceService service;
    if (row.enabled) service.enabledAtRegistration.push_back(row.enabled);
    {
      TraceModule module(&service);
      EXPECT_TRUE(module.Active());
      // The shared callback reached the provider it was registered for.
      for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(module.Provider(i).Enabled(), row.enabled != nullptr && kGuidTexts[i] == std::string(row.enabled));
    }
    std::vector<std::string> expected;
    for (int i = 0; i < 4; ++i) expected.push_back(Line("register %s -> %d", kGuidTexts[i], 100 + i));
    if (row.namesThread) expected.push_back("write 101 event 1 77 'Main thread'");
    for (int i = 3; i >= 0; --i) expected.push_back(Line("unregister %d", 100 + i));
    EXPECT_EQ(service.calls, expected) << (row.enabled ? row.enabled : "none on");
  }
}

TEST(Trace, NullThreadNameIsWrittenAsNULL) {
  FakeTraceService service;
  TraceModule module(&service);
  service.calls.clear();
  module.WriteThreadName(5, nullptr);
  EXPECT_EQ(service.calls, std::vector<std::string>{"write 101 event 1 5 'NULL'"});
}

TEST(Trace, WithoutAServiceEveryCallIsANoOpReturningZero) {
  EXPECT_EQ(FindTraceService(), nullptr);
  EXPECT_FALSE(ProcessTrace().Active());
  TraceModule module(nullptr);
  EXPECT_EQ(module.WriteThreadName(1, "x"), 0u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_FALSE(module.Provider(i).Enabled());
    EXPECT_EQ(Text(module.Provider(i).Guid()), kGuidTexts[i]);
  }
}

TEST(Trace, EnableRecomputesEachEventAndDisableClearsEverything) {
  const struct {
    uint8_t level;
    uint64_t any, all;
    uint8_t eventLevel;
    uint64_t eventKeywords;
    bool enabled;
  } rows[] = {
      {0, 0, 0, 5, 0, true},          // provider level 0 takes every level
      {4, 0, 0, 4, 0, true},          // at the event's level
      {3, 0, 0, 4, 0, false},         // below it
      {4, 0x1, 0, 4, 0x3, true},      // shares a bit with match-any
      {4, 0x4, 0, 4, 0x3, false},     // shares none
      {4, 0x1, 0x3, 4, 0x3, true},    // contains every match-all bit
      {4, 0x1, 0x5, 4, 0x3, false},   // misses one
      {4, 0, 0, 4, 0x3, false},       // keywords need some match-any bit
      {4, 0, 0xFF, 4, 0, true},       // an event without keywords ignores the masks
  };
  for (const auto& row : rows) {
    TraceEventState events[2] = {{{1, 0, 0, row.eventLevel, 0, 0, row.eventKeywords}, false},
                                 {{2, 0, 0, 0, 0, 0, 0}, false}};
    TraceProvider provider(kTraceProviderGuids[0], events);
    provider.OnEnableChange(true, row.level, row.any, row.all);
    EXPECT_TRUE(provider.Enabled());
    EXPECT_EQ(events[0].enabled, row.enabled) << int(row.level) << " " << row.any << " " << row.all;
    EXPECT_TRUE(events[1].enabled);
    provider.OnEnableChange(false, row.level, row.any, row.all);
    EXPECT_FALSE(provider.Enabled() || events[0].enabled || events[1].enabled);
    EXPECT_EQ(provider.Level() + provider.MatchAny() + provider.MatchAll(), 0u);
  }
}

}  // namespace
}  // namespace Vexa::Logging
