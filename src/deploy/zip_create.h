// The installer's small zip writer: packs files (the logs a problem report attaches) into a new archive.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::deploy {

inline constexpr std::size_t kCreateCopyBlockSize = 1024;

// Creates the archive (replacing one of that name) with one deflated entry per file, named by the file's
// name without its folder (plain ASCII expected: one byte per character), dated by its last-write time in
// local time. A file that cannot be opened gives an empty entry. Returns 0, or -1 when the archive cannot
// be created or written completely.
std::int32_t CreateZip(std::string_view archive, const std::vector<std::string>& files);

}  // namespace orvo::deploy
