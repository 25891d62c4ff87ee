// The shared error list: short failure tags ("HttpCode-416", "Download failed", ...) gathered during the
// run, sent as the problem report's tags. Process-wide and safe from any thread.
#pragma once

#include <string>
#include <vector>

namespace orvo::sys {

void AddSharedError(const std::string& tag);
std::vector<std::string> SharedErrors();
// Returns the list and empties it.
std::vector<std::string> TakeSharedErrors();

}  // namespace orvo::sys
