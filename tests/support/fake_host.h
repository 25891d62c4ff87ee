// The host of a host-mode run in tests: a window on its own loop thread, reachable as copy data, that
// records every report it receives.
#pragma once

#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "platform/message_loop.h"

namespace orvo::test {

struct HostReport {
  std::uint64_t status = 0;
  std::string text;
  std::uintptr_t sender = 0;
  bool operator==(const HostReport&) const = default;
};
std::ostream& operator<<(std::ostream& out, const HostReport& report);

class FakeHost {
 public:
  FakeHost();
  ~FakeHost() { Stop(); }
  FakeHost(const FakeHost&) = delete;
  FakeHost& operator=(const FakeHost&) = delete;

  // Ends the host's loop; its window goes with it.
  void Stop();
  platform::WindowHandle Window() const { return window_; }
  // The reports so far; Take also forgets them.
  std::vector<HostReport> Reports() const;
  std::vector<HostReport> Take();

 private:
  platform::MessageLoop loop_;
  platform::WindowHandle window_ = platform::kNoWindow;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<HostReport> reports_;
};

}  // namespace orvo::test
