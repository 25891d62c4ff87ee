#include "app/startup.h"

#include <cstdio>
#include <memory>
#include <random>

#include "app/log.h"
#include "app/main_window.h"
#include "app/strings.h"
#include "platform/copy_data.h"
#include "platform/file_system.h"
#include "platform/message_loop.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace orvo::app {

namespace {

constexpr const char* kCaption = "Orvo Installer";
constexpr const char* kProductListKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\orvopack\\0";
constexpr const char* kUninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

void ShowMessage(int string_id, std::string_view app_name = {}) {
  std::string text = StartupString(string_id);
  if (!app_name.empty()) text = platform::ReplaceAll(text, "[AppName]", app_name);
  platform::Current().ui->MessageBox(text, kCaption, platform::kMbOk);
}

std::string RandomSuffix() {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device device;
  std::mt19937 generator(device());
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kAlphabet - 2);
  std::string suffix;
  for (int i = 0; i < 8; ++i) suffix += kAlphabet[pick(generator)];
  return suffix;
}

// The copy's folder is where an elevated program is started from: it must be ours alone.
bool CopyInto(const std::string& folder, const std::string& executable) {
  const std::uint32_t refused = platform::fs::CreatePrivateFolder(folder);
  if (refused != platform::error::kSuccess) {
    log::Error("The folder of the temporary copy is refused (error %u): %s", refused, folder.c_str());
    return false;
  }
  return platform::fs::CopyFile(executable, platform::JoinPath(folder, "OrvoInstaller.exe"), true) ==
         platform::error::kSuccess;
}

}  // namespace

bool CommonComponentStillNeeded() {
  platform::Registry& registry = platform::Reg();
  std::vector<platform::RegValue> products;
  if (registry.ListValues(platform::Hive::kLocalMachine, kProductListKey, products) != platform::error::kSuccess) {
    return false;
  }
  for (const auto& product : products) {
    if (product.type != platform::RegType::kString) continue;
    const std::string& id = product.text;
    if (id.find("Orvo Common") != std::string::npos) continue;
    if (registry.ReadString(platform::Hive::kLocalMachine, kUninstallKey + id, "DisplayName")) return true;
  }
  return false;
}

CopyOutcome StartTemporaryCopy() {
  const std::string executable = platform::OwnExecutablePath();
  if (executable.empty()) return CopyOutcome::kStarted;
  if (executable.find("OrvoUnInstaller") != std::string::npos) return CopyOutcome::kContinue;

  const std::string temp = platform::Drive().KnownFolderPath(platform::KnownFolder::kTemp);
  std::string folder = platform::JoinPath(temp, "OrvoUnInstaller");
  if (!CopyInto(folder, executable)) {
    folder = platform::JoinPath(temp, "OrvoUnInstaller_" + RandomSuffix());
    CopyInto(folder, executable);
  }
  platform::SpawnRequest request;
  request.application = platform::JoinPath(folder, "OrvoInstaller.exe");
  request.command_line = platform::OwnCommandLine();
  std::uint32_t error = 0;
  if (!platform::Current().launcher->Spawn(request, &error)) {
    std::printf("CreateProcess failed (%d).\n", static_cast<int>(error));
    std::fflush(stdout);
  }
  return CopyOutcome::kStarted;
}

int RunInstaller(RunOptions& options) {
  if (options.uninstall) {
    if (options.product.empty()) return kExitSuccess;
    if (options.product == "Orvo Common" && CommonComponentStillNeeded()) {
      ShowMessage(kStringCommonStillNeeded, "Orvo Start");
      return kExitSuccess;
    }
  }
  if (options.daemon && !platform::WindowExists(options.hostWindow)) return kExitSuccess;
  if ((options.uninstall || options.daemon) && StartTemporaryCopy() == CopyOutcome::kStarted) return kExitSuccess;

  // Held until the process ends.
  static std::unique_ptr<platform::NamedMutex> single_instance;
  if (!options.silent && !options.uninstall && options.mutexCheck) {
    single_instance = std::make_unique<platform::NamedMutex>("OrvoInstaller_Mutex");
    if (single_instance->Error() != platform::error::kSuccess) {
      ShowMessage(kStringAnotherInstallRunning);
      return kExitSuccess;
    }
  }

  platform::MessageLoop loop;
  std::unique_ptr<WindowController> controller = MakeMainController(options);
  const int value = RunMainWindow(loop, *controller);
  return ExitCodeOverride() != 0 ? ExitCodeOverride() : value;
}

}  // namespace orvo::app
