// tov-bridge-load: load on a served game, loopback only and bounded.
//
//   tov-bridge-load [--clients N] [--seconds S] [--subscribers M] CORE PLUGIN
//
// Starts CORE --sim draft --serve 127.0.0.1:0 with PLUGIN, lets M event
// subscribers listen, then has N clients send GET session and PATCH hovers
// (alternately, each waiting for its answer) for S seconds. Reports requests
// per second, the latency percentiles, whether every subscriber received
// every event in the same order, and the serving process's memory before
// and after.
#include <httplib.h>
#include <rapidjson/document.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bridge/served_process.h"

namespace {

using Clock = std::chrono::steady_clock;
const std::string kPrefix = "/tov-vover-orevid-aredez/v1/";

struct Options {
  int clients = 100;
  double seconds = 10;
  int subscribers = 50;
  std::string core, plugin;
};

int Usage(const char* why) {
  std::fprintf(stderr,
               "tov-bridge-load: %s\nusage: tov-bridge-load [--clients 1-1000] [--seconds 1-120] "
               "[--subscribers 0-500] CORE PLUGIN\n",
               why);
  return 2;
}

// One subscriber's live events: (id, hash of event name and data) in the
// order received.
class Listener {
 public:
  Listener(const std::string& host, int port) : client_(host, port) {
    client_.set_read_timeout(60, 0);
    thread_ = std::thread([this] {
      client_.Get("/events", [this](const char* data, size_t size) {
        std::lock_guard lock(mutex_);
        pending_.append(data, size);
        for (size_t end; (end = pending_.find("\n\n")) != std::string::npos;) {
          Frame(pending_.substr(0, end));
          pending_.erase(0, end + 2);
        }
        started_ = true;
        return true;
      });
    });
  }
  ~Listener() {
    client_.stop();
    thread_.join();
  }
  bool Started() {
    std::lock_guard lock(mutex_);
    return started_;
  }
  std::vector<std::pair<uint64_t, size_t>> Events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  void Stop() { client_.stop(); }

 private:
  void Frame(const std::string& frame) {
    if (frame.rfind("id: ", 0) != 0) return;  // the state before the live events, comments, retry
    const uint64_t id = std::strtoull(frame.c_str() + 4, nullptr, 10);
    events_.emplace_back(id, std::hash<std::string>{}(frame.substr(frame.find('\n') + 1)));
  }

  httplib::Client client_;
  std::thread thread_;
  std::mutex mutex_;
  std::string pending_;
  bool started_ = false;
  std::vector<std::pair<uint64_t, size_t>> events_;
};

// The local player's first action, to hover champions on.
int64_t LocalAction(httplib::Client& client) {
  for (int attempt = 0; attempt < 200; ++attempt) {
    if (auto answer = client.Get(kPrefix + "session"); answer && answer->status == 200) {
      rapidjson::Document session;
      session.Parse(answer->body.data(), answer->body.size());
      if (session.IsObject() && session.HasMember("actions") && session["actions"].IsArray()) {
        const int64_t cell = session["localPlayerCellId"].GetInt64();
        for (const auto& group : session["actions"].GetArray())
          for (const auto& action : group.GetArray())
            if (action["actorCellId"].GetInt64() == cell) return action["id"].GetInt64();
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return -1;
}

double Percentile(std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0;
  const size_t index = std::min(sorted.size() - 1, static_cast<size_t>(p * static_cast<double>(sorted.size())));
  return sorted[index];
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--clients" && hasValue) {
      options.clients = std::atoi(argv[++i]);
    } else if (arg == "--seconds" && hasValue) {
      options.seconds = std::atof(argv[++i]);
    } else if (arg == "--subscribers" && hasValue) {
      options.subscribers = std::atoi(argv[++i]);
    } else if (arg[0] != '-' && options.core.empty()) {
      options.core = arg;
    } else if (arg[0] != '-' && options.plugin.empty()) {
      options.plugin = arg;
    } else {
      return Usage(("unexpected argument " + arg).c_str());
    }
  }
  // Bounded, so that a typo cannot turn the tool on the machine itself.
  if (options.clients < 1 || options.clients > 1000) return Usage("--clients must be 1 to 1000");
  if (!(options.seconds >= 1 && options.seconds <= 120)) return Usage("--seconds must be 1 to 120");
  if (options.subscribers < 0 || options.subscribers > 500) return Usage("--subscribers must be 0 to 500");
  if (options.plugin.empty()) return Usage("CORE and PLUGIN are needed");

  const std::string connections = std::to_string(options.clients + options.subscribers + 16);
  const std::string subscribers = std::to_string(std::max(options.subscribers, 1));
  TovBridge::ServedProcess served(options.core, {"--sim", "draft", "--serve", "127.0.0.1:0", "--trace", "/dev/null",
                                                 "--max-connections", connections, "--max-subscribers", subscribers,
                                                 options.plugin});
  if (!served.Serving()) {
    std::fprintf(stderr, "tov-bridge-load: %s\n", served.Error().c_str());
    return 1;
  }
  httplib::Client probe(served.Host(), served.Port());
  const int64_t action = LocalAction(probe);
  if (action < 0) {
    std::fprintf(stderr, "tov-bridge-load: no session with a local action\n");
    return 1;
  }
  const long rssBefore = served.GameRssKib();

  std::vector<std::unique_ptr<Listener>> listeners;
  for (int i = 0; i < options.subscribers; ++i)
    listeners.push_back(std::make_unique<Listener>(served.Host(), served.Port()));
  for (auto& listener : listeners)
    while (!listener->Started()) std::this_thread::sleep_for(std::chrono::milliseconds(5));

  std::atomic<bool> running{true};
  std::vector<std::vector<double>> latencies(static_cast<size_t>(options.clients));
  std::vector<std::map<int, int>> statuses(static_cast<size_t>(options.clients));
  std::vector<std::thread> clients;
  const auto start = Clock::now();
  for (int c = 0; c < options.clients; ++c) {
    clients.emplace_back([&, c] {
      httplib::Client client(served.Host(), served.Port());
      client.set_keep_alive(true);
      client.set_read_timeout(30, 0);
      const std::string hover = kPrefix + "session/actions/" + std::to_string(action);
      for (int n = 0; running; ++n) {
        const auto sent = Clock::now();
        httplib::Result answer =
            n % 2 == 0 ? client.Get(kPrefix + "session")
                       : client.Patch(hover, R"({"championId":)" + std::to_string(1 + (c + n) % 32) + "}",
                                      "application/json");
        latencies[c].push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
        ++statuses[c][answer ? answer->status : -1];
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::duration<double>(options.seconds));
  running = false;
  for (std::thread& client : clients) client.join();
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  // The last events are on their way; then every subscriber has them all.
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  const long rssAfter = served.GameRssKib();

  std::vector<double> all;
  std::map<int, int> statusCounts;
  for (size_t c = 0; c < latencies.size(); ++c) {
    all.insert(all.end(), latencies[c].begin(), latencies[c].end());
    for (const auto& [status, count] : statuses[c]) statusCounts[status] += count;
  }
  std::sort(all.begin(), all.end());

  // Every subscriber listened before the load began, so each must hold the
  // same numbered events from the first any of them saw after its start.
  std::vector<std::vector<std::pair<uint64_t, size_t>>> received;
  for (auto& listener : listeners) received.push_back(listener->Events());
  bool inOrder = true;
  uint64_t common = 0, last = 0;
  for (const auto& events : received)
    if (!events.empty()) common = std::max(common, events.front().first), last = std::max(last, events.back().first);
  std::map<uint64_t, size_t> reference;
  for (const auto& events : received) {
    for (size_t i = 1; i < events.size(); ++i) inOrder &= events[i].first == events[i - 1].first + 1;
    if (events.empty() || events.back().first != last) inOrder = false;
    for (const auto& [id, hash] : events) {
      if (id < common) continue;
      const auto [it, fresh] = reference.emplace(id, hash);
      if (!fresh && it->second != hash) inOrder = false;
    }
  }
  const int exit = served.Stop(SIGTERM);
  listeners.clear();

  std::printf("clients %d, subscribers %d, %.1f s\n", options.clients, options.subscribers, elapsed);
  std::printf("requests %zu, %.0f per second\n", all.size(), static_cast<double>(all.size()) / elapsed);
  std::printf("latency ms: p50 %.2f, p99 %.2f, max %.2f\n", Percentile(all, 0.50), Percentile(all, 0.99),
              all.empty() ? 0.0 : all.back());
  std::printf("statuses:");
  for (const auto& [status, count] : statusCounts) std::printf(" %d x %d", status, count);
  std::printf("\nevents: %llu live events to each subscriber (ids %llu to %llu); every subscriber got every one in "
              "order: %s\n",
              static_cast<unsigned long long>(last >= common && last ? last - common + 1 : 0),
              static_cast<unsigned long long>(common), static_cast<unsigned long long>(last), inOrder ? "yes" : "NO");
  std::printf("server memory (VmRSS): before %ld KiB, after %ld KiB\n", rssBefore, rssAfter);
  std::printf("server exit status after SIGTERM: %d\n", exit);
  return inOrder && exit == 0 ? 0 : 1;
}
