#include "platform/clock.h"

#include <sys/time.h>

#include <cstdio>
#include <ctime>

namespace orvo::platform {

LocalTime LocalTimeNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm parts{};
  localtime_r(&now.tv_sec, &parts);
  return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
                   parts.tm_min,         parts.tm_sec,     static_cast<int>(now.tv_nsec / 1000000)};
}

std::string FileTimeStamp(const LocalTime& time) {
  const int hour12 = time.hour % 12 == 0 ? 12 : time.hour % 12;
  char text[32];
  std::snprintf(text, sizeof text, "%02d_%02d_%02d_%02d-%02d%s", time.year % 100, time.month, time.day, hour12,
                time.minute, time.hour < 12 ? "AM" : "PM");
  return text;
}

}  // namespace orvo::platform
