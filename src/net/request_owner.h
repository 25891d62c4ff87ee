// The main window's handling of its requests: how it builds a record, follows the headers, drains the body
// into the job's file with the progress timer, and tells itself the outcome with the job's messages.
#pragma once

#include <string>

#include "net/http_request_manager.h"

namespace orvo::net {

// What the request handling needs of the main window besides its message loop and window.
class RequestOwnerView {
 public:
  virtual ~RequestOwnerView() = default;
  virtual void SetProgress(int percent) = 0;
  // The host progress channel's download percent, for the current plan item (the view knows whether it has
  // an id).
  virtual void ReportDownloadPercent(int percent) = 0;
};

inline constexpr std::uintptr_t kProgressTimer = 3;

class RequestOwner : public FCHttpRequestManager {
 public:
  RequestOwner(platform::MessageLoop& loop, platform::WindowHandle owner_window, RequestOwnerView& view);

  // A fresh record for the URL with the caller's job, the proxy of FindRequestProxy, and the job's resume
  // offset as the range start.
  FCHttpRequestInfo BuildRequestInfo(const std::string& url, const FCHttpJob& job) const;

  // The request timer 3 follows (the current download).
  void SetCurrentDownload(int request_id) { current_download_ = request_id; }
  int CurrentDownload() const { return current_download_; }
  // Timer 3 of the owner window: progress and draining.
  void OnProgressTimer();
  // Whether the last response headers carried 201 (the report result page reads it).
  bool LastStatusWas201() const { return last_status_201_; }

 protected:
  void OnResponseHeaders(FCHttpRequest& request) override;
  void OnRequestFinished(FCHttpRequest& request) override;
  void OnFallbackProgress(int value) override;
  void OnReceiveBufferHigh(FCHttpRequest& request) override;

 private:
  void AppendToFile(FCHttpRequest& request);
  void Post(std::uint32_t message, std::uintptr_t wparam) const;

  platform::WindowHandle owner_window_;
  RequestOwnerView& view_;
  int current_download_ = 0;
  bool last_status_201_ = false;
  std::string chunk_;         // reused between takes
  std::string accumulation_;  // the window's accumulation buffer
};

}  // namespace orvo::net
