#include "replay/replay.h"

#include <cstdio>
#include <cstdlib>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace TovReplay {
namespace {

// A trace's times have three decimals: work due up to half a millisecond
// after a line's "t" may still be what wrote it.
constexpr double kRounding = 0.0005;
// Pumps in a row that change nothing before a wait counts as stuck (the
// simulator gives up after as many).
constexpr int kIdlePumps = 10000;
// Turns of the plug-in's own work without a line of the trace taken: it keeps
// scheduling work for the same instant.
constexpr int kTurnsWithoutALine = 100000;

// A value as JSON text again, NaN and the infinities as they were read.
std::string Json(const rapidjson::Value& value) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer, rapidjson::UTF8<>, rapidjson::UTF8<>, rapidjson::CrtAllocator,
                    rapidjson::kWriteNanAndInfFlag>
      writer(buffer);
  value.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

std::string Text(const rapidjson::Value& value) { return std::string(value.GetString(), value.GetStringLength()); }

TovHost::Reply ReplyOf(const rapidjson::Value& line) {
  const int32_t status = line["status"].GetInt();
  if (line.HasMember("error")) return TovHost::Reply::Failure(status, Text(line["error"]));
  TovHost::Reply reply;
  if (line.HasMember("chunks")) {
    std::vector<std::string> chunks;
    for (const rapidjson::Value& chunk : line["chunks"].GetArray()) chunks.push_back(Text(chunk));
    reply = TovHost::Reply::Stream(std::move(chunks), line["sizeHint"].GetUint());
    reply.streamFailsAtEnd = line["failsAtEnd"].GetBool();
  } else if (line.HasMember("bodyText")) {
    reply.bodyJson = Text(line["bodyText"]);
  } else if (!line["body"].IsNull()) {
    reply.bodyJson = Json(line["body"]);
  }
  reply.status = status;
  return reply;
}

}  // namespace

Replay::Replay(std::vector<TraceLine> lines)
    : lines_(std::move(lines)), core_(TovHost::ClockMode::Virtual), clock_(core_), trace_([this] { return core_.Now(); }) {
  onDifference = [](const Difference& difference) {
    std::printf("tov-core: the plug-in differs from the trace at line %zu\n  expected: %s\n  got:      %s\n",
                difference.line, difference.expected.c_str(), difference.got.c_str());
    std::fflush(nullptr);
    std::_Exit(1);
  };
  onEndWhileWaiting = [] {
    std::fflush(nullptr);
    std::_Exit(0);
  };
}

Replay::~Replay() {
  core_.onLog = nullptr;
  core_.onRequest = nullptr;
  core_.onSend = nullptr;
  core_.onServe = nullptr;
  core_.onPump = nullptr;
  if (initialised_) record_.callbacks->Shutdown(record_.plugin);
  clock_.Deactivate();
}

bool Replay::Load(const std::string& pluginPath) {
  library_ = std::make_unique<TovHost::PluginLibrary>(pluginPath);
  if (!library_->Loaded()) {
    failure_ = library_->Error();
    return false;
  }
  // The simulator's handshake, so that the plug-in starts as it did.
  record_ = library_->Handshake(18, 0, 0);
  if (!record_.callbacks || !record_.plugin || !record_.apiDescription) {
    failure_ = "the plug-in returned no callbacks";
    return false;
  }
  core_.UseApi(record_.apiDescription);
  context_ = core_.Context();
  initialised_ = true;
  if (!record_.callbacks->Init(record_.plugin, &context_)) {
    failure_ = "the plug-in's Init failed";
    return false;
  }
  return true;
}

bool Replay::Run(const std::string& pluginPath) {
  trace_.OnLine([this](const std::string& line) { Produced(line); });
  core_.onLog = [this](const TovHost::LogLine& line) { trace_.Log(line); };
  core_.onRequest = [this](const TovHost::RequestRecord& request) { trace_.Request(request); };
  core_.onSend = [this](const TovHost::SentEvent& event) { trace_.Event(event); };
  core_.onServe = [this](const TovHost::RequestRecord&) { return Serve(); };
  core_.onPump = [this](int) { OnPump(); };
  // Before the library is loaded, so that even its start-up reads the
  // recorded time, with the simulator's wall clock.
  clock_.Activate();
  if (!Load(pluginPath)) return false;
  Drive();
  return true;
}

void Replay::Drive() {
  int turns = 0;
  for (size_t taken = next_; Next().kind != Kind::End;) {
    const TraceLine& line = Next();
    if (next_ != taken) {
      taken = next_;
      turns = 0;
    } else if (++turns > kTurnsWithoutALine) {
      Differ("(nothing: the plug-in keeps scheduling work for the same instant)");
    }
    if (IsOutput(line.kind)) {
      if (!RunOwnWork(line.time)) Differ("(nothing: no work of the plug-in is due by then)");
      continue;
    }
    if (line.kind == Kind::Reply) Differ("(nothing: the plug-in made no request that this line could answer)");
    // The plug-in's own work due by then runs first, each at its time; a
    // line it writes meanwhile is a difference, as the input comes first.
    if (line.time > core_.Now()) core_.AdvanceTo(line.time);
    Deliver(line);
  }
}

bool Replay::RunOwnWork(double until) {
  if (core_.PendingEvents() > 0 || core_.NextDue() <= core_.Now()) {
    core_.RunOnce();
    return true;
  }
  if (core_.NextDue() > until + kRounding) return false;
  core_.AdvanceTo(core_.NextDue());
  return true;
}

void Replay::OnPump() {
  const TraceLine& line = Next();
  const bool dueNow = core_.PendingEvents() > 0 || core_.NextDue() <= core_.Now();
  if (IsOutput(line.kind)) {
    // The plug-in's next line is its own doing: this pump's turn, or the
    // next of its timers, brings it on.
    if (dueNow) return;
    if (core_.NextDue() <= line.time + kRounding) {
      core_.MoveClockTo(core_.NextDue());
      return;
    }
    Idle("(nothing: the plug-in waits, and no work of its own is due by then)");
    return;
  }
  if (line.kind == Kind::End) {
    Idle("");
    return;
  }
  if (line.kind == Kind::Reply || line.kind == Kind::Shutdown) {
    Idle("(nothing: the plug-in waits where the trace has none of its waits)");
    return;
  }
  if (line.time > core_.Now()) {
    // Its timers due earlier run in this pump's turn first.
    if (core_.NextDue() < line.time) {
      core_.MoveClockTo(core_.NextDue());
      return;
    }
    core_.MoveClockTo(line.time);
  }
  // The core delivers in a pump's turn after the callbacks due, and work the
  // deliveries schedule waits for a later turn: so does the replay's.
  const CoreApi* api = core_.Api();
  api->ScheduleCallback(api, "replay: deliver", &Replay::DeliverNow, this, 0, 0);
}

void Replay::DeliverNow(void* self) {
  Replay& replay = *static_cast<Replay*>(self);
  while (!IsOutput(replay.Next().kind) && replay.Next().kind != Kind::End && replay.Next().kind != Kind::Reply &&
         replay.Next().kind != Kind::Shutdown && replay.Next().time <= replay.core_.Now())
    replay.Deliver(replay.Next());
}

TovHost::Reply Replay::Serve() {
  // Whatever reached the plug-in inside its request, then the answer.
  for (;;) {
    const TraceLine& line = Next();
    if (line.kind == Kind::Reply) {
      ++next_;
      idlePumps_ = 0;
      return ReplyOf(line.fields);
    }
    if (IsOutput(line.kind) || line.kind == Kind::End || line.kind == Kind::Shutdown)
      Differ("(nothing: the plug-in waits for the answer to its request, which the trace does not give here)");
    Deliver(line);
  }
}

void Replay::Deliver(const TraceLine& line) {
  ++next_;
  idlePumps_ = 0;
  const rapidjson::Value& fields = line.fields;
  switch (line.kind) {
    case Kind::Push:
      core_.DeliverEvent(Text(fields["name"]), Json(fields["payload"]));
      break;
    case Kind::Call: {
      std::vector<std::pair<std::string, std::string>> headers;
      if (fields.HasMember("headers"))
        for (const rapidjson::Value& header : fields["headers"].GetArray())
          headers.emplace_back(Text(header[0]), Text(header[1]));
      const std::string method = Text(fields["method"]), path = Text(fields["path"]);
      const TovHost::Core::CallResult result = core_.Call(TovHost::MethodCode(method), path, Text(fields["body"]),
                                                          Text(fields["contentType"]), headers);
      trace_.Answer(method, path, result);
      break;
    }
    case Kind::Clock:
      // "at" has set the time already, as the time of this line.
      if (fields.HasMember("jump")) core_.MoveClockTo(core_.Now() + fields["jump"].GetDouble());
      if (fields.HasMember("wallShift")) clock_.ShiftWallClock(fields["wallShift"].GetDouble());
      break;
    case Kind::Shutdown:
      initialised_ = false;
      record_.callbacks->Shutdown(record_.plugin);
      break;
    default:
      break;
  }
}

void Replay::Produced(const std::string& line) {
  if (IsOutput(Next().kind) && Next().text == line) {
    ++next_;
    ++compared_;
    idlePumps_ = 0;
    return;
  }
  Differ(line);
}

void Replay::Idle(const char* why) {
  if (++idlePumps_ < kIdlePumps) return;
  if (Next().kind == Kind::End) onEndWhileWaiting();
  Differ(why);
}

void Replay::Differ(const std::string& got) {
  const TraceLine& line = Next();
  Difference difference{line.number, line.kind == Kind::End ? "(nothing more: the trace ends here)" : line.text, got};
  onDifference(difference);
  std::abort();  // onDifference must not return
}

}  // namespace TovReplay
