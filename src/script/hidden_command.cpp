#include "script/hidden_command.h"

#include <chrono>
#include <memory>
#include <optional>
#include <thread>

#include "app/log.h"
#include "platform/platform.h"
#include "platform/shell.h"
#include "platform/win_types.h"
#include "system/folders.h"

namespace orvo::script {

namespace {

// ExpandEnvironmentStrings into a MAX_PATH buffer: a longer result does not fit.
constexpr std::size_t kExpandBuffer = 260;

struct HiddenRun {
  bool started = false;
  std::uint32_t exit_code = 0;
};

// CreateProcess without a console window, waited for without a time limit.
HiddenRun RunWithoutConsole(const std::string& command_line) {
  platform::SpawnRequest request;
  request.command_line = command_line;
  request.hidden = true;
  std::uint32_t error = platform::error::kSuccess;
  std::unique_ptr<platform::Process> process = platform::Current().launcher->Spawn(request, &error);
  if (!process) return {};
  process->Wait(platform::kInfinite);
  return HiddenRun{true, process->ExitCode()};
}

// The shell is started through the native interpreter: "sysnative" lets this 32-bit process reach the
// 64-bit one on 64-bit Windows. 32-bit Windows has no such folder, so its own System32 is used there.
std::optional<std::string> ShellStartCommand() {
  const char* pattern = sys::IsWindows64() ? "%systemroot%\\sysnative\\cmd.exe /c start /B explorer.exe"
                                           : "%systemroot%\\System32\\cmd.exe /c start /B explorer.exe";
  std::string expanded = platform::Current().environment.Expand(pattern);
  if (expanded.size() + 1 > kExpandBuffer) return std::nullopt;
  return expanded;
}

bool StartShell() {
  const std::optional<std::string> command = ShellStartCommand();
  const HiddenRun run = command ? RunWithoutConsole(*command) : HiddenRun{};
  if (!run.started) {
    log::Info("failed to start explorer.exe");
    return false;
  }
  log::Info("start explorer.exe, ret = %d, exitCode = %d", 1, static_cast<int>(run.exit_code));
  return true;
}

}  // namespace

std::string HiddenCommandParameters(std::string_view command) {
  return "/c \"" + std::string(command) + "\"";
}

int RunHiddenCommand(std::string_view command, bool wait) {
  const std::string parameters = HiddenCommandParameters(command);
  platform::ShellRequest request;
  request.verb = "open";
  request.file = "cmd.exe";
  request.parameters = parameters;
  request.hidden = true;
  request.want_process = true;
  platform::ShellResult result = platform::ShellExecute(request);
  if (!result.Succeeded() || !result.process) {
    const std::uint32_t error = result.last_error != 0 ? result.last_error : platform::error::kInvalidHandle;
    log::Info("ShellExecuteEx Failed, cmd: %s, ErrorCode=%d", parameters.c_str(), static_cast<int>(error));
    return -1;
  }
  if (!wait) return 1;
  result.process->Wait(kHiddenCommandWaitMs);
  const int exit_code = static_cast<int>(result.process->ExitCode());
  log::Info("run cmd: %s, ret: %d", parameters.c_str(), exit_code);
  return exit_code;
}

bool RegisterComServer(std::string_view path, bool unregister) {
  if (path.empty()) return false;
  platform::ShellRequest request;
  request.verb = "runas";
  request.file = "regsvr32";
  request.parameters = std::string(unregister ? "/u /s " : "/s ") + "\"" + std::string(path) + "\"";
  const platform::ShellResult result = platform::ShellExecute(request);
  if (result.code < 32) {
    log::Info("run ShellExecute failed, path:%s, ret: %d", std::string(path).c_str(), static_cast<int>(result.code));
    return false;
  }
  return true;
}

void RelaunchShell() {
  const HiddenRun kill = RunWithoutConsole("taskkill /f /im explorer.exe");
  if (!kill.started) {
    log::Info("failed to kill explorer.exe");
    return;
  }
  log::Info("kill explorer.exe, ret = %d, exitCode = %d", 1, static_cast<int>(kill.exit_code));
  if (StartShell()) return;
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  StartShell();
}

}  // namespace orvo::script
