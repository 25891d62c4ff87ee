// The finish step, the completed page and its button: restart offer, product start, product page, end.
#include "app/log.h"
#include "deploy/installed_products.h"
#include "flow/completion.h"
#include "flow/main_controller.h"
#include "flow/ui_texts.h"
#include "platform/text.h"
#include "system/file_helpers.h"

namespace orvo::flow {

namespace {

constexpr int kCloseCountdownSeconds = 30;

std::string CountdownText(int seconds) {
  return platform::ReplaceAll(UiText(356), "[30]", std::to_string(seconds));
}

}  // namespace

void CMainDlg::OnStepFinish() {
  services_.statistic->Send();
  TakeFrontStep();
  ShowCompletedPage();
  std::string title;
  std::string description;
  if (options_.uninstall) {
    title = UiText(354);
    description = UiText(355);
  } else if (traits_.hubOnly) {
    title = platform::ReplaceAll(UiText(349), "[ORVOSTART]", "Orvo Start");
    description = UiText(348);
  } else {
    title = UiText(350);
    if (traits_.benchmark || traits_.managedDeployment) {
      description = UiText(371);
    } else if (suite_.startAppId == -1 || suite_.startAppId == 213) {
      description = UiText(351);
    } else {
      description = platform::ReplaceAll(UiText(383), "[APPNAME]", suite_.productName);
    }
  }
  view_.SetText(control::kTitle, title);
  view_.SetText(control::kDescription, description);
  view_.Show(control::kTitle, true);
  view_.Show(control::kDescription, true);
  view_.Repaint();
  log::Debug("All finished.\r\n");
  Dispatch();
}

void CMainDlg::ShowCompletedPage() {
  services_.analytics->ScreenView("installCompleted");
  phase_ = phase::kCompleted;
  page_ = page::kCompleted;
  view_.ShowPage(page_, options_.uninstall);
  if (options_.uninstall) {
    view_.SetText(control::kCompletionButton, UiText(142));
    closeCountdown_ = kCloseCountdownSeconds;
    view_.SetText(control::kCloseCountdownLabel, CountdownText(closeCountdown_));
    view_.Show(control::kCloseCountdownLabel, true);
    window_->Loop().SetTimer(handle_, timer::kCloseCountdown, 1000);
  } else {
    const bool launches = !suite_.launchFile.empty() || suite_.startAppId >= 0;
    view_.SetText(control::kCompletionButton, UiText(launches ? 149 : 142));
    if (!Silent() && !HostMode() && !installFolder_.empty()) UpdateHubSettings(installFolder_);
  }
  view_.Show(control::kCompletionButton, true);
  view_.Show(control::kTitle, false);
  view_.Show(control::kDescription, false);
  if (Silent()) window_->Loop().Post(handle_, platform::kWmCommand, control::kCompletionButton);
}

void CMainDlg::OnCloseCountdown() {
  if (closeCountdown_ == 0) {
    window_->Loop().KillTimer(handle_, timer::kCloseCountdown);
    EndRun(0);
    return;
  }
  --closeCountdown_;
  view_.SetText(control::kCloseCountdownLabel, CountdownText(closeCountdown_));
}

// True when the computer restarts now (the run has ended then).
bool CMainDlg::OfferRestart() {
  if (!dialogs_.AskRestart()) return false;
  services_.restart->Restart();
  EndRun(0);
  return true;
}

void CMainDlg::OnCompletionButton() {
  ReportToHost(app::host_status::kRunEnding, nullptr);
  if (restartRequired_ && !Silent() && OfferRestart()) return;
  StartProduct();
  if (OpensProductPages()) {
    if (const auto page = CompletedRunPage(options_.uninstall, options_.product)) OpenProductPage(*page);
  }
  EndRun(0);
}

void CMainDlg::StartProduct() {
  const HowToStart how_to{options_.howToAppName, options_.howToUseCaseId, options_.howToStartApp};
  bool started = false;
  if (suite_.startAppId > 0) {
    const std::string path = deploy::NewestRegisteredFile(suite_.startAppId);
    log::Debug("Get application path by launchid : %s", path.c_str());
    if (!path.empty() && sys::FileExists(path)) started = LaunchApplication(path, how_to);
  }
  if (started || suite_.launchFile.empty()) return;
  std::string location;
  const std::string base = LaunchSearchFolder(installFolder_, &location);
  log::Debug("Installed path: %s, customInstallFolder: %s", location.c_str(), installFolder_.c_str());
  const std::string path = FindLaunchFile(base, suite_.launchFile);
  log::Debug("Launch application path is : %s", path.c_str());
  LaunchApplication(path, how_to);
}

}  // namespace orvo::flow
