#include "app/main_window.h"

#include "app/log.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/system_drive.h"

namespace orvo::app {

MainWindow::MainWindow(platform::MessageLoop& loop, WindowController& controller)
    : loop_(loop), controller_(controller) {}

MainWindow::~MainWindow() {
  if (handle_ != platform::kNoWindow && !destroyed_) loop_.DestroyWindow(handle_);
}

bool MainWindow::Create() {
  handle_ = loop_.CreateWindow([this](const platform::Message& message) -> std::intptr_t {
    if (message.id == platform::kWmDestroy) {
      OnDestroyed();
      return 0;
    }
    return controller_.OnMessage(*this, message);
  });
  if (!controller_.OnInitDialog(*this)) {
    destroyed_ = true;  // a failed creation leaves no window and no shutdown work
    loop_.DestroyWindow(handle_);
    handle_ = platform::kNoWindow;
    return false;
  }
  return true;
}

void MainWindow::EndRun(int quit_value) {
  if (!destroyed_) loop_.DestroyWindow(handle_);
  loop_.PostQuit(quit_value);
}

// The main window's shutdown: the log is closed (later lines reach the debugger output only) and the
// exit-code override records whether the run succeeded.
void MainWindow::OnDestroyed() {
  if (destroyed_) return;
  destroyed_ = true;
  controller_.OnDestroy();
  log::Close();
  ExitCodeOverride() = controller_.Succeeded() ? 0 : -1;
}

int RunMainWindow(platform::MessageLoop& loop, WindowController& controller) {
  MainWindow window(loop, controller);
  if (!window.Create()) return 0;
  const int value = loop.Run();
  return controller.RestartRequired() ? 3010 : value;
}

int& ExitCodeOverride() {
  static int code = 0;
  return code;
}

bool PrepareWorkingFolders(const RunOptions& options, WorkingFolders& folders) {
  const std::string executable = platform::OwnExecutablePath();
  const std::size_t slash = executable.find_last_of('\\');
  const std::string module_folder = slash == std::string::npos ? std::string() : executable.substr(0, slash);
  folders.localConfigFolder = platform::JoinPath(module_folder, "OrvoInstaller");
  const std::string base =
      platform::JoinPath(platform::Drive().KnownFolderPath(platform::KnownFolder::kTemp), "OrvoInstaller");
  folders.workFolder = platform::JoinPath(base, options.installId);
  // Downloads run from here with full rights: a folder that someone else planted must not be used.
  for (const std::string& folder : {base, folders.workFolder}) {
    const std::uint32_t error = platform::fs::CreatePrivateFolder(folder);
    if (error != platform::error::kSuccess) {
      log::Error("The working folder is refused (error %u): %s", error, folder.c_str());
      return false;
    }
  }
  return true;
}

bool OpenRunLog(const RunOptions& options, WorkingFolders& folders) {
  const bool opened = log::Open(folders.workFolder);
  log::Debug("%s", platform::OwnCommandLine().c_str());
  if (!options.howToAppName.empty()) {
    log::Debug("Get Start Info from how to web, appName: %s, usecaseId: %s, startApp: %s.",
               options.howToAppName.c_str(), options.howToUseCaseId.c_str(), options.howToStartApp.c_str());
  }
  folders.msiLogPath =
      platform::JoinPath(folders.workFolder, platform::FileTimeStamp(platform::LocalTimeNow()) + "_ISM.Log");
  return opened;
}

}  // namespace orvo::app
