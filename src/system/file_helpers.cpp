#include "system/file_helpers.h"

#include <exception>
#include <limits>
#include <optional>

#include "app/log.h"
#include "platform/file_system.h"
#include "platform/file_version.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/system_drive.h"
#include "platform/text.h"
#include "platform/win_types.h"

namespace orvo::sys {

namespace fs = platform::fs;
namespace error = platform::error;

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool HasDriveLetter(std::string_view path) {
  return path.size() >= 2 && path[1] == ':' &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

// The length of the part that names the drive and its root: "C:\" 3, "C:" 2, "\\server\share\" all of it,
// "\" 1, a relative path 0. Those levels are never created.
std::size_t RootLength(std::string_view path) {
  if (HasDriveLetter(path)) return path.size() >= 3 && IsSeparator(path[2]) ? 3 : 2;
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    std::size_t at = 2;
    for (int names = 0; names < 2 && at < path.size(); ++names) {
      while (at < path.size() && !IsSeparator(path[at])) ++at;
      if (at < path.size()) ++at;
    }
    return at;
  }
  return !path.empty() && IsSeparator(path[0]) ? 1 : 0;
}

std::uint32_t DeletePathCode(std::string_view path) {
  if (path.empty()) return error::kPathNotFound;
  const std::uint32_t reset = fs::SetNormalAttributes(path);
  if (reset != error::kSuccess) return reset;
  const auto info = fs::Stat(path);
  if (!info) return error::kFileNotFound;
  // A link is removed itself, as RemoveDirectory removes a folder link and not its target.
  if (info->is_folder && !info->is_symlink) return fs::RemoveEmptyFolder(path);
  return fs::DeleteFile(path);
}

// atoi's reading of a version part: blanks, a sign, then the leading digits; anything else counts as 0.
long long PartValue(std::string_view part) {
  std::size_t at = 0;
  while (at < part.size() && (part[at] == ' ' || (part[at] >= '\t' && part[at] <= '\r'))) ++at;
  bool negative = false;
  if (at < part.size() && (part[at] == '+' || part[at] == '-')) negative = part[at++] == '-';
  constexpr long long kLimit = std::numeric_limits<long long>::max() / 10 - 1;
  long long value = 0;
  for (; at < part.size() && part[at] >= '0' && part[at] <= '9'; ++at) {
    if (value < kLimit) value = value * 10 + (part[at] - '0');  // saturates instead of overflowing
  }
  return negative ? -value : value;
}

bool IsBareFileName(std::string_view file) {
  for (char c : file) {
    if (IsSeparator(c) || c == ':') return false;
  }
  return true;
}

// The system's library search for a bare name, restricted to where the installer's files live.
std::string FindLibrary(std::string_view file) {
  const auto& drive = platform::Drive();
  const std::string folders[] = {drive.KnownFolderPath(platform::KnownFolder::kSystem),
                                 drive.KnownFolderPath(platform::KnownFolder::kWindows), ModuleFolder()};
  for (const std::string& folder : folders) {
    if (folder.empty()) continue;
    std::string candidate = platform::JoinPath(folder, file);
    if (FileExists(candidate)) return candidate;
  }
  return {};
}

}  // namespace

bool FileExists(std::string_view path) { return !path.empty() && fs::IsFile(path); }

bool FolderExists(std::string_view path) { return !path.empty() && fs::IsFolder(path); }

bool N_CreateFolder(std::string_view path) {
  if (path.empty()) return false;
  if (FolderExists(path)) return true;
  // Parents first; a level that cannot be made shows in the final test.
  const std::size_t root = RootLength(path);
  for (std::size_t at = root > 0 ? root : 1; at < path.size(); ++at) {
    if (!IsSeparator(path[at]) || IsSeparator(path[at - 1])) continue;
    const std::string_view parent = path.substr(0, at);
    if (!FolderExists(parent)) fs::CreateFolder(parent);
  }
  if (!FolderExists(path)) fs::CreateFolder(path);
  return FolderExists(path);
}

bool DeletePath(std::string_view path) { return DeletePathCode(path) == error::kSuccess; }

std::uint32_t RemoveFolder(std::string_view path) {
  const auto info = fs::Stat(path);
  if (path.empty() || !info) return error::kSuccess;
  if (!info->is_folder || info->is_symlink) return DeletePathCode(path);
  std::vector<fs::FileInfo> entries;
  const std::uint32_t listed = fs::ListFolder(path, entries);
  if (listed != error::kSuccess) return listed;
  // A read-only folder does not keep Windows from emptying it; here its entries need the write bit.
  fs::SetNormalAttributes(path);
  for (const auto& entry : entries) {
    const std::string child = platform::JoinPath(path, entry.name);
    if (entry.is_folder && !entry.is_symlink) {
      RemoveFolder(child);
    } else {
      DeletePathCode(child);
    }
  }
  return DeletePathCode(path);
}

bool IsFolderWritable(std::string_view folder) {
  try {
    if (!folder.empty()) {
      const std::string probe = platform::JoinPath(folder, kProbeFolderName);
      if (N_CreateFolder(probe)) {
        fs::RemoveEmptyFolder(probe);
        return true;
      }
    }
  } catch (const std::exception&) {
    // Reported as not writable below.
  }
  log::Debug("The folder is not writable: %s", std::string(folder).c_str());
  return false;
}

PathParts SplitPath(std::string_view path) {
  PathParts parts;
  const std::size_t separator = path.find_last_of("\\/");
  std::string_view name = path;
  if (separator != std::string_view::npos) {
    parts.folder = std::string(path.substr(0, separator));
    name = path.substr(separator + 1);
  }
  parts.name = std::string(name);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string_view::npos) parts.extension = std::string(name.substr(dot));
  return parts;
}

FolderAndName SplitFolderAndName(std::string_view path) {
  std::string_view trimmed = path;
  if (!trimmed.empty() && trimmed.back() == '\\') trimmed.remove_suffix(1);
  const std::size_t separator = trimmed.rfind('\\');
  if (separator == std::string_view::npos) return {std::string(path), {}};
  return {std::string(trimmed.substr(0, separator + 1)), std::string(trimmed.substr(separator + 1))};
}

std::string ModuleFolder() {
  const std::string executable = platform::OwnExecutablePath();
  if (executable.empty()) return {};
  std::string folder = SplitPath(executable).folder;
  if (folder.size() == 2 && folder[1] == ':') folder += '\\';  // a drive's root keeps its backslash
  return folder;
}

std::string VersionWordsText(std::uint32_t most_significant, std::uint32_t least_significant) {
  return platform::Format("%u.%u.%u.%u", most_significant >> 16, most_significant & 0xFFFFu,
                          least_significant >> 16, least_significant & 0xFFFFu);
}

std::string FileVersionText(std::string_view file) {
  if (file.empty()) return {};
  const std::string path = IsBareFileName(file) ? FindLibrary(file) : std::string(file);
  if (path.empty()) return {};
  const auto version = platform::ReadFixedFileVersion(path);
  if (!version) return {};
  return VersionWordsText(version->file_version_ms, version->file_version_ls);
}

int CompareVersions(std::string_view a, std::string_view b) {
  const std::vector<std::string> left = platform::Split(a, '.');
  const std::vector<std::string> right = platform::Split(b, '.');
  const std::size_t shared = left.size() < right.size() ? left.size() : right.size();
  for (std::size_t i = 0; i < shared; ++i) {
    const long long x = PartValue(left[i]);
    const long long y = PartValue(right[i]);
    if (x != y) return x > y ? 1 : -1;
  }
  return left.size() > right.size() ? 1 : 0;
}

std::uint64_t FolderSize(std::string_view folder) {
  std::vector<fs::FileInfo> entries;
  if (fs::ListFolder(folder, entries) != error::kSuccess) return 0;
  std::uint64_t total = 0;
  for (const auto& entry : entries) {
    if (entry.is_symlink) continue;  // its bytes belong to its target, and a linked folder may loop
    total += entry.is_folder ? FolderSize(platform::JoinPath(folder, entry.name)) : entry.size;
  }
  return total;
}

std::size_t CountFiles(std::string_view folder) {
  std::vector<fs::FileInfo> entries;
  if (folder.empty() || fs::ListFolder(folder, entries) != error::kSuccess) return 0;
  std::size_t files = 0;
  for (const auto& entry : entries) {
    if (!entry.is_folder) ++files;
  }
  return files;
}

std::string NewestFile(const std::vector<std::string>& paths) {
  std::string newest;
  std::optional<fs::TimePoint> newest_time;
  for (const std::string& path : paths) {
    if (path.empty() || !fs::File::Open(path, fs::File::Mode::kRead)) continue;
    const auto info = fs::Stat(path);
    if (!info || info->is_folder) continue;
    if (!newest_time || info->creation_time >= *newest_time) {
      newest = path;
      newest_time = info->creation_time;
    }
  }
  return newest;
}

bool IsRecentLog(std::string_view entry_name, std::string_view full_path, std::string_view name,
                 std::chrono::system_clock::time_point created, std::chrono::system_clock::time_point now) {
  if (platform::ToLowerAscii(full_path).find(name) == std::string::npos) return false;
  if (!platform::EndsWithNoCase(entry_name, "log") && !platform::EndsWithNoCase(entry_name, "txt") &&
      !platform::EndsWithNoCase(entry_name, "html")) {
    return false;
  }
  const auto age_seconds = std::chrono::duration_cast<std::chrono::seconds>(now - created).count();
  return age_seconds / 3600 <= 24;
}

std::uint32_t FindFiles(std::string_view folder, std::string_view name, int depth, std::vector<std::string>& result,
                        bool test_folder_itself, bool collect_logs) {
  if (test_folder_itself && FileExists(folder)) {
    if (platform::EndsWithNoCase(SplitPath(folder).name, name)) result.emplace_back(folder);
    return error::kSuccess;
  }
  if (depth <= 0) return error::kSuccess;
  std::vector<fs::FileInfo> entries;
  const std::uint32_t listed = fs::ListFolder(folder, entries);
  if (listed != error::kSuccess) return listed;
  const auto now = std::chrono::system_clock::now();
  for (const auto& entry : entries) {
    std::string path = platform::JoinPath(folder, entry.name);
    if (entry.is_folder && depth > 1) {
      FindFiles(path, name, depth - 1, result, false, false);
    } else if (platform::EndsWithNoCase(entry.name, name)) {
      result.push_back(std::move(path));
    } else if (collect_logs && IsRecentLog(entry.name, path, name, entry.creation_time, now)) {
      result.push_back(std::move(path));
    }
  }
  return error::kSuccess;
}

std::uint64_t WholeGib(std::uint64_t bytes) { return bytes >> 30; }

bool FreeDiskSpace(std::string_view path, std::uint64_t& free_gib, std::uint64_t& total_gib) {
  if (!HasDriveLetter(path)) return false;
  const auto space = fs::DiskSpace(std::string(path.substr(0, 2)) + "\\");
  if (!space) return false;
  free_gib = WholeGib(space->free_to_caller);
  total_gib = WholeGib(space->total);
  return true;
}

std::string LocalTimeStamp() { return platform::FileTimeStamp(platform::LocalTimeNow()); }

}  // namespace orvo::sys
