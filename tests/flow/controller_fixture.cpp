#include "flow/controller_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>

#include "flow/controller_ids.h"
#include "flow/file_md5.h"
#include "platform/copy_data.h"
#include "platform/platform.h"

namespace orvo::flow::test {

using namespace std::chrono_literals;

void RecordingView::SetText(int control, const std::string& text) {
  if (control == control::kStatusLine) statusLines.push_back(text);
  model.SetText(control, text);
}

void RecordingView::SetProgress(int percent) {
  progress.push_back(percent);
  model.SetProgress(percent);
}

int FakeDialogs::ShowErrorDialog(const ErrorDialogRequest& request) {
  errors.push_back({request, {}, false, kAnswerCancel});
  const ErrorAnswer script = errorScript.empty() ? ErrorAnswer{} : errorScript.front();
  if (!errorScript.empty()) errorScript.pop_front();
  open_ = true;
  pressed_ = false;
  const auto start = std::chrono::steady_clock::now();
  const auto pump_end = start + (script.waitForCountdown ? std::chrono::milliseconds(kCountdownLimit) : script.pumpFirst);
  while (!pressed_ && std::chrono::steady_clock::now() < pump_end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(pump_end - std::chrono::steady_clock::now());
    if (!loop_.PumpOne(std::min(left, std::chrono::milliseconds(50)))) break;  // quit: stays pending
  }
  open_ = false;
  ShownError& shown = errors.back();
  shown.pressedByCountdown = pressed_;
  shown.answer = pressed_ ? kAnswerRetry : script.answer;
  return shown.answer;
}

void FakeDialogs::SetRetryText(const std::string& text) {
  if (!errors.empty()) errors.back().retryTexts.push_back(text);
}

int FakeDialogs::ShowConfirmDialog(const std::string& message, const std::string&, const std::string&,
                                   const std::string&) {
  confirms.push_back(message);
  return confirmAnswer;
}

std::thread FakeWorkers::StartInstall(const deploy::InstallerRunInputs& inputs, deploy::PostResult post) {
  return Start(inputs, std::move(post), false);
}

std::thread FakeWorkers::StartUninstall(const deploy::InstallerRunInputs& inputs, deploy::PostResult post) {
  return Start(inputs, std::move(post), true);
}

std::thread FakeWorkers::Start(const deploy::InstallerRunInputs& inputs, deploy::PostResult post, bool uninstall) {
  WorkerResult result;
  platform::MessageLoop* loop = nullptr;
  platform::WindowHandle window = platform::kNoWindow;
  {
    std::lock_guard guard(mutex_);
    (uninstall ? uninstalls_ : installs_).push_back(inputs);
    if (!script_.empty()) {
      result = script_.front();
      script_.pop_front();
    }
    if (skipAnimation) {
      loop = loop_;
      window = window_;
    }
  }
  return std::thread([post = std::move(post), result, loop, window] {
    if (loop != nullptr) loop->Post(window, msg::kSetProgress, 96);
    post(result.status, result.code);
  });
}

void FakeWorkers::Script(std::vector<WorkerResult> results) {
  std::lock_guard guard(mutex_);
  script_.assign(results.begin(), results.end());
}

std::vector<deploy::InstallerRunInputs> FakeWorkers::Installs() const {
  std::lock_guard guard(mutex_);
  return installs_;
}

std::vector<deploy::InstallerRunInputs> FakeWorkers::Uninstalls() const {
  std::lock_guard guard(mutex_);
  return uninstalls_;
}

void FakeWorkers::Attach(platform::MessageLoop& loop, platform::WindowHandle window) {
  std::lock_guard guard(mutex_);
  loop_ = &loop;
  window_ = window;
}

ControllerHarness::ControllerHarness(const HarnessOptions& options_in)
    : root(options_in.profile),
      launches(orvo::test::RecordingLauncher::Install()),
      service(orvo::test::AccountService::Start({.tls = true})),
      harness_(options_in) {
  if (!service) throw std::runtime_error("the account service did not start");
  service->AddFile("settings.json", nlohmann::json{{"download_retry_numbers", kServedRetryNumbers},
                                                   {"download_retry_interval", kServedRetryInterval}}
                                        .dump());
  const std::string base = service->BaseUrl();
  // Every address of the run leads to the local service; nothing leaves the machine.
  for (const char* name : {"ORVO_ACCOUNT_SERVICE", "ORVO_HELPDESK", "ORVO_REDIRECT_SERVICE"}) {
    env_.push_back(std::make_unique<orvo::test::ScopedEnv>(name, base));
  }
  env_.push_back(std::make_unique<orvo::test::ScopedEnv>("ORVO_CA_BUNDLE", service->CaFile().string()));
  env_.push_back(std::make_unique<orvo::test::ScopedEnv>(
      "ORVO_CONNECT_TO", "127.0.0.1:443:127.0.0.1:" + std::to_string(service->Port())));
  // Web pages go to the desktop's opener, found on PATH; the recording launcher only notes its start.
  const std::filesystem::path opener = tools_.Path() / "xdg-open";
  std::ofstream(opener) << "#!/bin/sh\nexit 0\n";
  std::filesystem::permissions(opener, std::filesystem::perms::owner_all);
  const char* path = std::getenv("PATH");
  env_.push_back(std::make_unique<orvo::test::ScopedEnv>(
      "PATH", tools_.Path().string() + (path != nullptr ? std::string(":") + path : std::string())));
  for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
    env_.push_back(std::make_unique<orvo::test::ScopedEnv>(name, std::nullopt));
  }

  options.installId = harness_.installId;
  options.silent = harness_.silent || harness_.host;
  if (harness_.host) {
    host_ = std::make_unique<orvo::test::FakeHost>();
    options.daemon = true;
    options.acceptEula = true;
    options.hostWindow = host_->Window();
  }
  RunServices services;
  services.workers = workers;
  controller_ = std::make_unique<CMainDlg>(options, view, dialogs, services);
  window_ = std::make_unique<app::MainWindow>(loop, *controller_);
}

ControllerHarness::~ControllerHarness() {
  // The window goes first (its shutdown asks the controller), then the controller joins its worker.
  window_.reset();
  controller_.reset();
}

std::string ControllerHarness::Publish(const std::string& name, const std::string& bytes) const {
  service->AddFile("files/" + name, bytes);
  return "https://127.0.0.1/files/" + name;
}

std::string ControllerHarness::PutLocal(const std::string& windows_path, const std::string& bytes) const {
  root.WriteFile(windows_path, bytes);
  return windows_path;
}

void ControllerHarness::Start() {
  ASSERT_TRUE(window_->Create());
  workers->Attach(loop, window_->Handle());
  if (app::InstallerIdTraits(options.installId).managedDeployment) return;  // no settings request
  SharedRetrySettings& retry = controller_->RetryNumbers();
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while ((retry.numbers != kServedRetryNumbers || retry.interval != kServedRetryInterval) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
  }
  ASSERT_EQ(retry.numbers.load(), kServedRetryNumbers);
  ASSERT_EQ(retry.interval.load(), kServedRetryInterval);
}

void ControllerHarness::PressInstallNow() {
  loop.Post(window_->Handle(), platform::kWmCommand, control::kInstallNow);
}

void ControllerHarness::SendHostCommand(std::uint64_t kind, const std::string& text) {
  const platform::CopyData data{kind, text};
  loop.Send(window_->Handle(), platform::kWmCopyData, static_cast<std::uintptr_t>(host_->Window()),
            reinterpret_cast<std::intptr_t>(&data));
}

bool ControllerHarness::PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done() && std::chrono::steady_clock::now() < deadline) {
    if (!loop.PumpOne(20ms)) break;
  }
  return done();
}

std::optional<int> ControllerHarness::RunToEnd(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (!loop.PumpOne(20ms)) return loop.Run();  // the quit is pending: Run returns its value at once
  }
  return std::nullopt;
}

std::string ControllerHarness::WorkPath(const std::string& name) const {
  return platform::JoinPath(controller_->WorkFolder(), name);
}

std::vector<nlohmann::json> ControllerHarness::FileRequests(const std::string& name) const {
  return service->RequestsTo("/files/" + name);
}

std::vector<std::string> ControllerHarness::Started() const {
  std::lock_guard guard(launches->mutex);
  std::vector<std::string> lines;
  for (const platform::SpawnRequest& request : launches->requests) lines.push_back(request.command_line);
  return lines;
}

nlohmann::json SetupProgramItem(const std::string& id, const std::string& file, const std::string& url) {
  return {{"id", id},           {"filename", file},           {"url", url},
          {"uninstallid", id},  {"displayname", "Product " + id}, {"mainfile", file}};
}

nlohmann::json ZipItem(const std::string& id, const std::string& file, const std::string& url) {
  return {{"id", id},          {"filename", file},           {"url", url},
          {"uninstallid", id}, {"displayname", "Package " + id}, {"mainfile", id + ".exe"}};
}

nlohmann::json VcRuntimeItem(const std::string& file, const std::string& url) {
  // The registry key does not exist on a fresh root, so the runtime counts as missing.
  return {{"uninstallid", "vcredist"},
          {"filename", file},
          {"url", url},
          {"parameter", "/install /quiet /norestart"},
          {"displayname", "Visual C++ Runtime"},
          {"minversion", "14.36.32532.0"},
          {"checkreg", "SOFTWARE\\Microsoft\\VisualStudio\\14.0\\VC\\Runtimes\\x86"}};
}

std::string Md5Of(const orvo::test::TestRoot& root, const std::string& bytes) {
  const std::string path = "C:\\md5-probe.bin";
  root.WriteFile(path, bytes);
  return FileMd5Text(path).value_or("");
}

}  // namespace orvo::flow::test
