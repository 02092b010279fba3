// The bridge's parts without a server: the MessagePack writer against our
// own reader, the request rules, the event hub and the hand-off queue.
#include <gtest/gtest.h>

#include <atomic>
#include <span>
#include <thread>

#include "bridge/bridge.h"
#include "bridge/call_queue.h"
#include "bridge/event_hub.h"
#include "bridge/msgpack_writer.h"
#include "bridge/request_rules.h"
#include "formats/json.h"
#include "formats/msgpack.h"

namespace TovBridge {
namespace {

std::string Hex(const std::string& bytes) {
  static const char* const kDigits = "0123456789abcdef";
  std::string hex;
  for (const unsigned char c : bytes) hex += {kDigits[c >> 4], kDigits[c & 15]};
  return hex;
}

// Our reader is the oracle: whatever the writer packs must read back as the
// same JSON.
std::string RoundTrip(const std::string& packed) {
  const auto* data = reinterpret_cast<const std::uint8_t*>(packed.data());
  size_t consumed = 0;
  const Vexa::BindingProperty value = Vexa::ParseMessagePack(std::span(data, packed.size()), &consumed);
  EXPECT_TRUE(value.IsValid()) << value.FailureMessage();
  EXPECT_EQ(consumed, packed.size());
  return Vexa::ToJson(value);
}

TEST(JsonToMessagePack, ShortestFormAtEveryBoundaryAndReadsBack) {
  const struct {
    std::string json, hex;
  } cases[] = {
      {"0", "00"},
      {"127", "7f"},
      {"128", "cc80"},
      {"255", "ccff"},
      {"256", "cd0100"},
      {"65536", "ce00010000"},
      {"4294967296", "cf0000000100000000"},
      {"18446744073709551615", "cfffffffffffffffff"},
      {"-1", "ff"},
      {"-32", "e0"},
      {"-33", "d0df"},
      {"-129", "d1ff7f"},
      {"-32769", "d2ffff7fff"},
      {"-9223372036854775808", "d38000000000000000"},
      {"1.5", "cb3ff8000000000000"},
      {"true", "c3"},
      {"null", "c0"},
      {R"("")", "a0"},
      {R"("é")", "a2c3a9"},
      {"[]", "90"},
      {"[[],{}]", "929080"},
      {R"({"a":[1,{"b":null}]})", "81a1619201" "81a162c0"},
  };
  for (const auto& c : cases) {
    std::string packed;
    ASSERT_TRUE(JsonToMessagePack(c.json, &packed)) << c.json;
    EXPECT_EQ(Hex(packed), c.hex) << c.json;
    EXPECT_EQ(RoundTrip(packed), Vexa::ToJson(Vexa::ParseJson(c.json))) << c.json;
  }
}

TEST(JsonToMessagePack, SizesPastEachHeaderWidth) {
  // Strings of 31/32, 255/256 and 65535/65536 bytes; arrays and maps of
  // 15/16 and 65535/65536 items: the header switches at each.
  const struct {
    size_t count;
    const char* stringHeader;
    const char* arrayHeader;
  } cases[] = {{31, "bf", "dc001f"},    {32, "d920", "dc0020"},        {255, "d9ff", "dc00ff"},
               {256, "da0100", "dc0100"}, {65535, "daffff", "dcffff"}, {65536, "db00010000", "dd00010000"}};
  for (const auto& c : cases) {
    std::string packed;
    std::string text(c.count + 2, 'x');
    text.front() = text.back() = '"';
    ASSERT_TRUE(JsonToMessagePack(text, &packed));
    EXPECT_EQ(Hex(packed.substr(0, packed.size() - c.count)), c.stringHeader) << c.count;
    std::string array = "[";
    for (size_t i = 0; i < c.count; ++i) array += i ? ",0" : "0";
    array += "]";
    ASSERT_TRUE(JsonToMessagePack(array, &packed));
    EXPECT_EQ(Hex(packed.substr(0, packed.size() - c.count)), c.arrayHeader) << c.count;
    EXPECT_EQ(RoundTrip(packed), array);
  }
  std::string packed;
  ASSERT_TRUE(JsonToMessagePack(R"({"a":1,"b":2,"c":3,"d":4,"e":5,"f":6,"g":7,"h":8,"i":9,"j":10,"k":11,"l":12,"m":13,"n":14,"o":15,"p":16})", &packed));
  EXPECT_EQ(Hex(packed.substr(0, 3)), "de0010");
}

TEST(JsonToMessagePack, RefusesWhatIsNotOneValueAndSurvivesDepth) {
  for (const std::string bad : {"", "{", "[1,]", "1 2", "{\"a\"}", "nul", "[1]x"}) {
    std::string packed = "untouched";
    EXPECT_FALSE(JsonToMessagePack(bad, &packed)) << bad;
    EXPECT_EQ(packed, "untouched");
  }
  constexpr size_t kDepth = 1000000;
  const std::string deep = std::string(kDepth, '[') + std::string(kDepth, ']');
  std::string packed;
  ASSERT_TRUE(JsonToMessagePack(deep, &packed));
  EXPECT_EQ(packed, std::string(kDepth - 1, '\x91') + '\x90');
  EXPECT_FALSE(JsonToMessagePack(std::string(kDepth, '['), &packed));
}

TEST(RequestRules, HostHeaderMustNameUs) {
  const struct {
    const char* host;
    const char* bound;
    const char* local;
    bool allowed;
  } cases[] = {
      {"127.0.0.1:8080", "127.0.0.1", "127.0.0.1", true},
      {"localhost:8080", "127.0.0.1", "127.0.0.1", true},
      {"LocalHost:8080", "127.0.0.1", "127.0.0.1", true},
      {"localhost", "127.0.0.1", "127.0.0.1", false},        // no port
      {"localhost:80", "127.0.0.1", "127.0.0.1", false},     // another port
      {"localhost:18080", "127.0.0.1", "127.0.0.1", false},  // the port as a suffix of another
      {"evil.example:8080", "127.0.0.1", "127.0.0.1", false},
      {"localhost.evil.example:8080", "127.0.0.1", "127.0.0.1", false},
      {"127.0.0.1.nip.io:8080", "127.0.0.1", "127.0.0.1", false},
      {"", "127.0.0.1", "127.0.0.1", false},
      {":8080", "127.0.0.1", "127.0.0.1", false},
      {"[::1]:8080", "::1", "::1", true},
      {"::1:8080", "::1", "::1", false},
      {"192.168.1.5:8080", "0.0.0.0", "192.168.1.5", true},  // all interfaces: the address reached
      {"0.0.0.0:8080", "0.0.0.0", "192.168.1.5", true},
      {"printer.lan:8080", "0.0.0.0", "192.168.1.5", false},
  };
  for (const auto& c : cases) EXPECT_EQ(HostAllowed(c.host, c.bound, c.local, 8080), c.allowed) << c.host;
}

TEST(RequestRules, AcceptAndConsolePaths) {
  const struct {
    const char* accept;
    bool messagePack;
  } accepts[] = {{"application/x-msgpack", true},
                 {"application/json", false},
                 {"", false},
                 {"text/html, application/X-MsgPack;q=0.9", true},
                 {"application/x-msgpack;q=0", false},
                 {"application/x-msgpack; q=0.0, application/json", false},
                 {"application/x-msgpackx", false},
                 {"*/*", false}};
  for (const auto& c : accepts) EXPECT_EQ(WantsMessagePack(c.accept), c.messagePack) << c.accept;

  const struct {
    const char* path;
    const char* file;
  } paths[] = {{"/", "index.html"},
               {"/app.js", "app.js"},
               {"/modules/grid.js", "modules/grid.js"},
               {"/../etc/passwd", ""},
               {"/modules/../../x", ""},
               {"/./app.js", ""},
               {"//etc/passwd", ""},
               {"/modules//grid.js", ""},
               {"/modules/", ""},
               {"/.git/config", ""},
               {"/a\\..\\b", ""},
               {"/c:/windows", ""},
               {"", ""},
               {"app.js", ""}};
  for (const auto& c : paths) EXPECT_EQ(ConsoleFile(c.path), c.file) << c.path;
  EXPECT_EQ(ConsoleFile(std::string("/app\0.js", 8)), "");
  EXPECT_EQ(ContentTypeOf("index.html"), "text/html; charset=utf-8");
  EXPECT_EQ(ContentTypeOf("modules/a.JS"), "text/javascript; charset=utf-8");
  EXPECT_EQ(ContentTypeOf("style.css"), "text/css; charset=utf-8");
  EXPECT_EQ(ContentTypeOf("Makefile"), "application/octet-stream");

  const struct {
    const char* text;
    bool ok;
    const char* address;
    int port;
  } listens[] = {{"127.0.0.1:8080", true, "127.0.0.1", 8080}, {"0.0.0.0:0", true, "0.0.0.0", 0},
                 {"[::1]:9000", true, "::1", 9000},           {"::1:9000", false, "", 0},
                 {"localhost:65536", false, "", 0},           {"127.0.0.1:", false, "", 0},
                 {":8080", false, "", 0},                     {"build/plugin.so", false, "", 0},
                 {"127.0.0.1:80a", false, "", 0}};
  for (const auto& c : listens) {
    std::string address;
    int port = -1;
    EXPECT_EQ(ParseListenAddress(c.text, &address, &port), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(address, c.address) << c.text;
      EXPECT_EQ(port, c.port) << c.text;
    }
  }
}

std::string Drain(EventHub::Subscriber& subscriber) {
  std::string out;
  while (subscriber.Take(std::chrono::milliseconds(0), &out) == EventHub::Subscriber::Next::Frames) {
  }
  return out;
}

std::string Resource(const std::string& path, const std::string& type, const std::string& data) {
  return R"({"uri":"/tov-vover-orevid-aredez/v1/)" + path + R"(","eventType":)" + type + R"(,"data":)" + data + "}";
}

TEST(EventHub, LateSubscriberSeesTheStateAsCreatesThenLiveEventsInOrder) {
  EventHub hub;
  auto early = hub.Subscribe();
  const std::string session = "OnJsonApiEvent_tov-vover-orevid-aredez_v1_session";
  hub.Publish("OnJsonApiEvent_tov-vover-orevid-aredez_v1_team-boost", Resource("team-boost", "0", R"({"price":95})"));
  hub.Publish("OnJsonApiEvent_tov-vover-orevid-aredez_v1_pickable-champions",
              Resource("pickable-champions", "\"Create\"", R"({"championIds":[1,2]})"));
  hub.Publish(session, Resource("session", "\"Create\"", R"({"phase":"BAN","timer":{"phase":"BAN_PICK"}})"));
  hub.Publish("OnJsonApiEvent", Resource("session", "1", R"({"phase":"PICK","timer":{"phase":"FINALIZATION"}})"));
  hub.Publish("OnJsonApiEvent_tov-vover-orevid-aredez_v1_bannable-champions",
              Resource("bannable-champions", "\"Create\"", "[3]"));
  hub.Publish("OnJsonApiEvent_tov-vover-orevid-aredez_v1_bannable-champions",
              Resource("bannable-champions", "2", "null"));

  auto late = hub.Subscribe();
  hub.Publish("Other", R"({"x":1})");
  const std::string p = "/tov-vover-orevid-aredez/v1/";
  // The session under its own event name (not the generic one), its latest
  // value, the timer from it, then the rest in a fixed order; the deleted
  // bannable list is gone.
  EXPECT_EQ(Drain(*late),
            "event: " + session + "\ndata: {\"uri\":\"" + p +
                "session\",\"eventType\":\"Create\",\"data\":{\"phase\":\"PICK\",\"timer\":{\"phase\":\"FINALIZATION\"}}}\n\n"
                "event: " + session + "_timer\ndata: {\"uri\":\"" + p +
                "session/timer\",\"eventType\":\"Create\",\"data\":{\"phase\":\"FINALIZATION\"}}\n\n"
                "event: OnJsonApiEvent_tov-vover-orevid-aredez_v1_pickable-champions\ndata: {\"uri\":\"" + p +
                "pickable-champions\",\"eventType\":\"Create\",\"data\":{\"championIds\":[1,2]}}\n\n"
                "event: OnJsonApiEvent_tov-vover-orevid-aredez_v1_team-boost\ndata: {\"uri\":\"" + p +
                "team-boost\",\"eventType\":\"Create\",\"data\":{\"price\":95}}\n\n"
                "id: 7\nevent: Other\ndata: {\"x\":1}\n\n");
  // The early one saw every event live, numbered, event types by name.
  const std::string all = Drain(*early);
  EXPECT_NE(all.find("id: 1\nevent: OnJsonApiEvent_tov-vover-orevid-aredez_v1_team-boost\ndata: {\"uri\":\"" + p +
                     "team-boost\",\"eventType\":\"Create\""),
            std::string::npos);
  EXPECT_NE(all.find("id: 6\nevent: OnJsonApiEvent_tov-vover-orevid-aredez_v1_bannable-champions\ndata: {\"uri\":\"" +
                     p + "bannable-champions\",\"eventType\":\"Delete\",\"data\":null}\n\n"),
            std::string::npos);
  EXPECT_EQ(hub.Published(), 7u);
}

TEST(EventHub, SlowSubscriberIsDroppedAtItsBoundWhileOthersGoOn) {
  EventHub hub(EventHub::Limits{2, 3, 1 << 20});
  auto slow = hub.Subscribe();
  auto reader = hub.Subscribe();
  EXPECT_EQ(hub.Subscribe(), nullptr);  // past the cap
  for (int i = 1; i <= 4; ++i) {
    hub.Publish("E", std::to_string(i));
    EXPECT_EQ(Drain(*reader), "id: " + std::to_string(i) + "\nevent: E\ndata: " + std::to_string(i) + "\n\n");
  }
  EXPECT_TRUE(slow->Dropped());
  std::string out;
  EXPECT_EQ(slow->Take(std::chrono::milliseconds(0), &out), EventHub::Subscriber::Next::Closed);
  EXPECT_EQ(out, "");
  EXPECT_EQ(hub.Subscribers(), 1u);
  EXPECT_NE(hub.Subscribe(), nullptr);  // its place is free again
  // A payload that is not JSON still goes out on one line.
  hub.Publish("E", "two\nlines");
  EXPECT_EQ(Drain(*reader), "id: 5\nevent: E\ndata: \"two\\nlines\"\n\n");
  hub.Close();
  EXPECT_EQ(reader->Take(std::chrono::milliseconds(1000), &out), EventHub::Subscriber::Next::Closed);
  EXPECT_EQ(hub.Subscribe(), nullptr);
}

std::string Quoted(const std::string& text) {
  std::string quoted(1, '"');
  quoted += text;
  quoted += '"';
  return quoted;
}

TEST(CallQueue, RunsInOrderOnTheLoopAndNeverRunsWhatWasRefused) {
  CallQueue queue(2);
  std::vector<std::string> ran;
  const auto run = [&](const CallRequest& request) {
    ran.push_back(request.url);
    TovHost::Core::CallResult result;
    result.routed = true;
    result.bodyJson = Quoted(request.url);
    return result;
  };

  // Timed out before the loop looked: refused, and the loop never runs it.
  TovHost::Core::CallResult result;
  EXPECT_EQ(queue.Submit(CallRequest{1, "late", {}, {}, {}}, std::chrono::milliseconds(1), &result),
            CallQueue::Refusal::TimedOut);
  EXPECT_FALSE(queue.RunOne(run));
  EXPECT_TRUE(ran.empty());

  // Answered in the order they came, each to its own waiter.
  std::vector<std::thread> clients;
  std::atomic<int> answered = 0;
  for (const char* url : {"a", "b"}) {
    clients.emplace_back([&, url] {
      TovHost::Core::CallResult mine;
      if (queue.Submit(CallRequest{1, url, {}, {}, {}}, std::chrono::seconds(30), &mine) == CallQueue::Refusal::None &&
          mine.bodyJson == Quoted(url))
        ++answered;
    });
    while (queue.Queued() < clients.size()) queue.Await(0.01);
  }
  // A third waits in a full queue: refused at once.
  EXPECT_EQ(queue.Submit(CallRequest{1, "c", {}, {}, {}}, std::chrono::seconds(30), &result), CallQueue::Refusal::Full);
  while (queue.RunOne(run)) {
  }
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(answered, 2);
  EXPECT_EQ(ran, (std::vector<std::string>{"a", "b"}));

  // Closing refuses a waiting request without running it and wakes the loop.
  std::thread waiting([&] {
    TovHost::Core::CallResult mine;
    EXPECT_EQ(queue.Submit(CallRequest{1, "d", {}, {}, {}}, std::chrono::seconds(30), &mine),
              CallQueue::Refusal::Closed);
  });
  while (queue.Queued() == 0) queue.Await(0.01);
  queue.Close();
  waiting.join();
  queue.Await(std::numeric_limits<double>::infinity());  // returns: closed
  EXPECT_FALSE(queue.RunOne(run));
  EXPECT_EQ(ran.size(), 2u);
}

}  // namespace
}  // namespace TovBridge
