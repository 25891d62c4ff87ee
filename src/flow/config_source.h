// Where the install configuration comes from: the account service's address for an installer id, or a
// local file shipped beside the executable.
#pragma once

#include <optional>
#include <string>

namespace orvo::flow {

// base + "/api/install/" + the installer id up to its first "_" + "?arch=x64&instver=" (64-bit Windows) or
// "?instver=" + the installer version, then "&test=2" when the executable's path ends with "-testing.exe"
// (letter case ignored). Characters of the id that a URL cannot carry as they are are percent-encoded.
std::string ConfigurationAddress(const std::string& base, const std::string& installer_id, bool windows64,
                                 const std::string& own_executable_path);

// The first file directly inside the folder whose name ends with ".ini" (letter case ignored), in the
// order of the folder's listing; folders are passed over. Nullopt when there is none or no such folder.
std::optional<std::string> FindLocalConfiguration(const std::string& local_config_folder);

}  // namespace orvo::flow
