// File operations on Windows paths. Every file access of the core goes through here; the paths are mapped
// by the process's SystemDrive (see platform.h). Results follow the Windows idiom: bool, or a Windows error
// code with 0 for success.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/win_types.h"

namespace orvo::platform::fs {

using TimePoint = std::chrono::system_clock::time_point;

struct FileInfo {
  std::string name;  // the entry's name (for Stat: the last component)
  bool is_folder = false;
  bool is_symlink = false;
  bool read_only = false;
  std::uint64_t size = 0;
  TimePoint creation_time{};  // birth time where the file system keeps one, else the change time
  TimePoint last_write_time{};
};

std::optional<FileInfo> Stat(std::string_view path);  // does not follow a final symbolic link
bool Exists(std::string_view path);
bool IsFile(std::string_view path);
bool IsFolder(std::string_view path);
// Whether both paths name one existing file (Windows compares file ids; here device and inode).
bool SameFile(std::string_view a, std::string_view b);

// One level; 0, kAlreadyExists or another error.
std::uint32_t CreateFolder(std::string_view path);
std::uint32_t RemoveEmptyFolder(std::string_view path);
std::uint32_t DeleteFile(std::string_view path);
// FILE_ATTRIBUTE_NORMAL: clears read-only. Fails with kFileNotFound when the path does not exist.
std::uint32_t SetNormalAttributes(std::string_view path);
std::uint32_t SetReadOnly(std::string_view path, bool read_only);
std::uint32_t CopyFile(std::string_view from, std::string_view to, bool overwrite);
// SetFileTime with only the last-write time given (the other times stay).
std::uint32_t SetLastWriteTime(std::string_view path, TimePoint time);
// FileTimeToLocalFileTime + FileTimeToSystemTime: a file time as local wall-clock time.
LocalTime FileTimeToLocalTime(TimePoint time);
std::uint32_t MoveFile(std::string_view from, std::string_view to, bool overwrite);

// Lists a folder (no "." or ".."), sorted by name so results are stable. kPathNotFound when it is not a
// folder.
std::uint32_t ListFolder(std::string_view path, std::vector<FileInfo>& entries);

// Free bytes for the caller and total bytes of the file system that holds the path.
struct SpaceInfo {
  std::uint64_t free_to_caller = 0;
  std::uint64_t total = 0;
};
std::optional<SpaceInfo> DiskSpace(std::string_view path);

// Whole-file helpers.
std::optional<std::string> ReadFile(std::string_view path);
// Writes through a temporary file in the same folder and renames it over the target, so a reader never
// sees half a file.
std::uint32_t WriteFileAtomic(std::string_view path, std::string_view bytes);

// Creates a private working folder (and its missing parents, which are created normally): the folder
// itself owner-only (0700). Refused with kAccessDenied when the path, or the existing folder, is a
// symbolic link or belongs to another user; an existing folder of ours is tightened to 0700.
std::uint32_t CreatePrivateFolder(std::string_view path);

// An open file. Unbuffered: each Write is one write call.
class File {
 public:
  enum class Mode {
    kRead,          // existing file, read only
    kCreateAlways,  // create or truncate, write
    kOpenAlways,    // create when missing, keep content, write at the end
    kCreateNew,     // fails with kFileExists when it exists
  };
  static std::unique_ptr<File> Open(std::string_view path, Mode mode, std::uint32_t* error = nullptr);
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Bytes read, 0 at the end; -1 on error.
  long long Read(void* buffer, std::size_t size);
  // True when every byte was written (retries short writes).
  bool Write(const void* data, std::size_t size);
  // One write call; returns what the call wrote, -1 on error. For the log, whose lines must never mix.
  long long WriteOnce(const void* data, std::size_t size);
  bool Seek(std::uint64_t offset);
  std::optional<std::uint64_t> Size() const;
  bool Flush();

 private:
  explicit File(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace orvo::platform::fs
