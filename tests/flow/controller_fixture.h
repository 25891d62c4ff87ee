// The install controller on a real message loop with scripted collaborators: a fresh system root with a
// recording launcher (nothing is started), the local account service over TLS (component files and the
// retry settings; every address of the run points at it), a view that keeps the history of the status line
// and the bar, an error dialog that answers from a script while it pumps the loop, and deploy workers that
// post scripted results from a thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/main_window.h"
#include "app/run_options.h"
#include "flow/dialogs.h"
#include "flow/main_controller.h"
#include "flow/main_view.h"
#include "flow/run_services.h"
#include "platform/message_loop.h"
#include "support/account_service.h"
#include "support/fake_host.h"
#include "support/recording_launcher.h"
#include "support/scoped_env.h"
#include "support/test_root.h"

namespace orvo::flow::test {

// Remembers as PageModel does and keeps every text of the status line (1018) and every bar value set.
class RecordingView final : public MainView {
 public:
  void SetWindowTitle(const std::string& title) override { model.SetWindowTitle(title); }
  void ShowWindow(bool visible) override { model.ShowWindow(visible); }
  void ShowPage(int page_id, bool uninstall) override { model.ShowPage(page_id, uninstall); }
  int Page() const override { return model.Page(); }
  void SetText(int control, const std::string& text) override;
  std::string Text(int control) const override { return model.Text(control); }
  void Show(int control, bool shown) override { model.Show(control, shown); }
  void Enable(int control, bool enabled) override { model.Enable(control, enabled); }
  void SetCheck(int control, bool checked) override { model.SetCheck(control, checked); }
  bool Checked(int control) const override { return model.Checked(control); }
  void SetMessageLink(const std::string& text) override { model.SetMessageLink(text); }
  void SetProgress(int percent) override;
  void Focus(int control) override { model.Focus(control); }
  bool SettingsOpen() const override { return model.SettingsOpen(); }
  void ToggleSettings() override { model.ToggleSettings(); }
  void MarkShortOfSpace(bool short_of_space) override { model.MarkShortOfSpace(short_of_space); }

  PageModel model;
  std::vector<std::string> statusLines;
  std::vector<int> progress;
};

// One answer of the scripted error dialog.
struct ErrorAnswer {
  int answer = kAnswerCancel;
  // The loop is pumped this long before the answer is given; a countdown may press Retry meanwhile.
  std::chrono::milliseconds pumpFirst{0};
  // The loop is pumped until the countdown presses Retry (at most kCountdownLimit; then `answer`).
  bool waitForCountdown = false;
};

// What one error dialog was asked to show and what became of it.
struct ShownError {
  ErrorDialogRequest request;
  std::vector<std::string> retryTexts;  // SetRetryText calls, in order
  bool pressedByCountdown = false;
  int answer = kAnswerCancel;
};

inline constexpr std::chrono::seconds kCountdownLimit{15};

class FakeDialogs final : public Dialogs, private OpenErrorDialog, private sys::CloseApplicationsPrompt {
 public:
  explicit FakeDialogs(platform::MessageLoop& loop) : loop_(loop) {}

  int ShowErrorDialog(const ErrorDialogRequest& request) override;
  OpenErrorDialog* CurrentErrorDialog() override { return open_ ? this : nullptr; }
  int ShowConfirmDialog(const std::string& message, const std::string& caption, const std::string& ok_text,
                        const std::string& cancel_text) override;
  void ShowMessageBox(const std::string& text, const std::string&) override { messageBoxes.push_back(text); }
  bool AskRestart() override {
    ++restartQuestions;
    return restartAnswer;
  }
  void ShowSystemTooOld(const std::string& text) override { tooOld.push_back(text); }
  std::optional<plan::ReportData> AskProblemReport() override { return report; }
  std::optional<std::string> BrowseForFolder(const std::string&) override { return browseAnswer; }
  void ShowStatisticsInformation() override {}
  sys::CloseApplicationsPrompt& CloseApplicationsPrompt() override { return *this; }

  // The answers of the error dialogs in order; when the script is empty, Cancel at once.
  std::deque<ErrorAnswer> errorScript;
  std::vector<ShownError> errors;
  int confirmAnswer = kAnswerCancel;
  std::vector<std::string> confirms;
  std::vector<std::string> messageBoxes;
  std::vector<std::string> tooOld;
  bool restartAnswer = false;
  int restartQuestions = 0;
  std::optional<plan::ReportData> report;
  std::optional<std::string> browseAnswer;

 private:
  void SetRetryText(const std::string& text) override;
  void PressRetry() override { pressed_ = true; }
  sys::CloseChoice Ask(const std::vector<std::string>&) override { return sys::CloseChoice::kCancel; }

  platform::MessageLoop& loop_;
  bool open_ = false;
  bool pressed_ = false;
};

// A worker's result: WM_INSTALL_RESULT's wParam (status) and lParam (exit code).
struct WorkerResult {
  std::uintptr_t status = 0;
  std::intptr_t code = 0;
};

// Records the steps it was given and posts the scripted result from a thread of its own.
class FakeWorkers final : public StepWorkers {
 public:
  std::thread StartInstall(const deploy::InstallerRunInputs& inputs, deploy::PostResult post) override;
  std::thread StartUninstall(const deploy::InstallerRunInputs& inputs, deploy::PostResult post) override;

  // The results of the next steps, in order; once they are used up every step answers (0, 0).
  void Script(std::vector<WorkerResult> results);
  std::vector<deploy::InstallerRunInputs> Installs() const;
  std::vector<deploy::InstallerRunInputs> Uninstalls() const;

  // Before its result a worker raises the bar to 96 (WM_SET_PROGRESS), so the controller's two-second
  // completion animation has nothing to do. Needs the window (Attach).
  void Attach(platform::MessageLoop& loop, platform::WindowHandle window);
  bool skipAnimation = true;

 private:
  std::thread Start(const deploy::InstallerRunInputs& inputs, deploy::PostResult post, bool uninstall);

  mutable std::mutex mutex_;
  std::deque<WorkerResult> script_;
  std::vector<deploy::InstallerRunInputs> installs_;
  std::vector<deploy::InstallerRunInputs> uninstalls_;
  platform::MessageLoop* loop_ = nullptr;
  platform::WindowHandle window_ = platform::kNoWindow;
};

struct HarnessOptions {
  std::string profile;  // system-profile.json of the root; empty: Windows 10 x64
  bool silent = false;
  bool host = false;  // host mode with a FakeHost (implies silent)
  std::string installId = "uqe9137";
};

// One controller with its window. The retry settings the service answers (7 and 9) have reached the
// controller when Start returns, so a test's own RetryNumbers() values are not overwritten later.
class ControllerHarness {
 public:
  static constexpr int kServedRetryNumbers = 7;
  static constexpr int kServedRetryInterval = 9;

  explicit ControllerHarness(const HarnessOptions& options = {});
  ~ControllerHarness();
  ControllerHarness(const ControllerHarness&) = delete;
  ControllerHarness& operator=(const ControllerHarness&) = delete;

  // Serves the bytes at /files/<name>; returns the address a configuration gives for them.
  std::string Publish(const std::string& name, const std::string& bytes) const;
  // Writes the bytes at the Windows path of the root and returns the path (a local "url").
  std::string PutLocal(const std::string& windows_path, const std::string& bytes) const;

  // Creates the window (the controller's initialisation) and waits for the retry settings.
  void Start();
  // Posts command 1008 (Install Now) to the window.
  void PressInstallNow();
  // Posts a copy-data command of the host to the window's handler, as the host's channel delivers it.
  void SendHostCommand(std::uint64_t kind, const std::string& text);

  // Pumps the loop until done() holds, a quit arrives or the time is up; returns done().
  bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(20));
  // Pumps until the run ends; its quit value, or nullopt when it did not end in time.
  std::optional<int> RunToEnd(std::chrono::milliseconds limit = std::chrono::seconds(30));

  // workFolder joined with the name.
  std::string WorkPath(const std::string& name) const;
  std::vector<nlohmann::json> FileRequests(const std::string& name) const;
  // The command lines of every process start, in order (the recording launcher starts nothing; a URL
  // reaches it through the stand-in "xdg-open" on PATH).
  std::vector<std::string> Started() const;

  CMainDlg& Controller() { return *controller_; }
  platform::WindowHandle Window() const { return window_->Handle(); }

  orvo::test::TestRoot root;
  std::shared_ptr<orvo::test::RecordingLauncher::Shared> launches;
  std::unique_ptr<orvo::test::AccountService> service;

 private:
  orvo::test::TempFolder tools_;  // the stand-in "xdg-open"
  std::vector<std::unique_ptr<orvo::test::ScopedEnv>> env_;
  std::unique_ptr<orvo::test::FakeHost> host_;

 public:
  platform::MessageLoop loop;
  app::RunOptions options;
  RecordingView view;
  FakeDialogs dialogs{loop};
  std::shared_ptr<FakeWorkers> workers = std::make_shared<FakeWorkers>();

  orvo::test::FakeHost& Host() { return *host_; }

 private:
  HarnessOptions harness_;
  std::unique_ptr<CMainDlg> controller_;
  std::unique_ptr<app::MainWindow> window_;  // goes first: its destruction still asks the controller
};

// Items of an "/install" list.
nlohmann::json SetupProgramItem(const std::string& id, const std::string& file, const std::string& url);
nlohmann::json ZipItem(const std::string& id, const std::string& file, const std::string& url);
nlohmann::json VcRuntimeItem(const std::string& file, const std::string& url);

// The lowercase MD5 text of the bytes.
std::string Md5Of(const orvo::test::TestRoot& root, const std::string& bytes);

}  // namespace orvo::flow::test
