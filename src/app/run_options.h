// The parsed command line: one process-wide record, filled once before any window exists.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/clipboard.h"
#include "platform/win_types.h"
#include "system/installer_version.h"

namespace orvo::app {

inline constexpr const char* kDefaultInstallId = "uqe9137";
inline constexpr const char* kInstallerVersion = sys::kInstallerVersion;

struct RunOptions {
  bool uninstall = false;
  std::string product;
  bool acceptEula = false;
  bool autoUpdate = false;
  bool appTracking = false;
  bool silent = false;
  bool daemon = false;
  platform::WindowHandle hostWindow = platform::kNoWindow;
  std::string installPath;
  bool useExtension = true;
  bool noDesktopShortcut = false;
  bool createDesktopShortcuts = false;
  bool selfUpdate = true;
  bool mutexCheck = true;
  std::string installId = kDefaultInstallId;
  std::string howToAppName;
  std::string howToUseCaseId;
  std::string howToStartApp;
};

// The process's record.
RunOptions& Options();

// Fills options from the arguments (the first one, the program path, is compared like the others) and
// appends the "/excludeapp" names. Never fails: what does not match is ignored.
void ParseArguments(const std::vector<std::string>& arguments, RunOptions& options,
                    std::vector<std::string>& excluded_apps);

// The clipboard start information (only when neither silent nor uninstall is set).
void ReadStartInfo(platform::Clipboard& clipboard, RunOptions& options);

// The whole step of the entry: the process's command line (its "/excludeapp" names go to the install
// selection), then the clipboard of the platform.
void ParseCommandLine();

// The id traits, each a case-insensitive substring test on the id.
struct InstallerIdTraits {
  explicit InstallerIdTraits(std::string_view install_id);
  bool installationSettingsOffered = false;  // "orvo365" or "orvo20"
  bool hubOnly = false;                      // "didireza"
  bool benchmark = false;                    // "vurivirav"
  bool managedDeployment = false;            // "vl"
};

// The part of the id the configuration request uses: before the first "_".
std::string ConfigurationId(std::string_view install_id);
// The desktop-shortcut check box is offered.
bool OffersDesktopShortcutBox(const RunOptions& options);

// "--help" / "--version" of the Linux build: the text to print, or empty when not asked for.
std::string ConsoleAnswer(const std::vector<std::string>& arguments);

}  // namespace orvo::app
