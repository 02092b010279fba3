// The bridge end to end: tov-core --sim draft --serve as a child process on a
// free port, driven with an HTTP client the way a browser or a script would.
#include <gtest/gtest.h>
#include <httplib.h>
#include <rapidjson/document.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <span>
#include <thread>

#include "bridge/served_process.h"
#include "formats/json.h"
#include "formats/msgpack.h"

namespace TovBridge {
namespace {

namespace fs = std::filesystem;
const std::string kPrefix = "/tov-vover-orevid-aredez/v1/";

// A console directory of our own: a file beside it that a path escaping the
// directory would reach, and a link inside that points out.
struct ConsoleFixture {
  ConsoleFixture() {
    char pattern[] = "/tmp/tov-bridge-test-XXXXXX";
    root = mkdtemp(pattern);
    fs::create_directories(root / "console/modules");
    Write(root / "console/index.html", "<!doctype html><title>console</title>");
    Write(root / "console/style.css", "body{}");
    Write(root / "console/modules/grid.js", "export const x = 1;");
    Write(root / "secret.txt", "outside");
    fs::create_symlink(root / "secret.txt", root / "console/link.txt");
  }
  ~ConsoleFixture() { fs::remove_all(root); }
  static void Write(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }
  fs::path root;
};

struct Game {
  explicit Game(std::vector<std::string> extra = {}) {
    std::vector<std::string> arguments{"--sim", "draft", "--serve", "127.0.0.1:0", "--console",
                                       (console.root / "console").string(), "--trace", trace()};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    arguments.push_back(TOV_PLUGIN_PATH);
    process = std::make_unique<ServedProcess>(TOV_CORE_PATH, arguments);
  }
  std::string trace() const { return (console.root / "trace.jsonl").string(); }
  std::string Trace() const {
    std::ifstream in(trace());
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  httplib::Client Client() const {
    httplib::Client client(process->Host(), process->Port());
    client.set_read_timeout(15, 0);
    return client;
  }
  // Waits for the plug-in to publish the local player's session.
  bool AwaitSession() const {
    httplib::Client client = Client();
    for (int i = 0; i < 300; ++i) {
      if (auto answer = client.Get(kPrefix + "session"); answer && answer->status == 200) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  ConsoleFixture console;
  std::unique_ptr<ServedProcess> process;
};

// The events a subscriber read, frame by frame, from a thread of its own.
class Subscription {
 public:
  explicit Subscription(const Game& game) : client_(game.Client()) {
    thread_ = std::thread([this] {
      client_.Get("/events", [this](const char* data, size_t size) {
        std::lock_guard lock(mutex_);
        text_.append(data, size);
        return true;
      });
    });
  }
  ~Subscription() {
    client_.stop();
    thread_.join();
  }
  // The frames so far (comments and the retry line left out).
  std::vector<std::string> Frames() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> frames;
    for (size_t at = 0, end; (end = text_.find("\n\n", at)) != std::string::npos; at = end + 2) {
      const std::string frame = text_.substr(at, end - at);
      if (frame.find("data: ") != std::string::npos) frames.push_back(frame);
    }
    return frames;
  }
  bool Await(const std::function<bool(const std::vector<std::string>&)>& done, double seconds = 10) const {
    for (auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
         std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(std::chrono::milliseconds(20)))
      if (done(Frames())) return true;
    return false;
  }
  // Whether the stream has begun (its first line came).
  bool Started() const {
    std::lock_guard lock(mutex_);
    return !text_.empty();
  }

 private:
  httplib::Client client_;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::string text_;
};

std::string Field(const std::string& frame, const std::string& name) {
  const size_t at = frame.rfind(name + ": ", 0) == 0 ? 0 : frame.find("\n" + name + ": ");
  if (at == std::string::npos) return "";
  const size_t start = frame.find(": ", at) + 2;
  return frame.substr(start, frame.find('\n', start) - start);
}

std::string FromMessagePack(const std::string& bytes) {
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  return Vexa::ToJson(Vexa::ParseMessagePack(std::span(data, bytes.size())));
}

std::string Compact(const std::string& json) { return Vexa::ToJson(Vexa::ParseJson(json)); }

class BridgeHttp : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    game = new Game();
    ASSERT_TRUE(game->process->Serving()) << game->process->Error();
    ASSERT_TRUE(game->AwaitSession()) << game->process->Output();
  }
  static void TearDownTestSuite() {
    delete game;
    game = nullptr;
  }
  static Game* game;
};
Game* BridgeHttp::game = nullptr;

TEST_F(BridgeHttp, EveryRouteAnswersWithThePluginsStatusAndText) {
  httplib::Client client = game->Client();
  // Early in the draft: the local player (cell 0) holds the first ban turn,
  // nothing is traded, there is no team boost yet.
  const struct {
    const char* method;
    std::string path;
    std::string body;
    std::string contentType;
    int status;
    std::string answer;  // JSON compared whole; "*" any JSON; empty: no body
  } cases[] = {
      {"GET", "implementation-active", "", "", 200, "true"},
      {"GET", "session", "", "", 200, "*"},
      {"GET", "session/trades", "", "", 200, "*"},
      {"GET", "session/trades/999", "", "", 404, R"({"error":"Trade Not Existent"})"},
      {"POST", "session/trades/999/request", "", "", 400, R"({"error":"Trade is no longer available"})"},
      {"POST", "session/trades/999/accept", "", "", 404, R"({"error":"ChampSelect: Trade Non-existent"})"},
      {"POST", "session/trades/999/decline", "", "", 404, R"({"error":"ChampSelect: Trade Non-existent"})"},
      {"POST", "session/trades/999/cancel", "", "", 404, R"({"error":"ChampSelect: Trade Non-existent"})"},
      {"PATCH", "session/actions/999", R"({"championId":7})", "application/json", 404,
       R"({"error":"ChampSelect: the action you are trying to PATCH cannot be found"})"},
      {"PATCH", "session/actions/1", "championId=7", "application/x-www-form-urlencoded", 500,
       R"({"error":"Unsupported body content type"})"},
      {"POST", "session/actions/1/complete", "", "", 400, R"({"error":"Cannot complete an action with no champion"})"},
      {"PATCH", "session/actions/1", R"({"championId":7})", "application/json", 204, ""},
      {"POST", "session/my-selection/reroll", "", "", 500,
       R"({"error":"Error response for POST /tov-login/v1/session/invoke: Rerolls are not available in this queue"})"},
      {"POST", "team-boost/purchase", "", "", 404,
       R"({"error":"No team boost available for this game, or summoner is not in a game."})"},
      {"PATCH", "session/my-selection", R"({"spell1Id":101,"spell2Id":102})", "application/json", 204, ""},
      {"GET", "session/timer", "", "", 200, "*"},
      {"POST", "battle-training/launch", "", "", 404, R"({"error":"Not in battle training"})"},
      {"GET", "pickable-champions", "", "", 200, "*"},
      {"GET", "bannable-champions", "", "", 200, "*"},
      {"GET", "team-boost", "", "", 404,
       R"({"error":"No team boost available for this game, or summoner is not in a game."})"},
      {"GET", "no-such-route", "", "", 404,
       R"({"error":"No plug-in function for GET /tov-vover-orevid-aredez/v1/no-such-route"})"},
      {"DELETE", "session", "", "", 404,
       R"({"error":"No plug-in function for DELETE /tov-vover-orevid-aredez/v1/session"})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.method) + " " + c.path);
    const std::string path = kPrefix + c.path;
    const std::string method = c.method;
    httplib::Result answer = method == "GET"     ? client.Get(path)
                             : method == "POST"  ? client.Post(path, c.body, c.contentType.c_str())
                             : method == "PATCH" ? client.Patch(path, c.body, c.contentType.c_str())
                                                 : client.Delete(path);
    ASSERT_TRUE(answer) << httplib::to_string(answer.error());
    EXPECT_TRUE(answer->get_header_value("Access-Control-Allow-Origin").empty());
    EXPECT_EQ(answer->status, c.status) << answer->body;
    if (c.answer.empty()) {
      EXPECT_EQ(answer->body, "");
      continue;
    }
    EXPECT_EQ(answer->get_header_value("Content-Type"), "application/json");
    rapidjson::Document body;
    body.Parse(answer->body.data(), answer->body.size());
    ASSERT_FALSE(body.HasParseError()) << answer->body;
    if (c.answer != "*") {
      EXPECT_EQ(answer->body, Compact(c.answer));
    }
  }
  // The hover went through: the platform's push comes back as the session.
  std::string session;
  for (int i = 0; i < 250 && session.find(R"("actorCellId":0,"championId":7,)") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    session = client.Get(kPrefix + "session")->body;
  }
  EXPECT_NE(session.find(R"("actorCellId":0,"championId":7,"completed":false,"id":1)"), std::string::npos) << session;
}

TEST_F(BridgeHttp, MessagePackBothWays) {
  httplib::Client client = game->Client();
  const httplib::Headers msgpack{{"Accept", "application/json;q=0.5, application/x-msgpack"}};
  for (const std::string route : {"pickable-champions", "implementation-active", "session/trades/999"}) {
    SCOPED_TRACE(route);
    auto json = client.Get(kPrefix + route);
    auto packed = client.Get(kPrefix + route, msgpack);
    ASSERT_TRUE(json && packed);
    EXPECT_EQ(packed->status, json->status);
    EXPECT_EQ(packed->get_header_value("Content-Type"), "application/x-msgpack");
    EXPECT_EQ(FromMessagePack(packed->body), Compact(json->body));
  }
  // A MessagePack body goes to the plug-in as it came, with its type.
  const std::string selection = std::string("\x82\xa8") + "spell1Id" + "\x66\xa8" + "spell2Id" + "\x67";
  auto answer = client.Patch(kPrefix + "session/my-selection", selection, "application/x-msgpack");
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 204) << answer->body;
  auto session = client.Get(kPrefix + "session");
  ASSERT_TRUE(session);
  EXPECT_NE(session->body.find(R"("spell1Id":102,"spell2Id":103)"), std::string::npos);
}

TEST_F(BridgeHttp, LateSubscriberGetsTheStateThenLiveEventsInOrder) {
  Subscription late(*game);
  const auto isCreate = [](const std::string& frame) { return Field(frame, "id").empty(); };
  ASSERT_TRUE(late.Await([&](const auto& frames) { return frames.size() >= 4; })) << game->process->Output();
  // A change the local player makes shows up live after the state.
  httplib::Client client = game->Client();
  ASSERT_EQ(client.Patch(kPrefix + "session/my-selection", R"({"spell1Id":104,"spell2Id":105})", "application/json")
                ->status,
            204);
  ASSERT_TRUE(late.Await([&](const auto& frames) {
    for (const std::string& frame : frames)
      if (!isCreate(frame) && Field(frame, "data").find(R"("spell1Id":104)") != std::string::npos) return true;
    return false;
  })) << game->process->Output();

  const std::vector<std::string> frames = late.Frames();
  std::vector<std::string> createdUris;
  size_t live = 0;
  while (live < frames.size() && isCreate(frames[live])) {
    rapidjson::Document data;
    const std::string liveData = Field(frames[live], "data");
    data.Parse(liveData.data(), liveData.size());
    ASSERT_TRUE(data.IsObject() && data.HasMember("uri")) << frames[live];
    EXPECT_STREQ(data["eventType"].GetString(), "Create");
    createdUris.emplace_back(data["uri"].GetString());
    ++live;
  }
  ASSERT_GE(createdUris.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(createdUris.begin(), createdUris.begin() + 4),
            (std::vector<std::string>{kPrefix + "session", kPrefix + "session/timer", kPrefix + "pickable-champions",
                                      kPrefix + "bannable-champions"}));
  EXPECT_EQ(Field(frames[0], "event"), "OnJsonApiEvent_tov-vover-orevid-aredez_v1_session");
  // Then only live events, numbered without a gap.
  ASSERT_LT(live, frames.size());
  long previous = std::stol(Field(frames[live], "id"));
  for (size_t i = live + 1; i < frames.size(); ++i) {
    ASSERT_FALSE(isCreate(frames[i])) << frames[i];
    const long id = std::stol(Field(frames[i], "id"));
    EXPECT_EQ(id, previous + 1);
    previous = id;
    rapidjson::Document data;
    const std::string text = Field(frames[i], "data");
    data.Parse(text.data(), text.size());
    EXPECT_FALSE(data.HasParseError()) << frames[i];
  }
}

TEST_F(BridgeHttp, RefusalsNeverReachThePlugin) {
  httplib::Client client = game->Client();
  const std::string port = std::to_string(game->process->Port());
  // A name that resolved to us is not enough (DNS rebinding), for any path.
  for (const std::string& path : {kPrefix + "session", std::string("/"), std::string("/events")}) {
    auto answer = client.Get(path, {{"Host", "attacker.example:" + port}});
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 403) << path;
    EXPECT_NE(answer->body.find("\"error\""), std::string::npos);
  }
  EXPECT_EQ(client.Get(kPrefix + "implementation-active", {{"Host", "localhost:" + port}})->status, 200);

  // One byte over 1 MiB: refused before the plug-in sees it.
  const std::string big(1024 * 1024 + 1, ' ');
  auto tooBig = client.Patch(kPrefix + "session/actions/4242", big, "application/json");
  ASSERT_TRUE(tooBig);
  EXPECT_EQ(tooBig->status, 413);
  EXPECT_EQ(tooBig->get_header_value("Content-Type"), "application/json");
  auto fits = client.Patch(kPrefix + "session/actions/4343", std::string(1024 * 1024, ' '), "application/json");
  ASSERT_TRUE(fits);
  EXPECT_NE(fits->status, 413);

  const std::string trace = game->Trace();
  EXPECT_EQ(trace.find("actions/4242"), std::string::npos);
  EXPECT_NE(trace.find("actions/4343"), std::string::npos);  // the one that fits did
}

TEST_F(BridgeHttp, ConsoleFilesAndNothingBesideThem) {
  httplib::Client client = game->Client();
  const struct {
    std::string path;
    int status;
    std::string contentType;
    std::string body;
  } cases[] = {
      {"/", 200, "text/html; charset=utf-8", "<!doctype html><title>console</title>"},
      {"/index.html", 200, "text/html; charset=utf-8", "<!doctype html><title>console</title>"},
      {"/style.css", 200, "text/css; charset=utf-8", "body{}"},
      {"/modules/grid.js", 200, "text/javascript; charset=utf-8", "export const x = 1;"},
      {"/missing.js", 404, "application/json", ""},
      {"/modules", 404, "application/json", ""},
      {"/link.txt", 404, "application/json", ""},
      {"/../secret.txt", 404, "application/json", ""},
      {"/%2e%2e/secret.txt", 404, "application/json", ""},
      {"/modules/%2e%2e/%2e%2e/secret.txt", 404, "application/json", ""},
      {"/modules/..%2f..%2fsecret.txt", 404, "application/json", ""},
      {"//etc/passwd", 404, "application/json", ""},
  };
  for (const auto& c : cases) {
    auto answer = client.Get(c.path);
    ASSERT_TRUE(answer) << c.path;
    EXPECT_EQ(answer->status, c.status) << c.path;
    EXPECT_EQ(answer->get_header_value("Content-Type"), c.contentType) << c.path;
    if (!c.body.empty()) {
      EXPECT_EQ(answer->body, c.body) << c.path;
    }
    EXPECT_EQ(answer->body.find("outside"), std::string::npos) << c.path;
  }
  auto api = client.Get("/openapi.json");
  ASSERT_TRUE(api);
  EXPECT_EQ(api->status, 200);
  EXPECT_EQ(api->get_header_value("Content-Type"), "application/json");
  rapidjson::Document description;
  description.Parse(api->body.data(), api->body.size());
  ASSERT_TRUE(description.IsObject() && description.HasMember("openapi")) << api->body;
  EXPECT_EQ(std::string(description["openapi"].GetString()).rfind("3.1", 0), 0u);
  EXPECT_EQ(client.Post("/events", "", "text/plain")->status, 404);
}

// Caps set low: the subscriber past the cap and the connection past the cap
// are told 503; SIGTERM then ends the run cleanly, an open stream and all.
TEST(BridgeCaps, PastTheCapsThenSigterm) {
  Game game({"--max-subscribers", "1", "--max-connections", "3"});
  ASSERT_TRUE(game.process->Serving()) << game.process->Error();
  Subscription first(game);
  ASSERT_TRUE(first.Await([&](const auto&) { return first.Started(); }));
  httplib::Client extraStream = game.Client();
  auto refused = extraStream.Get("/events");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 503);
  EXPECT_NE(refused->body.find("Too many event subscribers"), std::string::npos);

  // Kept-alive connections hold their threads: the stream and two clients
  // fill the three places, a fourth connection is refused.
  httplib::Client a = game.Client(), b = game.Client(), c = game.Client();
  for (httplib::Client* client : {&a, &b}) {
    client->set_keep_alive(true);
    // The refused stream's connection may take a moment to close.
    auto held = client->Get(kPrefix + "implementation-active");
    for (int i = 0; i < 50 && held && held->status == 503; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      held = client->Get(kPrefix + "implementation-active");
    }
    ASSERT_TRUE(held);
    ASSERT_EQ(held->status, 200);
  }
  auto past = c.Get(kPrefix + "implementation-active");
  ASSERT_TRUE(past);
  EXPECT_EQ(past->status, 503);
  EXPECT_NE(past->body.find("Too many connections"), std::string::npos);

  EXPECT_EQ(game.process->Stop(SIGTERM), 0) << game.process->Output();
  EXPECT_NE(game.process->Output().find("stopped"), std::string::npos);
}

}  // namespace
}  // namespace TovBridge
