#include "flow/main_controller.h"
#include "flow/ui_texts.h"
#include "ui/ui_strings.h"

#include <algorithm>

#include "app/log.h"
#include "deploy/installed_products.h"
#include "flow/config_source.h"
#include "flow/progress_schedule.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "platform/system_drive.h"
#include "platform/text.h"
#include "system/file_helpers.h"

namespace orvo::flow {

namespace {

constexpr const char* kSharedSettingsKey = "Software\\Orvo\\Shared";

bool IsInstallLike(plan::StepType type) {
  return type == plan::StepType::PrerequisiteInstall || type == plan::StepType::PackageInstall ||
         type == plan::StepType::Uninstall;
}

}  // namespace

CMainDlg::CMainDlg(app::RunOptions& options, MainView& view, Dialogs& dialogs, RunServices services)
    : options_(options), view_(view), dialogs_(dialogs), services_(std::move(services)), traits_(options.installId) {}

CMainDlg::~CMainDlg() {
  // The worker has posted its result or is about to; it reads nothing of ours after that.
  if (workerThread_.joinable()) workerThread_.join();
}

void CMainDlg::OnDestroy() { services_.analytics->ApplicationClosing(); }

bool CMainDlg::OnInitDialog(app::MainWindow& window) {
  window_ = &window;
  handle_ = window.Handle();
  platform::MessageLoop& loop = window.Loop();
  // Host mode: the host reaches the window from its own process.
  if (HostMode()) hostChannel_ = std::make_unique<platform::CopyDataReceiver>(loop, handle_);
  reporter_ = std::make_unique<app::HostReporter>(handle_, HostMode(), options_.hostWindow);
  requests_ = std::make_unique<net::RequestOwner>(loop, handle_, *this);

  app::WorkingFolders folders;
  if (!app::PrepareWorkingFolders(options_, folders)) return false;
  localConfigFolder_ = folders.localConfigFolder;
  workFolder_ = folders.workFolder;
  localConfigFound_ = FindLocalConfiguration(localConfigFolder_).has_value();
  if (!localConfigFound_ && !traits_.managedDeployment) StartRetrySettingsRequest();

  app::OpenRunLog(options_, folders);
  msiLogPath_ = folders.msiLogPath;
  if (ui::CurrentStringsLanguage() == 0) ui::LoadStrings(ui::kLanguageEnglishUs);
  view_.SetWindowTitle(std::string("Orvo Installer ") + app::kInstallerVersion);

  installFolder_ = platform::JoinPath(platform::Drive().KnownFolderPath(platform::KnownFolder::kProgramFiles), "Orvo");
  if (!options_.installPath.empty()) installFolder_ = options_.installPath;
  if (!sys::IsFolderWritable(installFolder_)) {
    log::Error("Install folder has no write permission: %s", installFolder_.c_str());
    installFolder_ =
        platform::JoinPath(platform::Drive().KnownFolderPath(platform::KnownFolder::kRoamingAppData), "OrvoApps");
    log::Debug("Change to the new install folder: %s", installFolder_.c_str());
  }
  view_.SetText(control::kFolderPath, installFolder_);

  platform::Registry& registry = platform::Reg();
  registry.CreateKey(platform::Hive::kCurrentUser, kSharedSettingsKey);
  const auto select_language = registry.ReadDword(platform::Hive::kCurrentUser, kSharedSettingsKey, "SelectLanguage");
  view_.Show(control::kLanguage, select_language.value_or(0) != 0);

  ShowStartPage();
  view_.SetCheck(control::kLicenceBox, options_.uninstall);
  view_.SetCheck(control::kStatisticsBox, !traits_.managedDeployment);
  view_.Enable(control::kStatisticsBox, !traits_.managedDeployment);
  view_.SetCheck(control::kAssociationBox, true);
  registry.CreateKey(platform::Hive::kLocalMachine, deploy::kOrvopackKey);

  log::Debug("Installer ID:%s  ", options_.installId.c_str());
  log::Debug("SilentMode:%d strInstallPath:%s UseExtension:%d", options_.silent ? 1 : 0, options_.installPath.c_str(),
             options_.useExtension ? 1 : 0);
  if (options_.acceptEula) {
    log::Debug("The parameter /accepteula=yes, automatic install");
    loop.Post(handle_, platform::kWmCommand, control::kInstallNow);
  }
  view_.ShowWindow(!Silent());

  if (options_.selfUpdate && !localConfigFound_) {
    services_.selfUpdate->StartCheck(loop, handle_, true);
  } else if (traits_.installationSettingsOffered) {
    view_.Enable(control::kInstallationSettings, false);
    FetchConfiguration(true);
  }
  view_.Enable(control::kInstallNow, options_.uninstall);
  if (options_.uninstall) view_.Focus(control::kInstallNow);
  return true;
}

void CMainDlg::ShowStartPage() {
  phase_ = phase::kWelcome;
  page_ = options_.uninstall ? page::kUninstallWelcome : page::kWelcome;
  view_.ShowPage(page_, options_.uninstall);
  view_.Repaint();
}

std::intptr_t CMainDlg::OnMessage(app::MainWindow& /*window*/, const platform::Message& message) {
  switch (message.id) {
    case platform::kWmCommand: OnCommand(static_cast<int>(message.wparam & 0xFFFF)); return 0;
    case platform::kWmTimer: OnTimer(message.wparam); return 0;
    case platform::kWmClose: OnClose(); return 0;
    case platform::kWmCopyData:
      if (reporter_ && message.lparam != 0) {
        HandleHostCommand(HostMode(), *reinterpret_cast<const platform::CopyData*>(message.lparam), *this, *reporter_);
      }
      return 1;
    case msg::kBuildPlan: OnBuildPlan(); return 0;
    case msg::kStepDownload: OnStepDownload(); return 0;
    case msg::kStepFinish: OnStepFinish(); return 0;
    case msg::kDownloadDone: OnDownloadDone(); return 0;
    case msg::kDownloadFailed: OnDownloadFailed(message.wparam); return 0;
    case msg::kInstallResult: OnInstallResult(message.wparam, message.lparam); return 0;
    case msg::kStepInstall: OnStepInstall(); return 0;
    case msg::kStepFetchConfig: OnStepFetchConfig(); return 0;
    case msg::kConfigError: OnConfigError(message.wparam); return 0;
    case msg::kStepReport: OnStepReport(); return 0;
    case msg::kReportSent:
    case msg::kReportFailed: OnReportResult(); return 0;
    case msg::kStepFailed: OnStepFailed(); return 0;
    case msg::kStepUninstall: OnStepUninstall(); return 0;
    case msg::kStepRestartInstaller: OnStepRestartInstaller(); return 0;
    case msg::kSettingsConfigReady:
      log::Debug("Download Succ - ini file for settings.\r\n");
      settingsConfigReady_ = true;
      if (traits_.installationSettingsOffered) {
        view_.Enable(control::kInstallationSettings, true);
        view_.Repaint();
      }
      return 0;
    case msg::kSelfUpdateChecked:
      // The two texts belong to the receiver; the update itself is the self-update's business.
      delete reinterpret_cast<std::string*>(message.wparam);
      delete reinterpret_cast<std::string*>(message.lparam);
      return 0;
    case msg::kSetProgress: SetProgress(static_cast<int>(message.wparam)); return 0;
    case msg::kSelfUpdateNotNeeded: OnSelfUpdateNotNeeded(); return 0;
    default: return 0;
  }
}

void CMainDlg::OnCommand(int command) {
  switch (command) {
    case control::kInstallNow: InstallNow(); break;
    case control::kClose:
    case control::kCloseButton: OnClose(); break;
    case control::kCompletionButtonA:
    case control::kCompletionButton: OnCompletionButton(); break;
    case control::kMinimise: view_.Minimise(); break;
    case control::kCustomize: view_.ToggleSettings(); break;
    case control::kBrowseFolder: BrowseForFolder(); break;
    case control::kLicenceBox:
      if (page_ == page::kWelcome || page_ == page::kUninstallWelcome) {
        view_.Enable(control::kInstallNow, view_.Checked(control::kLicenceBox));
      }
      break;
    case control::kStatisticsInfo:
      if (page_ == page::kWelcome) dialogs_.ShowStatisticsInformation();
      break;
    default: break;
  }
}

void CMainDlg::OnTimer(std::uintptr_t id) {
  switch (id) {
    case timer::kDownloadProgress: requests_->OnProgressTimer(); break;
    case timer::kProgressCreep: OnProgressCreep(); break;
    case timer::kCloseCountdown: OnCloseCountdown(); break;
    case timer::kRetryCountdown: OnRetryCountdown(); break;
    default: break;
  }
}

plan::BuildInputs CMainDlg::BuildInputs() const {
  const platform::SystemProfile& profile = platform::Current().profile;
  plan::BuildInputs inputs;
  inputs.uninstall = options_.uninstall;
  inputs.product = options_.product;
  inputs.silent = options_.silent;
  inputs.hostMode = options_.daemon;
  inputs.createDesktopShortcuts = options_.createDesktopShortcuts;
  inputs.localConfigFolder = localConfigFolder_;
  inputs.workFolder = workFolder_;
  inputs.msiLogPath = msiLogPath_;
  inputs.windows64 = profile.windows64;
  inputs.windowsMajor = profile.version.major;
  inputs.windowsMinor = profile.version.minor;
  return inputs;
}

// The builder extends the install root by the suite's folder, so it gets the root and the controller keeps
// what comes back.
plan::Plan CMainDlg::BuildWith(const std::function<plan::Plan(plan::PlanBuilder&)>& build) {
  suite_.installFolder = installFolder_;
  plan::PlanBuilder builder(BuildInputs(), plan::Selection(), suite_, checks_,
                            products_ ? *products_ : plan::RegisteredProducts());
  plan::Plan built = build(builder);
  installFolder_ = suite_.installFolder;
  return built;
}

void CMainDlg::OnBuildPlan() {
  plan::Plan built;
  if (options_.uninstall) {
    built = BuildWith([&](plan::PlanBuilder& b) { return b.BuildUninstallPlan(options_.product); });
  } else if (options_.product.empty()) {
    if (configPath_.empty()) return;
    built = BuildWith([&](plan::PlanBuilder& b) { return b.BuildPlanFromFile(configPath_); });
    ShowInstallingTexts();
  } else {
    built = BuildWith([&](plan::PlanBuilder& b) { return b.BuildPlanFromItems(options_.product); });
  }
  plan_ = std::move(built);
  plan::DumpPlan(plan_);
  installStepTotal_ = InstallLikeSteps();
  Dispatch();
}

// The progress page's title and message stop speaking of the configuration fetch, once.
void CMainDlg::ShowInstallingTexts() {
  if (!fetchTexts_) return;
  fetchTexts_ = false;
  view_.SetText(control::kTitle, ProductNamed(148, suite_.productName));
  view_.SetMessageLink(ProductNamed(347, suite_.productName));
}

void CMainDlg::Dispatch() {
  while (true) {
    if (!WindowAlive()) return;
    if (plan_.empty()) {
      dispatching_ = false;
      return;
    }
    dispatching_ = true;
    currentStep_ = plan_.front();
    log::Debug("Start Install Action");
    const plan::DownloadData& d = currentStep_.download_data;
    if (!d.UpdateType.empty()) {
      log::Debug("----------------internal download data-----------------\n UpdateType:%s  ReleaseNotes:%s URL:%s "
                 "DisplayName:%s ByteSize:%ld Name:%s",
                 d.UpdateType.c_str(), d.ReleaseNotes.c_str(), d.URL.c_str(), d.DisplayName.c_str(),
                 static_cast<long>(d.ByteSize), d.Name.c_str());
    }
    const plan::InstallData& i = currentStep_.install_data;
    if (!i.UpdateType.empty()) {
      log::Debug("----------------internal install data-----------------\n UpdateType:%s  InstallType:%d  Name:%s "
                 "FilePath:%s DisplayName:%s Upgrade_code:%s \n CommandLineParameter:%s InstallFolder:%s "
                 "checkVersionFile:%s \n uninstallId:%s version:%s preexecfile:%s",
                 i.UpdateType.c_str(), static_cast<int>(i.InstallType), i.Name.c_str(), i.FilePath.c_str(),
                 i.DisplayName.c_str(), i.Upgrade_code.c_str(), i.CommandLineParameter.c_str(),
                 i.InstallFolder.c_str(), i.checkVersionFile.c_str(), i.uninstallId.c_str(), i.version.c_str(),
                 i.preexecfile.c_str());
    }
    std::uint32_t message = 0;
    std::uintptr_t wparam = 0;
    switch (currentStep_.type) {
      case plan::StepType::ShowFailure: message = msg::kStepFailed; break;
      case plan::StepType::FetchConfiguration: message = msg::kStepFetchConfig; break;
      case plan::StepType::PrerequisiteDownload:
      case plan::StepType::PackageDownload: message = msg::kStepDownload; break;
      case plan::StepType::ProblemReport: message = msg::kStepReport; break;
      case plan::StepType::PrerequisiteInstall:
      case plan::StepType::PackageInstall: message = msg::kStepInstall; break;
      case plan::StepType::Finish: message = msg::kStepFinish; break;
      case plan::StepType::ConfigurationError: message = msg::kConfigError; break;
      case plan::StepType::Uninstall: message = msg::kStepUninstall; break;
      case plan::StepType::RestartInstaller: message = msg::kStepRestartInstaller; break;
    }
    if (message != 0) {
      window_->Loop().Post(handle_, message, wparam);
      return;
    }
    plan_.pop_front();  // a type the dispatcher does not know loses only that step
  }
}

void CMainDlg::DispatchIfIdle() {
  if (!dispatching_) Dispatch();
}

void CMainDlg::TakeFrontStep() {
  if (plan_.empty()) return;
  currentStep_ = plan_.front();
  plan_.pop_front();
}

void CMainDlg::AppendSteps(const plan::Plan& steps) { plan_.insert(plan_.end(), steps.begin(), steps.end()); }

void CMainDlg::AppendFinishStep() { plan_.emplace_back(plan::StepType::Finish); }

int CMainDlg::AppendInstallProducts(const std::string& list) {
  const plan::Plan steps = BuildWith([&](plan::PlanBuilder& b) { return b.BuildPlanFromItems(list); });
  AppendSteps(steps);
  return static_cast<int>(steps.size());
}

int CMainDlg::AppendUninstallProducts(const std::string& list) {
  const plan::Plan steps = BuildWith([&](plan::PlanBuilder& b) { return b.BuildUninstallPlan(list); });
  AppendSteps(steps);
  return static_cast<int>(steps.size());
}

void CMainDlg::SetProgress(int percent) {
  percent = std::clamp(percent, 0, 100);
  if (percent == progress_) return;
  progress_ = percent;
  view_.SetProgress(percent);
}

void CMainDlg::ReportDownloadPercent(int percent) { ReportToHost(app::host_status::kDownloadProgress, &currentStep_, percent); }

void CMainDlg::ReportToHost(int status, const plan::PlanStep* step, int progress, int error) {
  if (reporter_) reporter_->ReportToHost(status, step, progress, error);
}

int CMainDlg::InstallLikeSteps() const {
  return static_cast<int>(
      std::count_if(plan_.begin(), plan_.end(), [](const plan::PlanStep& s) { return IsInstallLike(s.type); }));
}

std::string CMainDlg::StepCounterText(CounterKind kind, const std::string& text) const {
  const int number = installStepTotal_ - InstallLikeSteps() + (kind == CounterKind::kDownload ? 1 : 0);
  const char* format = kind == CounterKind::kUninstall ? "(%d/%d) %s" : "(%d/%d) %s...";
  return platform::Format(format, number, installStepTotal_, text.c_str());
}

std::string CMainDlg::ProductText(const std::string& display_name, bool system_components, bool orvo_components) const {
  if (system_components) return ProductNamed(381, display_name);
  if (orvo_components) return ProductNamed(382, display_name);
  return display_name;
}

void CMainDlg::SetProductStatusLine(CounterKind kind, int string_id, const std::string& product_text) {
  view_.SetText(control::kStatusLine,
                StepCounterText(kind, ProductNamed(string_id, product_text)));
}

int CMainDlg::ShowRetryDialog(const std::string& message, const std::string& caption, bool retry_offered,
                              bool help_link) {
  if (Silent()) return kAnswerCancel;
  platform::MessageLoop& loop = window_->Loop();
  if (retry_offered && retry_->numbers.load() >= currentStep_.download_data.RetryCount) {
    retryCountdown_ = retry_->interval.load();
    loop.SetTimer(handle_, timer::kRetryCountdown, 1000);
  }
  const ErrorDialogRequest request{message, caption, UiText(255), UiText(256), retry_offered, help_link};
  const int answer = dialogs_.ShowErrorDialog(request);
  if (loop.IsWindow(handle_)) loop.KillTimer(handle_, timer::kRetryCountdown);
  return answer;
}

int CMainDlg::ShowConfirmDialog(const std::string& message, const std::string& caption) {
  if (Silent()) return kAnswerCancel;
  return dialogs_.ShowConfirmDialog(message, caption, UiText(257), UiText(256));
}

void CMainDlg::OnRetryCountdown() {
  platform::MessageLoop& loop = window_->Loop();
  OpenErrorDialog* dialog = dialogs_.CurrentErrorDialog();
  if (dialog == nullptr) {
    loop.KillTimer(handle_, timer::kRetryCountdown);
    return;
  }
  if (retryCountdown_ >= 0) {
    dialog->SetRetryText(platform::Format("%s (%ds)", UiText(255).c_str(), retryCountdown_));
    --retryCountdown_;
    loop.SetTimer(handle_, timer::kRetryCountdown, 1000);
    return;
  }
  loop.KillTimer(handle_, timer::kRetryCountdown);
  dialog->PressRetry();
}

void CMainDlg::StartProgressCreep(std::uint32_t period_ms) {
  window_->Loop().SetTimer(handle_, timer::kProgressCreep, period_ms);
}

void CMainDlg::OnProgressCreep() {
  if (progress_ > 100) {
    SetProgress(100);
    return;
  }
  if (progress_ >= 99) return;
  SetProgress(progress_ + 1);
  if (currentStep_.type == plan::StepType::Uninstall) return;  // uninstalls keep their interval
  if (const auto period = NextCreepPeriod(progressFromDownload_, progress_)) StartProgressCreep(*period);
}

bool CMainDlg::WindowAlive() const { return window_ != nullptr && window_->Loop().IsWindow(handle_); }

void CMainDlg::EndRun(int value) {
  window_->EndRun(value);
}

}  // namespace orvo::flow
