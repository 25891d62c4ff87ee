#include "system/folders.h"

#include "app/log.h"
#include "platform/platform.h"
#include "platform/system_drive.h"

namespace orvo::sys {

namespace {

std::string Known(platform::KnownFolder folder) { return platform::Drive().KnownFolderPath(folder); }

std::string TempFolder() { return platform::WithoutTrailingBackslash(Known(platform::KnownFolder::kTemp)); }

}  // namespace

std::string ExpandFolderMacro(std::string_view install_folder) {
  if (install_folder.starts_with(kCommonMacro)) {
    std::string base = platform::JoinPath(Known(platform::KnownFolder::kCommonFiles), "Orvo");
    log::Debug("install to common installed path: %s", base.c_str());
    return base;
  }
  if (install_folder.starts_with(kOrvoCommonMacro)) {
    std::string base = platform::JoinPath(Known(platform::KnownFolder::kProgramFiles), "Orvo");
    log::Debug("install to orvo common installed path: %s", base.c_str());
    return base;
  }
  return {};
}

std::string InstallerProgramFolder() {
  return platform::JoinPath(Known(platform::KnownFolder::kProgramFiles), "Orvo\\OrvoInstaller");
}

std::string RunScratchFolder(std::string_view installer_id) {
  return platform::JoinPath(platform::JoinPath(platform::JoinPath(TempFolder(), "OrvoInstaller"), installer_id),
                            "temp");
}

std::string VersionScratchFolder(std::string_view installer_id) {
  return platform::JoinPath(platform::JoinPath(TempFolder(), "OrvoInstaller\\temp"), installer_id);
}

std::string StartMenuWorkFolder() { return TempFolder(); }

bool IsWindows64() { return platform::Drive().Windows64(); }

}  // namespace orvo::sys
