#include "support/fake_host.h"

#include <future>
#include <utility>

#include "platform/copy_data.h"

namespace orvo::test {

std::ostream& operator<<(std::ostream& out, const HostReport& report) {
  return out << "{" << report.status << ", '" << report.text << "', " << report.sender << "}";
}

FakeHost::FakeHost() {
  std::promise<void> ready;
  thread_ = std::thread([this, &ready] {
    window_ = loop_.CreateWindow([this](const platform::Message& message) -> std::intptr_t {
      if (message.id != platform::kWmCopyData) return 0;
      const auto* data = reinterpret_cast<const platform::CopyData*>(message.lparam);
      std::lock_guard guard(mutex_);
      reports_.push_back({data->kind, data->bytes, message.wparam});
      return 1;
    });
    {
      platform::CopyDataReceiver receiver(loop_, window_);
      ready.set_value();
      loop_.Run();
    }
    loop_.DestroyWindow(window_);
  });
  ready.get_future().wait();
}

void FakeHost::Stop() {
  if (!thread_.joinable()) return;
  loop_.PostQuit(0);
  thread_.join();
}

std::vector<HostReport> FakeHost::Reports() const {
  std::lock_guard guard(mutex_);
  return reports_;
}

std::vector<HostReport> FakeHost::Take() {
  std::lock_guard guard(mutex_);
  return std::exchange(reports_, {});
}

}  // namespace orvo::test
