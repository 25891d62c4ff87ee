#include "support/recording_launcher.h"

namespace orvo::test {

namespace {

class FakeProcess : public platform::Process {
 public:
  FakeProcess(std::shared_ptr<RecordingLauncher::Shared> shared, std::uint32_t exit_code)
      : shared_(std::move(shared)), exit_code_(exit_code) {}
  std::uint32_t Id() const override { return 4242; }
  std::uint32_t Wait(std::uint32_t) override {
    std::lock_guard lock(shared_->mutex);
    ++shared_->waits;
    return platform::kWaitObject0;
  }
  std::uint32_t ExitCode() override { return exit_code_; }
  bool Terminate(std::uint32_t code) override {
    exit_code_ = code;
    return true;
  }

 private:
  std::shared_ptr<RecordingLauncher::Shared> shared_;
  std::uint32_t exit_code_;
};

}  // namespace

std::unique_ptr<platform::Process> RecordingLauncher::Spawn(const platform::SpawnRequest& request,
                                                            std::uint32_t* error) {
  long long answer = 0;
  {
    std::lock_guard lock(shared_->mutex);
    shared_->requests.push_back(request);
    answer = shared_->answer(request);
  }
  if (answer < 0) {
    if (error != nullptr) *error = static_cast<std::uint32_t>(-answer);
    return nullptr;
  }
  if (error != nullptr) *error = 0;
  return std::make_unique<FakeProcess>(shared_, static_cast<std::uint32_t>(answer));
}

std::shared_ptr<RecordingLauncher::Shared> RecordingLauncher::Install() {
  auto shared = std::make_shared<Shared>();
  platform::Current().launcher = std::make_unique<RecordingLauncher>(shared);
  return shared;
}

}  // namespace orvo::test
