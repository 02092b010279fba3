#include "logging/trace.h"

#include <cstdio>
#include <cstring>

#include "os/env.h"

namespace Vexa::Logging {
namespace {

// One callback for every provider; the context says which one.
void OnTraceEnable(const TraceGuid*, bool enabled, uint8_t level, uint64_t matchAny, uint64_t matchAll,
                   void* context) {
  static_cast<TraceProvider*>(context)->OnEnableChange(enabled, level, matchAny, matchAll);
}

}  // namespace

void FormatTraceGuid(const TraceGuid& guid, char* out, size_t size) {
  const uint8_t* d = guid.data4;
  std::snprintf(out, size, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", unsigned(guid.data1),
                unsigned(guid.data2), unsigned(guid.data3), d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7]);
}

bool TraceEventPasses(uint8_t level, uint64_t matchAny, uint64_t matchAll, uint8_t eventLevel,
                      uint64_t eventKeywords) {
  const bool levelPasses = level == 0 || level >= eventLevel;
  const bool keywordsPass =
      eventKeywords == 0 || ((eventKeywords & matchAny) != 0 && (eventKeywords & matchAll) == matchAll);
  return levelPasses && keywordsPass;
}

void TraceProvider::OnEnableChange(bool enabled, uint8_t level, uint64_t matchAny, uint64_t matchAll) {
  enabled_ = enabled;
  level_ = enabled ? level : 0;
  matchAny_ = enabled ? matchAny : 0;
  matchAll_ = enabled ? matchAll : 0;
  for (TraceEventState& event : events_)
    event.enabled =
        enabled && TraceEventPasses(level, matchAny, matchAll, event.descriptor.level, event.descriptor.keywords);
}

TraceModule::TraceModule(TraceService* service)
    : service_(service),
      providers_{{kTraceProviderGuids[0], {}},
                 {kTraceProviderGuids[1], threadNameEvents_},
                 {kTraceProviderGuids[2], {}},
                 {kTraceProviderGuids[3], {}}} {
  frequency_ = Os::Env::Current().PerformanceFrequency();
  if (service_ == nullptr) return;
  for (TraceProvider& provider : providers_) Register(provider);
  if (providers_[kThreadNameProvider].Enabled())
    WriteThreadName(Os::Env::Current().CurrentThreadId(), "Main thread");
}

TraceModule::~TraceModule() {
  for (size_t i = std::size(providers_); i-- > 0;) Unregister(providers_[i]);
}

uint32_t TraceModule::Register(TraceProvider& provider) {
  if (service_ == nullptr) return 0;
  return service_->Register(provider.Guid(), OnTraceEnable, &provider, &provider.handle);
}

uint32_t TraceModule::Write(const TraceProvider& provider, const TraceEventDescriptor& event, const TraceDatum* data,
                            uint32_t count) {
  if (service_ == nullptr) return 0;
  return service_->Write(provider.handle, event, data, count);
}

uint32_t TraceModule::Unregister(TraceProvider& provider) {
  if (service_ == nullptr || provider.handle == 0) return 0;
  const uint32_t status = service_->Unregister(provider.handle);
  provider.handle = 0;
  return status;
}

uint32_t TraceModule::WriteThreadName(uint64_t threadId, const char* name) {
  if (name == nullptr) name = "NULL";
  const TraceDatum data[2] = {{&threadId, uint32_t(sizeof threadId)}, {name, uint32_t(std::strlen(name) + 1)}};
  return Write(providers_[kThreadNameProvider], kThreadNameEvent, data, 2);
}

TraceService* FindTraceService() { return nullptr; }

namespace {
const TraceModule g_processTrace(FindTraceService());
}  // namespace

const TraceModule& ProcessTrace() { return g_processTrace; }

}  // namespace Vexa::Logging
