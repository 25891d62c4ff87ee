// orvo-account-service: the local account service for tests, benchmarks and the demo (see README.md).
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "options.h"
#include "service.h"
#include "tls_material.h"

namespace {

constexpr int kUsageError = 2;
constexpr std::size_t kWorkers = 32;

int Fail(const std::string& message) {
  std::fprintf(stderr, "orvo-account-service: %s\n", message.c_str());
  return kUsageError;
}

std::unique_ptr<httplib::Server> MakeServer(const svc::Options& options, std::string& error) {
  if (!options.tls) return std::make_unique<httplib::Server>();
  const auto folder = options.state / "tls";
  if (!svc::EnsureTlsMaterial(folder, error)) return nullptr;
  const auto files = svc::TlsFilesIn(folder);
  auto server = std::make_unique<httplib::SSLServer>(files.cert.c_str(), files.key.c_str());
  if (!server->is_valid()) {
    error = "cannot load the TLS files in " + folder.string();
    return nullptr;
  }
  return server;
}

// listen_socket receives the listening socket (for Widen).
void Configure(httplib::Server& server, int& listen_socket) {
  server.new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
  // Headers and body go out in separate writes; without this, small answers wait on delayed ACKs.
  server.set_tcp_nodelay(true);
  server.set_keep_alive_max_count(1000);
  // An idle keep-alive connection holds a worker, and the library only notices a stop between requests.
  server.set_keep_alive_timeout(2);
  // The library's default SO_REUSEPORT would let a second service bind a port in use and share its traffic.
  server.set_socket_options([&listen_socket](int sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    listen_socket = sock;
  });
}

// The library listens with a backlog of 5, so a burst of clients would wait for SYN retransmits (a second);
// listening again on Linux only raises the backlog.
void Widen(int listen_socket) {
  if (listen_socket >= 0) ::listen(listen_socket, SOMAXCONN);
}

// SIGTERM and SIGINT are taken by one thread (blocked everywhere else) that stops the server.
void WaitForStop(sigset_t signals, httplib::Server& server, svc::StopSignal& stop,
                 const std::atomic<bool>& listen_done) {
  int received = 0;
  sigwait(&signals, &received);
  stop.Stop();
  // stop() does nothing before listening has begun, so wait for that (or for listening to have failed).
  while (!server.is_running() && !listen_done) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  server.stop();
}

}  // namespace

int main(int argc, char** argv) {
  svc::Options options;
  std::string error;
  if (!svc::ParseOptions(argc, argv, options, error)) {
    std::fputs(svc::kUsage, stderr);
    return Fail(error);
  }
  std::signal(SIGPIPE, SIG_IGN);  // a client that goes away is an error on the write, not the end of us
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  svc::Service service;
  service.catalog = options.catalog;
  service.scheme = options.tls ? "https" : "http";
  if (!service.recorder.Open(options.state / "requests.jsonl")) return Fail("cannot open the record file");
  auto server = MakeServer(options, error);
  if (!server) return Fail(error);
  int listen_socket = -1;
  Configure(*server, listen_socket);
  svc::RegisterRoutes(*server, service);

  const char* host = "127.0.0.1";
  service.port = options.port == 0 ? server->bind_to_any_port(host)
                                   : (server->bind_to_port(host, options.port) ? options.port : -1);
  if (service.port <= 0) return Fail("cannot bind " + std::string(host) + ":" + std::to_string(options.port));
  Widen(listen_socket);
  std::printf("%s://%s:%d\n", service.scheme.c_str(), host, service.port);
  std::fflush(stdout);

  std::atomic<bool> listen_done = false;
  std::thread stopper(WaitForStop, signals, std::ref(*server), std::ref(service.stop), std::cref(listen_done));
  const bool served = server->listen_after_bind();
  listen_done = true;
  if (!served) pthread_kill(stopper.native_handle(), SIGTERM);  // wake the stopper: no signal will come
  stopper.join();
  return served ? 0 : Fail("the server stopped with an error");
}
