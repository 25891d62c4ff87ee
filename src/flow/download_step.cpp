// One component download: the cache check, the transfer, the MD5 check and what follows a failure.
#include "app/log.h"
#include "flow/file_md5.h"
#include "flow/main_controller.h"
#include "flow/ui_texts.h"
#include "platform/file_system.h"
#include "platform/system_drive.h"
#include "platform/text.h"
#include "system/error_list.h"
#include "system/file_helpers.h"

namespace orvo::flow {

namespace {

struct FailureTexts {
  const char* first;
  int message;
  const char* try_again;
  const char* skip;
};
constexpr FailureTexts kInvalidDownload{"Handling Download Valiable Failed.\r\n", 253,
                                        "Handling Download Valiable Failed - User try again.\r\n",
                                        "Handling Download Valiable Failed - User skip.\r\n"};
constexpr FailureTexts kFailedDownload{"Handling Download Failed.\r\n", 254,
                                       "Handling Download Failed - User try again.\r\n",
                                       "Handling Download Failed - User skip.\r\n"};

// Attempts of a silent run: the first and two more.
constexpr int kSilentRetries = 2;

std::optional<std::uint64_t> ExistingSize(const std::string& path) {
  const auto file = platform::fs::File::Open(path, platform::fs::File::Mode::kRead);
  if (!file) return std::nullopt;
  return file->Size().value_or(0);
}

}  // namespace

std::optional<std::string> CMainDlg::Md5Of(const std::string& path) {
  if (Silent()) return FileMd5Text(path);
  // The window stays responsive while a large file is hashed.
  return FileMd5Text(path, [this] { window_->Loop().PumpPending(); });
}

void CMainDlg::OnStepDownload() {
  TakeFrontStep();
  const plan::DownloadData& data = currentStep_.download_data;
  services_.analytics->Event(currentStep_.type == plan::StepType::PrerequisiteDownload ? "downloadPrereq"
                                                                                       : "downloadApp");
  const std::string target = platform::JoinPath(workFolder_, data.Name);
  ReportToHost(app::host_status::kDownloadStarted, &currentStep_);

  std::int64_t resume_offset = 0;
  if (const std::optional<std::uint64_t> size = ExistingSize(target)) {
    const std::optional<std::string> md5 = data.Md5.empty() ? std::nullopt : Md5Of(target);
    if (md5) {
      if (*md5 == data.Md5) {
        log::Debug("%s", ("The File " + target + " exists and MD5 is the same.\r\n").c_str());
        window_->Loop().Post(handle_, msg::kDownloadDone);
        return;
      }
      log::Debug("%s", ("The File " + target + " exists and MD5 is not the same.\r\n").c_str());
      if (!data.URL.empty()) log::Debug("download from web:%s \r\n", data.URL.c_str());
      if (data.ByteSize != 0 && *size >= static_cast<std::uint64_t>(data.ByteSize)) {
        log::Debug("The cache file size is lager than downloading file size, create a new one: %s. \r\n",
                   target.c_str());
      } else if (*size != 0) {
        resume_offset = static_cast<std::int64_t>(*size);
        log::Debug("Resume to download file %s. Start Position: %lld \r\n", target.c_str(),
                   static_cast<long long>(resume_offset));
      }
    } else {
      log::Debug("The file do not have MD5.\r\n");
    }
  }

  std::uint32_t error = 0;
  std::unique_ptr<platform::fs::File> file = platform::fs::File::Open(
      target, resume_offset != 0 ? platform::fs::File::Mode::kOpenAlways : platform::fs::File::Mode::kCreateAlways,
      &error);
  if (!file) {
    log::Error("The download's file cannot be opened (error %u): %s", error, target.c_str());
    window_->Loop().Post(handle_, msg::kDownloadFailed, 0);
    return;
  }
  if (resume_offset != 0 && file->Size().value_or(0) != static_cast<std::uint64_t>(resume_offset)) {
    log::Debug("Move the file handler position to the end, but found the end position not equal the file size! \r\n");
  }
  log::Debug("Download begin - File %s.\r\n", data.DisplayName.c_str());
  downloadRequestId_ = StartDownload(data.URL, net::kJobComponent, target, net::SharedFile(std::move(file)),
                                     resume_offset, msg::kDownloadDone, msg::kDownloadFailed);
  SetProductStatusLine(CounterKind::kDownload, 147,
                       ProductText(data.DisplayName, data.SystemComponents, data.OrvoComponents));
  SetProgress(0);
  view_.Repaint();
}

void CMainDlg::OnDownloadDone() {
  switch (currentStep_.type) {
    case plan::StepType::FetchConfiguration: OnConfigurationDownloaded(); break;
    case plan::StepType::PrerequisiteDownload:
    case plan::StepType::PackageDownload: OnComponentDownloaded(); break;
    default: break;
  }
}

void CMainDlg::OnComponentDownloaded() {
  const plan::DownloadData& data = currentStep_.download_data;
  services_.statistic->Note(StatisticNote::kDownloadSucceeded);
  log::Debug("Download Succ - file.\r\n");
  const std::string target = platform::JoinPath(workFolder_, data.Name);
  const std::optional<std::string> md5 = data.Md5.empty() ? std::nullopt : Md5Of(target);
  if (md5 && *md5 != data.Md5) {
    sys::AddSharedError("MD5 validate failed");
    log::Debug("Download Succ - MD5 validate failed.\r\n");
    log::Debug("Download file MD5: %s, ini file MD5: %s\r\n", md5->c_str(), data.Md5.c_str());
    log::Debug("Download Size: %lld, ini file Size: %ld .\r\n",
               static_cast<long long>(ExistingSize(target).value_or(0)), static_cast<long>(data.ByteSize));
    HandleBadDownload(true, 0);
    sys::DeletePath(target);
  } else {
    log::Debug(md5 ? "Download Succ - MD5 validated.\r\n" : "Download Succ - No MD5.\r\n");
    SetProgress(50);
    if (md5) configRetryCount_ = 0;
    ReportToHost(app::host_status::kDownloadDone, &currentStep_);
  }
  Dispatch();
}

void CMainDlg::OnDownloadFailed(std::uintptr_t status) {
  log::Debug("Download Failed.\r\n");
  sys::AddSharedError("Download failed");
  services_.statistic->Note(StatisticNote::kDownloadFailed);
  HandleBadDownload(false, status);
  Dispatch();
}

// One procedure for a download that failed its check (invalid) and one whose transfer failed.
void CMainDlg::HandleBadDownload(bool invalid, std::uintptr_t status) {
  const FailureTexts& texts = invalid ? kInvalidDownload : kFailedDownload;
  log::Debug("%s", texts.first);
  SetProgress(0);
  plan::DownloadData& data = currentStep_.download_data;
  if (Silent()) {
    if (data.RetryCount < kSilentRetries) {
      ++data.RetryCount;
      plan_.push_front(currentStep_);
      log::Debug("Handling Download Valiable Failed - try again.\r\n");
      return;
    }
    if (HostMode()) {
      // The product's remaining steps go; a Finish step the host asked for stays, or the run never ends.
      const std::string id = currentStep_.id;
      std::erase_if(plan_, [&](const plan::PlanStep& s) { return s.id == id && s.type != plan::StepType::Finish; });
      ReportToHost(app::host_status::kProductDropped, &currentStep_);
      return;
    }
    succeeded_ = false;
    plan_.clear();
    plan_.emplace_back(plan::StepType::ShowFailure);
    log::Debug("Handling Download Valiable Failed - skip.\r\n");
    return;
  }
  const std::string message = platform::ReplaceAll(UiText(texts.message), "[COMPONENT]", data.DisplayName);
  if (ShowRetryDialog(message, kCaption, invalid || status < 400, false) == kAnswerRetry) {
    ++data.RetryCount;
    plan_.push_front(currentStep_);
    log::Debug("%s", texts.try_again);
  } else {
    plan_.clear();
    plan_.emplace_back(plan::StepType::ShowFailure);
    log::Debug("%s", texts.skip);
  }
}

}  // namespace orvo::flow
