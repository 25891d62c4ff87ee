#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <vector>

#include "platform/linux/errno_map.h"
#include "platform/platform.h"

namespace orvo::platform::fs {

namespace stdfs = std::filesystem;

namespace {

std::string Map(std::string_view path) { return path.empty() ? std::string() : Drive().ToLinux(path).string(); }

TimePoint ToTimePoint(const statx_timestamp& stamp) {
  return TimePoint(std::chrono::duration_cast<TimePoint::duration>(std::chrono::seconds(stamp.tv_sec) +
                                                                   std::chrono::nanoseconds(stamp.tv_nsec)));
}

std::optional<FileInfo> StatLinux(const std::string& linux_path, std::string name) {
  struct statx info {};
  if (linux_path.empty() ||
      statx(AT_FDCWD, linux_path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &info) != 0) {
    return std::nullopt;
  }
  FileInfo out;
  out.name = std::move(name);
  out.is_symlink = S_ISLNK(info.stx_mode);
  out.is_folder = S_ISDIR(info.stx_mode);
  if (out.is_symlink) {
    // A link is seen as what it points to, as a Windows reparse point to a file or folder would be.
    struct stat target {};
    if (stat(linux_path.c_str(), &target) == 0) out.is_folder = S_ISDIR(target.st_mode);
  }
  out.read_only = (info.stx_mode & S_IWUSR) == 0;
  out.size = out.is_folder ? 0 : info.stx_size;
  out.last_write_time = ToTimePoint(info.stx_mtime);
  out.creation_time = (info.stx_mask & STATX_BTIME) != 0 ? ToTimePoint(info.stx_btime) : ToTimePoint(info.stx_ctime);
  return out;
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace

std::optional<FileInfo> Stat(std::string_view path) {
  const std::string linux_path = Map(path);
  return StatLinux(linux_path, stdfs::path(linux_path).filename().string());
}

bool Exists(std::string_view path) { return Stat(path).has_value(); }
bool IsFile(std::string_view path) {
  const auto info = Stat(path);
  return info && !info->is_folder;
}
bool IsFolder(std::string_view path) {
  const auto info = Stat(path);
  return info && info->is_folder;
}

bool SameFile(std::string_view a, std::string_view b) {
  const std::string left = Map(a);
  const std::string right = Map(b);
  struct stat first {}, second {};
  return !left.empty() && !right.empty() && stat(left.c_str(), &first) == 0 && stat(right.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

std::uint32_t CreateFolder(std::string_view path) {
  const std::string linux_path = Map(path);
  if (linux_path.empty()) return error::kPathNotFound;
  if (mkdir(linux_path.c_str(), 0755) == 0) return error::kSuccess;
  if (errno == ENOENT) return error::kPathNotFound;
  return LastWindowsError();
}

std::uint32_t RemoveEmptyFolder(std::string_view path) {
  const std::string linux_path = Map(path);
  if (linux_path.empty()) return error::kPathNotFound;
  return rmdir(linux_path.c_str()) == 0 ? error::kSuccess : LastWindowsError();
}

std::uint32_t DeleteFile(std::string_view path) {
  const std::string linux_path = Map(path);
  if (linux_path.empty()) return error::kPathNotFound;
  const auto info = StatLinux(linux_path, {});
  if (!info) return error::kFileNotFound;
  if (info->is_folder && !info->is_symlink) return error::kAccessDenied;
  // Windows refuses to delete a read-only file; callers reset the attributes first.
  if (info->read_only && !info->is_symlink) return error::kAccessDenied;
  return unlink(linux_path.c_str()) == 0 ? error::kSuccess : LastWindowsError();
}

std::uint32_t SetReadOnly(std::string_view path, bool read_only) {
  const std::string linux_path = Map(path);
  struct stat info {};
  if (linux_path.empty() || lstat(linux_path.c_str(), &info) != 0) return error::kFileNotFound;
  if (S_ISLNK(info.st_mode)) return error::kSuccess;
  const mode_t mode = read_only ? (info.st_mode & ~mode_t{0222}) : (info.st_mode | S_IWUSR);
  return chmod(linux_path.c_str(), mode & 07777) == 0 ? error::kSuccess : LastWindowsError();
}

std::uint32_t SetNormalAttributes(std::string_view path) { return SetReadOnly(path, false); }

std::uint32_t CopyFile(std::string_view from, std::string_view to, bool overwrite) {
  const std::string source = Map(from);
  const std::string target = Map(to);
  if (source.empty() || target.empty()) return error::kPathNotFound;
  Fd in(open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) return LastWindowsError();
  struct stat info {};
  if (fstat(in.get(), &info) != 0) return LastWindowsError();
  if (S_ISDIR(info.st_mode)) return error::kAccessDenied;
  const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | (overwrite ? 0 : O_EXCL);
  Fd out(open(target.c_str(), flags, info.st_mode & 0777));
  if (out.get() < 0) return errno == EEXIST ? error::kFileExists : LastWindowsError();
  std::vector<char> buffer(1 << 16);
  while (true) {
    const ssize_t got = read(in.get(), buffer.data(), buffer.size());
    if (got < 0) {
      if (errno == EINTR) continue;
      return error::kReadFault;
    }
    if (got == 0) break;
    if (!WriteAll(out.get(), buffer.data(), static_cast<std::size_t>(got))) return LastWindowsError();
  }
  fchmod(out.get(), info.st_mode & 0777);
  // CopyFile keeps the last-write time; callers compare copies by it.
  const timespec times[2] = {info.st_atim, info.st_mtim};
  futimens(out.get(), times);
  return error::kSuccess;
}

std::uint32_t MoveFile(std::string_view from, std::string_view to, bool overwrite) {
  const std::string source = Map(from);
  const std::string target = Map(to);
  if (source.empty() || target.empty()) return error::kPathNotFound;
  if (!overwrite && access(target.c_str(), F_OK) == 0) return error::kAlreadyExists;
  if (rename(source.c_str(), target.c_str()) == 0) return error::kSuccess;
  if (errno != EXDEV) return LastWindowsError();
  const std::uint32_t copied = CopyFile(from, to, overwrite);
  if (copied != error::kSuccess) return copied;
  unlink(source.c_str());
  return error::kSuccess;
}

std::uint32_t ListFolder(std::string_view path, std::vector<FileInfo>& entries) {
  const std::string linux_path = Map(path);
  std::error_code failure;
  stdfs::directory_iterator it(linux_path, failure);
  if (linux_path.empty() || failure) return error::kPathNotFound;
  std::vector<FileInfo> found;
  for (stdfs::directory_iterator end; it != end; it.increment(failure)) {
    if (failure) break;
    std::string name = it->path().filename().string();
    if (auto info = StatLinux(it->path().string(), name)) found.push_back(std::move(*info));
  }
  std::sort(found.begin(), found.end(), [](const FileInfo& a, const FileInfo& b) { return a.name < b.name; });
  entries.insert(entries.end(), std::make_move_iterator(found.begin()), std::make_move_iterator(found.end()));
  return error::kSuccess;
}

std::optional<SpaceInfo> DiskSpace(std::string_view path) {
  const std::string linux_path = Map(path);
  struct statvfs info {};
  if (linux_path.empty() || statvfs(linux_path.c_str(), &info) != 0) return std::nullopt;
  return SpaceInfo{static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize,
                   static_cast<std::uint64_t>(info.f_blocks) * info.f_frsize};
}

std::optional<std::string> ReadFile(std::string_view path) {
  auto file = File::Open(path, File::Mode::kRead);
  if (!file) return std::nullopt;
  std::string content;
  char buffer[1 << 16];
  while (true) {
    const long long got = file->Read(buffer, sizeof buffer);
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    content.append(buffer, static_cast<std::size_t>(got));
  }
  return content;
}

std::uint32_t WriteFileAtomic(std::string_view path, std::string_view bytes) {
  const std::string target = Map(path);
  if (target.empty()) return error::kPathNotFound;
  std::random_device device;
  const std::string temporary = target + ".tmp" + std::to_string(device() % 1000000);
  {
    Fd out(open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (out.get() < 0) return LastWindowsError();
    if (!WriteAll(out.get(), bytes.data(), bytes.size()) || fsync(out.get()) != 0) {
      const std::uint32_t failure = LastWindowsError();
      unlink(temporary.c_str());
      return failure;
    }
  }
  if (rename(temporary.c_str(), target.c_str()) != 0) {
    const std::uint32_t failure = LastWindowsError();
    unlink(temporary.c_str());
    return failure;
  }
  return error::kSuccess;
}

std::uint32_t CreatePrivateFolder(std::string_view path) {
  const std::string linux_path = Map(path);
  if (linux_path.empty()) return error::kPathNotFound;
  const stdfs::path folder(linux_path);
  std::error_code failure;
  stdfs::create_directories(folder.parent_path(), failure);
  if (failure) return error::kPathNotFound;
  if (mkdir(linux_path.c_str(), 0700) != 0 && errno != EEXIST) return LastWindowsError();
  // Open without following a link, then judge what was opened: no window between the test and the use.
  Fd fd(open(linux_path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() < 0) return errno == ELOOP || errno == ENOTDIR ? error::kAccessDenied : LastWindowsError();
  struct stat info {};
  if (fstat(fd.get(), &info) != 0) return LastWindowsError();
  if (info.st_uid != geteuid()) return error::kAccessDenied;
  if ((info.st_mode & 0777) != 0700 && fchmod(fd.get(), 0700) != 0) return LastWindowsError();
  return error::kSuccess;
}

std::unique_ptr<File> File::Open(std::string_view path, Mode mode, std::uint32_t* error) {
  const std::string linux_path = Map(path);
  int flags = O_CLOEXEC;
  switch (mode) {
    case Mode::kRead: flags |= O_RDONLY; break;
    case Mode::kCreateAlways: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
    case Mode::kOpenAlways: flags |= O_WRONLY | O_CREAT | O_APPEND; break;
    case Mode::kCreateNew: flags |= O_WRONLY | O_CREAT | O_EXCL; break;
  }
  const int fd = linux_path.empty() ? -1 : open(linux_path.c_str(), flags, 0644);
  if (fd < 0) {
    if (error != nullptr) {
      *error = linux_path.empty() ? error::kPathNotFound
               : errno == EEXIST ? error::kFileExists
                                 : LastWindowsError();
    }
    return nullptr;
  }
  struct stat info {};
  if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    close(fd);
    if (error != nullptr) *error = error::kAccessDenied;
    return nullptr;
  }
  if (error != nullptr) *error = error::kSuccess;
  return std::unique_ptr<File>(new File(fd));
}

File::~File() { close(fd_); }

long long File::Read(void* buffer, std::size_t size) {
  while (true) {
    const ssize_t got = read(fd_, buffer, size);
    if (got < 0 && errno == EINTR) continue;
    return got;
  }
}

bool File::Write(const void* data, std::size_t size) { return WriteAll(fd_, static_cast<const char*>(data), size); }

long long File::WriteOnce(const void* data, std::size_t size) {
  while (true) {
    const ssize_t written = write(fd_, data, size);
    if (written < 0 && errno == EINTR) continue;
    return written;
  }
}

bool File::Seek(std::uint64_t offset) {
  return lseek(fd_, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

std::optional<std::uint64_t> File::Size() const {
  struct stat info {};
  if (fstat(fd_, &info) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(info.st_size);
}

bool File::Flush() { return fsync(fd_) == 0; }

}  // namespace orvo::platform::fs
