#include "deploy/installer_runner.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "app/log.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "platform/system_drive.h"
#include "platform/text.h"
#include "platform/win_types.h"
#include "system/error_list.h"
#include "system/file_helpers.h"

namespace orvo::deploy {

namespace {

constexpr const char* kStartFailedTag = "ShellExecuteEx failed";

bool IsRuntimeRedistributable(std::string_view name) {
  const std::string lower = platform::LowerCase(name);
  return lower.find("vc_redist") != std::string::npos || lower.find("vcredist") != std::string::npos;
}

// The folder is passed without a trailing backslash: one before the closing quote would escape it for
// every parser that follows the Windows quoting rules, and the property would swallow what comes after.
std::string RunParameters(const std::string& arguments, const InstallerRunInputs& inputs,
                          const std::string& target_folder) {
  std::string parameters = arguments;
  if (inputs.step.install_data.Upgrade_code == kTargetDirUpgradeCode && inputs.phase == kPhaseWorking) {
    parameters += " TARGETDIR=\"" + platform::WithoutTrailingBackslash(target_folder) + "\"";
  }
  return parameters;
}

// The problem report lists the tag once, however often a start fails.
void AddStartFailedTagOnce() {
  const std::vector<std::string> tags = sys::SharedErrors();
  if (std::find(tags.begin(), tags.end(), kStartFailedTag) == tags.end()) sys::AddSharedError(kStartFailedTag);
}

// lParam as a 32-bit program posts it: the code's 32 bits, read as signed.
std::intptr_t AsLParam(std::int32_t code) { return static_cast<std::intptr_t>(code); }

struct RunResult {
  bool started = false;
  std::uint32_t error = 0;      // system error of a failed start
  std::int32_t exit_code = 0;
};

RunResult RunOnce(const std::string& file, const std::string& parameters) {
  log::Debug("sei.lpParameters=%s, sei.lpFile=%s", parameters.c_str(), file.c_str());
  platform::ShellRequest request;
  request.file = file;
  request.parameters = parameters;
  request.hidden = true;
  request.want_process = true;
  platform::ShellResult shell = platform::ShellExecute(request);
  RunResult result;
  if (!shell.Succeeded()) {
    result.error = shell.last_error;
    log::Debug("ShellExecuteEx Failed, ErrorCode=%d", static_cast<int>(result.error));
    return result;
  }
  result.started = true;
  // A file the shell handed to another program gives no process to wait for: nothing to report but 0.
  if (shell.process) {
    shell.process->Wait(platform::kInfinite);
    result.exit_code = static_cast<std::int32_t>(shell.process->ExitCode());
  }
  log::Debug("Exec exitcode=%d", result.exit_code);
  return result;  // the process handle closes here
}

}  // namespace

int InstallThreadProc(const InstallerRunInputs& inputs, const PostResult& post) {
  log::Debug("InstallThreadProc Enter");
  const plan::InstallData& data = inputs.step.install_data;
  if (inputs.step.AlreadyInstalled) {
    post(0, 0);
    return 0;
  }
  const std::string target_folder = platform::JoinPath(inputs.install_folder, data.InstallFolder);
  if (!sys::FileExists(data.FilePath)) {
    log::Debug("setup file not found %s", data.FilePath.c_str());
    post(0, -1);
    log::Debug("InstallThreadProc Leave");
    return 0;
  }
  log::Debug("Installing %s", data.FilePath.c_str());
  std::vector<const std::string*> runs = {&data.CommandLineParameter};
  if (!data.RepairParameter.empty()) runs.push_back(&data.RepairParameter);
  std::int32_t exit_code = 0;
  for (const std::string* arguments : runs) {
    RunResult run = RunOnce(data.FilePath, RunParameters(*arguments, inputs, target_folder));
    if (!run.started) {
      AddStartFailedTagOnce();
      post(0, AsLParam(static_cast<std::int32_t>(run.error)));
      return 0;
    }
    exit_code = run.exit_code;
    if (IsRuntimeRedistributable(data.Name) && exit_code == kRuntimeAlreadyInstalled) {
      log::Debug("install vcredist returns 1638, set it as successful.");
      exit_code = 0;
    }
  }
  post(0, AsLParam(exit_code));
  log::Debug("InstallThreadProc Leave");
  return 0;
}

}  // namespace orvo::deploy
