// Free disk space in whole GiB and the time stamp that names files.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <regex>
#include <string>

#include "platform/clock.h"
#include "support/test_root.h"
#include "system/file_helpers.h"

namespace orvo::sys {
namespace {

constexpr std::uint64_t kGib = 1ULL << 30;

TEST(WholeGibTest, RoundsDown) {
  struct Case {
    std::uint64_t bytes;
    std::uint64_t gib;
  };
  const Case cases[] = {
      {0, 0},           {kGib - 1, 0},        {kGib, 1},
      {kGib + kGib / 2, 1},  // 1.5 GiB free reports 1
      {3 * kGib - 1, 2}, {3 * kGib, 3},       {(5000ULL << 30) + 12345, 5000},
      {UINT64_MAX, UINT64_MAX >> 30},
  };
  for (const Case& c : cases) EXPECT_EQ(WholeGib(c.bytes), c.gib) << c.bytes;
}

TEST(FreeDiskSpaceTest, ReportsTheDriveOfThePath) {
  test::TestRoot root;
  const auto space = std::filesystem::space(root.Root());
  for (const std::string path : {"C:\\Program Files (x86)\\Orvo\\Missing\\Product", "c:\\", "C:"}) {
    std::uint64_t free_gib = 0;
    std::uint64_t total_gib = 0;
    ASSERT_TRUE(FreeDiskSpace(path, free_gib, total_gib)) << path;
    EXPECT_EQ(total_gib, space.capacity / kGib) << path;
    EXPECT_LE(free_gib, total_gib) << path;
  }
}

TEST(FreeDiskSpaceTest, LeavesTheOutputsAloneWhenThereIsNoDrive) {
  test::TestRoot root;
  for (const std::string path : {"Q:\\Program Files", "relative\\folder", "", "\\\\server\\share\\folder"}) {
    std::uint64_t free_gib = 77;
    std::uint64_t total_gib = 88;
    EXPECT_FALSE(FreeDiskSpace(path, free_gib, total_gib)) << path;
    EXPECT_EQ(free_gib, 77u) << path;
    EXPECT_EQ(total_gib, 88u) << path;
  }
}

TEST(TimeStampTest, UsesTwoDigitFieldsAndTheTwelveHourClock) {
  struct Case {
    platform::LocalTime time;
    std::string stamp;
  };
  const Case cases[] = {
      {{2024, 2, 19, 15, 45, 30, 999}, "24_02_19_03-45PM"},
      {{2024, 2, 19, 0, 5, 0, 0}, "24_02_19_12-05AM"},
      {{2024, 12, 31, 11, 59, 59, 0}, "24_12_31_11-59AM"},
      {{2024, 7, 4, 12, 0, 0, 0}, "24_07_04_12-00PM"},
      {{2000, 1, 1, 23, 9, 0, 0}, "00_01_01_11-09PM"},
      {{2109, 10, 10, 1, 30, 0, 0}, "09_10_10_01-30AM"},
  };
  for (const Case& c : cases) EXPECT_EQ(platform::FileTimeStamp(c.time), c.stamp);
}

TEST(TimeStampTest, LocalTimeStampHasTheFileNameForm) {
  EXPECT_TRUE(std::regex_match(LocalTimeStamp(), std::regex(R"(\d\d_(0[1-9]|1[0-2])_\d\d_(0[1-9]|1[0-2])-[0-5]\d(AM|PM))")))
      << LocalTimeStamp();
}

}  // namespace
}  // namespace orvo::sys
