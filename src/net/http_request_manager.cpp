#include "net/http_request_manager.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace orvo::net {
namespace {

template <typename List>
auto FindIn(List& list, int request_id) {
  return std::find_if(list.begin(), list.end(), [&](const auto& request) {
    return request->GetRequestId() == request_id;
  });
}

}  // namespace

FCHttpRequestManager::FCHttpRequestManager(platform::MessageLoop& loop) : loop_(loop) {
  window_ = loop_.CreateWindow([this](const platform::Message& message) { return HandleMessage(message); });
  notifier_ = std::make_shared<inner::StageNotifier>(loop_, window_);
}

FCHttpRequestManager::~FCHttpRequestManager() { Shutdown(); }

int FCHttpRequestManager::StartRequest(const FCHttpRequestInfo& info) {
  loop_.SetTimer(window_, kPurgeTimer, 100);
  const int id = next_id_++;
  running_.push_back(std::make_unique<FCHttpRequest>(id, notifier_, info));
  if (info.timeout_ms != 0) loop_.SetTimer(window_, static_cast<std::uintptr_t>(id), info.timeout_ms);
  return id;
}

void FCHttpRequestManager::CancelRequest(int request_id) {
  const auto it = FindIn(running_, request_id);
  if (it == running_.end()) return;
  (*it)->AbortBlockingCall();
  retired_.push_back(std::move(*it));
  running_.erase(it);
}

FCHttpRequest* FCHttpRequestManager::FindRequest(int request_id) const {
  const auto it = std::find_if(running_.begin(), running_.end(),
                               [&](const auto& request) { return request->GetRequestId() == request_id; });
  return it == running_.end() ? nullptr : it->get();
}

void FCHttpRequestManager::OnResponseHeaders(FCHttpRequest&) {}
void FCHttpRequestManager::OnRequestFinished(FCHttpRequest&) {}
void FCHttpRequestManager::OnRequestTimedOut(FCHttpRequest&) {}
void FCHttpRequestManager::OnFallbackProgress(int) {}

void FCHttpRequestManager::OnReceiveBufferHigh(FCHttpRequest& request) {
  std::string dropped;
  request.TakeReceivedData(dropped);
}

std::intptr_t FCHttpRequestManager::HandleMessage(const platform::Message& message) {
  switch (message.id) {
    case platform::kWmTimer:
      OnTimer(message.wparam);
      break;
    case kMsgRequestStage:
      OnStage(static_cast<int>(message.wparam), message.lparam);
      break;
    case kMsgFallbackProgress:
      OnFallbackProgress(static_cast<int>(message.wparam));
      break;
    case kMsgReceiveBufferHigh:
      if (FCHttpRequest* request = FindRequest(static_cast<int>(message.wparam))) OnReceiveBufferHigh(*request);
      break;
    default:
      break;
  }
  return 0;
}

void FCHttpRequestManager::OnStage(int request_id, std::intptr_t stage) {
  FCHttpRequest* request = FindRequest(request_id);
  if (request == nullptr) return;
  switch (stage) {
    case kStageConnected:
      request->OnConnected();
      break;
    case kStageHeaders:
      request->ReadResponseInfo();
      OnResponseHeaders(*request);
      break;
    case kStageFinished:
      OnRequestFinished(*request);
      CancelRequest(request_id);
      break;
    default:
      break;
  }
}

void FCHttpRequestManager::OnTimer(std::uintptr_t timer_id) {
  if (timer_id == kPurgeTimer) {
    if (running_.empty() && retired_.empty()) {
      loop_.KillTimer(window_, kPurgeTimer);
    } else {
      PurgeRetired();
    }
    return;
  }
  loop_.KillTimer(window_, timer_id);
  if (FCHttpRequest* request = FindRequest(static_cast<int>(timer_id))) {
    OnRequestTimedOut(*request);
    CancelRequest(static_cast<int>(timer_id));
  }
}

void FCHttpRequestManager::PurgeRetired() {
  for (auto it = retired_.begin(); it != retired_.end();) {
    if ((*it)->ThreadsEnded()) {
      loop_.KillTimer(window_, static_cast<std::uintptr_t>((*it)->GetRequestId()));
      it = retired_.erase(it);
    } else {
      ++it;
    }
  }
}

void FCHttpRequestManager::Shutdown() {
  notifier_->Detach();
  loop_.DestroyWindow(window_);
  std::deque<std::unique_ptr<FCHttpRequest>> all;
  for (auto* list : {&running_, &retired_}) {
    for (auto& request : *list) {
      request->AbortBlockingCall();
      all.push_back(std::move(request));
    }
    list->clear();
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kShutdownWaitMs);
  const auto all_ended = [&] {
    return std::all_of(all.begin(), all.end(), [](const auto& request) { return request->ThreadsEnded(); });
  };
  while (!all_ended() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  for (auto& request : all) {
    if (request->ThreadsEnded()) continue;
    // A thread still blocked after the wait runs on alone with its request, which is never freed; it
    // posts into nothing once the notifier is detached.
    request->Abandon();
    (void)request.release();
  }
}

}  // namespace orvo::net
