// The installer's zip reader over minizip: ExtractZip lists or unpacks a package, ReadFirstZipEntry unpacks
// the first entry of an archive held in memory. Paths are Windows paths in UTF-8; entry names are given in
// Windows form (backslashes, a folder entry ends in one).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct zlib_filefunc64_def_s;

namespace orvo::deploy {

inline constexpr std::size_t kMaxEntryNameBytes = 255;  // a longer entry name is cut to this length
inline constexpr std::size_t kCopyBlockSize = 8192;
inline constexpr std::string_view kAllEntries = "*";

// Walks every entry of the archive:
// - names, filter empty: names receives the top level (each top-level file name, and each top-level
//   folder once as its name followed by a backslash, in the order first met), and with a destination
//   every entry is unpacked;
// - filter "*": names receives every entry name, nothing is unpacked;
// - another filter: only the entries whose names end in it (without regard to case) are listed and, with a
//   destination, unpacked.
// changedTopfile, when not empty, replaces the text before the first backslash of every name that has one.
// An empty destination lists only.
// Returns -1 when the archive cannot be opened; otherwise 0 when every entry was handled, else the result
// of the first entry that failed (-1 when a folder or file could not be created or written, or the entry
// was refused; a negative minizip code when reading failed). The walk goes on after a failed entry.
std::int32_t ExtractZip(std::string_view archive, std::string_view destination,
                        std::vector<std::string>* names = nullptr, std::string_view filter = {},
                        std::string_view changedTopfile = {});

// The first entry of the archive in the memory block, whole; nothing when the block is no archive or the
// entry cannot be read or fails its checksum.
std::optional<std::vector<std::uint8_t>> ReadFirstZipEntry(const void* data, std::size_t size);

// Rules shared by both extraction paths, so that nothing lands outside the destination.
// A name (Windows form) is refused when it is empty, rooted ("\x", "\\server"), starts with a drive
// ("C:"), or holds a ".." component (or one made only of dots and spaces with two dots or more, which
// Windows reads as "..").
bool IsSafeEntryName(std::string_view name);
// A link entry's target, read from the folder of the link, stays inside the destination: it is relative
// and never climbs above the destination's root.
bool LinkStaysInside(std::string_view link_name, std::string_view target);
// The longest link target the extractors read; a longer one is refused.
inline constexpr std::size_t kMaxLinkTargetBytes = 4096;

namespace detail {
// Minizip's file functions over the platform layer (the names minizip opens are Windows paths in UTF-8),
// with a small read cache: minizip reads the central directory and the entries' data in turns.
void FillPlatformFileFunctions(zlib_filefunc64_def_s* functions);
}  // namespace detail

}  // namespace orvo::deploy
