#include "core/core.h"

#include <dlfcn.h>

#include <chrono>
#include <cstdio>
#include <cstring>

namespace TovHost {
namespace {

double RealSeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

const char* MethodName(uint32_t method) {
  static const char* const names[] = {"", "DELETE", "GET", "HEAD", "OPTIONS", "PATCH", "POST", "PUT", "CUSTOM"};
  return method < 9 ? names[method] : "";
}

}  // namespace

const char* LevelName(int32_t level) {
  static const char* const names[] = {"  OKAY", "  WARN", " ERROR", "ALWAYS"};
  return level >= 0 && level < 4 ? names[level] : "     ?";
}

Core::Core(ClockMode mode, uintptr_t handle)
    : state_{CoreApi{&Core::Request, &Core::Reserved1, &Core::SendEvent, &Core::RegisterEventHandler,
                     &Core::UnregisterEventHandler, &Core::ScheduleCallback, &Core::Pump, &Core::BeginWait,
                     &Core::EndWait, &Core::Log},
             this},
      handle_(handle),
      mode_(mode),
      realStart_(RealSeconds()) {}

Core& Core::From(const CoreApi* api) {
  // The table is the first member of the state, so its address is the state's.
  return *reinterpret_cast<const State*>(api)->self;
}

double Core::Now() const { return mode_ == ClockMode::Virtual ? virtualNow_ : RealSeconds() - realStart_; }

void Core::AdvanceTime(double seconds) {
  const double until = Now() + seconds;
  while (!scheduled_.empty() && scheduled_.begin()->first.first <= until) {
    if (mode_ == ClockMode::Virtual && scheduled_.begin()->first.first > virtualNow_)
      virtualNow_ = scheduled_.begin()->first.first;
    RunOnce();
  }
  if (mode_ == ClockMode::Virtual && until > virtualNow_) virtualNow_ = until;
}

void Core::RunOnce() {
  // Only what is due now runs; callbacks scheduled meanwhile wait for a later turn.
  const double now = Now();
  const uint64_t lastSequence = scheduleSequence_;
  while (!scheduled_.empty()) {
    auto it = scheduled_.begin();
    if (it->first.first > now || it->first.second >= lastSequence) break;
    Scheduled task = it->second;
    scheduled_.erase(it);
    task.callback(task.context);
  }
}

void Core::Request(const CoreApi* api, RemotingResponse* response, const RemotingRequest* request) {
  Core& core = From(api);
  core.lastError_ = std::string("No resource at ") + MethodName(request->method) + " " +
                    (request->url ? request->url : "");
  response->error = core.lastError_.c_str();
  response->status = 404;
}

void Core::Reserved1(const CoreApi*, uintptr_t, uintptr_t) {}

void Core::SendEvent(const CoreApi* api, const HostEvent* event) {
  if (event && event->name) From(api).sentEvents_.push_back(event->name);
}

void Core::RegisterEventHandler(const CoreApi* api, const char* eventName, uintptr_t coreHandle,
                                HostEventCallback callback, void* context, uint32_t flags) {
  From(api).handlers_.push_back(EventHandlerRecord{eventName ? eventName : "", coreHandle, callback, context, flags});
}

void Core::UnregisterEventHandler(const CoreApi* api, const char* eventName, uintptr_t coreHandle) {
  Core& core = From(api);
  const std::string name = eventName ? eventName : "";
  core.unregistered_.push_back(name);
  std::erase_if(core.handlers_, [&](const EventHandlerRecord& h) {
    return h.eventName == name && h.coreHandle == coreHandle;
  });
}

void Core::ScheduleCallback(const CoreApi* api, const char* label, ScheduledCallback callback, void* context,
                            double delaySeconds, uint32_t) {
  Core& core = From(api);
  if (!callback) return;
  if (!(delaySeconds > 0)) delaySeconds = 0;  // NaN and negatives run on the next turn
  core.scheduled_.emplace(std::make_pair(core.Now() + delaySeconds, core.scheduleSequence_++),
                          Scheduled{label ? label : "", callback, context});
}

void Core::Pump(const CoreApi* api) { From(api).RunOnce(); }

void Core::BeginWait(const CoreApi* api, const char*, uint32_t) { ++From(api).waitDepth_; }

void Core::EndWait(const CoreApi* api) {
  Core& core = From(api);
  if (core.waitDepth_ == 0) {
    std::fprintf(stderr, "tov-core: EndWait without BeginWait\n");
    return;
  }
  --core.waitDepth_;
}

void Core::Log(const CoreApi* api, int32_t level, const char* message) {
  Core& core = From(api);
  core.logs_.push_back(LogLine{level, message ? message : ""});
  if (core.onLog) core.onLog(core.logs_.back());
}

PluginLibrary::PluginLibrary(const std::string& path) {
  // A plug-in carries its own C++ runtime, whose static buffers live as long
  // as its mapping: keep the code mapped for the rest of the process.
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!handle_) {
    const char* why = dlerror();
    error_ = why ? why : "cannot load " + path;
    return;
  }
  entry_ = reinterpret_cast<TovPluginEntry>(dlsym(handle_, TOV_PLUGIN_ENTRY_NAME));
  if (!entry_) error_ = path + " does not export " TOV_PLUGIN_ENTRY_NAME;
}

PluginLibrary::~PluginLibrary() {
  if (handle_) dlclose(handle_);
}

PluginHandshake PluginLibrary::Handshake(uint32_t major, uint32_t minor, uint32_t patch) const {
  PluginHandshake record{};
  record.major = major;
  record.minor = minor;
  record.patch = patch;
  if (entry_) entry_(&record);
  return record;
}

bool ParseVersion(const std::string& text, uint32_t* major, uint32_t* minor, uint32_t* patch) {
  unsigned a = 0, b = 0, c = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%u.%u.%u%c", &a, &b, &c, &tail) != 3) return false;
  *major = a;
  *minor = b;
  *patch = c;
  return true;
}

}  // namespace TovHost
