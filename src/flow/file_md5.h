// The MD5 text of a file, with which downloads are checked against the install configuration.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace orvo::flow {

// The RFC 1321 digest of the file's whole content as 32 lowercase hexadecimal digits. The file is read in
// blocks of 1 MiB; between_blocks, when set, runs after each block (an interactive run dispatches its
// window messages there so the window stays responsive). Nullopt when the file cannot be opened or read.
std::optional<std::string> FileMd5Text(const std::string& windows_path, const std::function<void()>& between_blocks = {});

}  // namespace orvo::flow
