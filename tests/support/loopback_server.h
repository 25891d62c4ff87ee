// An in-process HTTP server on 127.0.0.1 for tests that need handlers of their own (stalls, odd answers).
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

namespace orvo::test {

class LoopbackServer {
 public:
  LoopbackServer() {
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~LoopbackServer() {
    release_.store(true);
    server_.stop();
    thread_.join();
  }
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  httplib::Server& Server() { return server_; }
  std::uint16_t Port() const { return static_cast<std::uint16_t>(port_); }
  // Handlers that stall poll this, so that the server can stop.
  bool Released() const { return release_.load(); }
  void StallUntilReleased() const {
    while (!Released()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  std::atomic<bool> release_{false};
};

}  // namespace orvo::test
