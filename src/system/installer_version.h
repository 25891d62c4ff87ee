// The installer's own version: the window title, the update check and the installer copy compare it.
#pragma once

namespace orvo::sys {

inline constexpr const char* kInstallerVersion = "2.0.1.46";

}  // namespace orvo::sys
