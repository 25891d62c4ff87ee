// The local wall clock with milliseconds (GetLocalTime).
#pragma once

#include <string>

namespace orvo::platform {

struct LocalTime {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;    // 1..31
  int hour = 0;   // 0..23
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

LocalTime LocalTimeNow();

// "%y_%m_%d_%I-%M%p" (24_02_19_03-45PM): the stamp that names log files.
std::string FileTimeStamp(const LocalTime& time);

}  // namespace orvo::platform
