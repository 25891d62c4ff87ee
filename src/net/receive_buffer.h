// The lock-protected byte buffer of one request. The transfer thread appends, the owner takes. Memory is
// bounded: past the high-water mark the owner is asked to drain early, and at the limit the transfer
// thread waits for a take (or for the request to be aborted).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>

namespace orvo::net::inner {

class FCAutoCSec {
 public:
  void Lock() { mutex_.lock(); }
  void Unlock() { mutex_.unlock(); }

 protected:
  std::mutex mutex_;
};

class CReceiveBuffer : public FCAutoCSec {
 public:
  static constexpr std::size_t kHighWater = 256u << 10;
  static constexpr std::size_t kLimit = 4u << 20;

  // Waits while the buffer is at its limit. Returns true when the owner should be asked to drain (the
  // high-water mark was crossed and no request for it is outstanding); false also after Abort().
  bool Append(const char* data, std::size_t size);
  // Moves everything buffered into out (replacing its content).
  void Take(std::string& out);
  // Releases a waiting Append for good.
  void Abort();
  bool Aborted();

 private:
  std::condition_variable drained_;
  std::string data_;
  bool drain_requested_ = false;
  bool aborted_ = false;
};

}  // namespace orvo::net::inner
