// Trace providers: the module registers four providers at load time so that
// an outside trace collector can watch it. The platform offers no trace
// service, so the service is an interface found at start-up; when none is
// found tracing stays off and every trace call is a no-op returning 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace Vexa::Logging {

struct TraceGuid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
  friend bool operator==(const TraceGuid&, const TraceGuid&) = default;
};

// Registered in this order.
inline constexpr TraceGuid kTraceProviderGuids[4] = {
    {0x2F9EFE86, 0x4AF7, 0x4F37, {0xA4, 0x0F, 0x94, 0xB9, 0x09, 0xA1, 0x57, 0xD6}},
    {0xEA08C559, 0x95A8, 0x4AA2, {0xAF, 0xA6, 0x18, 0x73, 0x8E, 0xEC, 0x6D, 0x37}},
    {0x10F6728C, 0xEF92, 0x4BF1, {0x83, 0x97, 0x49, 0xE6, 0x93, 0xA6, 0xEB, 0x74}},
    {0x46DD7F96, 0x60CB, 0x416B, {0x80, 0x85, 0xDA, 0x5C, 0xD8, 0xF4, 0x91, 0xDD}},
};
// The provider that carries the thread-name event.
constexpr size_t kThreadNameProvider = 1;

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" into `out` (39 bytes with the terminator).
void FormatTraceGuid(const TraceGuid& guid, char* out, size_t size);

struct TraceEventDescriptor {
  uint16_t id;
  uint8_t version;
  uint8_t channel;
  uint8_t level;
  uint8_t opcode;
  uint16_t task;
  uint64_t keywords;
};

struct TraceDatum {
  const void* data;
  uint32_t size;
};

// Called by the service whenever a collector turns a provider on or off,
// possibly already inside Register.
using TraceEnableCallback = void (*)(const TraceGuid* provider, bool enabled, uint8_t level, uint64_t matchAny,
                                     uint64_t matchAll, void* context);

// The three calls of a system trace service. Each returns 0 on success.
class TraceService {
 public:
  virtual ~TraceService() = default;
  virtual uint32_t Register(const TraceGuid& provider, TraceEnableCallback callback, void* context,
                            uint64_t* handle) = 0;
  virtual uint32_t Write(uint64_t handle, const TraceEventDescriptor& event, const TraceDatum* data,
                         uint32_t count) = 0;
  virtual uint32_t Unregister(uint64_t handle) = 0;
};

// True when an event of `eventLevel` and `eventKeywords` passes a provider
// enabled with `level`, `matchAny` and `matchAll`.
bool TraceEventPasses(uint8_t level, uint64_t matchAny, uint64_t matchAll, uint8_t eventLevel,
                      uint64_t eventKeywords);

struct TraceEventState {
  TraceEventDescriptor descriptor;
  bool enabled = false;
};

// One provider's enable state. Changed only from the service's callback.
class TraceProvider {
 public:
  TraceProvider(const TraceGuid& guid, std::span<TraceEventState> events) : guid_(guid), events_(events) {}

  // Disabling clears everything; enabling stores the settings and
  // recomputes each event's bit.
  void OnEnableChange(bool enabled, uint8_t level, uint64_t matchAny, uint64_t matchAll);

  const TraceGuid& Guid() const { return guid_; }
  bool Enabled() const { return enabled_; }
  uint8_t Level() const { return level_; }
  uint64_t MatchAny() const { return matchAny_; }
  uint64_t MatchAll() const { return matchAll_; }
  std::span<const TraceEventState> Events() const { return events_; }

  uint64_t handle = 0;

 private:
  TraceGuid guid_;
  std::span<TraceEventState> events_;
  bool enabled_ = false;
  uint8_t level_ = 0;
  uint64_t matchAny_ = 0;
  uint64_t matchAll_ = 0;
};

// The thread-name event of the second provider: thread id (64-bit) and name.
inline constexpr TraceEventDescriptor kThreadNameEvent = {1, 0, 0, 0, 0, 0, 0};

// The module's four providers over one service (or none).
class TraceModule {
 public:
  // Start-up: reads the counter frequency, registers the providers in order
  // and, when the second is already on, names the current thread "Main thread".
  explicit TraceModule(TraceService* service);
  // Unregisters the providers, last first.
  ~TraceModule();
  TraceModule(const TraceModule&) = delete;
  TraceModule& operator=(const TraceModule&) = delete;

  bool Active() const { return service_ != nullptr; }
  uint64_t Frequency() const { return frequency_; }
  const TraceProvider& Provider(size_t index) const { return providers_[index]; }

  // Each a no-op returning 0 without a service.
  uint32_t Register(TraceProvider& provider);
  uint32_t Write(const TraceProvider& provider, const TraceEventDescriptor& event, const TraceDatum* data,
                 uint32_t count);
  uint32_t Unregister(TraceProvider& provider);
  // A null name is written as "NULL".
  uint32_t WriteThreadName(uint64_t threadId, const char* name);

 private:
  TraceService* service_;
  uint64_t frequency_ = 0;
  TraceEventState threadNameEvents_[1] = {{kThreadNameEvent, false}};
  TraceProvider providers_[4];
};

// The platform's trace service; there is none here.
TraceService* FindTraceService();

// The module's providers, registered while static data is initialised.
const TraceModule& ProcessTrace();

}  // namespace Vexa::Logging
