// Recording a deployed product in the registry: its uninstall entry in the system's list of programs, its
// product index value, and the installer copy in a fixed folder that the uninstall entries start.
#pragma once

#include <string>
#include <string_view>

#include "plan/plan_model.h"

namespace orvo::deploy {

inline constexpr std::string_view kPublisher = "Orvo AG";
inline constexpr std::string_view kInstallerFileName = "OrvoInstaller.exe";

// "<program files as a 32-bit program sees it>\Orvo\OrvoInstaller\OrvoInstaller.exe".
std::string InstallerCopyPath();

enum class CopyOutcome {
  kSamePath,    // the installer runs from the copy itself
  kCopied,      // the copy was created or replaced
  kKeptNewer,   // the existing copy is newer than the running installer
  kFailed,      // creating the folder or copying failed
};

// Keeps the installer copy up to date with the running executable (platform::OwnExecutablePath() in the
// worker). A copy with a version resource is replaced when this installer's version is not lower. A copy
// without one (a Linux build of the installer carries no PE resources) is replaced unless its last write
// is later than the running executable's, so an older build never replaces a newer copy. Running from the
// copy's own path (compared as the file it names, not only as text) never copies.
CopyOutcome UpdateInstallerCopy(std::string_view running_executable);

// Registers the product of a deployed zip package, from its install step: `uninstallId`, `DisplayName`,
// `TopLevel` (main item) and `RegisterUninstall`. location: where the product was deployed;
// main_file_path: the main file's full path, or its bare name when it was not found; multi_folder: the
// product consists of several packages; running_executable: the installer's own path, for the copy that a
// main item keeps up to date. Every item writes "InstallLocation" (and "MultiFolder"); a main item also
// its product index value, and with registration the display values of the list of programs. Failures
// leave their values unwritten and are not reported.
void AddUninstallThreadProc(const plan::PlanStep& step, std::string_view location, std::string_view main_file_path,
                            bool multi_folder, std::string_view running_executable);

}  // namespace orvo::deploy
