// The process entry: the start-up checks in their order, the temporary copy of uninstall and host-mode
// runs, the single-instance mutex, the main window's loop and the exit code.
#pragma once

#include <string>

#include "app/run_options.h"

namespace orvo::app {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitRestartRequired = 3010;
inline constexpr int kExitFailed = -1;
inline constexpr int kExitLowDiskSpace = 6016;

// Everything after the command line has been parsed into options.
int RunInstaller(RunOptions& options);

// "/uninstall Orvo Common" while another registered product still needs the shared component.
bool CommonComponentStillNeeded();

// The temporary copy of uninstall and host-mode runs. kContinue: this process is the copy; kStarted: the
// copy was started (or could not be), so this process ends.
enum class CopyOutcome { kContinue, kStarted };
CopyOutcome StartTemporaryCopy();

}  // namespace orvo::app
