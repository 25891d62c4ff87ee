// Lets injected waits (delays, stalls) end early when the service shuts down.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace svc {

class StopSignal {
 public:
  void Stop() {
    {
      std::lock_guard lock(mutex_);
      stopped_ = true;
    }
    cv_.notify_all();
  }
  // Waits for the given time or until Stop(); true when the full time passed.
  bool SleepFor(int ms) const {
    std::unique_lock lock(mutex_);
    return !cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopped_; });
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable cv_;
  bool stopped_ = false;
};

}  // namespace svc
