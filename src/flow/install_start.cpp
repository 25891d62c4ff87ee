// Install Now with its pre-flight checks, the close command and the install folder's browse button.
#include "app/log.h"
#include "app/startup.h"
#include "flow/completion.h"
#include "flow/main_controller.h"
#include "flow/ui_texts.h"
#include "flow/product_lists.h"
#include "platform/platform.h"
#include "platform/system_drive.h"
#include "platform/text.h"
#include "system/file_helpers.h"

namespace orvo::flow {

namespace {

constexpr std::uint64_t kRequiredFreeGib = 3;

bool OlderThanWindows7Sp1() {
  const platform::WindowsVersion& v = platform::Current().profile.version;
  if (v.major != 6) return v.major < 6;
  if (v.minor != 1) return v.minor < 1;
  return v.service_pack_major < 1;
}

std::string FreeSpaceText(const std::string& folder, bool& short_of_space) {
  std::uint64_t free_gib = 0, total_gib = 0;
  sys::FreeDiskSpace(folder, free_gib, total_gib);
  short_of_space = free_gib < kRequiredFreeGib;
  std::string text = platform::ReplaceAll(UiText(361), "[FREESPACE]", std::to_string(free_gib));
  return platform::ReplaceAll(text, "[TOTALSPACE]", std::to_string(total_gib));
}

}  // namespace

void CMainDlg::InstallNow() {
  if (page_ != page::kFailureOrReport) {
    InstallStart();
    return;
  }
  if (phase_ == phase::kReportFinished) {
    EndRun(0);
    return;
  }
  std::optional<plan::ReportData> report = dialogs_.AskProblemReport();
  if (!report) return;
  view_.Enable(control::kInstallNow, false);
  report->message = platform::ReplaceAll(platform::ReplaceAll(report->message, "\r\n", "<br/>"), " ", "&nbsp;");
  plan_.clear();
  plan::PlanStep step(plan::StepType::ProblemReport);
  step.ReportData = *report;
  plan_.push_back(step);
  Dispatch();
}

void CMainDlg::InstallStart() {
  if (!Silent() && !options_.uninstall && !sys::CheckRunningApplications(dialogs_.CloseApplicationsPrompt())) return;
  services_.statistic->Begin(!options_.uninstall, options_.installId, options_.product);
  CleanApplicationList61();
  CleanApplicationList157();
  if (!EnoughFreeSpace()) return;
  if (OlderThanWindows7Sp1() && !Silent()) {
    dialogs_.ShowSystemTooOld(UiText(143));
    EndRun(0);
    return;
  }
  services_.snapshot->WriteToLog();
  if (!Silent()) {
    options_.useExtension = view_.Checked(control::kAssociationBox);
    options_.createDesktopShortcuts = view_.Checked(control::kDesktopShortcutBox);
  }
  services_.snapshot->RememberChoices({installFolder_, view_.Checked(control::kStatisticsBox), options_.useExtension,
                                       options_.createDesktopShortcuts, !Silent()});

  view_.Show(control::kStartAnimation, false);
  const bool install_welcome = page_ == page::kWelcome;
  if (install_welcome) services_.analytics->Event("installNow");
  page_ = page::kProgress;
  phase_ = phase::kWorking;
  view_.ShowPage(page_, options_.uninstall);
  if (install_welcome) {
    const std::string chosen = view_.Text(control::kFolderPath);
    if (!chosen.empty()) installFolder_ = chosen;
    if (!sys::FolderExists(installFolder_)) log::Debug("custom install path:%s not exist!", installFolder_.c_str());
  }

  dispatching_ = false;
  if (HostMode()) {
    ReportToHost(app::host_status::kWaitingForCommands, nullptr);
    return;
  }
  if (options_.uninstall || !options_.product.empty()) {
    window_->Loop().Post(handle_, msg::kBuildPlan);
  } else {
    FetchConfiguration(false);
  }
}

// Three whole GiB on the install drive and the temporary drive; false ends Install Now (or the run).
bool CMainDlg::EnoughFreeSpace() {
  std::uint64_t install_free = 0, total = 0;
  sys::FreeDiskSpace(installFolder_, install_free, total);
  log::Debug("Install path :%s Partition size:%d GB\n", installFolder_.c_str(), static_cast<int>(install_free));
  std::uint64_t temp_free = kRequiredFreeGib;
  const std::string temp = platform::Drive().KnownFolderPath(platform::KnownFolder::kTemp);
  if (temp.empty()) {
    log::Debug("Get Temp folder failed");
  } else {
    sys::FreeDiskSpace(temp, temp_free, total);
  }
  if (options_.uninstall || options_.daemon) return true;
  if (install_free < kRequiredFreeGib || temp_free < kRequiredFreeGib) {
    if (Silent()) {
      EndRun(app::kExitLowDiskSpace);
      app::ExitCodeOverride() = 0;  // so the loop's 6016 becomes the exit code
      return false;
    }
    if (!view_.SettingsOpen()) view_.ToggleSettings();
    view_.MarkShortOfSpace(true);
    dialogs_.ShowMessageBox(UiText(251), kCaption);
    return false;
  }
  if (!sys::IsFolderWritable(installFolder_)) {
    if (Silent()) {
      // Nobody can answer a message box here: the run ends as failed instead of waiting for ever.
      log::Error("Install folder has no write permission: %s", installFolder_.c_str());
      EndRun(0);
      return false;
    }
    dialogs_.ShowMessageBox(UiText(384), kCaption);
    return false;
  }
  return true;
}

// The page the close command opens afterwards, by what the window shows.
std::optional<ProductPage> CMainDlg::ClosingPage() const {
  if (!OpensProductPages()) return std::nullopt;
  if (phase_ == phase::kWorking || phase_ == phase::kFailure || phase_ == phase::kReportFinished) {
    return ProductPage::kGeneral;
  }
  if (phase_ == phase::kCompleted) return CompletedRunPage(options_.uninstall, options_.product);
  return std::nullopt;
}

void CMainDlg::OnClose() {
  const std::optional<ProductPage> product_page = ClosingPage();
  if (phase_ == phase::kCompleted) {
    if (!succeededList_.empty()) log::Debug("Success app list: \n%s", succeededList_.c_str());
    if (!failedList_.empty()) log::Debug("Failed app list: \n%s", failedList_.c_str());
  }
  services_.analytics->Event("closeInstaller");

  if (phase_ == phase::kFailure || phase_ == phase::kReportFinished) {
    services_.statistic->Send();
    EndRun(-1);
    return;
  }
  if (phase_ != phase::kCompleted) {
    const bool uninstall_welcome = phase_ == phase::kWelcome && options_.uninstall;
    if (!uninstall_welcome) {
      if (ShowConfirmDialog(UiText(144), kCaption) != kAnswerRetry) return;
      services_.statistic->Note(StatisticNote::kCancelled);
    }
  }
  services_.statistic->Send();
  if (restartRequired_ && !Silent() && OfferRestart()) return;
  if (product_page) OpenProductPage(*product_page);
  EndRun(0);
}

void CMainDlg::BrowseForFolder() {
  const std::optional<std::string> chosen = dialogs_.BrowseForFolder(installFolder_);
  if (!chosen) return;
  if (!sys::IsFolderWritable(*chosen)) {
    dialogs_.ShowMessageBox(UiText(384), kCaption);
    return;
  }
  installFolder_ = *chosen;
  view_.SetText(control::kFolderPath, installFolder_);
  bool short_of_space = false;
  view_.SetText(control::kFreeSpaceLabel, FreeSpaceText(installFolder_, short_of_space));
  view_.MarkShortOfSpace(short_of_space);
}

void CMainDlg::OnSelfUpdateNotNeeded() {
  log::Debug("Checking self update Succ.\r\n");
  if (traits_.installationSettingsOffered) {
    view_.Enable(control::kInstallationSettings, false);
    FetchConfiguration(true);
  }
  // An automatic Install Now may have run before the answer came: the welcome page stays behind it.
  if (phase_ != phase::kWelcome) return;
  ShowStartPage();
  if (options_.uninstall) {
    view_.Enable(control::kInstallNow, true);
    view_.Focus(control::kInstallNow);
  } else {
    view_.SetCheck(control::kLicenceBox, false);
    view_.Enable(control::kInstallNow, false);
    view_.Focus(control::kLicenceBox);
  }
}

}  // namespace orvo::flow
