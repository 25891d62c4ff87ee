// The file-system helpers the installer's parts share: existence tests, folder creation and removal, the
// writability probe, path splitting, file versions and their comparison, folder size, the file search for
// package scripts and recent logs, free disk space and the time stamp that names files. Paths are Windows
// paths in UTF-8; every access goes through the platform layer. Failures are reported by the result only.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"

namespace orvo::sys {

// The folder the writability probe creates and removes again.
inline constexpr std::string_view kProbeFolderName = "7DD32994-E523-48FE-8364-8EC8F0A52356";

// True when the path is not empty, exists, and is not a folder.
bool FileExists(std::string_view path);
// True when the path is not empty, exists, and is a folder.
bool FolderExists(std::string_view path);

// Creates the folder and every missing parent, parents first. True when the folder exists afterwards; an
// existing folder is success, an empty path is not.
bool N_CreateFolder(std::string_view path);
// Resets the attributes to normal (so a read-only file goes too), then removes the (empty) folder or
// deletes the file; a symbolic link is removed itself, never what it points to. False for an empty or
// missing path or when the removal fails.
bool DeletePath(std::string_view path);
// Removes a folder with all its content; a file path deletes the file; a missing path is left alone (0).
// Entries that cannot be removed are passed over. Returns 0, the error code of a folder listing that could
// not be started (nothing is removed then), or the error of removing the path itself. Symbolic links are
// deleted, never followed.
std::uint32_t RemoveFolder(std::string_view path);
// Creates the folder's tree with the probe folder at its end (the folder and its parents stay), removes the
// probe again. On failure logs "The folder is not writable: %s" (Debug) and returns false.
bool IsFolderWritable(std::string_view folder);

struct PathParts {
  std::string folder;     // before the last "\" or "/", without it; empty without separator
  std::string name;       // after that separator, extension included
  std::string extension;  // from the last "." of the name, with the dot; empty without a dot
};
PathParts SplitPath(std::string_view path);

struct FolderAndName {
  std::string folder;  // with its trailing backslash
  std::string name;    // the last name; empty when the path has no other backslash
};
// Drops one trailing backslash, then splits at the last backslash. A path without any other backslash
// gives the path as given and an empty name.
FolderAndName SplitFolderAndName(std::string_view path);

// The folder of the running executable, without a trailing backslash; empty when it cannot be read.
std::string ModuleFolder();

// The fixed file version "major.minor.build.revision", empty when the file has none. A bare file name is
// looked for in the system folder (as this 32-bit process sees it), the Windows folder and the module
// folder, in that order.
std::string FileVersionText(std::string_view file);
// The version words as text: the high and low halves of the most, then of the least significant word.
std::string VersionWordsText(std::uint32_t most_significant, std::uint32_t least_significant);

// Dotted parts compared as decimal integers over the parts both texts have (a part that is not a number
// counts as 0). The first difference decides; when all shared parts are equal, 1 when a has more parts
// than b, else 0 (so "1.0.1" against "1.0" is 1, "1.0" against "1.0.1" is 0).
int CompareVersions(std::string_view a, std::string_view b);

// The sum of the sizes of every file below the folder, sub-folders included (linked folders are not
// entered, so a link cycle cannot loop).
std::uint64_t FolderSize(std::string_view folder);
// The number of files (not folders) directly in the folder; 0 when it cannot be listed.
std::size_t CountFiles(std::string_view folder);
// The file with the latest creation time among those that can be opened for reading (folders cannot); on
// equal times the later one in the list wins. Empty when none can be opened.
std::string NewestFile(const std::vector<std::string>& paths);

// Appends to result the full paths of the entries below folder whose names end with name (without regard
// to case), descending depth levels (1: the folder's own entries). test_folder_itself: when folder is an
// existing file, only it is judged. collect_logs: the folder's own entries whose lower-cased full path
// contains name, whose names end in "log", "txt" or "html" and that were created within the last 24 whole
// hours are added too. Returns 0, or the error code when the folder's listing could not be started.
std::uint32_t FindFiles(std::string_view folder, std::string_view name, int depth, std::vector<std::string>& result,
                        bool test_folder_itself, bool collect_logs);
// The rule by which collect_logs adds an entry that does not end with the name.
bool IsRecentLog(std::string_view entry_name, std::string_view full_path, std::string_view name,
                 std::chrono::system_clock::time_point created, std::chrono::system_clock::time_point now);

// Whole GiB (2^30 bytes), rounded down.
std::uint64_t WholeGib(std::uint64_t bytes);
// Free bytes for the caller and total bytes of the path's drive ("C:\" for "C:\Program Files"), in whole
// GiB. False, with both outputs left as they were, when the path names no drive or the query fails.
bool FreeDiskSpace(std::string_view path, std::uint64_t& free_gib, std::uint64_t& total_gib);

// The local time as "%y_%m_%d_%I-%M%p" ("24_02_19_03-45PM"), used to name files.
std::string LocalTimeStamp();

}  // namespace orvo::sys
