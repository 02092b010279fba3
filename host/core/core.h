// The stand-in for the client's core process: serves a CoreApi table to a
// plug-in, keeps the handlers it registers, and runs a loop over a clock
// that tests advance explicitly (virtual) or that follows real time.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tov/plugin_abi.h"

namespace TovHost {

struct LogLine {
  int32_t level;
  std::string message;
};

struct EventHandlerRecord {
  std::string eventName;
  uintptr_t coreHandle;
  HostEventCallback callback;
  void* context;
  uint32_t flags;
};

enum class ClockMode { Virtual, Real };

// "  OKAY", "  WARN", " ERROR", "ALWAYS"; anything else "     ?".
const char* LevelName(int32_t level);

class Core {
 public:
  explicit Core(ClockMode mode = ClockMode::Virtual, uintptr_t handle = 0xC0DE);
  Core(const Core&) = delete;
  Core& operator=(const Core&) = delete;

  const CoreApi* Api() const { return &state_.api; }
  uintptr_t Handle() const { return handle_; }
  CoreContext Context() const { return CoreContext{Api(), handle_}; }

  // Seconds on the core's clock.
  double Now() const;
  // Virtual clock: moves time forward, running every callback that falls due.
  void AdvanceTime(double seconds);
  // One turn of the loop: due callbacks, in due order.
  void RunOnce();

  const std::vector<LogLine>& Logs() const { return logs_; }
  const std::vector<EventHandlerRecord>& Handlers() const { return handlers_; }
  const std::vector<std::string>& Unregistered() const { return unregistered_; }
  const std::vector<std::string>& SentEvents() const { return sentEvents_; }
  size_t PendingCallbacks() const { return scheduled_.size(); }
  int WaitDepth() const { return waitDepth_; }
  // Called for every line the plug-in logs, as it arrives.
  std::function<void(const LogLine&)> onLog;

 private:
  struct State {
    CoreApi api;
    Core* self;
  };
  struct Scheduled {
    std::string label;
    ScheduledCallback callback;
    void* context;
  };
  static Core& From(const CoreApi* api);

  static void Request(const CoreApi* api, RemotingResponse* response, const RemotingRequest* request);
  static void Reserved1(const CoreApi* api, uintptr_t a, uintptr_t b);
  static void SendEvent(const CoreApi* api, const HostEvent* event);
  static void RegisterEventHandler(const CoreApi* api, const char* eventName, uintptr_t coreHandle,
                                   HostEventCallback callback, void* context, uint32_t flags);
  static void UnregisterEventHandler(const CoreApi* api, const char* eventName, uintptr_t coreHandle);
  static void ScheduleCallback(const CoreApi* api, const char* label, ScheduledCallback callback,
                               void* context, double delaySeconds, uint32_t reserved);
  static void Pump(const CoreApi* api);
  static void BeginWait(const CoreApi* api, const char* label, uint32_t reserved);
  static void EndWait(const CoreApi* api);
  static void Log(const CoreApi* api, int32_t level, const char* message);

  State state_;
  uintptr_t handle_;
  ClockMode mode_;
  double virtualNow_ = 0;
  double realStart_;
  std::multimap<std::pair<double, uint64_t>, Scheduled> scheduled_;
  uint64_t scheduleSequence_ = 0;
  std::vector<LogLine> logs_;
  std::vector<EventHandlerRecord> handlers_;
  std::vector<std::string> unregistered_;
  std::vector<std::string> sentEvents_;
  std::string lastError_;
  int waitDepth_ = 0;
};

// A plug-in library loaded into this process and the objects made from it.
class PluginLibrary {
 public:
  // Loads the library and finds the export; Error() says why not.
  explicit PluginLibrary(const std::string& path);
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  bool Loaded() const { return entry_ != nullptr; }
  const std::string& Error() const { return error_; }
  // Calls the export with the core's version; the record holds the answer.
  PluginHandshake Handshake(uint32_t major, uint32_t minor, uint32_t patch) const;

 private:
  void* handle_ = nullptr;
  TovPluginEntry entry_ = nullptr;
  std::string error_;
};

// "18.0.0" into three numbers; false when malformed.
bool ParseVersion(const std::string& text, uint32_t* major, uint32_t* minor, uint32_t* patch);

}  // namespace TovHost
