// The texts the entry shows before any window exists. The string table with its 23 languages comes with
// the user interface; until then these are its English texts, looked up by the same ids.
#pragma once

#include <string>

namespace orvo::app {

inline constexpr int kStringAnotherInstallRunning = 152;
inline constexpr int kStringCommonStillNeeded = 321;

// The text of a string id, empty when unknown.
std::string StartupString(int id);

}  // namespace orvo::app
