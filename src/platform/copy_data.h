// The WM_COPYDATA channel between processes: every receiving window listens on a Unix-domain socket named
// after its handle in the system root ("<root>/.orvo/windows/<handle>"), reachable only by the same user.
#pragma once

#include <string>

#include "platform/win_types.h"

namespace orvo::platform {

// The Linux socket path of a window handle.
std::string WindowSocketPath(WindowHandle window);
// IsWindow for any window: one of this process's, or another process's that still listens.
bool WindowExists(WindowHandle window);

}  // namespace orvo::platform
