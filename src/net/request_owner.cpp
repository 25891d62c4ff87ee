#include "net/request_owner.h"

#include <cstdlib>

#include "app/log.h"
#include "net/proxy_discovery.h"
#include "platform/file_system.h"
#include "system/error_list.h"

namespace orvo::net {
namespace {

bool Accepted(int status) { return status == 200 || status == 201 || status == 206; }

}  // namespace

RequestOwner::RequestOwner(platform::MessageLoop& loop, platform::WindowHandle owner_window, RequestOwnerView& view)
    : FCHttpRequestManager(loop), owner_window_(owner_window), view_(view) {}

FCHttpRequestInfo RequestOwner::BuildRequestInfo(const std::string& url, const FCHttpJob& job) const {
  FCHttpRequestInfo info;
  info.job = job;
  std::string proxy;
  if (FindRequestProxy(&proxy) == 1) {
    const auto colon = proxy.find(':');
    info.proxy_host = proxy.substr(0, colon);
    info.proxy_port = colon == std::string::npos ? 80 : std::atoi(proxy.c_str() + colon + 1);
  }
  info.url = url;
  info.range_start = job.resume_offset;
  return info;
}

void RequestOwner::Post(std::uint32_t message, std::uintptr_t wparam) const {
  Loop().Post(owner_window_, message, wparam, 0);
}

void RequestOwner::OnResponseHeaders(FCHttpRequest& request) {
  const FCHttpResponseInfo& response = request.GetResponseInfo();
  const int status = response.status_code;
  log::Info("File content length: %lld, Http response Code %d:\r\n", static_cast<long long>(response.content_length),
            status);
  last_status_201_ = status == 201;
  if (Accepted(status)) {
    Loop().SetTimer(owner_window_, kProgressTimer, response.content_length >= 10000000 ? 500 : 100);
    return;
  }
  log::Info("Ticket send status:%d.", status);
  sys::AddSharedError("HttpCode-" + std::to_string(status));
  log::Info("HTTP Response Code: %d.\r\n", status);
  Loop().KillTimer(owner_window_, kProgressTimer);
  const FCHttpRequestInfo info = request.GetRequestInfo();  // the request goes with the cancel
  CancelRequest(request.GetRequestId());
  log::Info("Header url: %s\r\n", info.url.c_str());
  info.job.file.Close();
  if (status == 416) {
    const bool deleted = platform::fs::DeleteFile(info.job.target_path) == 0;
    log::Info("Delete the temp file: %s, ret : %d\r\n", info.job.target_path.c_str(), deleted ? 1 : 0);
  }
  if (info.job.notify && info.job.failure_message != 0) Post(info.job.failure_message, static_cast<std::uintptr_t>(status));
}

void RequestOwner::OnProgressTimer() {
  FCHttpRequest* request = FindRequest(current_download_);
  if (request == nullptr) {
    Loop().KillTimer(owner_window_, kProgressTimer);
    return;
  }
  const FCHttpJob& job = request->GetRequestInfo().job;
  const std::int64_t length = request->GetResponseInfo().content_length;
  if (length != 0 && (job.type == kJobComponent || job.type == kJobUpdatePackage)) {
    const double done = static_cast<double>(job.resume_offset + request->GetReceivedBytes());
    const int percent = static_cast<int>(done * 100.0 / static_cast<double>(length + job.resume_offset)) % 100;
    view_.SetProgress(job.type == kJobUpdatePackage ? percent : percent / 2);
    view_.ReportDownloadPercent(percent);
  }
  if ((job.type == kJobComponent && job.file.Valid()) || job.type == kJobConfiguration) AppendToFile(*request);
}

void RequestOwner::AppendToFile(FCHttpRequest& request) {
  request.TakeReceivedData(chunk_);
  const SharedFile& file = request.GetRequestInfo().job.file;
  if (!chunk_.empty() && file.Valid() && !file.Write(chunk_)) {
    log::Error("Writing %zu bytes to %s failed", chunk_.size(), request.GetRequestInfo().job.target_path.c_str());
  }
}

void RequestOwner::OnReceiveBufferHigh(FCHttpRequest& request) {
  const FCHttpJob& job = request.GetRequestInfo().job;
  if ((job.type == kJobComponent && job.file.Valid()) || job.type == kJobConfiguration) {
    AppendToFile(request);
  } else if (job.type == kJobUpdatePackage) {
    request.TakeReceivedData(chunk_);
    accumulation_ += chunk_;
  } else {
    FCHttpRequestManager::OnReceiveBufferHigh(request);
  }
}

void RequestOwner::OnRequestFinished(FCHttpRequest& request) {
  const FCHttpRequestInfo& info = request.GetRequestInfo();
  const FCHttpJob& job = info.job;
  const int status = request.GetResponseInfo().status_code;
  if (job.type == kJobFallback) {
    if (status == 200) {
      if (job.success_message != 0) Post(job.success_message, 0);
    } else if (job.failure_message != 0) {
      Post(job.failure_message, static_cast<std::uintptr_t>(status));
    }
    return;
  }
  log::Info("File %s, Http response Code %d:\r\n", info.url.c_str(), status);
  request.TakeReceivedData(chunk_);
  accumulation_ += chunk_;
  if ((job.file.Valid() && job.type == kJobComponent) || job.type == kJobConfiguration ||
      job.type == kJobUpdatePackage) {
    if (!accumulation_.empty() && job.file.Valid() && !job.file.Write(accumulation_)) {
      log::Error("Writing %zu bytes to %s failed", accumulation_.size(), job.target_path.c_str());
    }
    job.file.Close();
  }
  // What no job keeps is not carried into the next request.
  accumulation_.clear();
  job.file.Close();
  if (!job.notify) return;
  if (request.GetReceivedBytes() == request.GetResponseInfo().content_length) {
    if (job.success_message != 0) Post(job.success_message, 0);
  } else if (job.failure_message != 0) {
    Post(job.failure_message, static_cast<std::uintptr_t>(status));
  }
}

void RequestOwner::OnFallbackProgress(int value) { view_.SetProgress(value); }

}  // namespace orvo::net
