// The install configuration: a local file beside the executable, else the account service's, with the
// retry rules of its download; and the retry settings of the component downloads.
#include "app/log.h"
#include "flow/config_source.h"
#include "flow/main_controller.h"
#include "flow/ui_texts.h"
#include "flow/retry_settings.h"
#include "platform/file_system.h"
#include "platform/system_drive.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "system/deployment.h"

namespace orvo::flow {

namespace {

constexpr const char* kConfigurationFileName = "OrvoInstaller.ini";

std::string OwnConfigurationAddress(const app::RunOptions& options) {
  return ConfigurationAddress(sys::AccountServiceBase(), options.installId, platform::Current().profile.windows64,
                              platform::OwnExecutablePath());
}

}  // namespace

int CMainDlg::StartDownload(const std::string& url, int job_type, const std::string& target, net::SharedFile file,
                            std::int64_t resume_offset, std::uint32_t success, std::uint32_t failure) {
  net::FCHttpJob job;
  job.type = job_type;
  job.target_path = target;
  job.success_message = success;
  job.failure_message = failure;
  job.notify = true;
  job.resume_offset = resume_offset;
  job.file = std::move(file);
  const int id = requests_->StartRequest(requests_->BuildRequestInfo(url, job));
  requests_->SetCurrentDownload(id);
  return id;
}

void CMainDlg::FetchConfiguration(bool for_settings) {
  const std::optional<std::string> local = FindLocalConfiguration(localConfigFolder_);
  if (for_settings) {
    if (local) {
      configPath_ = *local;
      view_.Enable(control::kInstallationSettings, true);
      view_.Repaint();
      return;
    }
    const std::string target = platform::JoinPath(workFolder_, kConfigurationFileName);
    configPath_ = target;
    net::SharedFile file(platform::fs::File::Open(target, platform::fs::File::Mode::kCreateAlways));
    // No failure message: without the early configuration the settings button just stays disabled.
    if (file.Valid()) {
      settingsRequestId_ = StartDownload(OwnConfigurationAddress(options_), net::kJobConfiguration, target, file, 0,
                    msg::kSettingsConfigReady, 0);
    }
    return;
  }

  configStep_ = plan::PlanStep(plan::StepType::FetchConfiguration);
  configStep_.download_data.URL = OwnConfigurationAddress(options_);
  configStep_.download_data.Name = kConfigurationFileName;
  configStep_.download_data.RetryCount = 0;
  if (local) {
    configPath_ = *local;
    log::Debug("Local ini file found Succ.\r\n");
    window_->Loop().Post(handle_, msg::kBuildPlan);
    return;
  }
  plan_.clear();
  plan_.push_back(configStep_);
  services_.statistic->Note(StatisticNote::kConfigurationFromWeb);
  Dispatch();
}

void CMainDlg::OnStepFetchConfig() {
  TakeFrontStep();
  // The early download for the settings dialog writes the same file: it must not write beside this one.
  if (settingsRequestId_ != 0 && requests_->FindRequest(settingsRequestId_) != nullptr) {
    requests_->CancelRequest(settingsRequestId_);
  }
  settingsRequestId_ = 0;
  const std::string target = platform::JoinPath(workFolder_, currentStep_.download_data.Name);
  configPath_ = target;
  std::uint32_t error = 0;
  net::SharedFile file(platform::fs::File::Open(target, platform::fs::File::Mode::kCreateAlways, &error));
  if (!file.Valid()) {
    log::Error("The configuration file cannot be created (error %u): %s", error, target.c_str());
    window_->Loop().Post(handle_, msg::kConfigError, 0);
    return;
  }
  downloadRequestId_ = StartDownload(currentStep_.download_data.URL, net::kJobConfiguration, target, file, 0,
                                     msg::kDownloadDone, msg::kConfigError);
  log::Debug("Download begin - ini: %s.\r\n", currentStep_.download_data.URL.c_str());
}

void CMainDlg::OnConfigurationDownloaded() {
  log::Debug("Download Succ - ini file.\r\n");
  configRetryCount_ = 0;
  window_->Loop().Post(handle_, msg::kBuildPlan);
  ReportToHost(app::host_status::kDownloadDone, &currentStep_);
  Dispatch();
}

void CMainDlg::OnConfigError(std::uintptr_t status) {
  const bool retry_offered = status < 400 && configRetryCount_ < retry_->numbers.load();
  const int answer = ShowRetryDialog(UiText(250), kCaption, retry_offered, false);
  services_.statistic->Note(StatisticNote::kDownloadFailed);
  plan_.clear();
  if (answer == kAnswerRetry) {
    ++configRetryCount_;
    plan_.push_front(configStep_);
    log::Debug("Ini Error - User try again");
  } else {
    plan_.emplace_back(plan::StepType::ShowFailure);
    log::Debug("Ini Error - User skip");
  }
  Dispatch();
}

void CMainDlg::StartRetrySettingsRequest() {
  // Detached, as nothing waits for it; it shares only the two numbers, which outlive the controller.
  std::thread([retry = retry_, base = sys::AccountServiceBase()] {
    const RetrySettings settings = FetchRetrySettings(base, {retry->numbers.load(), retry->interval.load()});
    retry->numbers = settings.numbers;
    retry->interval = settings.interval;
  }).detach();
}

}  // namespace orvo::flow
