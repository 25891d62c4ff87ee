#include "net/receive_buffer.h"

namespace orvo::net::inner {

bool CReceiveBuffer::Append(const char* data, std::size_t size) {
  std::unique_lock lock(mutex_);
  drained_.wait(lock, [&] { return aborted_ || data_.size() < kLimit; });
  if (aborted_) return false;
  data_.append(data, size);
  if (data_.size() < kHighWater || drain_requested_) return false;
  drain_requested_ = true;
  return true;
}

void CReceiveBuffer::Take(std::string& out) {
  {
    std::lock_guard lock(mutex_);
    out.clear();
    out.swap(data_);
    drain_requested_ = false;
  }
  drained_.notify_all();
}

void CReceiveBuffer::Abort() {
  {
    std::lock_guard lock(mutex_);
    aborted_ = true;
  }
  drained_.notify_all();
}

bool CReceiveBuffer::Aborted() {
  std::lock_guard lock(mutex_);
  return aborted_;
}

}  // namespace orvo::net::inner
