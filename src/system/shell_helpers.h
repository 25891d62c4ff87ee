// Permission grant on files the installer writes, through the system's own tool.
#pragma once

#include <string>
#include <string_view>

namespace orvo::sys {

// The parameters of the grant: the quoted path, modify rights for the Users group, recursively.
std::string GrantUsersModifyParameters(std::string_view path);

// Starts "icacls.exe" hidden through the shell (verb "open") with those parameters and does not wait for
// it; a failure to start is ignored.
void GrantUsersModify(std::string_view path);

}  // namespace orvo::sys
