// One running request of the download client: its copy of the record, its response, its receive buffer,
// its platform handles and its two threads (connect, then transfer). Owned by the manager; everything but
// the threads runs on the owner's thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "net/http_types.h"
#include "net/receive_buffer.h"
#include "platform/http.h"
#include "platform/message_loop.h"

namespace orvo::net {

namespace inner {
// How worker threads reach the hidden window. Shared with the threads, so that one that outlives the
// manager posts into nothing instead of into a destroyed loop.
class StageNotifier {
 public:
  StageNotifier(platform::MessageLoop& loop, platform::WindowHandle window) : loop_(&loop), window_(window) {}
  void Post(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam);
  void Detach();
  platform::WindowHandle Window() const { return window_; }

 private:
  std::mutex mutex_;
  platform::MessageLoop* loop_;
  platform::WindowHandle window_;
};
}  // namespace inner

class FCHttpRequest {
 public:
  FCHttpRequest(int id, std::shared_ptr<inner::StageNotifier> notifier, const FCHttpRequestInfo& info);
  ~FCHttpRequest();
  FCHttpRequest(const FCHttpRequest&) = delete;
  FCHttpRequest& operator=(const FCHttpRequest&) = delete;

  int GetRequestId() const { return id_; }
  const FCHttpRequestInfo& GetRequestInfo() const { return info_; }
  const FCHttpResponseInfo& GetResponseInfo() const { return response_; }
  std::int64_t GetReceivedBytes() const { return received_.load(); }
  std::uint64_t GetStartTick() const { return start_tick_; }
  // Moves what arrived since the last take into out (replacing its content).
  void TakeReceivedData(std::string& out);

  // The engine's steps on the owner's thread: stage 0 opens the request and starts the transfer thread;
  // stage 1 reads the response record from the request handle.
  void OnConnected();
  void ReadResponseInfo();
  // Makes a pending blocking call fail. True when a thread was still running.
  bool AbortBlockingCall();
  bool ThreadsEnded() const;
  // Lets threads that outlived the shutdown wait run on alone; the caller then never deletes the request.
  void Abandon();

 private:
  void ConnectThread();
  void TransferThread();
  void RunFallback();
  std::uint32_t SendRequest();

  int id_;
  FCHttpRequestInfo info_;
  std::uint64_t start_tick_ = 0;
  int scheme_ = 0;
  std::string host_;
  std::string path_;
  FCHttpResponseInfo response_;
  std::atomic<std::int64_t> received_{0};
  inner::CReceiveBuffer buffer_;
  std::shared_ptr<inner::StageNotifier> notifier_;
  std::shared_ptr<platform::http::Root> root_;
  std::shared_ptr<platform::http::Connection> connection_;  // set by the connect thread
  std::unique_ptr<platform::http::Request> request_;        // opened at stage 0
  std::atomic<bool> connect_running_{false};
  std::atomic<bool> transfer_running_{false};
  std::thread connect_thread_;
  std::thread transfer_thread_;
};

}  // namespace orvo::net
