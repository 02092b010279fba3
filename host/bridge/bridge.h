// The HTTP bridge: serves the plug-in's routes, its events as Server-Sent
// Events, its API description and the browser console, while a simulated
// game plays in real time.
//
// HTTP threads never call the plug-in. Each request to a plug-in route is
// queued (CallQueue) and its thread waits; the simulation's loop thread runs
// it between the game's turns, as a Visitor, and hands the answer back. The
// events the plug-in sends reach the loop thread too (OnEvent) and are fanned
// out to the subscribers' bounded queues (EventHub).
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "bridge/call_queue.h"
#include "bridge/event_hub.h"
#include "sim/visitor.h"

namespace TovBridge {

struct BridgeOptions {
  std::string address = "127.0.0.1";  // loopback unless told otherwise
  int port = 8080;                     // 0: any free port
  std::string consoleDir;              // the console's static files
  size_t maxConnections = 128;         // open connections, event streams included
  size_t maxSubscribers = 64;          // event streams
  size_t maxBodyBytes = 1 << 20;
  std::chrono::milliseconds callTimeout{10000};  // waiting for the loop thread
  std::chrono::seconds ioTimeout{5};             // each read or write of a connection
  std::chrono::seconds keepAliveComment{15};     // idle event streams
};

// "ADDRESS:PORT" ("[::1]:8080" for IPv6) into its parts; false when it is not
// that form or the port is not 0 to 65535.
bool ParseListenAddress(const std::string& text, std::string* address, int* port);

class Bridge : public TovSim::Visitor {
 public:
  explicit Bridge(BridgeOptions options);
  ~Bridge() override;
  Bridge(const Bridge&) = delete;
  Bridge& operator=(const Bridge&) = delete;

  // Binds the listening socket; "" on success, else why not.
  std::string Bind();
  // "http://127.0.0.1:PORT/" once bound.
  std::string Url() const;
  int Port() const { return port_; }
  // Serves on a thread of its own until Stop.
  void Start();
  // From any thread: refuses what is queued or comes later, ends every
  // event stream, stops the server and makes the loop leave.
  void Stop();

  // ---- Visitor: on the loop thread ---------------------------------------
  void OnEvent(const TovHost::SentEvent& event) override;
  bool RunOne(TovHost::Core& core) override;
  void Await(double seconds) override;
  bool Leaving() const override { return leaving_; }

  EventHub& Events() { return hub_; }
  // On the loop thread, after each request the plug-in answered: for the
  // game's timeline.
  std::function<void(const CallRequest&, const TovHost::Core::CallResult&)> onAnswered;

 private:
  httplib::Server::HandlerResponse Route(const httplib::Request& request, httplib::Response& response);
  void CallPlugin(const httplib::Request& request, httplib::Response& response);
  void StreamEvents(httplib::Response& response);
  void ServeApiDescription(httplib::Response& response);
  void ServeConsole(const httplib::Request& request, httplib::Response& response);

  BridgeOptions options_;
  httplib::Server server_;
  CallQueue queue_;
  EventHub hub_;
  std::thread serving_;
  int port_ = 0;
  std::atomic<bool> leaving_{false};
  std::once_flag stopOnce_;
  // The API description, written once the plug-in is loaded (on the loop
  // thread, which alone may read the plug-in's records).
  mutable std::mutex apiMutex_;
  std::string apiJson_;
};

}  // namespace TovBridge
