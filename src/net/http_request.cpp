#include "net/http_request.h"

#include <chrono>
#include <cstdlib>
#include <vector>

#include "app/log.h"
#include "net/curl_transfer.h"
#include "net/proxy_discovery.h"
#include "net/url.h"
#include "platform/text.h"

namespace orvo::net {
namespace {

namespace http = platform::http;

constexpr std::size_t kReadChunk = 0x40000;  // 256 KiB per read

std::uint64_t TickCount() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

std::int64_t DecimalValue(const std::optional<std::string>& text) {
  return text ? std::strtoll(text->c_str(), nullptr, 10) : 0;
}

}  // namespace

const char* VerbText(int verb) {
  switch (verb) {
    case 1:
    case 2:
      return "POST";
    case 3:
      return "DELETE";
    default:
      return "GET";
  }
}

void inner::StageNotifier::Post(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam) {
  std::lock_guard lock(mutex_);
  if (loop_ != nullptr) loop_->Post(window_, message, wparam, lparam);
}

void inner::StageNotifier::Detach() {
  std::lock_guard lock(mutex_);
  loop_ = nullptr;
}

FCHttpRequest::FCHttpRequest(int id, std::shared_ptr<inner::StageNotifier> notifier, const FCHttpRequestInfo& info)
    : id_(id), info_(info), notifier_(std::move(notifier)) {
  if (const auto cracked = CrackUrl(info_.url)) {
    scheme_ = cracked->scheme;
    host_ = cracked->host;
    path_ = cracked->path;
  }
  http::RootOptions options;
  options.user_agent = info_.user_agent;
  if (!info_.proxy_host.empty()) {
    options.proxy_mode = http::ProxyMode::kNamed;
    options.proxy = platform::Format("%s:%d", info_.proxy_host.c_str(), info_.proxy_port);
    options.proxy_user = info_.proxy_user;
    options.proxy_password = info_.proxy_password;
  }
  root_ = std::make_shared<http::Root>(std::move(options));
  connect_running_ = true;
  connect_thread_ = std::thread([this] { ConnectThread(); });
  start_tick_ = TickCount();
}

FCHttpRequest::~FCHttpRequest() {
  AbortBlockingCall();
  if (connect_thread_.joinable()) connect_thread_.join();
  if (transfer_thread_.joinable()) transfer_thread_.join();
}

void FCHttpRequest::ConnectThread() {
  // The port written in the URL is not used: 443 for https, else 80.
  connection_ = std::make_shared<http::Connection>(root_, host_, scheme_ == kSchemeHttps ? 443 : 80);
  const int id = id_;
  const auto notifier = notifier_;
  connect_running_ = false;
  notifier->Post(kMsgRequestStage, static_cast<std::uintptr_t>(id), kStageConnected);
}

void FCHttpRequest::OnConnected() {
  if (connect_thread_.joinable()) connect_thread_.join();
  if (scheme_ == kSchemeHttps) info_.open_flags |= kFlagSecure;
  // Certificate checks stay on: no security flags are widened, whatever the scheme.
  http::RequestOptions options;
  options.verb = VerbText(info_.verb);
  options.path = path_.empty() ? "/" : path_;
  options.secure = scheme_ == kSchemeHttps;
  request_ = std::make_unique<http::Request>(connection_, std::move(options));
  transfer_running_ = true;
  transfer_thread_ = std::thread([this] { TransferThread(); });
}

std::uint32_t FCHttpRequest::SendRequest() {
  std::string headers = info_.extra_headers;
  if (info_.range_start != 0) {
    headers += platform::Format("Range: bytes=%lld-\r\n", static_cast<long long>(info_.range_start));
  }
  std::uint32_t result = request_->Send(headers, info_.post_body);
  if (result != 0) {
    log::Info("---------------------HttpSendRequest-----------------------  error:%u\n", result);
    if (http::IsCertificateError(result)) {
      log::Error("Certificate of %s not accepted: %s", info_.url.c_str(), request_->ErrorText().c_str());
    }
  }
  if (result == http::kErrorInternetSecCertRevFailed) result = request_->Send(headers, info_.post_body);
  return result;
}

void FCHttpRequest::TransferThread() {
  if (SendRequest() != 0) {
    // A send that failed because the request was cancelled is not repeated by the fallback.
    if (!buffer_.Aborted()) RunFallback();
  } else {
    notifier_->Post(kMsgRequestStage, static_cast<std::uintptr_t>(id_), kStageHeaders);
    std::vector<char> chunk(kReadChunk);
    bool ok = true;
    while (true) {
      std::size_t read = 0;
      std::uint32_t error = 0;
      ok = request_->Read(chunk.data(), chunk.size(), &read, &error);
      if (!ok || read == 0) break;
      received_.fetch_add(static_cast<std::int64_t>(read));
      if (buffer_.Append(chunk.data(), read)) {
        notifier_->Post(kMsgReceiveBufferHigh, static_cast<std::uintptr_t>(id_), 0);
      }
      if (buffer_.Aborted()) {
        ok = false;
        break;
      }
    }
    response_.read_complete = ok;
  }
  const int id = id_;
  const auto notifier = notifier_;
  transfer_running_ = false;
  notifier->Post(kMsgRequestStage, static_cast<std::uintptr_t>(id), kStageFinished);
}

void FCHttpRequest::RunFallback() {
  log::Info("Use curl retry! status error:%d", response_.status_code);
  info_.job.file.Close();
  info_.job.type = kJobFallback;
  ReadSystemProxy();
  const auto notifier = notifier_;
  // Cancelling the request (or shutting down) also ends the fallback transfer.
  const auto progress = [this, notifier](std::int64_t received, std::int64_t expected) {
    if (buffer_.Aborted()) return 1;
    if (expected == 0) return 0;
    const int percent = static_cast<int>(static_cast<double>(received) * 100.0 / static_cast<double>(expected)) % 100;
    if (percent != 0) notifier->Post(kMsgFallbackProgress, static_cast<std::uintptr_t>(percent / 2), 0);
    return 0;
  };
  response_.status_code = CurlTransfer(info_.url, info_.job.target_path, "", progress);
  log::Info("Curl retry result:%d", response_.status_code);
}

void FCHttpRequest::ReadResponseInfo() {
  response_.status_code = request_->StatusCode();
  response_.content_length = DecimalValue(request_->Header("Content-Length"));
  response_.last_modified = request_->Header("Last-Modified").value_or("");
  response_.server = request_->Header("Server").value_or("");
  response_.raw_headers = request_->RawHeaders();
}

void FCHttpRequest::TakeReceivedData(std::string& out) { buffer_.Take(out); }

bool FCHttpRequest::AbortBlockingCall() {
  if (transfer_running_) {
    buffer_.Abort();
    if (request_) request_->Close();
    return true;
  }
  if (connect_running_) {
    root_->Close();
    return true;
  }
  return false;
}

bool FCHttpRequest::ThreadsEnded() const { return !connect_running_ && !transfer_running_; }

void FCHttpRequest::Abandon() {
  if (connect_thread_.joinable()) connect_thread_.detach();
  if (transfer_thread_.joinable()) transfer_thread_.detach();
}

}  // namespace orvo::net
