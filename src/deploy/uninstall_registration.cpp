#include "deploy/uninstall_registration.h"

#include <cstdint>
#include <limits>
#include <optional>

#include "app/log.h"
#include "deploy/installed_products.h"
#include "platform/file_system.h"
#include "platform/platform.h"
#include "platform/system_drive.h"
#include "platform/text.h"
#include "platform/win_types.h"
#include "system/file_helpers.h"
#include "system/folders.h"
#include "system/installer_version.h"

namespace orvo::deploy {

namespace {

using platform::Hive;
namespace error = platform::error;

constexpr const char* kFallbackDisplayVersion = "1.0";

// Windows names one file by many texts (letter case, "/" for "\"); copying a file onto itself would
// truncate it, so the test is whether both texts reach the same file.
bool IsSameFile(std::string_view a, std::string_view b) {
  return platform::EqualsNoCase(a, b) || platform::fs::SameFile(a, b);
}

bool CopyIsNewer(std::string_view running_executable, std::string_view copy) {
  const std::string copy_version = sys::FileVersionText(copy);
  if (!copy_version.empty()) return sys::CompareVersions(sys::kInstallerVersion, copy_version) < 0;
  const std::optional<platform::fs::FileInfo> running = platform::fs::Stat(running_executable);
  const std::optional<platform::fs::FileInfo> existing = platform::fs::Stat(copy);
  return running && existing && existing->last_write_time > running->last_write_time;
}

// A name without any folder is what the deploy worker passes when it did not find the main file.
bool IsFoundFile(std::string_view path) {
  return path.find_first_of("\\/:") != std::string_view::npos && sys::FileExists(path);
}

std::uint32_t EstimatedSize(std::string_view location) {
  const std::uint64_t kilobytes = sys::FolderSize(location) / 1000;
  return kilobytes > std::numeric_limits<std::uint32_t>::max() ? std::numeric_limits<std::uint32_t>::max()
                                                                : static_cast<std::uint32_t>(kilobytes);
}

void WriteDisplayValues(const std::string& key, const plan::InstallData& data, std::string_view location,
                        std::string_view main_file_path) {
  platform::Registry& registry = platform::Reg();
  const std::string& name = data.DisplayName;
  log::Debug("Set Uninstall DisplayName:%s Length:%d", name.c_str(),
             static_cast<int>(platform::Utf8ToUtf16(name).size()));
  registry.SetString(Hive::kLocalMachine, key, "DisplayName", name);
  registry.SetString(Hive::kLocalMachine, key, "DisplayIcon", main_file_path);
  const std::string uninstall = "\"" + InstallerCopyPath() + "\" uninstall \"" + data.uninstallId + "\"";
  registry.SetString(Hive::kLocalMachine, key, "UninstallString", uninstall);
  registry.SetString(Hive::kLocalMachine, key, "QuietUninstallString", uninstall + " /silent");
  const std::string version =
      IsFoundFile(main_file_path) ? sys::FileVersionText(main_file_path) : std::string(kFallbackDisplayVersion);
  registry.SetString(Hive::kLocalMachine, key, "DisplayVersion", version);
  registry.SetString(Hive::kLocalMachine, key, "Publisher", kPublisher);
  registry.SetDword(Hive::kLocalMachine, key, "NoModify", 1);
  registry.SetDword(Hive::kLocalMachine, key, "EstimatedSize", EstimatedSize(location));
}

void WriteUninstallEntry(const plan::InstallData& data, std::string_view location, std::string_view main_file_path,
                         bool multi_folder) {
  const std::string key = UninstallKeyPath(data.uninstallId);
  platform::Registry& registry = platform::Reg();
  if (registry.CreateKey(Hive::kLocalMachine, key) != error::kSuccess) return;
  registry.SetString(Hive::kLocalMachine, key, "InstallLocation", location);
  if (multi_folder) registry.SetString(Hive::kLocalMachine, key, "MultiFolder", "1");
  if (data.TopLevel && data.RegisterUninstall) WriteDisplayValues(key, data, location, main_file_path);
}

void WriteIndexValue(std::string_view location, std::string_view uninstall_id) {
  // A value without a name is the key's default value, which every folder would match.
  if (location.empty()) return;
  platform::Registry& registry = platform::Reg();
  if (registry.CreateKey(Hive::kLocalMachine, kProductIndexKey) != error::kSuccess) return;
  registry.SetString(Hive::kLocalMachine, kProductIndexKey, location, uninstall_id);
}

}  // namespace

std::string InstallerCopyPath() { return platform::JoinPath(sys::InstallerProgramFolder(), kInstallerFileName); }

CopyOutcome UpdateInstallerCopy(std::string_view running_executable) {
  const std::string copy = InstallerCopyPath();
  if (IsSameFile(running_executable, copy)) return CopyOutcome::kSamePath;
  std::uint32_t result = error::kSuccess;
  if (sys::FileExists(copy)) {
    if (CopyIsNewer(running_executable, copy)) {
      log::Debug("Installer copy is newer, kept: %s", copy.c_str());
      return CopyOutcome::kKeptNewer;
    }
    result = platform::fs::CopyFile(running_executable, copy, true);
  } else if (!sys::N_CreateFolder(sys::InstallerProgramFolder())) {
    result = error::kPathNotFound;
  } else {
    result = platform::fs::CopyFile(running_executable, copy, false);
  }
  if (result != error::kSuccess) {
    log::Error("Copy OrvoInstall.exe failed, error: %u", result);
    return CopyOutcome::kFailed;
  }
  log::Info("Copy OrvoInstall.exe succeusfully!");
  return CopyOutcome::kCopied;
}

void AddUninstallThreadProc(const plan::PlanStep& step, std::string_view location, std::string_view main_file_path,
                            bool multi_folder, std::string_view running_executable) {
  const plan::InstallData& data = step.install_data;
  const std::string location_text(location);
  const std::string main_file_text(main_file_path);
  log::Debug("AddUninstallThreadProc Enter");
  log::Debug("uninstallid: %s", data.uninstallId.c_str());
  log::Debug("displayname: %s", data.DisplayName.c_str());
  log::Debug("location: %s", location_text.c_str());
  log::Debug("filepath: %s", main_file_text.c_str());
  log::Debug("isMainItem: %d", data.TopLevel ? 1 : 0);
  log::Debug("isCreateUninstall: %d", data.RegisterUninstall ? 1 : 0);
  log::Debug("isMutiFolder: %d", multi_folder ? 1 : 0);

  if (data.TopLevel) UpdateInstallerCopy(running_executable);
  if (data.uninstallId.empty()) {
    // Without an id the entry would be the Uninstall key itself.
    log::Error("No uninstall id, product not registered: %s", location_text.c_str());
  } else {
    WriteUninstallEntry(data, location, main_file_path, multi_folder);
    if (data.TopLevel) WriteIndexValue(location, data.uninstallId);
  }
  log::Debug("AddUninstallThreadProc Leave");
}

}  // namespace orvo::deploy
