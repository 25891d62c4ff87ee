// The download client: the owner's base class. It starts requests, keeps the running and the retired ones,
// and turns what the worker threads report into callbacks on the owner's thread, through a hidden window on
// the owner's message loop.
#pragma once

#include <deque>
#include <memory>

#include "net/http_request.h"
#include "net/http_types.h"
#include "platform/message_loop.h"

namespace orvo::net {

class FCHttpRequestManager {
 public:
  explicit FCHttpRequestManager(platform::MessageLoop& loop);
  virtual ~FCHttpRequestManager();
  FCHttpRequestManager(const FCHttpRequestManager&) = delete;
  FCHttpRequestManager& operator=(const FCHttpRequestManager&) = delete;

  // Starts a request (owner's thread); returns its id. Ids start at 100 and are never reused.
  int StartRequest(const FCHttpRequestInfo& info);
  // Aborts a running request's blocking call and retires it; no further callback comes for it.
  void CancelRequest(int request_id);
  FCHttpRequest* FindRequest(int request_id) const;

  platform::WindowHandle EventWindow() const { return window_; }
  platform::MessageLoop& Loop() const { return loop_; }

 protected:
  virtual void OnResponseHeaders(FCHttpRequest& request);
  virtual void OnRequestFinished(FCHttpRequest& request);
  virtual void OnRequestTimedOut(FCHttpRequest& request);
  virtual void OnFallbackProgress(int value);
  // The receive buffer passed its high-water mark: an owner that keeps the body takes it now. The base
  // version drops it, so a request whose body nobody reads cannot stall its transfer.
  virtual void OnReceiveBufferHigh(FCHttpRequest& request);

 private:
  std::intptr_t HandleMessage(const platform::Message& message);
  void OnStage(int request_id, std::intptr_t stage);
  void OnTimer(std::uintptr_t timer_id);
  void PurgeRetired();
  void Shutdown();

  static constexpr std::uint32_t kShutdownWaitMs = 3000;

  platform::MessageLoop& loop_;
  platform::WindowHandle window_ = platform::kNoWindow;
  std::shared_ptr<inner::StageNotifier> notifier_;
  std::deque<std::unique_ptr<FCHttpRequest>> running_;
  std::deque<std::unique_ptr<FCHttpRequest>> retired_;
  int next_id_ = 100;
};

}  // namespace orvo::net
