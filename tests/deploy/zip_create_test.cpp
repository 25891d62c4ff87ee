// The zip writer that packs the logs of a problem report.
#include "deploy/zip_create.h"

#include <gtest/gtest.h>
#include <minizip/unzip.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "support/test_root.h"

namespace orvo::deploy {
namespace {

namespace pfs = platform::fs;

struct ReadEntry {
  std::string name;
  std::string data;
  uLong method = 0;
  tm_unz time{};
};

std::vector<ReadEntry> ReadArchive(const std::string& linux_path) {
  std::vector<ReadEntry> entries;
  unzFile zip = unzOpen64(linux_path.c_str());
  if (zip == nullptr) return entries;
  for (int more = unzGoToFirstFile(zip); more == UNZ_OK; more = unzGoToNextFile(zip)) {
    ReadEntry entry;
    unz_file_info64 info{};
    char name[256] = {};
    unzGetCurrentFileInfo64(zip, &info, name, sizeof name - 1, nullptr, 0, nullptr, 0);
    entry.name = name;
    entry.method = info.compression_method;
    entry.time = info.tmu_date;
    unzOpenCurrentFile(zip);
    char block[4096];
    for (int got; (got = unzReadCurrentFile(zip, block, sizeof block)) > 0;) entry.data.append(block, got);
    EXPECT_EQ(unzCloseCurrentFile(zip), UNZ_OK) << entry.name;
    entries.push_back(entry);
  }
  unzClose(zip);
  return entries;
}

TEST(CreateZipTest, PacksEachFileUnderItsOwnNameWithItsTimeAndData) {
  test::TestRoot root;
  const std::string log_text(50000, 'g');
  root.WriteFile("C:\\Logs\\setup.log", log_text);
  root.WriteFile("C:\\Logs\\old\\msi.txt", "msi");
  root.WriteFile("C:\\Logs\\caf\xC3\xA9.txt", "accent");
  // An even second: the DOS time keeps two-second steps.
  const pfs::TimePoint written = std::chrono::system_clock::from_time_t(1700000000);
  ASSERT_EQ(pfs::SetLastWriteTime("C:\\Logs\\setup.log", written), 0u);

  std::filesystem::create_directories(root.Linux("C:\\Report"));
  ASSERT_EQ(CreateZip("C:\\Report\\logs.zip", {"C:\\Logs\\setup.log", "C:\\Logs\\old\\msi.txt", "C:\\Logs\\gone.log",
                                               "C:\\Logs\\caf\xC3\xA9.txt"}),
            0);
  const auto entries = ReadArchive(root.Linux("C:\\Report\\logs.zip").string());
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].name, "setup.log");
  EXPECT_EQ(entries[0].data, log_text);
  EXPECT_EQ(entries[0].method, static_cast<uLong>(Z_DEFLATED));
  EXPECT_EQ(entries[1].name, "msi.txt");
  EXPECT_EQ(entries[1].data, "msi");
  EXPECT_EQ(entries[2].name, "gone.log") << "a file that cannot be opened gives an empty entry";
  EXPECT_EQ(entries[2].data, "");
  EXPECT_EQ(entries[3].name, "caf\xE9.txt") << "one byte per character";

  const platform::LocalTime local = pfs::FileTimeToLocalTime(written);
  const tm_unz& stamp = entries[0].time;
  EXPECT_EQ(static_cast<int>(stamp.tm_year), local.year);
  EXPECT_EQ(static_cast<int>(stamp.tm_mon) + 1, local.month);
  EXPECT_EQ(static_cast<int>(stamp.tm_mday), local.day);
  EXPECT_EQ(static_cast<int>(stamp.tm_hour), local.hour);
  EXPECT_EQ(static_cast<int>(stamp.tm_min), local.minute);
  EXPECT_EQ(static_cast<int>(stamp.tm_sec), local.second);
}

TEST(CreateZipTest, FailsWhenTheArchiveCannotBeCreated) {
  test::TestRoot root;
  root.WriteFile("C:\\Logs\\setup.log", "x");
  EXPECT_EQ(CreateZip("C:\\Missing\\Folder\\logs.zip", {"C:\\Logs\\setup.log"}), -1);
  EXPECT_EQ(CreateZip("", {"C:\\Logs\\setup.log"}), -1);
}

}  // namespace
}  // namespace orvo::deploy
