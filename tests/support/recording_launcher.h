// A ProcessLauncher that starts nothing: it records every request and answers with a scripted exit code,
// so tests check the exact command lines the installer would run (system tools are not emulated).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/process.h"
#include "platform/win_types.h"

namespace orvo::test {

class RecordingLauncher : public platform::ProcessLauncher {
 public:
  struct Shared {
    std::mutex mutex;
    std::vector<platform::SpawnRequest> requests;
    int waits = 0;
    // Decides each start: the exit code of the fake process, or a negative Windows error (-2: not found).
    std::function<long long(const platform::SpawnRequest&)> answer = [](const platform::SpawnRequest&) { return 0; };
  };

  explicit RecordingLauncher(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
  std::unique_ptr<platform::Process> Spawn(const platform::SpawnRequest& request, std::uint32_t* error) override;

  // Puts a recording launcher into the current platform and returns what it records.
  static std::shared_ptr<Shared> Install();

 private:
  std::shared_ptr<Shared> shared_;
};

}  // namespace orvo::test
