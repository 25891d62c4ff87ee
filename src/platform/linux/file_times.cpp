#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>

#include "platform/file_system.h"
#include "platform/linux/errno_map.h"
#include "platform/platform.h"

namespace orvo::platform::fs {

namespace {

timespec ToTimespec(TimePoint time) {
  const auto since_epoch = std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch());
  auto seconds = std::chrono::floor<std::chrono::seconds>(since_epoch);
  timespec out{};
  out.tv_sec = static_cast<time_t>(seconds.count());
  out.tv_nsec = static_cast<long>((since_epoch - seconds).count());
  return out;
}

}  // namespace

std::uint32_t SetLastWriteTime(std::string_view path, TimePoint time) {
  const std::string linux_path = path.empty() ? std::string() : Drive().ToLinux(path).string();
  if (linux_path.empty()) return error::kPathNotFound;
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // the access time stays
  times[1] = ToTimespec(time);
  return utimensat(AT_FDCWD, linux_path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0 ? error::kSuccess
                                                                                  : LastWindowsError();
}

LocalTime FileTimeToLocalTime(TimePoint time) {
  const timespec stamp = ToTimespec(time);
  tm parts{};
  localtime_r(&stamp.tv_sec, &parts);
  return LocalTime{parts.tm_year + 1900,
                   parts.tm_mon + 1,
                   parts.tm_mday,
                   parts.tm_hour,
                   parts.tm_min,
                   parts.tm_sec,
                   static_cast<int>(stamp.tv_nsec / 1000000)};
}

}  // namespace orvo::platform::fs
