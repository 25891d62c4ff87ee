// The install controller: the logic of the main window. It owns the run (folders, plan, flags), walks the
// plan one step at a time on the main window's thread, and learns the end of every long operation from a
// posted message. The window's look is the MainView's, the questions are the Dialogs', and the subsystems
// it calls out to are the RunServices'.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "app/host_channel.h"
#include "app/main_window.h"
#include "app/run_options.h"
#include "flow/completion.h"
#include "flow/controller_ids.h"
#include "flow/dialogs.h"
#include "flow/main_view.h"
#include "flow/run_services.h"
#include "net/request_owner.h"
#include "plan/plan_builder.h"
#include "plan/plan_model.h"
#include "platform/copy_data.h"

namespace orvo::flow {

// The retry settings, shared with the thread that fetches them (it may outlive the controller).
struct SharedRetrySettings {
  std::atomic<int> numbers{10};
  std::atomic<int> interval{30};
};

// The kind of a status line: downloads and installs end in "...", uninstalls do not.
enum class CounterKind { kDownload, kInstall, kUninstall };

class CMainDlg final : public app::WindowController, public net::RequestOwnerView, public app::HostCommandSink {
 public:
  CMainDlg(app::RunOptions& options, MainView& view, Dialogs& dialogs, RunServices services = {});
  ~CMainDlg() override;
  CMainDlg(const CMainDlg&) = delete;
  CMainDlg& operator=(const CMainDlg&) = delete;

  bool OnInitDialog(app::MainWindow& window) override;
  std::intptr_t OnMessage(app::MainWindow& window, const platform::Message& message) override;
  bool Succeeded() const override { return succeeded_; }
  bool RestartRequired() const override { return restartRequired_; }
  void OnDestroy() override;

  // SetProgress: 0..100; nothing when the bar shows the value already.
  void SetProgress(int percent) override;
  void ReportDownloadPercent(int percent) override;

  void SetInstallFolder(const std::string& folder) override { installFolder_ = folder; }
  void SetLaunchFile(const std::string& file) override { suite_.launchFile = file; }
  void AppendFinishStep() override;
  // Appends steps to the plan as they are; the host commands and the settings dialog add theirs this way.
  void AppendSteps(const plan::Plan& steps);
  int AppendInstallProducts(const std::string& list) override;
  int AppendUninstallProducts(const std::string& list) override;
  void DispatchIfIdle() override;

  // What tests and the user interface read.
  const plan::Plan& Plan() const { return plan_; }
  const plan::PlanStep& CurrentStep() const { return currentStep_; }
  int Phase() const { return phase_; }
  int PageId() const { return page_; }
  bool Dispatching() const { return dispatching_; }
  int InstallStepTotal() const { return installStepTotal_; }
  const std::string& InstallFolder() const { return installFolder_; }
  const std::string& WorkFolder() const { return workFolder_; }
  const std::string& ConfigPath() const { return configPath_; }
  const std::string& SucceededList() const { return succeededList_; }
  const std::string& FailedList() const { return failedList_; }
  int ConfigRetryCount() const { return configRetryCount_; }
  const plan::SuiteSettings& Suite() const { return suite_; }
  SharedRetrySettings& RetryNumbers() { return *retry_; }
  // Replaces the runtime detection of the plan builder (tests).
  void SetRuntimeChecks(plan::RuntimeChecks checks) { checks_ = std::move(checks); }
  // Replaces the product index of the plan builder (tests).
  void SetProductIndex(plan::InstalledProductIndex products) { products_ = std::move(products); }
  int Progress() const { return progress_; }

  // The status line: "(%d/%d) %s..." or, for an uninstall, "(%d/%d) %s".
  std::string StepCounterText(CounterKind kind, const std::string& text) const;

 private:
  // main_controller.cpp: the loop's side.
  void OnCommand(int command);
  void OnTimer(std::uintptr_t id);
  void OnBuildPlan();
  void ShowInstallingTexts();
  void Dispatch();
  void TakeFrontStep();
  plan::BuildInputs BuildInputs() const;
  plan::Plan BuildWith(const std::function<plan::Plan(plan::PlanBuilder&)>& build);
  void ShowStartPage();
  void EndRun(int value);
  bool WindowAlive() const;
  int ShowRetryDialog(const std::string& message, const std::string& caption, bool retry_offered, bool help_link);
  int ShowConfirmDialog(const std::string& message, const std::string& caption);
  void OnRetryCountdown();
  void ReportToHost(int status, const plan::PlanStep* step, int progress = 0, int error = 0);
  bool Silent() const { return options_.silent; }
  bool HostMode() const { return options_.daemon; }
  // Product pages open only in runs with a user, and never for managed or benchmark installer ids.
  bool OpensProductPages() const { return !Silent() && !traits_.managedDeployment && !traits_.benchmark; }
  // Steps of the plan that install or remove something (the counters count them).
  int InstallLikeSteps() const;
  void SetProductStatusLine(CounterKind kind, int string_id, const std::string& product_text);
  std::string ProductText(const std::string& display_name, bool system_components, bool orvo_components) const;
  void StartProgressCreep(std::uint32_t period_ms);

  // install_start.cpp: Install Now and the close command.
  void InstallNow();
  void InstallStart();
  bool EnoughFreeSpace();
  std::optional<ProductPage> ClosingPage() const;
  void OnClose();
  void BrowseForFolder();
  void OnSelfUpdateNotNeeded();

  // config_fetch.cpp
  void FetchConfiguration(bool for_settings);
  void OnStepFetchConfig();
  void OnConfigurationDownloaded();
  void OnConfigError(std::uintptr_t status);
  void StartRetrySettingsRequest();
  int StartDownload(const std::string& url, int job_type, const std::string& target, net::SharedFile file,
                    std::int64_t resume_offset, std::uint32_t success, std::uint32_t failure);

  // download_step.cpp
  void OnStepDownload();
  void OnDownloadDone();
  void OnComponentDownloaded();
  void OnDownloadFailed(std::uintptr_t status);
  void HandleBadDownload(bool invalid, std::uintptr_t status);
  std::optional<std::string> Md5Of(const std::string& path);

  // install_step.cpp
  void OnStepInstall();
  void OnStepUninstall();
  void OnStepRestartInstaller();
  void StartWorker(bool uninstall);
  void OnInstallResult(std::uintptr_t status, std::intptr_t code);
  void JudgePrerequisite(std::int32_t code);
  void InstallFailed(std::int32_t code);
  void CompleteProgressBar();
  void OnProgressCreep();

  // finish_step.cpp
  void OnStepFinish();
  void ShowCompletedPage();
  void OnCloseCountdown();
  void OnCompletionButton();
  void StartProduct();
  bool OfferRestart();

  // report_step.cpp
  void OnStepFailed();
  void OnStepReport();
  void OnReportResult();
  void SendProblemReport();

  app::RunOptions& options_;
  MainView& view_;
  Dialogs& dialogs_;
  RunServices services_;
  app::InstallerIdTraits traits_;
  app::MainWindow* window_ = nullptr;
  platform::WindowHandle handle_ = platform::kNoWindow;
  std::unique_ptr<net::RequestOwner> requests_;
  std::unique_ptr<app::HostReporter> reporter_;
  std::unique_ptr<platform::CopyDataReceiver> hostChannel_;
  plan::RuntimeChecks checks_ = plan::MachineRuntimeChecks();
  std::optional<plan::InstalledProductIndex> products_;  // the registry's index at each build when unset

  plan::Plan plan_;
  plan::PlanStep currentStep_;
  bool dispatching_ = false;
  int page_ = page::kNone;
  int phase_ = phase::kNone;
  bool succeeded_ = false;
  bool restartRequired_ = false;
  bool prerequisiteFailed_ = false;
  int installStepTotal_ = 0;
  int configRetryCount_ = 0;
  std::shared_ptr<SharedRetrySettings> retry_ = std::make_shared<SharedRetrySettings>();
  plan::PlanStep configStep_;
  std::string configPath_;
  std::string workFolder_;
  std::string localConfigFolder_;
  std::string installFolder_;
  std::string msiLogPath_;
  std::string succeededList_;
  std::string failedList_;
  bool settingsConfigReady_ = false;
  bool localConfigFound_ = false;
  bool fetchTexts_ = true;  // the progress page still shows the configuration-fetch texts
  std::thread workerThread_;
  int downloadRequestId_ = 0;
  int settingsRequestId_ = 0;  // the early configuration download for the settings dialog
  plan::SuiteSettings suite_;
  int retryCountdown_ = 0;
  int closeCountdown_ = 30;
  int progress_ = 0;
  bool progressFromDownload_ = false;  // timer 4's schedule: the step started at 51
};

}  // namespace orvo::flow
