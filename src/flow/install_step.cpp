// The install-like steps: the worker per step, the progress while it runs, the judging of its result and
// the failure handling.
#include <chrono>

#include "app/log.h"
#include "flow/completion.h"
#include "flow/main_controller.h"
#include "flow/ui_texts.h"
#include "plan/prerequisites.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "platform/system_drive.h"
#include "platform/text.h"
#include "system/file_helpers.h"

namespace orvo::flow {

namespace {

// The runtime update without which the VC runtime does not install on Windows 8.1.
constexpr std::uint32_t kRuntimeUpdateMissing = 0x80240017;
constexpr const char* kRuntimeUpdateArticle = "https://support.microsoft.com/help/2919355";
constexpr std::int32_t kAnotherInstallRunning = 1618;

// Host mode: setup programs named like "80123..." count as installed whatever they answer.
bool IsHostExemptName(const std::string& name) {
  if (name.size() < 5 || name[0] != '8') return false;
  int number = 0;
  for (std::size_t i = 0; i < 5; ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
    number = number * 10 + (name[i] - '0');
  }
  return number >= 80000;
}

}  // namespace

void CMainDlg::StartWorker(bool uninstall) {
  if (workerThread_.joinable()) workerThread_.join();
  log::Debug("CreateThread");
  deploy::InstallerRunInputs inputs{currentStep_, installFolder_, phase_};
  deploy::PostResult post = [loop = &window_->Loop(), window = handle_](std::uintptr_t wparam, std::intptr_t lparam) {
    loop->Post(window, msg::kInstallResult, wparam, lparam);
  };
  workerThread_ = uninstall ? services_.workers->StartUninstall(inputs, std::move(post))
                            : services_.workers->StartInstall(inputs, std::move(post));
}

void CMainDlg::OnStepInstall() {
  TakeFrontStep();
  const plan::InstallData& data = currentStep_.install_data;
  const bool package = currentStep_.type == plan::StepType::PackageInstall;
  services_.analytics->Event(package ? "installApp" : "installPrereq");
  if (package && !platform::EqualsNoCase(data.uninstallId, "Orvo Common")) ShowInstallingTexts();
  ReportToHost(app::host_status::kInstallStarted, &currentStep_);
  log::Debug("Install begin - %s", data.DisplayName.c_str());
  StartWorker(false);
  progressFromDownload_ = data.DownloadFirst;
  SetProgress(data.DownloadFirst ? 51 : 0);
  const std::string product = platform::EqualsNoCase(data.DisplayName, "Orvo Start")
                                  ? platform::Format("%s - %s", data.DisplayName.c_str(), UiText(386).c_str())
                                  : ProductText(data.DisplayName, data.SystemComponents, data.OrvoComponents);
  SetProductStatusLine(CounterKind::kInstall, 148, product);
  StartProgressCreep(static_cast<std::uint32_t>(data.ProgressInterval));
}

void CMainDlg::OnStepUninstall() {
  TakeFrontStep();
  const plan::InstallData& data = currentStep_.install_data;
  ReportToHost(app::host_status::kUninstallStarted, &currentStep_);
  log::Debug("UnInstall begin - %s", data.DisplayName.c_str());
  StartWorker(true);
  SetProgress(0);
  SetProductStatusLine(CounterKind::kUninstall, 314, data.DisplayName);
  StartProgressCreep(static_cast<std::uint32_t>(data.ProgressInterval));
}

void CMainDlg::OnStepRestartInstaller() {
  TakeFrontStep();
  const std::string target =
      platform::JoinPath(platform::JoinPath(platform::Drive().KnownFolderPath(platform::KnownFolder::kProgramFiles),
                                            "Orvo\\OrvoInstaller"),
                         "OrvoInstaller.exe");
  const std::string own = platform::OwnExecutablePath();
  log::Debug("Restart OrvoInstaller Start, exitpath: %s, startpath: %s", own.c_str(), target.c_str());
  if (own != target) {
    platform::SpawnRequest request;
    request.application = target;
    request.command_line = platform::OwnCommandLine();
    std::uint32_t error = 0;
    if (platform::Current().launcher->Spawn(request, &error)) {
      plan_.clear();
      log::Debug("Restart OrvoInstaller End");
      EndRun(0);
      return;
    }
    log::Debug("CreateProcess failed (%d).\n", static_cast<int>(error));
  }
  Dispatch();
}

void CMainDlg::OnInstallResult(std::uintptr_t status, std::intptr_t lparam) {
  const auto code = static_cast<std::int32_t>(lparam);
  log::Debug("Install complete, exitCode: %d\r\n", code);
  services_.statistic->Note(StatisticNote::kStepFinished);
  if (workerThread_.joinable()) workerThread_.join();
  window_->Loop().KillTimer(handle_, timer::kProgressCreep);

  const plan::InstallData& data = currentStep_.install_data;
  std::string line = "install " + data.DisplayName;
  if (code == 0) {
    line += status == 2 ? " complete but running bat error\r\n" : " success\r\n";
    succeededList_ += line;
  } else {
    line += " failed, error code:" + std::to_string(code) + "\r\n";
    failedList_ += line;
    services_.statistic->Note(StatisticNote::kStepFailed);
  }
  log::Debug("%s", line.c_str());

  const bool uninstall = currentStep_.type == plan::StepType::Uninstall;
  if (!HostMode() && !uninstall) CompleteProgressBar();
  if (uninstall) {
    ReportToHost(code != 0 ? app::host_status::kUninstallFailed : app::host_status::kUninstallSucceeded, &currentStep_);
    // A removal carries no install kind of its own; judged as a prerequisite, a failed one would pass.
    succeeded_ = code == 0;
    Dispatch();
    return;
  }

  switch (static_cast<int>(data.InstallType)) {
    case 0:
    case 1: JudgePrerequisite(code); break;
    case 2:
    case 3: {
      const bool exempt = HostMode() && data.InstallType == plan::InstallKind::Installer && IsHostExemptName(data.Name);
      if (code != 0 && !exempt) {
        succeeded_ = false;
        InstallFailed(code);
        break;
      }
      succeeded_ = true;
      ReportToHost(app::host_status::kInstallSucceeded, &currentStep_);
      log::Debug("Install Complete.\r\n");
      if (data.DownloadFirst && sys::FileExists(data.FilePath)) {
        sys::DeletePath(data.FilePath);
        log::Debug("Install Complete, delete the temp file: %s.\r\n", data.FilePath.c_str());
      }
      break;
    }
    default: break;
  }
  Dispatch();
}

void CMainDlg::JudgePrerequisite(std::int32_t code) {
  const plan::InstallData& data = currentStep_.install_data;
  succeeded_ = true;
  const auto listed = data.SuccessExitCodes.find(code);
  if (listed == data.SuccessExitCodes.end()) {
    const std::string name = platform::LowerCase(data.Name);
    log::Debug("\r\nERROR CODE:%d dataname:%s \r\n", code, name.c_str());
    const bool dotnet = name.find("ndp") != std::string::npos;
    if ((dotnet || name.find("vc_redist") != std::string::npos) && code != 0) {
      succeeded_ = false;
      prerequisiteFailed_ = true;
      if (dotnet) {
        log::Debug("Handling Install Failed - product %s, error code %d. error description:%s\r\n", data.Name.c_str(),
                   code, std::to_string(code).c_str());
      }
      InstallFailed(code);
    }
    if (code == 0) ReportToHost(app::host_status::kInstallSucceeded, &currentStep_);
    return;
  }
  if (listed->second == 0) {
    ReportToHost(app::host_status::kInstallSucceeded, &currentStep_);
  } else if (listed->second == plan::kExitKindRestart) {
    log::Debug("Install Complete - is restart code.\r\n");
    restartRequired_ = true;
    ReportToHost(app::host_status::kInstallSucceeded, &currentStep_);
  } else if (code != 0) {
    succeeded_ = false;
    InstallFailed(code);
  }
}

void CMainDlg::InstallFailed(std::int32_t code) {
  services_.statistic->Note(StatisticNote::kStepFailed);
  SetProgress(0);
  if (HostMode()) {
    ReportToHost(app::host_status::kInstallFailed, &currentStep_, 0, code);
    return;
  }
  const plan::InstallData& data = currentStep_.install_data;
  const bool runtime = data.Name.find("vc_redist") != std::string::npos;
  const platform::WindowsVersion& version = platform::Current().profile.version;
  std::string message;
  if (runtime && version.major == 6 && version.minor == 3 && !plan::IsHotfixInstalled("KB2919355")) {
    log::Debug("version is 6.3");
    log::Debug("KB2919355 not installed");
    code = static_cast<std::int32_t>(kRuntimeUpdateMissing);
    message = UiText(328);
  } else if (code == kAnotherInstallRunning) {
    message = UiText(150);
  } else {
    message = ProductNamed(221, data.DisplayName);
  }
  const int answer = Silent() ? kAnswerCancel : ShowRetryDialog(message, kCaption, true, runtime);
  if (answer == kAnswerRetry) {
    plan_.push_front(currentStep_);
    log::Debug("Handling Install Failed - User try again.\r\n");
    return;
  }
  if (static_cast<std::uint32_t>(code) == kRuntimeUpdateMissing) {
    platform::ShellRequest request;
    request.verb = "open";
    request.file = kRuntimeUpdateArticle;
    platform::ShellExecute(request);
  }
  plan_.clear();
  plan_.emplace_back(plan::StepType::ShowFailure);
  log::Debug("Handling Install Failed - User skip.\r\n");
}

// The bar runs to 100 in about two seconds in steps of 5 while the window's messages go on.
void CMainDlg::CompleteProgressBar() {
  using Clock = std::chrono::steady_clock;
  constexpr auto kDuration = std::chrono::milliseconds(2000);
  if (progress_ < 95) {
    platform::MessageLoop& loop = window_->Loop();
    const Clock::time_point start = Clock::now();
    while (progress_ < 100 && WindowAlive()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(kDuration - (Clock::now() - start));
      if (left.count() <= 0) break;
      const Clock::time_point step_end = Clock::now() + left / (100 - progress_) * 5;
      bool quit = false;
      while (!quit && Clock::now() < step_end) {
        quit = !loop.PumpOne(std::chrono::duration_cast<std::chrono::milliseconds>(step_end - Clock::now()));
      }
      if (quit) break;  // the quit stays pending for the main loop
      SetProgress(progress_ + 5);
    }
  }
  SetProgress(100);
}

}  // namespace orvo::flow
